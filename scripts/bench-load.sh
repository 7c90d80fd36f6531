#!/usr/bin/env bash
# Many people at once through platform-webserver (bench/bench_load.cpp) on a
# realistic history, and the largest number of people the installation
# carries on this machine: every request type's p99 under 100 ms, live
# updates' p99 under 200 ms, no timeout and no dropped connection.
#   scripts/bench-load.sh [N ...]
# With N values it runs those; without, it doubles N from LOAD_FROM (100)
# while N passes, or halves it while it fails, and then bisects twice between
# the largest N that passed and the smallest that failed. Then, at the largest N that passed: where the time goes (the
# statements with the most total time, from pg_stat_statements, and the CPU
# of each process), how busy the service's one database connection is
# (sampled from pg_stat_activity), and a login storm: the webserver
# restarts under N connected people and every one logs in again.
# Environment: BENCH_BUILD (build directory), LOAD_SECONDS (measured, 60),
# LOAD_WARMUP (20), LOAD_TOPICS (50), LOAD_LOGINS (logins a second during the
# ramp, 25), LOAD_FROM (100), LOAD_STORM (0: no storm; a number above 1: the
# storm's N instead of the largest N that passed), LOAD_HOLD (seconds to
# keep the site up after the runs, to try the logged statements on it),
# LOAD_SOAK (seconds: instead of the search, a soak of the one N given).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$top/build/bench-load}
seconds=${LOAD_SECONDS:-60}
warmup=${LOAD_WARMUP:-20}
topics=${LOAD_TOPICS:-50}
logins=${LOAD_LOGINS:-25}
storm=${LOAD_STORM:-1}
"$top/scripts/deps.sh" bench
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESSAGES_BENCH=ON -DMESSAGES_TESTS=OFF >/dev/null
cmake --build "$build" --target messages platform-webserver bench_load -j2 >/dev/null
driver="$build/bench/bench_load"

# The history has this many people; a run uses the first N of them.
people=9600
for n in "$@"; do [ "$n" -le "$people" ] || { echo "bench-load.sh: at most $people people" >&2; exit 2; }; done
bench=load
sessions=$people
# shellcheck source=scripts/bench-site.sh
. "$top/scripts/bench-site.sh"
pg_conf="shared_preload_libraries = 'pg_stat_statements'
pg_stat_statements.track = top
pg_stat_statements.track_planning = on"
# Room for every statement of the run in one file of the service's log.
start_site --log-size=500000000
# shellcheck source=scripts/bench-messaging-lib.sh
. "$top/scripts/bench-messaging-lib.sh"
wait_line "$dir/webserver.log" "register websocket path /messages: ok" >/dev/null
# The statistics views, over the cluster's own socket as its superuser.
psql_admin() { "$PG_BIN/psql" -X -q -h "$PG_SOCKET" -p "$PG_PORT" -U postgres -d "$PG_DATABASE" -v ON_ERROR_STOP=1 "$@"; }
psql_admin -c "CREATE EXTENSION pg_stat_statements"

