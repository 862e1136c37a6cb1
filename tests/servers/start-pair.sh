#!/usr/bin/env bash
# Starts a throwaway PostgreSQL primary on 127.0.0.2 and a streaming
# standby of it (pg_basebackup -R) on 127.0.0.3, both on one free port, and
# writes DIR/env with how to reach them: PAIR_PRIMARY_HOST, PAIR_STANDBY_HOST,
# PAIR_PORT, PAIR_USER, PAIR_PASSWORD, and for each server its postmaster's
# PID (PAIR_PRIMARY_PID, PAIR_STANDBY_PID) and its folder (PAIR_PRIMARY_DIR,
# PAIR_STANDBY_DIR, each with data/ and server.log). It reports up once the
# standby streams from the primary. Stop them with stop-pair.sh DIR.
#   usage: start-pair.sh DIR
set -Eeuo pipefail
dir=$1
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/servers/start-lib.sh
. "$here/start-lib.sh"
"$here/stop-pair.sh" "$dir" >/dev/null 2>&1 || true
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
# DIR/env holds the password: only its owner may read it.
install -m 0600 /dev/null "$dir/env"
# A failed start leaves nothing running.
trap '"$here/stop-pair.sh" "$dir"' ERR

need_programs PG_BIN
bin=$PG_BIN
primary=127.0.0.2
standby=127.0.0.3
port=$(free_port "$dir/env" $primary $standby)
pass=cobrix-pair-$RANDOM

# Each server's files in a folder of its own, which DIR/env names for
# stop-pair.sh.
pdir=$(pg_folder pg-primary)
echo "PAIR_PRIMARY_DIR=$pdir" >> "$dir/env"
sdir=$(pg_folder pg-standby)
echo "PAIR_STANDBY_DIR=$sdir" >> "$dir/env"

# start_server FOLDER ADDRESS NAME: starts the server of FOLDER/data listening
# on ADDRESS:$port and on a socket in FOLDER/sock, and notes its PID as
# PAIR_NAME_PID at once, so that a failed start stops it too.
start_server() {
  runuser -u postgres -- "$bin/pg_ctl" -D "$1/data" -l "$1/server.log" -w -t 60 \
    -o "-p $port -k $1/sock -c listen_addresses=$2 -c fsync=off -c synchronous_commit=off -c max_connections=40" \
    start >/dev/null
  echo "PAIR_$3_PID=$(head -1 "$1/data/postmaster.pid")" >> "$dir/env"
}
# sql FOLDER STATEMENT: one value from the server of FOLDER, as postgres.
sql() { "$bin/psql" -X -q -At -h "$1/sock" -p "$port" -U postgres -d postgres -c "$2"; }

pg_initdb "$pdir" "$pass" "$dir/initdb.log"
# Clients and the standby's WAL receiver reach the servers from loopback
# addresses other than 127.0.0.1.
cat >> "$pdir/data/pg_hba.conf" <<HBA
host all all 127.0.0.0/8 scram-sha-256
host replication postgres 127.0.0.0/8 scram-sha-256
HBA
start_server "$pdir" $primary PRIMARY

# The password is in a file that only postgres can read; the copy's
# primary_conninfo (written by -R) names that file for the WAL receiver.
install -o postgres -m 0600 /dev/null "$sdir/pgpass"
echo "$primary:$port:*:postgres:$pass" > "$sdir/pgpass"
runuser -u postgres -- env PGPASSFILE="$sdir/pgpass" "$bin/pg_basebackup" -h $primary -p "$port" -U postgres \
  -D "$sdir/data" -R -X stream -c fast >"$dir/basebackup.log" 2>&1
start_server "$sdir" $standby STANDBY

for _ in $(seq 1 100); do
  [ "$(sql "$pdir" "SELECT count(*) FROM pg_stat_replication WHERE state = 'streaming'")" = 1 ] && break
  sleep 0.1
done
[ "$(sql "$pdir" "SELECT count(*) FROM pg_stat_replication WHERE state = 'streaming'")" = 1 ] ||
  { echo "start-pair.sh: the standby does not stream" >&2; cat "$sdir/server.log" >&2; false; }
[ "$(sql "$sdir" "SELECT pg_is_in_recovery()")" = t ]

cat >> "$dir/env" <<ENV
PAIR_PRIMARY_HOST=$primary
PAIR_STANDBY_HOST=$standby
PAIR_PORT=$port
PAIR_USER=postgres
PAIR_PASSWORD=$pass
ENV
echo "pair up: $(tr '\n' ' ' < "$dir/env" | sed 's/PASSWORD=[^ ]*/PASSWORD=*/g')"
