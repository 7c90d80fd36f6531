#!/usr/bin/env bash
# The web transport under load, next to its peers on the same machine in the same run:
#   - static-file GETs per second (wrk) of a table file served by messages through
#     platform-webserver and the plugin link, and of the same bytes from nginx;
#   - websocket echo round trips per second through platform-webserver, the link and
#     web-echo-plugin, and against a direct single-threaded Beast echo server.
#   scripts/bench-web.sh [SECONDS=10] [ROUNDS=3] [CONNECTIONS=16]
# Each round runs every pair once, alternating; the best round of each is reported.
# Everything listens on 127.0.0.1 only; nginx runs from a temporary directory.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
rounds=${2:-3}
connections=${3:-16}
build=${BENCH_BUILD:-$top/build/bench-web}
# The echo plugin is built with the tests, which need GoogleTest to configure.
"$top/scripts/deps.sh" bench
"$top/scripts/deps.sh" test
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESSAGES_BENCH=ON >/dev/null
cmake --build "$build" --target messages platform-webserver web-echo-plugin bench_web_echo -j2 >/dev/null
webserver="$build/platform/webserver/platform-webserver"
messages="$build/service/messages"
echo_plugin="$build/tests/web-echo-plugin"
driver="$build/bench/bench_web_echo"

dir=$(mktemp -d /tmp/messages-bench-web.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  "$top/scripts/pg-test.sh" stop "$dir/pg" >/dev/null 2>&1 || true
  rm -rf "$dir"
}
trap cleanup EXIT

