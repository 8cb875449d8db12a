#!/usr/bin/env bash
# Builds the service with the simulated printer and starts it on port 37989.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF
cmake --build build -j"$(nproc)" --target kvPrinter
exec build/bin/kvPrinter
