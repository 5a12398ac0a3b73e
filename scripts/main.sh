#!/usr/bin/env bash
# The main job: sets the machine up, builds, and shows Morvane listing and extracting a real TAR
# archive through its tar sub-module under Wine. Pass an archive of your own to use it instead.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
export WINEPREFIX="${WINEPREFIX:-$HOME/.morvane-wine}" WINEDEBUG=-all
wineserver -p || [ $? -eq 2 ]  # 2: a server for this prefix already runs and serves us too
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit >/dev/null 2>&1 </dev/null || true  # start Wine's services away from our pipes
"$root/scripts/demo.sh" "${MORVANE_BUILD_DIR:-$root/build}/win64" "$@"
