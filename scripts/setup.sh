#!/usr/bin/env bash
# Prepares a Debian 12 machine for building and testing Morvane: packages (with the i386
# architecture for 32-bit Wine), the Debian sources and static Windows builds of the formats
# sub-module's libraries (cached under build/third-party), and a Wine prefix with the null
# graphics driver. Safe to rerun.
#   setup.sh [TRIPLET...]   third-party libraries for these Windows triplets only (default: both)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

packages=(cmake ninja-build g++ mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
          g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32
          binutils-mingw-w64 googletest wine wine64 wine32:i386 tar xvfb x11-apps imagemagick
          # The fuzz targets and the ThreadSanitizer build.
          clang libclang-rt-14-dev
          # Double Commander, the real Linux host, and what drives it on a virtual display.
          doublecmd-gtk xdotool xclip
          # The formats sub-module: libarchive for Linux, zlib for Windows, the tools that unpack
          # Debian's sources, and the real tools its tests make archives with.
          libarchive-dev libz-mingw-w64-dev dpkg-dev
          libarchive-tools zip unzip p7zip-full gcab cpio zstd lz4 xz-utils bzip2
          # scripts/bench.sh: instruction counts and its plot.
          valgrind gnuplot-nox)

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

# ---- Debian's sources of the libraries that the Windows formats sub-module links statically ----

# The machine's enabled "deb" entries of this release as "URI|suite|components|signed-by" lines,
# from one-line .list files and deb822 .sources files alike.
release_entries() {  # TYPE
  local codename
  codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
  {
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk -v type="$1" '
      $1 == type {
        signed = ""; i = 2
        if ($2 ~ /^\[/) {
          for (; i <= NF; i++) {
            if ($i ~ /^\[?signed-by=/) { signed = $i; sub(/^\[?signed-by=/, "", signed); sub(/\]$/, "", signed) }
            if ($i ~ /\]$/) { i++; break }
          }
        }
        components = ""
        for (j = i + 2; j <= NF; j++) components = components (components == "" ? "" : " ") $j
        print $i "|" $(i + 1) "|" components "|" signed
      }'
    for file in /etc/apt/sources.list.d/*.sources; do
      [ -f "$file" ] || continue
      awk -v type="$1" '
        function flush() {
          if (enabled && (" " types " ") ~ (" " type " "))
            for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++) print uris[u] "|" suites[s] "|" components "|" signed
          types = ""; nu = 0; ns = 0; components = ""; signed = ""; enabled = 1
        }
        BEGIN { enabled = 1 }
        /^[ \t]*$/ { flush(); next }
        /^#/ { next }
        {
          key = $1; sub(/:$/, "", key); value = $0; sub(/^[^:]*:[ \t]*/, "", value)
          if (key == "Types") types = value
          else if (key == "URIs") nu = split(value, uris, /[ \t]+/)
          else if (key == "Suites") ns = split(value, suites, /[ \t]+/)
          else if (key == "Components") components = value
          else if (key == "Signed-By") signed = value
          else if (key == "Enabled") enabled = (value != "no")
        }
        END { flush() }' "$file"
    done
  } | awk -F'|' -v codename="$codename" 'codename != "" && ($2 == codename || index($2, codename "-") == 1)' | sort -u
}

# Adds "deb-src" twins of the release's "deb" entries in a file of our own, unless the machine
# already has source entries for this release.
add_debian_sources() {
  local list=/etc/apt/sources.list.d/morvane-deb-src.sources wanted existing
  wanted="$(release_entries deb | awk -F'|' '{
    printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n", $1, $2, $3
    if ($4 != "") printf "Signed-By: %s\n", $4
    print ""
  }')"
  [ -n "$wanted" ] || { echo "setup: no Debian entry in the apt sources to take sources from" >&2; return 1; }
  if { [ -f "$list" ] && [ "$(cat "$list")" != "$wanted" ]; } || { [ ! -f "$list" ] && [ -z "$(release_entries deb-src)" ]; }; then
    echo "setup: adding deb-src entries ($list)"
    printf '%s\n' "$wanted" | as_root tee "$list" >/dev/null
  fi
  # The source index may be missing although the entries exist (a first update that failed).
  if [ "$(apt-cache showsrc libarchive 2>/dev/null | grep -c '^Package:')" -eq 0 ]; then
    as_root apt-get -o DPkg::Lock::Timeout=900 update -qq
  fi
}
add_debian_sources
# Static Windows libraries for the formats sub-module, built once into build/third-party.
"$root/scripts/third-party.sh" "$@"

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
