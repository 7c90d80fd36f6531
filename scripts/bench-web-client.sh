#!/usr/bin/env bash
# The web client in headless chromium (bench/web_client.js), against a Release
# build of messages and platform-webserver on a throwaway PostgreSQL with a
# history: 1000 discussions of 10 messages in the app's topic over 30 days (the
# reader has read what is older than 3 days) and 10000 one-message discussions
# in the topic "scroll". It measures, each next to its floor in the same run:
#   - opening the bare address, logged in through the cookie, to the first page
#     of 50 discussions on screen (cold and warm cache), with the number of
#     files a warm opening still asks the server for;
#   - another user's post to its appearance on the reader's screen;
#   - scrolling through the 10000 messages: frames per second from the
#     browser's trace, and the page's memory afterwards (JS heap, DOM nodes,
#     the renderer process);
#   - the size of the web client as served compressed.
#   scripts/bench-web-client.sh [ROUNDS=5]
# BENCH_BUILD names the Release build directory (build/bench-web-client).
# Everything listens on 127.0.0.1 only.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
build=${BENCH_BUILD:-$top/build/bench-web-client}
"$top/scripts/deps.sh" bench
# chromium and node come with the test profile.
"$top/scripts/deps.sh" test
browser="$top/tests/browser"
if [ ! -d "$browser/node_modules" ] || [ "$browser/package-lock.json" -nt "$browser/node_modules" ]; then
  (cd "$browser" && npm ci --no-audit --no-fund >/dev/null)
fi
# A numbered build, as a release is: its files are served with the lifetime a release's are.
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESSAGES_TESTS=OFF '-DCMAKE_CXX_FLAGS=-DMESSAGES_BUILD=\"7\"' >/dev/null
cmake --build "$build" --target messages platform-webserver -j2 >/dev/null

bench=web-client
sessions=16
# shellcheck source=scripts/bench-site.sh
. "$top/scripts/bench-site.sh"
# The browser logs in through the webserver, for the host it opens.
domain=127.0.0.1
printf 'reader:reader-pw:Bench Reader:topics=scroll\nwriter:writer-pw:Bench Writer:topics=scroll\n' >"$dir/users"
web_args=(--app=/messages:"$password" --users="$dir/users")
start_site
# The schema is there once the websocket path is registered.
wait_line "$dir/webserver.log" "register websocket path /messages: ok" >/dev/null

PGPASSWORD=$PG_PASSWORD "$PG_BIN/psql" -X -q -h "$PG_HOST" -p "$PG_PORT" -U "$PG_USER" -d "$PG_DATABASE" \
  -v ON_ERROR_STOP=1 <<'SQL'
BEGIN;
INSERT INTO objects (sip, dn) SELECT 'history-user-' || i, 'History User ' || i FROM generate_series(1, 200) i;
INSERT INTO objects (sip, dn) VALUES ('messages', 'Messages'), ('scroll', 'Scroll'), ('reader', 'Bench Reader'),
  ('writer', 'Bench Writer') ON CONFLICT DO NOTHING;
-- The scroll topic's discussions are older than all of the app topic's.
INSERT INTO discussions (topic, time)
  SELECT (SELECT id FROM objects WHERE sip = 'scroll'),
         (EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) * 1000)::bigint - 40 * 86400000::bigint - (10000 - i) * 60000::bigint
  FROM generate_series(1, 10000) i;
INSERT INTO messages (adds_to, author, text, time)
  SELECT d.id, u.id, 'Scroll message ' || row_number() OVER (ORDER BY d.id) ||
         ': a message of the scroll history, long enough to wrap like a real one does', d.time
  FROM discussions d JOIN objects u ON u.sip = 'history-user-' || (d.id % 200 + 1)
  WHERE d.topic = (SELECT id FROM objects WHERE sip = 'scroll');
INSERT INTO discussions (topic, time)
  SELECT (SELECT id FROM objects WHERE sip = 'messages'),
         (EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) * 1000)::bigint - (1000 - i) * 2592000::bigint - 3600000
  FROM generate_series(1, 1000) i;
INSERT INTO messages (adds_to, author, text, time)
  SELECT d.id, u.id, 'Discussion ' || row_number() OVER (ORDER BY d.id) ||
         ' of the history: what the team talks about today', d.time - 9 * 60000
  FROM discussions d JOIN objects u ON u.sip = 'history-user-' || (d.id % 200 + 1)
  WHERE d.topic = (SELECT id FROM objects WHERE sip = 'messages');
INSERT INTO messages (adds_to, replies_to, author, text, time)
  SELECT r.adds_to, r.id, u.id, 'Reply ' || j || ' in this discussion: lorem ipsum dolor sit amet, consectetur',
         r.time + j * 60000
  FROM messages r JOIN discussions d ON d.id = r.adds_to CROSS JOIN generate_series(1, 9) j
  JOIN objects u ON u.sip = 'history-user-' || ((r.adds_to * 7 + j) % 200 + 1)
  WHERE r.replies_to IS NULL AND d.topic = (SELECT id FROM objects WHERE sip = 'messages');
INSERT INTO message_read (message, object, time)
  SELECT m.id, me.id, m.time + 60000 FROM messages m, (SELECT id FROM objects WHERE sip = 'reader') me
  WHERE m.time < (EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) - 3 * 86400) * 1000;
COMMIT;
VACUUM ANALYZE objects, discussions, messages, message_read;
SQL

cd "$top/web-client"
files=$(find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
# shellcheck disable=SC2086
source_bytes=$(cat $files | wc -c)
BENCH_URL="http://127.0.0.1:$web_port/messages/" BENCH_READER=reader:reader-pw BENCH_WRITER=writer:writer-pw \
  BENCH_NEWEST="Discussion 1000 of the history" BENCH_SCROLL=scroll BENCH_SCROLL_COUNT=10000 \
  BENCH_SCROLL_PREFIX="Scroll message " BENCH_FILES="$files" BENCH_SOURCE_BYTES="$source_bytes" \
  BENCH_ROUNDS="$rounds" node "$top/bench/web_client.js"
