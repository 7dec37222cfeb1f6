#!/usr/bin/env bash
# treeconvert on reference trees: the RNTuple has the importer's layout (scalar branches as
# fields of their type, count-indexed arrays as projected ROOT::VecOps::RVec<T> fields, the
# counts under their names), and every field jsroot can read (scalars, and counts of other
# types than UInt_t / ULong64_t) holds what jsroot reads from the source tree, and converts
# back into the same tree. jsroot 7.11
# cannot read projected fields, so the arrays and counts are compared as our reader reads
# them (treedump) with jsroot's reading of the tree, branch for branch. Then the command line's
# edges: usage errors exit 2, faults exit 1 with one line, and leave no output.
#   bash treeconvert.test.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: treeconvert.test.sh BUILD_DIR}"
data="${SKIM_TESTDATA:-$here/../../../shared/testdata}"

source "$here/common.sh"
require_jsroot
require_tools "$build" treeconvert treedump make-example

# Top-level fields as jsroot lists them: NAME TYPE.
fields='
import { openFile } from "jsroot";
import { readHeaderFooter } from "jsroot/rntuple";
const [path, name] = process.argv.slice(1);
const log = console.log; console.log = () => {};
const tuple = await (await openFile(path)).readObject(name);
const builder = await readHeaderFooter(tuple);
console.log = log;
builder.fieldDescriptors.forEach((f, i) => { if (f.parentFieldId === i) console.log(`${f.fieldName} ${f.typeName || "-"}`); });
'
# treedump's listing -> the top-level fields the importer layout gives, in field order:
# a collection per count (in order of first use), then every branch in tree order.
expected_fields='
BEGIN { split("O bool B std::int8_t b std::uint8_t S std::int16_t s std::uint16_t I std::int32_t i std::uint32_t L std::int64_t l std::uint64_t F float D double", w, " "); for (j = 1; j < 22; j += 2) tn[w[j]] = w[j + 1] }
function t(l) { return tn[l] }
NR > 1 { name[NR] = $1; type[NR] = $2; count[NR] = $3; if ($3 != "-" && !($3 in seen)) { seen[$3] = 1; print "_collection" n++, "-" } }
END {
  for (i = 2; i <= NR; ++i) {
    if (count[i] != "-") print name[i], "ROOT::VecOps::RVec<" t(type[i]) ">"
    else if ((name[i] in seen) && (type[i] == "l" || type[i] == "L")) print name[i], "ROOT::RNTupleCardinality<std::uint64_t>"
    else if (name[i] in seen) print name[i], "ROOT::RNTupleCardinality<std::uint32_t>"
    else print name[i], t(type[i])
  }
}'

