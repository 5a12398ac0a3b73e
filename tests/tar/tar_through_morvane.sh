#!/usr/bin/env bash
# TAR archives made by GNU tar, listed, extracted and damaged through Morvane and its tar
# sub-module, driven by wcxhost under Wine.
#   tar_through_morvane.sh BUILD-DIR
# BUILD-DIR holds Morvane.wcx64 (or Morvane.wcx), tar.dll and wcxhost.exe of one build.
# Ends with "N passed, M failed"; the exit status is 0 only when nothing failed.
set -u

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD-DIR" >&2
  exit 2
fi
build="$(cd "$1" && pwd)"
if [ -f "$build/Morvane.wcx64" ]; then
  plugin=Morvane.wcx64 ini=morvane64.ini
elif [ -f "$build/Morvane.wcx" ]; then
  plugin=Morvane.wcx ini=morvane.ini
else
  echo "no Morvane.wcx64 or Morvane.wcx in $build" >&2
  exit 2
fi
for file in tar.dll wcxhost.exe; do
  [ -f "$build/$file" ] || { echo "no $file in $build" >&2; exit 2; }
done
root="$(cd "$(dirname "$0")/../.." && pwd)"
run_windows="$root/scripts/run-windows.sh"
"$run_windows" --check "$build/wcxhost.exe" || exit  # 77: skipped, a 32-bit program where none runs
# Both sides see times in UTC, so that tar's listing and the DOS stamps compare directly.
export TZ=UTC

work="$(mktemp -d "${TMPDIR:-/tmp}/tar-through-morvane.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir "$work/plugin"
cp "$build/$plugin" "$build/tar.dll" "$build/wcxhost.exe" "$work/plugin/"
printf '[Modules]\r\ntar=tar.dll\r\n' > "$work/plugin/$ini"
cd "$work"

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

# Runs wcxhost; its output lands in $work/out.txt and $work/err.txt, its status in $status.
. "$root/tests/support/wcxhost_session.sh"
wcxhost_session Z: "$run_windows" plugin/wcxhost.exe
host() { wcxhost_run out.txt err.txt "$@"; }

# expect_status DESCRIPTION EXPECTED: checks $status and that the output named no crash.
expect_status() {
  if [ "$status" -eq "$2" ]; then
    pass "$1 (exit status $status)"
  else
    fail "$1: exit status $status, expected $2; stderr: $(head -c 300 err.txt); stdout ends: $(tail -c 300 out.txt)"
  fi
}

# ---- The source tree ----------------------------------------------------------------------------

long_dir="$(printf 'directory_%.0s' 1 2 3 4 5 6)"   # 60 characters
long_file="$(printf 'file_name_%.0s' 1 2 3 4 5 6 7 8).txt"   # 84 characters: ustar splits the path
very_long="$(printf 'a_very_long_name_%.0s' $(seq 1 9)).txt"   # 157 characters in one component
mkdir -p "src/docs/nested/deeper" "src/empty dir" "src/Ünïcödé dir" "src/long/$long_dir"
printf 'Hello, TAR\n' > src/hello.txt
head -c 3000000 /dev/urandom > src/docs/random.bin
: > src/empty.txt
printf 'deep\n' > src/docs/nested/deeper/deep.txt
printf 'naïve\n' > "src/Ünïcödé dir/naïve café ✓.txt"
printf 'nihongo\n' > "src/日本語.txt"
printf 'spaces\n' > "src/name with spaces.txt"
printf 'long path\n' > "src/long/$long_dir/$long_file"
printf 'very long\n' > "src/$very_long"
printf 'read only\n' > src/read-only.txt
chmod 444 src/read-only.txt
touch -d '2021-03-04 05:06:07' src/hello.txt
touch -d '1999-12-31 23:59:59' src/docs/random.bin
touch -d '2010-06-15 12:00:00.5' src/empty.txt
touch -d '2024-02-29 16:17:18.123456789' "src/Ünïcödé dir/naïve café ✓.txt" "src/日本語.txt"
touch -d '2033-11-12 01:02:03' "src/long/$long_dir/$long_file" "src/$very_long"
touch -d '2015-05-05 05:05:05' src/docs/nested/deeper/deep.txt src/read-only.txt "src/name with spaces.txt"
for dir in "src/docs/nested/deeper" "src/docs/nested" "src/docs" "src/empty dir" "src/Ünïcödé dir" "src/long/$long_dir" "src/long"; do
  touch -d '2020-01-01 00:00:01' "$dir"
done

for format in gnu ustar pax; do
  # ustar cannot hold a single name component longer than 100 bytes.
  exclude=()
  [ "$format" = ustar ] && exclude=(--exclude="./$very_long")
  tar --format="$format" "${exclude[@]}" -cf "$format.tar" -C src . || fail "GNU tar could not make $format.tar"
