#!/usr/bin/env bash
# Starts a throwaway MariaDB and PostgreSQL 15 pair on loopback, on free
# ports, with their data in DIR, and writes DIR/env with how to reach them.
# Stop them with stop.sh DIR.
#   usage: start.sh DIR [--mariadb-only|--postgres-only] [--big]
set -euo pipefail
dir=$1; shift || true
want_mariadb=1 want_postgres=1 big=0
for arg in "$@"; do
  case $arg in
    --mariadb-only) want_postgres=0 ;;
    --postgres-only) want_mariadb=0 ;;
    --big) big=1 ;;
    *) echo "start.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

here=$(cd "$(dirname "$0")" && pwd)
"$here/stop.sh" "$dir" >/dev/null 2>&1 || true
mkdir -p "$dir"
chmod 755 "$dir"
dir=$(cd "$dir" && pwd)
: > "$dir/env"
# A failed start leaves nothing running.
trap '"$here/stop.sh" "$dir"' ERR

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
  local p
  while :; do
    p=$((20000 + RANDOM % 40000))
    if ! port_in_use "$p" && ! grep -q "=$p\$" "$dir/env" 2>/dev/null; then echo "$p"; return; fi
  done
}

if [ $want_mariadb = 1 ]; then
  mport=$(free_port)
  mpass=cobrix-ixc-$RANDOM
  # A private tmpdir: mariadbd deletes every "#sql*" file in its tmpdir when
  # it starts, so servers sharing /tmp destroy each other's temporary tables.
  mkdir -p "$dir/mariadb" "$dir/mariadb-tmp"
  mariadb-install-db --no-defaults --user=root --datadir="$dir/mariadb" \
    --auth-root-authentication-method=normal --skip-test-db >"$dir/mariadb-install.log" 2>&1
  pool=64M; [ $big = 1 ] && pool=2G
  mariadbd --no-defaults --user=root --datadir="$dir/mariadb" --port="$mport" \
    --bind-address=127.0.0.1 --socket="$dir/mariadb.sock" --pid-file="$dir/mariadb.pid" --tmpdir="$dir/mariadb-tmp" \
    --log-error="$dir/mariadb.err" --innodb-buffer-pool-size=$pool --innodb-log-file-size=256M \
    --innodb-flush-log-at-trx-commit=0 --skip-log-bin --performance-schema=OFF \
    --local-infile=1 --max-allowed-packet=256M >/dev/null 2>&1 &
  for _ in $(seq 1 300); do
    mariadb-admin --no-defaults --socket="$dir/mariadb.sock" -uroot ping >/dev/null 2>&1 && break
    sleep 0.1
  done
  mariadb --no-defaults --socket="$dir/mariadb.sock" -uroot <<SQL
DELETE FROM mysql.global_priv WHERE User = '';
CREATE USER 'cobrix'@'%' IDENTIFIED BY '$mpass';
GRANT ALL PRIVILEGES ON *.* TO 'cobrix'@'%' WITH GRANT OPTION;
FLUSH PRIVILEGES;
SQL
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
  pport=$(free_port)
  ppass=cobrix-pg-$RANDOM
  # PostgreSQL runs as the postgres user, which may not be able to reach DIR
  # (a clone below a private folder), so its files live in a folder of their
  # own under /tmp; DIR/env names it for stop.sh.
  pgdir=$(mktemp -d /tmp/cobrix-pg.XXXXXX)
  chmod 755 "$pgdir"
  echo "PG_DIR=$pgdir" >> "$dir/env"
  mkdir -p "$pgdir/sock" "$pgdir/data"
  chmod 700 "$pgdir/data"
  echo "$ppass" > "$pgdir/pass"
  : > "$pgdir/server.log"
  chown postgres "$pgdir/sock" "$pgdir/pass" "$pgdir/data" "$pgdir/server.log"
  runuser -u postgres -- /usr/lib/postgresql/15/bin/initdb -D "$pgdir/data" -U postgres \
    --auth-local=trust --auth-host=scram-sha-256 --pwfile="$pgdir/pass" -E UTF8 --locale=C.UTF-8 \
    >"$dir/pg-initdb.log" 2>&1
  rm -f "$pgdir/pass"
  shared=128MB; [ $big = 1 ] && shared=1GB
  runuser -u postgres -- /usr/lib/postgresql/15/bin/pg_ctl -D "$pgdir/data" -l "$pgdir/server.log" -w -t 60 \
    -o "-p $pport -k $pgdir/sock -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c shared_buffers=$shared -c max_connections=100 -c shared_preload_libraries=pg_stat_statements -c pg_stat_statements.track=all" \
    start >/dev/null
  cat >>"$dir/env" <<ENV
PG_HOST=127.0.0.1
PG_PORT=$pport
PG_USER=postgres
PG_PASSWORD=$ppass
PG_SOCKET_DIR=$pgdir/sock
PG_PID=$(head -1 "$pgdir/data/postmaster.pid")
ENV
fi
echo "servers up: $(tr '\n' ' ' < "$dir/env" | sed 's/PASSWORD=[^ ]*/PASSWORD=*/g')"
