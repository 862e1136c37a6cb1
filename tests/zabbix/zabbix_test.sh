#!/usr/bin/env bash
# Test: the shipped template and wrappers in a real Zabbix 6.0 (tests/zabbix/
# start.sh), driven through the JSON-RPC API as an operator would drive the
# frontend, with the sample IXC database on the test servers' MariaDB:
#   - the package's external-check links sit where Debian's server and proxy
#     look by default, and lead to the installed wrapper;
#   - the templates import with the frontend's default rules (twice);
#   - a host set up as the README says gets, on "check now", a value ending in
#     OK, the rows are stored and the trigger is OK;
#   - the ODBC totals equal the debug report's;
#   - a wrong PostgreSQL password gives a problem; a run that hangs gives a
#     problem within one update interval;
#   - the agent item (the agent's template), polled by the server, ends in OK;
#   - a host monitored by the proxy gets its value ending in OK;
#   - no password shows in any process's command line while all these runs
#     are in flight, nor in the server's, proxy's or agent's log.
#   usage: zabbix_test.sh ZABBIX_STATE   (COBRIX_TEST_SERVERS names the test servers' folder)
set -euo pipefail
PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
# shellcheck disable=SC1091
. "$1/env"
# shellcheck disable=SC1091
. "$COBRIX_TEST_SERVERS/env"
export ZBX_API
# shellcheck source=tests/zabbix/api.sh
. "$here/api.sh"

interval=60     # {$COBRIX.INTERVAL} of the test hosts, in seconds
cobrix=$ZBX_DIR/root/usr/bin/cobrix
work=$(mktemp -d)
chmod 0700 "$work"
ixc_db=zbx_e2e_$$
ixc_user=zbx_e2e_$$
started=$SECONDS

# Passwords of this test only (the test servers' own are shared with tests
# that run at the same time), kept in variables and files, never in an
# argument.
random_password() { printf '%s-%s%s%s' "$1" "$RANDOM" "$RANDOM" "$RANDOM"; }
ixc_password=$(random_password ixc)
pg_password=$(random_password pg)
reader_password=$(random_password leitura)
wrong_password=$(random_password errada)
# A value that one process of the test shows on purpose: the sweep below
# must find it, or it would find nothing else either.
canary=$(random_password canario)
printf '%s\n' "$ixc_password" "$pg_password" "$reader_password" "$wrong_password" "$canary" > "$work/passwords"

