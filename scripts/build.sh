#!/usr/bin/env bash
# Builds the configurations named as arguments, or all of them: build/native (Linux, ASan and
# UBSan, for the tests), build/linux (the release Morvane.wcx64 for Linux file managers, staged
# with its sub-modules and INI file), build/win64, build/win32, build/fuzz (the libFuzzer targets,
# clang) and build/tsan (the stress test under ThreadSanitizer).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MORVANE_BUILD_DIR:-$root/build}"

configure() {  # name [cmake arguments...]
  local name="$1"
  shift
  [ -f "$build/$name/build.ninja" ] ||
    cmake -S "$root" -B "$build/$name" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$build/$name"
}

all=(native linux win64 win32 fuzz tsan)
names=("$@")
[ ${#names[@]} -gt 0 ] || names=("${all[@]}")
for name in "${names[@]}"; do
  case "$name" in
    native) configure native ;;
    linux) configure linux -DMORVANE_LINUX_RELEASE=ON ;;
    win64) configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" ;;
    win32) configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" ;;
    fuzz) configure fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMORVANE_FUZZ=ON ;;
    tsan) configure tsan -DMORVANE_TSAN=ON ;;
    *) echo "build.sh: unknown configuration $name (known: ${all[*]})" >&2; exit 2 ;;
  esac
done

# One CTest run over every build, so that one summary line closes it. The release packages are
# made from several builds at once, so their test sits here, above them.
if [ $# -eq 0 ]; then
  cat > "$build/CTestTestfile.cmake" <<CTEST
subdirs("native" "linux" "win64" "win32" "fuzz" "tsan")
add_test(release.package "bash" "$root/tests/release/package_test.sh" "$build")
set_tests_properties(release.package PROPERTIES PASS_REGULAR_EXPRESSION "[0-9]+ passed, 0 failed")
CTEST
fi
