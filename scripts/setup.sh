#!/usr/bin/env bash
# Prepares a Debian 12 machine for building and testing Morvane: packages (with the i386
# architecture for 32-bit Wine) and a Wine prefix with the null graphics driver. Safe to rerun.
set -euo pipefail

packages=(cmake ninja-build g++ mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
          g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32
          binutils-mingw-w64 googletest wine wine64 wine32:i386 tar xvfb x11-apps imagemagick
          clang libclang-rt-14-dev)

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
  # Another install may hold dpkg's lock: wait for it rather than fail.
  as_root apt-get -o DPkg::Lock::Timeout=900 update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null
fi

export WINEPREFIX="${WINEPREFIX:-$HOME/.morvane-wine}"
export WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/.morvane-ready" ]; then
  echo "setup: creating the Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  timeout 120 wineserver -w || true  # bounded: a persistent server never exits
  # The null driver lets dialogs and message boxes run without a display.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  timeout 120 wineserver -w || true  # bounded: a persistent server never exits
  touch "$WINEPREFIX/.morvane-ready"
fi
