#!/usr/bin/env bash
# formats.dll must import only system DLLs and export LoadSubModule and UnloadSubModule
# undecorated. bcrypt (CNG, for ZIP's AES) and ADVAPI32 (random numbers) are system DLLs too.
set -u
objdump="$1" module="$2"
dump="$("$objdump" -p "$module")" || { echo "cannot read $module"; exit 1; }
failed=0
imports=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p')
for dll in $imports; do
  if ! printf '%s\n' "$dll" | grep -qiE '^(KERNEL32|msvcrt|ntdll|ADVAPI32|bcrypt)\.dll$'; then
    echo "FAIL: imports a non-system DLL: $dll"; failed=1
  fi
done
exports=$(printf '%s\n' "$dump" | awk '/Ordinal\/Name Pointer/{t=1;next} t && /^[[:space:]]*\[/{print $NF; next} {t=0}' | sort | tr '\n' ' ')
if [ "$exports" != "LoadSubModule UnloadSubModule " ]; then
  echo "FAIL: exported names are: $exports"; failed=1
fi
echo "imports: $(echo $imports); exports: $exports"
[ $failed -eq 0 ] && echo "formats.dll exports and imports: OK"
exit $failed
