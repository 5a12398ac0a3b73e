#!/usr/bin/env bash
# Prepares a Debian 12 machine for building and testing Morvane. Safe to rerun: what is there is
# kept, so a second run costs seconds.
#   setup.sh           what the tests need: both Windows word sizes, 64-bit and 32-bit Wine, the
#                      Linux builds' tools, Double Commander. Where the machine runs no 32-bit x86
#                      code, i386 programs are made to run through qemu-user (from the release's
#                      backports); where even that cannot be done, the 32-bit Wine tests are
#                      reported as skipped.
#   setup.sh --demo    what the main job needs: the 64-bit Windows build and 64-bit Wine only
# Both fetch Debian's sources of the sub-modules' libraries and build them (cached under
# build/third-party): libarchive's for Windows and 7-Zip's for Windows and Linux, or for the demo
# 7-Zip's 64-bit library alone; and make a Wine prefix with the null graphics driver.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
. "$root/scripts/packages.sh"
. "$root/scripts/machine.sh"

demo=0
if [ "${1:-}" = --demo ]; then demo=1; shift; fi
[ $# -eq 0 ] || { echo "usage: $0 [--demo]" >&2; exit 2; }

# The 64-bit plug-in, the sevenzip sub-module and wcxhost, built and shown under 64-bit Wine, on
# archives that bsdtar, Info-ZIP, 7z, mke2fs and qemu-img make.
demo_packages=(cmake ninja-build make g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32
               binutils-mingw-w64-x86-64 googletest wine wine64 libz-mingw-w64-dev dpkg-dev patch
               libarchive-tools zip xz-utils tar p7zip-full e2fsprogs qemu-utils)
test_packages=(g++ g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
          xvfb x11-apps imagemagick
          # The fuzz targets and the ThreadSanitizer build.
          clang libclang-rt-14-dev
          # Double Commander, the real Linux host, and what drives it on a virtual display.
          doublecmd-gtk xdotool xclip
          # The formats sub-module's Linux build, and the real tools its tests make archives with
          # (rpmbuild in rpm, mkzftree in genisoimage).
          libarchive-dev unzip p7zip-full gcab cpio zstd lz4 bzip2 rpm genisoimage xorriso
          # What the sevenzip sub-module's tests make file systems, disk images and installers with.
          dosfstools mtools squashfs-tools arj nsis msitools
          # scripts/bench.sh: instruction counts and its plot.
          valgrind gnuplot-nox)

if [ "$demo" = 1 ]; then
  install_packages "${demo_packages[@]}"
  # The demo shows the sevenzip sub-module alone: 7-Zip's library for 64-bit Windows is all it needs.
  third_party=(--only 7zip x86_64-w64-mingw32)
else
  install_packages "${demo_packages[@]}" "${test_packages[@]}"
  third_party=(x86_64-w64-mingw32 i686-w64-mingw32 x86_64-linux-gnu)
fi

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

# ---- 32-bit Wine: where i386 programs do not run, through user-mode emulation ----------------

# qemu before 8 finds free guest memory page by page: each 32-bit Wine process then spends a
# minute of processor time starting. The release's backports have a qemu that takes seconds.
install_i386_emulator() {
  local codename list=/etc/apt/sources.list.d/morvane-backports.sources wanted
  codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
  wanted="$(release_entries deb | awk -F'|' -v suite="$codename" '$2 == suite {
    printf "Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: %s\n", $1, $2, $3
    if ($4 != "") printf "Signed-By: %s\n", $4
    print ""; exit
  }')"
  if [ -n "$wanted" ] && [ "$(cat "$list" 2>/dev/null)" != "$wanted" ]; then
    printf '%s\n' "$wanted" | as_root tee "$list" >/dev/null
    update_indexes qemu-user || true
  fi
  [ -n "$(i386_emulator_of_backports)" ] && return 0
  echo "setup: installing qemu-user from $codename-backports"
  if ! apt_get install -y -qq --no-install-recommends "qemu-user/$codename-backports" >>"$apt_log" 2>&1; then
    echo "setup: warning: no qemu-user from $codename-backports ($(apt_error)); the release's qemu-user-static is slow" >&2
    install_packages qemu-user-static
  fi
}

if [ "$demo" = 0 ]; then
  i386_reason="$(i386_unrunnable_reason)"
  if [ -n "$i386_reason" ] || [ -e /proc/sys/fs/binfmt_misc/morvane-i386 ]; then
    [ -n "$i386_reason" ] && echo "setup: $i386_reason; registering qemu for i386 programs"
    install_i386_emulator
    if ! emulation_problem="$(register_i386_emulation)"; then
      echo "setup: i386 emulation cannot be registered ($emulation_problem)" >&2
    fi
    i386_reason="$(i386_unrunnable_reason)"
  fi
  if [ -z "$i386_reason" ]; then
    dpkg --print-foreign-architectures | grep -x i386 >/dev/null || as_root dpkg --add-architecture i386
    install_packages wine32:i386
  else
    echo "setup: warning: $i386_reason even with qemu; the 32-bit Windows tests will be skipped" >&2
  fi
fi

# ---- Debian's sources of the libraries that the Windows formats sub-module links statically ----

# Adds "deb-src" twins of the release's "deb" entries in a file of our own, unless the machine
# already has source entries for this release.
add_debian_sources() {
  local list=/etc/apt/sources.list.d/morvane-deb-src.sources wanted existing
  # Not backports: the libraries are built from the release's own sources.
  wanted="$(release_entries deb | awk -F'|' '$2 !~ /-backports$/ {
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
  { offered src:libarchive && offered src:7zip; } || update_indexes src:libarchive src:7zip
}
add_debian_sources
# The Wine prefix. One that 32-bit programs use must be made through the 32-bit loader: a prefix
# that the 64-bit loader made alone cannot load 32-bit programs later.
export WINEPREFIX="${WINEPREFIX:-$HOME/.morvane-wine}"
export WINEDEBUG=-all
make_wine_prefix() {  # KIND: win64 or wow64
  local kind="$1" made loader
  made="$(cat "$WINEPREFIX/.morvane-ready" 2>/dev/null || true)"
  [ "$made" = "$kind" ] || [ "$made" = wow64 ] && return 0
  [ -e "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"; }
  echo "setup: creating the Wine prefix $WINEPREFIX ($kind), beside the builds"
  loader="$(wine64_loader)"
  [ "$kind" = wow64 ] && loader="$wine32_loader"
  "$loader" wineboot.exe -i >/dev/null 2>&1 || true
  timeout 1200 wineserver -w || true  # bounded: a persistent server never exits
  # The null driver lets dialogs and message boxes run without a display.
  "$(wine64_loader)" reg.exe add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  timeout 120 wineserver -w || true
  echo "$kind" > "$WINEPREFIX/.morvane-ready"
}
kind=win64
[ "$demo" = 0 ] && [ -z "$(wine32_unrunnable_reason)" ] && kind=wow64
# Under emulation the prefix takes minutes of one core: it is made while the libraries build.
make_wine_prefix "$kind" &
prefix_maker=$!

# The sub-modules' libraries, built once into build/third-party.
"$root/scripts/third-party.sh" "${third_party[@]}"
wait "$prefix_maker"

# winedbg cannot attach to a program that runs under the i386 emulator, and would wait for ever:
# there a crash ends the program at once, so that its test fails instead of hanging.
if [ "$kind" = wow64 ] && i386_emulated; then
  for view in 32 64; do
    "$(wine64_loader)" reg.exe add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
      /v Debugger /d '' /f "/reg:$view" >/dev/null 2>&1 || true
  done
  timeout 60 wineserver -w || true
fi