# The history: 100000 messages of the made-up texts in 2000 discussions over
# the topics, 150 s apart over half a year. Discussions start one after the
# other and each lives for about three and a half days: a message goes to one
# of the 41 discussions around its place in time (about 50 a discussion; a
# discussion's first message is its root, the others reply to it). Authors
# are the first 2000 people; 2000 tags on one
# message in ten, one or two each; likes on about one in seven, one to
# three each; one in twenty mentions a person; ten read marks a message, by
# people drawn at random.
generate_start=$(date +%s.%N)
# shellcheck source=scripts/bench-texts.sh
. "$top/scripts/bench-texts.sh"
{
  texts_sql 100000
  cat <<SQL
\\set people $people
\\set topics $topics
SQL
  cat <<'SQL'
BEGIN;
INSERT INTO objects (sip, dn) SELECT 'load-user-' || i, 'Load load-user-' || i FROM generate_series(1, :people) i;
INSERT INTO objects (sip, dn) SELECT 'load-topic-' || i, 'Topic load-topic-' || i FROM generate_series(1, :topics) i;
CREATE TEMP TABLE person AS
  SELECT i, o.id FROM generate_series(1, :people) i JOIN objects o ON o.sip = 'load-user-' || i;
CREATE TEMP TABLE topic AS
  SELECT i, o.id FROM generate_series(1, :topics) i JOIN objects o ON o.sip = 'load-topic-' || i;
CREATE TEMP TABLE m AS
  SELECT s, LEAST(2000, GREATEST(1, (s - 1) / 50 + 1 + (hashint4(s) & 2147483647) % 41 - 20)) AS d, :now_ms - (100000 - s)::bigint * 150000 AS t,
         1 + (hashint4(s * 7 + 3) & 2147483647) % 2000 AS author
  FROM generate_series(1, 100000) s;
CREATE TEMP TABLE root AS SELECT d, MIN(s) AS s, MAX(t) AS t FROM m GROUP BY d;
SELECT COALESCE(MAX(id), 0) AS bd FROM discussions \gset
SELECT COALESCE(MAX(id), 0) AS bm FROM messages \gset
INSERT INTO discussions (id, topic, time)
  SELECT :bd + r.d, tp.id, r.t FROM root r JOIN topic tp ON tp.i = 1 + (r.d - 1) % :topics;
INSERT INTO messages (id, adds_to, replies_to, author, text, time)
  SELECT :bm + m.s, :bd + m.d, CASE WHEN m.s <> r.s THEN :bm + r.s END, p.id, x.text, m.t
  FROM m JOIN root r ON r.d = m.d JOIN person p ON p.i = m.author JOIN bench_texts x ON x.i = m.s
  ORDER BY m.s;
SELECT setval('discussions_id_seq', (SELECT MAX(id) FROM discussions));
SELECT setval('messages_id_seq', (SELECT MAX(id) FROM messages));
INSERT INTO tags (name)
  SELECT DISTINCT w1.word || '-' || w2.word FROM generate_series(1, 2100) g
  JOIN bench_words w1 ON w1.rank = 1 + (hashint4(g * 3) & 2147483647) % 3000
  JOIN bench_words w2 ON w2.rank = 1 + (hashint4(g * 5 + 1) & 2147483647) % 3000
  LIMIT 2000;
CREATE TEMP TABLE tag AS SELECT row_number() OVER (ORDER BY id) AS i, id FROM tags;
INSERT INTO message_tags (message, tag)
  SELECT DISTINCT :bm + m.s, tg.id FROM m CROSS JOIN generate_series(1, 1 + m.s % 2) k
  JOIN tag tg ON tg.i = 1 + (hashint4(m.s * 11 + k) & 2147483647) % 2000 WHERE m.s % 10 = 0;
INSERT INTO message_likes (message, object, time)
  SELECT DISTINCT ON (m.s, p.id) :bm + m.s, p.id, m.t + k * 600000 FROM m CROSS JOIN generate_series(1, 1 + m.s % 3) k
  JOIN person p ON p.i = 1 + (hashint4(m.s * 13 + k) & 2147483647) % 2000 WHERE hashint4(m.s) % 7 = 0;
INSERT INTO message_notifications (message, object)
  SELECT :bm + m.s, p.id FROM m JOIN person p ON p.i = 1 + (hashint4(m.s * 17) & 2147483647) % 2000 WHERE m.s % 20 = 0;
INSERT INTO message_read (message, object, time)
  SELECT DISTINCT ON (m.s, p.id) :bm + m.s, p.id, m.t + 60000 FROM m CROSS JOIN generate_series(1, 10) k
  JOIN person p ON p.i = 1 + (hashint4(m.s * 19 + k) & 2147483647) % :people;
COMMIT;
DROP TABLE bench_texts, bench_words;
VACUUM ANALYZE objects, discussions, messages, message_notifications, message_read, message_likes, message_tags, tags;
SQL
} | psql_run -o /dev/null
# A history that autovacuum has visited, as in any installation that has run
# for a while: a page is marked all-visible only if no snapshot older than its
# rows was open during the VACUUM above, which the service's own start-up
# statements can spoil; without the marks every index-only scan reads the heap.
psql_run -c "VACUUM messages, discussions, message_read" >/dev/null
generate_seconds=$(awk -v a="$generate_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }')
data=$(psql_run -A -t -F ' ' -c "SELECT (SELECT COUNT(*) FROM messages), (SELECT COUNT(*) FROM discussions),
  (SELECT COUNT(*) FROM tags), (SELECT COUNT(*) FROM message_tags), (SELECT COUNT(*) FROM message_likes),
  (SELECT COUNT(*) FROM message_read), pg_database_size(current_database()) / 1048576")
read -r n_messages n_discussions n_tags n_tagged n_likes n_read db_mb <<<"$data"
echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); history made in ${generate_seconds} s:" \
  "$n_messages messages, $n_discussions discussions in $topics topics, $n_tags tags ($n_tagged on messages)," \
  "$n_likes likes, $n_read read marks; database ${db_mb} MB"

# Waits up to $3 seconds for a line $2 in file $1 while process $4 runs.
wait_for() {
  local end=$((SECONDS + $3))
  while [ "$SECONDS" -lt "$end" ]; do
    grep -q -x -- "$2" "$1" 2>/dev/null && return 0
    kill -0 "$4" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}
# Resident memory in kB: VmRSS of the processes given, or with pss, their
# proportional share (shared pages split among the processes sharing them).
memory_kb() {
  local field=VmRSS file=status sum=0 p kb
  if [ "$1" = pss ]; then field=Pss file=smaps_rollup; fi
  shift
  for p in "$@"; do
    kb=$(awk -v f="$field:" '$1 == f { print $2 }' "/proc/$p/$file" 2>/dev/null || true)
    sum=$((sum + ${kb:-0}))
  done
  echo "$sum"
}
postgres_pids() {
  local postmaster
  postmaster=$(head -n 1 "$PG_CLUSTER/data/postmaster.pid")
  echo "$postmaster $(pgrep -P "$postmaster" | tr '\n' ' ')"
}

# The share of time each of the service's connections has a command
# outstanding, sampled from pg_stat_activity about every 10 ms for $1
# seconds; the sampler's backend stays three seconds longer, so that its own
# CPU can be taken off the server's. Connection 1 is the one that writes (the
# first to connect), the others read. Prints "connection state count" lines.
sample_busy() {
  PGAPPNAME=load-sampler psql_admin -A -t -F ' ' <<SQL
CREATE TEMP TABLE busy (c int, state text);
DO \$\$
DECLARE
  targets int[];
  stop timestamptz := clock_timestamp() + interval '$1 seconds';
BEGIN
  SELECT array_agg(pid ORDER BY backend_start) INTO targets FROM pg_stat_activity
    WHERE datname = current_database() AND application_name = 'messages' AND backend_type = 'client backend';
  IF targets IS NULL THEN RAISE EXCEPTION 'no connection of the service'; END IF;
  WHILE clock_timestamp() < stop LOOP
    -- Each read of the view in one transaction would see the same snapshot.
    PERFORM pg_stat_clear_snapshot();
    INSERT INTO busy SELECT t.i, COALESCE((SELECT state FROM pg_stat_activity WHERE pid = t.pid), 'gone')
      FROM unnest(targets) WITH ORDINALITY AS t(pid, i);
    PERFORM pg_sleep(0.01);
  END LOOP;
  PERFORM pg_sleep(3);
END
\$\$;
SELECT c, replace(state, ' ', '_'), COUNT(*) FROM busy GROUP BY c, state ORDER BY 1, 2;
SQL
}

hz=$(getconf CLK_TCK)
# One run of N people: its summary line and table in $dir/run-N.out, the
# CPU, memory, connection and statement figures of its measured period in
# $dir/figures-N and $dir/statements-N. Extra arguments go to the driver.
run() {
  local n=$1 out="$dir/run-$1.out" ramp gen sampler c0 c1 sampler_pid sampler_ticks load0
  shift
  ramp=$(((n + logins - 1) / logins))
  [ "$ramp" -ge 10 ] || ramp=10
  load0=$(cut -d' ' -f1-3 /proc/loadavg)
  "$driver" --port="$web_port" --domain="$domain" --password="$password" --people="$n" --topics="$topics" \
    --ramp="$ramp" --warmup="$warmup" --seconds="$seconds" "$@" >"$out" 2>"$dir/run-$n.err" &
  gen=$!
  if ! wait_for "$out" measuring $((ramp + warmup + 60)) "$gen"; then
    echo "bench-load.sh: N=$n never reached its measured period" >&2
    cat "$out" "$dir/run-$n.err" >&2
    kill "$gen" 2>/dev/null || true
    touch "$dir/failed"
    return 1
  fi
  psql_admin -c "SELECT pg_stat_statements_reset()" >/dev/null
  c0=$(cpu_now)
  sample_busy "$seconds" >"$dir/busy-$n" 2>&1 &
  sampler=$!
  wait_for "$out" measured $((seconds + 30)) "$gen" || true
  sampler_pid=$(psql_admin -A -t -c "SELECT pid FROM pg_stat_activity WHERE application_name = 'load-sampler'")
  sampler_ticks=$(ticks $sampler_pid)
  c1=$(cpu_now)
  # shellcheck disable=SC2046
  {
    echo "cpu $c0 $c1 $sampler_ticks"
    echo "rss $(memory_kb rss "$messages_pid") $(memory_kb rss "$web_pid") $(memory_kb rss $(postgres_pids))" \
      "$(memory_kb pss $(postgres_pids))"
    echo "load $load0 $(cut -d' ' -f1-3 /proc/loadavg)"
  } >"$dir/figures-$n"
  top_statements >"$dir/statements-$n"
  wait "$sampler" || { echo "bench-load.sh: the connection sampler failed:" >&2; cat "$dir/busy-$n" >&2; }
  wait "$gen" || true
}

# A statement with a filter differs by its filter's shape; its first 150
# characters tell which request it serves. Time is planning and execution.
top_statements() {
  psql_admin -A -F $'\t' -P footer=off -c "SELECT SUM(calls) AS calls,
      round(SUM(total_plan_time + total_exec_time)::numeric, 1) AS total_ms,
      round((SUM(total_plan_time) / SUM(calls))::numeric, 3) AS mean_plan_ms,
      round((SUM(total_exec_time) / SUM(calls))::numeric, 3) AS mean_exec_ms, round(MAX(max_exec_time)::numeric, 1) AS max_exec_ms,
      SUM(rows) AS rows,
      round((100 * SUM(total_plan_time + total_exec_time) / SUM(SUM(total_plan_time + total_exec_time)) OVER ())::numeric, 1) AS share,
      COUNT(*) AS shapes, left(regexp_replace(query, '\s+', ' ', 'g'), 150) AS statement
    FROM pg_stat_statements s JOIN pg_roles r ON r.oid = s.userid AND r.rolname = 'messages'
    GROUP BY 9 ORDER BY SUM(total_plan_time + total_exec_time) DESC LIMIT 10"
}

# The figures of run N in one line.
summary() {
  local n=$1 line cpu rss busy load
  line=$(grep '^people=' "$dir/run-$n.out" || echo "people=$n pass=no (no report)")
  read -r _ c0m c0w c0p c1m c1w c1p st <<<"$(grep '^cpu ' "$dir/figures-$n" 2>/dev/null || echo "cpu 0 0 0 0 0 0 0")"
  cpu=$(awk -v s="$seconds" -v hz="$hz" -v a="$c0m $c0w $c0p" -v b="$c1m $c1w $c1p" -v st="$st" 'BEGIN {
    split(a, x, " "); split(b, y, " ");
    printf "%.0f/%.0f/%.0f", (y[1] - x[1]) * 100 / hz / s, (y[2] - x[2]) * 100 / hz / s, (y[3] - x[3] - st) * 100 / hz / s }')
  read -r _ rm rw rp pp <<<"$(grep '^rss ' "$dir/figures-$n" 2>/dev/null || echo "rss 0 0 0 0")"
  rss="$((rm / 1024))/$((rw / 1024))/$((rp / 1024)) MB (PostgreSQL PSS $((pp / 1024)) MB)"
  busy=$(awk '{ n[$1] += $3; if ($2 != "idle") b[$1] += $3; if ($2 == "active") a[$1] += $3; if ($1 > m) m = $1 }
    END { for (i = 1; i <= m; i++) printf "%s%s %.1f%% (active %.1f%%)", (i > 1 ? ", " : ""), (i == 1 ? "writer" : "reader"),
            100 * b[i] / n[i], 100 * a[i] / n[i]; if (m) printf ", %d samples", n[1]; else print "-" }' \
    "$dir/busy-$n" 2>/dev/null)
  load=$(sed -n 's/^load //p' "$dir/figures-$n" 2>/dev/null)
  echo "N=$n: $line"
  echo "  CPU % of a core, service/webserver/PostgreSQL: $cpu; RSS $rss; connections busy: $busy;" \
    "load average before and after: $load"
}
passed() { grep -q 'pass=yes' "$dir/run-$1.out" 2>/dev/null; }

tried=()
try() {
  tried+=("$1")
  run "$1" || true
  summary "$1"
  sed -n '/^  type /,/^  live Add/p' "$dir/run-$1.out"
}
# A soak: N people (the one argument) for LOAD_SOAK seconds. Every minute the
# resident memory and descriptors of messages and platform-webserver and
# PostgreSQL's proportional memory; at the end the run's table and whether
# every write the service acknowledged is stored exactly once.
soak() {
  local n=$1 gen start minute=0 fds_of
  fds_of() { ls "/proc/$1/fd" 2>/dev/null | wc -l; }
  "$driver" --port="$web_port" --domain="$domain" --password="$password" --people="$n" --topics="$topics" \
    --ramp=$(((n + logins - 1) / logins)) --warmup="$warmup" --seconds="$LOAD_SOAK" --acknowledged="$dir/acknowledged" \
    >"$dir/soak.out" 2>"$dir/soak.err" &
  gen=$!
  start=$SECONDS
  echo "minute  messages RSS kB, fds  platform-webserver RSS kB, fds  PostgreSQL PSS kB  load average"
  while kill -0 "$gen" 2>/dev/null; do
    if [ $((SECONDS - start)) -ge $((minute * 60)) ]; then
      echo "$minute  $(memory_kb rss "$messages_pid") $(fds_of "$messages_pid")  $(memory_kb rss "$web_pid")" \
        "$(fds_of "$web_pid")  $(memory_kb pss $(postgres_pids))  $(cut -d' ' -f1 /proc/loadavg)"
      minute=$((minute + 1))
    fi
    sleep 1
  done
  wait "$gen" || touch "$dir/failed"
  grep '^people=' "$dir/soak.out" || { cat "$dir/soak.err" >&2; touch "$dir/failed"; }
  sed -n '/^  type /,/^  live Add/p' "$dir/soak.out"
  # Each acknowledged post, read mark and like is in its table exactly once.
  psql_run -A -t -F ' ' <<SQL | tee "$dir/lost"
CREATE TEMP TABLE acknowledged (kind text, id bigint, sip text);
\copy acknowledged FROM '$dir/acknowledged' WITH (DELIMITER ' ')
SELECT kind, COUNT(*) AS acknowledged, COUNT(*) FILTER (WHERE stored <> 1) AS not_stored_once FROM (
  SELECT a.kind, CASE a.kind
    WHEN 'post' THEN (SELECT COUNT(*) FROM messages m WHERE m.id = a.id)
    WHEN 'read' THEN (SELECT COUNT(*) FROM message_read r JOIN objects o ON o.id = r.object
                      WHERE r.message = a.id AND LOWER(o.sip) = LOWER(a.sip))
    ELSE (SELECT COUNT(*) FROM message_likes l JOIN objects o ON o.id = l.object
          WHERE l.message = a.id AND LOWER(o.sip) = LOWER(a.sip)) END AS stored
  FROM acknowledged a) s GROUP BY kind ORDER BY kind;
SQL
  awk '$3 != 0 { bad = 1 } END { exit bad }' "$dir/lost" || touch "$dir/failed"
}
if [ -n "${LOAD_SOAK:-}" ]; then
  [ $# -eq 1 ] || { echo "bench-load.sh: a soak takes one N" >&2; exit 2; }
  soak "$1"
  [ ! -e "$dir/failed" ]
  exit
fi

best=0
if [ $# -gt 0 ]; then
  for n in "$@"; do
    try "$n"
    if passed "$n" && [ "$n" -gt "$best" ]; then best=$n; fi
  done
else
  # Doubling from LOAD_FROM while it passes, halving while it fails.
  n=${LOAD_FROM:-100}
  fail=0
  while [ "$n" -le "$people" ] && [ "$n" -ge 10 ]; do
    try "$n"
    if passed "$n"; then
      best=$n
      [ "$fail" = 0 ] || break
      n=$((n * 2))
    else
      fail=$n
      [ "$best" = 0 ] || break
      n=$((n / 2))
    fi
  done
  for _ in 1 2; do
    [ "$fail" -gt 0 ] && [ "$best" -gt 0 ] && [ $((fail - best)) -gt $((best / 8)) ] || break
    n=$(((best + fail) / 20 * 10))
    try "$n"
    if passed "$n"; then best=$n; else fail=$n; fi
  done
fi

echo
# Where the time goes: at the capacity, or at the smallest N when none passed.
at=$best
if [ "$best" = 0 ]; then
  echo "capacity: none of N = ${tried[*]} passed"
  touch "$dir/failed"
  at=$(printf '%s\n' "${tried[@]}" | sort -n | head -n 1)
else
  echo "capacity: N = $best people (tried ${tried[*]}; pass: every request type p99 < 100 ms, live updates p99 < 200 ms," \
    "no timeout, no dropped connection; one action every 10 s a person on average)"
fi
summary "$at"
sed -n '/^  type /,/^  live Add/p' "$dir/run-$at.out"
echo "the statements with the most total time in the measured period at N = $at (pg_stat_statements):"
column -t -s $'\t' "$dir/statements-$at" | cut -c1-400 | sed 's/^/  /'
echo "connection states sampled at N = $at (connection, state, samples; 1 writes, the others read; a sampled estimate):"
sed 's/^/  /' "$dir/busy-$at"
# The plans of the two reading statements that take the most, as the service
# last sent them: a discussion list and an unread count.
# The last statement logged that starts with $1 and holds $2.
last_statement() { logged_statements 0 "$1" | want="$2" awk 'BEGIN { RS = "\n;\n" } ENVIRON["want"] == "" || index($0, ENVIRON["want"]) { s = $0 } END { print s }'; }
explain() {
  echo "EXPLAIN (ANALYZE, BUFFERS) of $1, after the runs:"
  { echo "EXPLAIN (ANALYZE, BUFFERS)"; cat; } | psql_run | sed 's/^/  /'
}
last_statement 'WITH .*page AS MATERIALIZED \(SELECT$' 'replies_to IS NULL' | explain "the last discussion list the service read" || true
last_statement 'SELECT COUNT\(\*\) AS count,.* FROM discussions AS discussion JOIN' '' | explain "the last unread count" || true

storm_n=$best
[ "$storm" -le 1 ] || storm_n=$storm
if [ "$storm" != 0 ] && [ "$storm_n" != 0 ]; then
  out="$dir/storm.out"
  ramp=$(((storm_n + logins - 1) / logins))
  [ "$ramp" -ge 10 ] || ramp=10
  "$driver" --port="$web_port" --domain="$domain" --password="$password" --people="$storm_n" --topics="$topics" \
    --ramp="$ramp" --warmup=10 --seconds=10 --storm >"$out" 2>"$dir/storm.err" &
  gen=$!
  if wait_for "$out" storm-ready $((ramp + 90)) "$gen"; then
    sleep 2
    psql_admin -c "SELECT pg_stat_statements_reset()" >/dev/null
    restart_webserver
    wait "$gen" || touch "$dir/failed"
    top_statements >"$dir/statements-storm"
    echo "login storm: $(grep '^storm ' "$out" || echo "did not end: $(tail -n 3 "$dir/storm.err")")" \
      "(from the first dropped connection to the last person logged in with both filters registered again;" \
      "the webserver restarted at once, the service links up after 1 s)"
    echo "every 5 s of the storm: who is back, and where the others wait:"
    grep '^storm-progress' "$out" | awk 'NR % 5 == 0' | sed 's/^storm-progress /  /'
    echo "the statements with the most total time from the restart to the end of the storm run:"
    column -t -s $'\t' "$dir/statements-storm" | cut -c1-400 | sed 's/^/  /'
  else
    echo "bench-load.sh: the storm run never got ready" >&2
    cat "$out" "$dir/storm.err" >&2
    touch "$dir/failed"
  fi
fi
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "${LOAD_HOLD:-}" ]; then
  echo "holding the site for $LOAD_HOLD s: $PG_BIN/psql -h $PG_SOCKET -p $PG_PORT -U postgres -d $PG_DATABASE; the service's log in $logdir"
  sleep "$LOAD_HOLD" || true
fi
if [ -e "$dir/failed" ]; then
  echo "some runs failed"
  exit 1
fi
