#!/usr/bin/env bash
# After the quick start ran in the root DIR (run.sh, in the root's network
# namespace): what the guide promises, through the Zabbix API and the
# servers' own logs.
# - The first value: the host's external check has a value that ends in OK,
#   and the installation's rows are in the central table.
# - The summary reaches Zabbix through the guide's DSN and reader: once the
#   query runs, the totals of active and inactive customers add up to the
#   rows, and no item of the host is unsupported.
# - No problem was ever raised on the host: no step of the guide left a
#   trigger to fire before a later step was done.
# - Every connection of the guide's roles to the central PostgreSQL was TLS.
# - No password or token of the guide in any process's command line while it
#   ran (the sweep saw its canary), in the guide's transcript or in any log
#   of the root's servers; the central server logs every statement, so
#   neither in SQL text (Zabbix's own database logs none: the frontend
#   writes a secret macro's value there in clear).
#   usage: check.sh DIR
# shellcheck source=tests/quickstart/lib.sh
. "$(dirname "$0")/lib.sh" "$1"
pass() { echo "ok - $*"; }
host=provedor-centro
zbx_token=$(cat "$dir$state/token")

hostid=$(api host.get "{\"output\": [\"hostid\"], \"filter\": {\"host\": [\"$host\"]}}" | jq -r '.[0].hostid // empty')
[ -n "$hostid" ] || fail "o host $host não existe"
item_of() {  # item_of KEY_PREFIX: the host's item whose key starts so
  api item.get "$(jq -n --arg h "$hostid" --arg k "$1" \
    '{hostids: [$h], output: ["itemid"], search: {key_: $k}, startSearch: true}')" | jq -r '.[0].itemid // empty'
}
last_value() {  # last_value ITEMID HISTORY_TYPE
  api history.get "{\"history\": $2, \"itemids\": [\"$1\"], \"sortfield\": \"clock\", \"sortorder\": \"DESC\",
    \"limit\": 1, \"output\": [\"value\"]}" | jq -r '.[0].value // empty'
}
check_now() { api task.create "[{\"type\": 6, \"request\": {\"itemid\": \"$1\"}}]" >/dev/null; }
has_value() { [ -n "$(last_value "$1" "$2")" ]; }

run=$(item_of 'cobrix-zabbix[')
[ -n "$run" ] || fail "o host não tem o item cobrix-zabbix[...]"
value=$(last_value "$run" 4)
[ "$(tail -n 1 <<<"$value")" = OK ] || fail "o primeiro valor não termina em OK: $value"
pass "o primeiro valor termina em OK"
rows=$(in_root runuser -u postgres -- psql -X -tA -d cobrix -c \
  "SELECT count(*) FROM ixc_clientes WHERE ixcidentification = '$host'")
[ "$rows" -gt 0 ] || fail "ixc_clientes não tem linhas de $host"
pass "$rows linhas de $host em ixc_clientes"

query=$(item_of 'db.odbc.get[')
active=$(item_of cobrix.clientes.ativos)
inactive=$(item_of cobrix.clientes.inativos)
if [ -z "$query" ] || [ -z "$active" ] || [ -z "$inactive" ]; then fail "faltam o item do resumo ou os totais de clientes"; fi
check_now "$query"
if ! wait_until 60 has_value "$active" 3 || ! wait_until 10 has_value "$inactive" 3; then
  fail "o resumo não chegou pelo ODBC: $(api item.get "{\"itemids\": [\"$query\"], \"output\": [\"error\"]}")"
fi
total=$(($(last_value "$active" 3) + $(last_value "$inactive" 3)))
[ "$total" = "$rows" ] || fail "os totais do resumo somam $total clientes, não $rows"
pass "o resumo chega pelo ODBC: $total clientes"

# Every other check of the host once more, its count of unsupported items
# among them; then nothing may be unsupported, and no problem may ever have
# been raised.
for item in $(api item.get "{\"hostids\": [\"$hostid\"], \"output\": [\"itemid\"],
    \"filter\": {\"type\": [\"0\", \"3\", \"5\", \"10\", \"11\", \"15\"]}}" | jq -r '.[].itemid'); do
  [ "$item" = "$run" ] || check_now "$item" || true
done
sleep 15
unsupported=$(api item.get "{\"hostids\": [\"$hostid\"], \"output\": [\"key_\", \"error\"], \"filter\": {\"state\": \"1\"}}")
[ "$unsupported" = '[]' ] || fail "itens não suportados: $unsupported"
pass "nenhum item não suportado"
problems=$(api event.get "{\"hostids\": [\"$hostid\"], \"source\": 0, \"object\": 0, \"value\": 1, \"output\": [\"name\"]}")
[ "$problems" = '[]' ] || fail "problemas no host: $problems"
pass "nenhum problema no host, em nenhum momento"

pglog=$(ls "$dir"/var/log/postgresql/postgresql-*-main.log)
for role in cobrix_central cobrix_provedor_centro cobrix_leitura; do
  grep -q "connection authorized: user=$role " "$pglog" || fail "$role nunca se conectou ao PostgreSQL central"
  ! grep "connection authorized: user=$role " "$pglog" | grep -qv 'SSL enabled' ||
    fail "$role se conectou ao PostgreSQL central sem TLS"
done
pass "os papéis do guia se conectam ao PostgreSQL central só com TLS"

grep -q -F -f "$dir$state/canario" "$logs/comandos" || fail "a varredura das linhas de comando não viu o canário"
# Beside the logs, not among them: a failure keeps the logs.
secrets=$dir$state/segredos
cat "$dir$state/ixc.senha" "$dir$state/token" "$dir"/root/cobrix/*.senha | grep -v '^$' > "$secrets"
for where in "$logs/comandos" "$logs/guia.log" "$dir/var/log"; do
  found=$(grep -r -l -F -f "$secrets" "$where" || true)
  [ -z "$found" ] || fail "uma senha ou o token aparece em: $found"
done
rm -f "$secrets"
pass "nenhuma senha nas linhas de comando, no registro do guia nem nos registros dos servidores"
