#!/usr/bin/env bash
# Builds the service and runs it until Ctrl-C.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" run
cmake -S "$top" -B "$top/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMESSAGES_TESTS=OFF >/dev/null
cmake --build "$top/build/release" -j"$(nproc)"
exec "$top/build/release/service/messages" "$@"
