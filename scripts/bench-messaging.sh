#!/usr/bin/env bash
# The messaging core through platform-webserver, each figure next to pgbench
# running the service's own statements (taken from the service's database log)
# on the same throwaway server in the same run:
#   - reads on a history of 2000 discussions and 100000 messages (tags, likes,
#     read marks): "SetFilter" for a page of 50 discussions with the reader's
#     read state, and "SetUnreadFilter", one request at a time, against their
#     SELECTs by pgbench -c 1; the EXPLAIN ANALYZE of both;
#   - posts per second with 1 and CONNECTIONS clients, each waiting for its
#     "PostResult", one in four opening a discussion, the others adding to one
#     of the history's; against pgbench -c 1 and -c CONNECTIONS running BEGIN,
#     the same statements, COMMIT;
#   - the post's message insert and the unread count through the database
#     driver, as text and prepared;
#   - fan-out: one post to SESSIONS sessions whose filter matches, FANOUT_ROUNDS
#     times: at the client, from sending the post to the last "Add"; in the
#     service's log, from the post's first statement to the stand-in's
#     confirmation of the last "Add".
#   scripts/bench-messaging.sh [SECONDS=10] [ROUNDS=3] [CONNECTIONS=16] [SESSIONS=2000] [FANOUT_ROUNDS=5]
# Rounds alternate the two sides; the best round of each is reported.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
rounds=${2:-3}
connections=${3:-16}
sessions=${4:-2000}
fanout_rounds=${5:-5}
build=${BENCH_BUILD:-$top/build/bench-messaging}
"$top/scripts/deps.sh" bench
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESSAGES_BENCH=ON -DMESSAGES_TESTS=OFF >/dev/null
cmake --build "$build" --target messages platform-webserver bench_messaging bench_statements -j2 >/dev/null
driver="$build/bench/bench_messaging"
statements="$build/bench/bench_statements"

bench=messaging
# shellcheck source=scripts/bench-site.sh
. "$top/scripts/bench-site.sh"
# Log files large enough that every statement and confirmation of the run stays.
start_site --log-size=50000000
# shellcheck source=scripts/bench-messaging-lib.sh
. "$top/scripts/bench-messaging-lib.sh"

