#!/usr/bin/env bash
# The archives of make_samples.sh listed and extracted through Morvane and its formats
# sub-module, driven by wcxhost: under Wine for a win64 or win32 build, natively for a Linux one.
#   formats_through_morvane.sh BUILD-DIR SAMPLES
# Every listing must equal bsdtar's (names, sizes, folders, modification times to the DOS stamp's
# two seconds, read-only), every extracted tree its source byte for byte with its times. A RAR
# volume set is held against bsdtar's reading of its volumes joined; some samples are read again
# through the build's staged plug-in folder (BUILD-DIR/plugin), with its INI file as installed.
# Ends with "N passed, M failed"; the exit status is 0 only when nothing failed.
set -u

if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -f "$2/archives.txt" ]; then
  echo "usage: $0 BUILD-DIR SAMPLES" >&2
  exit 2
fi
build="$(cd "$1" && pwd)"
run_windows="$(cd "$(dirname "$0")/../.." && pwd)/scripts/run-windows.sh"
samples="$(cd "$2" && pwd)"
if [ -f "$build/Morvane.wcx64" ]; then
  plugin=Morvane.wcx64 ini=morvane64.ini module=formats.dll host=("$run_windows" plugin/wcxhost.exe) separator='\'
elif [ -f "$build/Morvane.wcx" ]; then
  plugin=Morvane.wcx ini=morvane.ini module=formats.dll host=("$run_windows" plugin/wcxhost.exe) separator='\'
elif [ -f "$build/Morvane.so" ]; then
  plugin=Morvane.so ini=morvane64.ini module=formats.so host=(plugin/wcxhost) separator=/
else
  echo "no Morvane.wcx64, Morvane.wcx or Morvane.so in $build" >&2
  exit 2
fi
if [ "${host[0]}" = "$run_windows" ]; then
  "$run_windows" --check "$build/wcxhost.exe" || exit  # 77: skipped, a 32-bit program where none runs
fi
# Both sides see times in UTC, so that bsdtar's and the DOS stamps compare directly.
export TZ=UTC LC_ALL=C.UTF-8

work="$(mktemp -d "${TMPDIR:-/tmp}/formats-through-morvane.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir "$work/plugin"
cp "$build/$plugin" "$build/$module" "$build/$(basename "${host[-1]}")" "$work/plugin/"
write_ini() {
  printf '[Modules]\r\nformats=%s\r\n%s' "$module" "$1" > "$work/plugin/$ini"
  wcxhost_session_end 2>/dev/null || true  # defined below; the next run reads the new file
}
write_ini ""
cd "$work"

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

# Runs wcxhost; its output lands in out.txt and err.txt, its status in $status.
. "$(dirname "$run_windows")/../tests/support/wcxhost_session.sh"
if [ "${host[0]}" = "$run_windows" ]; then wcxhost_session Z: "${host[@]}"; else wcxhost_session "" "${host[@]}"; fi
run() { wcxhost_run out.txt err.txt "$@"; }
expect_status() {  # DESCRIPTION EXPECTED
  if [ "$status" -eq "$2" ]; then
    pass "$1 (exit status $status)"
  else
    fail "$1: exit status $status, expected $2; stderr: $(head -c 300 err.txt)"
  fi
}

# bsdtar's listing as "size|date time|attributes|name", names as the plug-in shows them, times
# from the files bsdtar extracts (its listing shows minutes at best).
expected_listing() {  # ARCHIVE
  rm -rf reference && mkdir reference && bsdtar -xf "$1" -C reference 2> /dev/null
  bsdtar -tvf "$1" | perl -CSD -ne '
    chomp;
    /^(\S+)\s+\d+\s+\S+\s+\S+\s+(\d+)\s+\w{3}\s+\d+\s+(?:\d\d:\d\d|\d{4})\s(.*)$/ or die "unparsed: $_\n";
    my ($mode, $size, $name) = ($1, $2, $3);
    # A hard link is listed with the size of the data that it extracts to.
    $size = -s "reference/$name" if $name =~ s{ link to .*$}{};
    $name =~ s{^\./}{}; $name =~ s{/$}{};
    next if $name eq "" || $name eq ".";
    my $dir = substr($mode, 0, 1) eq "d";
    my @times = lstat("reference/$name") or die "not extracted by bsdtar: $name\n";
    my @t = gmtime($times[9] - $times[9] % 2);
    $name =~ s{/}{\\}g if $ENV{SEPARATOR} eq "\\";
    printf "%s|%04d-%02d-%02d %02d:%02d:%02d|%s|%s\n", $dir ? 0 : $size, $t[5] + 1900, $t[4] + 1, $t[3], $t[2], $t[1], $t[0],
      $dir ? "d----" : ($mode =~ /w/ ? "----a" : "-r--a"), $name;
  ' | LC_ALL=C sort
}
export SEPARATOR="$separator"

