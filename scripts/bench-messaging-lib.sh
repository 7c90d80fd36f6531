# shellcheck shell=bash
# Sourced by the messaging benchmarks after scripts/bench-site.sh and start_site:
# the database clients, the driver runner, the service's log and its statements,
# and CPU accounting of the service, the webserver and the database server.

# psql and pgbench take the password from PGPASSWORD, bench_statements the server from PG_*.
export PGPASSWORD=$PG_PASSWORD PG_ADDRESS PG_DATABASE PG_USER PG_PASSWORD
psql_run() { "$PG_BIN/psql" -X -q -h "$PG_HOST" -p "$PG_PORT" -U "$PG_USER" -d "$PG_DATABASE" -v ON_ERROR_STOP=1 "$@"; }
pgbench_run() { "$PG_BIN/pgbench" -n -h "$PG_HOST" -p "$PG_PORT" -U "$PG_USER" -M simple "$@" "$PG_DATABASE" 2>&1; }

# Runs the driver; a failed run keeps its output and marks the whole result
# (in a file: the driver runs in command substitutions).
drive() {
  local out
  if ! out=$("$@" 2>"$dir/driver.err"); then
    touch "$dir/failed"
    echo "$(basename "$0"): $* failed:" >&2
    cat "$dir/driver.err" >&2
  fi
  echo "$out"
}
field() { sed -n "s/.*\b$1=\([0-9.]*\).*/\1/p" <<<"$2" | tail -n 1; }
pgbench_field() { sed -n "s/^$1 = \([0-9.]*\).*/\1/p" <<<"$2" | tail -n 1; }
# One file name a line: callers may have set IFS for their own lists.
service_log() { local IFS=$'\n'; cat $(ls -tr "$logdir"/*.txt); }
# The text of the last statement the service logged that starts with $1.
logged_statement() { service_log | grep -a "sqlCmd:$1" | tail -n 1 | sed 's/.*sqlCmd://'; }
# Lines of the service's log so far; with logged_statements, what came after.
log_lines() { service_log | wc -l; }
# The statements (text, as sent) the service logged after line $1 whose text
# starts with one of the extended regular expressions $2..., one after the
# other, each ending in ";" on a line of its own. A statement's line breaks
# are in the log as they are in the statement: it goes on up to the next
# line that starts with a log stamp.
logged_statements() {
  local from=$1
  shift
  local IFS='|'
  # The patterns reach awk from the environment: -v would take their backslashes as escapes.
  service_log | tail -n +"$((from + 1))" | want="^($*)" awk '
    BEGIN { want = ENVIRON["want"] }
    /^[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9]+ / {
      if (keep) print ";"
      keep = 0
      i = index($0, "sqlCmd:")
      if (i && substr($0, i + 7) ~ want) { keep = 1; print substr($0, i + 7) }
      next
    }
    keep { print }
    END { if (keep) print ";" }'
}

# CPU time (clock ticks, user and system) of the service, the webserver and the
# database server. The postmaster's share includes that of the backends it has
# reaped, so backends that live only for one pgbench run are counted too.
cpu_now() {
  local postmaster reaped
  # A backend that has just ended is in the postmaster's share once reaped.
  sleep 0.2
  postmaster=$(head -n 1 "$PG_CLUSTER/data/postmaster.pid")
  reaped=$(sed 's/.*) //' "/proc/$postmaster/stat" | awk '{ print $14 + $15 }')
  # shellcheck disable=SC2046
  echo "$(ticks "$messages_pid") $(ticks "$web_pid") $((reaped + $(ticks "$postmaster" $(pgrep -P "$postmaster" | tr '\n' ' '))))"
}
# CPU milliseconds per operation between two cpu_now readings, for $3 operations.
cpu_per_op() {
  awk -v a="$1" -v b="$2" -v n="$3" -v hz="$(getconf CLK_TCK)" 'BEGIN { split(a, x, " "); split(b, y, " ");
    if (n > 0) printf "%.2f/%.2f/%.2f", (y[1] - x[1]) * 1000 / hz / n, (y[2] - x[2]) * 1000 / hz / n, (y[3] - x[3]) * 1000 / hz / n }'
}
# Keeps the smaller (lower=1) or larger value of a round and the CPU split of that round.
keep() {
  local var=$1 lower=$2 value=$3 cpu=$4 old
  old=${!var:-}
  if [ -z "$old" ] || awk -v a="$value" -v b="${old%% *}" -v l="$lower" 'BEGIN { exit !(l ? a < b : a > b) }'; then
    printf -v "$var" '%s %s' "$value" "$cpu"
  fi
}
# The database's CPU share of a kept pgbench round (pgbench's own is not counted).
pg_share() { cut -d/ -f3 <<<"${1#* }"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
