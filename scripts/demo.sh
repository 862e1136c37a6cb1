#!/usr/bin/env bash
# Runs cobrix on a throwaway local pair of servers with the sample IXC data:
# installs what is missing (scripts/install-deps.sh test, which asks before
# it installs servers on this machine), starts MariaDB and PostgreSQL on loopback, loads sample/ixc_sample.sql,
# runs the debug run, then the normal run, shows the table ixc_clientes and
# stops the servers again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" test
build=${BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target cobrix -j "$(nproc)" >/dev/null
cobrix=${COBRIX:-$build/driver/cobrix}

servers=$top/.demo/servers
trap '"$top/tests/servers/stop.sh" "$servers"' EXIT
"$top/tests/servers/start.sh" "$servers" >/dev/null
# shellcheck disable=SC1091
. "$servers/env"

mariadb --no-defaults --socket="$MARIADB_SOCKET" -uroot -e "CREATE DATABASE ixc CHARACTER SET utf8mb4"
mariadb --no-defaults --socket="$MARIADB_SOCKET" -uroot --default-character-set=utf8mb4 ixc < "$top/sample/ixc_sample.sql"
PGPASSWORD=$PG_PASSWORD psql -q -h "$PG_HOST" -p "$PG_PORT" -U "$PG_USER" -d postgres -c "CREATE DATABASE cobrix_demo"

connection=("$MARIADB_HOST" "$MARIADB_PORT" "$MARIADB_USER" "$MARIADB_PASSWORD" ixc
            "$PG_HOST" "$PG_PORT" cobrix_demo "$PG_USER" "$PG_PASSWORD")

echo "\$ cobrix descobertaClientes ... debug"
"$cobrix" descobertaClientes "${connection[@]}" debug
echo
echo "\$ cobrix descobertaClientes ... provedor-demo"
"$cobrix" descobertaClientes "${connection[@]}" provedor-demo
echo
echo "\$ psql -c 'SELECT ... FROM ixc_clientes'"
PGPASSWORD=$PG_PASSWORD psql -h "$PG_HOST" -p "$PG_PORT" -U "$PG_USER" -d cobrix_demo -P pager=off -c \
  "SELECT idcliente, idcontrato, razaosocial, contatocliente, valoratraso, titulosatraso, statuscliente,
          datacadastro::date, datavencimento::date, cidade, ixcidentification
     FROM ixc_clientes ORDER BY idcliente"
