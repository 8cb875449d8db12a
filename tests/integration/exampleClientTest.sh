#!/usr/bin/env bash
# The example client of examples/ against the built service and the simulated printer: it must
# end with the job finished and its preview written, the printer must have printed its copies,
# and the service must have stayed up without a sanitizer report.
#   exampleClientTest.sh <bin folder> <work folder> <python> <example>
set -euo pipefail
bin=$1 work=$2 python=$3 example=$4
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
work=$(cd "$work" && pwd)
rm -rf "$work/run" "$work/example.txt"

fail() {
  echo "FAILED: $*"
  if [ -f "$work/example.txt" ]; then
    echo "--- example output"
    cat "$work/example.txt"
  fi
  if [ -f "$work/service/stderr.txt" ]; then
    echo "--- end of the service's standard error"
    tail -20 "$work/service/stderr.txt" | cut -c1-300
  fi
  exit 1
}

"$here/../browser/launchService.sh" "$bin" "$work/service" &
service=$!
stop() { kill $service 2>/dev/null || return 0; wait $service 2>/dev/null || true; }
trap stop EXIT

# Listening on 37989 (hex 9465) by a socket of this very process, not one left over from someone else.
listening() {
  local inode fd
  for inode in $(awk '$4 == "0A" && $2 ~ /:9465$/ {print $10}' /proc/net/tcp); do
    for fd in "/proc/$service/fd"/*; do
      [ "$(readlink "$fd" 2>/dev/null)" = "socket:[$inode]" ] && return 0
    done
  done
  return 1
}
for _ in $(seq 600); do
  listening && break
  kill -0 $service 2>/dev/null || fail "the service ended before it listened"
  sleep 0.1
done
listening || fail "the service did not listen on 37989"

mkdir -p "$work/run"
(cd "$work/run" && timeout 120 "$python" "$example") > "$work/example.txt" 2>&1 ||
  fail "the example exited with $?"

[ "$(tail -1 "$work/example.txt")" = "job finished: 3 copies printed" ] ||
  fail "the example did not end with the job finished"
[ "$(head -c 8 "$work/run/label-preview.png" 2>/dev/null | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] ||
  fail "no PNG preview in the folder the example ran in"
pages=$(find "$work/service/output" -name '*.pbm' | wc -l)
[ "$pages" -eq 3 ] || fail "$pages printed pages, not 3"
kill -0 $service 2>/dev/null || fail "the service ended"
! grep -qE 'WARNING: ThreadSanitizer|ERROR: (Address|Leak)Sanitizer|runtime error:' "$work/service/stderr.txt" ||
  fail "sanitizer report from the service"
echo "example passed: job finished, preview written, $pages pages printed"
