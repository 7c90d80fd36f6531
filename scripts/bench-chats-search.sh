#!/usr/bin/env bash
# Chats, tags and search through platform-webserver, each request's latency
# next to pgbench running the statements the service sent for the same
# requests, on the same throwaway server in the same run:
#   - "ReadChats" (all chats, and with "unread") of a user with 1000 chats,
#     one of 100000 messages and 999 of 20;
#   - "ReadChat" pages of 50 in the chat of 100000 messages, PAGES pages back
#     with "older" from the newest message and as many from the middle; every
#     read also runs the user's unread chat count, which the peer runs too;
#   - "ReadTags" with "like": "ab%" and with 100 two-letter prefixes of the
#     100000 tags;
#   - "Search" for 50 messages over 1000000 messages of generated text in 40
#     topics, the user reading 30 of them: words drawn by their frequency in
#     the texts, rare words, absent words, two words, prefixes and phrases;
#     two more peers run the same windows on the word index alone (the
#     search as it was before the prefix index), and one statement over all
#     ids with LIKE '%word%' in place of the search conditions.
#   scripts/bench-chats-search.sh [ROUNDS=2] [PAGES=20] [QUERIES=370]
# (QUERIES: the first ones of the shuffled search list)
# The statements are taken from the service's log during a warm-up pass of
# each request list and replayed by pgbench -c 1 in the same order, one
# transaction each after a look-up of its text (pgbench -r and its latency
# log round fast statements to 0 here, so a statement's time is the distance
# between the completion stamps of its transaction and the one before; the
# look-up's own time, measured in the same run, is taken off). Rounds
# alternate the service and pgbench; percentiles are over all rounds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-2}
pages=${2:-20}
queries=${3:-370}
build=${BENCH_BUILD:-$top/build/bench-messaging}
"$top/scripts/deps.sh" bench
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESSAGES_BENCH=ON -DMESSAGES_TESTS=OFF >/dev/null
cmake --build "$build" --target messages platform-webserver bench_messaging -j2 >/dev/null
driver="$build/bench/bench_messaging"

bench=chats-search
sessions=16
# shellcheck source=scripts/bench-site.sh
. "$top/scripts/bench-site.sh"
# Room for every statement of the run in the service's log.
start_site --log-size=500000000
# shellcheck source=scripts/bench-messaging-lib.sh
. "$top/scripts/bench-messaging-lib.sh"
wait_line "$dir/webserver.log" "register websocket path /messages: ok" >/dev/null

