#!/usr/bin/env bash
# Throwaway servers for the tests of verified connections: a MariaDB with
# require_secure_transport=ON and a PostgreSQL whose pg_hba.conf holds only
# hostssl lines, both on free loopback ports, and a MariaDB with TLS off
# (--skip-ssl: no TLS at all, where MariaDB 11.4 and later would otherwise
# make a certificate of their own). The certificates are made here: a test
# CA, a second unrelated CA, and a server certificate from the first for
# 127.0.0.1 and localhost. The TLS servers also listen on a second loopback
# address that the certificate does not name, so that a client reaching the
# same server under another name sees a certificate for another host.
# DIR/env says how to reach them.
#   usage: tls.sh start DIR | tls.sh stop DIR
set -euo pipefail
action=${1:-} dir=${2:-}
[ -n "$dir" ] || { echo "usage: tls.sh start|stop DIR" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/servers/pids.sh
. "$here/pids.sh"
# shellcheck source=tests/servers/start-lib.sh
. "$here/start-lib.sh"

stop() {
  [ -f "$dir/env" ] || { rm -rf "$dir"; return 0; }
  local pids=() pg_dir='' name value
  while IFS='=' read -r name value; do
    case $name in
      TLS_MARIADB_PID | TLS_NOTLS_MARIADB_PID) kill -TERM "$value" 2>/dev/null && pids+=("$value") ;;
      TLS_PG_PID) kill -INT "$value" 2>/dev/null && pids+=("$value") ;;  # fast shutdown
      TLS_PG_DIR) pg_dir=$value ;;
    esac
  done < "$dir/env"
  await_exit "${pids[@]}"
  case $pg_dir in /tmp/cobrix-pgtls.*) rm -rf "$pg_dir" ;; esac
  rm -rf "$dir"
}

case $action in
  stop) stop; exit 0 ;;
  start) ;;
  *) echo "usage: tls.sh start|stop DIR" >&2; exit 2 ;;
esac

stop >/dev/null 2>&1 || true
mkdir -p "$dir"
chmod 755 "$dir"
dir=$(cd "$dir" && pwd)
install -m 0600 /dev/null "$dir/env"  # holds the servers' passwords
trap 'stop' ERR

# The address that the server certificate does not name.
other=127.0.0.41

# Certificates: EC keys (fast to make), valid for two days.
certs=$dir/certs
mkdir -p "$certs"
make_ca() {  # make_ca NAME SUBJECT
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=$2" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout "$certs/$1.key" -out "$certs/$1.pem" 2>/dev/null
}
make_ca ca "cobrix teste CA"
make_ca other-ca "outra CA"
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=localhost" \
  -keyout "$certs/server.key" -out "$certs/server.csr" 2>/dev/null
printf '%s\n' "subjectAltName=IP:127.0.0.1,DNS:localhost" "basicConstraints=CA:FALSE" \
  "keyUsage=critical,digitalSignature" "extendedKeyUsage=serverAuth" > "$certs/server.ext"
openssl x509 -req -in "$certs/server.csr" -CA "$certs/ca.pem" -CAkey "$certs/ca.key" -CAcreateserial \
  -days 2 -extfile "$certs/server.ext" -out "$certs/server.pem" 2>/dev/null
