#!/usr/bin/env bash
# Makes the sevenzip sub-module's test archives with Debian's real tools, into OUT:
#   tree/         the source tree: nested folders, non-ASCII and long names, an empty file and
#                 folder, a read-only file; flat/ a few ASCII files without folders
#   archives/     one archive per kind (cases.txt: "file|password|source folder or -")
#   expected/     per archive, its listing by `7z l -slt` as "kind|size|modified (UTC)|read-only|path"
#                 lines, sorted; for a compressed tar, the listing of the tar inside
#   reference/    per archive, what `7z x` extracts (of the tar inside, for a compressed tar)
#   encrypted/    wrong.zip: a ZipCrypto ZIP whose first file's password differs from the second's
#   foreign/      files that are no archive; rar/ a RAR archive made by hand, left to libarchive
#   damaged/      small archives of several kinds, cut at several points and with bytes changed
#   special/      links.tar (a symbolic and a hard link), solid.7z (many small files in one block)
#   make_samples.sh OUT
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 OUT" >&2; exit 2; }
out="$1"
rm -rf "$out"
mkdir -p "$out"/{tree,flat,archives,expected,reference,encrypted,foreign,damaged,special,small,work}
cd "$out"
export TZ=UTC LC_ALL=C.UTF-8
szip() { 7z "$@" -bd -bso0 -bsp0; }

# ---- Source trees (even seconds everywhere: FAT and ZIP keep two-second steps) ----------------

long_dir="$(printf 'a_rather_long_folder_name_%.0s' 1 2)"
long_file="$(printf 'and_an_even_longer_file_name_%.0s' 1 2 3).txt"
mkdir -p "tree/docs/nested/deeper" "tree/Ünïcödé folder" "tree/empty folder" "tree/$long_dir"
printf 'Hello from inside an archive.\n' > tree/hello.txt
printf 'Nested three levels deep.\n' > tree/docs/nested/deeper/deep.txt
seq 1 20000 > tree/docs/numbers.txt
head -c 300000 /dev/urandom > tree/docs/random.bin
printf 'Ein Gruß aus Köln, 東京 too.\n' > "tree/Ünïcödé folder/grüße – 東京.txt"
printf 'A long path.\n' > "tree/$long_dir/$long_file"
printf 'read only\n' > tree/read-only.txt
: > tree/empty.txt
find tree -type f -exec touch -d '2015-05-05 05:05:06' {} +
touch -d '2019-07-20 20:17:40' tree/hello.txt
touch -d '2001-01-01 00:00:02' tree/docs/random.bin
touch -d '2024-02-29 16:17:18' "tree/Ünïcödé folder/grüße – 東京.txt" tree/empty.txt
find tree -type d -exec touch -d '2020-01-01 00:00:10' {} +
chmod 444 tree/read-only.txt

