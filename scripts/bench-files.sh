#!/usr/bin/env bash
# Files through platform-webserver into and out of the database, next to
# nginx on the same machine in the same run:
#   - a 64 MB upload into a buffer (curl POST) against nginx taking the same
#     upload into a file (WebDAV PUT), and the download of that buffer
#     (curl GET) against nginx serving the same file; the resident memory
#     of messages is sampled every 20 ms during each transfer;
#   - a post whose "attach" names the file on nginx: the fetch into the
#     file store (from the post's statement to the one that lists the stored
#     file, by the service's log stamps) against curl fetching the same URL
#     to /dev/null, and against curl storing it into the same file store's
#     buffer (the upload above, fetched first).
#   scripts/bench-files.sh [ROUNDS=3] [MB=64]
# Rounds alternate the service and nginx; the best round of each is reported.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
mb=${2:-64}
build=${BENCH_BUILD:-$top/build/bench-messaging}
"$top/scripts/deps.sh" bench
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESSAGES_BENCH=ON -DMESSAGES_TESTS=OFF >/dev/null
cmake --build "$build" --target messages platform-webserver bench_messaging -j2 >/dev/null
driver="$build/bench/bench_messaging"

bench=files
sessions=16
# shellcheck source=scripts/bench-site.sh
. "$top/scripts/bench-site.sh"
start_site --log-size=500000000
# shellcheck source=scripts/bench-messaging-lib.sh
. "$top/scripts/bench-messaging-lib.sh"
wait_line "$dir/webserver.log" "register websocket path /messages: ok" >/dev/null
web="http://127.0.0.1:$web_port"

# nginx from a directory of this run: the file to serve, and WebDAV PUT for uploads.
nginx_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$dir/nginx/www/up" "$dir/nginx/temp"
cat >"$dir/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
pid $dir/nginx/nginx.pid;
error_log $dir/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_max_body_size 0;
  client_body_temp_path $dir/nginx/temp;
  proxy_temp_path $dir/nginx/temp;
  fastcgi_temp_path $dir/nginx/temp;
  uwsgi_temp_path $dir/nginx/temp;
  scgi_temp_path $dir/nginx/temp;
  server {
    listen 127.0.0.1:$nginx_port;
    root $dir/nginx/www;
    location /up/ { dav_methods PUT; }
  }
}
CONF
nginx -p "$dir/nginx" -e "$dir/nginx/error.log" -c "$dir/nginx/nginx.conf" &
pids+=($!)
head -c "$((mb * 1048576))" /dev/urandom >"$dir/nginx/www/big.bin"
file="$dir/nginx/www/big.bin"
for _ in $(seq 1 100); do curl -s -o /dev/null "http://127.0.0.1:$nginx_port/big.bin" && break; sleep 0.1; done

common=(--port="$web_port" --domain="$domain" --password="$password" --sip=filer --topics=team)
# Sends the requests of file $1 and keeps their results in $2.
ask() {
  "$driver" ask "${common[@]}" --requests="$1" --result="$2" --row=none --replies="$dir/replies" >/dev/null
  cat "$dir/replies"
}
json_field() { python3 -c 'import json, sys; print(json.loads(sys.stdin.readline())[sys.argv[1]])' "$1"; }
new_buffer() {
  echo '{"mt":"CreateFileBuffer","src":"b","name":"big.bin"}' >"$dir/buffer.req"
  ask "$dir/buffer.req" CreateFileBufferResult | json_field req
}

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$messages_pid/status"; }
# Runs "$@" while sampling the service's resident memory; prints curl's
# figure and the largest growth over the memory at the start, in kB.
sampled() {
  local start peak now out
  start=$(rss_kb)
  peak=$start
  "$@" >"$dir/transfer.out" &
  local pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    now=$(rss_kb)
    [ "$now" -gt "$peak" ] && peak=$now
    sleep 0.02
  done
  wait "$pid"
  out=$(cat "$dir/transfer.out")
  echo "$out $((peak - start))"
}
mbps() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
keep_max() { awk -v a="$1" -v b="${2:-0}" 'BEGIN { print (a > b ? a : b) }'; }

# The service's log stamp of a line ("MM-DD HH:MM:SS.mmm") as seconds of the day.
stamp_seconds() { awk '{ split($2, t, ":"); printf "%.3f\n", t[1] * 3600 + t[2] * 60 + t[3] }'; }