mysql_root() { mariadb --no-defaults --socket="$MARIADB_SOCKET" -uroot "$@"; }
pg() { psql -X -q -At -v ON_ERROR_STOP=1 -h "$ZBX_PG_SOCKET_DIR" -p "$ZBX_PG_PORT" -U postgres "$@"; }
scanner=
cleanup() {
  [ -z "$scanner" ] || kill "$scanner" 2>/dev/null || true
  [ -z "${black_hole:-}" ] || kill "$black_hole" 2>/dev/null || true
  mysql_root -e "DROP DATABASE IF EXISTS $ixc_db; DROP USER IF EXISTS '$ixc_user'@'%'" || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
show=''  # shown below the next failure: what the check looked at
ok() { echo "ok - $1 ($((SECONDS - started)) s)"; show=''; }
fail() {
  echo "FALHA: $1" >&2
  [ -n "$show" ] && printf '%s\n' "$show" | sed 's/^/    /' >&2
  show=''
  failures=$((failures + 1))
}
# check DESCRIPTION COMMAND...: runs COMMAND, the test of one point.
check() {
  local what=$1; shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
quiet() { "$@" >/dev/null; }
isnt() { ! "$@"; }
# Ends the test at once: the points after it depend on this one.
fatal() { echo "FALHA: $1" >&2; exit 1; }

# --- The IXC data: the sample database, a user that may only read it.
mysql_root -e "CREATE DATABASE $ixc_db CHARACTER SET utf8mb4"
mysql_root --default-character-set=utf8mb4 "$ixc_db" < "$top/sample/ixc_sample.sql"
mysql_root <<SQL
CREATE USER '$ixc_user'@'%' IDENTIFIED BY '$ixc_password';
GRANT SELECT ON $ixc_db.* TO '$ixc_user'@'%';
SQL

# --- The store: a database in Zabbix's cluster, the writer and a reader.
pg -d postgres <<SQL
CREATE ROLE cobrix LOGIN PASSWORD '$pg_password';
CREATE ROLE cobrix_leitura LOGIN PASSWORD '$reader_password';
CREATE DATABASE cobrix OWNER cobrix;
\c cobrix
ALTER DEFAULT PRIVILEGES FOR ROLE cobrix IN SCHEMA public GRANT SELECT ON TABLES TO cobrix_leitura;
SQL
cat > "$ZBX_ODBC_DIR/odbc.ini" <<INI
[cobrix]
Driver = PostgreSQL Unicode
Servername = 127.0.0.1
Port = $ZBX_PG_PORT
Database = cobrix
INI

# The debug report's totals, through the descriptor form of the command line.
report=$("$cobrix" --senhas-fd=3 descobertaClientes 127.0.0.1 "$MARIADB_PORT" "$ixc_user" "$ixc_db" \
  127.0.0.1 1 unused unused debug 3<<<"$ixc_password"$'\nunused')
total() { printf '%s\n' "$report" | sed -n "s/^$1: *//p"; }
declare -A expected=(
  [cobrix.clientes.ativos]=$(total "Total de clientes ativos em atraso")
  [cobrix.titulos.ativos]=$(total "Total de títulos em atraso dos clientes ativos")
  [cobrix.valor.ativos]=$(total "Valor total em dívida dos clientes ativos")
  [cobrix.clientes.inativos]=$(total "Total de clientes inativos em atraso")
  [cobrix.titulos.inativos]=$(total "Total de títulos em atraso dos clientes inativos")
  [cobrix.valor.inativos]=$(total "Valor total em dívida dos clientes inativos")
)
overdue=$((${expected[cobrix.clientes.ativos]} + ${expected[cobrix.clientes.inativos]}))
[ "$overdue" -gt 0 ] || fatal "o relatório de depuração não trouxe os totais: $report"

# --- Every process's command line, swept until the end of the test: any
# sweep that finds a password is recorded, and so is any sweep that saw a
# cobrix run in flight (a run that holds no password then is the point).
: > "$work/hits"
: > "$work/in-flight"
(
  set +e +o pipefail  # a sweep that finds nothing or meets an ended process is a normal sweep
  while :; do
    # "/proc/PID/cmdline:<the password found>", then what that process is, if it still runs.
    grep -a -o -F -f "$work/passwords" /proc/[0-9]*/cmdline 2>/dev/null | while IFS= read -r hit; do
      printf '%s  (%s)\n' "$hit" "$(tr '\0' ' ' < "${hit%%:*}" 2>/dev/null)" >> "$work/hits"
    done
    grep -l -a -F -e --senhas-fd= /proc/[0-9]*/cmdline >> "$work/in-flight" 2>/dev/null
  done
) &
scanner=$!
sh -c "sleep 2; : $canary" &

# --- The package's links sit where Debian's server and proxy look by
# default (their compiled ExternalScripts); the fixture points the server at
# that folder of the package's tree and the proxy at upstream's.
for daemon in /usr/sbin/zabbix_server "$ZBX_PROXY_BIN"; do
  check "o ExternalScripts de $(basename "$daemon") é /etc/zabbix/externalscripts" \
    grep -qx /etc/zabbix/externalscripts <(strings "$daemon")
done
for scripts in etc/zabbix/externalscripts usr/lib/zabbix/externalscripts; do
  check "/$scripts/cobrix-zabbix leva ao wrapper instalado" \
    test "$(readlink -f "$ZBX_DIR/root/$scripts/cobrix-zabbix")" = "$ZBX_DIR/root/usr/lib/cobrix/cobrix-zabbix"
done

# --- Import with the frontend's default rules for a template file (its
# "template" preset: create and update everything, delete nothing).
api_login || fatal "o frontend não aceitou o login do Admin"
rules='{"groups": {"updateExisting": true, "createMissing": true},
  "templates": {"updateExisting": true, "createMissing": true},
  "valueMaps": {"updateExisting": true, "createMissing": true, "deleteMissing": false},
  "templateDashboards": {"updateExisting": true, "createMissing": true, "deleteMissing": false},
  "templateLinkage": {"createMissing": true, "deleteMissing": false},
  "items": {"updateExisting": true, "createMissing": true, "deleteMissing": false},
  "discoveryRules": {"updateExisting": true, "createMissing": true, "deleteMissing": false},
  "triggers": {"updateExisting": true, "createMissing": true, "deleteMissing": false},
  "graphs": {"updateExisting": true, "createMissing": true, "deleteMissing": false},
  "httptests": {"updateExisting": true, "createMissing": true, "deleteMissing": false}}'
import=$(jq -n --rawfile source "$ZBX_DIR/root/usr/share/doc/cobrix/zabbix/cobrix_template.yaml" \
  --argjson rules "$rules" '{format: "yaml", source: $source, rules: $rules}')
check "o template é importado com as regras padrão" quiet api configuration.import "$import"
check "e importado de novo (atualização)" quiet api configuration.import "$import"
template_id() {
  api template.get "{\"output\": [\"templateid\"], \"filter\": {\"host\": [\"$1\"]}}" | jq -r '.[0].templateid'
}
templateid=$(template_id "Cobrix IXC clientes em atraso")
agent_templateid=$(template_id "Cobrix IXC clientes em atraso por agente")
if [ "$templateid" = null ] || [ "$agent_templateid" = null ]; then fatal "os templates importados não existem"; fi
totals=$(api template.get '{"output": ["templateid"], "filter": {"host": ["Cobrix IXC totais ODBC"]},
  "selectGraphs": "count", "selectDashboards": "count"}')
check "o template dos totais traz os gráficos e o painel" quiet jq -e '.[0].graphs == "3" and .[0].dashboards == "1"' <<<"$totals"
# The stock "Zabbix server" host polls an agent that is not there; quiet it.
api host.update "$(api host.get '{"output": ["hostid"], "filter": {"host": ["Zabbix server"]}}' |
  jq '.[0] + {status: 1}')" >/dev/null