# The schema is there once the websocket path is registered.
wait_line "$dir/webserver.log" "register websocket path /messages: ok" >/dev/null
# The statements prepared at start-up, before the log rotates them away.
cat "$logdir"/*.txt | grep -a "PrepareStatement" >"$dir/prepared.log" || true

# The history: 1000 users, 20 tags, 2000 discussions (three in four in "team",
# the rest in "team-b") active over the last 20 days, 50 messages each a
# minute apart; one in ten by the reader; tags on one message in five, one to
# three likes on one in ten; the reader has read everything older than 10 days
# and every other message since, five other users a third of all.
psql_run <<'SQL'
BEGIN;
INSERT INTO objects (sip, dn) SELECT 'history-user-' || i, 'History User ' || i FROM generate_series(1, 1000) i;
INSERT INTO objects (sip, dn) VALUES ('team', 'Topic team'), ('team-b', 'Topic team-b'), ('reader', 'Bench reader')
  ON CONFLICT DO NOTHING;
INSERT INTO tags (name) SELECT 'tag-' || i FROM generate_series(1, 20) i;
INSERT INTO discussions (topic, time)
  SELECT (SELECT id FROM objects WHERE sip = CASE WHEN i % 4 = 0 THEN 'team-b' ELSE 'team' END),
         (EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) * 1000)::bigint - (2000 - i) * 864000
  FROM generate_series(1, 2000) i;
INSERT INTO messages (adds_to, author, text, time)
  SELECT d.id, u.id, 'History discussion ' || d.id, d.time - 49 * 60000
  FROM discussions d JOIN objects u ON u.sip = 'history-user-' || (d.id % 1000 + 1);
INSERT INTO messages (adds_to, replies_to, author, text, time)
  SELECT r.adds_to, r.id, CASE WHEN j % 10 = 3 THEN me.id ELSE u.id END,
         'History message ' || j || ' of discussion ' || r.adds_to || ': lorem ipsum dolor sit amet', r.time + j * 60000
  FROM messages r CROSS JOIN generate_series(1, 49) j
  JOIN objects u ON u.sip = 'history-user-' || ((r.adds_to * 7 + j) % 1000 + 1)
  CROSS JOIN (SELECT id FROM objects WHERE sip = 'reader') me
  WHERE r.replies_to IS NULL;
INSERT INTO message_tags (message, tag)
  SELECT m.id, t.id FROM messages m JOIN tags t ON t.name = 'tag-' || (m.id % 20 + 1) WHERE m.id % 5 = 0;
INSERT INTO message_likes (message, object, time)
  SELECT m.id, u.id, m.time + k * 1000 FROM messages m CROSS JOIN generate_series(1, 3) k
  JOIN objects u ON u.sip = 'history-user-' || k WHERE m.id % 10 = 0 AND k <= m.id % 3 + 1;
INSERT INTO message_read (message, object, time)
  SELECT m.id, me.id, m.time + 60000 FROM messages m, (SELECT id FROM objects WHERE sip = 'reader') me
  WHERE m.author <> me.id AND (m.time < (EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) - 10 * 86400) * 1000 OR m.id % 2 = 0);
INSERT INTO message_read (message, object, time)
  SELECT m.id, u.id, m.time + 60000 FROM messages m
  JOIN objects u ON u.sip IN ('history-user-1', 'history-user-2', 'history-user-3', 'history-user-4', 'history-user-5')
  WHERE m.id % 3 = 0 AND m.author <> u.id;
COMMIT;
VACUUM ANALYZE objects, tags, discussions, messages, message_tags, message_likes, message_read;
SQL
history=$(psql_run -A -t -F ' ' -c "SELECT (SELECT COUNT(*) FROM discussions), (SELECT COUNT(*) FROM messages),
  (SELECT COUNT(*) FROM message_tags), (SELECT COUNT(*) FROM message_likes), (SELECT COUNT(*) FROM message_read),
  (SELECT MIN(id) FROM discussions), (SELECT MAX(id) FROM discussions)")
read -r n_discussions n_messages n_tags n_likes n_read first_discussion last_discussion <<<"$history"

common=(--port="$web_port" --domain="$domain" --password="$password")

# Reads: one warm-up of each request gives the statements as the service sends them.
read_args=("${common[@]}" --topics=team,team-b --sip=reader --count=50)
drive "$driver" read "${read_args[@]}" --request=discussions --seconds=1 >/dev/null
drive "$driver" read "${read_args[@]}" --request=unread --seconds=1 >/dev/null
# The page's statement: the last one logged that chooses a page.
logged_statements 0 'WITH .*page AS MATERIALIZED \(SELECT$' | awk 'BEGIN { RS = "\n;\n" } { s = $0 } END { print s }' >"$dir/discussions.stmt"
logged_statement "SELECT COUNT(\*) AS count" >"$dir/unread.stmt"
for q in discussions unread; do
  { cat "$dir/$q.stmt"; echo ";"; } >"$dir/$q.sql"
  { echo "EXPLAIN (ANALYZE, COSTS OFF)"; cat "$dir/$q.stmt"; } | psql_run >"$dir/$q.explain"
done
# The prepared-statement figures below use their own copy of the count.
if [ "$("$statements" count-text reader team team-b)" != "$(cat "$dir/unread.stmt")" ]; then
  echo "bench-messaging.sh: the service's unread count differs from bench_statements' copy:" >&2
  cat "$dir/unread.stmt" >&2
  touch "$dir/failed"
fi

best_read_discussions=""; best_pg_discussions=""; best_read_unread=""; best_pg_unread=""
for _ in $(seq 1 "$rounds"); do
  for q in discussions unread; do
    c0=$(cpu_now)
    out=$(drive "$driver" read "${read_args[@]}" --request=$q --seconds="$seconds")
    c1=$(cpu_now)
    echo "service $q: $out" >>"$dir/reads.out"
    keep best_read_$q 1 "$(field mean_ms "$out")" "$(cpu_per_op "$c0" "$c1" "$(field requests "$out")")"
    rows=$(field rows "$out")
    printf -v "rows_$q" '%s' "$rows"
    c0=$(cpu_now)
    out=$(pgbench_run -c 1 -j 1 -T "$seconds" -f "$dir/$q.sql")
    c1=$(cpu_now)
    n=$(sed -n 's/^number of transactions actually processed: \([0-9]*\).*/\1/p' <<<"$out")
    echo "pgbench $q: latency $(pgbench_field "latency average" "$out") ms, $n runs" >>"$dir/reads.out"
    keep best_pg_$q 1 "$(pgbench_field "latency average" "$out")" "$(cpu_per_op "$c0" "$c1" "$n")"
  done
done

# The driver's two paths for the same statements: text, as the service runs them, and prepared;
# every count first, on the history as the reads had it (the inserts add unread messages).
for s in count:20 insert:2000; do
  for _ in $(seq 1 "$rounds"); do
    for path in text prepared; do
      out=$(drive "$statements" "${s%%:*}" "$path" "${s##*:}")
      echo "$out" >>"$dir/statements.out"
      keep "best_${s%%:*}_$path" 1 "$(field per_ms "$out")" ""
    done
  done
done

