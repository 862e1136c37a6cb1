#!/usr/bin/env bash
# Test: Debian's zabbix_agentd, in test mode (-t), runs the cobrix
# UserParameter through cobrix-agent against the test servers, with the key
# that carries only the host, cobrix.descobertaClientes["<host>"], and the
# host's file in the hosts' folder. A normal run's value ends with the line
# "OK" and the rows are stored; a failed store, a file that every user may
# read, a key with more than the host and one without it give a value
# without "OK".
#   usage: agent_test.sh COBRIX GENERATOR   (COBRIX_TEST_SERVERS names the servers' folder)
set -euo pipefail
PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
contrib=$top/contrib/zabbix
cobrix=$1 generator=$2
env_file=$COBRIX_TEST_SERVERS/env
# shellcheck disable=SC1090
. "$env_file"

work=$(mktemp -d)
ixc_db=zbx_ixc_$$
pg_db=zbx_pg_$$
mysql_root() { mariadb --no-defaults --socket="$MARIADB_SOCKET" -uroot "$@"; }
pg() { psql -X -q -At -h "$PG_SOCKET_DIR" -p "$PG_PORT" -U postgres "$@"; }
cleanup() {
  mysql_root -e "DROP DATABASE IF EXISTS $ixc_db" || true
  pg -d postgres -c "DROP DATABASE IF EXISTS $pg_db" || true
  rm -rf "$work"
}
trap cleanup EXIT

eval "$("$top/bench/make-ixc-db.sh" --env "$env_file" --database "$ixc_db" --customers 200 --gen "$generator")"
pg -d postgres -c "CREATE DATABASE $pg_db"

write_conf() {  # write_conf PROFILE PG_PORT: the folder PROFILE with the host's file
  install -d -m 0750 "$work/$1"
  install -m 0640 /dev/null "$work/$1/agente-teste.conf"
  cat > "$work/$1/agente-teste.conf" <<CONF
# test configuration
IXC_HOST=$MARIADB_HOST
IXC_PORT=$MARIADB_PORT
IXC_USER=$MARIADB_USER
IXC_PASSWORD=$MARIADB_PASSWORD
IXC_DATABASE=$ixc_db
IXC_TLS=desligado
PG_HOST=$PG_HOST
PG_PORT=$2
PG_DB=$pg_db
PG_USER=$PG_USER
PG_PASSWORD=$PG_PASSWORD
PG_TLS=desligado
COBRIX=$cobrix
CONF
}
write_conf good "$PG_PORT"
write_conf closed-pg 1
write_conf readable "$PG_PORT"
chmod 0644 "$work/readable/agente-teste.conf"

# The UserParameter line of the shipped file, with the wrapper taken from
# the source tree and the hosts' folder chosen by the item's profile.
userparameter=$(grep '^UserParameter=' "$contrib/userparameter_cobrix.conf")
command=${userparameter#*,}
command=${command/\/usr\/lib\/cobrix\/cobrix-agent/$contrib/cobrix-agent}
for profile in good closed-pg readable; do
  cat > "$work/agent-$profile.conf" <<CONF
Timeout=30
AllowRoot=1
LogType=console
UserParameter=cobrix.descobertaClientes[*],COBRIX_CREDENTIALS_DIR=$work/$profile $command
CONF
done

# Prints the value that the agent returns for the item key $2 with profile $1.
agent_value() {
  local out
  out=$(zabbix_agentd -c "$work/agent-$1.conf" -t "$2")
  case $out in
    *"[t|"*) out=${out#*\[t|}; printf '%s' "${out%]}" ;;
    *) echo "FALHA: resposta inesperada do agente: $out" >&2; return 1 ;;
  esac
}

fail=0
expect() {  # expect DESCRIPTION CONDITION VALUE
  if ! eval "$2"; then
    echo "FALHA: $1; valor recebido:" >&2
    printf '%s\n' "$3" >&2
    fail=1
  fi
}
last_line() { printf '%s' "$1" | tail -n 1; }

key='cobrix.descobertaClientes["agente-teste"]'

value=$(agent_value good "$key")
expect "execução normal termina com OK" '[ "$(last_line "$value")" = OK ]' "$value"
expect "execução normal envia os clientes em atraso" \
  '[[ $value == *"Enviando $OVERDUE_CUSTOMERS registros (Clientes) com UPSERT..."* ]]' "$value"
stored=$(pg -d "$pg_db" -c "SELECT COUNT(*) FROM ixc_clientes WHERE ixcidentification = 'agente-teste'")
expect "linhas gravadas ($stored de $OVERDUE_CUSTOMERS)" '[ "$stored" = "$OVERDUE_CUSTOMERS" ]' "$value"

value=$(agent_value closed-pg "$key")
expect "falha do PostgreSQL não termina com OK" '[ "$(last_line "$value")" != OK ]' "$value"
expect "falha do PostgreSQL é relatada" '[[ $value == *"Erro ao conectar ao PostgreSQL: "* ]]' "$value"

value=$(agent_value readable "$key")
expect "arquivo do host legível por todos é recusado" \
  '[[ $value == *"pode ser lido ou alterado por outros usuários"* && $(last_line "$value") != OK ]]' "$value"

value=$(agent_value good "cobrix.descobertaClientes[agente-teste,$MARIADB_HOST]")
expect "chave com mais que o host é recusada" '[[ $value == *"a chave leva só o host"* && $(last_line "$value") != OK ]]' "$value"

value=$(agent_value good "cobrix.descobertaClientes[]")
expect "host do Zabbix faltando é recusado" '[[ $value == *"host do Zabbix"* && $(last_line "$value") != OK ]]' "$value"

exit $fail