# --- Hosts as the README sets them up: an interface, the template, the
# connection macros, the ODBC password as a secret macro, and the
# credentials file named after the host.
write_credentials() {  # write_credentials HOST PG_PASSWORD
  local file=$ZBX_DIR/credentials/$1.conf
  install -o root -g zabbix -m 0640 /dev/null "$file"
  printf 'IXC_PASSWORD=%s\nPG_PASSWORD=%s\n' "$ixc_password" "$2" > "$file"
}
create_host() {  # create_host NAME EXTRA_JSON: prints the host id
  api host.create "$(READER_PASSWORD=$reader_password jq -n --arg name "$1" --argjson extra "$2" \
    --arg tid "$templateid" --arg ixc_port "$MARIADB_PORT" --arg ixc_user "$ixc_user" --arg ixc_db "$ixc_db" \
    --arg pg_port "$ZBX_PG_PORT" --arg interval "${interval}s" '{
      host: $name, groups: [{groupid: "2"}], templates: [{templateid: $tid}],
      interfaces: [{type: 1, main: 1, useip: 1, ip: "127.0.0.1", dns: "", port: "10050"}],
      macros: [
        {macro: "{$IXC.DB.HOST}", value: "127.0.0.1"}, {macro: "{$IXC.DB.PORT}", value: $ixc_port},
        {macro: "{$IXC.DB.USER}", value: $ixc_user}, {macro: "{$IXC.DB.NAME}", value: $ixc_db},
        {macro: "{$PG.HOST}", value: "127.0.0.1"}, {macro: "{$PG.PORT}", value: $pg_port},
        {macro: "{$PG.DB}", value: "cobrix"}, {macro: "{$PG.USER}", value: "cobrix"},
        {macro: "{$COBRIX.ODBC.PASSWORD}", value: env.READER_PASSWORD, type: 1},
        {macro: "{$COBRIX.INTERVAL}", value: $interval}, {macro: "{$COBRIX.UNSUPPORTED.INTERVAL}", value: "5s"}]
    } + $extra')" | jq -r '.hostids[0]'
}
item_id() {  # item_id HOSTID KEY_PREFIX
  api item.get "$(jq -n --arg h "$1" --arg k "$2" '{hostids: [$h], output: ["itemid"], search: {key_: $k},
    startSearch: true}')" | jq -r '.[0].itemid'
}
item() { api item.get "{\"itemids\": [\"$1\"], \"output\": [\"lastclock\", \"lastns\", \"state\", \"error\"]}" | jq -c '.[0]'; }
# check_now ITEMID: "Execute now", then waits until a newer value arrives or
# the item turns not supported; prints the value (or the item's error).
check_now() {
  local before now was_supported
  now=$(item "$1")
  before=$(jq -r '"\(.lastclock).\(.lastns)"' <<<"$now")
  was_supported=$(jq -r '.state == "0"' <<<"$now")
  api task.create "[{\"type\": 6, \"request\": {\"itemid\": \"$1\"}}]" >/dev/null
  for _ in $(seq 1 120); do
    now=$(item "$1")
    if [ "$(jq -r '"\(.lastclock).\(.lastns)"' <<<"$now")" != "$before" ]; then
      api history.get "{\"history\": 4, \"itemids\": [\"$1\"], \"sortfield\": \"clock\", \"sortorder\": \"DESC\",
        \"limit\": 1, \"output\": [\"value\"]}" | jq -r '.[0].value'
      return 0
    fi
    if [ "$was_supported" = true ] && jq -e '.state == "1"' >/dev/null <<<"$now"; then jq -r '"não suportado: " + .error' <<<"$now"; return 0; fi
    sleep 0.5
  done
  echo "sem valor em 60 s"
}
ends_in_ok() { [ "$(printf '%s' "$1" | tail -n 1)" = OK ]; }
not_ok() { ! ends_in_ok "$1"; }
killed_at_timeout() { grep -q "^não suportado: Timeout" <<<"$1"; }
# check_now_until ITEMID PREDICATE: check_now until PREDICATE holds for the
# value, at most three times; prints the last value. After a change (of the
# credentials, of a macro) the first new value may still come from a run that
# the item's own schedule started just before it.
check_now_until() {
  local value
  for _ in 1 2 3; do
    value=$(check_now "$1")
    "$2" "$value" && break
  done
  printf '%s\n' "$value"
}
# trigger HOSTID NAME_PREFIX: "value/state" of the trigger (value 0 OK, 1 problem; state 0 normal, 1 unknown).
trigger() {
  api trigger.get "$(jq -n --arg h "$1" --arg n "$2" '{hostids: [$h], output: ["value", "state"],
    search: {description: $n}, startSearch: true}')" | jq -r '.[0] | "\(.value)/\(.state)"'
}
wait_trigger() {  # wait_trigger HOSTID NAME_PREFIX VALUE SECONDS
  for _ in $(seq 1 $(($4 * 2))); do
    [ "$(trigger "$1" "$2")" = "$3/0" ] && return 0
    sleep 0.5
  done
  return 1
}
stored() { pg -d cobrix -c "SELECT count(*) FROM ixc_clientes WHERE ixcidentification = '$1'"; }

