#!/usr/bin/env bash
# Runs one fuzz target for a bounded time: run.sh BIN_DIR NAME SECONDS
# Seeds come from fuzz/corpus/NAME; new inputs go to a throwaway directory.
set -euo pipefail
bin_dir=$(cd "$1" && pwd) name=$2 seconds=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
if [ -d "$here/corpus/$name" ]; then cp -r "$here/corpus/$name/." "$work/corpus/"; fi
cd "$work"
exec "$bin_dir/$name" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 "$work/corpus"
