#!/usr/bin/env bash
# The release packages, made by scripts/package.sh --no-build from the build folders as they are:
#  - the Windows ZIP: pluginst.inf at its top with its keys, exactly the files it should hold,
#    version resources in the shipped DLLs, INI files that name only shipped modules of the right
#    word size; then an archive made by GNU tar, listed and extracted under Wine by the unpacked
#    Morvane.wcx64 and Morvane.wcx with their INI files exactly as shipped (and a ZIP made by zip
#    too, when the libarchive sub-module is shipped);
#  - SHA256SUMS, and what the script says it left out;
#  - LICENSE, and THIRD-PARTY-NOTICES.txt against scripts/third-party-components.txt: a section for
#    every component inside a shipped binary, with its licence, Debian version and notice files;
#    and the Windows builds' link lines against the list's static libraries;
#  - a second run over a stand-in build root with formats modules and a Linux build in it, for
#    what the packages hold then; 7-Zip's library added to them; missing notices.
#   package_test.sh BUILD-ROOT     (the folder that holds win64/, win32/, native/ and maybe linux/)
# Ends with "N passed, M failed"; the exit status is 0 only when nothing failed.
set -u

if [ $# -ne 1 ] || [ ! -d "$1/win64" ] || [ ! -d "$1/win32" ]; then
  echo "usage: $0 BUILD-ROOT (with win64/ and win32/ built)" >&2
  exit 2
fi
builds="$(cd "$1" && pwd)"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
for file in win64/wcxhost.exe win32/wcxhost.exe native/Morvane.so native/tar.so; do
  [ -f "$builds/$file" ] || { echo "no $file in $builds" >&2; exit 2; }
done
export WINEPREFIX="${WINEPREFIX:-$HOME/.morvane-wine}" WINEDEBUG=-all
export TZ=UTC

work="$(mktemp -d "${TMPDIR:-/tmp}/package-test.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
# same DESCRIPTION EXPECTED ACTUAL
same() {
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: expected [$2], got [$3]"; fi
}

version="$(sed -n 's/^project(Morvane VERSION \([0-9][0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")"
windows_zip="Morvane-$version-windows.zip"
linux_tar="Morvane-$version-linux-x86_64.tar.gz"

# package BUILD-ROOT OUTPUT: runs the packaging; its messages land in OUTPUT.log.
package() {
  MORVANE_BUILD_DIR="$1" "$repo/scripts/package.sh" --no-build --output "$2" > "$2.log" 2>&1
}

# ini_modules INI-FILE: the "name=library" lines of its [Modules] section.
ini_modules() {
  tr -d '\r' < "$1" | awk '/^\[/{section=$0; next} section=="[Modules]" && /^[^;].*=/{print}'
}
ini_value() {  # INI-FILE SECTION KEY
  tr -d '\r' < "$1" | awk -v s="[$2]" -v k="$3" '/^\[/{section=$0; next} section==s && index($0, k "=")==1 {print substr($0, length(k) + 2)}'
}

# The component list, a line a paragraph: Component|Inside|Linked|Source|Installed|Licence|Notices.
components() {
  awk 'BEGIN { RS = ""; FS = "\n" } { split("", f)
      for (i = 1; i <= NF; i++) if ($i ~ /^[A-Za-z]+:/) { k = v = $i; sub(/:.*/, "", k); sub(/^[^:]*: */, "", v); f[k] = v }
      if ("Component" in f) print f["Component"] "|" f["Inside"] "|" f["Linked"] "|" f["Source"] "|" f["Installed"] "|" f["Licence"] "|" f["Notices"] }' \
    "$repo/scripts/third-party-components.txt"
}
# inside PACKAGE:FILE FIELD: that field of each component inside FILE (FIELD 1: names, 3: libraries).
inside() { components | awk -F'|' -v e="$1" -v n="$2" 'index(" " $2 " ", " " e " ") { print $n }'; }
# section_names NOTICES: the name under each rule.
section_names() { tr -d '\r' < "$1" | awk 'length($0) == 100 && /^=+$/ { getline; print }'; }