done

# ---- Listing and extraction, per format ---------------------------------------------------------

# tar's own listing as "size|date time|attributes|name", names as the plug-in shows them.
expected_listing() {
  tar --list --verbose --full-time --quoting-style=literal -f "$1" | perl -CSD -ne '
    chomp;
    /^(\S+) \S+ +(\d+) (\S+) (\d\d):(\d\d):(\d\d)(?:\.\d+)? +(.*)$/ or die "unparsed: $_\n";
    my ($mode, $size, $date, $hh, $mm, $ss, $name) = ($1, $2, $3, $4, $5, $6, $7);
    $name =~ s{^\./}{}; $name =~ s{/$}{};
    next if $name eq "" || $name eq ".";
    $name =~ s{/}{\\}g;
    my $dir = substr($mode, 0, 1) eq "d";
    my $attributes = $dir ? "d----" : (substr($mode, 2, 1) eq "-" ? "-r--a" : "----a");
    $size = 0 if $dir;
    printf "%s|%s %s:%s:%02d|%s|%s\n", $size, $date, $hh, $mm, $ss - $ss % 2, $attributes, $name;
  ' | LC_ALL=C sort
}

# wcxhost's listing in the same form.
host_listing() {
  perl -CSD -ne '
    print "$1|$3|$4|$5\n" if /^ *(\d+) +(\d+)  (\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)  ([-a-z]{5})  (.*)$/;
  ' "$1" | LC_ALL=C sort
}

for format in gnu ustar pax; do
  host list "plugin/$plugin" "$format.tar"
  expect_status "$format: list" 0
  expected_listing "$format.tar" > expected.txt
  host_listing out.txt > listed.txt
  if [ -s listed.txt ] && diff expected.txt listed.txt > diff.txt; then
    pass "$format: listing equals tar --list (names, sizes, times, attributes; $(wc -l < listed.txt) entries)"
  else
    fail "$format: listing differs from tar --list:"; head -20 diff.txt
  fi

  # The ANSI exports carry ASCII names unchanged.
  cp listed.txt wide.txt
  host --ansi list "plugin/$plugin" "$format.tar"
  host_listing out.txt > ansi.txt
  # Names outside the ANSI code page arrive as "?", so only the ASCII ones are compared.
  LC_ALL=C grep -a '^[ -~]*$' wide.txt > wide-ascii.txt
  if [ "$status" -eq 0 ] && [ "$(wc -l < ansi.txt)" -eq "$(wc -l < wide.txt)" ] &&
     LC_ALL=C comm -23 wide-ascii.txt ansi.txt > diff.txt && [ ! -s diff.txt ]; then
    pass "$format: --ansi lists the ASCII names as the wide exports do"
  else
    fail "$format: --ansi listing differs (exit status $status):"; head -10 diff.txt
  fi

  host test "plugin/$plugin" "$format.tar"
  expect_status "$format: test" 0

  host extract "plugin/$plugin" "$format.tar" "out-$format"
  expect_status "$format: extract" 0
  reference=src
  if [ "$format" = ustar ]; then
    reference=src-ustar
    rm -rf src-ustar && cp -a src src-ustar && rm -f "src-ustar/$very_long"
  fi
  if diff -r "$reference" "out-$format" > diff.txt; then
    pass "$format: extracted tree equals the source, byte for byte"
  else
    fail "$format: extracted tree differs:"; head -10 diff.txt
  fi
  wrong_times=0
  while IFS= read -r -d '' file; do
    relative="${file#"$reference"/}"
    [ "$(stat -c %Y "$file")" = "$(stat -c %Y "out-$format/$relative" 2>/dev/null)" ] || {
      wrong_times=$((wrong_times + 1)); echo "  time differs: $relative"; }
  done < <(find "$reference" -type f -print0)
  if [ $wrong_times -eq 0 ]; then
    pass "$format: extracted files carry their modification times"
  else
    fail "$format: $wrong_times extracted files have other modification times"
  fi
done

# Names print as UTF-8 into a pipe whatever the ANSI code page (932 under a Japanese locale).
LC_ALL=ja_JP.UTF-8 "$run_windows" plugin/wcxhost.exe list "plugin/$plugin" pax.tar > out.txt 2> err.txt
status=$?
host_listing out.txt > japanese.txt
expected_listing pax.tar > expected.txt
if [ "$status" -eq 0 ] && diff expected.txt japanese.txt > diff.txt; then
  pass "names are listed correctly under ANSI code page 932"
else
  fail "listing under code page 932 differs (exit status $status):"; head -10 diff.txt
fi

