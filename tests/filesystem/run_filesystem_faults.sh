#!/usr/bin/env bash
# Makes the archive for FileSystemFaultTest with GNU tar, and a folder with "full.bin", a link
# to /dev/full (a disk that is full, without mounting anything), then runs the test program
# (through Wine when it is a Windows program).
# Usage: run_filesystem_faults.sh PROGRAM
set -euo pipefail
program="$1"
work="$(mktemp -d "${TMPDIR:-/tmp}/morvane-faults-XXXXXX")"
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/source" "$work/full"
printf 'small but whole\n' >"$work/source/small.txt"
head -c $((3 * 1024 * 1024)) /dev/urandom >"$work/source/big.bin"
tar -C "$work/source" -cf "$work/faults.tar" small.txt big.bin
ln -s /dev/full "$work/full/full.bin"

export MORVANE_FAULT_ARCHIVE="$work/faults.tar" MORVANE_FAULT_FULL="$work/full"
case "$program" in
  *.exe) "$(dirname "$0")/../../scripts/run-windows.sh" "$program" ;;
  *) "$program" ;;
esac