# check_notices WHAT PACKAGE FOLDER SOURCES: the unpacked package's notices hold a section for each
# component inside its binaries, and no other: the binaries, the licence, the Debian version and
# every line of the notice files.
check_notices() {
  local separator=/ problems="" binaries expected="" name inside source installed licence files in base version label
  [ "$2" = linux ] || separator='\'
  tr -d '\r' < "$3/THIRD-PARTY-NOTICES.txt" > notices.txt || { fail "$1: no THIRD-PARTY-NOTICES.txt"; return; }
  binaries="$(cd "$3" && find . -type f \( -name '*.dll' -o -name '*.so' -o -name '*.wcx*' \) -printf '%P\n' | sort)"
  binaries="${binaries//\//$separator}"
  while IFS='|' read -r name inside _ source installed licence files; do
    in="$(for b in $binaries; do [[ " $inside " == *" $2:${b##*"$separator"} "* ]] && echo "$b"; done)"
    [ -n "$in" ] || continue
    expected+="$name"$'\n'
    awk -v n="$name" 'length($0) == 100 && /^=+$/ { getline; on = ($0 == n) } on' notices.txt > section.txt
    [ "$(sed -n 's/^  In: *//p' section.txt | tr ' ' '\n' | sort)" = "$(sort <<< "$in")" ] || problems+=" $name: not in exactly $in;"
    grep -qxF "  Licence:  $licence" section.txt || problems+=" $name: not under $licence;"
    if [ -n "$source" ]; then
      version="$(sed -n 1p "$4/$source/.unpacked")" base="$(find "$4/$source/" -mindepth 1 -maxdepth 1 -type d | head -1)"
      files="debian/copyright $files" && grep -qF "apt-get source $source=$version" section.txt || problems+=" $name: no $source=$version;"
      for change in "$repo"/scripts/patches/"$source"/*.patch; do  # our changes to it, whole
        [ -e "$change" ] || continue
        grep -qF -- "---- Morvane's change: ${change#"$repo"/} --" section.txt && ! grep -qvxFf section.txt "$change" ||
          problems+=" $name: not all of ${change##*/};"
      done
    else
      version="$(dpkg-query -W -f '${Version}' "$installed")" base="/usr/share/doc/$installed" files="copyright $files"
      grep -qF "$installed, version $version" section.txt || problems+=" $name: not $installed $version;"
    fi
    for file in $files; do  # each under its path: in the source tree, or the installed one
      label="$file" && [ -n "$source" ] || label="$base/$file"
      [ -s "$base/$file" ] && grep -qxF -- "---- $label $(printf -- '-%.0s' $(seq $((94 - ${#label}))))" section.txt &&
        ! grep -qvxFf section.txt "$base/$file" || problems+=" $name: not all of $label;"
    done
  done < <(components)
  same "$1: a section for each component inside its binaries" "$expected" "$(section_names notices.txt)"$'\n'
  same "$1: each section names its binaries, licence, Debian version and notices" "" "$problems"
}

# ---- The packages of the real builds ---------------------------------------------------------------

if package "$builds" dist; then pass "package.sh --no-build ran"; else fail "package.sh failed: $(tail -5 dist.log)"; fi
[ -f "dist/$windows_zip" ] && pass "dist holds $windows_zip" || fail "no $windows_zip in dist: $(ls dist)"
if (cd dist && sha256sum --quiet -c SHA256SUMS); then pass "SHA256SUMS matches"; else fail "SHA256SUMS does not match"; fi
# The same builds and commit give the same bytes, whenever they are packaged.
sleep 1
package "$builds" again
same "packaging again gives the same archives" "$(cat dist/SHA256SUMS)" "$(cat again/SHA256SUMS 2>/dev/null)"

shipped_formats=0
[ -f "$builds/win64/formats.dll" ] && [ -f "$builds/win32/formats.dll" ] && shipped_formats=1
expected="$(printf '%s\n' pluginst.inf Morvane.wcx Morvane.wcx64 morvane.ini morvane64.ini readme.txt x64/tar.dll x86/tar.dll \
  LICENSE THIRD-PARTY-NOTICES.txt
  [ -f "$builds/win64/formats.dll" ] && echo x64/formats.dll
  [ -f "$builds/win32/formats.dll" ] && echo x86/formats.dll
  [ -f "$builds/win64/sevenzip.dll" ] && printf '%s\n' x64/sevenzip.dll x64/7z.dll
  [ -f "$builds/win32/sevenzip.dll" ] && printf '%s\n' x86/sevenzip.dll x86/7z.dll)"
