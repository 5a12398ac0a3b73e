#!/bin/sh
# Compiler launcher for libraries that a process may load and free many times (the plug-in and
# the sub-modules): runs the win32 thread model of the mingw-w64 compiler that CMake was given
# (the posix one, which the test programs need for std::thread). The posix model links
# winpthreads, which takes a thread-local slot at every load and never gives it back.
compiler="$1"
shift
case "$compiler" in
  *-posix) exec "${compiler%-posix}-win32" "$@" ;;
  *) exec "$compiler" "$@" ;;
esac
