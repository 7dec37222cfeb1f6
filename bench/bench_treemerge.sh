#!/usr/bin/env bash
# treemerge against a plain copy of the same bytes. Generated inputs (make-example, zlib 1,
# made once into BUILD/bench-data/merge/) are merged into one file and, in the same round,
# copied with cp into a folder; each is also timed with its output flushed to disk (treemerge
# syncs its output before closing; cp does not, so `cp + sync` is the like-for-like figure).
# The same events written as RNTuples (make-example --format rntuple) are merged too, pages
# copied as the baskets are. The fastest of --rounds rounds of each is reported, wall and CPU
# seconds.
#   bash bench/bench_treemerge.sh [--files N] [--events N] [--rounds N] [BUILD_DIR]
set -euo pipefail
files=4 events=20000 rounds=5 build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --files) files="$2"; shift 2 ;;
    --events) events="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    *) build="$1"; shift ;;
  esac
done
build="$(cd "${build:-$(dirname "$0")/../build}" && pwd)"
data="$build/bench-data/merge"
mkdir -p "$data"
inputs=() ntuples=()
for ((i = 1; i <= files; i++)); do
  f="$data/in-$events-$i.root"
  if [ ! -f "$f" ] || [ "$build/make-example" -nt "$f" ]; then
    echo "making $f" >&2
    "$build/make-example" --events "$events" --seed "$i" --compression 101 --quiet --output "$f"
  fi
  inputs+=("$f")
  n="$data/in-rntuple-$events-$i.root"
  if [ ! -f "$n" ] || [ "$build/make-example" -nt "$n" ]; then
    echo "making $n" >&2
    "$build/make-example" --format rntuple --events "$events" --seed "$i" --compression 101 --quiet --output "$n"
  fi
  ntuples+=("$n")
done
bytes=$(cat "${inputs[@]}" | wc -c)
out="$data/out"
rm -rf "$out" && mkdir -p "$out"
trap 'rm -rf "$out"' EXIT

# Prints "wall cpu" of one run of the command.
timed() {
  local TIMEFORMAT='%R %U %S' t
  t="$( { time "$@" > /dev/null 2>&1; } 2>&1 )"
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<< "$t"
}
# The smallest value of column $1 of the lines given.
smallest() { awk -v c="$1" 'NF && (m == "" || $c < m) { m = $c } END { print m }'; }

merge() { "$build/treemerge" "$out/merged.root" "${inputs[@]}"; }
merge_rntuple() { "$build/treemerge" "$out/merged.root" "${ntuples[@]}"; }
copy() { cp "${inputs[@]}" "$out/"; }
copy_sync() { cp "${inputs[@]}" "$out/" && sync "$out"/in-*.root; }
# cp copies inside the kernel (copy_file_range); cat, like treemerge, reads the bytes into
# its own memory and writes them out.
cat_sync() { cat "${inputs[@]}" > "$out/all.root" && sync "$out/all.root"; }

cat "${inputs[@]}" "${ntuples[@]}" > /dev/null  # every run reads from the page cache
declare -A runs
for ((r = 0; r < rounds; r++)); do
  for what in merge copy copy_sync cat_sync merge_rntuple; do
    rm -f "$out"/*
    runs[$what]+="$(timed $what)"$'\n'
  done
done
mb=$(awk -v b="$bytes" 'BEGIN { printf "%.0f", b / 1e6 }')
printf '%d files, %d events each, %s MB in total; best of %d rounds\n' "$files" "$events" "$mb" "$rounds"
printf '%-10s %8s %8s %8s\n' "" "wall s" "CPU s" "MB/s"
for what in merge copy copy_sync cat_sync; do
  w=$(smallest 1 <<< "${runs[$what]}")
  c=$(smallest 2 <<< "${runs[$what]}")
  printf '%-10s %8s %8s %8.0f\n' "$what" "$w" "$c" "$(awk -v b="$bytes" -v w="$w" 'BEGIN { print b / 1e6 / w }')"
  eval "wall_$what=$w"
done
w=$(smallest 1 <<< "${runs[merge_rntuple]}")
c=$(smallest 2 <<< "${runs[merge_rntuple]}")
ntuple_bytes=$(cat "${ntuples[@]}" | wc -c)
printf '%-10s %8s %8s %8.0f   (the same events as RNTuples, %.0f MB)\n' "rntuple" "$w" "$c" \
  "$(awk -v b="$ntuple_bytes" -v w="$w" 'BEGIN { print b / 1e6 / w }')" "$(awk -v b="$ntuple_bytes" 'BEGIN { print b / 1e6 }')"
wall_merge_rntuple=$w
awk -v m="$wall_merge" -v r="$wall_merge_rntuple" 'BEGIN { printf "RNTuple merge / tree merge: %.2f\n", r / m }'
awk -v m="$wall_merge" -v c="$wall_copy" -v s="$wall_copy_sync" -v t="$wall_cat_sync" \
  'BEGIN { printf "merge / cp: %.2f   merge / (cp + sync): %.2f   merge / (cat + sync): %.2f\n", m / c, m / s, m / t }'
