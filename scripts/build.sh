#!/usr/bin/env bash
# Builds the four configurations: build/native (Linux, sanitizers, for the tests), build/linux
# (the release Morvane.wcx64 for Linux file managers, staged with its sub-modules and INI file),
# build/win64 and build/win32.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MORVANE_BUILD_DIR:-$root/build}"

configure() {  # name [toolchain | cmake option]
  local args=(-S "$root" -B "$build/$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  case "${2:-}" in
    -D*) args+=("$2") ;;
    ?*) args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2") ;;
  esac
  [ -f "$build/$1/build.ninja" ] || cmake "${args[@]}" >/dev/null
  cmake --build "$build/$1"
}

configure native
configure linux -DMORVANE_LINUX_RELEASE=ON
configure win64 mingw-w64-x86_64.cmake
configure win32 mingw-w64-i686.cmake

# One CTest run over all four builds, so that one summary line closes it. The release packages
# are made from several builds at once, so their test sits here, above them.
cat > "$build/CTestTestfile.cmake" <<CTEST
subdirs("native" "linux" "win64" "win32")
add_test(release.package "bash" "$root/tests/release/package_test.sh" "$build")
set_tests_properties(release.package PROPERTIES PASS_REGULAR_EXPRESSION "[0-9]+ passed, 0 failed")
CTEST
