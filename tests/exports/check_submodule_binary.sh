#!/usr/bin/env bash
# A sub-module DLL must import only system DLLs and export LoadSubModule and UnloadSubModule
# undecorated. Usage: check_submodule_binary.sh [--exports NAMES] OBJDUMP MODULE SYSTEM-DLL...
# (the system DLLs the module may import, without ".dll"; letter case does not matter). A library
# that ships beside a sub-module names its own exports: --exports "A B C" (sorted, undecorated).
set -u
expected_exports="LoadSubModule UnloadSubModule "
if [ "$1" = --exports ]; then expected_exports="$2 "; shift 2; fi
objdump="$1" module="$2"
shift 2
allowed="$(IFS='|'; echo "$*")"
dump="$("$objdump" -p "$module")" || { echo "cannot read $module"; exit 1; }
failed=0
imports=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p')
for dll in $imports; do
  if ! printf '%s\n' "$dll" | grep -qiE "^($allowed)\.dll$"; then
    echo "FAIL: imports a non-system DLL: $dll"; failed=1
  fi
done
exports=$(printf '%s\n' "$dump" | awk '/Ordinal\/Name Pointer/{t=1;next} t && /^[[:space:]]*\[/{print $NF; next} {t=0}' | sort | tr '\n' ' ')
if [ "$exports" != "$expected_exports" ]; then
  echo "FAIL: exported names are: $exports"; failed=1
fi
echo "imports: $(echo $imports); exports: $exports"
[ $failed -eq 0 ] && echo "$(basename "$module") exports and imports: OK"
exit $failed