# Posts: the statements the service prepared for both kinds of post become
# the two pgbench scripts (weights 1 and 3,
# as the driver's mix), run prepared as the service runs them, with the values
# of poster-0's first post.
post_args=("${common[@]}" --first="$first_discussion" --last="$last_discussion" --new-every=4)
drive "$driver" posts "${post_args[@]}" --connections=1 --seconds=1 >/dev/null
prepared_statement() { grep -a "PrepareStatement.*_STMT-[0-9]*:$1" "$dir/prepared.log" | tail -n 1 | sed 's/.*_STMT-[0-9]*://'; }
author="'poster-0'"
text="'Benchmark post 0 from poster-0: the quick brown fox jumps over the lazy dog.'"
{
  echo "BEGIN;"
  prepared_statement "INSERT INTO discussions (topic) VALUES" | sed "s/\$1/'team'/; s/\$/ \\\\gset/"
  prepared_statement "INSERT INTO messages(adds_to" |
    sed "s/\$1/:id/; s/\$2/$author/; s/\$3/$text/; s/\$4/NULL/; s/\$/;/"
  echo "COMMIT;"
} >"$dir/post-new.sql"
{
  echo "\\set d random($first_discussion, $last_discussion)"
  echo "BEGIN;"
  prepared_statement "SELECT id FROM messages WHERE adds_to=" | sed "s/\$1/:d/; s/\$/ \\\\gset root_/"
  prepared_statement "WITH d AS" |
    sed "s/\$1/:d/; s/\$2/:d/; s/\$3/:root_id/; s/\$4/$author/; s/\$5/$text/; s/\$6/NULL/; s/\$/;/"
  echo "COMMIT;"
} >"$dir/post-add.sql"
for f in post-new post-add; do
  if grep -q '\$[0-9]' "$dir/$f.sql" || [ "$(grep -c . "$dir/$f.sql")" -lt 4 ]; then
    echo "bench-messaging.sh: the service's post statements were not found in its log:" >&2
    cat "$dir/$f.sql" >&2
    touch "$dir/failed"
  fi
done

best_posts_1=""; best_pg_posts_1=""; best_posts_n=""; best_pg_posts_n=""
for _ in $(seq 1 "$rounds"); do
  for c in 1 "$connections"; do
    side=1; [ "$c" = 1 ] || side=n
    c0=$(cpu_now)
    out=$(drive "$driver" posts "${post_args[@]}" --connections="$c" --seconds="$seconds")
    c1=$(cpu_now)
    echo "service, $c clients: $out" >>"$dir/posts.out"
    keep best_posts_$side 0 "$(field rate "$out")" "$(cpu_per_op "$c0" "$c1" "$(field posts "$out")")"
    c0=$(cpu_now)
    out=$(pgbench_run -M prepared -c "$c" -j "$((c > 1 ? 2 : 1))" -T "$seconds" -f "$dir/post-new.sql@1" \
      -f "$dir/post-add.sql@3")
    c1=$(cpu_now)
    n=$(sed -n 's/^number of transactions actually processed: \([0-9]*\).*/\1/p' <<<"$out")
    tps=$(pgbench_field tps "$out")
    failed=$(sed -n 's/^number of failed transactions: \([0-9]*\).*/\1/p' <<<"$out")
    echo "pgbench, $c clients: tps $tps, $n transactions, ${failed:-?} failed" >>"$dir/posts.out"
    keep best_pg_posts_$side 0 "${tps%.*}" "$(cpu_per_op "$c0" "$c1" "$n")"
  done
done

# Fan-out last: its sessions stay logged in until the driver ends.
fanout=$(drive "$driver" fanout "${common[@]}" --sessions="$sessions" --rounds="$fanout_rounds" --gap=1 \
  --pids="$messages_pid,$web_pid")
# Per round, from the log: the post's first statement (the transaction's BEGIN
# has just returned) to the last confirmation of a sent message before the next
# round; stamps are UTC milliseconds of the day.
service_log | awk -v sends="$(sed -n 's/.*sent_epoch_ms=\([0-9]*\).*/\1/p' <<<"$fanout" | tr '\n' ' ')" '
  BEGIN { n = split(sends, s, " "); for (i = 1; i <= n; i++) { at[i] = s[i] % 86400000; first[i] = -1; last[i] = -1 } }
  {
    split($2, hms, ":"); t = ((hms[1] * 60 + hms[2]) * 60) * 1000 + hms[3] * 1000
    for (i = n; i >= 1 && t < at[i]; i--);
    if (i < 1) next
    if (first[i] < 0 && (index($0, "sqlCmd:") || index($0, " statement:_STMT"))) first[i] = t
    if (index($0, "WebsocketSendResult()")) last[i] = t
  }
  END { for (i = 1; i <= n; i++) printf "%d %s\n", i, (first[i] >= 0 && last[i] >= 0) ? last[i] - first[i] : "-" }' \
  >"$dir/fanout-service.out"
