#!/usr/bin/env bash
# The plug-in must import only system DLLs (its C++ runtime is linked in) and export the
# interface's fifteen names undecorated.
set -u
objdump="$1" plugin="$2"
dump="$("$objdump" -p "$plugin")" || { echo "cannot read $plugin"; exit 1; }
failed=0

system_dlls='^(KERNEL32|USER32|SHLWAPI|msvcrt|ADVAPI32|GDI32|ntdll)\.dll$'
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
for dll in $imports; do
  if ! printf '%s\n' "$dll" | grep -qiE "$system_dlls"; then
    echo "FAIL: imports a non-system DLL: $dll"; failed=1
  fi
done
[ -n "$imports" ] || { echo "FAIL: no import table found"; failed=1; }

exports=$(printf '%s\n' "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[[:space:]]*\[/{print $NF} t&&!/^[[:space:]]*\[/{t=0}' | sort)
expected=$(printf '%s\n' OpenArchive OpenArchiveW ReadHeader ReadHeaderExW ProcessFile ProcessFileW CloseArchive \
  SetChangeVolProc SetChangeVolProcW SetProcessDataProc SetProcessDataProcW GetPackerCaps CanYouHandleThisFile \
  CanYouHandleThisFileW GetBackgroundFlags | sort)
if [ "$exports" != "$expected" ]; then
  echo "FAIL: exported names differ:"; diff <(printf '%s\n' "$expected") <(printf '%s\n' "$exports"); failed=1
fi
echo "imports: $(echo $imports)"
[ $failed -eq 0 ] && echo "exports and imports: OK"
exit $failed
