#!/usr/bin/env bash
# Morvane inside the real Double Commander (Debian's doublecmd-gtk), driven on a virtual display:
# a fresh configuration registers the release Morvane.wcx64 for .tar with flags 68; a TAR archive
# made by GNU tar is opened from the panel, its listing is read back from Double Commander's own
# view ("Copy all shown columns") and saved as a screenshot, everything is extracted with F5 and
# the tree is compared with the source (contents, times, read-only modes); then a protected
# container of the test sub-module opens after its password is typed into Double Commander's
# prompt, and so does a ZIP encrypted by Info-ZIP, through the formats sub-module; last, a container
# whose module faults while listing shows an error, and Double Commander lives on and opens another
# archive. Every wait is bounded; a display that cannot start is a failure, never a pass.
#   doublecmd_end_to_end.sh BUILD-DIR      (ends with "N passed, M failed")
set -uo pipefail
build=$(cd "$1" && pwd)
passed=0 failed=0
pass() { echo "ok   $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1"; failed=$((failed + 1)); }
finish() {
  echo "$passed passed, $failed failed"
  [ $failed -eq 0 ] && [ $passed -gt 0 ]
  exit
}

for tool in doublecmd Xvfb xdotool xclip import tar zip; do
  command -v "$tool" >/dev/null || { fail "$tool is not installed (scripts/setup.sh installs it)"; finish; }
done
for file in Morvane.wcx64 tar.so formats.so morvane64.ini tests/linux/submodule/testmodule.so; do
  [ -f "$build/$file" ] || { fail "$build/$file is missing: build the release configuration first"; finish; }
done

