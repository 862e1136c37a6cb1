#!/usr/bin/env bash
# Test: what Zabbix shows of the customers, read from the summary that each
# run writes to ixc_clientes_resumo, in the release's real Zabbix
# (tests/zabbix/start.sh): a host with the summary template alone, whose
# IXC data is the sample with names that Zabbix must not take as they are
# (a branch with quotes, a backslash, braces and a tab, one with macros in
# braces, a city longer than a graph's name allows, a customer with braces
# and control characters), and whose runs the test makes itself:
#   - importing the template over an earlier version turns the host's query
#     item (another key, the same UUID) into this one;
#   - the discovered branches, cities and largest debtors, their items' keys,
#     names and values (amounts to the cent, days as seconds) are what SQL
#     over ixc_clientes gives for the host's latest run (summary_expected.sql):
#     names without braces and control characters, cut to Zabbix's limits;
#     the city filter leaves its cities out; {$COBRIX.TOP.N} keeps the first
#     debtors of the hundred that the query answers;
#   - with {$COBRIX.NOMES} at its default no customer's name is in any item,
#     trigger or event name, and with 1 the names are there, cleaned;
#   - a threshold set for one branch (its name as the macro's context) and
#     one for one customer fire for that one alone, the threshold in the
#     event's name;
#   - the host dashboard's two pages draw every widget without an error;
#   - a branch missing from a later run is lost: its items get no more values
#     and keep their history (7.0: disabled at once), and its problem ends
#     within {$COBRIX.RESUMO.SEM_DADOS}; after the run in which it returns
#     it has the same items again, enabled, and so have the debtors;
#   - a summary older than {$COBRIX.RESUMO.IDADE.MAX} is a problem;
#   - without a summary of the last day the state says so and nothing is
#     lost or left not supported; a query that fails is its own problem.
#   usage: summary_test.sh ZABBIX_STATE   (COBRIX_TEST_SERVERS names the test servers' folder)
# shellcheck source=tests/zabbix/lib.sh
. "$(dirname "$0")/lib.sh" "$1"

host=resumo-teste
top_n=45             # {$COBRIX.TOP.N}: the sample has 51 overdue customers
not_cidade='^Mac'  # {$COBRIX.CIDADE.EXCLUIR}: Maceió is not discovered
nodata=20          # {$COBRIX.RESUMO.SEM_DADOS}, in seconds
nomes=0            # {$COBRIX.NOMES}
quoted='Provedor "Águas" Claras \ ME'   # branch 3's name as Zabbix shows it
make_ixc "zbx_resumo_$$"
mysql_root --default-character-set=utf8mb4 "$ixc_db" <<'SQL'
UPDATE filial SET razao = CONCAT('Provedor "Águas"', CHAR(9 USING utf8mb4), '{Claras} \\ ME') WHERE id = 3;
UPDATE filial SET razao = '{$COBRIX.NOMES} Tarvex {HOST.HOST}' WHERE id = 2;
UPDATE cidade SET nome = CONCAT('Ribeirão Preto', REPEAT(' de nome muito comprido', 3)) WHERE id = 4;
UPDATE cliente SET razao = CONCAT('Inês', CHAR(10 USING utf8mb4), CHAR(1 USING utf8mb4), '{Guimarães}') WHERE id = 129;
SQL
make_store cobrix_resumo cobrix_resumo leitura_resumo cobrix_resumo

