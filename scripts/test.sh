#!/usr/bin/env bash
# Builds the sanitizer test configuration and the fuzz targets, then runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$top/scripts/deps.sh" test
# The browser tests' npm packages, exactly as the lock file pins them.
browser="$top/tests/browser"
if [ ! -d "$browser/node_modules" ] || [ "$browser/package-lock.json" -nt "$browser/node_modules" ]; then
  (cd "$browser" && npm ci --no-audit --no-fund)
fi

cmake -S "$top" -B "$top/build/fuzz" -DMESSAGES_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14 >/dev/null
cmake --build "$top/build/fuzz" -j"$jobs"

cmake -S "$top" -B "$top/build/test" -DCMAKE_BUILD_TYPE=Debug -DMESSAGES_SANITIZE=ON \
  -DMESSAGES_FUZZ_BIN_DIR="$top/build/fuzz/fuzz" >/dev/null
cmake --build "$top/build/test" -j"$jobs"

cd "$top/build/test"
ctest --output-on-failure -j"$jobs" --timeout 300
