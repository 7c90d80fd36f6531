#!/usr/bin/env bash
# Builds and runs a complete installation on this machine: PostgreSQL (data
# kept in var/pg), the platform-webserver stand-in and the messages service.
# Ctrl-C stops all three; the data stays for the next run.
#   MESSAGES_HTTP=127.0.0.1:8080  where browsers connect
#   MESSAGES_PG_PORT=55432        the database's port on 127.0.0.1
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
http=${MESSAGES_HTTP:-127.0.0.1:8080}
pgport=${MESSAGES_PG_PORT:-55432}
"$top/scripts/deps.sh" run
cmake -S "$top" -B "$top/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMESSAGES_TESTS=OFF >/dev/null
cmake --build "$top/build/release" -j"$(nproc)" --target messages platform-webserver platform-manager

var="$top/var"
mkdir -p "$var"
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_server_user() {
  # PostgreSQL refuses to run as root.
  if [ "$(id -u)" -eq 0 ]; then (cd /tmp && runuser -u postgres -- "$@"); else "$@"; fi
}
if [ ! -f "$var/pg/PG_VERSION" ]; then
  mkdir -p "$var/pg"
  [ "$(id -u)" -eq 0 ] && chown postgres: "$var/pg"
  chmod 700 "$var/pg"
  # Byte-order collation, under which plain indexes serve LIKE prefixes, and a UTF-8
  # character type, under which letters beyond ASCII have a case (LOWER, the search).
  as_server_user "$bin/initdb" -D "$var/pg" -U postgres -E UTF8 --locale=C --lc-ctype=C.UTF-8 --auth-local=trust \
    --auth-host=scram-sha-256 >"$var/initdb.log"
  printf "listen_addresses = '127.0.0.1'\nunix_socket_directories = '%s'\n" "$var/pg" >>"$var/pg/postgresql.conf"
fi
as_server_user "$bin/pg_ctl" -D "$var/pg" -l "$var/pg/server.log" -w -o "-p $pgport" start >/dev/null
psql=(as_server_user "$bin/psql" -h "$var/pg" -p "$pgport" -U postgres -d postgres -qtA -v ON_ERROR_STOP=1)
"${psql[@]}" -c "SELECT 1 FROM pg_roles WHERE rolname='messages'" | grep -q 1 ||
  "${psql[@]}" -c "CREATE ROLE messages LOGIN PASSWORD 'kfo'"
"${psql[@]}" -c "SELECT 1 FROM pg_database WHERE datname='messages'" | grep -q 1 ||
  "${psql[@]}" -c "CREATE DATABASE messages OWNER messages ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE 'C.UTF-8' TEMPLATE template0"
# A database made by an earlier version of this script may have the character type C.
if [ "$("${psql[@]}" -c "SELECT datctype FROM pg_database WHERE datname='messages'")" = C ]; then
  echo "note: the database in $var/pg has the character type C: names and searches ignore case for ASCII letters only." >&2
  echo "      To change it, stop, dump it (pg_dump), drop it, start again to make it anew, and restore the dump." >&2
fi

pids=()
stop_all() {
  trap - INT TERM EXIT
  echo "stopping..."
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -TERM "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  as_server_user "$bin/pg_ctl" -D "$var/pg" -m fast -w stop >/dev/null || true
}
trap stop_all INT TERM EXIT

"$top/build/release/platform/webserver/platform-webserver" --http="$http" --plugins="$var/webserver.sock" \
  --app=/messages:kfo --open-login &
pids+=($!)
for _ in $(seq 1 50); do [ -S "$var/webserver.sock" ] && break; sleep 0.1; done
# The browser login takes its domain from the address the browser opens; the
# instance's must be the same, or its users would count as another domain's.
"$top/build/release/service/messages" --webserver="$var/webserver.sock" --db-host="127.0.0.1:$pgport" \
  --app-domain="${http%:*}" "$@" &
pids+=($!)
echo "messages is running: open http://$http/messages/ (logs in /var/log/apps/messages/; Ctrl-C stops)"
wait -n "${pids[@]}" || true
