#!/usr/bin/env bash
# Runs every command of the README as printed and checks that it does what the README says.
#   run_readme_commands.sh [README]        (default: README.md of this repository)
#
# Which blocks run, and how they are checked:
# - Every fenced block opened with ```sh runs in a fresh bash at the repository's root, with
#   errexit, so a block ends at its first failing command. It must exit with status 0 unless
#   its check says otherwise.
# - A check is an HTML comment (invisible on the rendered page) right after the block, perhaps
#   after blank lines:  <!-- check ... -->. Its text runs in bash after the block, with these:
#     expect_status N          the block's exit status
#     expect_stdout TEXT       the block's standard output holds TEXT (a fixed string)
#     expect_stderr TEXT       its standard error holds TEXT
#     expect_file PATH         PATH (relative to the root) is a file
#     expect_same_as PATH      the block's own text equals the file PATH, line ends aside
#                              (for a block that shows a file, e.g. an ```ini block)
#     skip REASON              the block is not run (say why)
# - A block that ends with status 77 after scripts/run-windows.sh said "SKIPPED: why" ran a
#   32-bit Windows program on a machine that cannot run one: it is reported as skipped.
#   $stdout and $stderr name files that hold the block's output.
# - Blocks of other languages run nothing; they are checked only when a check follows them.
# Ends with "N passed, M failed"; the exit status is 0 only when nothing failed.
set -u

root="$(cd "$(dirname "$0")/../.." && pwd)"
readme="${1:-$root/README.md}"
[ -f "$readme" ] || { echo "no README at $readme" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/readme-commands.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# Splits the README into blocks: N.lang, N.text, N.line (where it starts) and N.check.
awk -v dir="$work" '
  function flush_check() { if (in_check) { in_check = 0 } }
  /^```/ && !in_block {
    in_block = 1; n++; lang = substr($0, 4); gsub(/[ \t].*/, "", lang)
    print lang > (dir "/" n ".lang"); print NR > (dir "/" n ".line")
    printf "" > (dir "/" n ".text"); after = 0; next
  }
  /^```/ && in_block { in_block = 0; after = 1; next }
  in_block { print > (dir "/" n ".text"); next }
  in_check {
    line = $0; done = sub(/-->.*/, "", line)
    print line > (dir "/" n ".check")
    if (done) in_check = 0
    next
  }
  after && /^[ \t]*$/ { next }
  after && /^<!-- check/ {
    line = $0; sub(/^<!-- check:?/, "", line); done = sub(/-->.*/, "", line)
    print line > (dir "/" n ".check")
    in_check = !done; after = 0; next
  }
  { after = 0 }
' "$readme"

passed=0 failed=0
problems=()
expect_status() { [ "$status" -eq "$1" ] || problems+=("exit status $status, expected $1"); }
expect_stdout() { grep -qF -- "$1" "$stdout" || problems+=("no \"$1\" in its output"); }
expect_stderr() { grep -qF -- "$1" "$stderr" || problems+=("no \"$1\" in its error output"); }
expect_file() { [ -f "$root/$1" ] || problems+=("no file $1"); }
expect_same_as() {
  if [ ! -f "$root/$1" ]; then
    problems+=("no file $1 to compare with")
  elif ! diff <(tr -d '\r' < "$root/$1") <(tr -d '\r' < "$block") > "$work/diff.txt"; then
    problems+=("differs from $1: $(head -c 300 "$work/diff.txt")")
  fi
}
skip() { skipped="$*"; }

count=0
for ((n = 1; ; n++)); do
  [ -f "$work/$n.lang" ] || break
  lang="$(cat "$work/$n.lang")"
  block="$work/$n.text"
  line="$(cat "$work/$n.line")"
  check="$work/$n.check"
  [ "$lang" = sh ] || [ -f "$check" ] || continue
  count=$((count + 1))
  stdout="$work/$n.out" stderr="$work/$n.err"
  : > "$stdout"; : > "$stderr"
  problems=() skipped="" status=0
  # A skip is decided before the block runs.
  if [ -f "$check" ] && grep -q '^[[:space:]]*skip\b' "$check"; then
    . <(grep '^[[:space:]]*skip\b' "$check")
  fi
  summary="README line $line: $(grep -v "^export " "$block" | tail -1 | cut -c1-80)"
  if [ -n "$skipped" ]; then
    echo "SKIP: $summary ($skipped)"
    continue
  fi
  if [ "$lang" = sh ]; then
    (cd "$root" && bash -e "$block") > "$stdout" 2> "$stderr" < /dev/null
    status=$?
  fi
  if [ "$status" -eq 77 ] && grep -q '^SKIPPED: ' "$stderr"; then
    echo "SKIP: $summary ($(grep -m1 '^SKIPPED: ' "$stderr" | cut -c10-))"
    continue
  fi
  if [ -f "$check" ]; then
    . "$check"
  elif [ "$lang" = sh ]; then
    expect_status 0
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    passed=$((passed + 1))
    echo "PASS: $summary"
  else
    failed=$((failed + 1))
    echo "FAIL: $summary"
    for problem in "${problems[@]}"; do echo "  $problem"; done
    echo "  stdout: $(tail -c 400 "$stdout")"
    echo "  stderr: $(tail -c 400 "$stderr")"
  fi
done
[ $count -gt 0 ] || { echo "no blocks found in $readme" >&2; exit 1; }

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