same "the ZIP holds exactly the plug-ins, INI files, readme and modules" "$(sort <<< "$expected")" \
  "$(unzip -Z1 "dist/$windows_zip" | sort)"
same "pluginst.inf is the ZIP's first entry, at its top" pluginst.inf "$(unzip -Z1 "dist/$windows_zip" | head -1)"

if [ -f "$builds/linux/Morvane.wcx64" ]; then
  [ -f "dist/$linux_tar" ] && pass "dist holds $linux_tar" || fail "no $linux_tar although $builds/linux is built"
  same "SHA256SUMS names both packages" "$(printf '%s\n' "$linux_tar" "$windows_zip" | sort)" "$(awk '{print $2}' dist/SHA256SUMS | sort)"
else
  [ ! -f "dist/$linux_tar" ] && grep -q "left out: $linux_tar" dist.log &&
    pass "without build/linux no Linux package, and package.sh says so" ||
    fail "Linux package without a Linux build, or nothing said: $(cat dist.log)"
fi
if [ $shipped_formats -eq 0 ]; then
  grep -qF 'left out: x64\formats.dll (not built)' dist.log && pass "package.sh says that formats.dll was left out" ||
    fail "package.sh does not say that formats.dll was left out: $(cat dist.log)"
fi

mkdir unpacked
(cd unpacked && unzip -q "../dist/$windows_zip")
same "the ZIP's LICENSE is the repository's" "$(cat "$repo/LICENSE")" "$(tr -d '\r' < unpacked/LICENSE)"
check_notices "the ZIP" windows unpacked "$builds/third-party/sources"
if [ -f "dist/$linux_tar" ]; then
  mkdir linux-unpacked && tar -xzf "dist/$linux_tar" -C linux-unpacked
  check_notices "the Linux package" linux linux-unpacked/* "$builds/third-party/sources"
fi
# Every library from outside the build on a shipped binary's link line is a component inside it.
for entry in win64:formats.dll win64:tar.dll win64:Morvane.wcx64 win32:formats.dll win32:tar.dll win32:Morvane.wcx \
    linux:formats.so linux:tar.so linux:Morvane.wcx64; do
  file="${entry#*:}" package=windows
  [[ $entry == linux:* ]] && package=linux
  [ -f "$builds/${entry%%:*}/$file" ] || continue
  same "$entry links from outside only the list's libraries" "$(inside "$package:$file" 3 | tr ' ' '\n' | sed '/^$/d' | sort -u)" \
    "$(awk -v f="build $file" 'index($0, f ":") == 1 || index($0, f " ") == 1 { on = 1; next } /^build / { on = 0 }
      on && /^  LINK_LIBRARIES/' "$builds/${entry%%:*}/build.ninja" |
      tr ' ' '\n' | grep '^/.*\.a$' | sed 's|.*/||' | sort -u)"
done
inf=unpacked/pluginst.inf
same "pluginst.inf starts with [plugininstall]" "[plugininstall]" "$(tr -d '\r' < "$inf" | head -1)"
for pair in type=wcx file=Morvane.wcx defaultdir=Morvane "version=$version"; do
  same "pluginst.inf: ${pair%%=*}" "${pair#*=}" "$(ini_value "$inf" plugininstall "${pair%%=*}")"
done
for key in description defaultextension; do
  [ -n "$(ini_value "$inf" plugininstall "$key")" ] && pass "pluginst.inf: $key is set" || fail "pluginst.inf: no $key"
done