run_cobrix() {  # a normal run for the host, the passwords on a descriptor
  "$cobrix" --senhas-fd=3 descobertaClientes 127.0.0.1 "$MARIADB_PORT" "$ixc_user" "$ixc_db" \
    127.0.0.1 "$ZBX_PG_PORT" "$store_db" "$store_writer" "$host" 3<<<"$ixc_password"$'\n'"$pg_password"
}
expected() {
  pg -d "$store_db" -v host="$host" -v top="$top_n" -v not_cidade="$not_cidade" -v nomes="$nomes" \
    -f "$here/summary_expected.sql" | LC_ALL=C sort
}
discovered_items() {
  api item.get "{\"hostids\": [\"$hostid\"], \"filter\": {\"flags\": 4}, \"selectItemDiscovery\": [\"ts_delete\"],
    \"output\": [\"itemid\", \"key_\", \"name\", \"lastvalue\", \"lastclock\", \"status\"]}"
}
# The items of what is discovered now (neither lost nor disabled), as
# summary_expected.sql prints them.
discovered() {
  discovered_items | jq -r '.[] | select(.itemDiscovery.ts_delete == "0" and .status == "0")
    | "\(.key_)\t\(.name)\t\(.lastvalue)"' | awk -F'\t' -v OFS='\t' '{ $3 = sprintf("%.2f", $3); print }' | LC_ALL=C sort
}
# settle: reads the summary until what is discovered and its values are what
# SQL gives; the discovery, the server's configuration and the values of new
# items come one read after the other. At most ten reads.
settle() {
  local value
  expected > "$work/expected"
  for _ in $(seq 1 10); do
    value=$(poll_summary "$hostid")
    [ "$value" = 0 ] || { show="o estado do resumo: $value"; return 1; }
    sleep 1  # the other dependent items follow in the same second
    discovered > "$work/discovered"
    cmp -s "$work/expected" "$work/discovered" && return 0
  done
  show=$(diff "$work/expected" "$work/discovered" | head -n 30)
  return 1
}
set_macro() {
  api usermacro.create "$(jq -n --arg h "$hostid" --arg m "$1" --arg v "$2" '{hostid: $h, macro: $m, value: $v}')" \
    >/dev/null
}
# The items of branch 3, by the key that its name gives it.
branch_items() { discovered_items | jq -c --arg k "[$branch_key]" 'map(select(.key_ | endswith($k))) | sort_by(.itemid)'; }

# --- The first run, and the host.
check "a primeira execução termina em OK" ends_in_ok "$(run_cobrix)"
branch_key=$(pg -d "$store_db" -c "SELECT DISTINCT md5('filial:' || filial) FROM ixc_clientes WHERE filial LIKE 'Provedor%'")
api_login || fatal "o frontend não aceitou o login do Admin"
# The template as an earlier version had it: the query item under another
# key, the same UUID. Importing this version over it must turn that item
# into this one (on 6.0 the default rules delete nothing: a new item would
# leave the former query running beside it).
sed 's/db\.odbc\.get\[cobrix\.resumo,/db.odbc.get[cobrix.totais,/' "$docs/$zbx_template" > "$work/earlier.yaml"
check "um template de versão anterior é importado" quiet import_file "$work/earlier.yaml"
delete_hosts "$host"
hostid=$(create_host "$host" "$(template_id "Cobrix IXC totais ODBC")" "$(jq -n --arg top "$top_n" \
  --arg cidade "$not_cidade" --arg nodata "${nodata}s" '{macros: [
    {macro: "{$COBRIX.ODBC.DSN}", value: "cobrix_resumo"}, {macro: "{$COBRIX.ODBC.USUARIO}", value: "leitura_resumo"},
    {macro: "{$COBRIX.TOP.N}", value: $top}, {macro: "{$COBRIX.CIDADE.EXCLUIR}", value: $cidade},
    {macro: "{$COBRIX.RESUMO.SEM_DADOS}", value: $nodata}]}')")
[ "$hostid" != null ] || fatal "o host $host não foi criado"
earlier_query=$(item_id "$hostid" 'db.odbc.get[cobrix.totais,')
check "o template $zbx_template é importado sobre ele com as regras padrão" quiet import_file "$docs/$zbx_template"
show=$(api item.get "{\"hostids\": [\"$hostid\"], \"output\": [\"itemid\", \"key_\"], \"search\": {\"key_\": \"db.odbc.get\"}}")
check "e o item da consulta do host passa a ser o do resumo, o mesmo item" \
  quiet jq -e --arg id "$earlier_query" 'length == 1 and .[0].itemid == $id and (.[0].key_ | startswith("db.odbc.get[cobrix.resumo,"))' \
  <<<"$show"
sleep 2  # the server's configuration cache takes the new host within a second

# --- What is discovered, against SQL over the run's rows.
check "filiais, cidades e os $top_n maiores devedores, com os seus valores, são os da última execução" settle
overdue=$(pg -d "$store_db" -c "SELECT count(*) FROM ixc_clientes WHERE ixcidentification = '$host'")
debtors=$(grep -c '^cobrix\.devedor\.valor\[' "$work/discovered")
check "$debtors devedores descobertos de $overdue em atraso" test "$debtors" = "$top_n" -a "$overdue" -gt "$top_n"
check "os clientes sem filial são a filial \"(sem filial)\"" \
  grep -q $'^cobrix\\.filial\\.dias\\[filial\\]\tCobrix: filial (sem filial): ' "$work/discovered"
