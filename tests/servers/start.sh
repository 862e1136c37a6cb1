#!/usr/bin/env bash
# Starts a throwaway MariaDB and PostgreSQL pair on loopback, on free
# ports, with their data in DIR, and writes DIR/env with how to reach them.
# With PostgreSQL comes a pgbouncer in front of it (its own free port): every
# database in transaction pooling with a pool of 2 server connections per
# database and user, and the database "pooler_session" in session pooling;
# any role of the server logs in through it (auth_user: pgbouncer looks up
# the role's password verifier on the server);
# the release's own defaults for prepared statements; its console (database
# "pgbouncer") open to postgres.
# --durable keeps PostgreSQL's fsync and synchronous commit on (benchmarks).
# Stop them with stop.sh DIR.
#   usage: start.sh DIR [--mariadb-only|--postgres-only] [--big] [--durable]
set -euo pipefail
dir=$1; shift || true
want_mariadb=1 want_postgres=1 big=0 durable=0
for arg in "$@"; do
  case $arg in
    --mariadb-only) want_postgres=0 ;;
    --postgres-only) want_mariadb=0 ;;
    --big) big=1 ;;
    --durable) durable=1 ;;
    *) echo "start.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

here=$(cd "$(dirname "$0")" && pwd)
"$here/stop.sh" "$dir" >/dev/null 2>&1 || true
mkdir -p "$dir"
chmod 755 "$dir"
dir=$(cd "$dir" && pwd)
# DIR/env holds the servers' passwords: only its owner may read it.
install -m 0600 /dev/null "$dir/env"
# A failed start leaves nothing running.
trap '"$here/stop.sh" "$dir"' ERR

# shellcheck source=tests/servers/start-lib.sh
. "$here/start-lib.sh"

if [ $want_mariadb = 1 ]; then
  mport=$(free_port "$dir/env" 127.0.0.1)
  mpass=cobrix-ixc-$RANDOM
  # A private tmpdir: mariadbd deletes every "#sql*" file in its tmpdir when
  # it starts, so servers sharing /tmp destroy each other's temporary tables.
  mkdir -p "$dir/mariadb" "$dir/mariadb-tmp"
  mariadb-install-db --no-defaults --user=root --datadir="$dir/mariadb" \
    --auth-root-authentication-method=normal --skip-test-db >"$dir/mariadb-install.log" 2>&1
  pool=64M; [ $big = 1 ] && pool=2G
  need_programs MARIADBD
  "$MARIADBD" --no-defaults --user=root --datadir="$dir/mariadb" --port="$mport" \
    --bind-address=127.0.0.1 --socket="$dir/mariadb.sock" --pid-file="$dir/mariadb.pid" --tmpdir="$dir/mariadb-tmp" \
    --log-error="$dir/mariadb.err" --innodb-buffer-pool-size=$pool --innodb-log-file-size=256M \
    --innodb-flush-log-at-trx-commit=0 --skip-log-bin --performance-schema=OFF \
    --local-infile=1 --max-allowed-packet=256M >/dev/null 2>&1 &
  mariadb_ready "$dir/mariadb.sock" "$mpass"
  cat >>"$dir/env" <<ENV
MARIADB_HOST=127.0.0.1
MARIADB_PORT=$mport
MARIADB_USER=cobrix
MARIADB_PASSWORD=$mpass
MARIADB_SOCKET=$dir/mariadb.sock
MARIADB_PID=$(cat "$dir/mariadb.pid")
ENV
fi

if [ $want_postgres = 1 ]; then
  pport=$(free_port "$dir/env" 127.0.0.1)
  ppass=cobrix-pg-$RANDOM
  pgdir=$(pg_folder pg)
  echo "PG_DIR=$pgdir" >> "$dir/env"
  pg_initdb "$pgdir" "$ppass" "$dir/pg-initdb.log"
  shared=128MB; [ $big = 1 ] && shared=1GB
  speed="-c fsync=off -c synchronous_commit=off -c full_page_writes=off"; [ $durable = 1 ] && speed=
  need_programs PG_BIN PGBOUNCER
  runuser -u postgres -- "$PG_BIN/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w -t 60 \
    -o "-p $pport -k $pgdir/sock -c listen_addresses=127.0.0.1 $speed -c shared_buffers=$shared -c max_connections=100 -c shared_preload_libraries=pg_stat_statements -c pg_stat_statements.track=all" \
    start >/dev/null
  cat >>"$dir/env" <<ENV
PG_HOST=127.0.0.1
PG_PORT=$pport
PG_USER=postgres
PG_PASSWORD=$ppass
PG_SOCKET_DIR=$pgdir/sock
PG_PID=$(head -1 "$pgdir/data/postmaster.pid")
ENV

  # pgbouncer refuses to run as root; its files (the password list among
  # them) belong to postgres and only it may read them.
  bport=$(free_port "$dir/env" 127.0.0.1)
  mkdir -p "$pgdir/pgbouncer"
  install -o postgres -m 0600 /dev/null "$pgdir/pgbouncer/userlist.txt"
  printf '"postgres" "%s"\n' "$ppass" > "$pgdir/pgbouncer/userlist.txt"
  cat > "$pgdir/pgbouncer/pgbouncer.ini" <<INI
[databases]
pooler_session = host=127.0.0.1 port=$pport dbname=pooler_session pool_mode=session
* = host=127.0.0.1 port=$pport
[pgbouncer]
listen_addr = 127.0.0.1
listen_port = $bport
unix_socket_dir =
auth_type = scram-sha-256
auth_file = $pgdir/pgbouncer/userlist.txt
auth_user = postgres
admin_users = postgres
pool_mode = transaction
default_pool_size = 2
max_client_conn = 200
server_reset_query =
logfile = $pgdir/pgbouncer/pgbouncer.log
pidfile = $pgdir/pgbouncer/pgbouncer.pid
INI
  chown -R postgres "$pgdir/pgbouncer"
  runuser -u postgres -- "$PGBOUNCER" -q -d "$pgdir/pgbouncer/pgbouncer.ini"
  for _ in $(seq 1 100); do
    [ -s "$pgdir/pgbouncer/pgbouncer.pid" ] && port_in_use 127.0.0.1 "$bport" && break
    sleep 0.1
  done
  port_in_use 127.0.0.1 "$bport" || { echo "start.sh: pgbouncer did not start" >&2; cat "$pgdir/pgbouncer/pgbouncer.log" >&2; exit 1; }
  "$PG_BIN/psql" -X -q -h "$pgdir/sock" -p "$pport" -U postgres -d postgres \
    -c "CREATE DATABASE pooler_session" >/dev/null
  cat >>"$dir/env" <<ENV
PGBOUNCER_PORT=$bport
PGBOUNCER_PID=$(cat "$pgdir/pgbouncer/pgbouncer.pid")
ENV
fi
echo "servers up: $(tr '\n' ' ' < "$dir/env" | sed 's/PASSWORD=[^ ]*/PASSWORD=*/g')"