objdump=x86_64-w64-mingw32-objdump
# 7-Zip's library ships as 7-Zip built it, with 7-Zip's own version.
if bash "$repo/tests/release/check_version_resource.sh" "$objdump" x86_64-w64-mingw32-strings "$version" \
  unpacked/Morvane.wcx64 unpacked/Morvane.wcx $(ls unpacked/x64/*.dll unpacked/x86/*.dll | grep -v '/7z\.dll$') > resources.log; then
  pass "the shipped DLLs carry version $version in their version resources"
else
  fail "version resources of the shipped DLLs: $(grep FAIL resources.log)"
fi

# Each INI file names modules that are shipped, of the plug-in's word size, and gives them masks.
for pair in "morvane64.ini:pei-x86-64" "morvane.ini:pei-i386"; do
  ini="unpacked/${pair%%:*}" format="${pair#*:}" problems=""
  [ "$(ini_value "$ini" General UseExtensionFilters)" = 1 ] || problems+=" UseExtensionFilters is not 1;"
  while IFS='=' read -r name library; do
    file="unpacked/${library//\\//}"
    if [ ! -f "$file" ]; then problems+=" $name: $library is not shipped;"; continue; fi
    "$objdump" -f "$file" | grep -q "file format $format" || problems+=" $name: $library is not $format;"
    [ -n "$(ini_value "$ini" Filters "$name")" ] || problems+=" $name: no masks;"
  done < <(ini_modules "$ini")
  [ -n "$(ini_modules "$ini")" ] || problems+=" no modules;"
  [ -z "$problems" ] && pass "${pair%%:*} names $(ini_modules "$ini" | tr '\n' ' ')" || fail "${pair%%:*}:$problems"
done

# ---- The unpacked plug-ins at work, under Wine ----------------------------------------------------

mkdir -p "src/docs/nested" "src/Ünïcödé" "src/empty dir"
printf 'Hello from the release package\n' > src/hello.txt
printf 'nested\n' > src/docs/nested/deep.txt
printf 'grüße aus Köln, 東京\n' > "src/Ünïcödé/naïve café.txt"
: > src/empty.txt
head -c 1500000 /dev/urandom > src/docs/random.bin
tar --format=gnu -cf sample.tar -C src .
samples=(sample.tar)
if [ $shipped_formats -eq 1 ]; then
  (cd src && zip -q -r ../sample.zip .)
  samples+=(sample.zip)
fi
files="$(cd src && find . -type f | sed 's|^\./||' | tr '/' '\\' | sort)"

run_windows="$repo/scripts/run-windows.sh"
for pair in "win64:Morvane.wcx64" "win32:Morvane.wcx"; do
  host="$builds/${pair%%:*}/wcxhost.exe" plugin="unpacked/${pair#*:}"
  if ! reason="$("$run_windows" --check "$host" 2>&1)"; then
    echo "SKIP: ${pair#*:} as shipped: $reason"
    continue
  fi
  for sample in "${samples[@]}"; do
    what="${pair#*:} as shipped, $sample"
    timeout 300 "$run_windows" "$host" list "$plugin" "$sample" > list.txt 2> list.err
    status=$?
    missing="$(while IFS= read -r file; do
      tr -d '\r' < list.txt | grep -qF -- "$file" || echo "$file"; done <<< "$files")"
    if [ $status -eq 0 ] && [ -z "$missing" ]; then
      pass "$what: wcxhost list names every file"
    else
      fail "$what: wcxhost list exited with $status; missing: $missing; $(head -c 300 list.err)"
    fi
    rm -rf out
    timeout 300 "$run_windows" "$host" extract "$plugin" "$sample" out > extract.txt 2> extract.err
    status=$?
    if [ $status -eq 0 ] && diff -r src out > diff.txt; then
      pass "$what: wcxhost extract reproduces the source tree"
    else
      fail "$what: wcxhost extract exited with $status; $(head -5 diff.txt) $(head -c 300 extract.err)"
    fi
  done
done

# ---- A build root with formats modules and a Linux build ------------------------------------------

# Stand-ins: copies of tar's modules under the formats name, the sanitized Linux plug-in as the
# Linux release. They are packaged, not run.
mkdir -p stand-in/win64 stand-in/win32 stand-in/linux
cp "$builds/win64/Morvane.wcx64" "$builds/win64/tar.dll" stand-in/win64/
cp "$builds/win64/tar.dll" stand-in/win64/formats.dll
cp "$builds/win32/Morvane.wcx" "$builds/win32/tar.dll" stand-in/win32/
cp "$builds/win32/tar.dll" stand-in/win32/formats.dll
cp "$builds/native/Morvane.so" stand-in/linux/Morvane.wcx64
cp "$builds/native/tar.so" stand-in/linux/tar.so
cp "$builds/native/tar.so" stand-in/linux/formats.so
# The real source packages, and a stand-in for 7-Zip's.
mkdir -p stand-in/third-party/sources
for source in "$builds"/third-party/sources/*/; do
  source="${source%/}" && [ "${source##*/}" = 7zip ] || ln -s "$source" stand-in/third-party/sources/
done
seven=stand-in/third-party/sources/7zip
mkdir -p "$seven/7zip-26.02/DOC" "$seven/7zip-26.02/debian"
echo 26.02-stand-in > "$seven/.unpacked"
printf 'Files: *\nCopyright: 1999-2026 Igor Pavlov\nLicense: LGPL-2.1+\n' > "$seven/7zip-26.02/debian/copyright"
printf 'C/Xxh64.c: the "BSD 2-clause License"\n' > "$seven/7zip-26.02/DOC/License.txt"
cp /usr/share/common-licenses/LGPL-2.1 "$seven/7zip-26.02/DOC/copying.txt"
for word in win64 win32; do
  cp "$builds/$word/tar.dll" "stand-in/$word/sevenzip.dll"
  cp "$builds/$word/tar.dll" "stand-in/$word/7z.dll"
done
cp "$builds/native/tar.so" stand-in/linux/sevenzip.so
cp "$builds/native/tar.so" stand-in/linux/7z.so
if package "$work/stand-in" full; then pass "package.sh over the stand-in builds ran"; else fail "package.sh failed: $(tail -5 full.log)"; fi
same "with every module built, nothing is left out" "" "$(grep 'left out' full.log)"
same "the ZIP ships formats.dll of both word sizes" "x64/formats.dll x86/formats.dll " \
  "$(unzip -Z1 "full/$windows_zip" | grep formats | sort | tr '\n' ' ')"
mkdir full-unpacked
(cd full-unpacked && unzip -q "../full/$windows_zip")
same "morvane64.ini names sevenzip, formats, then tar" "sevenzip=x64\\sevenzip.dll formats=x64\\formats.dll tar=x64\\tar.dll " \
  "$(ini_modules full-unpacked/morvane64.ini | tr '\n' ' ')"
same "morvane.ini names sevenzip, formats, then tar" "sevenzip=x86\\sevenzip.dll formats=x86\\formats.dll tar=x86\\tar.dll " \
  "$(ini_modules full-unpacked/morvane.ini | tr '\n' ' ')"
same "7-Zip's library ships beside sevenzip in both word sizes" "x64/7z.dll x86/7z.dll " \
  "$(unzip -Z1 "full/$windows_zip" | grep '7z.dll' | sort | tr '\n' ' ')"
same "sevenzip leaves ISO 9660, XAR and lzma to formats" "PE;ELF;MachO;TE;COFF;Iso;Xar;Tar;lzma;lzma86" \
  "$(ini_value full-unpacked/morvane64.ini sevenzip Exclude)"
masks="$(ini_value full-unpacked/morvane64.ini Filters formats)"
lacking=""
for mask in '*.zip' '*.7z' '*.rar' '*.iso' '*.cab' '*.cpio' '*.rpm' '*.tar' '*.tar.*' '*.tgz'; do
  [[ ";$masks;" == *";$mask;"* ]] || lacking+=" $mask"
done
same "the formats masks cover zip, 7z, rar, iso, cab, cpio, rpm and tars" "" "$lacking"
grep -q 'ZIP' <<< "$(ini_value full-unpacked/pluginst.inf plugininstall description)" &&
  pass "pluginst.inf's description names the formats" || fail "pluginst.inf's description does not name ZIP"

same "the Linux package holds one folder with the plug-in, its modules, INI and notes" \
  "$(printf "Morvane-$version-linux-x86_64/%s\n" 7z.so INSTALL.txt LICENSE Morvane.wcx64 THIRD-PARTY-NOTICES.txt formats.so morvane64.ini sevenzip.so tar.so)" \
  "$(tar -tzf "full/$linux_tar" | grep -v '/$' | sort)"
tar -xzf "full/$linux_tar"
same "the Linux morvane64.ini names sevenzip.so, formats.so, then tar.so" "sevenzip=sevenzip.so formats=formats.so tar=tar.so " \
  "$(ini_modules "Morvane-$version-linux-x86_64/morvane64.ini" | tr '\n' ' ')"
same "SHA256SUMS names both packages" "$(printf '%s\n' "$linux_tar" "$windows_zip" | sort)" "$(awk '{print $2}' full/SHA256SUMS | sort)"
if (cd full && sha256sum --quiet -c SHA256SUMS); then pass "SHA256SUMS matches both"; else fail "SHA256SUMS does not match"; fi

linux_folder="Morvane-$version-linux-x86_64"
check_notices "the stand-in ZIP" windows full-unpacked stand-in/third-party/sources
check_notices "the stand-in Linux package" linux "$linux_folder" stand-in/third-party/sources
same "the ZIP's notices name formats.dll's libraries, 7-Zip and the runtimes" "libarchive zlib liblzma bzip2 zstd lz4 expat \
7-Zip GCC runtime (libstdc++, libgcc) mingw-w64 runtime " "$(section_names full-unpacked/THIRD-PARTY-NOTICES.txt | tr '\n' ' ')"
same "the Linux notices name 7-Zip and the C++ runtime: formats.so uses the system's libarchive" \
  "7-Zip GCC runtime (libstdc++, libgcc) " "$(section_names "$linux_folder/THIRD-PARTY-NOTICES.txt" | tr '\n' ' ')"
# 7-Zip's library beside the modules.
cp stand-in/win64/tar.dll full-unpacked/x64/7z.dll && cp stand-in/win32/tar.dll full-unpacked/x86/7z.dll
cp stand-in/linux/tar.so "$linux_folder/7z.so"
for pair in "windows:full-unpacked" "linux:$linux_folder"; do
  MORVANE_BUILD_DIR=stand-in "$repo/scripts/third-party-notices.sh" "${pair%%:*}" "${pair#*:}" "$version" > notices.new &&
    mv notices.new "${pair#*:}/THIRD-PARTY-NOTICES.txt"
  check_notices "${pair%%:*} with 7-Zip's library" "${pair%%:*}" "${pair#*:}" stand-in/third-party/sources
  grep -qF 'you may replace it with your own build' "${pair#*:}/THIRD-PARTY-NOTICES.txt" &&
    pass "${pair%%:*}: 7-Zip's library is said to be replaceable" || fail "${pair%%:*}: 7-Zip's note is missing"
done
# Missing notices: a component's source, a binary that the list does not name.
rm -r "$seven" && cp stand-in/win64/tar.dll full-unpacked/x64/unknown.dll
MORVANE_BUILD_DIR=stand-in "$repo/scripts/third-party-notices.sh" windows full-unpacked "$version" > /dev/null 2> missing.err
status=$?
same "notices stop at a missing source and an unknown binary, naming both" "1 1 1" \
  "$status $(grep -cF '7-Zip (in x64\7z.dll x86\7z.dll)' missing.err) $(grep -cF 'x64\unknown.dll: ' missing.err)"
same "notices refuse an unknown package and a missing argument, with their usage" "2 2 2" \
  "$(for call in "macos full-unpacked $version" "windows full-unpacked"; do "$repo/scripts/third-party-notices.sh" $call \
    > /dev/null 2>> usage.err; printf '%s ' $?; done)$(grep -cF 'third-party-notices.sh windows|linux FOLDER VERSION' usage.err)"
rm stand-in/third-party/sources/libarchive
package "$work/stand-in" full
same "without libarchive's notices package.sh stops, naming it, and no package is left" "1 0" \
  "$(grep -cF 'libarchive (in x64\formats.dll x86\formats.dll)' full.log) $(ls full | wc -l)"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
