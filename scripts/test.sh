#!/usr/bin/env bash
# Sets the machine up, builds everything and runs every test: native under ASan/UBSan, then the
# Windows tests under Wine for both word sizes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
. "$root/scripts/machine.sh"
reason="$(wine32_unrunnable_reason)"
[ -z "$reason" ] || echo "test: the win32 tests that run 32-bit programs will be reported as skipped: $reason"

. "$root/scripts/wine-session.sh"
cd "${MORVANE_BUILD_DIR:-$root/build}"
ctest --output-on-failure --timeout 600 "$@"