up_service=0 up_nginx=0 down_service=0 down_nginx=0 attach_service=0 attach_curl=0 rss_up=0 rss_down=0 rss_attach=0
for r in $(seq 1 "$rounds"); do
  req=$(new_buffer)
  read -r speed grow < <(sampled curl -sf -H 'Expect:' -H 'Content-Type: application/octet-stream' \
    --data-binary "@$file" -o /dev/null -w '%{speed_upload}' "$web$req")
  up_service=$(keep_max "$speed" "$up_service"); rss_up=$(keep_max "$grow" "$rss_up")
  speed=$(curl -sf -T "$file" -o /dev/null -w '%{speed_upload}' "http://127.0.0.1:$nginx_port/up/big-$r.bin")
  up_nginx=$(keep_max "$speed" "$up_nginx")

  read -r speed grow < <(sampled curl -sf -o "$dir/down.bin" -w '%{speed_download}' "$web$req")
  cmp -s "$dir/down.bin" "$file" || { echo "bench-files.sh: the download differs from the upload" >&2; exit 1; }
  rm -f "$dir/down.bin"
  down_service=$(keep_max "$speed" "$down_service"); rss_down=$(keep_max "$grow" "$rss_down")
  speed=$(curl -sf -o /dev/null -w '%{speed_download}' "http://127.0.0.1:$nginx_port/big.bin")
  down_nginx=$(keep_max "$speed" "$down_nginx")

  # The attachment: from the post's statement to the one that lists the file.
  echo "{\"mt\":\"Post\",\"src\":\"p\",\"topic\":\"team\",\"text\":\"round $r\",\"attach\":\"http://127.0.0.1:$nginx_port/big.bin\"}" \
    >"$dir/post.req"
  start=$(rss_kb)
  id=$(ask "$dir/post.req" PostResult | json_field id)
  peak=$start
  for _ in $(seq 1 30000); do
    now=$(rss_kb); [ "$now" -gt "$peak" ] && peak=$now
    service_log | grep -aq "UPDATE messages SET attached=.* WHERE id=$id" && break
    sleep 0.02
  done
  rss_attach=$(keep_max "$((peak - start))" "$rss_attach")
  # The post's message insert, a prepared statement the log names by its handle.
  stmt=$(service_log | grep -a 'PrepareStatement.*INSERT INTO messages(adds_to,author' | head -n 1 | sed 's/.* \(_STMT-[0-9]*\):.*/\1/')
  t0=$(service_log | grep -a "statement:$stmt\$" | tail -n 1 | stamp_seconds)
  t1=$(service_log | grep -a "UPDATE messages SET attached=.* WHERE id=$id" | tail -n 1 | stamp_seconds)
  size=$(psql_run -A -t -c "SELECT size FROM files WHERE folder=$id")
  [ "$size" = "$((mb * 1048576))" ] || { echo "bench-files.sh: the attachment holds $size bytes" >&2; exit 1; }
  speed=$(awk -v b="$size" -v a="$t0" -v c="$t1" 'BEGIN { if (c > a) printf "%.0f", b / (c - a); else print 0 }')
  attach_service=$(keep_max "$speed" "$attach_service")
  speed=$(curl -sf -o /dev/null -w '%{speed_download}' "http://127.0.0.1:$nginx_port/big.bin")
  attach_curl=$(keep_max "$speed" "$attach_curl")
done

echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); $mb MB of random bytes, best of $rounds rounds (MB/s)"
printf '  %-52s %9s %9s %6s  %s\n' transfer service peer ratio "RSS growth of messages"
printf '  %-52s %9s %9s %6s  %s kB\n' "upload: buffer POST / nginx PUT to a file" "$(mbps "$up_service")" \
  "$(mbps "$up_nginx")" "$(ratio "$up_service" "$up_nginx")" "$rss_up"
printf '  %-52s %9s %9s %6s  %s kB\n' "download: buffer GET / nginx GET of the file" "$(mbps "$down_service")" \
  "$(mbps "$down_nginx")" "$(ratio "$down_service" "$down_nginx")" "$rss_down"
printf '  %-52s %9s %9s %6s  %s kB\n' "attach from nginx into the store / curl to /dev/null" "$(mbps "$attach_service")" \
  "$(mbps "$attach_curl")" "$(ratio "$attach_service" "$attach_curl")" "$rss_attach"
printf '  %-52s %9s %9s %6s\n' "attach / upload of the same bytes into a buffer" "$(mbps "$attach_service")" \
  "$(mbps "$up_service")" "$(ratio "$attach_service" "$up_service")"
