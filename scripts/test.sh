#!/usr/bin/env bash
# Builds and runs every test, each step bounded in time:
#   1. the normal build and its whole suite;
#   2. the whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the soak test against the AddressSanitizer build;
#   4. the integration tests and the soak test with ThreadSanitizer (the service is the threaded
#      part; the tests fail on any report in its standard error);
#   5. the fuzz targets, built with clang, about 30 s each;
#   6. the browser test: a test page in headless Chromium against the normal build.
# Tests that start the service share port 37989 with everyone on the machine: they run under
# the port lock, which is held only while they run. Build output goes to <build>/build.log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build test
jobs=$(nproc)
lock=/tmp/kv-port-37989.lock
summary=()
step_name=""
step_start=0

step() {
  finish_step
  step_name=$*
  step_start=$SECONDS
  echo
  echo "==== $*"
}
finish_step() {
  if [ -n "$step_name" ]; then summary+=("$(printf '%5d s  %s' $((SECONDS - step_start)) "$step_name")"); fi
  step_name=""
}
# build <folder> <cmake options...> [-- <targets...>]
build() {
  local dir=$1
  shift
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift && targets=("$@")
  mkdir -p "$dir"
  if ! { cmake -S . -B "$dir" "${options[@]}" && \
         cmake --build "$dir" -j"$jobs" ${targets[@]+--target "${targets[@]}"}; } > "$dir/build.log" 2>&1; then
    tail -40 "$dir/build.log"
    echo "build of $dir failed; see $dir/build.log"
    exit 1
  fi
  if grep -q 'warning:' "$dir/build.log"; then
    grep 'warning:' "$dir/build.log" | sort -u | head -20
    echo "build of $dir has warnings"
    exit 1
  fi
  echo "built $dir"
}
# logged <log file> <pattern> <command...>: the command's output goes to the log; on success the
# lines matching the pattern are shown, on failure the end of the log.
logged() {
  local log=$1 pattern=$2
  shift 2
  if "$@" > "$log" 2>&1; then
    grep -E "$pattern" "$log" || true
  else
    tail -150 "$log"
    echo "failed: $*"
    echo "whole output: $log"
    exit 1
  fi
}
ctest_summary='tests passed|tests failed|Total Test time'
# suite <folder>: the tests that need no port at once, then the integration tests under the lock.
suite() {
  logged "$1/unit-tests.log" "$ctest_summary" ctest --test-dir "$1" --no-tests=error --output-on-failure -j"$jobs" -LE 'integration|soak'
  logged "$1/integration-tests.log" "$ctest_summary" \
    flock "$lock" ctest --test-dir "$1" --no-tests=error --output-on-failure -L integration
}
soak() {
  logged "$1/soak-test.log" "soak:|$ctest_summary" flock "$lock" ctest --test-dir "$1" --no-tests=error --output-on-failure -V -L soak
}

step "build and test"
# Tests and benchmarks on, also when scripts/run-service.sh configured this folder without them.
build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_TESTS=ON -DKV_BUILD_BENCH=ON
suite build

export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
step "build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
build build-asan -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=address,undefined -DKV_BUILD_BENCH=OFF
suite build-asan

step "soak test with AddressSanitizer"
soak build-asan
unset ASAN_OPTIONS UBSAN_OPTIONS

step "integration and soak tests with ThreadSanitizer"
build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_SANITIZE=thread -DKV_BUILD_BENCH=OFF -- kv_integration_tests soakTest
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp"
logged build-tsan/integration-tests.log "$ctest_summary" \
  flock "$lock" ctest --test-dir build-tsan --no-tests=error -L integration --output-on-failure
soak build-tsan
unset TSAN_OPTIONS

step "fuzz targets (libFuzzer, 30 s each)"
scripts/fuzz.sh 30

step "browser test (headless Chromium)"
# The lock pins every package with its checksum, so a cached copy is taken without asking the
# registry (a machine without network access runs the test from npm's cache).
PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --prefer-offline --no-audit --no-fund --loglevel=error
mkdir -p build/browser
logged build/browser/browser-test.log '^# (tests|pass|fail) |screenshot:' \
  env KV_BUILD_DIR=build flock "$lock" node --test tests/browser/

finish_step
echo
echo "Step times:"
printf '%s\n' "${summary[@]}"
echo
echo "All tests passed."
