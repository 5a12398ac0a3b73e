#!/usr/bin/env bash
# The Linux release plug-in exports the packer interface and ExtensionInitialize and nothing else,
# and each sub-module exports its two names. The plug-in and tar.so need no other library than the
# C library's; formats.so needs Debian's libarchive besides. 7-Zip's 7z.so, which ships beside
# sevenzip.so, exports its three entry points only and needs the C and C++ runtimes.
#   check_linux_plugin.sh PLUGIN SUBMODULE... [7z.so]
set -uo pipefail
plugin=$1
shift
passed=0 failures=0
check() {  # description expected actual
  if [ "$2" == "$3" ]; then
    echo "ok   $1"; passed=$((passed + 1))
  else
    echo "FAIL $1"; diff <(echo "$2") <(echo "$3"); failures=$((failures + 1))
  fi
}
exported() { nm -D --defined-only "$1" | awk '{print $3}' | sort; }
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort; }
system='libc|libm|libdl|libpthread|ld-linux-x86-64'

expected_plugin=$(printf '%s\n' CanYouHandleThisFile CanYouHandleThisFileW CloseArchive ExtensionInitialize \
  GetBackgroundFlags GetPackerCaps OpenArchive OpenArchiveW ProcessFile ProcessFileW ReadHeader ReadHeaderExW \
  SetChangeVolProc SetChangeVolProcW SetProcessDataProc SetProcessDataProcW | sort)
check "plug-in exports only the interface" "$expected_plugin" "$(exported "$plugin")"
check "$(basename "$plugin") needs only the C library" "" "$(needed "$plugin" | grep -v -E "^($system)\.so\.[0-9]+$")"
for module in "$@"; do
  name=$(basename "$module")
  if [ "$name" = 7z.so ]; then
    check "7z.so exports only its entry points" "$(printf '%s\n' CreateObject GetHandlerProperty2 GetNumberOfFormats)" \
      "$(exported "$module")"
    check "7z.so needs only the C and C++ runtimes" "" \
      "$(needed "$module" | grep -v -E "^($system|libstdc\+\+|libgcc_s)\.so\.[0-9]+$")"
    continue
  fi
  allowed=$system
  [ "$name" = formats.so ] && allowed="$system|libarchive"
  check "$name exports only its two names" "$(printf '%s\n' LoadSubModule UnloadSubModule)" "$(exported "$module")"
  check "$name needs only the C library$([ "$name" = formats.so ] && echo ' and libarchive')" "" \
    "$(needed "$module" | grep -v -E "^($allowed)\.so\.[0-9]+$")"
done
echo "$passed passed, $failures failed"
[ $failures -eq 0 ] && [ $passed -gt 0 ]