host=provedor-teste
write_credentials "$host" "$pg_password"
hostid=$(create_host "$host" '{}')
[ "$hostid" != null ] || fatal "o host $host não foi criado"
run_item=$(item_id "$hostid" cobrix-zabbix)
totals_item=$(item_id "$hostid" db.odbc.get)
discovery_trigger='Cobrix: descoberta'
unsupported_trigger='Cobrix: itens não suportados'

# The agent's user parameter, on a host of its own with an agent interface.
install -o root -g zabbix -m 0640 /dev/null "$ZBX_AGENT_CONF_FILE"
cat > "$ZBX_AGENT_CONF_FILE" <<CONF
IXC_PASSWORD=$ixc_password
PG_HOST=127.0.0.1
PG_PORT=$ZBX_PG_PORT
PG_DB=cobrix
PG_USER=cobrix
PG_PASSWORD=$pg_password
CONF
# The host's agent interface points at the test agent, and the host links
# the agent's template instead of the external check's.
agent_hostid=$(create_host agente-teste "$(jq -n --arg port "$ZBX_AGENT_PORT" --arg tid "$agent_templateid" '{
  templates: [{templateid: $tid}],
  interfaces: [{type: 1, main: 1, useip: 1, ip: "127.0.0.1", dns: "", port: $port}]}')")
