#!/bin/bash
# A throwaway PostgreSQL 15 cluster on loopback for tests and benchmarks.
#   pg-test-cluster.sh start DIR   -> prints the port; database "zorvek",
#                                     superuser "tallvero", trust on loopback
#   pg-test-cluster.sh stop DIR
#   pg-test-cluster.sh restart DIR  -> starts a stopped cluster again on
#                                      its port (fault tests)
# As root the cluster runs as the unprivileged user "postgres".
set -euo pipefail
cmd=${1:?start|stop}; dir=${2:?directory}
BIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -x "$BIN/initdb" ] || { echo "PostgreSQL server binaries not found" >&2; exit 1; }
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
case "$cmd" in
start)
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
  as_owner "$BIN/initdb" -D "$dir/data" -U tallvero -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
  for attempt in $(seq 1 20); do
    port=$((20000 + RANDOM % 30000))
    if as_owner "$BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
        -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c max_connections=100" start >/dev/null 2>&1; then
      echo "$port" >"$dir/port"
      "$BIN/createdb" -h 127.0.0.1 -p "$port" -U tallvero zorvek
      echo "$port"
      exit 0
    fi
  done
  echo "PostgreSQL did not start, see $dir/server.log" >&2; exit 1 ;;
restart)
  port=$(cat "$dir/port")
  as_owner "$BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
    -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c max_connections=100" start >/dev/null
  echo "$port" ;;
stop)
  [ -d "$dir/data" ] && as_owner "$BIN/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true ;;
*) echo "usage: $0 start|stop|restart DIR" >&2; exit 2 ;;
esac
