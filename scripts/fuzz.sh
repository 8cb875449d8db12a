#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# each on its corpus for a bounded time. Prints the executions per target; fails on a crash, a
# leak, a sanitizer report or a failed check, leaving the input that caused it in the log folder.
#   scripts/fuzz.sh [seconds per target, default 30] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
build=build-fuzz
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(urlDecodeFuzz base64DecodeFuzz imageSizeFuzz answerRequestFuzz callDrawApiFuzz labelJsonFuzz pictureDecodeFuzz)

mkdir -p "$build"
CC=clang CXX=clang++ cmake -S . -B "$build" -DKV_FUZZ=ON -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j"$(nproc)" --target kv_fuzz_targets > "$build/build.log" 2>&1 || { tail -50 "$build/build.log"; exit 1; }

logs="$build/fuzz-logs"
mkdir -p "$logs"
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/support/lsan-fontconfig.supp"
failed=0
for target in "${targets[@]}"; do
  # New inputs go to a working copy in the build folder; the tree keeps only the seeds.
  work="$build/fuzz-corpus/$target"
  mkdir -p "$work"
  log="$logs/$target.log"
  status=0
  "$build/bin/$target" "$work" "tests/fuzz/corpus/$target" -max_total_time="$seconds" -timeout=20 \
    -rss_limit_mb=4096 -max_len=65536 -print_final_stats=1 -artifact_prefix="$logs/$target-" > "$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -eq 0 ]; then
    printf '%-20s %10s executions, no finding\n' "$target" "${runs:-?}"
  else
    printf '%-20s %10s executions, FAILED (exit %s); log %s\n' "$target" "${runs:-?}" "$status" "$log"
    grep -E 'ERROR:|runtime error|fuzz check failed|Test unit written' "$log" | head -5 || true
    failed=1
  fi
done
exit $failed