# Waits up to 20 s for a line matching $2 in file $1 and prints it.
wait_line() {
  for _ in $(seq 1 200); do
    if grep -m1 "$2" "$1" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "bench-web.sh: no '$2' in $1" >&2
  cat "$1" >&2
  return 1
}
# Waits up to 20 s until URL $1 answers 200.
wait_ok() {
  for _ in $(seq 1 200); do
    [ "$(curl -s -o /dev/null -w '%{http_code}' "$1")" = 200 ] && return 0
    sleep 0.1
  done
  echo "bench-web.sh: $1 does not answer" >&2
  return 1
}
free_port() {
  for _ in $(seq 1 50); do
    local port=$((20000 + RANDOM % 30000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then echo "$port"; return 0; fi
  done
  return 1
}

"$top/scripts/pg-test.sh" start "$dir/pg" >/dev/null
# shellcheck disable=SC1091
. "$dir/pg/pg.env"

"$webserver" --http=127.0.0.1:0 --plugins="$dir/plugins.sock" >"$dir/webserver.log" 2>&1 &
pids+=($!)
web_port=$(wait_line "$dir/webserver.log" "listening on http://" | sed 's/.*://')
"$messages" --app-name=bench --webserver="$dir/plugins.sock" --webserver-path=/messages --db-host="$PG_ADDRESS" \
  --db-name="$PG_DATABASE" --db-user="$PG_USER" --db-password="$PG_PASSWORD" >"$dir/messages.log" 2>&1 &
pids+=($!)
"$echo_plugin" --webserver="$dir/plugins.sock" --path=/echo >"$dir/echo.log" 2>&1 &
pids+=($!)
"$driver" server >"$dir/direct.log" 2>&1 &
pids+=($!)
direct_port=$(wait_line "$dir/direct.log" "listening on" | sed 's/.*://')

# The page of the web client as messages serves it (stored as it is, not compressed).
file=solvantique-messages.htm
wait_line "$dir/webserver.log" "register http path /messages: ok" >/dev/null
# The build number is the one the service redirects to.
build_no=$(curl -s -o /dev/null -w '%{redirect_url}' "http://127.0.0.1:$web_port/messages/$file" |
  sed 's|.*/messages/\([^/]*\)/.*|\1|')
path="/messages/$build_no/$file"
wait_ok "http://127.0.0.1:$web_port$path"
wait_line "$dir/webserver.log" "register websocket path /echo: ok" >/dev/null

mkdir -p "$dir/nginx/www/messages/$build_no" "$dir/nginx/temp"
cp "$top/web-client/$file" "$dir/nginx/www/messages/$build_no/$file"
nginx_port=$(free_port)
cat >"$dir/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
master_process off;
pid $dir/nginx/nginx.pid;
error_log $dir/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nodelay on;
  keepalive_requests 1000000;
  client_body_temp_path $dir/nginx/temp;
  proxy_temp_path $dir/nginx/temp;
  fastcgi_temp_path $dir/nginx/temp;
  uwsgi_temp_path $dir/nginx/temp;
  scgi_temp_path $dir/nginx/temp;
  types { text/html htm; }
  server {
    listen 127.0.0.1:$nginx_port;
    root $dir/nginx/www;
  }
}
CONF
nginx -p "$dir/nginx" -e "$dir/nginx/error.log" -c "$dir/nginx/nginx.conf" &
pids+=($!)
wait_ok "http://127.0.0.1:$nginx_port$path"

# Both serve the same bytes.
cmp -s <(curl -s "http://127.0.0.1:$web_port$path") <(curl -s "http://127.0.0.1:$nginx_port$path") ||
  { echo "bench-web.sh: the two servers answer differently" >&2; exit 1; }

wrk_rate() {
  wrk -t1 -c"$connections" -d"${seconds}s" "$1" >"$dir/wrk.out" 2>&1 || true
  # A rate made of errors is no rate.
  if grep -q -e "Non-2xx" -e "Socket errors" "$dir/wrk.out"; then
    echo "bench-web.sh: errors from $1:" >&2
    cat "$dir/wrk.out" >&2
  fi
  sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p' "$dir/wrk.out" | cut -d. -f1
}
echo_rate() {
  "$driver" client --port="$1" --path="$2" --connections="$3" --seconds="$seconds" | sed -n 's/.*rate=\([0-9]*\).*/\1/p'
}
best() { if [ "${1:-0}" -gt "${2:-0}" ]; then echo "$1"; else echo "${2:-0}"; fi; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

get_web=0; get_nginx=0; ws_web=0; ws_direct=0; ws1_web=0; ws1_direct=0
for _ in $(seq 1 "$rounds"); do
  get_nginx=$(best "$get_nginx" "$(wrk_rate "http://127.0.0.1:$nginx_port$path")")
  get_web=$(best "$get_web" "$(wrk_rate "http://127.0.0.1:$web_port$path")")
  ws_direct=$(best "$ws_direct" "$(echo_rate "$direct_port" / "$connections")")
  ws_web=$(best "$ws_web" "$(echo_rate "$web_port" /echo "$connections")")
  ws1_direct=$(best "$ws1_direct" "$(echo_rate "$direct_port" / 1)")
  ws1_web=$(best "$ws1_web" "$(echo_rate "$web_port" /echo 1)")
done

size=$(wc -c <"$top/web-client/$file")
echo "best of $rounds rounds of ${seconds} s each; $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '  %-58s %9s   %-34s %9s   %s\n' "measured" "per s" "peer" "per s" "ratio"
printf '  %-58s %9s   %-34s %9s   %s\n' "GET $size-byte table file, wrk -c$connections: platform-webserver + link" \
  "$get_web" "nginx (1 worker), same file" "$get_nginx" "$(ratio "$get_web" "$get_nginx")"
printf '  %-58s %9s   %-34s %9s   %s\n' "websocket echo, 32 bytes, $connections connections: webserver + link" \
  "$ws_web" "direct Beast echo server" "$ws_direct" "$(ratio "$ws_web" "$ws_direct")"
printf '  %-58s %9s   %-34s %9s   %s\n' "websocket echo, 32 bytes, 1 connection: webserver + link" \
  "$ws1_web" "direct Beast echo server" "$ws1_direct" "$(ratio "$ws1_web" "$ws1_direct")"