check "e os sem cidade, a cidade \"(sem cidade)\"" \
  grep -q $'^cobrix\\.cidade\\.dias\\[cidade\\]\tCobrix: cidade (sem cidade): ' "$work/discovered"
check "a filial de nome com aspas, barra, chaves e tabulação é descoberta sem as chaves e a tabulação" \
  grep -q -F "Cobrix: filial $quoted: " "$work/discovered"
check "a filial com macros entre chaves, sem as chaves" grep -q -F 'Cobrix: filial $COBRIX.NOMES Tarvex HOST.HOST: ' \
  "$work/discovered"
show=$(api graph.get "{\"hostids\": [\"$hostid\"], \"output\": [\"name\"], \"search\": {\"name\": \"Ribeirão Preto\"}}")
check "a cidade de nome comprido, cortada num nome de gráfico válido" quiet jq -e 'length == 1' <<<"$show"
debtor_items() {
  discovered_items | jq -c 'map(select((.key_ | startswith("cobrix.devedor.")) and .itemDiscovery.ts_delete == "0")
    | [.key_, .itemid]) | sort'
}
debtors_before=$(debtor_items)

# --- Thresholds for one branch, by its name, and for one customer.
set_macro "{\$COBRIX.FILIAL.VALOR.MAX:\"${quoted//\"/\\\"}\"}" 1
set_macro '{$COBRIX.DEVEDOR.DIAS.MAX:"129"}' 1
# Exactly two problems: the customer's, and the branch's by its name, each
# with its threshold.
fires_alone() {
  poll_summary "$hostid" >/dev/null
  for _ in $(seq 1 20); do
    show=$(cobrix_problems "$hostid")
    [ "$show" = "$(printf '%s\n' "Cobrix: devedor 129: dias de atraso acima de 1 dias" \
      "Cobrix: filial $quoted: valor em atraso acima de R\$ 1" | LC_ALL=C sort)" ] && return 0
    sleep 0.5
  done
  return 1
}
check "o limite de uma filial e o de um cliente disparam só para eles, com o limite no nome do evento" fires_alone

# --- No customer's name in any name that Zabbix shows or sends, by default.
names() {
  api item.get "{\"hostids\": [\"$hostid\"], \"output\": [\"name\"]}" | jq -r '.[].name'
  api trigger.get "{\"hostids\": [\"$hostid\"], \"expandDescription\": true, \"output\": [\"description\"]}" |
    jq -r '.[].description'
  api event.get "{\"hostids\": [\"$hostid\"], \"output\": [\"name\"]}" | jq -r '.[].name'
}
names > "$work/names"
pg -d "$store_db" -c "SELECT DISTINCT razaosocial FROM ixc_clientes WHERE ixcidentification = '$host'
  AND razaosocial <> ''" | sed 's/[{}]//g' | grep -v '^$' > "$work/customers"
show=$(grep -F -f "$work/customers" "$work/names" | head -n 5 || true)
check "com {\$COBRIX.NOMES} no padrão, nenhum nome de cliente em itens, gatilhos ou eventos ($(wc -l < "$work/names") nomes)" \
  test -z "$show" -a -s "$work/customers"
nomes=1
set_macro '{$COBRIX.NOMES}' 1
check "com {\$COBRIX.NOMES} = 1 os devedores têm o nome, sem chaves nem caracteres de controle" settle
check "e o cliente de nome com chaves e controles vira um item válido" \
  grep -q -F $'Cobrix: devedor 129 Inês Guimarães: valor em atraso\t' "$work/discovered"
check "o painel do host, as suas duas páginas e os seus gráficos são desenhados pelo frontend" dashboard_draws "$hostid"

# --- Branch 3's receivables paid: the next run has no such branch.
before=$(branch_items)
mysql_root "$ixc_db" -e "UPDATE fn_areceber SET status = 'R', obs = 'pago no teste' WHERE filial_id = 3 AND status = 'A'"
check "a execução sem a filial termina em OK" ends_in_ok "$(run_cobrix)"
check "o que se descobre e os seus valores seguem a execução sem a filial" settle
lost=$(branch_items)
show=$lost
check "os 7 itens da filial que sumiu estão perdidos (status $zbx_lost_status)" quiet jq -e --arg s "$zbx_lost_status" \
  'length == 7 and all(.itemDiscovery.ts_delete != "0" and .status == $s)' <<<"$lost"
