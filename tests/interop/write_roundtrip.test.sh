#!/usr/bin/env bash
# Files we write, read by jsroot: every leaf type as scalar, fixed array and count-indexed
# array, extreme values, a branch over many baskets, every codec, a file past 2^31 bytes
# (sparse), a tree without entries.
# jsroot must see the same branches (type, count, fixed length) and every value must equal
# what our reader reads.
#   bash write_roundtrip.test.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: write_roundtrip.test.sh BUILD_DIR}"
treedump="$build/treedump"
writer="$build/tests/write-samples"

source "$here/common.sh"
require_jsroot
require_tools "$build" treedump tests/write-samples

"$writer" "$tmp" > "$tmp/files"

# Branch list as jsroot sees it, in treedump's form: NAME LETTER COUNT [LEN].
structure='
import { openFile } from "jsroot";
const [path, name] = process.argv.slice(1);
const tree = await (await openFile(path)).readObject(name);
const letters = { TLeafO: "O", TLeafB: "B", TLeafS: "S", TLeafI: "I", TLeafL: "L", TLeafF: "F", TLeafD: "D" };
console.log(`entries ${tree.fEntries}`);
for (const b of tree.fBranches.arr) {
  const leaf = b.fLeaves.arr[0];
  let t = letters[leaf._typename] ?? "?";
  if (leaf.fIsUnsigned) t = t.toLowerCase();
  const count = leaf.fLeafCount ? leaf.fLeafCount.fName : "-";
  console.log(`${b.fName} ${t} ${count}${leaf.fLen > 1 ? ` [${leaf.fLen}]` : ""}`);
}
'

failed=0
checked=0
while read -r file; do
  name="$(basename "$file") Events"
  "$treedump" "$file" Events > "$tmp/ours.list"
  if ! (cd "$here" && node --input-type=module -e "$structure" "$file" Events) > "$tmp/theirs.list"; then
    echo "FAIL $name: jsroot cannot read the tree" >&2; failed=1; continue
  fi
  if ! diff "$tmp/ours.list" "$tmp/theirs.list" >&2; then
    echo "FAIL $name: branches differ (ours <, jsroot >)" >&2; failed=1; continue
  fi
  awk 'NR > 1 { print $1 "=" $2 }' "$tmp/ours.list" > "$tmp/types"
  "$treedump" "$file" Events --json > "$tmp/ours"
  if ! node "$here/dump.mjs" "$file" Events > "$tmp/theirs"; then
    echo "FAIL $name: jsroot failed" >&2; failed=1; continue
  fi
  if node "$here/compare_dumps.mjs" "$tmp/ours" "$tmp/theirs" "$tmp/types"; then
    echo "ok   $name: $(wc -l < "$tmp/ours") entries, $(wc -l < "$tmp/types") branches"
    checked=$((checked + 1))
  else
    echo "FAIL $name: values differ" >&2; failed=1
  fi
done < "$tmp/files"
[ "$checked" -eq "$(wc -l < "$tmp/files")" ] || failed=1
exit "$failed"
