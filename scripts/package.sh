#!/usr/bin/env bash
# Builds Morvane and writes the release into dist/:
#   Morvane-<version>-windows.zip        installs itself: open it in the file manager
#   Morvane-<version>-linux-x86_64.tar.gz for Double Commander on Linux (when build/linux exists)
#   SHA256SUMS
#
#   package.sh [--no-build] [--output DIR]
#     --no-build   package the build folders as they are (build/win64, build/win32, build/linux)
#     --output DIR write there instead of dist/
# MORVANE_BUILD_DIR names another folder of builds, as for scripts/build.sh.
# Sub-modules are shipped when the build has made them (tar always; sevenzip, with 7-Zip's library
# beside it, and formats once they are built); the INI files name exactly what is shipped, and
# anything left out is said at the end. Each package holds LICENSE and THIRD-PARTY-NOTICES.txt
# (scripts/third-party-notices.sh): the notices of every other project's code inside its binaries;
# no package is written when one of them is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MORVANE_BUILD_DIR:-$root/build}"
output="$root/dist"
run_build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) run_build=0; shift ;;
    --output) [ $# -ge 2 ] || { echo "package: --output needs a folder" >&2; exit 2; }; output="$2"; shift 2 ;;
    *) echo "usage: $0 [--no-build] [--output DIR]" >&2; exit 2 ;;
  esac
done

if [ $run_build -eq 1 ]; then
  "$root/scripts/setup.sh"
  "$root/scripts/build.sh"
fi
for tool in zip x86_64-w64-mingw32-strip i686-w64-mingw32-strip sha256sum; do
  command -v "$tool" > /dev/null || { echo "package: $tool is missing (run scripts/setup.sh)" >&2; exit 1; }
done

version="$(sed -n 's/^project(Morvane VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
# Every file in the packages carries the time of the last commit, so that a rebuild from the same
# commit gives the same archives.
stamp="$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)"
left_out=()
windows_zip="Morvane-$version-windows.zip"
linux_tar="Morvane-$version-linux-x86_64.tar.gz"

staging="$(mktemp -d "${TMPDIR:-/tmp}/morvane-package.XXXXXX")"
trap 'rm -rf "$staging"' EXIT
mkdir -p "$output"
output="$(cd "$output" && pwd)"
# A run that stops leaves no package behind, not even an older one.
rm -f "$output/$windows_zip" "$output/$linux_tar" "$output/SHA256SUMS"

# ---- What each file says ------------------------------------------------------------------------

# The masks under which Morvane offers a file to each module when UseExtensionFilters=1. formats
# (libarchive) reads every format best, plain and compressed TARs included, and comes first; tar,
# the small example module, reads plain TAR only and is offered what formats did not claim.
masks_tar='*.tar'
# sevenzip (7-Zip's library) reads what libarchive cannot (encrypted 7z, split volumes, disk images
# and their file systems, installers) and, first in the order, most of what both read; it leaves
# RAR, ISO 9660 (Rock Ridge's long names), XAR, TAR (also compressed) and lzma to formats.
masks_sevenzip='*.7z;*.001;*.zip;*.zipx;*.jar;*.cab;*.arj;*.wim;*.swm;*.esd;*.vhd;*.vhdx;*.vmdk;*.qcow;*.qcow2;*.vdi;*.img;*.ima;*.iso;*.udf;*.fat;*.ntfs;*.hfs;*.apfs;*.ext;*.ext2;*.ext3;*.ext4;*.squashfs;*.sqfs;*.cramfs;*.dmg;*.msi;*.msp;*.chm;*.exe;*.cpio;*.rpm;*.deb;*.lzh;*.lha;*.gz;*.bz2;*.xz;*.zst;*.z'
masks_formats='*.zip;*.zipx;*.jar;*.7z;*.rar;*.iso;*.cab;*.cpio;*.rpm;*.xar;*.lha;*.lzh;*.deb;*.tar;*.tar.*;*.tgz;*.tbz;*.tbz2;*.txz;*.tzst;*.tlz;*.taz'

