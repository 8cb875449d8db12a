#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the whole suite again with AddressSanitizer
# and UndefinedBehaviorSanitizer, then the integration tests with ThreadSanitizer (the service is
# the threaded part; the tests fail on any report in its standard error).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

step() { echo; echo "==== $*"; }

step "build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

step "build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=address,undefined -DKV_BUILD_BENCH=OFF
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

step "integration tests with ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_SANITIZE=thread -DKV_BUILD_BENCH=OFF
cmake --build build-tsan -j"$jobs" --target kv_integration_tests
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp" \
  ctest --test-dir build-tsan -L integration --output-on-failure

echo
echo "All tests passed."
