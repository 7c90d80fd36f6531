#!/usr/bin/env bash
# App websocket sessions through platform-webserver, next to the echo plugin on the
# same webserver in the same run:
#   - resident memory per idle logged-in session: VmRSS of messages before the first
#     connection and with SESSIONS sessions logged in (three apps each) and idle; the
#     same for as many idle websockets on web-echo-plugin;
#   - logins per second: CONNECTIONS connections each repeating connect, "AppChallenge",
#     "AppLogin" (a new user each time), "Test", close; the peer sends the same three
#     messages to web-echo-plugin and waits for their echoes.
#   scripts/bench-sessions.sh [SECONDS=10] [ROUNDS=3] [CONNECTIONS=16] [SESSIONS=2000]
# Memory is measured first, on processes that have served nobody yet. Each login
# round runs both sides once, alternating; the best round of each is reported.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
rounds=${2:-3}
connections=${3:-16}
sessions=${4:-2000}
build=${BENCH_BUILD:-$top/build/bench-sessions}
# The echo plugin is built with the tests, which need GoogleTest to configure.
"$top/scripts/deps.sh" bench
"$top/scripts/deps.sh" test
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESSAGES_BENCH=ON >/dev/null
cmake --build "$build" --target messages platform-webserver web-echo-plugin bench_sessions -j2 >/dev/null
echo_plugin="$build/tests/web-echo-plugin"
driver="$build/bench/bench_sessions"

bench=sessions
# shellcheck source=scripts/bench-site.sh
. "$top/scripts/bench-site.sh"
start_site
"$echo_plugin" --webserver="$dir/plugins.sock" --path=/echo >"$dir/echo.log" 2>&1 &
echo_pid=$!
pids+=("$echo_pid")
# Websockets are registered once the service's start-up chain has completed.
wait_line "$dir/webserver.log" "register websocket path /messages: ok" >/dev/null
wait_line "$dir/webserver.log" "register websocket path /echo: ok" >/dev/null
sleep 2

common=(--port="$web_port" --domain="$domain" --password="$password")
# Runs the driver; a failed run keeps its output and marks the whole result
# (in a file: the driver runs in command substitutions).
drive() {
  local out
  if ! out=$("$driver" "$@" 2>"$dir/driver.err"); then
    touch "$dir/failed"
    echo "bench-sessions.sh: bench_sessions $* failed:" >&2
    cat "$dir/driver.err" >&2
  fi
  echo "$out"
}
field() { sed -n "s/.*\b$1=\([0-9.]*\).*/\1/p" <<<"$2"; }

mem_messages=$(drive idle "${common[@]}" --path=/messages --pid="$messages_pid" --sessions="$sessions" \
  --prefix=idle-user-)
alive "$messages_pid" messages
mem_echo=$(drive idle "${common[@]}" --path=/echo --echo --pid="$echo_pid" --sessions="$sessions" --prefix=idle-user-)

# The database server: the postmaster of this run's cluster and every process it started.
pg_pids() {
  local postmaster
  postmaster=$(head -n 1 "$PG_CLUSTER/data/postmaster.pid")
  echo "$postmaster $(pgrep -P "$postmaster" | tr '\n' ' ')"
}
login_rate() {
  local side=$1 out service_pid=$messages_pid t0 t1
  shift
  [ "$side" = echo ] && service_pid=$echo_pid
  # shellcheck disable=SC2046
  t0="$(ticks "$service_pid") $(ticks "$web_pid") $(ticks $(pg_pids))"
  out=$(drive logins "${common[@]}" --connections="$connections" --seconds="$seconds" "$@")
  # shellcheck disable=SC2046
  t1="$(ticks "$service_pid") $(ticks "$web_pid") $(ticks $(pg_pids))"
  echo "$side $(field logins "$out") $t0 $t1" >>"$dir/cpu.out"
  echo "$side: $out cpu_ms_per_login=$(tail -n 1 "$dir/cpu.out" | cpu_per_login "$side" - | tr ' ' /)" >>"$dir/logins.out"
  field rate "$out"
}
# CPU milliseconds per login of the service (or echo plugin), the webserver and the
# database server, over all rounds of side $1 in file $2 (default: every round so far).
# Database workers that start or end within a round make its share approximate.
cpu_per_login() {
  awk -v side="$1" -v hz="$(getconf CLK_TCK)" '$1 == side { n += $2; s += $6 - $3; w += $7 - $4; d += $8 - $5 }
    END { if (n) printf "%.2f %.2f %.2f", s * 1000 / hz / n, w * 1000 / hz / n, d * 1000 / hz / n }' "${2:-$dir/cpu.out}"
}
best() { if [ "${1:-0}" -gt "${2:-0}" ]; then echo "$1"; else echo "${2:-0}"; fi; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

logins_messages=0; logins_echo=0
for round in $(seq 1 "$rounds"); do
  # Every round logs new users in, so the user's row is inserted, not updated.
  logins_messages=$(best "$logins_messages" "$(login_rate messages --path=/messages --prefix="r$round-user-")")
  alive "$messages_pid" messages
  logins_echo=$(best "$logins_echo" "$(login_rate echo --path=/echo --echo --prefix="r$round-user-")")
done

echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "idle sessions, $sessions each (three apps per login on messages):"
printf '  %-34s %8s %8s %10s\n' "process" "before" "after" "per session"
for side in messages echo; do
  out=$mem_messages; [ "$side" = echo ] && out=$mem_echo
  printf '  %-34s %6s KiB %6s KiB %7s KiB\n' "$side" "$(field before_kib "$out")" "$(field after_kib "$out")" \
    "$(field per_session_kib "$out")"
done
echo "  goal for messages: 32 KiB per session; logging all $sessions in took $(field login_seconds "$mem_messages") s" \
  "(p50 $(field p50_ms "$mem_messages") ms, p99 $(field p99_ms "$mem_messages") ms)"
echo "logins per second, $connections connections, best of $rounds rounds of ${seconds} s:"
printf '  %-58s %8s   %-40s %8s   %s\n' "measured" "per s" "peer" "per s" "ratio"
printf '  %-58s %8s   %-40s %8s   %s\n' "messages: challenge, login (3 apps, new user), Test, close" \
  "$logins_messages" "web-echo-plugin: the same three messages" "$logins_echo" \
  "$(ratio "$logins_messages" "$logins_echo")"
read -r cpu_m_service cpu_m_web cpu_m_pg <<<"$(cpu_per_login messages)"
read -r cpu_e_service cpu_e_web _ <<<"$(cpu_per_login echo)"
echo "CPU time per login, all rounds: messages $cpu_m_service ms, platform-webserver $cpu_m_web ms," \
  "PostgreSQL $cpu_m_pg ms; peer: web-echo-plugin $cpu_e_service ms, platform-webserver $cpu_e_web ms"
echo "every login round (latency from connect to close; CPU ms per login of service, webserver, database):"
sed 's/^/  /' "$dir/logins.out"
if [ -e "$dir/failed" ]; then
  echo "some runs failed"
  exit 1
fi
