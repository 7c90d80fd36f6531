#!/usr/bin/env bash
# Put and get of a 32 MiB file through the database file store (on a driver
# with binary %du parameters and on one with hex text), next to the same
# chunks inserted and selected through libpq directly, on a throwaway server.
#   scripts/bench-dbfiles.sh [ROUNDS]
# BENCH_BUILD names another build directory (default build/bench).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
build=${BENCH_BUILD:-$top/build/bench}
"$top/scripts/deps.sh" bench
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESSAGES_BENCH=ON -DMESSAGES_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_dbfiles -j2 >/dev/null

dir=$(mktemp -d /tmp/messages-bench.XXXXXX)
trap '"$top/scripts/pg-test.sh" stop "$dir" >/dev/null; rm -rf "$dir"' EXIT
"$top/scripts/pg-test.sh" start "$dir" >/dev/null
"$build/bench/bench_dbfiles" "$dir/pg.env" "$rounds"
