#!/usr/bin/env bash
# wcxhost as a Unix host of the Linux release plug-in: its listing (dates and attributes read in
# the Unix dialect) against GNU tar's, the password prompt answered by --password or cancelled
# without a terminal, the prompt on a terminal without echo, and the failure report on stderr.
#   wcxhost_unix_host.sh BUILD-DIR      (ends with "N passed, M failed")
set -uo pipefail
build=$(cd "$1" && pwd)
passed=0 failed=0
check() {  # description expected actual
  if [ "$2" == "$3" ]; then echo "ok   $1"; passed=$((passed + 1))
  else echo "FAIL $1"; diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/     /'; failed=$((failed + 1)); fi
}
work=$(mktemp -d /tmp/morvane-wcxhost.XXXXXX)
trap 'rm -rf "$work"' EXIT
export TZ=Asia/Tokyo
mkdir -p "$work/plugin" "$work/source/dir/sub"
cp "$build/Morvane.wcx64" "$build/tar.so" "$build/tests/linux/submodule/testmodule.so" "$work/plugin/"
printf '[General]\nVerboseModuleLoad=1\n[Modules]\ntar=tar.so\nlocked=testmodule.so\nmissing=missing.so\n' \
  > "$work/plugin/morvane64.ini"
host=("$build/wcxhost")
plugin="$work/plugin/Morvane.wcx64"

(
  cd "$work/source"
  echo text > dir/file.txt && echo fixed > dir/sub/readonly.txt && chmod 444 dir/sub/readonly.txt
  touch -d '2026-12-08 12:34:56 UTC' dir/file.txt
  touch -d '1999-12-31 23:59:58 UTC' dir/sub/readonly.txt dir/sub
  touch -d '2001-01-01 00:00:00 UTC' dir
  tar -cf "$work/sample.tar" dir
)
# wcxhost's columns: date, time, attributes (d, r, a) and name; GNU tar's view of the same.
listed=$("${host[@]}" list "$plugin" "$work/sample.tar" 2>"$work/stderr" |
  awk '$3 ~ /^[0-9]+-[0-9]+-[0-9]+$/ {print $3, $4, $5, $6}')
expected=$(tar -tvf "$work/sample.tar" --full-time | while read -r mode _ _ date time name; do
  case "$mode" in
    d*) attributes="d----" ;;
    ??w*) attributes="----a" ;;
    *) attributes="-r--a" ;;
  esac
  echo "$date $time $attributes ${name%/}"
done)
check "the listing shows tar's dates, folders and read-only files" "$expected" "$listed"
report=$(cat "$work/stderr")
check "the failure report comes once, on stderr, with its caption" \
  "wcxhost: the plug-in showed a message box \"Morvane failed modules:\", closed by wcxhost:
missing:$work/plugin/missing.so: cannot open shared object file: No such file or directory" "$report"

container=$(printf 'MORVANE-TEST-CONTAINER\nopen\t*\t1\npassword\tsecret\nentry\tname=inside.txt\tsize=6\tcontent=inside\n')
printf '%s\n' "$container" > "$work/locked.bin"
"${host[@]}" --password secret extract "$plugin" "$work/locked.bin" "$work/out" >/dev/null 2>&1
check "--password answers the prompt" "inside" "$(cat "$work/out/inside.txt" 2>/dev/null)"
status=0
"${host[@]}" list "$plugin" "$work/locked.bin" </dev/null >/dev/null 2>&1 || status=$?
check "without a terminal or --password the prompt is cancelled" "1" "$([ $status -ne 0 ] && echo 1 || echo 0)"
status=0
"${host[@]}" --password wrong list "$plugin" "$work/locked.bin" </dev/null >/dev/null 2>&1 || status=$?
check "a wrong --password does not open it" "1" "$([ $status -ne 0 ] && echo 1 || echo 0)"

# On a terminal (a pseudo-terminal from script(1)) the prompt asks, and the typed text is not echoed.
typed=$( (sleep 1; printf 'secret\n') | timeout 30 script -qec \
  "$(printf '%q ' "${host[@]}") list $(printf '%q' "$plugin") $(printf '%q' "$work/locked.bin")" /dev/null | tr -d '\r')
check "on a terminal the prompt asks without echo" "Password for |inside.txt|no echo" \
  "$(grep -o 'Password for ' <<<"$typed" | head -1)|$(grep -o 'inside.txt' <<<"$typed" | head -1)|$(grep -q secret <<<"$typed" && echo echoed || echo no echo)"

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
