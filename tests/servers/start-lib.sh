# shellcheck shell=bash
# Sourced by the fixtures' start scripts: free ports, and the first steps of
# a MariaDB and of a PostgreSQL server, with the release's programs.

# shellcheck source=tests/servers/programs.sh
. "$(dirname "${BASH_SOURCE[0]}")/programs.sh"

# port_in_use ADDRESS PORT: whether something accepts connections there.
port_in_use() { (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; }

# free_port ENV ADDRESS...: a port free on every ADDRESS and not yet named in
# the env file ENV. It is taken below the ephemeral range (32768 up), where a
# client connection may hold a port that looked free a moment before.
free_port() {
  local env=$1 p a
  shift
  while :; do
    p=$((20000 + RANDOM % 12768))
    grep -q "=$p\$" "$env" 2>/dev/null && continue
    for a in "$@"; do port_in_use "$a" "$p" && continue 2; done
    echo "$p"
    return
  done
}

# mariadb_ready SOCKET PASSWORD: waits for a starting mariadbd, then drops
# its anonymous users and gives it the user cobrix, from anywhere, with
# PASSWORD and every privilege. No TLS on the socket: the clients of
# MariaDB 11.4 and later would otherwise refuse a server that has none.
mariadb_ready() {
  for _ in $(seq 1 300); do
    mariadb-admin --no-defaults --skip-ssl --socket="$1" -uroot ping >/dev/null 2>&1 && break
    sleep 0.1
  done
  mariadb --no-defaults --skip-ssl --socket="$1" -uroot <<SQL
DELETE FROM mysql.global_priv WHERE User = '';
CREATE USER 'cobrix'@'%' IDENTIFIED BY '$2';
GRANT ALL PRIVILEGES ON *.* TO 'cobrix'@'%' WITH GRANT OPTION;
FLUSH PRIVILEGES;
SQL
}

# pg_folder NAME: a new folder /tmp/cobrix-NAME.XXXXXX for one PostgreSQL
# server, with its socket folder and an empty server.log, all owned by
# postgres. The server runs as postgres, which may not be able to reach the
# fixture's DIR (a clone below a private folder); DIR/env names the folder
# for the stop script.
pg_folder() {
  local d
  d=$(mktemp -d "/tmp/cobrix-$1.XXXXXX")
  chmod 755 "$d"
  mkdir "$d/sock"
  : > "$d/server.log"
  chown postgres "$d" "$d/sock" "$d/server.log"
  echo "$d"
}

# pg_initdb FOLDER PASSWORD LOG: a new cluster in FOLDER/data whose
# superuser postgres logs in with PASSWORD over TCP (scram-sha-256) and
# without one on the socket; initdb's output goes to LOG.
pg_initdb() {
  install -o postgres -m 0600 /dev/null "$1/pass"
  echo "$2" > "$1/pass"
  runuser -u postgres -- "$PG_BIN/initdb" -D "$1/data" -U postgres --auth-local=trust \
    --auth-host=scram-sha-256 --pwfile="$1/pass" -E UTF8 --locale=C.UTF-8 >"$3" 2>&1
  rm -f "$1/pass"
}
