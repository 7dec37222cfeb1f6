#!/usr/bin/env bash
# Sets up, builds and runs every test: unit and end-to-end tests, the jsroot interop
# tests, the engine, framework and skim tests under ThreadSanitizer, and a bounded fuzzing
# run under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
(cd build && ctest --output-on-failure -j "$(nproc)")
bash scripts/tsan.sh
if [ -f fuzz/CMakeLists.txt ]; then
  bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
fi
