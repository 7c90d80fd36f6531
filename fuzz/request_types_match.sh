#!/usr/bin/env bash
# The session API fuzz target picks its requests from a list of its own: it
# must name every row of the dispatch table, in the table's order.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
table=$(sed -n 's/^    {"\([A-Za-z]*\)", \(true\|false\), .*/\1/p' "$top/messages/requests/dispatch.cpp")
fuzzed=$(sed -n '/requestTypes\[\] = {/,/^};/s/^    "\([A-Za-z]*\)",$/\1/p' "$top/fuzz/fuzz_session_api.cpp")
if [ -z "$table" ] || [ "$table" != "$fuzzed" ]; then
  echo "dispatch table (<) and fuzz_session_api (>) differ:"
  diff <(echo "$table") <(echo "$fuzzed") || true
  exit 1
fi