# ini PLUGIN-FILE MODULE-FOLDER SEPARATOR MODULE-FILE...: an INI file for the modules given
# (MODULE-FOLDER may be empty: the modules lie beside the plug-in).
ini() {
  local plugin="$1" folder="$2" separator="$3"
  shift 3
  echo "; Morvane $version: the configuration of $plugin, read once when the file manager loads it."
  echo "; Keys and section names are case-sensitive. See readme.txt for every key."
  echo
  echo "[General]"
  echo "; 1: a module is offered only the files that match its masks in [Filters]."
  echo "UseExtensionFilters=1"
  echo "; 1: one message box lists the modules that failed to load."
  echo "VerboseModuleLoad=1"
  echo
  echo "[Modules]"
  echo "; name=library file, relative to this folder. A file is offered to the modules in this"
  echo "; order; the first one that claims it serves it."
  local file name
  for file in "$@"; do
    name="${file%.*}"
    echo "$name=${folder:+$folder$separator}$file"
  done
  echo
  echo "[Filters]"
  echo "; name=masks separated by \";\". A module without masks is offered every file."
  for file in "$@"; do
    name="${file%.*}"
    case "$name" in
      tar) echo "tar=$masks_tar" ;;
      sevenzip) echo "sevenzip=$masks_sevenzip" ;;
      formats) echo "formats=$masks_formats" ;;
    esac
  done
  echo
  echo "[tar]"
  echo "; Names are read as UTF-8. For an old archive whose names are in a Windows code page, add:"
  echo "; CodePage=1252"
  if [[ " $* " == *" sevenzip."* ]]; then
    echo
    echo "[sevenzip]"
    echo "; 7-Zip's formats left to the modules after it (see readme.txt); the programs would claim"
    echo "; every program file, an installer is opened through the archive inside it."
    echo "Exclude=PE;ELF;MachO;TE;COFF;Iso;Xar;Tar;lzma;lzma86"
  fi
}

crlf() { sed 's/$/\r/'; }

formats_text() {  # WITH-FORMATS WITH-SEVENZIP
  echo "Formats:"
  if [ "${2:-0}" = 1 ]; then
    echo "  sevenzip.dll 7-Zip's format library (7z.dll beside it): 7z (also with encrypted data or"
    echo "               names), split volumes (.001), ZIP (AES, ZipCrypto), WIM, CAB, ARJ, cpio,"
    echo "               single files in gzip, bzip2, xz, zstd, virtual disks (VHD, VHDX, VMDK, QCOW2,"
    echo "               VDI) and the file systems on them (ext, FAT, NTFS, HFS, APFS, SquashFS,"
    echo "               UDF), installers (NSIS, MSI), CHM, DMG and more; claimed by content."
  fi
  if [ "$1" = 1 ]; then
    echo "  formats.dll  ZIP (also encrypted), 7z, RAR (also in volumes), ISO 9660, CAB, cpio, RPM,"
    echo "               XAR, LHA, ar/deb, and TAR, also compressed with gzip, bzip2, xz, zstd, lz4,"
    echo "               lzip or compress."
  fi
  echo "  tar.dll      TAR: ustar, GNU and pax, uncompressed; claimed by content."
  if [ "$1" = 1 ]; then
    echo "               It is offered what the formats module did not claim; to have it read"
    echo "               plain TAR archives first, move its line in [Modules] above formats."
  fi
}

# ---- Windows ------------------------------------------------------------------------------------

win64="$build/win64" win32="$build/win32"
for file in "$win64/Morvane.wcx64" "$win64/tar.dll" "$win32/Morvane.wcx" "$win32/tar.dll"; do
  [ -f "$file" ] || { echo "package: $file is missing: build first (scripts/build.sh)" >&2; exit 1; }
done

windows="$staging/windows"
mkdir -p "$windows/x64" "$windows/x86"
cp "$win64/Morvane.wcx64" "$win32/Morvane.wcx" "$windows/"
# In the order in which files are offered to them: the module that reads a format best first;
# 7-Zip's library ships beside sevenzip.
modules64=() modules32=()
for module in sevenzip.dll formats.dll; do
  if [ -f "$win64/$module" ]; then modules64+=("$module"); else left_out+=("x64\\$module (not built)"); fi
  if [ -f "$win32/$module" ]; then modules32+=("$module"); else left_out+=("x86\\$module (not built)"); fi
