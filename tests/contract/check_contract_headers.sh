#!/usr/bin/env bash
# The public headers as their users compile them: the sub-module contract and the packer interface,
# as plain C11 and as C++17, for 32-bit and 64-bit Windows and for this Linux machine, so that the
# layout assertions of both word sizes are checked whichever build runs this.
#   check_contract_headers.sh SOURCE-DIR GCC...   (each GCC's g++ sits beside it: x86_64-w64-mingw32-g++)
set -u
if [ $# -lt 2 ] || [ ! -d "$1/src" ]; then
  echo "usage: $0 SOURCE-DIR GCC..." >&2
  exit 2
fi
source_dir="$1"
shift
errors="$(mktemp)"
trap 'rm -f "$errors"' EXIT
failed=0
check() {  # header language standard compiler
  if printf '#include "%s"\n' "$1" |
     "$4" -x "$2" "-std=$3" -Wall -Wextra -pedantic -Werror -fsyntax-only -I "$source_dir/src" - 2> "$errors"; then
    echo "PASS: $1 as $2 with $4"
  else
    echo "FAIL: $1 as $2 with $4:"; head -5 "$errors"
    failed=$((failed + 1))
  fi
}
for cc in "$@"; do
  cxx="${cc%gcc*}g++${cc##*gcc}"
  for header in modules/SubModuleContract.h plugin/PackerInterface.h; do
    check "$header" c c11 "$cc"
    check "$header" c++ c++17 "$cxx"
  done
done
echo "$failed failed"
[ $failed -eq 0 ]
