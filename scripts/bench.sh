#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them: scripts/bench.sh [bench_name ...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" bench
cmake -S "$top" -B "$top/build/bench" -DCMAKE_BUILD_TYPE=Release -DMESSAGES_BENCH=ON -DMESSAGES_TESTS=OFF >/dev/null
cmake --build "$top/build/bench" -j"$(nproc)"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for b in "$top"/build/bench/bench/bench_*; do [ -x "$b" ] && names+=("$(basename "$b")"); done
fi
for n in "${names[@]}"; do
  echo "== $n"
  "$top/build/bench/bench/$n"
done
