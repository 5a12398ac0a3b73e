#!/usr/bin/env bash
# Runs a Windows program under Wine through the loader of its own word size: a 64-bit program
# always through the 64-bit loader (Debian's `wine` starts the 32-bit one whenever wine32 is
# installed, and that fails on a machine that runs no 32-bit code). A 32-bit program that cannot
# run here ends with status 77, which the tests report as skipped, after one line that says why.
#   run-windows.sh PROGRAM [ARGUMENT...]    PROGRAM: a path (Z:/... as Wine sees it too), or a
#                                           name of Wine's own (cmd, reg) for the 64-bit side
#   run-windows.sh --check PROGRAM          only tells: 0 when PROGRAM can run here, else 77
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/machine.sh"
check=0
if [ "${1:-}" = --check ]; then check=1; shift; fi
[ $# -ge 1 ] || { echo "usage: $0 [--check] PROGRAM [ARGUMENT...]" >&2; exit 2; }

# The machine field of a PE file's header: 14c for i386, 8664 for x86-64.
pe_machine() {  # FILE
  local file="$1" offset
  case "$file" in [Zz]:*) file="${file:2}" ;; esac
  file="${file//\\//}"
  [ -f "$file" ] && [ "$(head -c 2 "$file" 2>/dev/null)" = MZ ] || return 0
  offset="$(od -An -tu4 -j60 -N4 "$file" | tr -d ' ')"
  od -An -tx2 -j$((offset + 4)) -N2 "$file" | tr -d ' '
}

export WINEPREFIX="${WINEPREFIX:-$HOME/.morvane-wine}" WINEDEBUG="${WINEDEBUG:--all}"
if [ "$(pe_machine "$1")" = 014c ]; then
  reason="$(wine32_unrunnable_reason)"
  if [ -n "$reason" ]; then
    echo "SKIPPED: ${1##*/} is a 32-bit program and $reason" >&2
    exit 77
  fi
  [ "$check" = 1 ] && exit 0
  # Tests run fewer cycles of their slowest steps there, and leave out what the emulator does
  # not reproduce (the hardware's report of a fault).
  i386_emulated && export MORVANE_UNDER_EMULATION=1
  exec "$wine32_loader" "$@"
fi
[ "$check" = 1 ] && exit 0
exec "$(wine64_loader)" "$@"