printf 'first\n' > flat/FIRST.TXT
head -c 5000 /dev/urandom > flat/SECOND.BIN
seq 1 3000 > flat/THIRD.TXT
touch -d '2022-02-22 22:22:22' flat/*

mkdir -p small/folder
printf 'small text\n' > small/folder/text.txt
head -c 100000 /dev/urandom > small/folder/data.bin
seq 1 3000 > small/numbers.txt
touch -d '2018-08-08 08:08:08' small/folder/* small/numbers.txt small/folder

# ---- Archives ------------------------------------------------------------------------------------

: > cases.txt
case_() { echo "$1|$2|$3" >> cases.txt; }  # FILE PASSWORD SOURCE

(cd tree && szip a ../archives/solid.7z .) && case_ solid.7z "" tree
(cd tree && szip a -psecret -mhe=on ../archives/headers.7z .) && case_ headers.7z secret tree
(cd tree && szip a -psecret ../archives/data.7z .) && case_ data.7z secret tree
(cd tree && szip a -tzip ../archives/deflate.zip .) && case_ deflate.zip "" tree
(cd tree && szip a -tzip -psecret -mem=AES256 ../archives/aes.zip .) && case_ aes.zip secret tree
(cd tree && zip -q -r -P secret ../archives/zipcrypto.zip .) && case_ zipcrypto.zip secret tree
(cd tree && szip a -v100k ../archives/split.7z .) && case_ split.7z.001 "" tree
(cd tree && szip a -twim ../archives/image.wim .) && case_ image.wim "" tree
for filter in gz:--gzip xz:--xz zst:--zstd bz2:--bzip2; do
  tar --format=pax -C tree "${filter#*:}" -cf "archives/tar.tar.${filter%%:*}" .
  case_ "tar.tar.${filter%%:*}" "" tree
done
mke2fs -q -t ext4 -E root_owner=0:0 -d tree archives/ext4.img 8M > /dev/null && case_ ext4.img "" tree
mkfs.fat -C -n MORVANE archives/fat.img 4096 > /dev/null
MTOOLS_SKIP_CHECK=1 mcopy -s -m -i archives/fat.img tree/* ::/ && case_ fat.img "" tree
xorriso -as mkisofs -quiet -R -J -joliet-long -o archives/iso9660.iso tree 2> /dev/null && case_ iso9660.iso "" tree
genisoimage -quiet -udf -R -o archives/udf.iso tree 2> /dev/null && case_ udf.iso "" tree
mksquashfs tree archives/squashfs.sqfs -quiet -no-progress -all-root > /dev/null && case_ squashfs.sqfs "" tree
(cd flat && gcab -c -z ../archives/cab.cab -- *) && case_ cab.cab "" flat
(cd flat && arj a -y ../archives/arj.arj ./* > /dev/null) && case_ arj.arj "" flat
for disk in vpc:vhd vhdx:vhdx vmdk:vmdk qcow2:qcow2 vdi:vdi; do
  qemu-img convert -f raw -O "${disk%%:*}" archives/ext4.img "archives/disk.${disk#*:}" && case_ "disk.${disk#*:}" "" tree
done
qemu-img convert -f raw -O vpc -o subformat=fixed archives/ext4.img archives/fixed.vhd && case_ fixed.vhd "" tree
# An installer: makensis packs the flat files into a program.
cat > work/installer.nsi <<'NSI'
OutFile "installer.exe"
InstallDir "$PROGRAMFILES\Morvane Sample"
Unicode true
Section
  SetOutPath "$INSTDIR"
  File "FIRST.TXT"
  File "SECOND.BIN"
  File "THIRD.TXT"
SectionEnd
NSI
(cd flat && makensis -V1 -NOCD ../work/installer.nsi > /dev/null && mv installer.exe ../archives/installer.exe) &&
  case_ installer.exe "" -
# An installer database whose cabinet holds the flat files.
msibuild archives/package.msi -s "Morvane sample" && msibuild archives/package.msi -a payload.cab archives/cab.cab &&
  case_ package.msi "" flat

# ---- What 7-Zip itself lists and extracts ---------------------------------------------------------

# `7z l -slt` as "kind|size|modified|read-only|path", sorted: the fields the module passes on.
listing() {  # ARCHIVE PASSWORD
  szip l -slt -p"$2" "$1" | perl -CSD -ne '
    BEGIN { $in = 0 }
    if (/^----------$/) { $in = 1; next }
    next unless $in;
    chomp;
    if ($_ eq "") { flush(); next }
    $item{$1} = $2 if /^([^=]+?) = (.*)$/;
    END { flush() }
    sub flush {
      return unless exists $item{"Path"};
      my $dir = ($item{"Folder"} // "") eq "+" || ($item{"Attributes"} // "") =~ /^\S*D/;
      my $mode = $item{"Mode"} // "";
      my $attributes = $item{"Attributes"} // "";
      $mode = $1 if $mode eq "" && $attributes =~ / ([-dlrwxsStT]{10})$/;
      my $ro = (!$dir && (($attributes =~ /^\S*R/) || ($mode =~ /^..(.)..(.)..(.)/ && "$1$2$3" !~ /w/))) ? 1 : 0;
      $ro = 0 if $dir;
      my $time = $item{"Modified"} // ""; $time =~ s/\.\d+$//; $time = "-" if $time eq "";
      my $size = $dir ? 0 : ($item{"Size"} // 0); $size = 0 if $size eq "";
      # Names as the module shows them: no "./" in front, no entry for the root itself.
      my $path = $item{"Path"}; $path =~ s{^(\./)+}{};
      printf "%s|%s|%s|%d|%s\n", $dir ? "d" : "f", $size, $time, $ro, $path
        unless $path eq "" || $path eq "." || ($item{"Alternate Stream"} // "") eq "+";
      %item = ();
    }' | LC_ALL=C sort
}
while IFS='|' read -r file password source; do
  archive="archives/$file"
  name="${file%.001}"
  case "$file" in
    tar.tar.*)
      szip x -so "$archive" > "work/$name.tar"
      archive="work/$name.tar" ;;
  esac
  listing "$archive" "$password" > "expected/$name.txt"
  szip x -y -p"$password" -o"reference/$name" "$archive"
done < cases.txt

# ---- Special cases -------------------------------------------------------------------------------

mkdir -p links
printf 'target data\n' > links/target.txt
ln -s target.txt links/symlink
ln links/target.txt links/hardlink.txt
tar --format=gnu -cf special/links.tar -C links target.txt symlink hardlink.txt
# A name longer than the contract's record: five folders of 240 letters, then a file.
deep="long/$(printf 'x%.0s' $(seq 240))"
deep="$deep/$(basename "$deep")/$(basename "$deep")/$(basename "$deep")/$(basename "$deep")"
mkdir -p "$deep" && printf 'far down\n' > "$deep/end.txt"
(cd long && szip a ../special/long-name.7z .)
# Many small files in one solid block, for the extraction's order and cost.
mkdir -p many
for d in 0 1 2 3; do
  mkdir -p "many/d$d"
  for f in $(seq 1 50); do printf 'file %d of folder %d\n' "$f" "$d" > "many/d$d/f$f.txt"; done
done
(cd many && szip a -ms=on ../special/solid.7z .)
# ZipCrypto with two passwords: the first file's opens, the second's does not.
printf 'one\n' > work/one.txt && printf 'two\n' > work/two.txt
(cd work && zip -q -P secret ../encrypted/wrong.zip one.txt && zip -q -P other ../encrypted/wrong.zip two.txt)

# ---- Files that are no archive -------------------------------------------------------------------

printf '\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x00\x01\x00\x00\x00\x01\x08\x06\x00\x00\x00\x1f\x15\xc4\x89\x00\x00\x00\x0dIDATx\x9cc\xf8\x0f\x00\x00\x01\x01\x00\x05\x18\xd8N\x00\x00\x00\x00IEND\xaeB`\x82' > foreign/picture.png
printf 'This is a text file.\nIt names no format at all.\n' > foreign/text.txt
: > foreign/empty.bin
head -c 30 archives/solid.7z > foreign/cut-header.7z
head -c 20 archives/deflate.zip > foreign/cut-header.zip
cp /usr/bin/true foreign/program
# RAR's signature and a header: 7-Zip's library here has no RAR handler.
printf 'Rar!\x1a\x07\x00\xcf\x90\x73\x00\x00\x0d\x00\x00\x00\x00\x00\x00\x00' > foreign/header.rar
# 1 KiB of zeros and more: nothing claims it (no empty TAR, no file system).
head -c 65536 /dev/zero > foreign/zeros.img

# ---- Damaged copies: cut at several points, and with bytes changed ---------------------------------

(cd small && szip a ../damaged/solid.7z . && szip a -psecret -mhe=on ../damaged/headers.7z . &&
  szip a -tzip ../damaged/deflate.zip . && szip a -twim ../damaged/image.wim . && tar -czf ../damaged/tar.tar.gz .)
mke2fs -q -t ext4 -d small damaged/ext4.img 2M > /dev/null
qemu-img convert -f raw -O qcow2 damaged/ext4.img damaged/disk.qcow2
(cd flat && arj a -y ../damaged/arj.arj ./* > /dev/null)
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
rm -rf work links many

echo "samples in $out: $(wc -l < cases.txt) archives, $(ls damaged | wc -l) damaged"
