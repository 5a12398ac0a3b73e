#!/usr/bin/env bash
# Checks that libraries which a process may load and free many times take no thread-local slot
# they cannot give back: no winpthreads (posix thread model) and no emulated TLS (libgcc's, used
# by the C++ runtime's exception state unless ExceptionGlobals.cpp replaces it).
# Usage: check_thread_model.sh NM LIBRARY...
set -uo pipefail
nm="$1"
shift
failed=0
for library in "$@"; do
  symbols="$("$nm" "$library" 2>/dev/null)" || { echo "FAIL $library: no symbol table"; failed=1; continue; }
  found="$(grep -E ' [TtDdBb] (_?__emutls_get_address|_?pthread_[a-z_]+)$' <<<"$symbols" | awk '{print $3}' | sort -u | head -5)"
  if [ -n "$found" ]; then
    echo "FAIL $library: links $(tr '\n' ' ' <<<"$found")"
    failed=1
  else
    echo "ok   $library"
  fi
done
exit "$failed"
