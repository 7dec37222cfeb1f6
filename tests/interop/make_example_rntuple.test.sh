#!/usr/bin/env bash
# make-example --format rntuple writes the events of the tree it writes for the same seed,
# in the layout treeconvert gives that tree: the same fields in the same order with the same
# values as the tree's conversion (our reader), converting back to the tree (our reader),
# its fundamental fields as jsroot reads the tree (jsroot 7.11 cannot read projected
# fields, so the arrays are refereed through the conversions); and with a fixed build time
# the same bytes at every thread count.
#   bash make_example_rntuple.test.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: make_example_rntuple.test.sh BUILD_DIR}" && pwd)"

source "$here/common.sh"
require_jsroot
require_tools "$build" make-example treedump treeconvert

failed=0
fail() { echo "FAIL $*" >&2; failed=1; }
ok() { echo "ok   $*"; }

"$build/make-example" --help | grep -q -- "--format ttree|rntuple" || fail "--help does not describe --format"
status=0
"$build/make-example" --format hdf5 --output "$tmp/x.root" 2> "$tmp/err" || status=$?
[ "$status" = 2 ] || fail "--format hdf5: exit $status, expected 2"
grep -q -- "--format" "$tmp/err" || fail "--format hdf5: message does not name the option: $(cat "$tmp/err")"
[ -e "$tmp/x.root" ] && fail "a rejected --format left a file behind"

# Clusters of 700 entries: the 2000 entries span three clusters.
args=(--events 2000 --seed 7 --compression 101 --cluster 700 --quiet)
"$build/make-example" "${args[@]}" --output "$tmp/tree.root"
"$build/make-example" "${args[@]}" --format rntuple --output "$tmp/ntuple.root"
"$build/treeconvert" "$tmp/tree.root" "$tmp/converted.root" > /dev/null

"$build/treedump" "$tmp/ntuple.root" Events > "$tmp/ntuple.list"
"$build/treedump" "$tmp/converted.root" Events > "$tmp/converted.list"
head -1 "$tmp/ntuple.list" | grep -qx "entries 2000" || fail "ntuple.root: $(head -1 "$tmp/ntuple.list")"
grep -qx "nElectron ROOT::RNTupleCardinality<std::uint32_t>" "$tmp/ntuple.list" || fail "no cardinality field nElectron"
grep -qx "Electron_pt ROOT::VecOps::RVec<float>" "$tmp/ntuple.list" || fail "no projected field Electron_pt"
if cmp -s "$tmp/ntuple.list" "$tmp/converted.list"; then ok "fields as treeconvert lays out the tree: $(($(wc -l < "$tmp/ntuple.list") - 1))"
else fail "fields differ from the tree's conversion"; diff "$tmp/converted.list" "$tmp/ntuple.list" | head >&2; fi

"$build/treedump" "$tmp/ntuple.root" Events --json > "$tmp/ntuple.json"
"$build/treedump" "$tmp/converted.root" Events --json > "$tmp/converted.json"
if cmp -s "$tmp/ntuple.json" "$tmp/converted.json"; then ok "every entry holds the values of the tree's conversion"
else fail "values differ from the tree's conversion"; fi

"$build/treeconvert" --to ttree "$tmp/ntuple.root" "$tmp/back.root" > /dev/null
"$build/treedump" "$tmp/back.root" Events --json > "$tmp/back.json"
"$build/treedump" "$tmp/tree.root" Events --json > "$tmp/tree.json"
if cmp -s "$tmp/back.json" "$tmp/tree.json"; then ok "converted back: the tree make-example writes"
else fail "converted back, values differ from the tree"; fi

# The fundamental fields (not counts), read by jsroot, against jsroot's reading of the tree.
awk 'NR > 1 && $3 == "-" { print $1 "=" $2 }' <("$build/treedump" "$tmp/tree.root" Events) |
  grep -v -f <(awk '$2 ~ /Cardinality/ { print "^" $1 "=" }' "$tmp/ntuple.list") > "$tmp/types"
(cd "$here" && node dump.mjs "$tmp/tree.root" Events $(cut -d= -f1 "$tmp/types")) > "$tmp/jsroot.json"
if (cd "$here" && node check_ntuple.mjs "$tmp/ntuple.root" Events "$tmp/jsroot.json" "$tmp/types"); then
  ok "jsroot reads $(wc -l < "$tmp/types") fundamental fields as it reads the tree"
else fail "jsroot reads other values than the tree's"; fi

# A fixed build time: the same bytes whatever the number of compressing threads.
for threads in 1 2 4; do
  mkdir "$tmp/t$threads"
  (cd "$tmp/t$threads" && SKIM_THREADS=$threads SOURCE_DATE_EPOCH=1700000000 \
     "$build/make-example" "${args[@]}" --format rntuple --output events.root)
done
if cmp -s "$tmp/t1/events.root" "$tmp/t2/events.root" && cmp -s "$tmp/t1/events.root" "$tmp/t4/events.root"; then
  ok "fixed build time: the same bytes at 1, 2 and 4 threads"
else fail "fixed build time: bytes depend on the thread count"; fi

exit "$failed"
