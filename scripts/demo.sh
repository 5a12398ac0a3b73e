#!/usr/bin/env bash
# Shows Morvane listing and extracting a TAR archive through its tar sub-module, driven by
# wcxhost as a file manager would drive it.
#   demo.sh BUILD-DIR [ARCHIVE]
# BUILD-DIR holds Morvane.wcx64 or Morvane.wcx with tar.dll (run under Wine), or Morvane.so or
# the Linux Morvane.wcx64 with tar.so (run natively), and wcxhost. Without ARCHIVE a sample archive is made with GNU tar, and
# the extracted tree is compared with its source. MORVANE_DEMO_KEEP=1 keeps the temporary folder.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD-DIR [ARCHIVE]" >&2
  exit 2
fi
build="$(cd "$1" && pwd)"
archive="${2:-}"
if [ -n "$archive" ]; then
  [ -f "$archive" ] || { echo "demo: no archive $archive" >&2; exit 2; }
  archive="$(cd "$(dirname "$archive")" && pwd)/$(basename "$archive")"
fi

if [ -f "$build/Morvane.wcx64" ] && [ -f "$build/tar.so" ]; then  # the Linux release build
  plugin=Morvane.wcx64 ini=morvane64.ini module=tar.so host=("$build/wcxhost")
elif [ -f "$build/Morvane.wcx64" ]; then
  plugin=Morvane.wcx64 ini=morvane64.ini module=tar.dll host=(wine "$build/wcxhost.exe")
elif [ -f "$build/Morvane.wcx" ]; then
  plugin=Morvane.wcx ini=morvane.ini module=tar.dll host=(wine "$build/wcxhost.exe")
elif [ -f "$build/Morvane.so" ]; then
  plugin=Morvane.so ini=morvane64.ini module=tar.so host=("$build/wcxhost")
else
  echo "demo: no Morvane.wcx64, Morvane.wcx or Morvane.so in $build" >&2
  exit 2
fi
for file in "$module" "${host[-1]#"$build/"}"; do
  [ -f "$build/$file" ] || { echo "demo: no $file in $build (build it first)" >&2; exit 2; }
done
export WINEPREFIX="${WINEPREFIX:-$HOME/.morvane-wine}" WINEDEBUG="${WINEDEBUG:--all}"

work="$(mktemp -d "${TMPDIR:-/tmp}/morvane-demo.XXXXXX")"
if [ "${MORVANE_DEMO_KEEP:-0}" = 1 ]; then
  echo "demo: keeping $work"
else
  trap 'rm -rf "$work"' EXIT
fi
section() { printf '\n== %s\n' "$*"; }

section "Staging $plugin, $ini and $module in $work/plugin"
mkdir "$work/plugin"
cp "$build/$plugin" "$build/$module" "$work/plugin/"
printf '[Modules]\r\ntar=%s\r\n' "$module" > "$work/plugin/$ini"
cat "$work/plugin/$ini" | tr -d '\r'

if [ -z "$archive" ]; then
  section "Making a sample archive with GNU tar"
  source="$work/source"
  long="$(printf 'a_rather_long_folder_name_%.0s' 1 2 3)/$(printf 'and_an_even_longer_file_name_%.0s' 1 2 3).txt"
  mkdir -p "$source/docs/nested/deeper" "$source/Ünïcödé folder" "$source/empty folder" "$(dirname "$source/$long")"
  printf 'Hello from inside a TAR archive.\n' > "$source/hello.txt"
  printf 'Nested three levels deep.\n' > "$source/docs/nested/deeper/deep.txt"
  seq 1 200000 > "$source/docs/numbers.txt"
  head -c 4000000 /dev/urandom > "$source/docs/random.bin"
  printf 'Ein Gruß aus Köln, 東京 too.\n' > "$source/Ünïcödé folder/grüße – 東京.txt"
  printf 'This path is longer than a ustar name field.\n' > "$source/$long"
  : > "$source/empty.txt"
  touch -d '2019-07-20 20:17:40' "$source/hello.txt"
  touch -d '2001-01-01 00:00:01' "$source/docs/random.bin"
  archive="$work/sample.tar"
  tar --format=gnu -cf "$archive" -C "$source" .
  echo "$archive: $(stat -c %s "$archive") bytes; its longest path has ${#long} characters"
fi

cd "$work"
# wcxhost takes the paths as given; Wine finds the Linux file system on drive Z:.
to_host() {
  if [ "${host[0]}" = wine ]; then printf 'Z:%s' "$1"; else printf '%s' "$1"; fi
}

section "wcxhost list"
listed=0
"${host[@]}" list "$(to_host "$work/plugin/$plugin")" "$(to_host "$archive")" || listed=$?

section "wcxhost extract"
extracted=0
"${host[@]}" extract "$(to_host "$work/plugin/$plugin")" "$(to_host "$archive")" "$(to_host "$work/extracted")" ||
  extracted=$?

if [ $listed -ne 0 ] || [ $extracted -ne 0 ]; then
  section "Result"
  echo "DEMO FAILED: wcxhost list exited with $listed and extract with $extracted (see the messages above)"
  exit 1
fi
if [ -z "${source:-}" ]; then
  section "Result"
  echo "DEMO DONE: $(find "$work/extracted" -type f | wc -l) files extracted from $archive (no source tree to compare with)"
  exit 0
fi

section "Comparing the extracted tree with the source"
problems=0
if ! diff -r "$source" "$work/extracted"; then
  problems=$((problems + 1))
fi
while IFS= read -r -d '' file; do
  relative="${file#"$source"/}"
  if [ "$(stat -c %Y "$file")" != "$(stat -c %Y "$work/extracted/$relative" 2>/dev/null)" ]; then
    echo "modification time differs: $relative"
    problems=$((problems + 1))
  fi
done < <(find "$source" -type f -print0)
files=$(find "$source" -type f | wc -l)
if [ $problems -eq 0 ]; then
  echo "DEMO PASSED: all $files files extracted through $plugin and tar match the source, contents and modification times"
else
  echo "DEMO FAILED: $problems differences between the extracted tree and the source"
  exit 1
fi
