#!/usr/bin/env bash
# Every RNTuple of the reference folder rntuple/, as treedump lists and dumps it and as
# jsroot reads it: the field listing line for line, and every entry of every field jsroot
# can read, text for text (floats formatted from their bits by field type).
#
# Where jsroot 7.11 cannot referee, the values are checked against what the writing code
# put in, in tests/rootio/ntuple/ntuple_values_test.cc: the fields it leaves out here
# (projected, untyped, RVec, cardinality), the 32-bit quantized floats it decodes wrongly
# (quant32), and the entries after the first cluster group (it reads only that one).
#   bash read_rntuple.test.sh BUILD_DIR      (SKIM_TESTDATA names the reference folder)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: read_rntuple.test.sh BUILD_DIR}"
treedump="$build/treedump"
data="${SKIM_TESTDATA:-$here/../../../shared/testdata}/rntuple"

source "$here/common.sh"
[ -d "$data" ] || skip "reference data not found at $data (set SKIM_TESTDATA)"
require_jsroot
require_tools "$build" treedump

failed=0
checked=0
for file in "$data"/*.root; do
  for name in $("$treedump" "$file" | awk '$2 == "ROOT::RNTuple" { print $1 }'); do
    label="$(basename "$file") $name"
    "$treedump" "$file" "$name" > "$tmp/ours.list"
    node "$here/dump_rntuple.mjs" "$file" "$name" --list > "$tmp/theirs.list"
    # jsroot counts the entries of the first cluster group only.
    jsroot_entries=$(head -1 "$tmp/theirs.list" | cut -d' ' -f2)
    if ! diff <(tail -n +2 "$tmp/ours.list") <(tail -n +2 "$tmp/theirs.list") >&2; then
      echo "FAIL $label: field listings differ" >&2; failed=1; continue
    fi
    fields=$(node "$here/dump_rntuple.mjs" "$file" "$name" --fields | grep -vx 'quant32' || true)
    [ -n "$fields" ] || { echo "FAIL $label: jsroot reads none of its fields" >&2; failed=1; continue; }
    args=()
    for f in $fields; do args+=(--branch "$f"); done
    "$treedump" "$file" "$name" --json --count "$jsroot_entries" "${args[@]}" > "$tmp/ours.json"
    # shellcheck disable=SC2086
    node "$here/dump_rntuple.mjs" "$file" "$name" $fields > "$tmp/theirs.json"
    if ! diff -q "$tmp/ours.json" "$tmp/theirs.json" > /dev/null; then
      echo "FAIL $label: values differ; first difference:" >&2
      diff "$tmp/ours.json" "$tmp/theirs.json" | head -4 | cut -c1-300 >&2
      failed=1; continue
    fi
    echo "ok   $label: $(($(wc -l < "$tmp/ours.list") - 1)) fields listed, $(wc -l < "$tmp/ours.json") entries of $(echo "$fields" | wc -l) fields compared"
    checked=$((checked + 1))
  done
done
[ "$checked" -gt 0 ] || { echo "FAIL: no RNTuple compared" >&2; exit 1; }
exit "$failed"