failed=0
check() {  # FILE TREE
  local src="$1" tree="$2" out="$tmp/converted.root" label
  label="$(basename "$1") $2"
  "$build/treeconvert" --tree "$tree" "$src" "$out" > /dev/null
  "$build/treedump" "$src" "$tree" > "$tmp/listing"
  awk "$expected_fields" "$tmp/listing" > "$tmp/want.fields"
  (cd "$here" && node --input-type=module -e "$fields" "$out" "$tree") > "$tmp/got.fields"
  if ! diff "$tmp/want.fields" "$tmp/got.fields" > "$tmp/diff"; then
    echo "FAIL $label: fields differ from the importer layout (want <, got >)" >&2; head "$tmp/diff" >&2
    failed=1; return
  fi
  # Fields jsroot reads: those of fundamental type.
  awk 'NR > 1 && $3 == "-" { print $1 "=" $2 }' "$tmp/listing" |
    grep -v -f <(awk '$2 ~ /Cardinality/ { print "^" $1 "=" }' "$tmp/got.fields") > "$tmp/types" || true
  (cd "$here" && node dump.mjs "$src" "$tree" $(cut -d= -f1 "$tmp/types")) > "$tmp/tree.json"
  if (cd "$here" && node check_ntuple.mjs "$out" "$tree" "$tmp/tree.json" "$tmp/types"); then
    echo "ok   $label: $(wc -l < "$tmp/got.fields") top-level fields, $(wc -l < "$tmp/types") compared over $(wc -l < "$tmp/tree.json") entries"
  else
    echo "FAIL $label: values differ from the tree's" >&2; failed=1; return
  fi
  # Every branch under its name, as our reader reads the conversion, in the tree's order.
  awk 'NR > 1 { print $1 "=" $2 }' "$tmp/listing" > "$tmp/all.types"
  local args=()
  for b in $(cut -d= -f1 "$tmp/all.types"); do args+=(--branch "$b"); done
  "$build/treedump" "$out" "$tree" --json "${args[@]}" |
    (cd "$here" && node --input-type=module -e "$in_tree_order" "$tmp/all.types") > "$tmp/ours.json"
  (cd "$here" && node dump.mjs "$src" "$tree") > "$tmp/theirs.json"
  if (cd "$here" && node compare_dumps.mjs "$tmp/ours.json" "$tmp/theirs.json" "$tmp/all.types"); then
    echo "ok   $label: all $(wc -l < "$tmp/all.types") branches read back by our reader as jsroot reads the tree"
  else
    echo "FAIL $label: our reader reads other values than jsroot reads from the tree" >&2; failed=1; return
  fi
  # And back: the same branches, counts and values (a count other than UInt_t or
  # ULong64_t returns as the unsigned type of its width class).
  "$build/treeconvert" --to ttree --tree "$tree" "$out" "$tmp/back.root" > /dev/null
  awk 'NR > 1 && $3 != "-" { c[$3] = 1 } { n[NR] = $0; k[NR] = $1; t[NR] = $2 }
       END { for (i = 1; i <= NR; ++i) { if (k[i] in c) sub(" " t[i] " ", t[i] ~ /[lL]/ ? " l " : " i ", n[i]); print n[i] } }' \
    "$tmp/listing" > "$tmp/want.listing"
  if ! "$build/treedump" "$tmp/back.root" "$tree" | diff "$tmp/want.listing" - >&2; then
    echo "FAIL $label: the tree converted back has other branches" >&2; failed=1; return
  fi
  if cmp -s <("$build/treedump" "$src" "$tree" --json) <("$build/treedump" "$tmp/back.root" "$tree" --json); then
    echo "ok   $label: converted back, the same branches and values"
  else
    echo "FAIL $label: the tree converted back holds other values" >&2; failed=1
  fi
}

# treedump --json lines (fields in field order) -> the same with the keys in TYPES order,
# numbers kept as written.
in_tree_order='
import { readFileSync } from "node:fs";
const order = readFileSync(process.argv[1], "utf8").split("\n").filter(Boolean).map(l => l.split("=")[0]);
const lines = readFileSync(0, "utf8").split("\n").filter(Boolean);
for (const line of lines) {
  const v = JSON.parse(line.replace(/(?<=[:,[])(-?[0-9][0-9.eE+-]*)(?=[,\]}])/g, "\"#$1\""));
  const text = JSON.stringify(Object.fromEntries(order.map(k => [k, v[k]])));
  process.stdout.write(text.replace(/"#(-?[0-9][0-9.eE+-]*)"/g, "$1") + "\n");
}
'


SOURCE_DATE_EPOCH=1700000000 "$build/make-example" --events 800 --cluster 300 --compression 505 --quiet \
  --output "$tmp/example.root"
check "$tmp/example.root" Events
check "$data/uproot-HZZ-zlib.root" events

# The framework importer's own RNTuple (no count fields) into a tree: counts named after
# the arrays, and every value as jsroot reads it from the tree equal to what our reader
# reads from the RNTuple.
cms="$data/rntuple/cmsopendata2015_ttbar_19980_NANOAOD_RNTupleImporter_rntuple_v1-0-0-1.root"
"$build/treeconvert" "$cms" "$tmp/cms.root" > /dev/null
"$build/treedump" "$tmp/cms.root" Events > "$tmp/cms.listing"
awk 'NR > 1 && $3 != "-" { c[$3] = 1 } NR > 1 { n[NR] = $1; t[NR] = $2 }
     END { for (i = 2; i in n; ++i) if (!(n[i] in c)) print n[i] "=" t[i] }' "$tmp/cms.listing" > "$tmp/cms.types"
