#!/usr/bin/env bash
# Builds the third-party libraries of the sub-modules from Debian's source packages, with Debian's
# patches applied and then ours (scripts/patches/PACKAGE/*.patch, fixes not yet in Debian's):
#  - libarchive: the static Windows libraries that the formats sub-module links, libarchive and the
#    libraries it reads through (liblzma, bzip2, zstd, lz4, expat), for each mingw-w64 triplet; zlib
#    comes from libz-mingw-w64-dev. (On Linux the formats sub-module uses Debian's libarchive-dev.)
#  - 7zip: 7-Zip's all-formats library (the Format7zF bundle, RAR left out as Debian's sources lack
#    its decoder), built by 7-Zip's own makefile, that the sevenzip sub-module loads
#    at run time: 7z.dll for each mingw-w64 triplet, 7z.so for Linux exporting only its three entry
#    points.
#   third-party.sh [--only LIBRARY] [TRIPLET...]
#     TRIPLET: x86_64-w64-mingw32, i686-w64-mingw32 (both libraries), x86_64-linux-gnu (7zip only);
#              default: all three
#     --only LIBRARY: libarchive or 7zip alone
# Result: build/third-party/TRIPLET/{include,lib} (7z.dll in TRIPLET/bin, 7z.so in TRIPLET/lib). A
# step already built from the same code, flags and sources is skipped, so a rerun costs nothing.
# Needs a deb-src entry (setup.sh adds one).
#
# Nothing that a sub-module links may take a thread-local slot or start a thread when it is loaded:
# liblzma is built without threads, zstd single-threaded, libarchive without pthreads. 7z.dll is
# built by the win32 thread model (no winpthreads); the sevenzip sub-module keeps it loaded once
# loaded.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cache="${MORVANE_BUILD_DIR:-$root/build}/third-party"
only=""
if [ "${1:-}" = --only ]; then
  only="${2:-}"
  shift 2 || true
  case "$only" in
    libarchive | 7zip) ;;
    *) echo "third-party: --only takes libarchive or 7zip" >&2; exit 2 ;;
  esac