# wcxhost's listing in the same form.
host_listing() {
  perl -CSD -ne 'print "$1|$3|$4|$5\n" if /^ *(\d+) +(\d+)  (\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)  ([-a-z]{5})  (.*)$/' "$1" |
    LC_ALL=C sort
}

# Every file of SOURCE in FOLDER, with its content and modification time.
same_tree() {  # SOURCE FOLDER
  diff -r "$1" "$2" > diff.txt || return 1
  local file
  while IFS= read -r -d '' file; do
    [ "$(stat -c %Y "$file")" = "$(stat -c %Y "$2/${file#"$1"/}")" ] || { echo "time differs: $file" >> diff.txt; return 1; }
  done < <(find "$1" -type f -print0)
}

# The archive listed and extracted through PLUGIN-FILE: the listing must equal bsdtar's of BYTES
# (the archive itself, or the volumes of a set joined), the extracted tree SOURCE, or bsdtar's own
# extraction of BYTES when no SOURCE is given.
check_archive() {  # WHAT PLUGIN-FILE ARCHIVE BYTES [SOURCE]
  local what="$1" plugin_file="$2" archive="$3" bytes="$4" source="${5:-reference}"
  run list "$plugin_file" "$archive"
  expect_status "$what: list" 0
  expected_listing "$bytes" > expected.txt
  host_listing out.txt > listed.txt
  if [ -s listed.txt ] && diff expected.txt listed.txt > diff.txt; then
    pass "$what: the listing equals bsdtar's ($(wc -l < listed.txt) entries)"
  else
    fail "$what: the listing differs from bsdtar's:"; head -20 diff.txt
  fi
  rm -rf out
  run extract "$plugin_file" "$archive" out
  expect_status "$what: extract" 0
  if same_tree "$source" out; then
    pass "$what: the extracted tree equals its source, bytes and times"
  else
    fail "$what: the extracted tree differs from its source:"; head -10 diff.txt
  fi
}

# ---- Every format and filter -------------------------------------------------------------------

while IFS='|' read -r name source; do
  check_archive "$name" "plugin/$plugin" "$samples/archives/$name" "$samples/archives/$name" "$samples/$source"
done < "$samples/archives.txt"

# ---- Multi-volume RAR sets: opened from their first volume, the later ones found beside it ------

while read -r -a set; do
  cat "${set[@]/#/$samples/}" > joined.rar
  check_archive "${set[0]#volumes/} and its later volumes" "plugin/$plugin" "$samples/${set[0]}" joined.rar
done < "$samples/volumes.txt"
rm -rf out && run extract "plugin/$plugin" "$samples/volumes/gap.part1.rar" out
expect_status "a set without its second volume: the file that needs it is not extracted (E_BAD_DATA)" 12
[ -z "$(find out -type f)" ] && pass "a set without its second volume: no partial file is left" ||
  fail "a set without its second volume: $(find out -type f) left behind"
run list "plugin/$plugin" "$samples/volumes/rar4.part2.rar"
expected_listing "$samples/volumes/rar4.part2.rar" > expected.txt
host_listing out.txt > listed.txt
[ -s listed.txt ] && diff expected.txt listed.txt > /dev/null && pass "a later volume alone lists as bsdtar lists it" ||
  fail "a later volume alone: $(cat out.txt err.txt)"

run --ansi list "plugin/$plugin" "$samples/archives/zip.zip"
expect_status "zip: --ansi list" 0
grep -qF "docs${separator}nested${separator}deeper${separator}deep.txt" out.txt && pass "--ansi lists ASCII names" ||
  fail "--ansi listing lacks an ASCII name"

# ---- Special entries ---------------------------------------------------------------------------

rm -rf out && run extract "plugin/$plugin" "$samples/special/links.tar" out
expect_status "links: extract" 0
if [ "$(cat out/hardlink.txt)" = "target data" ] && [ "$(cat out/symlink)" = target.txt ] && [ ! -L out/symlink ]; then
  pass "links: a hard link gets its target's data, a symbolic link becomes a file holding its text"
else
  fail "links: the extracted link files are wrong"
fi

rm -rf out && run extract "plugin/$plugin" "$samples/special/sparse.tar" out
expect_status "sparse: extract" 0
cmp -s out/holes.bin <(tar -xOf "$samples/special/sparse.tar") && pass "sparse: holes come out as zeros" ||
  fail "sparse: holes.bin differs"

spaces="    " && [ "$separator" = '\' ] && spaces=____  # Windows would drop every one of them
run list "plugin/$plugin" "$samples/special/spaces.zip"
grep -q -- "----a  $spaces\$" out.txt && pass "a name of spaces only is listed as \"$spaces\"" ||
  fail "a name of spaces only is not listed as \"$spaces\": $(cat out.txt err.txt)"
rm -rf out && run extract "plugin/$plugin" "$samples/special/spaces.zip" out
expect_status "a name of spaces only: extract" 0
[ "$(cat "out/$spaces" 2> /dev/null)" = "only spaces" ] && pass "a name of spaces only is extracted as \"$spaces\"" ||
  fail "a name of spaces only: \"$spaces\" not extracted: $(ls -A out)"

write_ini $'[formats]\r\nCodePage=866\r\n'
run list "plugin/$plugin" "$samples/special/cp866.zip"
grep -q '  Привет\.txt$' out.txt && grep -q '  Еж$' out.txt && pass "CodePage=866 decodes the names of an old ZIP" ||
  fail "CodePage=866: $(cat out.txt err.txt)"
write_ini $'[formats]\r\nFormats=zip\r\n'
run probe "plugin/$plugin" "$samples/archives/tar.tar"
expect_status "Formats=zip: a TAR archive is not claimed" 1
write_ini ""

# ---- Through the staged INI file: every format to the module that reads it best -----------------

mkdir staged && cp -r "$build/plugin/." staged/
for sample in special/sparse.tar special/pax-sparse-0.1.tar special/pax-sparse-1.0.tar special/links-v7.tar \
  archives/rpm-gzip.rpm archives/zisofs.iso volumes/rar5.part01.rar; do
  [ -f "$samples/$sample" ] || continue
  bytes="$samples/$sample"
  [ "$sample" = volumes/rar5.part01.rar ] && cat "$samples"/volumes/rar5.part0?.rar > joined.rar && bytes=joined.rar
  check_archive "staged INI, $sample" "staged/$plugin" "$samples/$sample" "$bytes"
done
# A compressed TAR goes to formats whole, so that its sparse members are read as bsdtar reads them.
if [ -f "$samples/special/pax-sparse-1.0.tar" ]; then
  gzip -c "$samples/special/pax-sparse-1.0.tar" > "$PWD/pax-sparse.tar.gz"
  check_archive "staged INI, gzip of special/pax-sparse-1.0.tar" "staged/$plugin" "$PWD/pax-sparse.tar.gz" pax-sparse.tar.gz
fi

# ---- Encryption that libarchive cannot read ---------------------------------------------------

if [ -f "$samples/encrypted/data.7z" ]; then
  run list "plugin/$plugin" "$samples/encrypted/data.7z"
  expect_status "encrypted 7z: list" 0
  rm -rf out && run extract "plugin/$plugin" "$samples/encrypted/data.7z" out
  expect_status "encrypted 7z: extract answers E_BAD_DATA" 12
  left=$(find out -type f -size +0 | wc -l)
  [ "$left" -eq 0 ] && pass "encrypted 7z: no file with data is left behind" || fail "encrypted 7z: $left files left behind"
fi

# ---- Not archives ------------------------------------------------------------------------------

for file in "$samples"/foreign/*; do
  run probe "plugin/$plugin" "$file"
  expect_status "$(basename "$file"): not claimed" 1
done

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