chmod 600 "$certs"/*.key
chmod 644 "$certs"/*.pem
cat >>"$dir/env" <<ENV
TLS_SERVER_FP=$(openssl x509 -in "$certs/server.pem" -noout -fingerprint -sha1 | cut -d= -f2)
TLS_CA=$certs/ca.pem
TLS_OTHER_CA=$certs/other-ca.pem
TLS_HOST=127.0.0.1
TLS_OTHER_HOST=$other
ENV

# The MariaDBs, as root like the plain fixture's (tests/servers/start.sh):
# NAME's data in DIR/NAME, on PORT, with the options after PORT.
need_programs MARIADBD PG_BIN
start_mariadb() {  # start_mariadb NAME PORT OPTION...
  local name=$1 port=$2
  shift 2
  mkdir -p "$dir/$name" "$dir/$name-tmp"
  mariadb-install-db --no-defaults --user=root --datadir="$dir/$name" \
    --auth-root-authentication-method=normal --skip-test-db >"$dir/$name-install.log" 2>&1
  "$MARIADBD" --no-defaults --user=root --datadir="$dir/$name" --port="$port" --socket="$dir/$name.sock" \
    --pid-file="$dir/$name.pid" --tmpdir="$dir/$name-tmp" --log-error="$dir/$name.err" \
    --innodb-buffer-pool-size=32M --innodb-flush-log-at-trx-commit=0 --skip-log-bin --performance-schema=OFF \
    "$@" >/dev/null 2>&1 &
}
# Each port goes into DIR/env as soon as it is taken: free_port skips them.
mport=$(free_port "$dir/env" 127.0.0.1 "$other")
echo "TLS_MARIADB_PORT=$mport" >> "$dir/env"
nport=$(free_port "$dir/env" 127.0.0.1)
echo "TLS_NOTLS_MARIADB_PORT=$nport" >> "$dir/env"
mpass=cobrix-tls-$RANDOM
start_mariadb mariadb "$mport" --bind-address="127.0.0.1,$other" --ssl-ca="$certs/ca.pem" \
  --ssl-cert="$certs/server.pem" --ssl-key="$certs/server.key" --require-secure-transport=ON
start_mariadb mariadb-notls "$nport" --bind-address=127.0.0.1 --skip-ssl
mariadb_ready "$dir/mariadb.sock" "$mpass"
mariadb_ready "$dir/mariadb-notls.sock" "$mpass"
cat >>"$dir/env" <<ENV
TLS_MARIADB_USER=cobrix
TLS_MARIADB_PASSWORD=$mpass
TLS_MARIADB_PID=$(cat "$dir/mariadb.pid")
TLS_NOTLS_MARIADB_PID=$(cat "$dir/mariadb-notls.pid")
ENV
# The server without TLS must not offer it: asked for TLS, it says it has none.
if openssl s_client -starttls mysql -connect "127.0.0.1:$nport" </dev/null >"$dir/notls-check.log" 2>&1; then
  echo "tls.sh: the MariaDB started with --skip-ssl offers TLS" >&2
  stop
  exit 1
fi

# PostgreSQL runs as postgres, which may not reach DIR: its files, its key
# among them, live under /tmp.
pport=$(free_port "$dir/env" 127.0.0.1 "$other")
ppass=cobrix-pgtls-$RANDOM
pgdir=$(pg_folder pgtls)
echo "TLS_PG_DIR=$pgdir" >> "$dir/env"
install -o postgres -m 0644 "$certs/server.pem" "$pgdir/server.pem"
install -o postgres -m 0600 "$certs/server.key" "$pgdir/server.key"
pg_initdb "$pgdir" "$ppass" "$dir/pg-initdb.log"
# Only TLS connections over TCP; no local line either.
printf '%s\n' "hostssl all all 127.0.0.0/8 scram-sha-256" > "$pgdir/data/pg_hba.conf"
runuser -u postgres -- "$PG_BIN/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w -t 60 \
  -o "-p $pport -k $pgdir/sock -c listen_addresses=127.0.0.1,$other -c fsync=off -c synchronous_commit=off -c max_connections=40 -c ssl=on -c ssl_cert_file=$pgdir/server.pem -c ssl_key_file=$pgdir/server.key" \
  start >/dev/null
cat >>"$dir/env" <<ENV
TLS_PG_PORT=$pport
TLS_PG_USER=postgres
TLS_PG_PASSWORD=$ppass
TLS_PG_PID=$(head -1 "$pgdir/data/postmaster.pid")
ENV
echo "TLS servers up: $(tr '\n' ' ' < "$dir/env" | sed 's/PASSWORD=[^ ]*/PASSWORD=*/g')"
