#!/usr/bin/env bash
# Shows Morvane listing and extracting real archives through its sevenzip sub-module (7-Zip's
# format library), driven by wcxhost as a file manager would drive it.
#   demo.sh BUILD-DIR [ARCHIVE]
# BUILD-DIR holds Morvane.wcx64 or Morvane.wcx (run under Wine) or Morvane.so / the Linux
# release Morvane.wcx64 (run natively), with sevenzip.dll and 7z.dll / sevenzip.so and 7z.so, and
# wcxhost. Without ARCHIVE, bsdtar makes a ZIP, a 7z, an ISO image, a cpio and a .tar.xz archive of
# one sample folder; Info-ZIP a password-protected ZIP; 7z a 7z with encrypted headers and a 7z
# split into volumes (opened through the first, .001); mke2fs and qemu-img a VHDX disk image of
# an ext4 file system. Every extracted tree is compared with that folder; the passwords are given
# with `wcxhost --password`, which answers Morvane's password dialog. MORVANE_DEMO_KEEP=1 keeps
# the temporary folder.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD-DIR [ARCHIVE]" >&2
  exit 2
fi
build="$(cd "$1" && pwd)"
run_windows="$(cd "$(dirname "$0")" && pwd)/run-windows.sh"
own="${2:-}"
if [ -n "$own" ]; then
  [ -f "$own" ] || { echo "demo: no archive $own" >&2; exit 2; }
  own="$(cd "$(dirname "$own")" && pwd)/$(basename "$own")"
fi

if [ -f "$build/Morvane.wcx64" ] && [ -f "$build/sevenzip.so" ]; then  # the Linux release build
  plugin=Morvane.wcx64 ini=morvane64.ini module=sevenzip.so library=7z.so host=("$build/wcxhost")
elif [ -f "$build/Morvane.wcx64" ]; then
  plugin=Morvane.wcx64 ini=morvane64.ini module=sevenzip.dll library=7z.dll host=("$run_windows" "$build/wcxhost.exe")
elif [ -f "$build/Morvane.wcx" ]; then
  plugin=Morvane.wcx ini=morvane.ini module=sevenzip.dll library=7z.dll host=("$run_windows" "$build/wcxhost.exe")
elif [ -f "$build/Morvane.so" ]; then
  plugin=Morvane.so ini=morvane64.ini module=sevenzip.so library=7z.so host=("$build/wcxhost")
else
  echo "demo: no Morvane.wcx64, Morvane.wcx or Morvane.so in $build" >&2
  exit 2
fi
for file in "$module" "$library" "${host[-1]#"$build/"}"; do
  [ -f "$build/$file" ] || { echo "demo: no $file in $build (build it first)" >&2; exit 2; }
done
if [ -z "$own" ]; then
  for tool in bsdtar zip 7z mke2fs qemu-img; do
    command -v "$tool" > /dev/null || PATH="$PATH:/usr/sbin:/sbin" command -v "$tool" > /dev/null || {
      echo "demo: $tool makes sample archives: scripts/setup.sh --demo installs it" >&2; exit 2; }
  done
  export PATH="$PATH:/usr/sbin:/sbin"
fi
if [ "${host[0]}" = "$run_windows" ]; then
  "$run_windows" --check "${host[1]}" || exit
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/morvane-demo.XXXXXX")"
if [ "${MORVANE_DEMO_KEEP:-0}" = 1 ]; then
  echo "demo: keeping $work"
else
  trap 'rm -rf "$work"' EXIT
fi
section() { printf '\n== %s\n' "$*"; }

section "Staging $plugin, $ini, $module and 7-Zip's $library in $work/plugin"
mkdir "$work/plugin"
cp "$build/$plugin" "$build/$module" "$build/$library" "$work/plugin/"
printf '[Modules]\r\nsevenzip=%s\r\n' "$module" > "$work/plugin/$ini"
tr -d '\r' < "$work/plugin/$ini"

archives=()
declare -A passwords=()
source=""
if [ -n "$own" ]; then
  archives=("$own")
