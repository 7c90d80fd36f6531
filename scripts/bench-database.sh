#!/usr/bin/env bash
# Small INSERTs per second through the database driver, next to pgbench with
# one client running the same statement against the same throwaway server;
# then one SELECT of SELECT_ROWS rows (default 100000) read row by row, next
# to the same SELECT read whole.
#   scripts/bench-database.sh [COUNT] [ROUNDS]
# Each round runs every pair once, alternating, on an emptied table; the best
# round of each is reported.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-5000}
rounds=${2:-9}
"$top/scripts/deps.sh" bench
cmake -S "$top" -B "$top/build/bench" -DCMAKE_BUILD_TYPE=Release -DMESSAGES_BENCH=ON -DMESSAGES_TESTS=OFF >/dev/null
cmake --build "$top/build/bench" --target bench_database -j2 >/dev/null
driver="$top/build/bench/bench/bench_database"

dir=$(mktemp -d /tmp/messages-bench.XXXXXX)
trap '"$top/scripts/pg-test.sh" stop "$dir" >/dev/null; rm -rf "$dir"' EXIT
"$top/scripts/pg-test.sh" start "$dir" >/dev/null
# shellcheck disable=SC1091
. "$dir/pg.env"
export PGPASSWORD=$PG_PASSWORD
sql() { "$PG_BIN/psql" -X -q -h "$PG_HOST" -p "$PG_PORT" -U "$PG_USER" -d "$PG_DATABASE" -v ON_ERROR_STOP=1 -c "$1" >/dev/null; }
sql "CREATE TABLE bench (id BIGSERIAL PRIMARY KEY, v INTEGER, name TEXT)"
# The driver's statement, with pgbench's variable for the value.
printf '\\set v random(0, 1000000)\nINSERT INTO bench (v, name) VALUES (:v, '"'x'"');\n' >"$dir/insert.sql"

pgbench_rate() {
  sql "TRUNCATE bench"
  "$PG_BIN/pgbench" -n -h "$PG_HOST" -p "$PG_PORT" -U "$PG_USER" -c 1 -j 1 -t "$count" -M "$1" \
    -f "$dir/insert.sql" "$PG_DATABASE" 2>/dev/null | sed -n 's/^tps = \([0-9.]*\).*/\1/p' | cut -d. -f1
}
driver_rate() {
  sql "TRUNCATE bench"
  "$driver" "$dir/pg.env" "${2:-$count}" "$1" | sed -n 's/.*rate=\([0-9]*\).*/\1/p'
}
best() { if [ "${1:-0}" -gt "${2:-0}" ]; then echo "$1"; else echo "${2:-0}"; fi; }

rows=${SELECT_ROWS:-100000}
pg_simple=0; pg_prepared=0; fetch_all=0; single_row=0; prepared=0; select_all=0; select_rows=0
for _ in $(seq 1 "$rounds"); do
  select_all=$(best "$select_all" "$(driver_rate select-all "$rows")")
  select_rows=$(best "$select_rows" "$(driver_rate select-rows "$rows")")
  pg_simple=$(best "$pg_simple" "$(pgbench_rate simple)")
  fetch_all=$(best "$fetch_all" "$(driver_rate fetch-all)")
  single_row=$(best "$single_row" "$(driver_rate single-row)")
  pg_prepared=$(best "$pg_prepared" "$(pgbench_rate prepared)")
  prepared=$(best "$prepared" "$(driver_rate prepared)")
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "$count INSERTs on one connection, best of $rounds rounds (statements/s):"
printf '  %-34s %8s   %-28s %8s   %s\n' "driver" "rate" "peer" "rate" "ratio"
printf '  %-34s %8s   %-28s %8s   %s\n' "fetch-all (PQsendQuery)" "$fetch_all" "pgbench -c 1 -M simple" "$pg_simple" "$(ratio "$fetch_all" "$pg_simple")"
printf '  %-34s %8s   %-28s %8s   %s\n' "single-row (PQsendQuery)" "$single_row" "pgbench -c 1 -M simple" "$pg_simple" "$(ratio "$single_row" "$pg_simple")"
printf '  %-34s %8s   %-28s %8s   %s\n' "prepared (PQsendQueryPrepared)" "$prepared" "pgbench -c 1 -M prepared" "$pg_prepared" "$(ratio "$prepared" "$pg_prepared")"
echo "one SELECT of $rows rows of 200 bytes, best of $rounds rounds (rows/s):"
printf '  %-34s %8s   %-28s %8s   %s\n' "single-row mode (row by row)" "$select_rows" "whole result (same driver)" "$select_all" "$(ratio "$select_rows" "$select_all")"
