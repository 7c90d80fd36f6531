#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for tests and benchmarks.
#   pg-test.sh start DIR   initdb in a new directory under /tmp, start the server
#                          on a free port of 127.0.0.1 (and a Unix socket in that
#                          directory), create the role and database of the
#                          service's defaults, write the connection info to DIR/pg.env
#   pg-test.sh stop DIR    stop the server and remove the cluster and DIR/pg.env
#   pg-test.sh crash DIR   stop the server at once, as a server that is lost
#   pg-test.sh resume DIR  start a crashed server again, on its port and with its data
#   pg-test.sh pause DIR   stop the server cleanly (fast shutdown), keeping its data for resume
# PostgreSQL refuses to run as root, so as root the server runs as `postgres`.
set -euo pipefail
cmd=${1:-}
dir=${2:-}
if [ -z "$cmd" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop|crash|pause|resume DIR" >&2
  exit 2
fi
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "pg-test.sh: no PostgreSQL server under /usr/lib/postgresql (scripts/deps.sh installs it)" >&2
  exit 1
fi
info="$dir/pg.env"

as_server_user() {
  # The server user may not be allowed into the caller's working directory.
  if [ "$(id -u)" -eq 0 ]; then (cd /tmp && runuser -u postgres -- "$@"); else "$@"; fi
}

cluster_of() {
  sed -n 's/^PG_CLUSTER=//p' "$info" 2>/dev/null || true
}

stop_cluster() {
  local cluster mode=$1
  cluster=$(cluster_of)
  case "$cluster" in
    /tmp/messages-pg.*) ;;
    *) return 0 ;;
  esac
  if [ -f "$cluster/data/postmaster.pid" ]; then
    as_server_user "$bin/pg_ctl" -D "$cluster/data" -m "$mode" -w -t 60 stop >/dev/null 2>&1 || true
  fi
}

case "$cmd" in
start)
  # A cluster left behind by an interrupted run goes first.
  if [ -f "$info" ]; then "$0" stop "$dir"; fi
  mkdir -p "$dir"
  cluster=$(mktemp -d /tmp/messages-pg.XXXXXX)
  if [ "$(id -u)" -eq 0 ]; then chown postgres: "$cluster"; fi
  # Byte-order collation, under which plain indexes serve LIKE prefixes, and a UTF-8
  # character type, under which letters beyond ASCII have a case (LOWER, the search).
  if ! as_server_user "$bin/initdb" -D "$cluster/data" -U postgres -E UTF8 --locale=C --lc-ctype=C.UTF-8 \
      --auth-local=trust --auth-host=scram-sha-256 >"$cluster/initdb.log" 2>&1; then
    cat "$cluster/initdb.log" >&2
    rm -rf "$cluster"
    exit 1
  fi
  cat >>"$cluster/data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$cluster'
max_connections = 200
CONF
  # Durability is of no use to a cluster that lives for one run, unless the
  # run crashes the server and counts what was committed (PG_TEST_DURABLE=1).
  if [ -z "${PG_TEST_DURABLE:-}" ]; then
    printf 'fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n' >>"$cluster/data/postgresql.conf"
  fi
  started=""
  for _ in $(seq 1 20); do
    port=$((20000 + RANDOM % 30000))
    # Something answers there: the port is taken.
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then continue; fi
    if as_server_user "$bin/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w -t 60 \
        -o "-p $port" start >/dev/null 2>&1; then
      started=1
      break
    fi
  done
  if [ -z "$started" ]; then
    echo "pg-test.sh: the server did not start" >&2
    cat "$cluster/server.log" >&2 || true
    rm -rf "$cluster"
    exit 1
  fi
  cat >"$info" <<INFO
PG_SCRIPT=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
PG_BIN=$bin
PG_CLUSTER=$cluster
PG_SOCKET=$cluster
PG_HOST=127.0.0.1
PG_PORT=$port
PG_ADDRESS=127.0.0.1:$port
PG_USER=messages
PG_PASSWORD=kfo
PG_DATABASE=messages
INFO
  "$bin/psql" -X -q -h "$cluster" -p "$port" -U postgres -d postgres -v ON_ERROR_STOP=1 \
    -c "CREATE ROLE messages LOGIN PASSWORD 'kfo' CREATEDB" \
    -c "CREATE DATABASE messages OWNER messages" >/dev/null
  echo "PostgreSQL test cluster on 127.0.0.1:$port ($cluster)"
  ;;
stop)
  stop_cluster fast
  cluster=$(cluster_of)
  case "$cluster" in
    /tmp/messages-pg.*) rm -rf "$cluster" ;;
  esac
  rm -f "$info"
  ;;
crash)
  stop_cluster immediate
  ;;
pause)
  stop_cluster fast
  ;;
resume)
  cluster=$(cluster_of)
  port=$(sed -n 's/^PG_PORT=//p' "$info")
  as_server_user "$bin/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w -t 60 -o "-p $port" start >/dev/null
  ;;
*)
  echo "usage: $0 start|stop|crash|pause|resume DIR" >&2
  exit 2
  ;;
esac
