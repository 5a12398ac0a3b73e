#!/usr/bin/env bash
# Runs one libFuzzer target for SECONDS on a scratch copy of its seed corpus (the committed seeds
# stay as they are). Prints the executions and the corpus growth; a crash, leak, timeout or
# sanitizer report fails the run and is kept, with the log, in the folder it names.
# Usage: run_fuzz_target.sh BINARY SEED-CORPUS SECONDS [libFuzzer flags...]
set -uo pipefail
binary="$1" seeds="$2" seconds="$3"
shift 3
name="$(basename "$binary")"
work="$(mktemp -d "${TMPDIR:-/tmp}/morvane-$name-XXXXXX")"
mkdir -p "$work/corpus" "$work/findings"
symbolizer="$(command -v llvm-symbolizer || ls /usr/lib/llvm-*/bin/llvm-symbolizer 2>/dev/null | tail -1)"
[ -n "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH="$symbolizer"
# A library may reserve as much as a damaged header declares (7-Zip a dictionary of up to 4 GiB);
# here, as on a host without that memory, a malloc above 1 GiB fails, and the library must cope.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1:max_allocation_size_mb=1024}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

"$binary" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
  -artifact_prefix="$work/findings/" "$@" "$work/corpus" "$seeds" >"$work/log" 2>&1
status=$?
executions="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$')"
added="$(grep -o 'stat::new_units_added: *[0-9]*' "$work/log" | grep -o '[0-9]*$')"
if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/findings")" ]; then
  tail -60 "$work/log"
  echo "$name: FINDING after ${executions:-?} executions; input and log kept in $work"
  exit 1
fi
echo "$name: no finding in ${seconds} s, ${executions:-?} executions, ${added:-0} new inputs"
rm -rf "$work"