done
modules64+=(tar.dll) modules32+=(tar.dll)
for module in "${modules64[@]}"; do cp "$win64/$module" "$windows/x64/"; done
for module in "${modules32[@]}"; do cp "$win32/$module" "$windows/x86/"; done
[ -f "$windows/x64/sevenzip.dll" ] && cp "$win64/7z.dll" "$windows/x64/"
[ -f "$windows/x86/sevenzip.dll" ] && cp "$win32/7z.dll" "$windows/x86/"
# Debug information stays in the build folders. strip writes a new PE time stamp: the commit's.
export SOURCE_DATE_EPOCH="$stamp"
# 7-Zip's library is shipped as built (stripped there).
x86_64-w64-mingw32-strip --strip-debug "$windows/Morvane.wcx64" "${modules64[@]/#/$windows/x64/}"
i686-w64-mingw32-strip --strip-debug "$windows/Morvane.wcx" "${modules32[@]/#/$windows/x86/}"

ini Morvane.wcx64 x64 '\' "${modules64[@]}" | crlf > "$windows/morvane64.ini"
ini Morvane.wcx x86 '\' "${modules32[@]}" | crlf > "$windows/morvane.ini"
with_formats=0 with_sevenzip=0
[ -f "$windows/x64/formats.dll" ] && [ -f "$windows/x86/formats.dll" ] && with_formats=1
[ -f "$windows/x64/sevenzip.dll" ] && [ -f "$windows/x86/sevenzip.dll" ] && with_sevenzip=1

{
  echo "[plugininstall]"
  if [ $with_sevenzip -eq 1 ]; then
    echo "description=Morvane $version: opens 7z, ZIP, RAR, ISO, disk images, installers and TAR archives through its sub-modules"
  elif [ $with_formats -eq 1 ]; then
    echo "description=Morvane $version: opens ZIP, 7z, RAR, ISO, CAB, cpio and TAR archives through its sub-modules"
  else
    echo "description=Morvane $version: opens TAR archives through its sub-modules"
  fi
  echo "type=wcx"
  echo "file=Morvane.wcx"
  echo "defaultdir=Morvane"
  echo "defaultextension=tar"
  echo "version=$version"
} | crlf > "$windows/pluginst.inf"

{
  echo "Morvane $version"
  echo
  echo "Morvane is a packer plug-in: the file manager opens archives through it, and it hands each"
  echo "file to the sub-modules in its x64 and x86 folders. It only reads archives."
  echo
  echo "Installing"
  echo "  Open this ZIP file in the file manager (Enter on it): it offers to install the plug-in,"
  echo "  with all its files, into the folder Morvane among its packer plug-ins. By hand: unpack"
  echo "  everything into one folder and add Morvane.wcx (the file manager picks Morvane.wcx64 when"
  echo "  it runs as a 64-bit program) in its packer plug-in settings, for the extension tar."
  echo "  Morvane tells archives by their content; as shipped (UseExtensionFilters=1) a module is"
  echo "  offered only the files that match its masks in [Filters]. Set it to 0 to offer every"
  echo "  file to every module."
  echo
  echo "Files"
  echo "  Morvane.wcx64, morvane64.ini, x64\\   the plug-in for 64-bit file managers, its settings, its modules"
  echo "  Morvane.wcx,   morvane.ini,   x86\\   the same for 32-bit file managers"
  echo "  LICENSE                              Morvane's licence (MIT)"
  echo "  THIRD-PARTY-NOTICES.txt              the licences of the other projects' code in the binaries"
  echo
  formats_text $with_formats $with_sevenzip
  echo
  echo "Settings (morvane64.ini / morvane.ini, beside the plug-in)"
  echo "  [General]  UseExtensionFilters=1  a module is offered only files that match its masks"
  echo "             VerboseModuleLoad=1    a message box lists the modules that failed to load"
  echo "  [Modules]  name=library           the modules, relative to the plug-in's folder, in the"
  echo "                                    order in which files are offered to them"
  echo "  [Filters]  name=*.ext;*.ext2      the masks of a module; none: every file is offered"
  echo "  [name]     key=value              handed to that module when it loads; tar knows"
  echo "                                    CodePage=<n> for names in a Windows code page;"
  echo "                                    sevenzip knows Formats=<7-Zip's format names>,"
  echo "                                    Exclude=<format names> and Nested=0 (show the file"
  echo "                                    inside a compressed stream or disk image as is)"
  echo "  Passwords of encrypted archives are asked for in a dialog and kept in memory until the"
  echo "  file manager unloads the plug-in; nothing is written."
} | crlf > "$windows/readme.txt"
crlf < "$root/LICENSE" > "$windows/LICENSE"
notices_found=1
if "$root/scripts/third-party-notices.sh" windows "$windows" "$version" > "$staging/windows-notices.txt"; then
  crlf < "$staging/windows-notices.txt" > "$windows/THIRD-PARTY-NOTICES.txt"
