#!/usr/bin/env bash
# Makes the formats sub-module's test archives with Debian's real tools, into OUT:
#   tree/          the source tree: nested folders, non-ASCII and long names, empty file and folder
#   flat/          a few files without folders, for the formats that hold no folders
#   archives/      one archive of tree/ (flat/ for ar) per format and filter; archives.txt lists
#                  "file|source folder" for each
#   encrypted/     traditional.zip (zip -P), aes.zip (7z, AES-256), data.7z and headers.7z
#                  (7z -p, -mhe=on), all with the password "secret" and made of tree/, and
#                  aes-link.zip (a.txt, a symbolic link, z.txt)
#   foreign/       files that are no archive: a PNG, a text, an empty file, cut headers, zeros and
#                  an ext4 image
#   damaged/       small archives of every kind, cut at several points and with bytes changed
#   special/       sparse.tar (GNU tar -S), links.tar (a symbolic and a hard link; dangling-link.tar
#                  without the hard link's target), cp866.zip
#                  (names in code page 866, no Unicode mark), big.cpio (100,000 entries),
#                  bad-crc.zip (a.txt's stored data changed, b.txt intact), spaces.zip (a file
#                  named by four spaces), pax-sparse-0.1.tar,
#                  pax-sparse-1.0.tar (GNU tar's pax sparse members), links-v7.tar (a hard link
#                  in an old V7 archive), empty.tar (GNU tar's archive of nothing: one record of zeros)
#   volumes/       multi-volume RAR sets under every naming scheme (tests/formats/volumes/):
#                  rar4.part1.rar, rar4.part01.rar, rar4.part0001.rar and rar4.rar (with .r00,
#                  .r01) sets of three volumes, rar5.part01.rar of four, and gap.part1.rar whose
#                  second volume is missing; volumes.txt lists each set's volumes, in order
#   make_samples.sh OUT
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 OUT" >&2; exit 2; }
out="$1"
rm -rf "$out"
mkdir -p "$out"/{tree,flat,archives,encrypted,foreign,damaged,special,small,volumes}
volumes_source="$(cd "$(dirname "$0")" && pwd)/volumes"
cd "$out"
export TZ=UTC LC_ALL=C.UTF-8

# ---- Source trees (even seconds everywhere: ZIP's DOS times have two-second steps) -----------

long_dir="$(printf 'a_rather_long_folder_name_%.0s' 1 2 3)"              # 78 characters
long_file="$(printf 'and_an_even_longer_file_name_%.0s' 1 2 3 4 5).txt"  # 149 characters
mkdir -p "tree/docs/nested/deeper" "tree/Ünïcödé folder" "tree/empty folder" "tree/$long_dir/$long_dir"
printf 'Hello from inside an archive.\n' > tree/hello.txt
printf 'Nested three levels deep.\n' > tree/docs/nested/deeper/deep.txt
seq 1 20000 > tree/docs/numbers.txt
head -c 300000 /dev/urandom > tree/docs/random.bin
printf 'Ein Gruß aus Köln, 東京 too.\n' > "tree/Ünïcödé folder/grüße – 東京.txt"
printf 'A path of more than 300 characters.\n' > "tree/$long_dir/$long_dir/$long_file"
printf 'read only\n' > tree/read-only.txt
chmod 444 tree/read-only.txt
: > tree/empty.txt
find tree -type f -exec touch -d '2015-05-05 05:05:06' {} +
touch -d '2019-07-20 20:17:40' tree/hello.txt
touch -d '2001-01-01 00:00:02' tree/docs/random.bin
touch -d '2024-02-29 16:17:18' "tree/Ünïcödé folder/grüße – 東京.txt" tree/empty.txt
touch -d '2033-11-12 01:02:04' "tree/$long_dir/$long_dir/$long_file" tree/read-only.txt
find tree -type d -exec touch -d '2020-01-01 00:00:10' {} +

