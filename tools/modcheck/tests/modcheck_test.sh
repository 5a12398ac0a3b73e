#!/usr/bin/env bash
# modcheck against real and broken sub-modules of one build:
#  - tar with archives that GNU tar makes here, and the scriptable test sub-module well-behaved:
#    every rule passes;
#  - the test sub-module set to break one rule at a time: exactly that rule fails;
#  - the libarchive sub-module (formats), when the build has made it, with archives made by bsdtar;
#  - the 7-Zip sub-module (sevenzip), when the build has made it, with archives made by 7z and tar.
#   modcheck_test.sh BUILD-DIR
# BUILD-DIR holds modcheck.exe, tar.dll and testmodules/ (run under Wine) or modcheck, tar.so and
# testmodules/ (run natively). Ends with "N passed, M failed"; the exit status is 0 only when
# nothing failed.
set -u

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD-DIR" >&2
  exit 2
fi
build="$(cd "$1" && pwd)"
run_windows="$(cd "$(dirname "$0")/../../.." && pwd)/scripts/run-windows.sh"
if [ -f "$build/modcheck.exe" ]; then
  suffix=.dll checker=("$run_windows" "Z:$build/modcheck.exe") prefix="Z:"
elif [ -f "$build/modcheck" ]; then
  suffix=.so checker=("$build/modcheck") prefix=""
else
  echo "no modcheck in $build" >&2
  exit 2
fi
for file in "tar$suffix" "testmodules/testmodule$suffix" "testmodules/testmodule_nounload$suffix"; do
  [ -f "$build/$file" ] || { echo "no $file in $build" >&2; exit 2; }
done
if [ "${checker[0]}" = "$run_windows" ]; then
  "$run_windows" --check "$build/modcheck.exe" || exit  # 77: skipped, a 32-bit program where none runs
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/modcheck-test.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir scratch

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

