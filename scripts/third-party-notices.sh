#!/usr/bin/env bash
# Writes the THIRD-PARTY-NOTICES.txt of one staged release package on stdout: for every component
# that scripts/third-party-components.txt finds inside the package's binaries, its licence, the
# Debian package and version it comes from, and its notices (Debian's copyright file, then the
# project's own licence files). scripts/package.sh calls it for each package it makes.
#   third-party-notices.sh windows|linux FOLDER VERSION
#     FOLDER   the package as staged; its programs and libraries are its binaries
#     VERSION  Morvane's version, for the heading
# Source packages are looked for where scripts/third-party.sh fetches them:
# ${MORVANE_BUILD_DIR:-build}/third-party/sources/PACKAGE/. Exit status 1, with what is missing on
# stderr, when a binary is in no paragraph of the list or a component's notices cannot be found.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sources="${MORVANE_BUILD_DIR:-$root/build}/third-party/sources"
list="$root/scripts/third-party-components.txt"
if [ $# -ne 3 ] || [ ! -d "$2" ] || { [ "$1" != windows ] && [ "$1" != linux ]; }; then
  echo "usage: $0 windows|linux FOLDER VERSION" >&2
  exit 2
fi
package="$1" folder="$2" version="$3"
separator=/
[ "$package" = linux ] || separator='\'

# The list, one paragraph a line with its fields in this order, separated by \037: Component,
# Inside, Source, Installed, Licence, Notices, Note (whose own line breaks become \036).
components() {
  awk '
    BEGIN { RS = ""; FS = "\n"; known = " Component Inside Linked Source Installed Licence Notices Note " }
    {
      split("", field); key = ""
      for (i = 1; i <= NF; i++) {
        line = $i
        if (line ~ /^#/) continue
        if (line ~ /^[ \t]/ && key != "") { sub(/^[ \t]+/, "", line); field[key] = field[key] "\036" line; continue }
        key = line; sub(/:.*/, "", key)
        if (line !~ /^[A-Za-z]+:/ || index(known, " " key " ") == 0) { print FILENAME ": unknown line: " line > "/dev/stderr"; exit 1 }
        sub(/^[^:]*:[ \t]*/, "", line); field[key] = line
      }
      if (key == "") next
      if (field["Component"] == "" || field["Inside"] == "" || field["Licence"] == "" || (field["Source"] == "") == (field["Installed"] == "")) {
        print FILENAME ": \"" field["Component"] "\" needs Component, Inside, Licence, and Source or Installed" > "/dev/stderr"; exit 1
      }
      print field["Component"] "\037" field["Inside"] "\037" field["Source"] "\037" field["Installed"] "\037" \
        field["Licence"] "\037" field["Notices"] "\037" field["Note"]
    }' "$list"
}

# The programs and libraries of the package (Windows or ELF binaries), by their path in it.
binaries() {
  local file
  while IFS= read -r file; do
    case "$(head -c 4 "$folder/$file" | od -An -tx1 | tr -d ' \n')" in
      4d5a*|7f454c46) echo "${file//\//$separator}" ;;
    esac
  done < <(find "$folder" -type f -printf '%P\n' | LC_ALL=C sort)
}

rule() { printf -- "$1%.0s" {1..100}; echo; }

entries="$(components)" || exit 1
mapfile -t shipped < <(binaries)
problems=() named=() index="" sections=""
while IFS=$'\037' read -r name inside source installed licence files note; do
  in=()
  for binary in "${shipped[@]}"; do
    for entry in $inside; do
      if [ "$entry" = "$package:${binary##*"$separator"}" ]; then in+=("$binary") named+=("$binary"); fi
    done
  done
  [ ${#in[@]} -gt 0 ] || continue
  if [ -n "$source" ]; then
    debian_version="$(sed -n 1p "$sources/$source/.unpacked" 2>/dev/null || true)"
    base="$(find "$sources/$source/" -mindepth 1 -maxdepth 1 -type d -print -quit 2>/dev/null || true)"
    if [ -z "$debian_version" ] || [ -z "$base" ]; then
      problems+=("$name (in ${in[*]}): Debian's source package $source is not in $sources/$source")
      continue
    fi
    from="Debian's source package $source, version $debian_version. Its source is available from
            Debian under that name: apt-get source $source=$debian_version"
    texts=(debian/copyright $files)
    changes=()
    for file in "$root/scripts/patches/$source"/*.patch; do [ ! -e "$file" ] || changes+=("${file#"$root"/}"); done
    [ ${#changes[@]} -eq 0 ] || from+="
            with Morvane's changes applied after Debian's, each shown below the notices"
  else
    changes=()
    debian_version="$(dpkg-query -W -f '${Version}' "$installed" 2>/dev/null || true)"
    if [ -z "$debian_version" ]; then
      problems+=("$name (in ${in[*]}): the Debian package $installed is not installed")
      continue
    fi
    from="Debian's package $installed, version $debian_version (source package $(dpkg-query -W -f '${source:Package}' "$installed"))"
    base="/usr/share/doc/$installed"
    texts=(copyright $files)
  fi
  for file in "${texts[@]}"; do
    [ -s "$base/$file" ] || problems+=("$name (in ${in[*]}): no $file in $base")
  done
  index+="$(printf '  %-34s %s' "$name" "${in[*]}")"$'\n'
  sections+="$(
    rule =
    echo "$name"
    echo "  In:       ${in[*]}"
    echo "  Licence:  $licence"
    echo "  From:     $from"
    [ -z "$note" ] || { echo; tr '\036' '\n' <<< "$note"; }
    for file in "${texts[@]}"; do
      shown="$file"
      [ -n "$source" ] || shown="$base/$file"
      echo
      echo "---- $shown $(rule - | cut -c "$((7 + ${#shown}))-")"
      echo
      cat "$base/$file" 2>/dev/null || true
    done
    for file in "${changes[@]}"; do
      echo
      echo "---- Morvane's change: $file $(rule - | cut -c "$((25 + ${#file}))-")"
      echo
      cat "$root/$file"
    done
  )"$'\n\n'
done <<< "$entries"
for binary in "${shipped[@]}"; do
  [[ " ${named[*]} " == *" $binary "* ]] ||
    problems+=("$binary: $list names nothing that it holds")
done
if [ ${#problems[@]} -gt 0 ]; then
  printf 'third-party-notices: %s\n' "${problems[@]}" >&2
  exit 1
fi

echo "Morvane $version: third-party notices"
echo
echo "Morvane is under the MIT License (LICENSE, beside this file). Its binaries in this package also"
echo "hold code of the projects below, each under its own terms. Every section names the files that"
echo "hold that code, its licence and the Debian package it comes from, then gives its notices:"
echo "Debian's copyright file first, then the project's own licence files. Libraries that the"
echo "binaries load from the system at run time are not part of this package."
echo
printf '%s\n' "$index"
printf '%s' "$sections"
