#!/usr/bin/env bash
# Stops the servers that start.sh DIR started, by their PIDs, and removes DIR.
set -u
# shellcheck source=tests/servers/pids.sh
. "$(dirname "$0")/pids.sh"
dir=$1
[ -f "$dir/env" ] || { rm -rf "$dir"; exit 0; }
pids=()
pg_dir=
while IFS='=' read -r name value; do
  case $name in
    MARIADB_PID) kill -TERM "$value" 2>/dev/null && pids+=("$value") ;;
    PG_PID) kill -INT "$value" 2>/dev/null && pids+=("$value") ;;  # fast shutdown
    PGBOUNCER_PID) kill -INT "$value" 2>/dev/null && pids+=("$value") ;;
    PG_DIR) pg_dir=$value ;;
  esac
done < "$dir/env"
await_exit "${pids[@]}"
case $pg_dir in /tmp/cobrix-pg.*) rm -rf "$pg_dir" ;; esac
rm -rf "$dir"
