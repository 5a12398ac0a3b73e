#!/usr/bin/env bash
# The main job: sets the machine up, builds, and shows Morvane listing and extracting a real TAR
# archive through its tar sub-module under Wine. Pass an archive of your own to use it instead.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" native win64 win32  # the fuzz and ThreadSanitizer builds serve the tests only
. "$root/scripts/wine-session.sh"
"$root/scripts/demo.sh" "${MORVANE_BUILD_DIR:-$root/build}/win64" "$@"