# The data, set-based: the made-up texts (scripts/bench-texts.sh), then
# chats, search messages and tags made of them.
generate_start=$(date +%s.%N)
# shellcheck source=scripts/bench-texts.sh
. "$top/scripts/bench-texts.sh"
{
  texts_sql 1120000
  cat <<'SQL'

BEGIN;
INSERT INTO objects (sip, dn) VALUES ('chatter', 'Bench chatter'), ('searcher', 'Bench searcher');
INSERT INTO objects (sip, dn, grp)
  SELECT CASE WHEN p <= 950 THEN 'chat-partner-' || p ELSE 'chat-group-' || p END, 'Chat partner ' || p, p > 950
  FROM generate_series(1, 1000) p;
INSERT INTO objects (sip, dn) SELECT 'corpus-user-' || i, 'Corpus user ' || i FROM generate_series(1, 1000) i;
INSERT INTO objects (sip, dn) SELECT 'search-topic-' || i, 'Search topic ' || i FROM generate_series(1, 40) i;
SELECT id AS chatter FROM objects WHERE sip = 'chatter' \gset
CREATE TEMP TABLE partner AS
  SELECT p, o.id, p > 950 AS grp FROM generate_series(1, 1000) p
  JOIN objects o ON o.sip = CASE WHEN p <= 950 THEN 'chat-partner-' || p ELSE 'chat-group-' || p END;
-- Chats of 950 people and 50 groups: one of 100000 messages 155 s apart,
-- 999 of 20 half an hour apart, each 8 h behind the one before. Every
-- message is a discussion of type 1 of its own, as a chat post makes it,
-- notifying the partner; every other one is by the user. A group's other
-- messages are by one of the people.
CREATE TEMP TABLE chat AS
  SELECT row_number() OVER (ORDER BY c.p, c.j) AS k, c.p, c.j, c.t, pa.id AS partner, pa.grp,
         CASE WHEN c.j % 2 = 0 THEN :chatter WHEN NOT pa.grp THEN pa.id ELSE m.id END AS author
  FROM (SELECT 1 AS p, j, :now_ms - (100000 - j)::bigint * 155000 AS t FROM generate_series(1, 100000) j
        UNION ALL
        SELECT p, j, :now_ms - (p - 1)::bigint * 28800000 - (20 - j) * 1800000 - p * 1000
        FROM generate_series(2, 1000) p, generate_series(1, 20) j) c
  JOIN partner pa ON pa.p = c.p LEFT JOIN partner m ON m.p = (c.p * 7 + c.j) % 950 + 1;
SELECT COUNT(*) AS n FROM chat \gset
SELECT COALESCE(MAX(id), 0) AS bd FROM discussions \gset
SELECT COALESCE(MAX(id), 0) AS bm FROM messages \gset
-- The user's copy in the own topic, and a person's copy in that person's.
INSERT INTO discussions (id, topic, type, time)
  SELECT :bd + k, :chatter, 1, t FROM chat UNION ALL SELECT :bd + :n + k, partner, 1, t FROM chat WHERE NOT grp;
INSERT INTO messages (id, adds_to, author, text, time)
  SELECT :bm + k, :bd + k, author, x.text, t FROM chat JOIN bench_texts x ON x.i = k
  UNION ALL
  SELECT :bm + :n + k, :bd + :n + k, author, x.text, t FROM chat JOIN bench_texts x ON x.i = k WHERE NOT grp;
INSERT INTO message_notifications (message, object)
  SELECT :bm + k, partner FROM chat UNION ALL SELECT :bm + :n + k, :chatter FROM chat WHERE NOT grp;
-- Everything read, but the newest one to three messages of 300 chats.
INSERT INTO message_read (message, object, time)
  SELECT :bm + k, :chatter, t + 60000 FROM chat WHERE NOT (p BETWEEN 2 AND 301 AND j > 20 - (1 + p % 3))
  UNION ALL
  SELECT :bm + :n + k, partner, t + 60000 FROM chat WHERE NOT grp;
COMMIT;

BEGIN;
-- Search: 1000000 messages 30 s apart in 50000 discussions of 20 over 40
-- topics; each block of 10000 messages holds 500 discussions side by side.
SELECT COALESCE(MAX(id), 0) AS bd FROM discussions \gset
SELECT COALESCE(MAX(id), 0) AS bm FROM messages \gset
CREATE TEMP TABLE author AS
  SELECT i - 1 AS n, o.id FROM generate_series(1, 1000) i JOIN objects o ON o.sip = 'corpus-user-' || i;
INSERT INTO discussions (id, topic, time)
  SELECT :bd + d, o.id, :now_ms - (1000000 - ((d - 1) / 500 * 10000 + 9500 + (d - 1) % 500 + 1))::bigint * 30000
  FROM generate_series(1, 50000) d JOIN objects o ON o.sip = 'search-topic-' || ((d - 1) % 40 + 1);
INSERT INTO messages (id, adds_to, replies_to, author, text, time)
  SELECT :bm + s.i, :bd + (s.i - 1) / 10000 * 500 + (s.i - 1) % 500 + 1,
         CASE WHEN (s.i - 1) % 10000 >= 500 THEN :bm + (s.i - 1) / 10000 * 10000 + (s.i - 1) % 500 + 1 END,
         a.id, x.text, :now_ms - (1000000 - s.i)::bigint * 30000
  FROM generate_series(1, 1000000) s(i) JOIN bench_texts x ON x.i = 120000 + s.i
  JOIN author a ON a.n = (hashint4(s.i) & 2147483647) % 1000
  -- In the order of their ids, as posts land in the table: a walk by id reads
  -- neighbouring rows, not a page per row.
  ORDER BY s.i;
SELECT setval('discussions_id_seq', (SELECT MAX(id) FROM discussions));
SELECT setval('messages_id_seq', (SELECT MAX(id) FROM messages));
-- Tags: 100000 names of a word or two words joined by a dash, in no order of name.
INSERT INTO tags (name)
  SELECT name FROM (
    SELECT name, MIN(h) AS h FROM (
      SELECT w1.word || CASE WHEN g % 3 = 0 THEN '' ELSE '-' || w2.word END AS name, hashint4(g) AS h
      FROM generate_series(1, 200000) g
      JOIN bench_words w1 ON w1.rank = 1 + (hashint4(g * 3) & 2147483647) % 30000
      JOIN bench_words w2 ON w2.rank = 1 + (hashint4(g * 5 + 1) & 2147483647) % 5000) a
    GROUP BY name) b
  ORDER BY h LIMIT 100000;
COMMIT;

-- What people search for. A word as it occurs: a random word of a random
-- message, so frequent words come up as often as they occur.
SELECT setseed(0.7);
CREATE TEMP TABLE drawn AS
  SELECT d.n, w[1 + floor(random() * array_length(w, 1))::int] AS word, w
  FROM (SELECT g AS n, 120001 + floor(random() * 1000000)::int AS i FROM generate_series(1, 2000) g) d
  CROSS JOIN LATERAL (SELECT string_to_array(text, ' ') AS w FROM bench_texts x WHERE x.i = d.i) x;
CREATE TABLE bench_queries AS
SELECT (row_number() OVER (ORDER BY random()))::int AS n, class, typed, likes FROM (
  SELECT 'word' AS class, word AS typed, 'm.text LIKE ''%' || word || '%''' AS likes FROM drawn WHERE n <= 150
  UNION ALL
  -- Rare: of the 20000 least frequent words.
  SELECT 'rare', word, 'm.text LIKE ''%' || word || '%''' FROM (
    SELECT word FROM bench_words WHERE rank > 40000 ORDER BY random() LIMIT 40) r
  UNION ALL
  -- Absent: made-up words that begin no word of the vocabulary.
  SELECT 'absent', word, 'm.text LIKE ''%' || word || '%''' FROM (
    SELECT word FROM (SELECT DISTINCT string_agg(substr('bcdfghjklmnprstvwz', 1 + floor(random() * 18)::int, 1) ||
                                                 substr('aeiouy', 1 + floor(random() * 6)::int, 1), '') AS word
                      FROM generate_series(1, 300) c CROSS JOIN LATERAL generate_series(1, 3 + c % 2) s GROUP BY c) a
    WHERE NOT EXISTS (SELECT 1 FROM bench_words WHERE bench_words.word LIKE a.word || '%') ORDER BY random() LIMIT 30) b
  UNION ALL
  SELECT 'two', a.word || ' ' || b.word, 'm.text LIKE ''%' || a.word || '%'' AND m.text LIKE ''%' || b.word || '%'''
  FROM drawn a JOIN drawn b ON b.n = a.n + 60 WHERE a.n BETWEEN 151 AND 210
  UNION ALL
  -- The first three or four letters of a word of five letters or more.
  SELECT 'prefix', p, 'm.text LIKE ''%' || p || '%''' FROM (
    SELECT left(word, 3 + n % 2) AS p FROM drawn WHERE n > 300 AND length(word) >= 5 + n % 2 ORDER BY n LIMIT 60) p
  UNION ALL
  -- Two neighbouring words of a message, in quotes.
  (SELECT 'phrase', '"' || w[k] || ' ' || w[k + 1] || '"', 'm.text LIKE ''%' || w[k] || ' ' || w[k + 1] || '%'''
   FROM (SELECT n, w, 1 + floor(random() * (array_length(w, 1) - 1))::int AS k FROM drawn WHERE n > 1000) f
   ORDER BY n LIMIT 30)
) q;
DROP TABLE bench_texts;
VACUUM ANALYZE objects, discussions, messages, message_notifications, message_read, tags, bench_words, bench_queries;
SQL
} | psql_run -o /dev/null
generate_seconds=$(awk -v a="$generate_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }')
data=$(psql_run -A -t -F ' ' -c "SELECT (SELECT COUNT(*) FROM messages), (SELECT COUNT(*) FROM discussions),
  (SELECT COUNT(*) FROM tags), (SELECT COUNT(*) FROM tags WHERE name LIKE 'ab%'), (SELECT COUNT(*) FROM message_read),
  pg_database_size(current_database()) / 1048576, (SELECT COUNT(*) FROM bench_words),
  (SELECT ROUND(AVG(array_length(string_to_array(text, ' '), 1)), 1) FROM messages WHERE id % 100 = 0)")
read -r n_messages n_discussions n_tags n_ab n_read db_mb n_words words_per_message <<<"$data"

# The request lists, one JSON object a line.
for unread in "" ',"unread":true'; do
  for _ in $(seq 1 10); do echo "{\"mt\":\"ReadChats\",\"src\":\"c\"$unread}"; done >"$dir/chats${unread:+-unread}.req"
done
middle=$(psql_run -A -t -c "SELECT m.time FROM messages m JOIN message_notifications n ON n.message = m.id
  JOIN objects p ON p.id = n.object AND p.sip = 'chat-partner-1' JOIN discussions d ON d.id = m.adds_to
  JOIN objects u ON u.id = d.topic AND u.sip = 'chatter' ORDER BY m.time DESC OFFSET 50000 LIMIT 1")
{
  echo '{"mt":"ReadChat","src":"c","sip":"chat-partner-1","count":50}'
  echo "{\"mt\":\"ReadChat\",\"src\":\"c\",\"sip\":\"chat-partner-1\",\"count\":50,\"older\":$middle}"
} >"$dir/chat.req"
for _ in $(seq 1 100); do echo '{"mt":"ReadTags","src":"t","like":"ab%"}'; done >"$dir/tags-ab.req"
psql_run -A -t -c "SELECT '{\"mt\":\"ReadTags\",\"src\":\"t\",\"like\":\"' || p || '%\"}'
  FROM (SELECT left(name, 2) AS p FROM tags ORDER BY hashint4(id::int) LIMIT 100) t" >"$dir/tags-mix.req"
psql_run -A -t -F $'\t' -c "SELECT n, class, typed, likes FROM bench_queries WHERE n <= $queries ORDER BY n" \
  >"$dir/queries.tsv"
cut -f3 "$dir/queries.tsv" | while IFS= read -r typed; do
  printf '{"mt":"Search","src":"s","text":"%s","count":50}\n' "${typed//\"/\\\"}"
done >"$dir/search.req"
n_queries=$(wc -l <"$dir/queries.tsv")

common=(--port="$web_port" --domain="$domain" --password="$password")
searcher_topics=$(seq -f 'search-topic-%g' 1 30 | paste -sd,)

# Summary of latencies, one a line: "mean p50 p99 max count" (p as the driver takes it).
stats() {
  sort -n | awk '{ v[NR] = $1; s += $1 } END {
    if (!NR) { print "- - - - 0"; exit }
    printf "%.3f %.3f %.3f %.3f %d\n", s / NR, v[int(0.5 * (NR - 1)) + 1], v[int(0.99 * (NR - 1)) + 1], v[NR], NR }'
}
# pgbench's replay of a statement list: each transaction looks up the next statement and runs it.
psql_run -c "CREATE TABLE bench_replay (n int PRIMARY KEY, s text)"
cat >"$dir/replay.pgb" <<'PGB'
\set n :n + 1
SELECT s FROM bench_replay WHERE n = :n \gset
:s;
PGB
echo '\set n :n + 1
SELECT s FROM bench_replay WHERE n = :n \gset' >"$dir/lookup.pgb"
# Loads the statements of file $1 (each ending in a line ";") as 1..N, with a statement 0 that starts the clock.
load_replay() {
  {
    echo "TRUNCATE bench_replay;"
    echo "INSERT INTO bench_replay VALUES (0, 'SELECT 1');"
    awk 'BEGIN { n = 1; s = "" }
      $0 == ";" { printf "INSERT INTO bench_replay VALUES (%d, $replay$%s$replay$);\n", n++, s; s = ""; next }
      { s = s (s == "" ? "" : "\n") $0 }' "$1"
  } | psql_run
}
# Runs script $1 over the N loaded statements; prints the milliseconds of
# each, one a line: the distance between completion stamps, less $2.
replay() {
  local script=$1 less=$2 n out
  n=$(psql_run -A -t -c "SELECT MAX(n) FROM bench_replay")
  rm -f "$dir"/pgl.*
  out=$(pgbench_run -c 1 -t "$((n + 1))" -D n=-1 -l --log-prefix="$dir/pgl" -f "$script")
  if ! grep -q "number of transactions actually processed: $((n + 1))/" <<<"$out"; then
    echo "bench-chats-search.sh: pgbench failed:" >&2
    echo "$out" >&2
    touch "$dir/failed"
  fi
  awk -v less="$less" 'NR == 1 { base = $5 } { t = ($5 - base) * 1000 + $6 / 1000; if (NR > 1) printf "%.3f\n", t - last - less; last = t }' \
    "$dir"/pgl.*
}
# The mean look-up of the replay for N statements, in ms.
lookup_ms() {
  replay "$dir/lookup.pgb" 0 | stats | cut -d' ' -f1
}
# Sums every $1 lines into one: the statements of one request.
per_request() { awk -v k="$1" '{ s += $1 } NR % k == 0 { printf "%.3f\n", s; s = 0 }'; }

# One request list: a warm-up pass gives the statements the service runs for
# it; then ROUNDS rounds of a service pass and the pgbench replay.
#   measure NAME RESULT ROW STATEMENTS_PER_REQUEST PATTERN... -- DRIVER_ARGS...
measure() {
  local name=$1 result=$2 row=$3 k=$4 patterns=() args from requests statements c0 c1 r lookup out
  shift 4
  while [ "$1" != -- ]; do patterns+=("$1"); shift; done
  shift
  args=("$driver" ask "${common[@]}" --requests="$dir/$name.req" --result="$result" --row="$row" "$@")
  from=$(log_lines)
  drive "${args[@]}" --each="$dir/$name.warm" >/dev/null
  sleep 0.5
  logged_statements "$from" "${patterns[@]}" >"$dir/$name.sql"
  requests=$(wc -l <"$dir/$name.warm")
  statements=$(grep -c '^;$' "$dir/$name.sql" || true)
  if [ "$statements" != "$((requests * k))" ]; then
    echo "bench-chats-search.sh: $name: $statements statements logged for $requests requests, not $k each" >&2
    touch "$dir/failed"
    return
  fi
  load_replay "$dir/$name.sql"
  lookup=$(lookup_ms)
  echo "$lookup" >"$dir/$name.lookup"
  : >"$dir/$name.service"
  : >"$dir/$name.pgbench"
  for r in $(seq 1 "$rounds"); do
    c0=$(cpu_now)
    out=$(drive "${args[@]}" --each="$dir/$name.each")
    c1=$(cpu_now)
    echo "$name service round $r: $out" >>"$dir/rounds.out"
    cut -d' ' -f2 "$dir/$name.each" >>"$dir/$name.service"
    cut -d' ' -f2 "$dir/$name.each" >"$dir/$name.service.$r"
    { cpu_per_op "$c0" "$c1" "$requests"; echo; } >"$dir/$name.cpu"
    c0=$(cpu_now)
    replay "$dir/replay.pgb" "$lookup" | per_request "$k" >"$dir/$name.pgbench.$r"
    c1=$(cpu_now)
    cat "$dir/$name.pgbench.$r" >>"$dir/$name.pgbench"
    echo "$name pgbench round $r: $(stats <"$dir/$name.pgbench.$r")" >>"$dir/rounds.out"
    cpu_per_op "$c0" "$c1" "$requests" | cut -d/ -f3 >>"$dir/$name.cpu"
  done
}

measure chats ReadChatsResult ReadChatsInd 1 'SELECT MAX\(messages\.time\)' -- --sip=chatter --topics=team
measure chats-unread ReadChatsResult ReadChatsInd 1 'SELECT MAX\(messages\.time\)' -- --sip=chatter --topics=team
measure chat ReadChatResult ReadChatInd 2 'SELECT m\.id AS id,topic\.id' 'SELECT COUNT\(\*\) AS count,.* FROM discussions AS discussion JOIN' \
  'INSERT INTO message_read' -- --sip=chatter --topics=team --page=older:timestamp --pages="$pages"
measure tags-ab ReadTagsResult Tag 1 'SELECT id,name FROM tags' -- --sip=chatter --topics=team
measure tags-mix ReadTagsResult Tag 1 'SELECT id,name FROM tags' -- --sip=chatter --topics=team
# A search is the look-up of the newest id, then the statement over the newest
# ids and those below them.
measure search SearchResult Add 2 'SELECT MAX\(id\) AS id FROM messages$' 'WITH .*page AS MATERIALIZED \(SELECT$' -- --sip=searcher \
  --topics="$searcher_topics" --timeout=3600
# The window statements alone, one a request.
awk '$0 == ";" { if (n++ % 2) print; next } n % 2 { print }' "$dir/search.sql" >"$dir/windows.sql"

# Two more peers, each round once after the service's rounds: the same
# windows with the words asked of the word index (by prefix) instead of the
# prefix index, as the service searched before the prefix index; and one
# statement over all ids with LIKE on the text in place of every search
# condition (the readable topics as in the first window).
perl -pe 's/search_prefixes\(m\.text\) @@ to_tsquery\(\x27simple\x27, \x27((?:[^\x27]|\x27\x27)*)\x27\)/
  "m.search @@ to_tsquery(\x27simple\x27, \x27" . ($1 =~ s#\x27\x27([^\x27]*)\x27\x27#\x27\x27$1\x27\x27:*#gr) . "\x27)"/ge' \
  "$dir/windows.sql" >"$dir/single.sql"
awk -F'\t' 'NR == FNR { like[$1] = $4; next }
  $0 == ";" { print; n++; next }
  {
    w = " WHERE m.id IN (SELECT id FROM ((SELECT m.id FROM messages m WHERE "
    i = index($0, w)
    if (!i) { print; next }
    c = substr($0, i + length(w)); c = substr(c, 1, index(c, " AND m.id<=") - 1)
    # The readable topics: everything before the first search condition.
    k = 0
    split(" AND search_prefixes(| AND (m.search @@ | AND m.search @@ ", conds, "|")
    for (j = 1; j <= 3; j++) { f = index(c, conds[j]); if (f && (!k || f < k)) k = f }
    if (!k) { print "bench-chats-search.sh: no search condition in " $0 >"/dev/stderr"; exit 1 }
    f = ") AS found LIMIT "; t = index($0, f); tail = substr($0, t + length(f))
    lim = substr(tail, 1, index(tail, ")") - 1); o = " ORDER BY m.id DESC LIMIT " lim
    print substr($0, 1, i - 1) " WHERE " substr(c, 1, k - 1) " AND (" like[n + 1] ")" o substr(tail, index(tail, o) + length(o))
  }' "$dir/queries.tsv" "$dir/windows.sql" >"$dir/like.sql" || touch "$dir/failed"
if [ "$(grep -c -e 'm.search @@' -e 'search_prefixes(' "$dir/like.sql")" != 0 ] || [ "$(grep -c 'search_prefixes(' "$dir/single.sql")" != 0 ]; then
  echo "bench-chats-search.sh: a peer's statements still hold the service's search conditions" >&2
  touch "$dir/failed"
fi
: >"$dir/single.pgbench"
load_replay "$dir/single.sql"
for r in $(seq 1 "$rounds"); do
  replay "$dir/replay.pgb" "$(cat "$dir/search.lookup")" >"$dir/single.pgbench.$r"
  cat "$dir/single.pgbench.$r" >>"$dir/single.pgbench"
done
load_replay "$dir/like.sql"
c0=$(cpu_now)
replay "$dir/replay.pgb" "$(cat "$dir/search.lookup")" >"$dir/like.pgbench"
c1=$(cpu_now)
like_cpu=$(cpu_per_op "$c0" "$c1" "$n_queries" | cut -d/ -f3)

# Plans. The windows that every search statement read, by the way each found
# its rows: "index" through the word index, "by-id" walking messages newest
# first, "per-discussion" reading every message of the readable topics'
# discussions; "prefix" through the prefix index; e.g. "by-id:1+prefix:2" for three windows.
i=0
while IFS= read -r -d $'\x1e' s; do
  i=$((i + 1))
  plan=$(printf 'EXPLAIN (ANALYZE, COSTS OFF, TIMING OFF)\n%s' "$s" | psql_run -A -t | grep -v 'never executed')
  shape=""
  for kind in 'prefix:Bitmap Index Scan on messages_prefix_index' 'index:Bitmap Index Scan on messages_search_index' \
    'by-id:Index Scan Backward using messages_pkey on messages m_' \
    'per-discussion:Index Scan using messages_adds_to_index on messages m_'; do
    c=$(grep -c "${kind#*:}" <<<"$plan" || true)
    [ "$c" = 0 ] || shape+="${shape:++}${kind%%:*}:$c"
  done
  echo "$i ${shape:-other}"
done < <(awk '$0 == ";" { printf "%s\x1e", s; s = ""; next } { s = s (s == "" ? "" : "\n") $0 }' "$dir/windows.sql") \
  >"$dir/search.shapes"
# The statement of request $2 of list $1, as a file.
statement_of() { awk -v n="$2" '$0 == ";" { if (++i == n) exit; s = ""; next } { s = s (s == "" ? "" : "\n") $0 } END { print s }' "$dir/$1.sql"; }
explain() {
  echo "EXPLAIN (ANALYZE, BUFFERS) of $1:"
  { echo "EXPLAIN (ANALYZE, BUFFERS)"; cat; } | psql_run | sed 's/^/  /'
}
{
  statement_of chats 1 | explain "ReadChats"
  statement_of chats-unread 1 | explain "ReadChats with unread"
  statement_of chat 1 | explain "a ReadChat page (the newest)"
  statement_of chat 2 | explain "the unread chat count after a read"
  statement_of tags-ab 1 | explain 'ReadTags "ab%"'
  # The slowest search of each class (first round), and the quickest of the slow plan shape.
  for class in word rare absent two prefix phrase; do
    n=$(paste -d' ' "$dir/search.service.1" <(cut -f1,2 "$dir/queries.tsv" | tr '\t' ' ') |
      awk -v c="$class" '$3 == c { print $1, $2 }' | sort -k1,1 -n -r | head -n 1 | cut -d' ' -f2)
    [ -n "$n" ] && statement_of windows "$n" | explain "the slowest $class search (\"$(cut -f3 "$dir/queries.tsv" | sed -n "${n}p")\")"
  done
} >"$dir/explain.out" 2>&1

# The report.
echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); data made in ${generate_seconds} s:" \
  "$n_messages messages, $n_discussions discussions, $n_read read marks, $n_tags tags ($n_ab begin with \"ab\")," \
  "$n_words words of vocabulary, $words_per_message words a message on average; database ${db_mb} MB"
echo "latency per request (ms): mean, p50, p99, max over $rounds rounds; the peer is pgbench -c 1 running the same" \
  "statements in the same order (less its look-up of each statement, $(cat "$dir/chat.lookup") to" \
  "$(cat "$dir/search.lookup") ms)"
line() { printf '  %-44s %9s %9s %9s %9s  %6s\n' "$@"; }
figures() { read -r mean p50 p99 max _; echo "$mean $p50 $p99 $max"; }
report() {
  local name=$1 label=$2 s p
  s=$(figures <<<"$(stats <"$dir/$name.service")")
  p=$(figures <<<"$(stats <"$dir/$name.pgbench")")
  # shellcheck disable=SC2086
  line "$label" $s "$(stats <"$dir/$name.service" | cut -d' ' -f5)"
  # shellcheck disable=SC2086
  line "  pgbench, the same statements" $p ""
  echo "    ratio of means $(ratio "${s%% *}" "${p%% *}"), of p50 $(ratio "$(cut -d' ' -f2 <<<"$s")" "$(cut -d' ' -f2 <<<"$p")");" \
    "CPU ms per request, service/webserver/PostgreSQL: $(head -n 1 "$dir/$name.cpu"), peer (PostgreSQL)" \
    "$(tail -n 1 "$dir/$name.cpu")"
}
line "measured" mean p50 p99 max requests
report chats "ReadChats, 1000 chats"
report chats-unread "ReadChats, \"unread\": true"
report chat "ReadChat, pages of 50 back from two points"
report tags-ab "ReadTags \"ab%\" (goal: under 5 ms)"
report tags-mix "ReadTags, 100 two-letter prefixes"
report search "Search, all $n_queries queries"
echo "search by kind of query (goal: p99 under 50 ms, 20 times faster than LIKE):"
printf '  %-8s %5s  %-31s  %-31s  %-31s  %-31s  %s\n' kind n "service mean/p50/p99/max" "pgbench, same SQL" \
  "pgbench, windows, word index" "pgbench, LIKE '%word%'" "LIKE/service p50, p99"
for class in word rare absent two prefix phrase all; do
  pick() { paste -d' ' "$1" <(cut -f2 "$dir/queries.tsv") | awk -v c="$class" 'c == "all" || $2 == c { print $1 }'; }
  s=""; p=""; o=""
  for r in $(seq 1 "$rounds"); do
    s+=$(pick "$dir/search.service.$r")$'\n'; p+=$(pick "$dir/search.pgbench.$r")$'\n'; o+=$(pick "$dir/single.pgbench.$r")$'\n'
  done
  s=$(grep . <<<"$s" | stats); p=$(grep . <<<"$p" | stats); o=$(grep . <<<"$o" | stats); l=$(pick "$dir/like.pgbench" | stats)
  printf '  %-8s %5s  %-31s  %-31s  %-31s  %-31s  %s, %s\n' "$class" "$(cut -d' ' -f5 <<<"$l")" \
    "$(cut -d' ' -f1-4 <<<"$s" | tr ' ' /)" "$(cut -d' ' -f1-4 <<<"$p" | tr ' ' /)" "$(cut -d' ' -f1-4 <<<"$o" | tr ' ' /)" \
    "$(cut -d' ' -f1-4 <<<"$l" | tr ' ' /)" \
    "$(ratio "$(cut -d' ' -f2 <<<"$l")" "$(cut -d' ' -f2 <<<"$s")")" "$(ratio "$(cut -d' ' -f3 <<<"$l")" "$(cut -d' ' -f3 <<<"$s")")"
done
echo "  CPU ms per LIKE statement (PostgreSQL): $like_cpu"
echo "search plans by how they find rows (service latency of the first round, ms):"
paste -d' ' "$dir/search.shapes" "$dir/search.service.1" <(cut -f2 "$dir/queries.tsv") |
  awk '{ shape = $2; for (i = 3; i < NF - 1; i++) shape = shape " " $i; print shape "\t" $(NF - 1) "\t" $NF }' |
  sort -t $'\t' -k1,1 -k2,2n | awk -F'\t' '
    { n[$1]++; v[$1, n[$1]] = $2; k[$1, $3]++ }
    END { for (s in n) { c = ""; split("word rare absent two prefix phrase", cl, " ");
            for (i = 1; i <= 6; i++) if (k[s, cl[i]]) c = c " " cl[i] " " k[s, cl[i]]
            printf "  %-15s %4d queries, p50 %s, max %s;%s\n", s, n[s], v[s, int((n[s] + 1) / 2)], v[s, n[s]], c } }'
echo "every round:"
sed 's/^/  /' "$dir/rounds.out"
cat "$dir/explain.out"
if [ -e "$dir/failed" ]; then
  echo "some runs failed"
  exit 1
fi
