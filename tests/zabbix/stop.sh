#!/usr/bin/env bash
# Stops what start.sh STATE started, by the PIDs in STATE/env, and removes
# its folder and STATE.
set -u
# shellcheck source=tests/servers/pids.sh
. "$(dirname "$0")/../servers/pids.sh"
state=$1
[ -f "$state/env" ] || { rm -rf "$state"; exit 0; }
pids=()
dir=
while IFS='=' read -r name value; do
  case $name in
    ZBX_DIR) dir=$value ;;
    # The PostgreSQL cluster is stopped last, by its own script.
    ZBX_PG_PID) ;;
    *_PID) kill -TERM "$value" 2>/dev/null && pids+=("$value") ;;
  esac
done < "$state/env"
await_exit "${pids[@]}"
case $dir in
  /tmp/cobrix-zabbix.*)
    "$(dirname "$0")/../servers/stop.sh" "$dir/pg"
    rm -rf "$dir" ;;
esac
rm -rf "$state"
