#!/bin/sh
# Compiler launcher for formats.dll: runs the win32 thread model of the mingw-w64 compiler that
# CMake was given (the posix one, which the test programs need for std::thread).
compiler="$1"
shift
case "$compiler" in
  *-posix) exec "${compiler%-posix}-win32" "$@" ;;
  *) exec "$compiler" "$@" ;;
esac
