#!/usr/bin/env bash
# The skim of a generated file converted to an RNTuple (treeconvert) against the skim of
# the tree: the RNTuple output, read back with treedump --json, holds the tree skim's
# entries field for field and value for value (the untyped collections behind the
# projected fields left aside), and --format ttree gives the tree skim's listing and
# values exactly. Referee: the tree skim, as our reader reads it (jsroot cannot read
# projected fields).
#   bash skim_ntuple.test.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: skim_ntuple.test.sh BUILD_DIR}"

source "$here/common.sh"
command -v node >/dev/null || skip "node not installed (bash scripts/setup.sh)"
require_tools "$build" skim treeconvert treedump make-example

cd "$tmp"
"$build/make-example" --events 2000 --seed 5 --compression 505 --output events.root --quiet
"$build/treeconvert" events.root events_rntuple.root >/dev/null
"$build/skim" -o tree_skim.root events.root >tree_skim.out
"$build/skim" -o rntuple_skim.root events_rntuple.root >rntuple_skim.out
"$build/skim" -o ttree_skim.root --format ttree events_rntuple.root >ttree_skim.out
cmp tree_skim.out rntuple_skim.out
cmp tree_skim.out ttree_skim.out

"$build/treedump" --json tree_skim.root Events >tree.json
"$build/treedump" --json rntuple_skim.root Events >rntuple.json
"$build/treedump" --json ttree_skim.root Events >ttree.json
[ "$(wc -l <tree.json)" -gt 0 ] || { echo "the tree skim selected nothing" >&2; exit 1; }
cmp tree.json ttree.json
cmp <("$build/treedump" tree_skim.root Events) <("$build/treedump" ttree_skim.root Events)

node -e '
const fs = require("fs");
const lines = (f) => fs.readFileSync(f, "utf8").split("\n").filter((l) => l);
const tree = lines(process.argv[1]), rntuple = lines(process.argv[2]);
if (tree.length !== rntuple.length) throw new Error(`${rntuple.length} entries, the tree skim has ${tree.length}`);
tree.forEach((line, i) => {
  const fields = Object.entries(JSON.parse(rntuple[i])).filter(([name]) => !name.startsWith("_collection"));
  const want = JSON.stringify(JSON.parse(line)), got = JSON.stringify(Object.fromEntries(fields));
  if (want !== got) throw new Error(`entry ${i} differs:\n${got}\nthe tree skim:\n${want}`);
});
' tree.json rntuple.json
echo "skim of an RNTuple input: same entries, names and values as the tree skim"