poll_summary "$hostid" >/dev/null
sleep 1
check "e não recebem mais valores" test "$(branch_items | jq -c 'map(.lastclock)')" = "$(jq -c 'map(.lastclock)' <<<"$lost")"
kept=$(api history.get "$(jq -n --argjson lost "$lost" '{history: 0, itemids: [$lost[] | select(.key_ |
  startswith("cobrix.filial.valor.ativos")) | .itemid], countOutput: true}')" | jq -r .)
check "mas guardam o seu histórico ($kept valores)" test "$kept" -gt 0
problem_ends() {  # the problems shown: of monitored triggers (7.0 disables the lost branch's)
  for _ in $(seq 1 $((nodata + 90))); do
    show=$(api trigger.get "{\"hostids\": [\"$hostid\"], \"filter\": {\"value\": 1}, \"monitored\": true,
      \"expandDescription\": true, \"output\": [\"description\"]}" | jq -r '.[].description')
    ! grep -q -F "Cobrix: filial $quoted:" <<<"$show" && return 0
    sleep 1
  done
  return 1
}
check "e o seu problema deixa de ser mostrado em até ${nodata}s e a reavaliação do Zabbix" problem_ends

# --- The receivables open again: the branch returns, with its own items.
mysql_root "$ixc_db" -e "UPDATE fn_areceber SET status = 'A', obs = NULL WHERE obs = 'pago no teste'"
check "a execução com a filial de volta termina em OK" ends_in_ok "$(run_cobrix)"
check "o que se descobre e os seus valores seguem a execução com a filial de volta" settle
show=$(branch_items)
check "a filial que voltou tem os mesmos itens, descobertos e ativos de novo" quiet jq -e --argjson before "$before" \
  'map(.itemid) == ($before | map(.itemid)) and all(.itemDiscovery.ts_delete == "0" and .status == "0")' <<<"$show"
show=$(diff <(jq -c '.[]' <<<"$debtors_before") <(debtor_items | jq -c '.[]'))
check "e os devedores, os mesmos itens da primeira execução" test -z "$show"

# --- A summary older than its threshold (3h by default): the run's time
# four hours back.
pg -d "$store_db" -c "UPDATE ixc_clientes_resumo SET timestamp = timestamp - interval '4 hours'
  WHERE ixcidentification = '$host'"
poll_summary "$hostid" >/dev/null
# fires NAME: whether the host's problem NAME is open within ten seconds.
fires() {
  for _ in $(seq 1 20); do
    show=$(cobrix_problems "$hostid")
    grep -q -x -F "$1" <<<"$show" && return 0
    sleep 0.5
  done
  return 1
}
check "um resumo de 4 horas é um problema: mais antigo que 3h" fires "Cobrix: resumo mais antigo que 3h"

# --- No summary of the last day (none written yet, or too old): the state
# says so, and nothing is lost or left not supported.
lost_ones() { discovered_items | jq -c 'map(select(.itemDiscovery.ts_delete != "0") | .itemid) | sort'; }
lost_before=$(lost_ones)
pg -d "$store_db" -c "DELETE FROM ixc_clientes_resumo WHERE ixcidentification = '$host'"
value=$(poll_summary "$hostid")
check "sem resumo, o estado do resumo é 1 ($value)" test "$value" = 1
sleep 1
show=$({ api item.get "{\"hostids\": [\"$hostid\"], \"output\": [\"key_\", \"state\", \"error\"]}"
  api discoveryrule.get "{\"hostids\": [\"$hostid\"], \"output\": [\"key_\", \"state\", \"error\"]}"; } |
  jq -c '.[] | select(.state != "0")')
check "nenhum item nem descoberta fica não suportado" test -z "$show"
show=$(lost_ones)
check "e nada do que foi descoberto se perde" test "$show" = "$lost_before"

# --- The reader's password wrong: the query fails, its own problem.
api usermacro.update "$(api usermacro.get "{\"hostids\": [\"$hostid\"], \"filter\": {\"macro\": \"{\$COBRIX.ODBC.SENHA}\"},
  \"output\": [\"hostmacroid\"]}" | jq -c '.[0] + {value: "errada"}')" >/dev/null
value=$(poll_summary "$hostid")
check "com a senha do leitor errada, o estado do resumo é 2 ($value)" test "$value" = 2
check "e a consulta ODBC que falha é um problema" fires "Cobrix: a consulta ODBC do resumo falhou"
finish resumo
