#!/usr/bin/env bash
# The setup's answers to a package registry that is half synced and to a machine that runs no
# 32-bit code, with apt and dpkg replaced by stubs that fail as such machines do.
# Ends with "N passed, M failed"; the exit status is 0 only when nothing failed.
set -u
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/setup-scripts-test.XXXXXX")"
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() {  # DESCRIPTION CONDITION...
  local what="$1"
  shift
  if "$@"; then passed=$((passed + 1)); echo "PASS: $what"; else failed=$((failed + 1)); echo "FAIL: $what"; fi
}

# Stubs. apt-get logs each call to calls.txt. STUB_UPDATE=fail fails the update; STUB_INSTALL
# names the install that succeeds: plain, target (-t), twins (-t with the twin's version), none.
# STUB_OFFERED: the packages an index offers; STUB_INSTALLED: those installed.
mkdir -p "$work/bin"
cat > "$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get $*" >> "$STUB_DIR/calls.txt"
args=" $* "
case "$args" in
  *" update "*) [ "${STUB_UPDATE:-ok}" = fail ] && { echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size"; exit 100; }; exit 0 ;;
esac
if [[ "$args" == *" -s "* ]]; then
  [[ "$args" == *"libfoo:amd64=1.0"* ]] && { echo "Inst wine32:i386"; exit 0; }
  echo " libwine:i386 : Depends: libfoo:i386 (>= 1.0) but it is not going to be installed"
  echo "E: Unable to correct problems, you have held broken packages."; exit 100
fi
case "${STUB_INSTALL:-plain}" in
  plain) exit 0 ;;
  target) [[ "$args" == *" -t "* ]] && exit 0 ;;
  twins) [[ "$args" == *" -t "* && "$args" == *"libfoo:amd64=1.0"* && "$args" == *"--allow-downgrades"* ]] && exit 0 ;;
esac
echo "E: Unable to correct problems, you have held broken packages."
exit 100
STUB
cat > "$work/bin/apt-cache" <<'STUB'
#!/usr/bin/env bash
case "$1" in
  policy) for p in $STUB_OFFERED; do
            [ "$p" = "$2" ] && { echo "$2:"; echo "  Candidate: 1.0"; exit 0; }
          done
          echo "$2:"; echo "  Candidate: (none)" ;;
  showsrc) for p in $STUB_OFFERED; do [ "src:$p" = "src:$2" ] && echo "Package: $2"; done ;;
esac
exit 0
STUB
cat > "$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
package="${*: -1}"
for p in $STUB_INSTALLED; do
  [ "$p" = "$package" ] || continue
  case "$*" in *Version*) echo -n "2.0" ;; *) echo -n "install ok installed" ;; esac
  exit 0
done
exit 1
STUB
printf '#!/bin/sh\nexec "$@"\n' > "$work/bin/sudo"
chmod +x "$work/bin"/*

# install CASE-NAME PACKAGE... with the STUB_ variables set: status in $status, messages in
# $work/CASE-NAME.err, apt-get's calls in $work/CASE-NAME.calls.
install() {
  local name="$1"
  shift
  rm -f "$work/calls.txt"
  ( export PATH="$work/bin:$PATH" STUB_DIR="$work" TMPDIR="$work"
    . "$root/scripts/packages.sh"
    install_packages "$@" ) > "$work/$name.out" 2> "$work/$name.err"
  status=$?
  touch "$work/calls.txt"
  mv "$work/calls.txt" "$work/$name.calls"
}
says() { grep -qF -- "$2" "$work/$1.err"; }
called() { grep -qE -- "$2" "$work/$1.calls"; }
lines() { [ "$(wc -l < "$work/$1.err")" -eq "$2" ]; }

STUB_OFFERED="wine64 wine32:i386 libfoo:i386" STUB_INSTALLED="" STUB_UPDATE=fail STUB_INSTALL=plain \
  install update-fails wine64
check "a failed update whose packages are offered is a warning" [ $status -eq 0 ]
check "  and says so in one line" says update-fails "apt-get update failed (E: Failed to fetch"
check "  and the install goes on" called update-fails "install .*wine64"

STUB_OFFERED="wine64" STUB_INSTALLED="" STUB_UPDATE=fail STUB_INSTALL=plain install not-offered wine64 wine32:i386
check "a failed update that leaves a package unoffered stops" [ $status -ne 0 ]
check "  in one line naming the package" lines not-offered 1
check "  and what was tried" says not-offered "no index offers wine32:i386; tried apt-get update"
check "  without an install" bash -c "! grep -q ' install ' '$work/not-offered.calls'"

STUB_OFFERED="wine32:i386" STUB_INSTALLED="" STUB_UPDATE=ok STUB_INSTALL=target install target wine32:i386
check "an install that does not resolve is tried with the release's own suite first" [ $status -eq 0 ]
codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
check "  which is -t $codename" called target "install .*-t $codename .*wine32:i386"

STUB_OFFERED="wine32:i386 libfoo:i386" STUB_INSTALLED="libfoo:amd64" STUB_UPDATE=ok STUB_INSTALL=twins \
  install twins wine32:i386
check "an i386 package whose amd64 twin is newer installs with the twin taken back" [ $status -eq 0 ]
check "  to the i386 twin's version" called twins "install .*--allow-downgrades.* wine32:i386 libfoo:amd64=1.0"

STUB_OFFERED="wine32:i386" STUB_INSTALLED="" STUB_UPDATE=ok STUB_INSTALL=none install nothing-resolves wine32:i386
check "an install that resolves no way fails" [ $status -ne 0 ]
check "  saying everything that was tried" says nothing-resolves "apt-get install failed, again with -t $codename, and with amd64 packages"

STUB_OFFERED="wine64" STUB_INSTALLED="wine64" STUB_UPDATE=fail STUB_INSTALL=none install rerun wine64
check "a rerun with everything installed calls no apt-get at all" [ $status -eq 0 ] && [ ! -s "$work/rerun.calls" ]

# ---- 32-bit programs on a machine that runs none ----
# A PE header: "MZ", the header's offset at 60, "PE\0\0", then the machine field.
pe() {  # FILE MACHINE-BYTES
  { printf 'MZ'; head -c 58 /dev/zero; printf '\100\0\0\0'; printf 'PE\0\0'; printf "$2"; head -c 64 /dev/zero; } > "$1"
}
pe "$work/x86.exe" '\114\001'
pe "$work/x64.exe" '\144\206'
printf '\177ELF\1\1\1\0' > "$work/refused" && chmod +x "$work/refused"
run_windows="$root/scripts/run-windows.sh"
MORVANE_I386_PROBE="$work/refused" "$run_windows" --check "$work/x86.exe" > "$work/x86.out" 2> "$work/x86.err"
status=$?
check "a 32-bit program where i386 code does not run ends with 77 (skipped)" [ $status -eq 77 ]
check "  and says why" grep -q "^SKIPPED: x86.exe is a 32-bit program and an i386 program does not run here" "$work/x86.err"
MORVANE_I386_PROBE="$work/refused" "$run_windows" --check "Z:$work/x64.exe" 2> "$work/x64.err"
check "a 64-bit program (named as Wine sees it) still runs there" [ $? -eq 0 ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
