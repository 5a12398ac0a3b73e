#!/usr/bin/env bash
# Sets the machine up, builds everything and runs every test: native under ASan/UBSan, then the
# Windows tests under Wine for both word sizes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"

export WINEPREFIX="${WINEPREFIX:-$HOME/.morvane-wine}" WINEDEBUG=-all
# One Wine server for the whole run, instead of one start-up per test program.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
cd "${MORVANE_BUILD_DIR:-$root/build}"
ctest --output-on-failure --timeout 600 "$@"
