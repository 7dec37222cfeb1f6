#!/usr/bin/env bash
# treemerge checked by another ROOT reader: generated inputs of two codecs and cluster
# sizes, one of them empty, merged; jsroot must read the output as the inputs' entries one
# after the other, value for value, as treedump reads them from the inputs. The command
# line: --help, and a mismatched input refused with one line, exit 1 and no output.
#   bash treemerge.test.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: treemerge.test.sh BUILD_DIR}" && pwd)"

source "$here/common.sh"
require_jsroot
require_tools "$build" treemerge treedump make-example

"$build/make-example" --events 150 --seed 1 --compression 101 --quiet --output "$tmp/a.root"
"$build/make-example" --events 0 --compression 101 --quiet --output "$tmp/empty.root"
"$build/make-example" --events 120 --seed 2 --compression 404 --cluster 50 --quiet --output "$tmp/b.root"

"$build/treemerge" "$tmp/merged.root" "$tmp/a.root" "$tmp/empty.root" "$tmp/b.root" > "$tmp/summary"
grep -q "270 entries from 3 inputs" "$tmp/summary" || { echo "FAIL: summary: $(cat "$tmp/summary")" >&2; exit 1; }

node "$here/dump.mjs" "$tmp/merged.root" Events > "$tmp/theirs"
for f in a empty b; do "$build/treedump" "$tmp/$f.root" Events --json; done > "$tmp/ours"
[ "$(wc -l < "$tmp/theirs")" -eq 270 ] || { echo "FAIL: jsroot reads $(wc -l < "$tmp/theirs") entries, not 270" >&2; exit 1; }
if ! cmp -s "$tmp/ours" "$tmp/theirs"; then
  echo "FAIL: merged.root (jsroot) differs from the inputs (treedump):" >&2
  diff "$tmp/ours" "$tmp/theirs" | head -5 >&2
  exit 1
fi
"$build/treedump" "$tmp/merged.root" Events --json | cmp -s - "$tmp/ours" ||
  { echo "FAIL: merged.root as our reader reads it differs from the inputs" >&2; exit 1; }
echo "ok   merged 150 + 0 + 120 generated entries (zlib, lz4), equal as read by jsroot and treedump"

"$build/treemerge" --help > "$tmp/help"
grep -q "not copied" "$tmp/help" || { echo "FAIL: --help does not say that other keys are not copied" >&2; exit 1; }

sample="${SKIM_TESTDATA:-$here/../../../shared/testdata}/collider-sample-ttbar.root"
if [ -f "$sample" ]; then
  if "$build/treemerge" "$tmp/mixed.root" "$tmp/a.root" "$sample" 2> "$tmp/err"; then
    echo "FAIL: inputs of different structure were merged" >&2; exit 1
  fi
  [ "$(wc -l < "$tmp/err")" -eq 1 ] && grep -q "collider-sample-ttbar.root: tree Events: branch" "$tmp/err" ||
    { echo "FAIL: mismatch message: $(cat "$tmp/err")" >&2; exit 1; }
  [ ! -e "$tmp/mixed.root" ] || { echo "FAIL: a refused merge left its output" >&2; exit 1; }
  echo "ok   mismatched input refused: $(cat "$tmp/err")"
else
  skip "test data not found: $sample"
fi
