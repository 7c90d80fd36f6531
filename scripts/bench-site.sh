# Sourced by the whole-process benchmarks: a throwaway PostgreSQL, platform-webserver
# and messages under a name of this run, and their clean-up. Set before sourcing:
#   top, bench (a short name), build (the build directory), sessions (descriptors needed).
# Before start_site, domain and password may be changed, web_args (extra arguments of the
# webserver, e.g. a browser login) and pg_conf (lines for the server's postgresql.conf) set.
# Defines: dir, domain, password, name, logdir, pids, web_args, pg_conf, web_pid, web_port, messages_pid,
# wait_line FILE PATTERN, alive PID WHAT, service_trouble [LINES], start_site [ARGS FOR messages], ticks PID....,
# restart_webserver.

# The driver and the webserver hold a descriptor per session.
want_fds=$((2 * sessions + 1024))
if [ "$(ulimit -n)" != unlimited ] && [ "$(ulimit -n)" -lt "$want_fds" ]; then
  ulimit -n "$want_fds" 2>/dev/null || ulimit -n "$(ulimit -Hn)"
fi

domain="$bench-$$.bench"
password="bench-$bench-pw"
dir=$(mktemp -d "/tmp/messages-bench-$bench.XXXXXX")
# The service logs under /var/log/apps/ in a directory named after its executable, and
# rotates there. A copy under a name of this run keeps its log apart from everyone else's.
name="messages-bench-$bench-$$"
cp "$build/service/messages" "$dir/$name"
logdir="/var/log/apps/$name"
pids=()
web_args=()
pg_conf=""

# The service's log lines of this run that tell of trouble.
service_trouble() {
  cat "$logdir"/*.txt 2>/dev/null | grep -a -i -e error -e fail -e assert | tail -n "${1:-20}" || true
}

cleanup() {
  local rc=$?
  # The log goes with the run, so what tells of trouble is shown first.
  if [ "$rc" -ne 0 ]; then
    echo "the service's log lines of this run that tell of trouble:"
    service_trouble 40 | sed 's/^/  /'
    for f in messages webserver; do
      echo "standard output and error of $f:"
      tail -n 20 "$dir/$f.log" 2>/dev/null | sed 's/^/  /'
    done
  fi
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  "$top/scripts/pg-test.sh" stop "$dir/pg" >/dev/null 2>&1 || true
  rm -rf "$dir" "$logdir"
}
trap cleanup EXIT

# Waits up to 60 s for a line matching $2 in file $1 and prints it.
wait_line() {
  for _ in $(seq 1 600); do
    if grep -m1 "$2" "$1" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "bench-$bench: no '$2' in $1" >&2
  cat "$1" >&2
  return 1
}
alive() {
  kill -0 "$1" 2>/dev/null || { echo "bench-$bench: $2 (pid $1) has exited" >&2; return 1; }
}

# CPU time (clock ticks, user and system) of the given processes.
ticks() {
  local p sum=0
  for p in "$@"; do
    [ -r "/proc/$p/stat" ] && sum=$((sum + $(sed 's/.*) //' "/proc/$p/stat" | awk '{ print $12 + $13 }')))
  done
  echo "$sum"
}

# The webserver on port $1 (0: any free one).
start_webserver() {
  "$build/platform/webserver/platform-webserver" --http="127.0.0.1:$1" --plugins="$dir/plugins.sock" \
    "${web_args[@]}" >>"$dir/webserver.log" 2>&1 &
  web_pid=$!
  pids+=("$web_pid")
}

# Stops the webserver and starts it again on its port, as after an upgrade:
# every websocket drops and the service links up again by itself.
restart_webserver() {
  kill "$web_pid"
  wait "$web_pid" 2>/dev/null || true
  start_webserver "$web_port"
}

# PostgreSQL, the webserver and the service, up to the service's websocket path.
start_site() {
  "$top/scripts/pg-test.sh" start "$dir/pg" >/dev/null
  # shellcheck disable=SC1091
  . "$dir/pg/pg.env"
  if [ -n "$pg_conf" ]; then
    # Settings such as preloaded libraries take a restart; the cluster is new and empty.
    printf '%s\n' "$pg_conf" >>"$PG_CLUSTER/data/postgresql.conf"
    "$top/scripts/pg-test.sh" crash "$dir/pg"
    "$top/scripts/pg-test.sh" resume "$dir/pg"
  fi
  start_webserver 0
  web_port=$(wait_line "$dir/webserver.log" "listening on http://" | sed 's/.*://')
  "$dir/$name" --app-name="bench-$bench" --app-domain="$domain" --app-password="$password" \
    --webserver="$dir/plugins.sock" --webserver-path=/messages --db-host="$PG_ADDRESS" \
    --db-name="$PG_DATABASE" --db-user="$PG_USER" --db-password="$PG_PASSWORD" "$@" >"$dir/messages.log" 2>&1 &
  messages_pid=$!
  pids+=("$messages_pid")
}
