#!/usr/bin/env bash
# Sets the machine up, builds everything and runs every test: native under ASan/UBSan, then the
# Windows tests under Wine for both word sizes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"

export WINEPREFIX="${WINEPREFIX:-$HOME/.morvane-wine}" WINEDEBUG=-all
# One Wine server for the whole run, instead of one start-up per test program.
# (It answers 2 when a server for this prefix already runs; that one serves the run as well.)
wineserver -p || [ $? -eq 2 ]
trap 'wineserver -k 2>/dev/null || true' EXIT
# Start Wine's background services now, away from CTest: started by the first test they would
# inherit its output pipe and keep CTest waiting for the pipe to close.
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
cd "${MORVANE_BUILD_DIR:-$root/build}"
ctest --output-on-failure --timeout 600 "$@"
