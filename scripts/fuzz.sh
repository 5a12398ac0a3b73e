#!/usr/bin/env bash
# Builds the libFuzzer targets (build/fuzz: clang, ASan and UBSan) and runs each for SECONDS
# (default 60) on its committed seed corpus, one after the other; TARGET names limit the run.
# Adding a target is one entry in tests/fuzz/CMakeLists.txt and a folder tests/fuzz/corpus/<name>.
# A finding fails the run; its input and log stay where the output says. Keep a crasher as a
# regression: fix it, then copy the input into tests/fuzz/corpus/<name>/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MORVANE_BUILD_DIR:-$root/build}/fuzz"
seconds="${1:-60}"
shift || true

"$root/scripts/setup.sh"
"$root/scripts/build.sh" fuzz

failed=0
while read -r name binary corpus options; do
  [ -n "$name" ] || continue
  if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  # shellcheck disable=SC2086  # the flags are separate words
  bash "$root/tests/fuzz/run_fuzz_target.sh" "$binary" "$corpus" "$seconds" $options </dev/null || failed=1
done <"$build/fuzz-targets.txt"
exit "$failed"