args=()
for b in $(cut -d= -f1 "$tmp/cms.types"); do args+=(--branch "$b"); done
"$build/treedump" "$cms" Events --json "${args[@]}" |
  (cd "$here" && node --input-type=module -e "$in_tree_order" "$tmp/cms.types") > "$tmp/cms.ours"
(cd "$here" && node dump.mjs "$tmp/cms.root" Events $(cut -d= -f1 "$tmp/cms.types")) > "$tmp/cms.theirs"
if grep -qx 'nElectron i -' "$tmp/cms.listing" && grep -qx 'Electron_pt F nElectron' "$tmp/cms.listing" &&
   (cd "$here" && node compare_dumps.mjs "$tmp/cms.ours" "$tmp/cms.theirs" "$tmp/cms.types"); then
  echo "ok   $(basename "$cms"): into a tree of $(($(wc -l < "$tmp/cms.listing") - 1)) branches, $(wc -l < "$tmp/cms.types") compared"
else
  echo "FAIL $(basename "$cms"): the tree holds other values or counts" >&2; failed=1
fi

# Twelve clusters in three cluster groups (jsroot reads only the first group of an RNTuple,
# but all of a tree): entry i holds one = i and int_vector = {i, i+1}, as written.
"$build/treeconvert" --tree ntuple "$data/rntuple/test_multiple_cluster_groups_rntuple_v1-0-0-0.root" \
  "$tmp/groups.root" > /dev/null
(cd "$here" && node dump.mjs "$tmp/groups.root" ntuple) > "$tmp/groups.theirs"
awk 'BEGIN { for (i = 0; i < 1000; ++i) printf "{\"one\":%d,\"nint_vector\":2,\"int_vector\":[%d,%d]}\n", i, i, i + 1 }' \
  > "$tmp/groups.want"
if cmp -s "$tmp/groups.want" "$tmp/groups.theirs"; then
  echo "ok   test_multiple_cluster_groups: all 1000 entries of 3 cluster groups in the tree"
else
  echo "FAIL test_multiple_cluster_groups: the tree holds other values" >&2; failed=1
fi

# Edges: STATUS ARGS... ; the output must never appear.
edge() {
  local want="$1" status=0
  shift
  rm -f "$tmp/out.root"
  "$build/treeconvert" "$@" > /dev/null 2> "$tmp/err" || status=$?
  if [ "$status" -ne "$want" ] || [ -e "$tmp/out.root" ] || [ "$(wc -l < "$tmp/err")" -lt 1 ]; then
    echo "FAIL treeconvert $*: exit $status (want $want), output $( [ -e "$tmp/out.root" ] && echo left || echo none)" >&2
    failed=1
  fi
  if [ "$want" -eq 1 ] && [ "$(wc -l < "$tmp/err")" -ne 1 ]; then
    echo "FAIL treeconvert $*: error is not one line" >&2; failed=1
  fi
}
edge 2 --to json "$tmp/example.root" "$tmp/out.root"
edge 2 --bogus "$tmp/example.root" "$tmp/out.root"
edge 2 "$tmp/example.root"
edge 1 "$tmp/missing.root" "$tmp/out.root"
edge 1 --tree NoSuchTree "$tmp/example.root" "$tmp/out.root"
edge 1 --to ttree "$tmp/example.root" "$tmp/out.root"
edge 1 --to rntuple --tree Staff "$data/rntuple/ntpl001_staff_rntuple_v1-0-0-0.root" "$tmp/out.root"
edge 1 --tree ntuple "$data/rntuple/test_stl_containers_rntuple_v1-0-0-0.root" "$tmp/out.root"
head -c 100000 "$tmp/example.root" > "$tmp/truncated.root"
edge 1 "$tmp/truncated.root" "$tmp/out.root"
[ "$failed" -eq 0 ] && echo "ok   command-line edges"
exit "$failed"
