#!/usr/bin/env bash
# The faults of tests/e2e/faults_under_load.cpp at a larger load:
# FAULTS_WRITERS people (30) post, mark read and like without pause while
# PostgreSQL is stopped and started (fast and immediate), platform-webserver
# and messages are killed and started again, clients vanish in the middle of
# requests and uploads, and a client stops reading.
# The writers record every write the service acknowledged, which the load
# generator of bench-load.sh does not, so the test's own load is used here.
# One PASS or FAIL line a fault: the time until a new request is served, the
# service's descriptors, timerfds and resident memory before and after, and
# the writes acknowledged and found stored once.
#   scripts/bench-faults.sh
# Environment: BENCH_BUILD (build directory; one configured already, such as
# the sanitizer test build, is used as it is), FAULTS_WRITERS (30).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$top/build/bench-faults}
writers=${FAULTS_WRITERS:-30}
"$top/scripts/deps.sh" test
[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target messages platform-webserver test_e2e_faults_under_load -j2 >/dev/null

pg=$(mktemp -d /tmp/messages-bench-faults.XXXXXX)
trap '"$top/scripts/pg-test.sh" stop "$pg" >/dev/null 2>&1 || true; rm -rf "$pg"' EXIT
"$top/scripts/pg-test.sh" start "$pg" >/dev/null
echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); $writers writers;" \
  "$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt") build$(grep -q '^MESSAGES_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" && echo ' with sanitizers')"
MESSAGES_PG_INFO="$pg/pg.env" FAULTS_WRITERS="$writers" FAULTS_RECOVERY_GOAL_MS=5000 "$build/tests/test_e2e_faults_under_load" >"$pg/out" 2>&1 || true
grep -E '^(PASS|FAIL) |^slow-reader:|^\[  (PASSED|FAILED)|^\[  FAILED' "$pg/out"
! grep -q '^FAIL ' "$pg/out" && grep -q '^\[  PASSED' "$pg/out" && ! grep -q '^\[  FAILED' "$pg/out"
