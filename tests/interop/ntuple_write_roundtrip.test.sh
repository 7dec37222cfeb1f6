#!/usr/bin/env bash
# RNTuples we write, read by jsroot: every fundamental type as a field and as a
# std::vector, std::string, every compression setting, pages and clusters small enough
# that every column crosses their boundaries. Every value jsroot reads must equal what the
# writing code put in (write-ntuple-samples writes it beside each file), and so must every
# value our reader reads (treedump), 64-bit integers to the last digit. The same content
# written twice with SOURCE_DATE_EPOCH, at one and at two threads, gives the same bytes.
#   bash ntuple_write_roundtrip.test.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: ntuple_write_roundtrip.test.sh BUILD_DIR}"
writer="$build/tests/write-ntuple-samples"

source "$here/common.sh"
require_jsroot
require_tools "$build" tests/write-ntuple-samples treedump

# The same path both times: the file records its own name.
mkdir "$tmp/out"
SOURCE_DATE_EPOCH=1700000000 SKIM_THREADS=2 "$writer" "$tmp/out" > /dev/null
mv "$tmp/out" "$tmp/two"
mkdir "$tmp/out"
SOURCE_DATE_EPOCH=1700000000 SKIM_THREADS=1 "$writer" "$tmp/out" > "$tmp/files"

failed=0
while read -r file; do
  base="${file%.root}"
  name="$(basename "$file")"
  if ! cmp -s "$file" "$tmp/two/$name"; then
    echo "FAIL $name: bytes differ between one and two threads" >&2; failed=1
  fi
  if (cd "$here" && node check_ntuple.mjs "$file" Events "$base.expected" "$base.types"); then
    echo "ok   $name: $(wc -l < "$base.expected") entries, $(wc -l < "$base.types") fields"
  else
    echo "FAIL $name: jsroot reads other values" >&2; failed=1
  fi
  if ! "$build/treedump" "$file" Events --json | cmp -s - "$base.expected"; then
    echo "FAIL $name: our reader reads other values; first difference:" >&2
    "$build/treedump" "$file" Events --json | diff - "$base.expected" | head -3 | cut -c1-300 >&2
    failed=1
  fi
done < "$tmp/files"
[ -s "$tmp/files" ] || failed=1
exit "$failed"