# ---- Links --------------------------------------------------------------------------------------

mkdir -p links
printf 'target data\n' > links/target.txt
ln -s target.txt links/symlink
ln links/target.txt links/hardlink.txt
tar --format=gnu -cf links.tar -C links target.txt symlink hardlink.txt
host extract "plugin/$plugin" links.tar out-links
expect_status "links: extract" 0
if cmp -s links/target.txt out-links/hardlink.txt && [ "$(cat out-links/symlink)" = target.txt ]; then
  pass "links: a hard link gets its target's content, a symbolic link its target's name as text"
else
  fail "links: extracted link files are wrong"
fi

# ---- A member over 8 GiB (base-256 size), kept sparse on disk -----------------------------------

huge=$((9 * 1024 * 1024 * 1024))
perl -e '
  my $size = shift;
  my $h = pack("a100 a8 a8 a8 a12 a12 a8 a1 a100 a8 a32 a32 a8 a8 a167",
               "huge.bin", "0000644", "0001750", "0001750", "\x80" . "\0" x 3 . pack("Q>", $size),
               sprintf("%011o", 1700000000), " " x 8, "0", "", "ustar  ", "user", "group", "", "", "");
  substr($h, 148, 8) = sprintf("%06o\0 ", unpack("%32C*", $h));
  print $h;
' "$huge" > huge.tar
truncate -s $((512 + huge)) huge.tar
mkdir -p after && printf 'after\n' > after/after.txt
tar --format=gnu -cf - -C after after.txt >> huge.tar
host list "plugin/$plugin" huge.tar
if [ "$status" -eq 0 ] && grep -Eq "^ *$huge +$huge .*  huge\.bin$" out.txt && grep -q ' after\.txt$' out.txt; then
  pass "a member of 9 GiB (base-256 size) is listed with its size, and the member after it too"
else
  fail "the 9 GiB member is not listed right (exit status $status):"; head -5 out.txt err.txt
fi

# ---- Damaged archives ---------------------------------------------------------------------------

size_of() { stat -c %s "$1"; }
# flip FILE OFFSET: changes one byte, so that a header's checksum no longer matches.
flip() { printf '\x7f' | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
# The block number of a member in an archive.
block_of() { tar --list --block-number -f "$1" | awk -v name="$2" '$3 == name { sub(":", "", $2); print $2; exit }'; }

head -c $(( $(size_of gnu.tar) / 2 )) gnu.tar > cut-in-data.tar
host list "plugin/$plugin" cut-in-data.tar
expect_status "archive cut inside a member's data: list answers E_BAD_ARCHIVE" 13
grep -q "E_BAD_ARCHIVE" err.txt && pass "the message names E_BAD_ARCHIVE" || fail "no E_BAD_ARCHIVE in: $(cat err.txt)"
host extract "plugin/$plugin" cut-in-data.tar out-cut
expect_status "archive cut inside a member's data: extract" 13

block="$(block_of gnu.tar ./hello.txt)"
head -c $(( block * 512 + 100 )) gnu.tar > cut-in-header.tar
host list "plugin/$plugin" cut-in-header.tar
expect_status "archive cut inside a header: list" 13
if grep -q "hello.txt" out.txt; then fail "the cut member was listed"; else pass "entries before the cut header are listed, the cut one is not"; fi

cp gnu.tar bad-later-checksum.tar
flip bad-later-checksum.tar $(( block * 512 + 3 ))
host list "plugin/$plugin" bad-later-checksum.tar
expect_status "a later header with a bad checksum: list" 13
host --ansi list "plugin/$plugin" bad-later-checksum.tar
expect_status "a later header with a bad checksum: list --ansi" 13

cp gnu.tar bad-first-checksum.tar
flip bad-first-checksum.tar 3
host list "plugin/$plugin" bad-first-checksum.tar
expect_status "the first header with a bad checksum: not recognised" 14
host probe "plugin/$plugin" bad-first-checksum.tar
expect_status "the first header with a bad checksum: probe" 1

head -c 300 gnu.tar > shorter-than-a-block.tar
host list "plugin/$plugin" shorter-than-a-block.tar
expect_status "an archive shorter than one block: not recognised" 14

head -c 20000 /dev/urandom > random.bin
host list "plugin/$plugin" random.bin
expect_status "random bytes: not recognised" 14
: > empty.tar
host list "plugin/$plugin" empty.tar
expect_status "an empty file: not recognised" 14

host probe "plugin/$plugin" pax.tar
expect_status "probe of a TAR archive" 0
host list "plugin/$plugin" no-such-archive.tar
expect_status "a missing archive" 3
host list plugin/no-such-plugin.wcx64 gnu.tar
expect_status "a missing plug-in" 3

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