else
  section "Making sample archives of one folder with bsdtar, Info-ZIP, 7z, mke2fs and qemu-img"
  source="$work/source"
  long="$(printf 'a_rather_long_folder_name_%.0s' 1 2 3)/$(printf 'and_an_even_longer_file_name_%.0s' 1 2 3).txt"
  mkdir -p "$source/docs/nested/deeper" "$source/Ünïcödé folder" "$source/empty folder" "$(dirname "$source/$long")"
  printf 'Hello from inside an archive.\n' > "$source/hello.txt"
  printf 'Nested three levels deep.\n' > "$source/docs/nested/deeper/deep.txt"
  seq 1 200000 > "$source/docs/numbers.txt"
  head -c 4000000 /dev/urandom > "$source/docs/random.bin"
  printf 'Ein Gruß aus Köln, 東京 too.\n' > "$source/Ünïcödé folder/grüße – 東京.txt"
  printf 'This path is longer than most.\n' > "$source/$long"
  : > "$source/empty.txt"
  touch -d '2019-07-20 20:17:40' "$source/hello.txt"
  touch -d '2001-01-01 00:00:02' "$source/docs/random.bin"
  echo "$source: $(find "$source" -type f | wc -l) files; its longest path has ${#long} characters"
  for format in zip:zip 7z:7zip iso:iso9660 cpio:newc tar.xz:pax; do
    archive="$work/sample.${format%%:*}"
    options=()
    [ "${format%%:*}" = tar.xz ] && options=(-J)
    # Joliet's long names (103 characters): 7-Zip reads an ISO image's names from Joliet.
    [ "${format%%:*}" = iso ] && options=(--options iso9660:joliet=long)
    (cd "$source" && bsdtar --format "${format#*:}" "${options[@]}" -cf "$archive" -- *)
    archives+=("$archive")
    printf '%-20s %9d bytes\n' "$(basename "$archive")" "$(stat -c %s "$archive")"
  done
  archive="$work/sample-secret.zip"
  (cd "$source" && zip -q -r -P secret "$archive" .)
  archives+=("$archive")
  passwords[$archive]=secret
  printf '%-20s %9d bytes, every file encrypted with the password "secret" (Info-ZIP)\n' \
    "$(basename "$archive")" "$(stat -c %s "$archive")"
  archive="$work/sample-headers.7z"
  (cd "$source" && 7z a -bd -bso0 -psecret -mhe=on "$archive" .)
  archives+=("$archive")
  passwords[$archive]=secret
  printf '%-20s %9d bytes, names and data encrypted with the password "secret" (7z -mhe=on)\n' \
    "$(basename "$archive")" "$(stat -c %s "$archive")"
  (cd "$source" && 7z a -bd -bso0 -v1m "$work/sample-split.7z" .)
  archives+=("$work/sample-split.7z.001")
  printf '%-20s %9d bytes, the first of %d volumes (7z -v1m)\n' sample-split.7z.001 \
    "$(stat -c %s "$work/sample-split.7z.001")" "$(ls "$work"/sample-split.7z.* | wc -l)"
  mke2fs -q -t ext4 -d "$source" "$work/ext4.img" 16M > /dev/null
  qemu-img convert -f raw -O vhdx "$work/ext4.img" "$work/sample-disk.vhdx"
  rm -f "$work/ext4.img"
  archives+=("$work/sample-disk.vhdx")
  printf '%-20s %9d bytes, a virtual disk holding an ext4 file system (mke2fs -d, qemu-img)\n' \
    sample-disk.vhdx "$(stat -c %s "$work/sample-disk.vhdx")"
fi

cd "$work"
# wcxhost takes the paths as given; Wine finds the Linux file system on drive Z:.
to_host() {
  if [ "${host[0]}" = "$run_windows" ]; then printf 'Z:%s' "$1"; else printf '%s' "$1"; fi
}

problems=0
for archive in "${archives[@]}"; do
  name="$(basename "$archive")"
  options=()
  [ -n "${passwords[$archive]:-}" ] && options=(--password "${passwords[$archive]}")
  section "wcxhost ${options[*]} list $name"
  "${host[@]}" "${options[@]}" list "$(to_host "$work/plugin/$plugin")" "$(to_host "$archive")" || {
    echo "DEMO: listing $name failed with exit status $?"; problems=$((problems + 1)); continue; }

  section "wcxhost ${options[*]} extract $name"
  out="$work/extracted/$name"
  "${host[@]}" "${options[@]}" extract "$(to_host "$work/plugin/$plugin")" "$(to_host "$archive")" "$(to_host "$out")" || {
    echo "DEMO: extracting $name failed with exit status $?"; problems=$((problems + 1)); continue; }
  [ -n "$source" ] || continue

  section "Comparing $name's extracted tree with the source"
  # A file system keeps folders of its own: lost files, and its journal (7-Zip shows it as [SYS]).
  if diff -r -x lost+found -x '\[SYS\]' "$source" "$out"; then
    differing=0
    while IFS= read -r -d '' file; do
      relative="${file#"$source"/}"
      if [ "$(stat -c %Y "$file")" != "$(stat -c %Y "$out/$relative" 2>/dev/null)" ]; then
        echo "modification time differs: $relative"
        differing=$((differing + 1))
      fi
    done < <(find "$source" -type f -print0)
    [ $differing -eq 0 ] && echo "identical: every file's content and modification time" || problems=$((problems + 1))
  else
    problems=$((problems + 1))
  fi
done

section "Result"
if [ $problems -ne 0 ]; then
  echo "DEMO FAILED: $problems of ${#archives[@]} archives were not listed, extracted or reproduced right (see above)"
  exit 1
elif [ -z "$source" ]; then
  echo "DEMO DONE: $(find "$work/extracted" -type f | wc -l) files extracted from $own (no source tree to compare with)"
else
  echo "DEMO PASSED: ${#archives[@]} archives (ZIP, 7z, ISO 9660, cpio, tar.xz, a ZIP with a password, a 7z with encrypted headers, a split 7z, a VHDX disk image) listed and extracted through $plugin and $module; every extracted tree matches the source"
fi
