#!/usr/bin/env bash
# Installs what the project needs on a fresh Debian 12 machine: compiler and build tools,
# the compression libraries, test and benchmark frameworks, node and jsroot for the
# interop tests and the report page, Chromium for the page's test, the XRootD client library
# and server (root:// inputs and their tests), Slurm for the batch tests. Safe to run again:
# it installs only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(g++ clang libclang-rt-14-dev cmake ninja-build pkg-config make
          zlib1g-dev liblzma-dev liblz4-dev libxxhash-dev libzstd-dev
          libtbb-dev libgtest-dev libgmock-dev libbenchmark-dev tmux chromium
          libxrootd-client-dev xrootd-server xrootd-client)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# node may come from Debian or from elsewhere; only install it when there is none.
command -v node >/dev/null 2>&1 || missing+=(nodejs)
command -v npm >/dev/null 2>&1 || missing+=(npm)

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Slurm and munge for the batch tests (a one-node cluster on localhost).
bash scripts/slurm-local.sh install

# jsroot reads ROOT files independently of our engine, and skim-report inlines its build in
# report pages; its optional canvas dependency cannot build here and is not needed to read
# files. playwright-core drives Chromium in the report page's test.
if [ ! -f tests/interop/node_modules/jsroot/package.json ] ||
   [ ! -f tests/interop/node_modules/playwright-core/package.json ]; then
  echo "setup: installing jsroot and playwright-core"
  (cd tests/interop && npm install --ignore-scripts --no-audit --no-fund --no-package-lock \
      --loglevel=error >/dev/null)
fi
