#!/usr/bin/env bash
# Stops the servers that start-pair.sh DIR started, by their PIDs (fast
# shutdown), and removes their folders and DIR.
set -u
# shellcheck source=tests/servers/pids.sh
. "$(dirname "$0")/pids.sh"
dir=$1
[ -f "$dir/env" ] || { rm -rf "$dir"; exit 0; }
declare -A pid folder
while IFS='=' read -r name value; do
  case $name in
    PAIR_PRIMARY_PID) pid[primary]=$value ;;
    PAIR_STANDBY_PID) pid[standby]=$value ;;
    PAIR_PRIMARY_DIR) folder[primary]=$value ;;
    PAIR_STANDBY_DIR) folder[standby]=$value ;;
  esac
done < "$dir/env"
pids=()
for server in primary standby; do
  p=${pid[$server]:-} f=${folder[$server]:-}
  if [ -z "$p" ] || [ -z "$f" ]; then continue; fi
  # A test may have stopped this server already: its postmaster.pid is then
  # gone, and the PID may belong to another process by now.
  [ "$(head -1 "$f/data/postmaster.pid" 2>/dev/null)" = "$p" ] || continue
  kill -INT "$p" 2>/dev/null && pids+=("$p")
done
await_exit "${pids[@]}"
for f in "${folder[@]}"; do
  case $f in /tmp/cobrix-pg-primary.* | /tmp/cobrix-pg-standby.*) rm -rf "$f" ;; esac
done
rm -rf "$dir"