else
  notices_found=0
fi

# ---- Linux --------------------------------------------------------------------------------------

linux="$build/linux"
folder=""
if [ -f "$linux/Morvane.wcx64" ] && [ -f "$linux/tar.so" ]; then
  folder="$staging/Morvane-$version-linux-x86_64"
  mkdir -p "$folder"
  cp "$linux/Morvane.wcx64" "$linux/tar.so" "$folder/"
  linux_modules=()
  if [ -f "$linux/sevenzip.so" ]; then
    cp "$linux/sevenzip.so" "$linux/7z.so" "$folder/"
    linux_modules+=(sevenzip.so)
  else
    left_out+=("sevenzip.so in the Linux package (not built)")
  fi
  if [ -f "$linux/formats.so" ]; then
    cp "$linux/formats.so" "$folder/"
    linux_modules+=(formats.so)
  else
    left_out+=("formats.so in the Linux package (not built)")
  fi
  linux_modules+=(tar.so)
  strip --strip-debug "$folder/Morvane.wcx64" "${linux_modules[@]/#/$folder/}"
  ini Morvane.wcx64 "" / "${linux_modules[@]}" > "$folder/morvane64.ini"
  {
    echo "Morvane $version for Double Commander on Linux (x86-64)"
    echo
    echo "Installing"
    echo "  1. Copy this folder where it can stay, for example ~/.local/lib/morvane."
    echo "  2. In Double Commander: Configuration > Options > Plugins > Packer plugins (WCX) > Add,"
    echo "     choose Morvane.wcx64 in that folder and give it the extension tar (add more"
    echo "     extensions the same way). Morvane tells archives by their content, within the"
    echo "     masks of [Filters] while UseExtensionFilters=1 (as shipped)."
    echo "  3. morvane64.ini beside Morvane.wcx64 names the sub-modules (the .so files beside it);"
    echo "     its keys are those of the Windows package's readme.txt."
    echo
    echo "LICENSE is Morvane's licence (MIT); THIRD-PARTY-NOTICES.txt gives the licences of the"
    echo "other projects' code inside the binaries."
    echo
    formats_text "$([ -f "$folder/formats.so" ] && echo 1 || echo 0)" "$([ -f "$folder/sevenzip.so" ] && echo 1 || echo 0)" |
      sed 's/\.dll/.so /; s/7z\.dll/7z.so/'
  } > "$folder/INSTALL.txt"
  cp "$root/LICENSE" "$folder/LICENSE"
  "$root/scripts/third-party-notices.sh" linux "$folder" "$version" > "$staging/linux-notices.txt" || notices_found=0
  mv "$staging/linux-notices.txt" "$folder/THIRD-PARTY-NOTICES.txt"
else
  left_out+=("$linux_tar (no Linux release build in $linux)")
fi

# ---- The packages -------------------------------------------------------------------------------

if [ $notices_found -eq 0 ]; then
  echo "package: no package written: a shipped binary's third-party notices are missing (above)" >&2
  exit 1
fi

find "$windows" -exec touch -h -d "@$stamp" {} +
# pluginst.inf first: the file manager looks for it at the top of the archive.
(cd "$windows" && zip -X -q "$output/$windows_zip" pluginst.inf &&
  find . -mindepth 1 ! -name pluginst.inf -printf '%P\n' | LC_ALL=C sort | zip -X -q -D "$output/$windows_zip" -@)
shipped=("$windows_zip")

if [ -n "$folder" ]; then
  find "$folder" -exec touch -h -d "@$stamp" {} +
  tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$stamp" -C "$staging" -cf - "$(basename "$folder")" |
    gzip -n -9 > "$output/$linux_tar"
  shipped+=("$linux_tar")
fi

(cd "$output" && sha256sum "${shipped[@]}" > SHA256SUMS)

echo "package: Morvane $version in $output:"
(cd "$output" && ls -l "${shipped[@]}" SHA256SUMS | awk '{print "  " $NF ": " $5 " bytes"}')
for item in "${left_out[@]}"; do echo "package: left out: $item"; done