fi
triplets=("$@")
[ ${#triplets[@]} -gt 0 ] || triplets=(x86_64-w64-mingw32 i686-w64-mingw32 x86_64-linux-gnu)
packages=()
[ "$only" = 7zip ] || packages+=(libarchive xz-utils bzip2 libzstd lz4 expat)
[ "$only" = libarchive ] || packages+=(7zip)
jobs=2
log="$cache/logs/fetch.log"

mkdir -p "$cache/sources"

# Our own fixes to a package, applied after Debian's: scripts/patches/PACKAGE/*.patch.
our_patches() { local patch; for patch in "$root/scripts/patches/$1"/*.patch; do [ ! -e "$patch" ] || echo "$patch"; done; }

# Unpacks a source package (Debian's patches and ours applied) into sources/PACKAGE/, once, and
# again when our patches change. The newest version the mirror still serves is taken: a mirror
# may list a version it no longer holds.
fetch() {  # PACKAGE
  local package="$1" folder="$cache/sources/$1" version patches=() checksum="" patch
  mapfile -t patches < <(our_patches "$package")
  [ ${#patches[@]} -eq 0 ] || checksum="$(cat "${patches[@]}" | sha256sum | cut -d' ' -f1)"
  [ -f "$folder/.unpacked" ] && [ "$(sed -n 2p "$folder/.unpacked")" = "$checksum" ] && return 0
  rm -rf "$folder" && mkdir -p "$folder"
  for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -V -r -u); do
    if (cd "$folder" && apt-get source -qq "$package=$version" >> "$log" 2>&1); then
      for patch in "${patches[@]}"; do
        # A version that has the fix already takes the patch reversed: nothing to do.
        patch -d "$(tree "$package")" -p1 -R --dry-run --force --quiet < "$patch" >> "$log" 2>&1 ||
          patch -d "$(tree "$package")" -p1 --forward --quiet < "$patch" >> "$log" 2>&1 || {
          echo "third-party: $patch does not apply to $package $version" >&2
          return 1
        }
      done
      { echo "$version"; [ -z "$checksum" ] || echo "$checksum"; } > "$folder/.unpacked"
      return 0
    fi
    rm -rf "${folder:?}"/*
  done
  echo "third-party: cannot fetch the Debian source of $package (is there a deb-src entry?)" >&2
  return 1
}

# The unpacked source tree of a package.
tree() { find "$cache/sources/$1" -mindepth 1 -maxdepth 1 -type d | head -n 1; }

# Identifies what a step is made of: its own code, the flags and its package's source version.
fingerprint() {  # STEP PACKAGE
  { declare -f "build_$1"; echo "$cflags"; cat "$cache/sources/$2/.unpacked"; } | sha256sum | cut -d' ' -f1
}

build_bzip2() {
  local source work="$build/bzip2"
  source="$(tree bzip2)"
  mkdir -p "$work"
  for file in blocksort huffman crctable randtable compress decompress bzlib; do
    "$cc" $cflags -D_FILE_OFFSET_BITS=64 -c "$source/$file.c" -o "$work/$file.o"
  done
  "$ar" rcs "$prefix/lib/libbz2.a" "$work"/*.o
  cp "$source/bzlib.h" "$prefix/include/"
}

build_lz4() {
  local source work="$build/lz4"
  source="$(tree lz4)"
  mkdir -p "$work"
  for file in lz4 lz4frame lz4hc xxhash; do
    "$cc" $cflags -c "$source/lib/$file.c" -o "$work/$file.o"
  done
  "$ar" rcs "$prefix/lib/liblz4.a" "$work"/*.o
  cp "$source/lib/lz4.h" "$source/lib/lz4hc.h" "$source/lib/lz4frame.h" "$prefix/include/"
}

build_zstd() {
  local source work="$build/zstd" file
  source="$(tree libzstd)"
  mkdir -p "$work"
  # Without ZSTD_MULTITHREAD the library never starts a thread; the x86-64 assembly is for
  # the System V calling convention only.
  for file in "$source"/lib/common/*.c "$source"/lib/compress/*.c "$source"/lib/decompress/*.c; do
    "$cc" $cflags -DZSTD_DISABLE_ASM -c "$file" -o "$work/$(basename "${file%.c}").o"
  done
  "$ar" rcs "$prefix/lib/libzstd.a" "$work"/*.o
  cp "$source/lib/zstd.h" "$source/lib/zstd_errors.h" "$prefix/include/"
}

build_xz() {
  local source work="$build/xz"
  source="$(tree xz-utils)"
  mkdir -p "$work"
  # mingw-w64 defines _M_X64, so liblzma calls _BitScanForward64 without including <intrin.h>
  # (which the 32-bit build's assembly files must not see).
  local extra=""
  [ "$triplet" = x86_64-w64-mingw32 ] && extra="-include intrin.h"
  (cd "$work" && "$source/configure" --host="$triplet" --prefix="$prefix" --disable-shared --enable-static \
      --disable-threads --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links \
      --disable-scripts --disable-doc --disable-nls CC="$cc" CFLAGS="$cflags $extra" &&
    make -j"$jobs" -C src/liblzma && make -C src/liblzma install) >> "$log" 2>&1
}

build_expat() {
  local source work="$build/expat"
  source="$(tree expat)/expat"
  # Without DTD support: xar's table of contents has no DTD, and Debian's patches test XML_DTD
  # for the value 1 that only its autotools build defines.
  cmake -S "$source" -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_C_FLAGS="$cflags" -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF \
    -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF \
    -DEXPAT_BUILD_FUZZERS=OFF -DEXPAT_DTD=OFF >> "$log" 2>&1
  cmake --build "$work" -j "$jobs" >> "$log" 2>&1
  cmake --install "$work" >> "$log" 2>&1
}

build_libarchive() {
  local source work="$build/libarchive"
  source="$(tree libarchive)"
  mkdir -p "$work/shim"
  # libarchive asks for <Bcrypt.h>; mingw-w64 ships <bcrypt.h>, and Linux file names are
  # case-sensitive.
  printf '#include <bcrypt.h>\n' > "$work/shim/Bcrypt.h"
  # The static libraries' headers would otherwise declare their functions dllimport. libarchive
  # looks for expat.h without the include folder that it found expat in.
  local defines="-DLZMA_API_STATIC -DXML_STATIC -I$work/shim -I$prefix/include"
  cmake -S "$source" -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_C_FLAGS="$cflags $defines" \
    -DCMAKE_FIND_ROOT_PATH="$prefix;/usr/$triplet" -DCMAKE_PREFIX_PATH="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DENABLE_TAR=OFF -DENABLE_CPIO=OFF -DENABLE_CAT=OFF -DENABLE_TEST=OFF \
    -DENABLE_INSTALL=OFF -DENABLE_WERROR=OFF -DENABLE_OPENSSL=OFF -DENABLE_NETTLE=OFF -DENABLE_MBEDTLS=OFF \
    -DENABLE_CNG=ON -DENABLE_LIBB2=OFF -DENABLE_LZO=OFF -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=ON \
    -DENABLE_PCREPOSIX=OFF -DENABLE_LIBGCC=OFF -DPOSIX_REGEX_LIB=NONE -DENABLE_ICONV=OFF -DENABLE_ACL=OFF \
    -DENABLE_XATTR=OFF -DENABLE_LZMA=ON -DENABLE_BZip2=ON -DENABLE_ZSTD=ON -DENABLE_LZ4=ON -DENABLE_ZLIB=ON \
    -DWINDOWS_VERSION=WIN7 -DHAVE_PTHREAD_H=OFF \
    -DZLIB_INCLUDE_DIR="/usr/$triplet/include" -DZLIB_LIBRARY="/usr/$triplet/lib/libz.a" \
    -DZLIB_WINAPI_EXITCODE=1 -DZLIB_WINAPI_EXITCODE__TRYRUN_OUTPUT= \
    -DBZIP2_INCLUDE_DIR="$prefix/include" -DBZIP2_LIBRARY_RELEASE="$prefix/lib/libbz2.a" \
    -DLIBLZMA_INCLUDE_DIR="$prefix/include" -DLIBLZMA_LIBRARY="$prefix/lib/liblzma.a" \
    -DZSTD_INCLUDE_DIR="$prefix/include" -DZSTD_LIBRARY="$prefix/lib/libzstd.a" \
    -DLZ4_INCLUDE_DIR="$prefix/include" -DLZ4_LIBRARY="$prefix/lib/liblz4.a" \
    -DEXPAT_INCLUDE_DIR="$prefix/include" -DEXPAT_LIBRARY="$prefix/lib/libexpat.a" >> "$log" 2>&1
  cmake --build "$work" --target archive_static -j "$jobs" >> "$log" 2>&1
  cp "$work/libarchive/libarchive_static.a" "$prefix/lib/libarchive.a"
  cp "$source/libarchive/archive.h" "$source/libarchive/archive_entry.h" "$prefix/include/"
}

build_sevenzip() {
  local source work="$build/7zip" system=() flags=() output
  source="$(tree 7zip)"
  mkdir -p "$work"
  case "$triplet" in
    x86_64-linux-gnu)
      # Only the entry points that a reader calls: the thousands of other symbols stay inside.
      printf '{\n  global: CreateObject; GetNumberOfFormats; GetHandlerProperty2;\n  local: *;\n};\n' > "$work/7z.map"
      flags=("DEB_7Z_LDFLAGS=-Wl,--version-script=$work/7z.map")
      output=lib/7z.so ;;
    *)
      # IS_MINGW when cross-compiling (7-Zip guesses it from %SystemDrive%); MSYSTEM for rm and
      # mkdir -p. The win32 thread model, as for every library a host may load and free.
      system=(IS_MINGW=1 MSYSTEM=MINGW CC="$triplet-gcc-win32" CXX="$triplet-g++-win32" RC="$triplet-windres")
      # 7-Zip's exports are stdcall on i686: the fix-up gives them their undecorated names. Windows
      # keeps a 32-bit thread's stack 4-byte aligned only: the functions that keep SSE values on
      # the stack (SHA-256 with the SHA extensions) align it themselves.
      [ "$triplet" = i686-w64-mingw32 ] &&
        flags=(LDFLAGS_STATIC_3=-Wl,--enable-stdcall-fixup MY_ARCH=-mincoming-stack-boundary=2)
      output=bin/7z.dll ;;
  esac
  # cmpl_gcc.mak: the C versions of CRC, AES and SHA, no assembler needed.
  make -C "$source/CPP/7zip/Bundles/Format7zF" -j"$jobs" -f ../../cmpl_gcc.mak DISABLE_RAR=1 O="$work" \
    "${system[@]}" "${flags[@]}"
  mkdir -p "$prefix/$(dirname "$output")"
  cp "$work/$(basename "$output")" "$prefix/$output"
  # Debian's patches leave stripping to the packager.
  "${strip_tool:-strip}" --strip-unneeded "$prefix/$output"
}

# Runs one step in the background, into a log of its own; its stamp is written when it succeeds.
start_step() {  # STEP:PACKAGE
  local step="${1%%:*}" package="${1#*:}"
  rm -f "$prefix/.built-$step"
  (
    log="$cache/logs/$triplet-$step.log"
    : > "$log"
    "build_$step" >> "$log" 2>&1
    fingerprint "$step" "$package" > "$prefix/.built-$step"
  ) &
  running+=("$!:$triplet:$step")
}

# Waits for every running step; names each that failed, with the end of its log.
wait_steps() {
  local entry failed=0
  for entry in "${running[@]}"; do
    if ! wait "${entry%%:*}"; then
      entry="${entry#*:}"
      echo "third-party: building ${entry#*:} for ${entry%%:*} failed; the end of $cache/logs/${entry%%:*}-${entry#*:}.log:" >&2
      tail -n 30 "$cache/logs/${entry%%:*}-${entry#*:}.log" >&2
      failed=1
    fi
  done
  running=()
  return $failed
}

mkdir -p "$cache/logs"
running=()
for package in "${packages[@]}"; do
  fetch "$package" &
  running+=("$!")
done
for pid in "${running[@]}"; do wait "$pid"; done
running=()

cflags="-O2 -ffunction-sections -fdata-sections"
# step:package. libarchive needs the others' headers and libraries; those need nothing of each
# other, so they build side by side with 7-Zip, and every triplet at once: most of libarchive's
# time is spent in configure scripts, one process each.
library_steps() {  # TRIPLET
  [ "$only" = 7zip ] || [ "$1" = x86_64-linux-gnu ] || echo bzip2:bzip2 lz4:lz4 zstd:libzstd xz:xz-utils expat:expat
  [ "$only" = libarchive ] || echo sevenzip:7zip
}
last=libarchive:libarchive

# Builds one triplet's libraries; what is already built from the same code, flags and sources is kept.
build_triplet() {  # TRIPLET
  triplet="$1"
  prefix="$cache/$triplet"
  local todo=() step steps=()
  read -r -a steps <<< "$(library_steps "$triplet" | tr '\n' ' ')"
  [ "$only" = 7zip ] || [ "$triplet" = x86_64-linux-gnu ] || steps+=("$last")
  for step in "${steps[@]}"; do
    [ "$(cat "$prefix/.built-${step%%:*}" 2>/dev/null)" = "$(fingerprint "${step%%:*}" "${step#*:}")" ] || todo+=("$step")
  done
  [ ${#todo[@]} -gt 0 ] || return 0
  echo "third-party: building ${todo[*]%%:*} for $triplet (a few minutes, once; logs: $cache/logs)"
  cc="$triplet-gcc-posix" ar="$triplet-ar" strip_tool="$triplet-strip"
  [ "$triplet" = x86_64-linux-gnu ] && cc=gcc ar=ar strip_tool=strip
  build="$cache/build-$triplet"
  rm -rf "$build"
  mkdir -p "$prefix/include" "$prefix/lib" "$build"
  # The project's toolchain files run test programs under Wine; these builds run none.
  toolchain="$build/toolchain.cmake"
  [ "$triplet" = x86_64-linux-gnu ] || cat > "$toolchain" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${triplet%%-*})
set(CMAKE_C_COMPILER $cc)
set(CMAKE_CXX_COMPILER $triplet-g++-posix)
set(CMAKE_RC_COMPILER $triplet-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triplet)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
TOOLCHAIN
  # 7-Zip builds beside the libarchive steps; libarchive waits for its own libraries only.
  running=()
  [[ " ${todo[*]} " != *" sevenzip:7zip "* ]] || start_step sevenzip:7zip
  local beside=("${running[@]}") failed=0
  running=()
  for step in "${todo[@]}"; do
    [ "$step" = "$last" ] || [ "$step" = sevenzip:7zip ] || start_step "$step"
  done
  wait_steps || failed=1
  if [ $failed = 0 ] && [[ " ${todo[*]} " == *" $last "* ]]; then
    start_step "$last"
    wait_steps || failed=1
  fi
  running=("${beside[@]}")
  wait_steps || failed=1
  [ $failed = 0 ] || return 1
  rm -rf "$build"
}

for triplet in "${triplets[@]}"; do
  case "$triplet" in
    x86_64-w64-mingw32 | i686-w64-mingw32 | x86_64-linux-gnu) ;;
    *) echo "third-party: unknown triplet $triplet" >&2; exit 2 ;;
  esac
done
pids=()
for triplet in "${triplets[@]}"; do
  build_triplet "$triplet" &
  pids+=("$!")
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
