#!/usr/bin/env bash
# Long fuzz runs: scripts/fuzz.sh [SECONDS per target, default 60]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$top/scripts/deps.sh" test
cmake -S "$top" -B "$top/build/fuzz" -DMESSAGES_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14 >/dev/null
cmake --build "$top/build/fuzz" -j"$(nproc)"
for target in "$top"/build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  echo "== $(basename "$target") for ${seconds}s"
  "$top/fuzz/run.sh" "$top/build/fuzz/fuzz" "$(basename "$target")" "$seconds"
done
