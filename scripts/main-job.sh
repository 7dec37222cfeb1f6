#!/usr/bin/env bash
# Sets up, builds, makes the example input once, and runs the skim on it in run/ with the
# live progress bar, then summarises output.root with our own tools.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
mkdir -p run
cd run
if [ ! -f example_RunIISummer20UL18.root ]; then
  echo "making example_RunIISummer20UL18.root (${EXAMPLE_EVENTS:-100000} events)"
  ../build/make-example --events "${EXAMPLE_EVENTS:-100000}" --output example_RunIISummer20UL18.root
fi
../build/skim
echo
echo "output.root: $(stat -c %s output.root) bytes"
../build/treedump output.root Events | head -1
echo "branches: $(../build/treedump output.root Events | tail -n +2 | wc -l)"
