#!/usr/bin/env bash
# wcxhost as a user meets it, with the plug-in folder that the build stages (plugin/: Morvane,
# its INI file, tar in x64/ or x86/) and archives made by GNU tar: the plug-in's windows never
# stop it, files in DEST are not overwritten unasked, no entry is lost silently, failures are
# reported as failures, and the progress bar stays small on a terminal.
#   wcxhost_as_a_user.sh BUILD-DIR      (a win64, win32 or native build)
# Ends with "N passed, M failed"; the exit status is 0 only when nothing failed.
set -u

if [ $# -ne 1 ] || [ ! -d "$1/plugin" ]; then
  echo "usage: $0 BUILD-DIR (with the staged plugin/ folder)" >&2
  exit 2
fi
build="$(cd "$1" && pwd)"
run_windows="$(cd "$(dirname "$0")/../../.." && pwd)/scripts/run-windows.sh"
if [ -f "$build/Morvane.wcx64" ] && [ -f "$build/wcxhost" ]; then  # the Linux release build
  plugin=Morvane.wcx64 ini=morvane64.ini host=("$build/wcxhost") windows=0 testmodule=testmodule.so
elif [ -f "$build/Morvane.wcx64" ]; then
  plugin=Morvane.wcx64 ini=morvane64.ini host=("$run_windows" "$build/wcxhost.exe") windows=1
  testmodule=testmodule.dll
elif [ -f "$build/Morvane.wcx" ]; then
  plugin=Morvane.wcx ini=morvane.ini host=("$run_windows" "$build/wcxhost.exe") windows=1 testmodule=testmodule.dll
elif [ -f "$build/Morvane.so" ]; then
  plugin=Morvane.so ini=morvane64.ini host=("$build/wcxhost") windows=0 testmodule=testmodule.so
else
  echo "no Morvane.wcx64, Morvane.wcx or Morvane.so in $build" >&2
  exit 2
fi
# The Linux release build keeps its test module in the folder of its own tests.
testmodule_path="$build/testmodules/$testmodule"
[ -f "$testmodule_path" ] || testmodule_path="$build/tests/linux/submodule/$testmodule"
if [ "${host[0]}" = "$run_windows" ]; then
  "$run_windows" --check "${host[1]}" || exit  # 77: skipped, a 32-bit program where none runs
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/wcxhost-as-a-user.XXXXXX")"
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
cp -r "$build/plugin" plugin

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
check() {  # DESCRIPTION COMMAND...: passes when the command succeeds
  local what="$1"
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# Runs wcxhost with no console: output in out.txt and err.txt, status in $status. A hang would
# show as the timeout's 124, long after any run of wcxhost on any machine ends.
. "$(dirname "$run_windows")/../tests/support/wcxhost_session.sh"
if [ "$windows" = 1 ]; then wcxhost_session Z: "${host[@]}"; else wcxhost_session "" "${host[@]}"; fi
host() { wcxhost_run out.txt err.txt "$@"; }
expect_status() {  # DESCRIPTION EXPECTED
  if [ "$status" -eq "$2" ]; then
    pass "$1 (exit status $status)"
  else
    fail "$1: exit status $status, expected $2; stderr: $(head -c 400 err.txt)"
  fi
}
has() { grep -qF -- "$2" "$1"; }
content_is() { [ -f "$1" ] && [ "$(cat "$1")" = "$2" ]; }

# Runs COMMAND on a terminal (a pty made by script) and answers its prompts: the remaining
# arguments come in pairs, the text to wait for on the terminal and the line to type then.
# The terminal's output lands in terminal.txt, the status in $status.
on_terminal() {
  local command="$1"
  shift
  rm -f terminal.txt input.fifo
  mkfifo input.fifo
  # Bounded: a program that waits for more input than it gets fails here instead of hanging.
  timeout 900 script -qefc "$command" terminal.txt < input.fifo > /dev/null 2>&1 &
  local pid=$!
  exec 3> input.fifo
  while [ $# -ge 2 ]; do
    local waited=0
    until grep -qF -- "$1" terminal.txt 2>/dev/null || [ $waited -ge 1200 ] || ! kill -0 $pid 2>/dev/null; do
      sleep 0.1
      waited=$((waited + 1))
    done
    printf '%s\r' "$2" >&3
    shift 2
  done
  exec 3>&-  # the end of the input: a further prompt reads nothing
  wait $pid
  status=$?
}

# ---- Archives ------------------------------------------------------------------------------------

mkdir -p src/docs
printf 'Hello from the archive\n' > src/hello.txt
printf 'deep\n' > src/docs/deep.txt
printf 'read only\n' > src/locked.txt
chmod 444 src/locked.txt
tar --format=gnu -cf sample.tar -C src .

# Three members whose names a case-insensitive file system takes for one: the plug-in lists them
# as dup.txt, dup,1.txt and Dup.TXT.
mkdir -p dups
for n in 1 2 3; do printf 'content %s\n' $n > dups/$n; done
tar -cf dup.tar -C dups --transform 's,.*,dup.txt,' 1
tar -rf dup.tar -C dups --transform 's,.*,dup.txt,' 2
tar -rf dup.tar -C dups --transform 's,.*,Dup.TXT,' 3

# ---- The plug-in's failure report while it loads -------------------------------------------------

mkdir reported
cp -r plugin/. reported/
# The README's old example: a module that no build makes, and the report asked for.
printf '[General]\r\nVerboseModuleLoad=1\r\n[Modules]\r\ntar=%s\r\niso=modules\\iso.dll\r\n' \
  "$(sed -n 's/^tar=\(.*\)\r$/\1/p' plugin/$ini)" > reported/$ini
host list reported/$plugin sample.tar
expect_status "a failure report during the load: list goes on" 0
check "  ... and lists the archive" has out.txt "hello.txt"
check "  ... and prints the report's text on stderr" has err.txt "iso:"
if [ $windows -eq 1 ]; then
  check "  ... naming the message box it closed" has err.txt '"Morvane failed modules:", closed by wcxhost'
fi

head -c 20000 /dev/urandom > random.tar
host list reported/$plugin random.tar
expect_status "a file that no loaded module claims" 14
check "  ... names the module that did not load" has err.txt "did not load these sub-modules named in"
check "  ... by its INI entry" has err.txt 'iso=modules\iso.dll'

mkdir missing
cp plugin/$plugin missing/
printf '[Modules]\r\niso=iso.dll\r\n' > missing/$ini
host list missing/$plugin sample.tar
expect_status "an INI file whose only module is missing" 14
check "  ... says once that no sub-module was loaded, naming it" \
  test "$(grep -c 'sub-module' err.txt)" = 1 -a -n "$(grep -F 'none of the modules it names was loaded: iso=iso.dll' err.txt)"

mkdir bare
cp plugin/$plugin bare/
host list bare/$plugin sample.tar
expect_status "no INI file beside the plug-in: the archive is not recognised" 14
check "  ... and wcxhost says that no sub-module was loaded" \
  has err.txt "no sub-module loaded: check $ini beside the plug-in"

# ---- Existing files in DEST ----------------------------------------------------------------------

host list plugin/$plugin sample.tar
expect_status "list with the staged plug-in folder" 0
check "  ... says nothing on stderr" test ! -s err.txt

host extract plugin/$plugin sample.tar out
expect_status "extract into a new folder" 0
check "  ... says nothing on stderr" test ! -s err.txt
check "  ... the read-only member is read-only on disk" test "$(stat -c %A out/locked.txt | cut -c3)" = -

printf 'mine\n' > out/hello.txt
host extract plugin/$plugin sample.tar out
expect_status "extract again, without --overwrite" 6
check "  ... keeps the existing file" content_is out/hello.txt mine
check "  ... and says so" has err.txt "exists and is kept"
check "  ... and the summary says it failed" has out.txt "FAILED"

host extract --skip-existing plugin/$plugin sample.tar out
expect_status "extract again with --skip-existing" 0
check "  ... keeps the existing file" content_is out/hello.txt mine
check "  ... and counts what it skipped" has out.txt "skipped 3 files that existed"

host extract --overwrite plugin/$plugin sample.tar out
expect_status "extract again with --overwrite (a read-only file among the targets)" 0
check "  ... replaces the existing file" content_is out/hello.txt "Hello from the archive"
check "  ... and the read-only one" content_is out/locked.txt "read only"

# ---- Names that one file system tells apart and another does not ---------------------------------

host list plugin/$plugin dup.tar
check "the plug-in lists dup.txt, dup,1.txt, Dup.TXT" \
  test "$(grep -cE '  (dup\.txt|dup,1\.txt|Dup\.TXT)$' out.txt)" = 3
for mode in "" --overwrite; do
  rm -rf dup-out
  host extract $mode plugin/$plugin dup.tar dup-out
  if content_is dup-out/dup.txt "content 1" && content_is "dup-out/dup,1.txt" "content 2" &&
     content_is dup-out/Dup.TXT "content 3"; then
    # A file system that tells the names apart (Linux, natively) keeps all three.
    expect_status "dup.tar ${mode:-without options}: all three entries extracted" 0
  elif content_is dup-out/dup.txt "content 1" && content_is "dup-out/dup,1.txt" "content 2" &&
       [ "$status" -eq 6 ] && has err.txt '"Dup.TXT": not extracted: it lands on the file that "dup.txt"' &&
       has out.txt "FAILED: 1 entry not extracted"; then
    pass "dup.tar ${mode:-without options}: Dup.TXT is reported, not merged into dup.txt (exit status 6)"
  else
    fail "dup.tar ${mode:-without options}: an entry was lost (exit status $status): $(cat err.txt)"
    ls -l dup-out
  fi
done

# ---- Failures are reported as failures -----------------------------------------------------------

host test plugin/$plugin sample.tar
expect_status "test of a sound archive with folders" 0
check "  ... tests every file and finds no errors" has out.txt "Tested 3 files: no errors"

# Cut in the middle of a member's data: the header before the cut promises more than follows.
mkdir -p big
printf 'first\n' > big/a-first.txt
head -c 300000 /dev/urandom > big/b-big.bin
tar --format=gnu -cf big.tar -C big a-first.txt b-big.bin
head -c 100000 big.tar > cut.tar
host test plugin/$plugin cut.tar
expect_status "test of a cut archive" 13
check "  ... says that the test failed" has out.txt "FAILED"
check "  ... and never that there were no errors" test -z "$(grep -F 'no errors' out.txt)"
host list plugin/$plugin cut.tar
check "list of a cut archive says the listing is incomplete" has out.txt "Listing incomplete"

if [ $windows -eq 1 ]; then
  mkdir -p wide
  printf 'plain\n' > wide/plain.txt
  printf 'wide\n' > "wide/日本語.txt"
  tar -cf wide.tar -C wide .
  LC_ALL=C.UTF-8 timeout 300 "${host[@]}" --ansi extract plugin/$plugin wide.tar ansi-out > out.txt 2> err.txt < /dev/null
  status=$?
  expect_status "--ansi extract of a name that code page 1252 cannot hold" 7
  check "  ... says what is wrong with it" has err.txt "the name has characters that the ANSI code page 1252 cannot hold"
  check "  ... and extracts the others" content_is ansi-out/plain.txt plain
fi

# ---- The password dialog -------------------------------------------------------------------------

if [ -f "$testmodule_path" ]; then
  mkdir protected
  cp plugin/$plugin "$testmodule_path" protected/
  printf '[Modules]\r\ntest=%s\r\n' "$testmodule" > protected/$ini
  printf 'MORVANE-TEST-CONTAINER\nopen\t*\t1\npassword\tsecret\nentry\tname=inside.txt\tsize=5\tcontent=hello\n' \
    > protected.bin

  host list --password secret protected/$plugin protected.bin
  expect_status "a protected archive with the right --password" 0
  check "  ... is listed" has out.txt "inside.txt"
  host extract --password secret protected/$plugin protected.bin protected-out
  check "  ... and extracted" content_is protected-out/inside.txt hello
  host list --password wrong protected/$plugin protected.bin
  expect_status "a wrong --password" 14
  check "  ... is refused with a clear message" has err.txt "the plug-in refused the password given with --password"
  host list protected/$plugin protected.bin
  expect_status "no --password and no console" 14
  check "  ... cancels the dialog and says how to give one" has err.txt "give it with --password"

  on_terminal "$(printf '%q ' "${host[@]}") list protected/$plugin protected.bin" \
    "Password for" "typo" "Wrong password, try again" "secret"
  if [ "$status" -eq 0 ] && has terminal.txt "inside.txt"; then
    pass "on a console the password is asked for, again after a wrong one"
  else
    fail "typing the password on a console (exit status $status): $(tr -d '\r' < terminal.txt | head -c 600)"
  fi
  check "  ... and never echoed" test -z "$(grep -E 'typo|secret' terminal.txt)"
fi

# ---- Progress on a terminal ----------------------------------------------------------------------

# In 100 folders: Wine scans a whole folder for each new name it is asked about, and one folder
# of 20,000 would make the run slow for reasons that are not wcxhost's.
mkdir many
(cd many && seq -f 'folder-%03g' 1 100 | xargs mkdir && for folder in folder-*; do
  seq -f "$folder/file-%03g.txt" 1 200 | xargs touch; done)
tar -cf many.tar -C many .
on_terminal "$(printf '%q ' "${host[@]}") extract plugin/$plugin many.tar many-out"
extracted=$(find many-out -type f | wc -l)
size=$(stat -c %s terminal.txt)
if [ "$status" -eq 0 ] && [ "$extracted" -eq 20000 ] && [ "$size" -lt 100000 ]; then
  pass "extracting 20,000 entries on a terminal writes $size bytes to it"
else
  fail "extracting 20,000 entries on a terminal: exit status $status, $extracted files, $size bytes of output"
fi
check "  ... and the bar counts the files" has terminal.txt "20000/20000 files"

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
