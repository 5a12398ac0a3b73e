#!/usr/bin/env bash
# Each Windows binary must carry a version resource whose file and product versions are the
# project's version, with a description, the product name, and the copyright with the licence.
#   check_version_resource.sh OBJDUMP STRINGS VERSION FILE...
set -u
objdump="$1" strings="$2" version="$3"
shift 3
failed=0
for file in "$@"; do
  name="$(basename "$file")"
  # objdump -p lists the resource directory; its top-level entries are the types, and type 16
  # (0x10) is RT_VERSION.
  if ! "$objdump" -p "$file" | grep -qE '^[0-9a-f]+   Entry: ID: 0x000010,'; then
    echo "FAIL: $name: objdump -p shows no version resource"; failed=1; continue
  fi
  # The string table is UTF-16: every key is followed by its value.
  texts="$("$strings" -el "$file")"
  value() { printf '%s\n' "$texts" | grep -A1 -x "$1" | sed -n 2p; }
  for key in FileVersion ProductVersion; do
    [ "$(value "$key")" = "$version" ] || { echo "FAIL: $name: $key is '$(value "$key")', expected '$version'"; failed=1; }
  done
  [ "$(value ProductName)" = Morvane ] || { echo "FAIL: $name: ProductName is '$(value ProductName)'"; failed=1; }
  [ "$(value LegalCopyright)" = "Copyright (c) the Morvane authors. MIT License." ] ||
    { echo "FAIL: $name: LegalCopyright is '$(value LegalCopyright)'"; failed=1; }
  [ "$(value OriginalFilename)" = "$name" ] || { echo "FAIL: $name: OriginalFilename is '$(value OriginalFilename)'"; failed=1; }
  description="$(value FileDescription)"
  [ -n "$description" ] || { echo "FAIL: $name: no FileDescription"; failed=1; }
  echo "$name: version $(value FileVersion), \"$description\""
done
[ $failed -eq 0 ] && echo "version resources: OK"
exit $failed