work=$(mktemp -d /tmp/morvane-doublecmd.XXXXXX)
xvfb_pid="" dc_pid="" clip_pid=""
cleanup() {
  for pid in $clip_pid $dc_pid $xvfb_pid; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export LANG=C.UTF-8 LC_ALL=C.UTF-8 TZ="${TZ:-Asia/Tokyo}"

# wait_until SECONDS COMMAND...: polls every quarter second; false when the time runs out.
wait_until() {
  local limit=$(( $1 * 4 )) i=0
  shift
  while ! "$@" >/dev/null 2>&1; do
    i=$((i + 1))
    [ $i -ge $limit ] && return 1
    sleep 0.25
  done
}

# --- The plug-in folder, the configuration, the archives -------------------------------------
mkdir -p "$work/home" "$work/config" "$work/left" "$work/right" "$work/plugin" "$work/source"
cp "$build/Morvane.wcx64" "$build/tar.so" "$build/formats.so" "$build/tests/linux/submodule/testmodule.so" "$work/plugin/"
# A module that cannot load: its failure report must be Double Commander's message box.
printf '[General]\nVerboseModuleLoad=1\n\n[Modules]\ntar=tar.so\nlocked=testmodule.so\nformats=formats.so\nmissing=missing.so\n' \
  > "$work/plugin/morvane64.ini"
cat > "$work/config/doublecmd.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<doublecmd DCVersion="1.0.10" ConfigVersion="13">
  <Plugins><WcxPlugins>
    <WcxPlugin Enabled="True"><ArchiveExt>tar</ArchiveExt><Path>$work/plugin/Morvane.wcx64</Path><Flags>68</Flags></WcxPlugin>
    <WcxPlugin Enabled="True"><ArchiveExt>zip</ArchiveExt><Path>$work/plugin/Morvane.wcx64</Path><Flags>68</Flags></WcxPlugin>
  </WcxPlugins></Plugins>
</doublecmd>
XML

(
  cd "$work/source"
  mkdir -p docs/sub docs/empty
  echo "hello from the archive" > docs/hello.txt
  echo "deep inside" > docs/sub/deep.txt
  echo "do not change me" > docs/readonly.txt
  head -c 300000 /dev/urandom > docs/sub/random.bin
  echo "at the top" > notes.txt
  chmod 444 docs/readonly.txt
  touch -d '2026-12-08 12:34:56 UTC' docs/hello.txt
  touch -d '2001-01-01 00:00:00 UTC' docs/sub/deep.txt docs/sub/random.bin
  touch -d '2010-06-15 09:30:00 UTC' docs/readonly.txt notes.txt
  touch -d '2005-05-05 05:05:05 UTC' docs/empty
  touch -d '2002-02-02 02:02:02 UTC' docs/sub
  touch -d '2003-03-03 03:03:03 UTC' docs
  tar -cf "$work/left/sample.tar" docs notes.txt
  mkdir -p "$work/zipped"
  echo "only with the password" > "$work/zipped/secret.txt"
  touch -d '2015-10-21 16:29:00 UTC' "$work/zipped/secret.txt"
  cd "$work/zipped" && zip -q -P secret -X "$work/left/secret.zip" secret.txt
)
inside_time=$(( $(date -d '2020-02-29 12:00:00 UTC' +%s) * 10000000 + 116444736000000000 ))
printf 'MORVANE-TEST-CONTAINER\nopen\t*\t1\npassword\tsecret\nentry\tname=inside.txt\tsize=6\tcontent=inside\tmtime=%s\n' \
  "$inside_time" > "$work/left/locked.tar"
# Last in the panel: its module faults with an access violation at the first header.
printf 'MORVANE-TEST-CONTAINER\nopen\t*\t1\nfault\tReadEntryProc\taccess\nentry\tname=never.txt\n' \
  > "$work/left/zz-faults.tar"

# Double Commander's columns for the entries of a source folder, folders first: name, extension,
# size, date and mode (sizes under 1 KiB only, which it shows in bytes).
columns() {
  local path name base ext when
  for path in "$1"/*; do
    [ -d "$path" ] || continue
    when=$(date -d "@$(stat -c %Y "$path")" '+%m/%d/%y %H:%M:%S')
    printf '[%s]\t\t<DIR>\t%s\t%s\n' "$(basename "$path")" "$when" "$(stat -c %A "$path")"
  done
  for path in "$1"/*; do
    [ -d "$path" ] && continue
    name=$(basename "$path") when=$(date -d "@$(stat -c %Y "$path")" '+%m/%d/%y %H:%M:%S')
    base=${name%.*} ext=${name##*.}
    [ "$base" == "$name" ] && ext=""
    printf '%s\t%s\t%s\t%s\t%s\n' "$base" "$ext" "$(stat -c %s "$path")" "$when" "$(stat -c %A "$path")"
  done
}

# --- The display and the file manager ---------------------------------------------------------
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
display_decided() { grep -q '[0-9]' "$work/display" || ! kill -0 "$xvfb_pid" 2>/dev/null; }
wait_until 20 display_decided
if ! grep -q '[0-9]' "$work/display"; then
  fail "the virtual display (Xvfb) did not start: $(tail -3 "$work/xvfb.log" | tr '\n' ' ')"
  finish
fi
export DISPLAY=":$(head -1 "$work/display")"
pass "virtual display $DISPLAY started"

HOME="$work/home" doublecmd --config-dir="$work/config" --no-splash -L "$work/left" -R "$work/right" \
  >"$work/doublecmd.log" 2>&1 &
dc_pid=$!
main_window() { xdotool search --onlyvisible --name "Double Commander" | head -1 | grep -q .; }
if ! wait_until 90 main_window; then
  fail "Double Commander's window did not show within 90 s"
  finish
fi
window=$(xdotool search --onlyvisible --name "Double Commander" | head -1)
xdotool windowsize "$window" 1200 700 windowmove "$window" 0 0
xdotool windowfocus --sync "$window" 2>/dev/null
sleep 1
pass "Double Commander started"

keys() { xdotool key --delay 120 "$@"; sleep 0.5; }

# The active panel's selected rows as Double Commander shows them (Mark > Copy all shown columns).
shown_columns() {
  printf 'nothing copied' | xclip -selection clipboard -i &
  clip_pid=$!
  sleep 0.3
  keys KP_Multiply  # select everything
  keys alt+m Up Up Return
  local copied=""
  for _ in $(seq 1 40); do
    copied=$(timeout 5 xclip -o -selection clipboard 2>/dev/null)
    [ -n "$copied" ] && [ "$copied" != "nothing copied" ] && break
    sleep 0.25
  done
  keys KP_Multiply  # and nothing again
  printf '%s\n' "$copied"
}

compare() {  # description expected actual
  if [ "$2" == "$3" ]; then pass "$1"; else fail "$1"; diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/     /'; fi
}

# The panel may still be loading: its columns are read again until they match, ten times at most.
expect_columns() {  # description expected
  local shown=""
  for _ in $(seq 1 10); do
    shown=$(shown_columns)
    [ "$shown" == "$2" ] && break
    sleep 1
  done
  compare "$1" "$2" "$shown"
}

# --- Open the archive from the panel: rows are [..], locked.tar, sample.tar -------------------
keys Home Down Down Return
report_shown() { xdotool search --onlyvisible --name "Morvane failed modules:" | grep -q .; }
if wait_until 30 report_shown; then
  pass "the failure report is Double Commander's message box, captioned \"Morvane failed modules:\""
  report=$(xdotool search --onlyvisible --name "Morvane failed modules:" | head -1)
  import -window "$report" "$work/report.png" 2>/dev/null
  xdotool windowfocus --sync "$report" 2>/dev/null
  keys Return
  if wait_until 10 bash -c "! xdotool search --onlyvisible --name 'Morvane failed modules:' | grep -q ."; then
    pass "the report is dismissed with Return"
  else
    fail "the report did not go away"
  fi
else
  fail "no failure report within 30 s"
fi
expect_columns "the archive's root lists one folder with its own date, and the top file" "$(columns "$work/source")"
keys Home Down Return  # [..], [docs], notes.txt: into docs
expect_columns "the folder docs lists its folders, files, dates and modes" "$(columns "$work/source/docs")"
import -window root -crop 600x330+0+100 "$build/doublecmd-listing.png" 2>/dev/null
keys BackSpace

# --- Extract everything with F5 into the right panel's folder --------------------------------
keys KP_Multiply F5
sleep 1.5
keys Return
tree_of() {  # type, mode, time and content digest of every path below a folder
  (cd "$1" && find . -mindepth 1 | sort | while read -r path; do
    if [ -d "$path" ]; then echo "$path d $(stat -c '%A %Y' "$path")"
    else echo "$path f $(stat -c '%A %Y' "$path") $(md5sum < "$path" | cut -c1-32)"; fi
  done)
}
same_tree() { [ "$(tree_of "$work/source")" == "$(tree_of "$work/right")" ]; }
wait_until 60 same_tree
compare "F5 extracts every file and folder with its content, time and read-only mode" \
  "$(tree_of "$work/source")" "$(tree_of "$work/right")"

# --- The protected container: the password is typed into Double Commander's prompt -----------
keys BackSpace
sleep 1
keys Home Down Return
prompt_shown() { xdotool search --onlyvisible --name "Enter password:" | grep -q .; }
if wait_until 30 prompt_shown; then
  pass "Double Commander shows Morvane's password prompt"
  prompt=$(xdotool search --onlyvisible --name "Enter password:" | head -1)
  xdotool windowfocus --sync "$prompt" 2>/dev/null
  xdotool type --delay 80 secret
  keys Return
  expect_columns "the protected container opens with the typed password" \
    "$(printf 'inside\ttxt\t6\t%s\t-rw-r--r--' "$(date -d '2020-02-29 12:00:00 UTC' '+%m/%d/%y %H:%M:%S')")"
else
  fail "no password prompt within 30 s"
  import -window root "$work/no-prompt.png" 2>/dev/null
fi

# --- An encrypted ZIP through the formats sub-module: prompt, listing, extraction -------------
keys BackSpace
sleep 1
keys Home Down Down Down Return  # [..], locked.tar, sample.tar, secret.zip
if wait_until 30 prompt_shown; then
  pass "the encrypted ZIP asks for its password in Double Commander's prompt"
  prompt=$(xdotool search --onlyvisible --name "Enter password:" | head -1)
  xdotool windowfocus --sync "$prompt" 2>/dev/null
  xdotool type --delay 80 secret
  keys Return
  expect_columns "the encrypted ZIP lists its file with size, date and mode" "$(columns "$work/zipped")"
  keys KP_Multiply F5
  sleep 1.5
  keys Return
  secret_extracted() { cmp -s "$work/zipped/secret.txt" "$work/right/secret.txt"; }
  wait_until 60 secret_extracted
  compare "F5 extracts the encrypted file with its content and time" \
    "$(stat -c '%Y' "$work/zipped/secret.txt") $(md5sum < "$work/zipped/secret.txt")" \
    "$(stat -c '%Y' "$work/right/secret.txt" 2>/dev/null) $(md5sum < "$work/right/secret.txt" 2>/dev/null)"
else
  fail "no password prompt for the encrypted ZIP within 30 s"
  import -window root "$work/no-zip-prompt.png" 2>/dev/null
fi

# --- A module that faults while listing: an error, and Double Commander goes on -----------------
keys BackSpace
sleep 1
keys Home Down Down Down Down Return  # [..], locked.tar, sample.tar, secret.zip, zz-faults.tar
fault_shown() { xdotool search --onlyvisible --name "Morvane: a module faulted" | grep -q .; }
if wait_until 30 fault_shown; then
  pass "the fault is reported in Double Commander's message box, captioned \"Morvane: a module faulted\""
  box=$(xdotool search --onlyvisible --name "Morvane: a module faulted" | head -1)
  xdotool windowfocus --sync "$box" 2>/dev/null
  keys Return
else
  fail "no fault report within 30 s"
  import -window root "$work/no-fault-report.png" 2>/dev/null
fi
# Double Commander shows the archive empty: [..] alone.
sleep 1
if kill -0 "$dc_pid" 2>/dev/null; then pass "Double Commander still runs after the module faulted"; else fail "Double Commander ended"; fi
xdotool windowfocus --sync "$window" 2>/dev/null
keys BackSpace
sleep 1
keys Home Down Down Return  # sample.tar again
expect_columns "another archive opens and lists after the fault" "$(columns "$work/source")"

if grep -q "Morvane failed modules" "$work/doublecmd.log"; then fail "the failure report went to stderr as well"; fi
keys Escape alt+x
dc_exited() { ! kill -0 "$dc_pid" 2>/dev/null; }
if wait_until 20 dc_exited; then pass "Double Commander exits cleanly"; else fail "Double Commander did not exit within 20 s"; fi
dc_pid=""
finish
