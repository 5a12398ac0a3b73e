#!/usr/bin/env bash
# Draws the password dialog and the failure report with Wine on a virtual display and saves them
# as docs/password-dialog.png and docs/failure-report.png.   screenshots.sh BUILD-DIR (a win64 build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/win64}" && pwd)"
# A prefix of its own: the test prefix uses the null driver, which draws nothing.
export WINEPREFIX="${MORVANE_SCREENSHOT_PREFIX:-$HOME/.morvane-wine-x11}" WINEDEBUG=-all
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp "$build/Morvane.wcx64" "$build/wcxhost.exe" "$build/testmodules/testmodule.dll" "$stage/"
printf 'MORVANE-TEST-CONTAINER\nopen\t*\t1\npassword\tsecret\n' > "$stage/protected.bin"

capture() {  # output-png ini-text
  printf '%s' "$2" > "$stage/morvane64.ini"
  xvfb-run -a -s "-screen 0 560x240x24" bash -c '
    "$1" explorer /desktop=morvane,560x240 "$0/wcxhost.exe" --show-dialogs probe "$0/Morvane.wcx64" "$0/protected.bin" >/dev/null 2>&1 &
    sleep 25
    import -window root "$2"
    wineserver -k || true' "$stage" "$root/scripts/run-windows.sh" "$stage/shot.png"
  convert "$stage/shot.png" -trim +repage "$1"
}

"$root/scripts/run-windows.sh" wineboot -i >/dev/null 2>&1 || true
capture "$root/docs/failure-report.png" $'[General]\nVerboseModuleLoad=1\n[Modules]\niso=iso.dll\ncab=modules\\cab.dll\nold=testmodule.dll\n[old]\nVersion=3\n'
capture "$root/docs/password-dialog.png" $'[Modules]\ntest=testmodule.dll\n'
echo "screenshots: docs/failure-report.png docs/password-dialog.png"
