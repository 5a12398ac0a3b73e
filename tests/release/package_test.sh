#!/usr/bin/env bash
# The release packages, made by scripts/package.sh --no-build from the build folders as they are:
#  - the Windows ZIP: pluginst.inf at its top with its keys, exactly the files it should hold,
#    version resources in the shipped DLLs, INI files that name only shipped modules of the right
#    word size; then an archive made by GNU tar, listed and extracted under Wine by the unpacked
#    Morvane.wcx64 and Morvane.wcx with their INI files exactly as shipped (and a ZIP made by zip
#    too, when the libarchive sub-module is shipped);
#  - SHA256SUMS, and what the script says it left out;
#  - a second run over a stand-in build root with formats modules and a Linux build in it, for
#    what the packages hold then.
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
expected="$(printf '%s\n' pluginst.inf Morvane.wcx Morvane.wcx64 morvane.ini morvane64.ini readme.txt x64/tar.dll x86/tar.dll
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
same "morvane64.ini names sevenzip, tar, then formats" "sevenzip=x64\\sevenzip.dll tar=x64\\tar.dll formats=x64\\formats.dll " \
  "$(ini_modules full-unpacked/morvane64.ini | tr '\n' ' ')"
same "morvane.ini names sevenzip, tar, then formats" "sevenzip=x86\\sevenzip.dll tar=x86\\tar.dll formats=x86\\formats.dll " \
  "$(ini_modules full-unpacked/morvane.ini | tr '\n' ' ')"
same "7-Zip's library ships beside sevenzip in both word sizes" "x64/7z.dll x86/7z.dll " \
  "$(unzip -Z1 "full/$windows_zip" | grep '7z.dll' | sort | tr '\n' ' ')"
same "sevenzip leaves ISO 9660, XAR and lzma to formats" "PE;ELF;MachO;TE;COFF;Iso;Xar;lzma;lzma86" \
  "$(ini_value full-unpacked/morvane64.ini sevenzip Exclude)"
masks="$(ini_value full-unpacked/morvane64.ini Filters formats)"
lacking=""
for mask in '*.zip' '*.7z' '*.rar' '*.iso' '*.cab' '*.cpio' '*.tar.*' '*.tgz'; do
  [[ ";$masks;" == *";$mask;"* ]] || lacking+=" $mask"
done
same "the formats masks cover zip, 7z, rar, iso, cab, cpio and compressed tars" "" "$lacking"
grep -q 'ZIP' <<< "$(ini_value full-unpacked/pluginst.inf plugininstall description)" &&
  pass "pluginst.inf's description names the formats" || fail "pluginst.inf's description does not name ZIP"

same "the Linux package holds one folder with the plug-in, its modules, INI and notes" \
  "$(printf "Morvane-$version-linux-x86_64/%s\n" 7z.so INSTALL.txt Morvane.wcx64 formats.so morvane64.ini sevenzip.so tar.so)" \
  "$(tar -tzf "full/$linux_tar" | grep -v '/$' | sort)"
tar -xzf "full/$linux_tar"
same "the Linux morvane64.ini names sevenzip.so, tar.so, then formats.so" "sevenzip=sevenzip.so tar=tar.so formats=formats.so " \
  "$(ini_modules "Morvane-$version-linux-x86_64/morvane64.ini" | tr '\n' ' ')"
same "SHA256SUMS names both packages" "$(printf '%s\n' "$linux_tar" "$windows_zip" | sort)" "$(awk '{print $2}' full/SHA256SUMS | sort)"
if (cd full && sha256sum --quiet -c SHA256SUMS); then pass "SHA256SUMS matches both"; else fail "SHA256SUMS does not match"; fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
