#!/usr/bin/env bash
# Test: a generated database loads completely into the test MariaDB, and the
# overdue-customers query returns exactly the customers that the generator
# made overdue, one row each.
#   usage: load_test.sh GENERATOR   (COBRIX_TEST_SERVERS names the servers' folder)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
env_file=$COBRIX_TEST_SERVERS/env
database=bench_load_$$
scratch=$(mktemp -d)
summary=$("$here/make-ixc-db.sh" --env "$env_file" --database "$database" --customers 3000 --gen "$1" --scratch "$scratch")
eval "$summary"
# shellcheck disable=SC1090
. "$env_file"
sql() { mariadb --no-defaults --socket="$MARIADB_SOCKET" -uroot --default-character-set=utf8mb4 -N -B "$database" "$@"; }
trap 'sql -e "DROP DATABASE $database" || true; rm -rf "$scratch"' EXIT

fail=0
check() { if [ "$2" != "$3" ]; then echo "FALHA: $1: obtido '$2', esperado '$3'" >&2; fail=1; fi; }

rows=$(sql < "$here/overdue_query.sql" | wc -l)
check "linhas da consulta de inadimplentes" "$rows" "$OVERDUE_CUSTOMERS"
distinct=$(sql < "$here/overdue_query.sql" | cut -f1 | sort -u | wc -l)
check "clientes distintos na consulta" "$distinct" "$rows"
# About a fifth of the customers overdue and about twelve receivables each.
share=$((100 * OVERDUE_CUSTOMERS / CUSTOMERS))
[ "$share" -ge 16 ] && [ "$share" -le 23 ] || { echo "FALHA: $share% dos clientes em atraso" >&2; fail=1; }
per_customer=$(( (10 * RECEIVABLES / CUSTOMERS + 5) / 10 ))
check "títulos por cliente" "$per_customer" 12
# Every status and each kind of missing value occurs.
check "situações dos títulos" "$(sql -e "SELECT GROUP_CONCAT(DISTINCT status ORDER BY status) FROM fn_areceber")" "A,C,R"
nulls=$(sql -e "SELECT SUM(telefone_celular IS NULL) > 0, SUM(telefone_celular = '') > 0, SUM(bairro IS NULL) > 0,
                       SUM(cidade IS NULL) > 0, SUM(id_tipo_cliente IS NULL) > 0, SUM(data_cadastro IS NULL) > 0
                  FROM cliente" | tr '\t' ' ')
check "valores ausentes em cliente" "$nulls" "1 1 1 1 1 1"
# Names, accents included, come back from the server byte for byte.
check "nomes lidos de volta" "$(sql -e "SELECT id, razao FROM cliente ORDER BY id LIMIT 200" | md5sum)" \
  "$(cut -f1,2 "$scratch/cliente.tsv" | head -200 | md5sum)"
grep -q 'ã' "$scratch/cliente.tsv" || { echo "FALHA: nenhum nome acentuado" >&2; fail=1; }
exit $fail
