#!/usr/bin/env bash
# The PBX link through platform-webserver, driven by bench/bench_pbx.cpp:
#   - relay latency in a group chat of MEMBERS members, all on the driver's
#     phones: one member's text to the first and to the last relayed
#     "facility", next to a {"mt":"Test"} round trip on the same connection,
#     ROUNDS times each;
#   - badge fan-out: USERS users with PER_USER presence subscriptions each, one
#     post that notifies them all, to the last "#badge" notification, next to
#     the post's own "PostResult", BADGE_ROUNDS times.
#   scripts/bench-pbx.sh [MEMBERS=50] [ROUNDS=200] [USERS=5] [PER_USER=1000] [BADGE_ROUNDS=5]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
members=${1:-50}
rounds=${2:-200}
users=${3:-5}
per_user=${4:-1000}
badge_rounds=${5:-5}
build=${BENCH_BUILD:-$top/build/bench-pbx}
"$top/scripts/deps.sh" bench
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESSAGES_BENCH=ON -DMESSAGES_TESTS=OFF >/dev/null
cmake --build "$build" --target messages platform-webserver bench_pbx -j2 >/dev/null
driver="$build/bench/bench_pbx"

bench=pbx
sessions=2
# shellcheck source=scripts/bench-site.sh
. "$top/scripts/bench-site.sh"
start_site
# shellcheck source=scripts/bench-messaging-lib.sh
. "$top/scripts/bench-messaging-lib.sh"
wait_line "$dir/webserver.log" "register websocket path /messages: ok" >/dev/null

psql_run <<SQL
INSERT INTO objects (sip, dn, grp) VALUES ('relay-group', 'Relay group', true);
INSERT INTO objects (sip, dn) SELECT 'relay-member-' || i, 'Relay member ' || i FROM generate_series(1, $members) i;
INSERT INTO members (grp, object)
  SELECT (SELECT id FROM objects WHERE sip = 'relay-group'), id FROM objects WHERE sip LIKE 'relay-member-%';
INSERT INTO objects (sip, dn) SELECT 'badge-user-' || i, 'Badge user ' || i FROM generate_series(1, $users) i;
SQL

site=(--port="$web_port" --domain="$domain" --password="$password")
relay=$(drive "$driver" relay "${site[@]}" --group=relay-group --member=relay-member-1 --members="$members" \
  --rounds="$rounds")
badges=$(drive "$driver" badges "${site[@]}" --prefix=badge-user- --users="$users" --per-user="$per_user" \
  --topic=bench-topic --rounds="$badge_rounds")
[ -e "$dir/failed" ] && exit 1

echo "relay in a group chat of $members members, $rounds texts (ms, median / p99):"
printf '  text to the first relayed facility   %8s / %s\n' "$(field first_ms_median "$relay")" "$(field first_ms_p99 "$relay")"
printf '  text to the last (%d) relayed        %8s / %s\n' "$((members - 1))" "$(field last_ms_median "$relay")" \
  "$(field last_ms_p99 "$relay")"
printf '  peer: "Test" round trip, same link   %8s / %s\n' "$(field test_rtt_ms_median "$relay")" \
  "$(field test_rtt_ms_p99 "$relay")"
printf '  first relayed / round trip (median)  %8s (goal within 2)\n' \
  "$(ratio "$(field first_ms_median "$relay")" "$(field test_rtt_ms_median "$relay")")"
echo "badge fan-out: $((users * per_user)) subscriptions of $users users, one post notifying all, $badge_rounds posts (ms, median / p99):"
printf '  post to the last "#badge"            %8s / %s (goal under 200)\n' "$(field last_badge_ms_median "$badges")" \
  "$(field last_badge_ms_p99 "$badges")"
printf '  peer: post to its "PostResult"       %8s / %s\n' "$(field post_result_ms_median "$badges")" \
  "$(field post_result_ms_p99 "$badges")"
printf '  the driver'"'"'s own CPU in that time     %8s / %s\n' "$(field driver_cpu_ms_median "$badges")" \
  "$(field driver_cpu_ms_p99 "$badges")"
printf '  first counts of all subscriptions    %8s\n' "$(field first_count_all_ms "$badges")"
