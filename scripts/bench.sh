#!/usr/bin/env bash
# Measures Morvane against its peers in one run and writes docs/benchmarks.md with its table and
# docs/benchmarks-listing.png. Each comparison runs its sides alternately, round after round, so
# that a busy machine slows both; the page gives medians and the spread of the rounds.
#   scripts/bench.sh [--quick] [--no-build] [--output DIR]
#     --quick      3 rounds instead of 5, and no 32-bit Wine runs outside B1 and B4
# Runs under Wine take at most 3 rounds; Wine lists 10^6 entries once, in the 64-bit build only.
#     --no-build   use the builds that are there (build/linux, build/win64, build/win32)
#     --output DIR write the page and the plot into DIR instead of docs/
# Not part of the tests: its numbers depend on the machine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MORVANE_BUILD_DIR:-$root/build}"
rounds=5 quick=0 do_build=1 output="$root/docs"
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) rounds=3 quick=1 ;;
    --no-build) do_build=0 ;;
    --output) output="$2"; shift ;;
    *) echo "usage: scripts/bench.sh [--quick] [--no-build] [--output DIR]" >&2; exit 2 ;;
  esac
  shift
done
# The largest listing; smaller values shorten a trial run (entries, a power of ten >= 1000).
max_entries="${MORVANE_BENCH_MAX_ENTRIES:-1000000}"
big_bytes="${MORVANE_BENCH_BIG_BYTES:-1073741824}"

if [ "$do_build" = 1 ]; then
  "$root/scripts/setup.sh" >/dev/null
  "$root/scripts/build.sh" linux win64 win32 >/dev/null
fi
for tool in tar bsdtar cp valgrind gnuplot wineserver 7z; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/setup.sh installs it)" >&2; exit 3; }
done
. "$root/scripts/wine-session.sh"
wine_cleanup="$(trap -p EXIT | sed -E "s/^trap -- '(.*)' EXIT$/\1/")"
# In memory when the system offers it: a busy disk would otherwise decide every extraction.
place="${MORVANE_BENCH_DIR:-}"
if [ -z "$place" ]; then
  place="${TMPDIR:-/tmp}"
  [ -d /dev/shm ] && [ -w /dev/shm ] && place=/dev/shm
fi
work="$(mktemp -d "$place/morvane-bench.XXXXXX")"
trap 'rm -rf "$work"; '"$wine_cleanup" EXIT
results="$work/results"  # lines of "label seconds"
: > "$results"
log() { echo "bench: $*" >&2; }

# ---- the plug-in folders: one module each, as a file manager would have them installed ----

# stage FOLDER BUILD MODULE-FILE... : the build's plug-in with an INI naming these modules.
stage() {
  local folder="$1" from="$2" plugin ini sub
  shift 2
  case "$from" in
    linux) plugin=Morvane.wcx64 ini=morvane64.ini sub=x64 ;;
    win64) plugin=Morvane.wcx64 ini=morvane64.ini sub=x64 ;;
    win32) plugin=Morvane.wcx ini=morvane.ini sub=x86 ;;
  esac
  mkdir -p "$folder/$sub"
  cp "$build/$from/$plugin" "$folder/"
  { printf '[General]\nUseExtensionFilters=0\nVerboseModuleLoad=0\n[Modules]\n'
    for module in "$@"; do printf '%s=%s/%s\n' "$(basename "${module%.*}")" "$sub" "$(basename "$module")"; done
  } > "$folder/$ini"
  for module in "$@"; do cp "$module" "$folder/$sub/"; done
  echo "$folder/$plugin"
}
ext() { [ "$1" = linux ] && echo so || echo dll; }
hosts=(linux win64 win32)
declare -A plugin_tar plugin_formats plugin_synthetic plugin_startup
for b in "${hosts[@]}"; do
  e="$(ext "$b")"
  plugin_tar[$b]="$(stage "$work/$b-tar" "$b" "$build/$b/tar.$e")"
  plugin_formats[$b]="$(stage "$work/$b-formats" "$b" "$build/$b/formats.$e")"
  plugin_synthetic[$b]="$(stage "$work/$b-synthetic" "$b" "$build/$b/bench/synthetic.$e")"
  mkdir -p "$work/$b-copies"
  for i in $(seq -w 1 64); do cp "$build/$b/bench/synthetic.$e" "$work/$b-copies/module$i.$e"; done
  plugin_startup[$b]="$(stage "$work/$b-startup" "$b" "$work/$b-copies"/module*."$e")"
done

