#!/usr/bin/env bash
# The skim end to end, checked by another ROOT reader: output.root as jsroot reads it must
# hold exactly the branches the keep list enables (plus the counts of kept arrays), in the
# input's order, and, entry by entry, the values treedump reads from the selected input
# entries (matched by event number, in input order), as identical text.
#   bash skim_e2e.test.sh BUILD_DIR
# The input comes from make-example when the build has it, else from the generator the
# skim tests carry.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: skim_e2e.test.sh BUILD_DIR}" && pwd)"

source "$here/common.sh"
require_jsroot
require_tools "$build" skim treedump

input="$tmp/example_RunIISummer20UL18.root"

if [ -x "$build/make-example" ]; then
  "$build/make-example" --events 3000 --compression 101 --quiet --output "$input"
  source="make-example, 3000 events"
elif [ -x "$build/tests/skim_tests" ]; then
  SKIM_WRITE_INPUT="$input" SKIM_WRITE_EVENTS=5000 \
    "$build/tests/skim_tests" --gtest_filter='GeneratedInput.*' > "$tmp/generator.log"
  source="test generator, 5000 events"
else
  skip "no input generator in $build (make-example or tests/skim_tests)"
fi
[ -f "$input" ] || { echo "FAIL: the generator wrote no input" >&2; exit 1; }

(cd "$tmp" && "$build/skim" > stdout.txt)
selected=$(grep -c '^done$' "$tmp/stdout.txt" || true)
[ "$selected" -gt 0 ] || { echo "FAIL: no event selected from the $source input" >&2; exit 1; }

"$build/treedump" "$input" Events | awk 'NR > 1 { print $1, $3 }' > "$tmp/input_branches"
"$build/treedump" "$tmp/output.root" Events | awk 'NR > 1 { print $1 }' > "$tmp/output_branches"

# Branch list: the keep patterns (* is any run of characters, the whole name must match)
# and the count branch of every enabled array, in input order.
(cd "$here" && node --input-type=module -e '
import { readFileSync } from "node:fs";
const [inputList, outputList] = process.argv.slice(1);
const patterns = ["Electron*", "nElectron", "Muon*", "nMuon", "Tau*", "nTau", "Jet*", "nJet", "FatJet*",
  "nFatJet", "GenPart*", "nGenPart", "GenJet*", "nGenJet", "Generator*", "MET*", "event*", "run*",
  "luminosityBlock*", "genWeight*", "btagWeight*", "LHE*", "*Weight*", "Flag*", "SubJet*", "HLT_*",
  "Pileup*", "fixedGridRhoFastjetAll"].map(p => new RegExp("^" + p.replace(/\*/g, ".*") + "$"));
const input = readFileSync(inputList, "utf8").split("\n").filter(Boolean).map(l => l.split(" "));
const enabled = new Set();
for (const [name, count] of input)
  if (patterns.some(re => re.test(name))) {
    enabled.add(name);
    if (count !== "-") enabled.add(count);
  }
const expected = input.map(([name]) => name).filter(name => enabled.has(name)).join("\n");
const got = readFileSync(outputList, "utf8").trim();
if (got !== expected) {
  console.error("FAIL: output branches differ from the kept branches of the input");
  process.exit(1);
}
' "$tmp/input_branches" "$tmp/output_branches")

node "$here/dump.mjs" "$tmp/output.root" Events > "$tmp/theirs"
branch_args=()
while read -r name; do branch_args+=(--branch "$name"); done < "$tmp/output_branches"
"$build/treedump" "$input" Events --json "${branch_args[@]}" > "$tmp/input_entries"

# The input entries whose event number the output holds, in input order.
(cd "$here" && node --input-type=module -e '
import { readFileSync, writeFileSync } from "node:fs";
const [theirs, inputEntries, ours] = process.argv.slice(1);
const eventOf = line => /"event":([0-9]+)/.exec(line)?.[1];
const wanted = new Set(readFileSync(theirs, "utf8").split("\n").filter(Boolean).map(eventOf));
const picked = readFileSync(inputEntries, "utf8").split("\n").filter(l => l && wanted.has(eventOf(l)));
writeFileSync(ours, picked.map(l => l + "\n").join(""));
' "$tmp/theirs" "$tmp/input_entries" "$tmp/ours")

entries=$(wc -l < "$tmp/theirs")
[ "$entries" -eq "$selected" ] || { echo "FAIL: output.root holds $entries entries, the skim printed $selected" >&2; exit 1; }
if ! cmp -s "$tmp/ours" "$tmp/theirs"; then
  echo "FAIL: output.root (jsroot) differs from the selected input entries (treedump):" >&2
  diff "$tmp/ours" "$tmp/theirs" | head -5 >&2
  exit 1
fi
echo "ok   $source: $selected entries selected, $(wc -l < "$tmp/output_branches") branches, equal as read by jsroot"
