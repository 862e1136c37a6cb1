#!/usr/bin/env bash
# Creates an IXC-like database at a chosen scale on a MariaDB server: runs
# the generator into a scratch folder, creates the five tables, loads them
# with LOAD DATA LOCAL INFILE, adds the secondary indexes and checks the row
# counts. Prints the generator's KEY=VALUE summary.
#   usage: make-ixc-db.sh --env SERVERS_ENV --database NAME --customers N
#                         [--gen PATH] [--seed S] [--today YYYY-MM-DD] [--scratch DIR]
# SERVERS_ENV is the env file that tests/servers/start.sh writes; the load
# goes through the server's socket as root, or over TCP with the
# MARIADB_USER/MARIADB_PASSWORD of that file when it names no socket.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
env_file='' database='' customers='' seed=1 today='' scratch=''
gen=${COBRIX_GEN_IXC:-$top/build/bench/cobrix_gen_ixc}
while [ $# -gt 0 ]; do
  case $1 in
    --env) env_file=$2 ;;
    --database) database=$2 ;;
    --customers) customers=$2 ;;
    --gen) gen=$2 ;;
    --seed) seed=$2 ;;
    --today) today=$2 ;;
    --scratch) scratch=$2 ;;
    *) echo "make-ixc-db.sh: opção desconhecida $1" >&2; exit 2 ;;
  esac
  shift 2
done
[ -n "$env_file" ] && [ -n "$database" ] && [ -n "$customers" ] || {
  echo "uso: make-ixc-db.sh --env ENV --database NOME --customers N [--gen CAMINHO] [--seed S] [--today AAAA-MM-DD]" >&2
  exit 2
}
[[ $database =~ ^[A-Za-z0-9_]+$ ]] || { echo "make-ixc-db.sh: nome de banco inválido: $database" >&2; exit 2; }
# shellcheck disable=SC1090
. "$env_file"

mariadb_cli() {
  if [ -n "${MARIADB_SOCKET:-}" ]; then
    mariadb --no-defaults --socket="$MARIADB_SOCKET" -uroot --local-infile=1 --default-character-set=utf8mb4 "$@"
  else
    MYSQL_PWD=$MARIADB_PASSWORD mariadb --no-defaults -h "$MARIADB_HOST" -P "$MARIADB_PORT" -u "$MARIADB_USER" \
      --local-infile=1 --default-character-set=utf8mb4 "$@"
  fi
}

own_scratch=0
if [ -z "$scratch" ]; then
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/cobrix-ixc.XXXXXX")
  own_scratch=1
fi
cleanup() { [ $own_scratch = 1 ] && rm -rf "$scratch"; return 0; }
trap cleanup EXIT

gen_args=(--customers "$customers" --seed "$seed" --out "$scratch")
[ -n "$today" ] && gen_args+=(--today "$today")
"$gen" "${gen_args[@]}" > "$scratch/summary"

mariadb_cli -e "DROP DATABASE IF EXISTS \`$database\`; CREATE DATABASE \`$database\` CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci"
{
  cat "$here/ixc_schema.sql"
  echo "SET unique_checks = 0, foreign_key_checks = 0;"
  for table in filial cidade tipo_cliente cliente fn_areceber; do
    echo "LOAD DATA LOCAL INFILE '$scratch/$table.tsv' INTO TABLE $table CHARACTER SET utf8mb4;"
  done
  cat "$here/ixc_indexes.sql"
} | mariadb_cli "$database" > /dev/null

# LOAD DATA LOCAL turns bad rows into warnings; the counts tell whether every row arrived.
# shellcheck disable=SC1091
. "$scratch/summary"
read -r got_customers got_receivables < <(mariadb_cli -N -B "$database" \
  -e "SELECT (SELECT COUNT(*) FROM cliente), (SELECT COUNT(*) FROM fn_areceber)")
if [ "$got_customers" != "$CUSTOMERS" ] || [ "$got_receivables" != "$RECEIVABLES" ]; then
  echo "make-ixc-db.sh: carga incompleta: $got_customers/$CUSTOMERS clientes, $got_receivables/$RECEIVABLES títulos" >&2
  exit 1
fi
cat "$scratch/summary"
