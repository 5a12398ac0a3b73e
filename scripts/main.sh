#!/usr/bin/env bash
# The main job: sets the machine up for the 64-bit side alone (no i386 packages, no 32-bit Wine),
# builds what the demo needs (the 64-bit plug-in, the sevenzip sub-module with 7-Zip's library and
# wcxhost; no tests), and shows Morvane listing and extracting real archives through the sevenzip
# sub-module under Wine. Pass an archive of your own to use it instead.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MORVANE_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh" --demo
[ -f "$build/win64/build.ninja" ] ||
  cmake -S "$root" -B "$build/win64" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" > /dev/null
cmake --build "$build/win64" --target morvane_plugin sevenzip_submodule wcxhost
. "$root/scripts/wine-session.sh"
"$root/scripts/demo.sh" "$build/win64" "$@"
