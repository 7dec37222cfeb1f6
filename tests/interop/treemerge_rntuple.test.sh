#!/usr/bin/env bash
# treemerge of RNTuple parts: RNTuples we write (fundamentals, vectors, strings; other
# compression settings, page and cluster sizes per part) merged and read by jsroot and by our
# reader against what the writing code put in, part after part; files ROOT wrote (every
# field kind, several cluster groups) merged with themselves, read by our reader against
# the concatenation (jsroot cannot referee their projected fields and cluster groups).
# Parts of another encoding, and a tree among RNTuples, are refused with one line and leave
# no output.
#   bash treemerge_rntuple.test.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: treemerge_rntuple.test.sh BUILD_DIR}"
data="${SKIM_TESTDATA:-$here/../../../shared/testdata}"

source "$here/common.sh"
require_jsroot
require_tools "$build" treemerge treedump make-example tests/write-ntuple-samples

failed=0
fail() { echo "FAIL $*" >&2; failed=1; }
ok() { echo "ok   $*"; }

"$build/tests/write-ntuple-samples" "$tmp" > /dev/null
# The compressed samples share one structure (uncompressed ones store floats unsplit).
parts=(ntuple-zlib ntuple-lzma ntuple-lz4 ntuple-zstd ntuple-small-pages ntuple-small-clusters ntuple-one-entry)
files=() expected=()
for p in "${parts[@]}"; do files+=("$tmp/$p.root"); expected+=("$tmp/$p.expected"); done
cat "${expected[@]}" > "$tmp/merged.expected"
"$build/treemerge" "$tmp/merged.root" "${files[@]}" > "$tmp/out"
grep -q "entries from ${#parts[@]} inputs" "$tmp/out" || fail "treemerge said: $(cat "$tmp/out")"
if (cd "$here" && node check_ntuple.mjs "$tmp/merged.root" Events "$tmp/merged.expected" "$tmp/ntuple-zlib.types"); then
  ok "jsroot reads the ${#parts[@]} merged parts: $(wc -l < "$tmp/merged.expected") entries, $(wc -l < "$tmp/ntuple-zlib.types") fields"
else fail "jsroot reads other values from the merged RNTuple"; fi
if "$build/treedump" "$tmp/merged.root" Events --json | cmp -s - "$tmp/merged.expected"; then
  ok "our reader reads the merged parts as written"
else fail "our reader reads other values from the merged RNTuple"; fi

for f in "$data"/rntuple/*.root; do
  name="$("$build/treedump" "$f" | awk '$2 == "ROOT::RNTuple" { print $1; exit }')"
  "$build/treemerge" --tree "$name" "$tmp/self.root" "$f" "$f" "$f" > /dev/null
  "$build/treedump" "$f" "$name" --json > "$tmp/one.json"
  if "$build/treedump" "$tmp/self.root" "$name" --json | cmp -s - <(cat "$tmp/one.json" "$tmp/one.json" "$tmp/one.json"); then
    ok "$(basename "$f") merged three times: its entries three times"
  else fail "$(basename "$f") merged three times: other values than its entries three times"; fi
done

refused() {  # LABEL PATTERN INPUT...
  local label="$1" pattern="$2" status=0
  shift 2
  "$build/treemerge" "$tmp/refused.root" "$@" > /dev/null 2> "$tmp/err" || status=$?
  if [ "$status" != 1 ] || [ "$(wc -l < "$tmp/err")" != 1 ] || ! grep -q -- "$pattern" "$tmp/err"; then
    fail "$label: exit $status, said: $(cat "$tmp/err")"
  elif [ -e "$tmp/refused.root" ]; then fail "$label: left an output"
  else ok "$label refused: $(cat "$tmp/err")"; fi
}
refused "another encoding" "ntuple-none.root: RNTuple Events: field .*: column .* of type" \
  "$tmp/ntuple-zlib.root" "$tmp/ntuple-none.root"
"$build/make-example" --events 20 --quiet --output "$tmp/tree.root"
refused "a tree after an RNTuple" "tree.root: Events is a TTree where .*trees and RNTuples are not merged together" \
  "$tmp/ntuple-zlib.root" "$tmp/tree.root"
refused "an RNTuple after a tree" "ntuple-zlib.root: Events is an RNTuple where .*tree.root holds a tree" \
  "$tmp/tree.root" "$tmp/ntuple-zlib.root"

exit "$failed"
