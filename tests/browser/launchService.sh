#!/usr/bin/env bash
# Starts the built service for the browser test and the example client's test in a fresh work
# folder, with the simulated printer printing a copy every 50 ms. The service replaces this
# script (same process id).
#   launchService.sh <bin folder> <work folder>
set -euo pipefail
bin=$(cd "$1" && pwd)
work=$2
rm -rf "$work"
mkdir -p "$work/output"
work=$(cd "$work" && pwd)
echo '{"pageMs": 50}' > "$work/scenario.json"
cd "$work"
export KVSIM_SCENARIO="$work/scenario.json" KVSIM_TRACE="$work/trace.jsonl" KVSIM_OUTPUT="$work/output"
export PROGRAMDATA="$work/programdata"
exec "$bin/kvPrinter" > "$work/stdout.txt" 2> "$work/stderr.txt" < /dev/null
