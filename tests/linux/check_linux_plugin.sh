#!/usr/bin/env bash
# The Linux release plug-in exports the packer interface and ExtensionInitialize and nothing else,
# and a sub-module exports its two names; both need no other library than the C library's.
#   check_linux_plugin.sh PLUGIN SUBMODULE
set -uo pipefail
plugin=$1 module=$2
failures=0
check() {  # description expected actual
  if [ "$2" == "$3" ]; then echo "ok   $1"; else echo "FAIL $1"; diff <(echo "$2") <(echo "$3"); failures=$((failures + 1)); fi
}
exported() { nm -D --defined-only "$1" | awk '{print $3}' | sort; }
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort; }

expected_plugin=$(printf '%s\n' CanYouHandleThisFile CanYouHandleThisFileW CloseArchive ExtensionInitialize \
  GetBackgroundFlags GetPackerCaps OpenArchive OpenArchiveW ProcessFile ProcessFileW ReadHeader ReadHeaderExW \
  SetChangeVolProc SetChangeVolProcW SetProcessDataProc SetProcessDataProcW | sort)
check "plug-in exports only the interface" "$expected_plugin" "$(exported "$plugin")"
check "sub-module exports only its two names" "$(printf '%s\n' LoadSubModule UnloadSubModule)" "$(exported "$module")"
for library in "$plugin" "$module"; do
  others=$(needed "$library" | grep -v -E '^(libc|libm|libdl|libpthread|ld-linux-x86-64)\.so\.[0-9]+$')
  check "$(basename "$library") needs only the C library" "" "$others"
done
echo "$((4 - failures)) passed, $failures failed"
[ $failures -eq 0 ]
