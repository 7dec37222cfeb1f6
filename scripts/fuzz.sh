#!/usr/bin/env bash
# Builds the file-reading fuzzer (clang, libFuzzer, AddressSanitizer, UBSan) in build-fuzz
# and runs it for SECONDS, starting from the reference ROOT files. Exits non-zero when the
# fuzzer finds a crash, a leak, undefined behaviour, a hang or a memory blow-up; the input
# that caused it is left in build-fuzz/findings.
#   bash scripts/fuzz.sh [SECONDS]        (SKIM_TESTDATA names the reference folder)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
data="${SKIM_TESTDATA:-../shared/testdata}"

if ! ls "$data"/*.root >/dev/null 2>&1; then
  if [ "${CI:-}" = "true" ]; then
    echo "fuzz: FAIL under CI: no reference files in $data (set SKIM_TESTDATA)" >&2
    exit 1
  fi
  echo "fuzz: skipped: no reference files in $data (set SKIM_TESTDATA)"
  exit 0
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSKIM_FUZZ=ON -DSKIM_BUILD_TESTS=OFF -DSKIM_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target fuzz_read make_seeds -j "$(nproc)"

# Seeds: the reference files (older versions and other writers too), and small files of
# every type and codec from our own writer.
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
cp "$data"/*.root "$corpus"/
cp "$data"/older-and-other-writers/*.root "$corpus"/
cp "$data"/rntuple/*.root "$corpus"/ 2>/dev/null || true
./build-fuzz/fuzz/make_seeds "$corpus"
mkdir -p build-fuzz/findings

# The largest reference file is under 1.4 MB; inputs may grow a little past it. A single
# input taking seconds is a hang; a single allocation of a gigabyte is a blow-up.
echo "fuzz: running for ${seconds}s"
./build-fuzz/fuzz/fuzz_read "$corpus" -dict=fuzz/root.dict \
  -max_total_time="$seconds" -max_len=1572864 -timeout=20 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
  -artifact_prefix=build-fuzz/findings/ -print_final_stats=1
