#!/usr/bin/env bash
# Test: what the wrappers' defaults do with the real program and real
# servers (tests/servers/tls.sh's and the plain PostgreSQL of the test
# fixture), through cobrix-zabbix and a host's file. TLS is on by default:
# a run succeeds with the servers' CA named and fails against a server
# without TLS, and IXC_TLS=desligado / PG_TLS=desligado make it work against
# those. A server that asks for the password in clear text
# (tests/fakes/cleartext_server.py) never gets it from Connector/C; from
# libpq only where libpq can refuse (16 and later): the older one answers
# such a server, and this test expects that too.
#   usage: wrapper_servers_test.sh COBRIX   (COBRIX_TEST_SERVERS and COBRIX_TLS_SERVERS name the servers' folders)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
cobrix=$1
# shellcheck disable=SC1091
. "$COBRIX_TEST_SERVERS/env"
# shellcheck disable=SC1091
. "$COBRIX_TLS_SERVERS/env"
work=$(mktemp -d)
chmod 0755 "$work"
ixc=wrapper_ixc_$$ pg_db=wrapper_pg_$$ fakes=()
maria() {  # maria NAME ARG...: root on the socket of tls.sh's MariaDB NAME
  local name=$1
  shift
  mariadb --no-defaults --skip-ssl --socket="$COBRIX_TLS_SERVERS/$name.sock" -uroot "$@"
}
pg_plain() { psql -X -q -At -h "$PG_SOCKET_DIR" -p "$PG_PORT" -U postgres "$@"; }
pg_tls() {
  PGPASSWORD=$TLS_PG_PASSWORD psql -X -q -At "host=127.0.0.1 port=$TLS_PG_PORT user=postgres sslmode=require dbname=$1" \
    "${@:2}"
}
cleanup() {
  [ ${#fakes[@]} = 0 ] || kill "${fakes[@]}" 2>/dev/null || true
  for name in mariadb mariadb-notls; do maria "$name" -e "DROP DATABASE IF EXISTS $ixc" || true; done
  pg_plain -d postgres -c "DROP DATABASE IF EXISTS $pg_db" || true
  pg_tls postgres -c "DROP DATABASE IF EXISTS $pg_db" || true
  rm -rf "$work"
}
trap cleanup EXIT

# The sample IXC database on the MariaDB with TLS and on the one without;
# an empty database on each PostgreSQL; the two fakes on free ports.
for name in mariadb mariadb-notls; do
  maria "$name" -e "CREATE DATABASE $ixc CHARACTER SET utf8mb4"
  maria "$name" --default-character-set=utf8mb4 "$ixc" < "$top/sample/ixc_sample.sql"
done
pg_plain -d postgres -c "CREATE DATABASE $pg_db"
pg_tls postgres -c "CREATE DATABASE $pg_db"
for protocol in mysql postgresql; do
  "$top/tests/fakes/cleartext_server.py" "$protocol" "$work/$protocol.port" "$work/$protocol.record" &
  fakes+=($!)
done
for _ in $(seq 1 100); do
  [ -s "$work/mysql.port" ] && [ -s "$work/postgresql.port" ] && break
  sleep 0.1
done
fake_password=senha-para-o-falso-$RANDOM

# server NAME: "host port user password" of a server that a row names.
server() {
  case $1 in
    ixc-tls) echo "127.0.0.1 $TLS_MARIADB_PORT $TLS_MARIADB_USER $TLS_MARIADB_PASSWORD" ;;
    ixc-plain) echo "127.0.0.1 $TLS_NOTLS_MARIADB_PORT $TLS_MARIADB_USER $TLS_MARIADB_PASSWORD" ;;
    ixc-fake) echo "127.0.0.1 $(cat "$work/mysql.port") leitor $fake_password" ;;
    pg-tls) echo "127.0.0.1 $TLS_PG_PORT $TLS_PG_USER $TLS_PG_PASSWORD" ;;
    pg-plain) echo "$PG_HOST $PG_PORT $PG_USER $PG_PASSWORD" ;;
    pg-fake) echo "127.0.0.1 $(cat "$work/postgresql.port") leitor $fake_password" ;;
  esac
}
mkdir -m 0750 "$work/hosts"
install -m 0640 /dev/null "$work/hosts/ixc.my.cnf"
printf '%s\n' "[client]" "ssl-ca=$TLS_CA" > "$work/hosts/ixc.my.cnf"
# libpq 16 and later can refuse a way to log in (PGREQUIREAUTH).
libpq_major=$(pg_config --version | sed -n 's/^PostgreSQL \([0-9]*\).*/\1/p')

# stored HOST: the rows of HOST in both PostgreSQL servers.
stored() {
  local sql="SELECT count(*) FROM ixc_clientes WHERE ixcidentification = '$1'"
  echo $(($(pg_plain -d "$pg_db" -c "$sql" 2>/dev/null || echo 0) + $(pg_tls "$pg_db" -c "$sql" 2>/dev/null || echo 0)))
}