# check MODULE [--setting KEY=VALUE]... [ARCHIVE]...: runs modcheck (the archives after the module,
# as its command line wants them); its output lands in out.txt and its exit status in $status.
check() {
  local module="$1" options=() archives=()
  shift
  while [ $# -gt 0 ]; do
    if [ "$1" = --setting ] || [ "$1" = --password ]; then options+=("$1" "$2"); shift 2; else archives+=("$1"); shift; fi
  done
  "${checker[@]}" --work scratch "${options[@]}" "$prefix$module" "${archives[@]}" > out.txt 2> err.txt
  status=$?
}

# expect_all_pass DESCRIPTION ARCHIVE-COUNT: exit 0, no FAIL or SKIP, and every rule reported.
expect_all_pass() {
  local rules=$((7 + 9 * $2))
  if [ "$status" -eq 0 ] && ! grep -qE '^(FAIL|SKIP)' out.txt && grep -q "modcheck: $rules passed, 0 failed, 0 not run" out.txt; then
    pass "$1: all $rules rules passed"
  else
    fail "$1: exit status $status, expected 0 with $rules rules passed"
    grep -vE '^PASS' out.txt | head -20
    head -c 500 err.txt
  fi
}

# expect_broken DESCRIPTION RULES PHRASE: exit 1, exactly the RULES (in alphabetical order) failed,
# and a FAIL line says PHRASE.
expect_broken() {
  local failing
  failing="$(sed -n 's/^FAIL \([a-z-]*\).*/\1/p' out.txt | sort -u | tr '\n' ' ')"
  if [ "$status" -eq 1 ] && [ "$failing" = "$2 " ] && grep -E '^FAIL' out.txt | grep -qF -- "$3"; then
    pass "$1: exit status 1, only '$2' failed: $(grep -E '^FAIL' out.txt | grep -F -- "$3" | head -1 | cut -c1-160)"
  else
    fail "$1: exit status $status, failing rules '$failing', expected only '$2' with \"$3\""
    grep -vE '^PASS' out.txt | head -20
    head -c 500 err.txt
  fi
}

# expect_line DESCRIPTION TEXT: a line of the last run's output starts with TEXT.
expect_line() {
  if awk -v text="$2" 'index($0, text) == 1 {found = 1} END {exit !found}' out.txt; then
    pass "$1"
  else
    fail "$1: no line \"$2\""
  fi
}

# expect_usage DESCRIPTION PHRASE ARGUMENT...: modcheck refuses the command line with status 2.
expect_usage() {
  local description="$1" phrase="$2"
  shift 2
  "${checker[@]}" "$@" > out.txt 2> err.txt
  status=$?
  if [ "$status" -eq 2 ] && grep -qF -- "$phrase" out.txt; then
    pass "$description: exit status 2, \"$phrase\""
  else
    fail "$description: exit status $status, expected 2 with \"$phrase\": $(head -3 out.txt)"
  fi
}

# ---- Archives -----------------------------------------------------------------------------------

long_name="$(printf 'long_folder_name_%.0s' 1 2 3 4)/$(printf 'and_a_long_file_name_%.0s' 1 2 3 4).txt"
mkdir -p "src/docs/nested" "src/Ünïcödé" "src/empty dir" "$(dirname "src/$long_name")"
printf 'Hello, TAR\n' > src/hello.txt
printf 'nested\n' > src/docs/nested/deep.txt
printf 'grüße\n' > "src/Ünïcödé/naïve café.txt"
printf 'a long path\n' > "src/$long_name"
: > src/empty.txt
head -c 2500000 /dev/urandom > src/docs/random.bin   # more than one 1 MiB chunk: several progress calls
ln -s hello.txt src/link.txt
tar --format=gnu -cf gnu.tar -C src .
tar --format=pax -cf pax.tar -C src .
tar --format=ustar -cf ustar.tar -C src hello.txt docs

# Containers of the test sub-module. Names use the platform's separator, as a module reports them.
separator='/'
[ "$suffix" = .dll ] && separator='\'
name_1023="$(head -c 1023 /dev/zero | tr '\0' 'n')"
{
  printf 'MORVANE-TEST-CONTAINER\nopen\t*\t1\n'
  printf 'entry\tname=docs\tattr=16\tmtime=132000000000000000\n'
  printf 'entry\tname=docs%sreadme.txt\tsize=24\tcontent=Hello from the container\tprogress=2\tmtime=132000000000000000\n' "$separator"
  printf 'entry\tname=big.bin\tsize=3000000\tcontent=0123456789\tcontent-repeat=300000\tprogress=7\n'
  printf 'entry\tname=grüße.txt\tsize=6\tcontent=grüß\tprogress=1\n'
  printf 'entry\tname=%s\tsize=0\n' "$name_1023"
  printf 'entry\tname=one.txt\tsize=1\tcontent=x\tprogress=1\n'
} > good.mtc
printf 'MORVANE-TEST-CONTAINER\nopen\t*\t1\nentry\tname=first.txt\tsize=3\tcontent=abc\n' > small.mtc
{
  printf 'MORVANE-TEST-CONTAINER\nopen\t*\t1\nentry\tname=fine.txt\tsize=3\tcontent=abc\n'
  printf 'entry\tname-fill=1024:x\tsize=0\n'
} > unterminated.mtc
printf 'MORVANE-TEST-CONTAINER\nopen\t*\t1\npassword\tsecret\nentry\tname=locked.txt\tsize=6\tcontent=locked\n' > protected.mtc
printf 'MORVANE-TEST-CONTAINER\nopen\t*\t1\nentry\tname=fine.txt\tsize=3\tcontent=abc\nentry\tname=bad\tanswer=0\n' > damaged.mtc
printf 'MORVANE-TEST-CONTAINER\nopen\t*\t1\nentry\tname=ghost.txt\tsize=5\tcontent=ghost\twrite=0\n' > unwritten.mtc

tar_module="$build/tar$suffix"
test_module="$build/testmodules/testmodule$suffix"

# ---- Well-behaved modules: every rule passes ---------------------------------------------------

check "$tar_module" gnu.tar pax.tar ustar.tar
expect_all_pass "tar with GNU, pax and ustar archives" 3

# HoldFile keeps each container's file open until CloseProc, as a module that reads lazily does.
check "$test_module" --setting HoldFile=1 --password secret good.mtc small.mtc protected.mtc
expect_all_pass "the test sub-module, well-behaved, holding its files" 3
expect_line "an archive that needs a password opens with --password" \
  "PASS open [protected.mtc]: OpenProc answered 2, then 1 with the password"
expect_line "the extractions are counted" \
  "PASS extract [good.mtc]: 5 files (3000031 bytes) extracted with the answer 0, each closed and of its listed size; 1 directory left to the host"
expect_line "the progress calls are counted" "PASS progress-context [good.mtc]: 11 progress calls (3000031 bytes)"

# ---- Broken modules: exactly the broken rule fails ----------------------------------------------

check "$work/no-such-module$suffix"
expect_broken "a library that does not exist" library "cannot load"
# The system's reason stays on the line, without the line break it comes with.
if [ "$suffix" = .dll ]; then
  expect_line "the reason of a failed load, on one line" "FAIL library: cannot load $prefix$work/no-such-module.dll: "
  grep '^FAIL library' out.txt | grep -qE '\(error 126\)\r?$' && pass "the load error ends with its number" ||
    fail "the load error does not end with (error 126): $(grep '^FAIL library' out.txt)"
fi

check "$build/testmodules/testmodule_nounload$suffix"
expect_broken "a module without UnloadSubModule" exports "UnloadSubModule not exported"

check "$test_module" --setting Version=3 small.mtc
expect_broken "Version left at 3" load-settings "Version is 3, expected 4"

check "$test_module" --setting NullProc=ReadEntryProc small.mtc
expect_broken "ReadEntryProc left null" load-settings "ReadEntryProc is null"

check "$test_module" --setting OpenNullHandle=1 small.mtc
expect_broken "a null handle with the answer 1" open "answered 1 but left the handle null"

# Containers broken each in its own way, in one run.
check "$test_module" unterminated.mtc damaged.mtc protected.mtc unwritten.mtc
expect_broken "four broken containers" "extract list names open" "entry 1 \"xxxx"
expect_line "a name of 1024 code units without a terminator" \
  "FAIL names [unterminated.mtc]: entry 1 \"xxxxxxxx"
expect_line "a container that answers 0 for an entry" \
  "FAIL list [damaged.mtc]: ReadEntryProc answered 0 (a damaged container) at index 1"
expect_line "an archive that needs a password, without --password" \
  "FAIL open [protected.mtc]: OpenProc answered 2: the archive needs a password"
expect_line "an extraction that answers 0 and writes nothing" \
  "FAIL extract [unwritten.mtc]: entry 0 \"ghost.txt\": ExtractProc answered 0 but wrote no file"

check "$test_module" --setting RereadDiffers=1 good.mtc
# The containers on two threads then differ from the one alone as well.
expect_broken "a second read of an index that differs" "same-entry threads" "entry 0 \"docs\" asked twice: LastWriteTime"

check "$test_module" --setting SharedState=1 good.mtc
expect_broken "state shared between containers" threads "the file differs from the one extracted alone"
# big.bin (index 2) differs only in its last byte, megabytes in.
expect_line "the files of each thread are compared to their last byte" \
  "FAIL threads [good.mtc]: thread 1, ExtractProc(index 1): the file differs from the one extracted alone; thread 1, ExtractProc(index 2): the file differs"

check "$test_module" --setting ClaimEverything=1 small.mtc
expect_broken "a module that claims any file" "foreign-random foreign-text" "OpenProc answered 1, expected 0"

check "$test_module" --setting KeepTargetOpen=1 small.mtc
expect_broken "extracted files left open" "extract handles" "the file is still open after ExtractProc answered 0"

check "$test_module" --setting CloseFile=twice good.mtc
expect_broken "the archive's file closed twice" handles "closed again"

check "$test_module" --setting CloseFile=never good.mtc
expect_broken "the archive's file never closed" handles "never closed"

check "$test_module" --setting ProgressContext=shifted good.mtc
expect_broken "progress calls with another context" progress-context "passed the context"

check "$test_module" --setting FaultIn=ExtractProc good.mtc
expect_broken "an access violation in ExtractProc" crash "ExtractProc(index -1) of good.mtc"
if grep -q 'modcheck: stopped by the crash' out.txt; then
  pass "the crash report says that the checks after it did not run"
else
  fail "the crash report does not say that modcheck stopped"
fi

# ---- Command lines that make no sense ------------------------------------------------------------

expect_usage "no module" "no MODULE given"
expect_usage "--work without a folder" "--work needs a value" --work
expect_usage "an unknown option" "unknown option --bogus" --bogus "$prefix$test_module"
expect_usage "a setting without =" "--setting takes KEY=VALUE" --setting NoEquals "$prefix$test_module"
"${checker[@]}" --help > out.txt 2> err.txt
status=$?
[ "$status" -eq 0 ] && grep -q '^usage: modcheck' out.txt && pass "--help: the usage, exit status 0" ||
  fail "--help: exit status $status: $(head -2 out.txt)"

# ---- The libarchive sub-module, once the build makes it ------------------------------------------

if [ -f "$build/formats$suffix" ] && command -v bsdtar > /dev/null; then
  bsdtar -a -cf sample.zip -C src .
  bsdtar -a -cf sample.7z -C src .
  bsdtar -a -cf sample.tar.gz -C src .
  bsdtar --format=newc -cf sample.cpio -C src .
  check "$build/formats$suffix" sample.zip sample.7z sample.tar.gz sample.cpio
  expect_all_pass "formats with zip, 7z, tar.gz and cpio archives" 4
else
  echo "formats$suffix is not in this build (or bsdtar is missing): not checked"
fi

# ---- The 7-Zip sub-module, once the build makes it -----------------------------------------------

if [ -f "$build/sevenzip$suffix" ] && command -v 7z > /dev/null; then
  (cd src && 7z a -bd -bso0 -mhe=on -psecret ../headers.7z . && 7z a -bd -bso0 -v2k ../split.7z .)
  tar -czf sample.tgz -C src .
  check "$build/sevenzip$suffix" --password secret --setting Exclude=PE headers.7z split.7z.001 sample.tgz
  expect_all_pass "sevenzip with an encrypted-headers 7z, split volumes and a tgz" 3
else
  echo "sevenzip$suffix is not in this build (or 7z is missing): not checked"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