median_max() { sort -n | awk '{ v[NR] = $1 } END { if (NR) printf "%s %s", v[int((NR + 1) / 2)], v[NR]; else print "- -" }'; }
read -r service_median service_max <<<"$(awk '$2 != "-" { print $2 }' "$dir/fanout-service.out" | median_max)"

echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); history: $n_discussions discussions," \
  "$n_messages messages, $n_tags tags, $n_likes likes, $n_read read marks"
row() { printf '  %-52s %10s   %-34s %10s   %s\n' "$@"; }
echo "reads, one request at a time, best mean latency of $rounds rounds of ${seconds} s (ms; lower is better):"
row "measured" "ms" "peer" "ms" "ratio"
row "SetFilter, 50 discussions with read state" "${best_read_discussions%% *}" "pgbench -c 1, the same SELECT" \
  "${best_pg_discussions%% *}" "$(ratio "${best_read_discussions%% *}" "${best_pg_discussions%% *}")"
row "SetUnreadFilter (count $rows_unread)" "${best_read_unread%% *}" "pgbench -c 1, the same SELECT" \
  "${best_pg_unread%% *}" "$(ratio "${best_read_unread%% *}" "${best_pg_unread%% *}")"
echo "  rows per page: $rows_discussions; CPU ms per request, service/webserver/PostgreSQL:" \
  "SetFilter ${best_read_discussions#* }, peer (PostgreSQL) $(pg_share "$best_pg_discussions");" \
  "SetUnreadFilter ${best_read_unread#* }, peer $(pg_share "$best_pg_unread")"
echo "posts per second, best of $rounds rounds of ${seconds} s (one in four opens a discussion):"
row "measured" "per s" "peer" "per s" "ratio"
row "Post through the webserver, 1 client" "${best_posts_1%% *}" "pgbench -c 1, BEGIN..COMMIT" \
  "${best_pg_posts_1%% *}" "$(ratio "${best_posts_1%% *}" "${best_pg_posts_1%% *}")"
row "Post through the webserver, $connections clients" "${best_posts_n%% *}" "pgbench -c $connections -j 2" \
  "${best_pg_posts_n%% *}" "$(ratio "${best_posts_n%% *}" "${best_pg_posts_n%% *}")"
echo "  CPU ms per post, service/webserver/PostgreSQL: 1 client ${best_posts_1#* }, peer (PostgreSQL)" \
  "$(pg_share "$best_pg_posts_1"); $connections clients ${best_posts_n#* }, peer $(pg_share "$best_pg_posts_n")"
echo "driver statements, one after the other, best of $rounds rounds (ms per statement):"
row "measured" "ms" "peer" "ms" "ratio"
row "message insert (adds to a discussion), prepared" "${best_insert_prepared%% *}" "the same as text" \
  "${best_insert_text%% *}" "$(ratio "${best_insert_prepared%% *}" "${best_insert_text%% *}")"
row "unread count (user, two topics), prepared" "${best_count_prepared%% *}" "the same as text" \
  "${best_count_text%% *}" "$(ratio "${best_count_prepared%% *}" "${best_count_text%% *}")"
echo "fan-out of one post to $sessions sessions, $fanout_rounds rounds (ms; goal: last client under 100 ms):"
sed -n 's/^round=\([0-9]*\).*post_result_ms=\([0-9.]*\) first_add_ms=\([0-9.]*\) last_add_ms=\([0-9.]*\).*/\1 \2 \3 \4/p' \
  <<<"$fanout" | while read -r r result firstadd lastadd; do
  echo "  round $r: PostResult $result, first Add $firstadd, last Add $lastadd at the client;" \
    "service log, first statement to the last confirmation: $(awk -v r="$r" '$1 == r { print $2 }' "$dir/fanout-service.out")"
done
echo "  last Add at the client: median $(field median_last_add_ms "$fanout"), max $(field max_last_add_ms "$fanout");" \
  "in the service's log: median $service_median, max $service_max; CPU ms per round, service/webserver/driver:" \
  "$(sed -n 's/.*cpu_ms_per_round=\([0-9.\/]*\).*/\1/p' <<<"$fanout"); $(field watchers "$fanout") watchers" \
  "logged in and set their filter in $(field login_and_filter_seconds "$fanout") s"
echo "every round:"
sed 's/^/  /' "$dir/reads.out" "$dir/posts.out" "$dir/statements.out"
echo "pgbench scripts of a post:"
sed 's/^/  /' "$dir/post-new.sql" "$dir/post-add.sql"
for q in discussions unread; do
  echo "EXPLAIN ANALYZE of the $q statement:"
  sed 's/^/  /' "$dir/$q.explain"
done
if [ -e "$dir/failed" ]; then
  echo "some runs failed"
  exit 1
fi