# Runs a host's program: natively, or under Wine with its paths in Windows form.
winpath() { echo "Z:${1//\//\\}"; }
wcxhost() {  # BUILD ARGS... (paths as /…)
  local b="$1"
  shift
  if [ "$b" = linux ]; then
    "$build/linux/wcxhost" "$@"
  else
    local args=() a
    for a in "$@"; do [[ "$a" == /* ]] && args+=("$(winpath "$a")") || args+=("$a"); done
    "$root/scripts/run-windows.sh" "$build/$b/wcxhost.exe" "${args[@]}"
  fi
}
driver() {  # BUILD ARGS...
  local b="$1"
  shift
  if [ "$b" = linux ]; then
    "$build/linux/bench/morvane_bench" "$@"
  else
    local args=() a
    for a in "$@"; do [[ "$a" == /* ]] && args+=("$(winpath "$a")") || args+=("$a"); done
    "$root/scripts/run-windows.sh" "$build/$b/bench/morvane_bench.exe" "${args[@]}"
  fi
}

# time_once LABEL COMMAND... : runs the command with its output discarded, notes the seconds.
time_once() {
  local label="$1" start end
  shift
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || { log "failed: $label"; return 1; }
  end=$(date +%s%N)
  awk -v l="$label" -v ns=$((end - start)) 'BEGIN { printf "%s %.6f\n", l, ns / 1e9 }' >> "$results"
}

wine_hosts=(win64 win32)
[ "$quick" = 1 ] && wine_hosts=(win64)

# ---- B1: the cost of a header, from a module that lists from memory ----
log "B1 listing overhead"
synthetic_archive() { local f="$work/$1-$2.synthetic"; : > "$f"; echo "$f"; }
small_synthetic="$(synthetic_archive 10000 unique)"
large_synthetic="$(synthetic_archive 100000 unique)"
instructions() {  # SIDE LIBRARY ARCHIVE
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$build/linux/bench/morvane_bench" list "$@" 2>&1 |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
# plugin: through Morvane, whose every call into the module runs under its fault guard; direct:
# the bare loop over the module; guarded: the bare loop with each call under that guard alone.
for side in plugin direct guarded; do
  lib="${plugin_synthetic[linux]}"
  [ "$side" = plugin ] || lib="$work/linux-synthetic/x64/synthetic.so"
  low="$(instructions "$side" "$lib" "$small_synthetic")"
  high="$(instructions "$side" "$lib" "$large_synthetic")"
  echo "b1.instructions.$side $(( (high - low) / 90000 ))" >> "$results"
done
for b in "${hosts[@]}"; do
  sub=x64; [ "$b" = win32 ] && sub=x86
  module="$work/$b-synthetic/$sub/synthetic.$(ext "$b")"
  driver "$b" rounds "${plugin_synthetic[$b]}" "$module" "$large_synthetic" "$rounds" |
    awk -v b="$b" '$1 == "plugin" || $1 == "direct" { printf "b1.wall.%s.%s %.9f\n", b, $1, $7 / $3 }' >> "$results"
done

# ---- B2: listing real archives made by GNU tar ----
log "B2 listing"
sizes=()
for ((n = 1000; n <= max_entries; n *= 10)); do sizes+=("$n"); done
tree="$work/tree"
mkdir -p "$tree"
# max_entries / 1000 folders, each with its own entry and 999 empty files.
for ((d = 0; d < max_entries / 1000; d++)); do
  folder="$(printf 'folder%04d' "$d")"
  mkdir "$tree/$folder"
  (cd "$tree/$folder" && seq -f "file%06g.txt" 1 999 | xargs touch)
done
for n in "${sizes[@]}"; do
  seq -f 'folder%04g' 0 $((n / 1000 - 1)) | tar -cf "$work/list-$n.tar" -C "$tree" -T -
done
rm -rf "$tree"
list_sides=(tar bsdtar morvane-tar.linux morvane-formats.linux)
for b in "${wine_hosts[@]}"; do list_sides+=("morvane-tar.$b" "morvane-formats.$b"); done
for n in "${sizes[@]}"; do
  archive="$work/list-$n.tar"
  r=$rounds
  [ "$n" -lt 100000 ] && r=3
  for ((round = 0; round < r; round++)); do
    for side in "${list_sides[@]}"; do
      # Under Wine a listing of 10^6 entries takes a minute: once, and the 64-bit build only.
      if [[ "$side" == *.win* ]]; then
        [ "$round" -lt 3 ] || continue
        if [ "$n" -ge 1000000 ]; then [ "$round" -eq 0 ] && [[ "$side" == *.win64 ]] || continue; fi
      fi
      case "$side" in
        tar) time_once "b2.$n.$side" tar -tvf "$archive" ;;
        bsdtar) time_once "b2.$n.$side" bsdtar -tvf "$archive" ;;
        morvane-tar.*) time_once "b2.$n.$side" wcxhost "${side#*.}" list "${plugin_tar[${side#*.}]}" "$archive" ;;
        morvane-formats.*) time_once "b2.$n.$side" wcxhost "${side#*.}" list "${plugin_formats[${side#*.}]}" "$archive" ;;
      esac
    done
  done
done
rm -f "$work"/list-*.tar

# ---- B3: extraction of many small files and of one large file ----
log "B3 extraction"
small="$work/small"
for ((d = 0; d < 100; d++)); do
  folder="$small/$(printf 'folder%02d' "$d")"
  mkdir -p "$folder"
  head -c 102400 /dev/urandom | (cd "$folder" && split -b 1024 -a 3 -d - file)
done
tar -cf "$work/small.tar" -C "$small" .
rm -rf "$small"
mkdir -p "$work/big"
head -c "$big_bytes" /dev/urandom > "$work/big/big.bin"
tar -cf "$work/big.tar" -C "$work/big" big.bin
out="$work/out"
extract_sides=(tar bsdtar morvane-tar.linux morvane-formats.linux)
for b in "${wine_hosts[@]}"; do extract_sides+=("morvane-tar.$b"); done
for what in small big; do
  archive="$work/$what.tar"
  sides=("${extract_sides[@]}")
  [ "$what" = big ] && sides+=(cp)
  for ((round = 0; round < rounds; round++)); do
    for side in "${sides[@]}"; do
      [[ "$side" == *.win* ]] && [ "$round" -ge 3 ] && continue
      rm -rf "$out"
      mkdir -p "$out"
      case "$side" in
        tar) time_once "b3.$what.$side" tar -xf "$archive" -C "$out" ;;
        bsdtar) time_once "b3.$what.$side" bsdtar -xf "$archive" -C "$out" ;;
        cp) time_once "b3.$what.$side" cp "$work/big/big.bin" "$out/" ;;
        morvane-tar.*) time_once "b3.$what.$side" wcxhost "${side#*.}" extract "${plugin_tar[${side#*.}]}" "$archive" "$out" ;;
        morvane-formats.*) time_once "b3.$what.$side" wcxhost "${side#*.}" extract "${plugin_formats[${side#*.}]}" "$archive" "$out" ;;
      esac
    done
  done
done
rm -rf "$out" "$work/big" "$work/small.tar" "$work/big.tar"

# ---- B6: the sevenzip sub-module against 7-Zip itself, natively ----
log "B6 sevenzip against 7z"
sevenzip_folder="$work/linux-sevenzip"
plugin_sevenzip="$(stage "$sevenzip_folder" linux "$build/linux/sevenzip.so")"
cp "$build/linux/7z.so" "$sevenzip_folder/x64/"
# 10,000 small text files in one solid block, and 100,000 empty ones to list.
many="$work/many"
for ((d = 0; d < 100; d++)); do
  mkdir -p "$many/$(printf 'folder%02d' "$d")"
  awk -v dir="$many/$(printf 'folder%02d' "$d")" -v d="$d" 'BEGIN {
    for (f = 0; f < 100; f++) { file = sprintf("%s/file%03d.txt", dir, f)
      for (l = 0; l < 40; l++) printf "folder %d, file %d, line %d of the sample text\n", d, f, l > file; close(file) } }'
done
(cd "$many" && 7z a -bd -bso0 -ms=on "$work/many.7z" .)
rm -rf "$many"
listed="$work/listed"
for ((d = 0; d < max_entries / 10000 && d < 10; d++)); do
  mkdir -p "$listed/$(printf 'folder%02d' "$d")"
  (cd "$listed/$(printf 'folder%02d' "$d")" && seq -f "entry%05g.txt" 1 10000 | xargs touch)
done
(cd "$listed" && 7z a -bd -bso0 "$work/listed.7z" .)
rm -rf "$listed"
for ((round = 0; round < rounds; round++)); do
  for side in 7z morvane-sevenzip.linux; do
    rm -rf "$out" && mkdir -p "$out"
    case "$side" in
      7z)
        time_once "b6.extract.$side" 7z x -y -bd -o"$out" "$work/many.7z"
        time_once "b6.list.$side" 7z l "$work/listed.7z" ;;
      *)
        time_once "b6.extract.$side" wcxhost linux extract "$plugin_sevenzip" "$work/many.7z" "$out"
        time_once "b6.list.$side" wcxhost linux list "$plugin_sevenzip" "$work/listed.7z" ;;
    esac
  done
done
rm -rf "$out" "$work/many.7z" "$work/listed.7z"

# ---- B4: start-up with 64 modules ----
log "B4 start-up"
for b in "${hosts[@]}"; do
  sub=x64; [ "$b" = win32 ] && sub=x86
  driver "$b" startup "${plugin_startup[$b]}" $((rounds * 4)) "$work/$b-startup/$sub"/module*."$(ext "$b")" |
    awk -v b="$b" '$1 == "plugin" || $1 == "bare" { printf "b4.%s.%s %.9f\n", b, $1, $3 }' >> "$results"
done

# ---- B5: peak memory of listing 10^6 entries ----
log "B5 memory"
for kind in unique repeated; do
  archive="$(synthetic_archive "$max_entries" "$kind")"
  driver linux memory "${plugin_synthetic[linux]}" "$work/linux-synthetic/x64/synthetic.so" "$archive" |
    awk -v k="$kind" '$1 == "memory" { printf "b5.%s.names %d\nb5.%s.added %d\nb5.%s.distinct %d\n", k, $7, k, $9, k, $5 }' >> "$results"
done

# ---- the page ----
log "writing $output/benchmarks.md"
mkdir -p "$output"
"$root/scripts/bench-report.sh" "$results" "$output" "$rounds" "$max_entries" "$big_bytes" \
  "$(df -T "$work" | awk 'NR == 2 { print $2 }') ($place)"
