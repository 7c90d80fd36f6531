#!/usr/bin/env bash
# Fuzz runs by count: scripts/fuzz-long.sh [RUNS per target, default 10000000] [TARGET ...]
# Builds the fuzz targets (in FUZZ_BUILD_DIR, default build/fuzz) and runs each
# named target (default: all) until it has executed RUNS inputs, as two jobs
# of RUNS/2 (or FUZZ_JOBS jobs), at the lowest priority. The corpus
# grows in var/fuzz/TARGET/corpus from fuzz/corpus/TARGET; crashes land in
# var/fuzz/TARGET/ and the job logs in var/fuzz/TARGET/fuzz-N.log.
# fuzz_session_api gets a throwaway PostgreSQL of its own.
# One line per target: executions, time, exec/s, crashes, PASS or FAIL.
# FUZZ_UNIT_TIMEOUT (seconds an input may take, default 60) can be raised so
# that the jobs survive being paused (kill -STOP) while the machine measures.
# FUZZ_MAX_LEN caps the input length: libFuzzer lets inputs grow to 4096
# bytes, and the session-API target slows as they grow.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-10000000}
shift || true
build=${FUZZ_BUILD_DIR:-$top/build/fuzz}
# FUZZ_JOBS sets how many jobs (default 2, one a core): the session-API
# target keeps a core busy with its own PostgreSQL, and more jobs than cores
# only share them (two did 470 executions a second where four did 340).
jobs=${FUZZ_JOBS:-2}
per=$((runs / jobs))

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in "$top"/fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi

"$top/scripts/deps.sh" test
cmake -S "$top" -B "$build" -DMESSAGES_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14 >/dev/null
nice -n 19 cmake --build "$build" -j"$jobs" --target "${targets[@]}" >/dev/null

pg=""
cleanup() { if [ -n "$pg" ]; then "$top/scripts/pg-test.sh" stop "$pg"; rm -rf "$pg"; fi; }
trap cleanup EXIT
findings() { ls "$1" | grep -cE '^(crash|leak|timeout|oom)-' || true; }

failed=0
for target in "${targets[@]}"; do
  work="$top/var/fuzz/$target"
  mkdir -p "$work/corpus"
  rm -f "$work"/fuzz-*.log
  if [ -d "$top/fuzz/corpus/$target" ]; then cp -rn "$top/fuzz/corpus/$target/." "$work/corpus/"; fi
  if [ "$target" = fuzz_session_api ] && [ -z "$pg" ]; then
    pg=$(mktemp -d /tmp/fuzz-pg.XXXXXX)
    "$top/scripts/pg-test.sh" start "$pg" >/dev/null
    export MESSAGES_PG_INFO="$pg/pg.env"
  fi
  before=$(findings "$work")
  start=$(date +%s)
  # Each job exits on its first crash; the count below finds it.
  (cd "$work" && nice -n 19 "$build/fuzz/$target" -jobs="$jobs" -workers="$jobs" -runs="$per" \
    -timeout="${FUZZ_UNIT_TIMEOUT:-60}" ${FUZZ_MAX_LEN:+-max_len=$FUZZ_MAX_LEN} -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" corpus >/dev/null 2>&1) || true
  seconds=$(( $(date +%s) - start ))
  executed=$(cat "$work"/fuzz-*.log 2>/dev/null | sed -n 's/^stat::number_of_executed_units: *//p' | awk '{n += $1} END {print n + 0}')
  crashes=$(($(findings "$work") - before))
  verdict=PASS
  if [ "$crashes" -gt 0 ] || [ "$executed" -lt $((per * jobs)) ]; then verdict=FAIL; failed=1; fi
  echo "$target: $executed executions in ${seconds}s, $((executed / (seconds > 0 ? seconds : 1))) exec/s, $crashes crashes: $verdict"
done
exit $failed
