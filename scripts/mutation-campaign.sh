#!/usr/bin/env bash
# Builds the programs with AddressSanitizer and UBSan in build-asan, writes small
# make-example files, and runs fuzz/mutate_trees.py over them and the reference ROOT files:
# MUTANTS mutants of each (default 100), each through treedump (keys, branches, --json),
# skim and treemerge under a time limit. Exits non-zero when a run hung, crashed, tripped a
# sanitizer, wrote unbounded output or failed without one line naming the file; the
# mutants that did are left in OUT (default build-asan/mutation-findings) with a .txt each.
#   bash scripts/mutation-campaign.sh [MUTANTS] [SEED]   (SKIM_TESTDATA names the reference folder)
set -euo pipefail
cd "$(dirname "$0")/.."
mutants="${1:-100}"
seed="${2:-1}"
data="${SKIM_TESTDATA:-../shared/testdata}"
out="${OUT:-build-asan/mutation-findings}"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKIM_SANITIZE=ON \
  -DSKIM_BUILD_TESTS=OFF -DSKIM_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan --target treedump treemerge skim make-example -j "$(nproc)"

seeds="$(mktemp -d)"
trap 'rm -rf "$seeds"' EXIT
for setting in 0 101 404 505; do
  build-asan/make-example --events 30 --cluster 10 --seed 3 --compression "$setting" --quiet \
    --output "$seeds/example-$setting.root"
done
shopt -s nullglob
files=("$data"/*.root "$data"/older-and-other-writers/*.root "$data"/rntuple/*.root "$seeds"/*.root)
echo "mutation campaign: ${#files[@]} seed files, $mutants mutants each, seed $seed"
python3 fuzz/mutate_trees.py --bin build-asan --mutants "$mutants" --seed "$seed" --out "$out" "${files[@]}"