agent_item=$(item_id "$agent_hostid" cobrix.descobertaClientes)

# A host monitored by the proxy, whose external checks run the wrapper from
# the folder of upstream's packages, with its own credentials file there.
proxyid=$(api proxy.create "{\"host\": \"$ZBX_PROXY_NAME\", \"status\": 5}" | jq -r '.proxyids[0]')
write_credentials proxy-teste "$pg_password"
proxy_hostid=$(create_host proxy-teste "{\"proxy_hostid\": \"$proxyid\"}")
proxy_item=$(item_id "$proxy_hostid" cobrix-zabbix)
sleep 2  # the server's configuration cache takes the new hosts within a second

# --- The external check.
value=$(check_now "$run_item")
show=$value
check "a verificação externa termina em OK" ends_in_ok "$value"
check "e envia os $overdue clientes em atraso" grep -qx "Enviando $overdue registros (Clientes) com UPSERT..." <<<"$value"
check "as $overdue linhas estão em ixc_clientes" test "$(stored "$host")" = "$overdue"
check "o gatilho da descoberta está OK" wait_trigger "$hostid" "$discovery_trigger" 0 10

# --- The totals through ODBC, against the debug report.
value=$(check_now "$totals_item")
show=$value
check "a consulta ODBC dos totais responde" quiet jq -e 'length == 1' <<<"$value"
sleep 1  # the dependent items follow their master in the same second
for key in "${!expected[@]}"; do
  got=$(api item.get "$(jq -n --arg h "$hostid" --arg k "$key" '{hostids: [$h], filter: {key_: $k},
    output: ["lastvalue"]}')" | jq -r '.[0].lastvalue')
  check "ODBC $key = $got, relatório = ${expected[$key]}" \
    awk -v a="$got" -v b="${expected[$key]}" 'BEGIN { exit !(sprintf("%.2f", a) == sprintf("%.2f", b)) }'
done

# --- A wrong PostgreSQL password: a value without OK, and a problem.
write_credentials "$host" "$wrong_password"
value=$(check_now_until "$run_item" not_ok)
show=$value
check "senha errada do PostgreSQL: o valor não termina em OK" isnt ends_in_ok "$value"
check "e diz por quê" grep -q "Erro ao conectar ao PostgreSQL: .*password authentication failed" <<<"$value"
check "e o gatilho da descoberta dispara" wait_trigger "$hostid" "$discovery_trigger" 1 10
write_credentials "$host" "$pg_password"

# --- A run that hangs: PostgreSQL's port points at a listener that never
# answers, the server kills the run at its Timeout, the item is left not
# supported, and the count of unsupported items fires within one interval.
php -r '$s = stream_socket_server("tcp://127.0.0.1:0"); echo explode(":", stream_socket_get_name($s, false))[1], "\n";
  fclose(STDOUT); sleep(300);' > "$work/black-hole" 2>/dev/null </dev/null &