printf 'first\n' > flat/first.txt
head -c 5000 /dev/urandom > flat/second.bin
printf 'ünïcödé\n' > flat/ünïcödé.txt
touch -d '2022-02-22 22:22:22' flat/*

# A small tree for the damaged copies: a damaged archive is made many times over.
mkdir -p small/folder
printf 'small text\n' > small/folder/text.txt
head -c 100000 /dev/urandom > small/folder/data.bin
seq 1 3000 > small/numbers.txt
touch -d '2018-08-08 08:08:08' small/folder/* small/numbers.txt small/folder

# ---- Archives of every format and filter, made by bsdtar and Info-ZIP ------------------------

# name|bsdtar arguments|source folder
recipes=(
  "zip.zip|--format zip|tree"
  "7zip.7z|--format 7zip|tree"
  "iso9660.iso|--format iso9660|tree"
  "cpio.cpio|--format newc|tree"
  "xar.xar|--format xar|tree"
  "ar.a|--format ar|flat"
  "warc.warc|--format warc|flat"
  "tar.tar|--format pax|tree"
  "tar-gzip.tar.gz|--format pax -z|tree"
  "tar-bzip2.tar.bz2|--format pax -j|tree"
  "tar-xz.tar.xz|--format pax -J|tree"
  "tar-zstd.tar.zst|--format pax --zstd|tree"
  "tar-lz4.tar.lz4|--format pax --lz4|tree"
  "tar-lzma.tar.lzma|--format pax --lzma|tree"
  "tar-lzip.tar.lz|--format pax --lzip|tree"
  "tar-compress.tar.Z|--format pax -Z|tree"
  "tar-uu.tar.uu|--format pax --uuencode|tree"
)
: > archives.txt
for recipe in "${recipes[@]}"; do
  IFS='|' read -r name arguments source <<< "$recipe"
  # shellcheck disable=SC2086
  (cd "$source" && bsdtar $arguments -cf "../archives/$name" *)
  small=small
  [ "$source" = flat ] && small=flat
  (cd "$small" && bsdtar $arguments -cf "../damaged/$name" *)
  echo "$name|$source" >> archives.txt
done
(cd tree && zip -q -r -X ../archives/info-zip.zip .)
(cd small && zip -q -r -X ../damaged/info-zip.zip .)
echo "info-zip.zip|tree" >> archives.txt
# A cabinet holds no folders of its own.
if command -v gcab > /dev/null; then
  (cd flat && gcab -c -z ../archives/cab.cab -- *)
  (cd flat && gcab -c -z ../damaged/cab.cab -- *)
  echo "cab.cab|flat" >> archives.txt
fi
# RPM packages of flat/, with each payload compression that rpmbuild writes.
if command -v rpmbuild > /dev/null; then
  printf 'Name: flat\nVersion: 1\nRelease: 1\nSummary: flat\nLicense: MIT\nBuildArch: noarch\n%%description\nflat\n%%install\ncp -a %%{_sourcedir}/. %%{buildroot}/\n%%files\n/*\n' > flat.recipe
  for payload in gzip:w9.gzdio xz:w6.xzdio zstd:w19.zstdio; do
    rpmbuild -bb --quiet --define "_topdir $PWD/rpmbuild" --define "_sourcedir $PWD/flat" --define '_build_id_links none' \
      --define "_binary_payload ${payload#*:}" flat.recipe > /dev/null
    mv rpmbuild/RPMS/noarch/flat-1-1.noarch.rpm "archives/rpm-${payload%%:*}.rpm"
    echo "rpm-${payload%%:*}.rpm|flat" >> archives.txt
  done
  cp archives/rpm-gzip.rpm damaged/rpm-gzip.rpm
  rm -rf rpmbuild flat.recipe
fi
# An ISO image of zisofs-compressed files (mkzftree), one of them ending in a run of zeros.
if command -v mkzftree > /dev/null && command -v xorriso > /dev/null; then
  mkdir -p zisofs/docs
  printf 'Hello\n' > zisofs/hello.txt
  seq 1 20000 > zisofs/docs/numbers.txt
  { printf 'data before a long run of zeros\n'; head -c 300000 /dev/zero; } > zisofs/docs/zero-tail.bin
  find zisofs -type f -exec touch -d '2015-05-05 05:05:06' {} +
  mkzftree zisofs zisofs-compressed
  xorriso -as mkisofs -quiet -R -z -o archives/zisofs.iso zisofs-compressed 2> /dev/null
  rm -rf zisofs-compressed
  echo "zisofs.iso|zisofs" >> archives.txt
fi

# ---- Encrypted archives ----------------------------------------------------------------------

(cd tree && zip -q -r -P secret ../encrypted/traditional.zip .)
if command -v 7z > /dev/null; then
  (cd tree && 7z a -bd -tzip -psecret -mem=AES256 ../encrypted/aes.zip . > /dev/null)
  (cd tree && 7z a -bd -psecret ../encrypted/data.7z . > /dev/null)
  (cd tree && 7z a -bd -psecret -mhe=on ../encrypted/headers.7z . > /dev/null)
  (cd small && 7z a -bd -tzip -psecret -mem=AES256 ../damaged/aes.zip . > /dev/null)
  # libarchive cannot read a symbolic link's header in an AES ZIP, and goes on after it.
  mkdir -p link
  printf 'one\n' > link/a.txt && ln -s a.txt link/link && printf 'two\n' > link/z.txt
  (cd link && 7z a -bd -snl -tzip -psecret -mem=AES256 ../encrypted/aes-link.zip a.txt link z.txt > /dev/null)
fi
(cd small && zip -q -r -P secret ../damaged/traditional.zip .)

# ---- Files that are no archive ---------------------------------------------------------------

# A real 1x1 PNG: signature, IHDR, IDAT, IEND.
printf '\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x00\x01\x00\x00\x00\x01\x08\x06\x00\x00\x00\x1f\x15\xc4\x89\x00\x00\x00\x0dIDATx\x9cc\xf8\x0f\x00\x00\x01\x01\x00\x05\x18\xd8N\x00\x00\x00\x00IEND\xaeB`\x82' > foreign/picture.png
printf 'This is a text file.\nIt names no format at all.\n' > foreign/text.txt
: > foreign/empty.bin
head -c 100 archives/tar.tar > foreign/cut-header.tar
head -c 20 archives/zip.zip > foreign/cut-header.zip
head -c 30 archives/7zip.7z > foreign/cut-header.7z
# Zero blocks at the start, which TAR reads as its end: a file system image (ext4 leaves its first
# KiB empty) and zeros alone. An empty TAR archive is one record of them.
head -c 65536 /dev/zero > foreign/zeros.img
mke2fs -q -t ext4 -d flat foreign/ext4.img 4M > /dev/null
tar -cf special/empty.tar -T /dev/null

# ---- Damaged copies: cut at several points, and with bytes changed ---------------------------

for file in damaged/*; do
  size=$(stat -c %s "$file")
  name="${file#damaged/}"
  for cut in 64 $((size / 4)) $((size / 2)) $((size * 3 / 4)) $((size - 1)); do
    [ "$cut" -gt 0 ] && [ "$cut" -lt "$size" ] && head -c "$cut" "$file" > "damaged/cut-$cut-$name"
  done
  for at in 3 $((size / 10)) $((size / 2)) $((size * 9 / 10)) $((size - 30)); do
    [ "$at" -ge 0 ] && [ "$at" -lt "$size" ] || continue
    cp "$file" "damaged/flip-$at-$name"
    byte=$(od -An -tu1 -j "$at" -N 1 "$file" | tr -d ' ')
    printf "\\$(printf '%03o' $(( (byte ^ 0x5a) & 255 )))" | dd of="damaged/flip-$at-$name" bs=1 seek="$at" conv=notrunc status=none
  done
done

# ---- Special cases ---------------------------------------------------------------------------

mkdir -p sparse links cp866
# 3 MiB with data only in its middle and last bytes.
truncate -s 3M sparse/holes.bin
printf 'middle' | dd of=sparse/holes.bin bs=1 seek=1500000 conv=notrunc status=none
printf 'end' | dd of=sparse/holes.bin bs=1 seek=$((3 * 1024 * 1024 - 3)) conv=notrunc status=none
tar --format=gnu -S -cf special/sparse.tar -C sparse holes.bin

printf 'target data\n' > links/target.txt
ln -s target.txt links/symlink
ln links/target.txt links/hardlink.txt
tar --format=gnu -cf special/links.tar -C links target.txt symlink hardlink.txt
# The same without the member that the hard link names.
cp special/links.tar special/dangling-link.tar && tar --delete -f special/dangling-link.tar target.txt

# "Привет.txt" and "Ёж" in code page 866, stored by Info-ZIP as raw bytes.
mkdir -p "cp866/$(printf '\x85\xa6')"
printf 'privet\n' > "cp866/$(printf '\x8f\xe0\xa8\xa2\xa5\xe2').txt"
(cd cp866 && LC_ALL=C zip -q -r ../special/cp866.zip .)

# Stored without compression, the first file's data changed: its CRC no longer matches.
mkdir -p crc
printf 'first file\n' > crc/a.txt && printf 'second file\n' > crc/b.txt
(cd crc && zip -q -0 -X ../special/bad-crc.zip a.txt b.txt)
printf 'F' | dd of=special/bad-crc.zip bs=1 seek=35 conv=notrunc status=none

# A name of spaces only, which Windows cannot keep as it is.
mkdir -p spaces && printf 'only spaces\n' > "spaces/    " && (cd spaces && bsdtar --format zip -cf ../special/spaces.zip "    ")

# GNU tar's pax sparse members (formats 0.1 and 1.0), and a hard link in an old V7 archive.
for version in 0.1 1.0; do
  tar --format=pax --sparse --sparse-version="$version" -cf "special/pax-sparse-$version.tar" -C sparse holes.bin
done
tar --format=v7 -cf special/links-v7.tar -C links target.txt hardlink.txt

# Multi-volume RAR sets: RAR 4 (three volumes, one file) and RAR 5 (four volumes, nine files),
# decoded from libarchive's own test archives (tests/formats/volumes/README.md) and named by each
# scheme. volumes.txt lists each set's volumes in order, the first one first.
: > volumes.txt
for scheme in rar4.part:1 rar4.part:2 rar4.part:4 rar5.part:2 gap.part:1; do
  prefix="${scheme%:*}" width="${scheme#*:}" set=""
  source=rar4 count=3
  [ "$prefix" = rar5.part ] && source=rar5 count=4
  for part in $(seq 1 $count); do
    file="volumes/$prefix$(printf "%0${width}d" "$part").rar"
    bsdcat "$volumes_source/$source.$part.uu" > "$file"
    set+=" $file"
  done
  [ "$prefix" = gap.part ] || echo "${set# }" >> volumes.txt
done
rm volumes/gap.part2.rar
for part in 1 2 3; do
  suffix=rar && [ "$part" -gt 1 ] && suffix="r0$((part - 2))"
  bsdcat "$volumes_source/rar4.$part.uu" > "volumes/rar4.$suffix"
done
echo "volumes/rar4.rar volumes/rar4.r00 volumes/rar4.r01" >> volumes.txt

awk 'BEGIN { print "#mtree"; for (i = 1; i <= 100000; i++) printf "./d%03d/f%06d type=file mode=0644 size=0 time=1600000000\n", i % 1000, i }' > big.mtree
bsdtar --format newc -cf special/big.cpio @big.mtree
rm -f big.mtree

echo "samples in $out: $(wc -l < archives.txt) archives, $(ls damaged | wc -l) damaged, $(ls encrypted | wc -l) encrypted"
