#!/usr/bin/env bash
# Every entry of every basic-type branch of every reference file, as read by treedump and by
# jsroot, must agree value by value: floats as float32 bits, doubles as float64 bits,
# integers (64-bit too) exactly, bools exactly.
#   bash read_reference.test.sh BUILD_DIR      (SKIM_TESTDATA names the reference folder)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: read_reference.test.sh BUILD_DIR}"
treedump="$build/treedump"
data="${SKIM_TESTDATA:-$here/../../../shared/testdata}"

source "$here/common.sh"
[ -d "$data" ] || skip "reference data not found at $data (set SKIM_TESTDATA)"
require_jsroot
require_tools "$build" treedump

# Compares two dumps line by line. Identical text passes at once; otherwise values are
# compared per branch type (given as NAME=LETTER lines in the types file).
compare='
import { readFileSync } from "node:fs";
const [ours, theirs, typesFile] = process.argv.slice(1);
const types = new Map(readFileSync(typesFile, "utf8").split("\n").filter(Boolean).map(l => l.split("=")));
const lines = f => readFileSync(f, "utf8").split("\n").filter(Boolean);
const a = lines(ours), b = lines(theirs);
// Keeps numbers as text so 64-bit integers stay exact.
const parse = line => JSON.parse(line.replace(/(?<=[:,\[])(-?[0-9][0-9.eE+-]*)(?=[,\]}])/g, "\"#$1\""));
const num = v => (v === "nan" ? NaN : v === "inf" ? Infinity : v === "-inf" ? -Infinity : Number(v.slice(1)));
const same = (x, y, t) => {
  if (Array.isArray(x) || Array.isArray(y))
    return Array.isArray(x) && Array.isArray(y) && x.length === y.length && x.every((e, i) => same(e, y[i], t));
  if (t === "O") return x === y;
  if (t === "F") return Object.is(Math.fround(num(x)), Math.fround(num(y)));
  if (t === "D") return Object.is(num(x), num(y));
  return typeof x === "string" && typeof y === "string" && BigInt(x.slice(1)) === BigInt(y.slice(1));
};
let bad = 0;
if (a.length !== b.length) { console.error(`entry count differs: ${a.length} vs ${b.length}`); bad++; }
for (let i = 0; i < Math.min(a.length, b.length) && bad < 10; ++i) {
  if (a[i] === b[i]) continue;
  const x = parse(a[i]), y = parse(b[i]);
  const kx = Object.keys(x).join(","), ky = Object.keys(y).join(",");
  if (kx !== ky) { console.error(`entry ${i}: branches differ:\n  ${kx}\n  ${ky}`); bad++; continue; }
  for (const k of Object.keys(x))
    if (!same(x[k], y[k], types.get(k))) {
      console.error(`entry ${i}: ${k}: ours ${JSON.stringify(x[k])}, jsroot ${JSON.stringify(y[k])}`);
      bad++;
    }
}
process.exit(bad ? 1 : 0);
'

# Trees jsroot cannot read entry by entry (it lacks the old leaf streamers some files need)
# are compared on their listing only: entry count, basic-type branches and their types.
compare_listing() {
  local file="$1" tree="$2" name="$3"
  "$treedump" "$file" "$tree" | awk 'NR == 1 || $2 != "unsupported:" { print $1, $2 }' > "$tmp/ours"
  if ! node "$here/dump.mjs" "$file" "$tree" --list > "$tmp/theirs" 2> "$tmp/jsroot-errors"; then
    echo "FAIL $name: jsroot cannot list it either" >&2; return 1
  fi
  if ! diff "$tmp/ours" "$tmp/theirs" >&2; then
    echo "FAIL $name: listings differ" >&2; return 1
  fi
  echo "ok   $name: listing of $(($(wc -l < "$tmp/ours") - 1)) branches (jsroot cannot read its entries)"
}

failed=0
checked=0
# Older ROOT versions and other writers: every key path of a tree class, subdirectories too.
for file in "$data"/*.root "$data"/older-and-other-writers/*.root; do
  trees=$("$treedump" "$file" | awk '$2 == "TTree" || $2 == "TNtuple" || $2 == "TNtupleD" { print $1 }' | sort -u)
  [ -n "$trees" ] || { echo "FAIL $file: no tree found" >&2; failed=1; continue; }
  for tree in $trees; do
    name="$(basename "$file") $tree"
    "$treedump" "$file" "$tree" | awk 'NR > 1 && $2 != "unsupported:" { print $1 "=" $2 }' > "$tmp/types"
    if ! node "$here/dump.mjs" "$file" "$tree" > "$tmp/theirs" 2> "$tmp/jsroot-errors"; then
      compare_listing "$file" "$tree" "$name" || failed=1
      continue
    fi
    if ! "$treedump" "$file" "$tree" --json > "$tmp/ours"; then
      echo "FAIL $name: treedump failed" >&2; failed=1; continue
    fi
    if (cd "$here" && node --input-type=module -e "$compare" "$tmp/ours" "$tmp/theirs" "$tmp/types"); then
      echo "ok   $name: $(wc -l < "$tmp/ours") entries, $(wc -l < "$tmp/types") branches"
      checked=$((checked + 1))
    else
      echo "FAIL $name: values differ" >&2
      failed=1
    fi
  done
done
[ "$checked" -gt 0 ] || { echo "FAIL: no tree compared" >&2; exit 1; }
exit "$failed"