black_hole=$!
for _ in $(seq 1 50); do [ -s "$work/black-hole" ] && break; sleep 0.1; done
port_macro=$(api usermacro.get "{\"hostids\": [\"$hostid\"], \"filter\": {\"macro\": \"{\$PG.PORT}\"}, \"output\": [\"hostmacroid\"]}" |
  jq -r '.[0].hostmacroid')
api usermacro.update "{\"hostmacroid\": \"$port_macro\", \"value\": \"$(cat "$work/black-hole")\"}" >/dev/null
sleep 2
hang_started=$SECONDS
value=$(check_now_until "$run_item" killed_at_timeout)
show=$value
check "a execução que trava é morta no Timeout do servidor" killed_at_timeout "$value"
if wait_trigger "$hostid" "$unsupported_trigger" 1 "$interval"; then
  ok "a execução travada é um problema em $((SECONDS - hang_started)) s (intervalo: $interval s)"
else
  fail "a execução travada não virou problema em $interval s"
fi
api usermacro.update "{\"hostmacroid\": \"$port_macro\", \"value\": \"$ZBX_PG_PORT\"}" >/dev/null
kill "$black_hole"
black_hole=
sleep 2
value=$(check_now_until "$run_item" ends_in_ok)
show=$value
check "depois do travamento, a execução volta a terminar em OK" ends_in_ok "$value"
check "e o problema do item não suportado se resolve" wait_trigger "$hostid" "$unsupported_trigger" 0 20

# --- The agent item and the proxy's host, both asked at once. The proxy
# keeps the configuration it takes from the server in its own database;
# "Execute now" reaches it once the item is there.
for _ in $(seq 1 60); do
  [ "$(sqlite3 "$ZBX_DIR/proxy/zabbix_proxy.db" "SELECT count(*) FROM items WHERE itemid = $proxy_item")" = 1 ] && break
  sleep 0.5
done
check_now "$agent_item" > "$work/agent-value" &
agent_check=$!
check_now "$proxy_item" > "$work/proxy-value" &
wait "$agent_check" $!
show=$(cat "$work/agent-value")
check "o item do agente, pelo servidor, termina em OK" ends_in_ok "$show"
check "e grava as $overdue linhas" test "$(stored agente-teste)" = "$overdue"
show=$(cat "$work/proxy-value")
check "o host monitorado pelo proxy recebe um valor que termina em OK" ends_in_ok "$show"
check "e as linhas dele estão em ixc_clientes" test "$(stored proxy-teste)" = "$overdue"

# --- No password anywhere that other users can read.
kill "$scanner" || fail "a varredura de /proc/*/cmdline parou antes do fim"
wait "$scanner" 2>/dev/null || true
scanner=
check "a varredura de /proc/*/cmdline acha o que um processo mostra" grep -q -F "$canary" "$work/hits"
grep -v -F ":$canary  (" "$work/hits" > "$work/password-hits" || true
# What the processes that showed a password were, with the passwords hidden.
show=$(sort -u "$work/password-hits" | while read -r line; do
  while read -r password; do line=${line//"$password"/<senha ${password%%-*}>}; done < "$work/passwords"
  printf '%s\n' "$line"
done)
check "nenhuma senha em /proc/*/cmdline" test ! -s "$work/password-hits"
check "a varredura viu execuções em andamento ($(wc -l < "$work/in-flight") vezes)" test -s "$work/in-flight"
for log in "$ZBX_SERVER_LOG" "$ZBX_PROXY_LOG" "$ZBX_DIR/agent/zabbix_agentd.log"; do
  check "nenhuma senha em $(basename "$log")" isnt grep -q -F -f "$work/passwords" "$log"
done
check "o log do servidor registrou o Timeout (sem senha)" grep -q "Timeout while executing a shell script" "$ZBX_SERVER_LOG"

echo "zabbix: $failures falha(s) em $((SECONDS - started)) s"
[ "$failures" = 0 ]