failures=0 number=0
# row DESCRIPTION IXC PG EXPECTED [LINE...]: a run through cobrix-zabbix
# with the host's file for those servers plus LINE... (@CA@: the servers'
# CA). EXPECTED: OK (status 0, rows stored), or a pattern of the run's
# output (status 1, nothing stored), with "+senha" when the fake server is
# to get the password; only then may it.
row() {
  local what=$1 expected=${4%+senha} leak=no ixc_server pg_server out status=0 host=wrapper-$((number += 1))
  [ "$4" = "$expected" ] || leak=yes
  read -r -a ixc_server <<<"$(server "$2")"
  read -r -a pg_server <<<"$(server "$3")"
  shift 4
  install -m 0640 /dev/null "$work/hosts/$host.conf"
  printf '%s\n' "IXC_HOST=${ixc_server[0]}" "IXC_PORT=${ixc_server[1]}" "IXC_USER=${ixc_server[2]}" \
    "IXC_PASSWORD=${ixc_server[3]}" "IXC_DATABASE=$ixc" "PG_HOST=${pg_server[0]}" "PG_PORT=${pg_server[1]}" \
    "PG_DB=$pg_db" "PG_USER=${pg_server[2]}" "PG_PASSWORD=${pg_server[3]}" "COBRIX=$cobrix" "${@//@CA@/$TLS_CA}" \
    > "$work/hosts/$host.conf"
  : > "$work/mysql.record"
  : > "$work/postgresql.record"
  out=$(COBRIX_CREDENTIALS_DIR=$work/hosts COBRIX_TEST_OWNER_UID=$(id -u) "$top/contrib/zabbix/cobrix-zabbix" "$host" 2>&1) ||
    status=$?
  local answered=no want="status 0, gravou, senha ao falso: no" got
  grep -a -q -F -- "$fake_password" "$work/mysql.record" "$work/postgresql.record" && answered=yes
  got="status $status, $([ "$(stored "$host")" -gt 0 ] && echo gravou || echo 'nada gravado'), senha ao falso: $answered"
  if [ "$expected" = OK ]; then
    [ "$(tail -n 1 <<<"$out")" = OK ] || got="$got; saída: $out"
  else
    want="status 1, nada gravado, senha ao falso: $leak"
    # shellcheck disable=SC2053  # EXPECTED is a pattern
    [[ $out == $expected ]] || got="$got; saída: $out"
  fi
  if [ "$got" != "$want" ]; then
    printf 'FALHA: %s\n  esperado: %s\n  recebido: %s\n' "$what" "$want" "$got" >&2
    failures=$((failures + 1))
  fi
}
ixc_refused='cobrix: erro (MySQL do IXC): Falha ao conectar ao MySQL do IXC: '
pg_refused='Erro ao conectar ao PostgreSQL: connection to server at "127.0.0.1", port [0-9]* failed: '

# TLS by default: verified against the CA named, refused without TLS.
row "TLS por padrão, CAs indicadas" ixc-tls pg-tls OK IXC_TLS_CA=@CA@ PGSSLROOTCERT=@CA@
row "TLS por padrão, a CA no arquivo de opções do operador" ixc-tls pg-tls OK \
  "IXC_OPTION_FILE=$work/hosts/ixc.my.cnf" PGSSLROOTCERT=@CA@
row "TLS por padrão: as CAs do sistema não valem para a CA de teste" ixc-tls pg-tls "${ixc_refused}2026 (HY000): *"
row "TLS por padrão: IXC sem TLS recusado" ixc-plain pg-tls "${ixc_refused}2026 (HY000): *" IXC_TLS_CA=@CA@ \
  PGSSLROOTCERT=@CA@
row "TLS por padrão: PostgreSQL sem TLS recusado" ixc-tls pg-plain \
  "${pg_refused}server does not support SSL, but SSL was required" IXC_TLS_CA=@CA@
row "TLS desligado nos dois, servidores sem TLS" ixc-plain pg-plain OK IXC_TLS=desligado PG_TLS=desligado

# A server that asks for the password in clear text.
row "IXC: senha em texto claro recusada, sem TLS" ixc-fake pg-plain \
  "${ixc_refused}5010 (HY000): Authentication plugin 'mysql_clear_password' couldn't be found in restricted_auth plugin list." \
  IXC_TLS=desligado PG_TLS=desligado
row "PostgreSQL: servidor sem TLS recusado antes da senha" ixc-plain pg-fake \
  "${pg_refused}server does not support SSL, but SSL was required" IXC_TLS=desligado PGSSLROOTCERT=@CA@
if [ "$libpq_major" -ge 16 ]; then
  row "PostgreSQL: senha em texto claro recusada, sem TLS" ixc-plain pg-fake \
    "${pg_refused}*server requested a cleartext password*" IXC_TLS=desligado PG_TLS=desligado
else
  row "PostgreSQL: a libpq $libpq_major responde à senha em texto claro, sem TLS" ixc-plain pg-fake \
    "${pg_refused}FATAL:  password authentication failed+senha" IXC_TLS=desligado PG_TLS=desligado
fi

[ "$failures" = 0 ] && echo "wrappers com servidores: OK"
