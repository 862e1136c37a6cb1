#!/usr/bin/env bash
# Test: the shipped template and wrappers in the release's real Zabbix
# (tests/zabbix/start.sh: 6.0 on Debian 12, 7.0 on Debian 13), driven through
# the JSON-RPC API as an operator would drive the frontend, with the sample
# IXC database on the test servers' MariaDB:
#   - the package's external-check links sit where Debian's server and proxy
#     look by default, and lead to the installed wrapper;
#   - the release's template file imports with the frontend's default rules
#     (twice), leaving the stock groups as they were; on 7.0 it means to
#     Zabbix what the 6.0 file means, plus the item timeouts and the lost
#     resources of discovery rules disabled at once;
#   - imported over the previous version's templates (earlier_template.yaml),
#     to which the hosts are linked, it keeps the hosts, their links and
#     their items (the same ids, so their history), turns each run item's key
#     into the one that carries only {HOST.HOST}, leaves no count of
#     unsupported items behind, and the hosts' macros of the earlier names,
#     renamed as the guide says, keep their values: each host's summary
#     query then logs in;
#   - a host set up as the guide says gets, on "check now", a value ending in
#     OK from a run that lasts about 6 s (a stand-in that waits, then starts
#     cobrix): longer than 7.0's global timeout of 3 s, within the check's
#     timeout that the guide sets (6.0: the daemons' Timeout; 7.0: the
#     template's item timeout); the rows are stored and the trigger is OK;
#   - the totals read from the run's summary through ODBC equal the debug
#     report's (the discoveries of the summary: summary_test.sh);
#   - a wrong PostgreSQL password gives a problem; a run that hangs gives a
#     value that says so and a problem within the check's timeout;
#   - an unsupported item of another template on the host raises no Cobrix
#     problem;
#   - the agent item (the agent's template), polled by the server, ends in OK;
#   - a host monitored by the proxy gets its value ending in OK;
#   - no password shows in any process's command line while all these runs
#     are in flight, nor in the server's, proxy's or agent's log, nor in the
#     items' values and errors.
#   usage: zabbix_test.sh ZABBIX_STATE   (COBRIX_TEST_SERVERS names the test servers' folder)
# shellcheck source=tests/zabbix/lib.sh
. "$(dirname "$0")/lib.sh" "$1"

interval=60     # {$COBRIX.INTERVAL} of the test hosts, in seconds
make_ixc "zbx_e2e_$$"
make_store cobrix cobrix cobrix_leitura cobrix   # the template's default reader and DSN
# The store's tables, as the earlier version's runs left them (and as
# cobrix-central init makes them in a new set-up), made by a run of an
# installation that no host here is: without them every host's summary
# query fails until a run makes them.
"$cobrix" --senhas-fd=3 descobertaClientes 127.0.0.1 "$MARIADB_PORT" "$ixc_user" "$ixc_db" \
  127.0.0.1 "$ZBX_PG_PORT" "$store_db" "$store_writer" instalacao-anterior 3<<<"$ixc_password"$'\n'"$pg_password" |
  tail -n 1 | grep -qx OK || fatal "a execução que faz as tabelas do armazenamento falhou"
wrong_password=$(new_password errada)

# The stand-in for the program that every check here runs (the credentials'
# COBRIX line): waits, runs cobrix with the same arguments and descriptors,
# then logs when it started and ended (a check's value may come from a run
# that the item's schedule started before "Execute now").
slow=$ZBX_DIR/cobrix-lento
slow_log=$ZBX_DIR/cobrix-lento.log
printf '#!/bin/sh\nstart=$(date +%%s.%%N)\nsleep 6\n%s "$@"\nstatus=$?\necho "$start $(date +%%s.%%N)" >> %s\nexit $status\n' \
  "$cobrix" "$slow_log" > "$slow"
chmod 0755 "$slow"
: > "$slow_log"
chmod 0666 "$slow_log"
# last_run_lasted SECONDS: the latest run logged lasted that long or more.
last_run_lasted() { tail -n 1 "$slow_log" | awk -v s="$1" '{ exit !($2 - $1 >= s) }'; }

report=$(debug_report)
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

sweep_start

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

# --- The import, with the frontend's default rules for a template file.
api_login || fatal "o frontend não aceitou o login do Admin"
groups() {
  { api hostgroup.get '{"output": ["name", "uuid"]}'; api "$zbx_template_group_api.get" '{"output": ["name", "uuid"]}'; } |
    jq -cs 'add | sort_by(.groupid)'
}
stock_groups=$(groups)
cobrix_templates() { api template.get '{"output": ["templateid"], "search": {"host": "Cobrix"}}' | jq -c 'map(.templateid)'; }
export_templates() {  # the Cobrix templates as Zabbix exports them (JSON)
  api configuration.export "{\"format\": \"json\", \"options\": {\"templates\": $(cobrix_templates)}}" |
    jq -S 'fromjson | del(.zabbix_export.date)'
}
if [ "$zbx_template" != cobrix_template.yaml ]; then
  # The 6.0 file, converted by Zabbix itself, against this release's file
  # without its item timeouts (each imported where no Cobrix template is).
  [ "$(cobrix_templates)" = '[]' ] || api template.delete "$(cobrix_templates)" >/dev/null
  check "o template do Zabbix 6.0 é importado com as regras padrão" quiet import_file "$docs/cobrix_template.yaml"
  # Its discovery rules keep what they no longer find enabled; this
  # release's file disables it at once (the export's default, not written).
  export_templates | jq -S '(.zabbix_export.templates[].discovery_rules // [] | .[])
    |= (if .enabled_lifetime_type == "DISABLE_NEVER" then del(.enabled_lifetime_type) else . end)' > "$work/from-6.0.json"
  api template.delete "$(cobrix_templates)" >/dev/null
  check "o template $zbx_template é importado com as regras padrão" quiet import_file "$docs/$zbx_template"
  export_templates | jq -S --arg timeout "$zbx_item_timeout" 'del(.. | select(type == "object") | .timeout)
    | (.. | select(type == "object") | select(has("macros")) | .macros) |= map(select(.macro != $timeout))' \
    > "$work/this.json"
  show=$(diff "$work/from-6.0.json" "$work/this.json" | head -n 40 || true)
  check "$zbx_template diz ao Zabbix o mesmo que o do 6.0, mais o timeout dos itens e o que se perde desativado" \
    test -z "$show"
  timed=$(api item.get "{\"templateids\": $(cobrix_templates), \"output\": [\"key_\"],
    \"filter\": {\"timeout\": \"$zbx_item_timeout\"}}" | jq -r '[.[].key_] | unique | join(" ")')
  check "os itens com timeout $zbx_item_timeout: $timed" \
    test "$timed" = 'cobrix-zabbix["{HOST.HOST}"] cobrix.descobertaClientes["{HOST.HOST}"] db.odbc.get[cobrix.resumo,"{$COBRIX.ODBC.DSN}"]'
  settings=$(api settings.get '{"output": ["timeout_external_check", "timeout_zabbix_agent", "timeout_db_monitor"]}')
  check "os timeouts globais ficam no padrão de 3 s" \
    quiet jq -e '.timeout_external_check == "3s" and .timeout_zabbix_agent == "3s" and .timeout_db_monitor == "3s"' <<<"$settings"
fi

# --- The previous version's templates, and hosts linked to them as its
# guide set them up: the external check's, the agent's and the proxy's.
[ "$(cobrix_templates)" = '[]' ] || api template.delete "$(cobrix_templates)" >/dev/null
check "os templates da versão anterior são importados" quiet import_file "$here/earlier_template.yaml"
templateid=$(template_id "Cobrix IXC clientes em atraso")
agent_templateid=$(template_id "Cobrix IXC clientes em atraso por agente")
if [ "$templateid" = null ] || [ "$agent_templateid" = null ]; then fatal "os templates importados não existem"; fi
# The stock "Zabbix server" host polls an agent that is not there; quiet it.
api host.update "$(api host.get '{"output": ["hostid"], "filter": {"host": ["Zabbix server"]}}' |
  jq '.[0] + {status: 1}')" >/dev/null
delete_hosts provedor-teste agente-teste proxy-teste
password_macro='{$COBRIX.ODBC.PASSWORD}'
interval_macro="{\"macros\": [{\"macro\": \"{\$COBRIX.INTERVAL}\", \"value\": \"${interval}s\"}]}"
host=provedor-teste
write_credentials "$host" "COBRIX=$slow"
hostid=$(create_host "$host" "$templateid" "$interval_macro")
[ "$hostid" != null ] || fatal "o host $host não foi criado"
# The agent's user parameter, on a host of its own with an agent interface
# that points at the test agent; its file on the agent's machine.
write_credentials agente-teste "COBRIX=$slow"
agent_hostid=$(create_host agente-teste "$agent_templateid" "$(jq -n --arg port "$ZBX_AGENT_PORT" \
  --argjson extra "$interval_macro" \
  '{interfaces: [{type: 1, main: 1, useip: 1, ip: "127.0.0.1", dns: "", port: $port}]} + $extra')")
# A host monitored by the proxy, whose external checks run the wrapper from
# the folder of upstream's packages, with its own file there.
proxyid=$(proxy_id)
write_credentials proxy-teste "COBRIX=$slow"
proxy_hostid=$(create_host proxy-teste "$templateid" "$(zbx_by_proxy "$proxyid" | jq --argjson extra "$interval_macro" '. + $extra')")
host_items() {  # the items of the three hosts, by host and key: the ids that keep their history
  api item.get '{"hostids": ['"\"$hostid\", \"$agent_hostid\", \"$proxy_hostid\""'], "output": ["itemid", "hostid", "key_"]}' |
    jq -c 'sort_by(.itemid)'
}
earlier_items=$(host_items)

# --- This version over them, twice, with the frontend's default rules.
check "o template $zbx_template é importado sobre eles com as regras padrão" quiet import_file "$docs/$zbx_template"
check "e importado de novo (atualização)" quiet import_file "$docs/$zbx_template"
show=$(diff <(jq -r '.[] | "\(.name) \(.uuid)"' <<<"$stock_groups") <(groups | jq -r '.[] | "\(.name) \(.uuid)"') || true)
check "os grupos do Zabbix ficam como estavam" test -z "$show"
items=$(host_items)
keys=$(jq -r --argjson now "$items" '.[] | . as $e | ($now[] | select(.itemid == $e.itemid) | .key_) as $k
  | "\($e.key_) -> \($k // "apagado")"' <<<"$earlier_items")
check "os hosts guardam os seus itens, os mesmos ids (e o histórico)" quiet jq -e --argjson now "$items" \
  'map(select(.key_ != "zabbix[host,,items_unsupported]")) | all(.[]; .itemid as $i | $now | any(.itemid == $i))' \
  <<<"$earlier_items"
check "a chave da execução leva só o host" grep -q -x -F 'cobrix-zabbix["{$IXC.DB.HOST}","{$IXC.DB.PORT}","{$IXC.DB.USER}","{$IXC.DB.NAME}","{$PG.HOST}","{$PG.PORT}","{$PG.DB}","{$PG.USER}","{HOST.HOST}"] -> cobrix-zabbix["{HOST.HOST}"]' <<<"$keys"
check "e a do agente também" grep -q -x -F 'cobrix.descobertaClientes[{$IXC.DB.HOST},{$IXC.DB.PORT},{$IXC.DB.USER},{$IXC.DB.NAME},{HOST.HOST}] -> cobrix.descobertaClientes["{HOST.HOST}"]' <<<"$keys"
# The count of the host's unsupported items stays on 6.0, whose default
# rules delete nothing, but no trigger reads it any more.
show=$(api trigger.get '{"hostids": ['"\"$hostid\", \"$agent_hostid\", \"$proxy_hostid\""'], "expandExpression": true,
  "output": ["description", "expression"]}' | jq -r '.[] | select(.expression | contains("items_unsupported")) | .description')
check "nenhum gatilho lê a contagem de itens não suportados do host" test -z "$show"
# The hosts' macros of the earlier names, renamed as the guide says: the
# values (the secret one too) stay.
for id in "$hostid" "$agent_hostid" "$proxy_hostid"; do
  api usermacro.get "{\"hostids\": [\"$id\"], \"output\": [\"hostmacroid\", \"macro\"]}" |
    jq -c '.[] | select(.macro == "{$COBRIX.ODBC.PASSWORD}" or .macro == "{$COBRIX.INTERVAL}")
      | {hostmacroid, macro: (if .macro == "{$COBRIX.INTERVAL}" then "{$COBRIX.INTERVALO}" else "{$COBRIX.ODBC.SENHA}" end)}' |
    while read -r renamed; do api usermacro.update "$renamed" >/dev/null; done
done
# Each host's summary query, read now, logs in with the renamed password:
# state 1 while no run has written the host's summary, then 0 (2: the query
# failed). A read between the import and the renaming, without a password,
# would leave its problem until the next read, {$COBRIX.RESUMO.INTERVALO}
# later. At most three reads: the first may still find the server's or the
# proxy's configuration of before the renaming.
summary_read() { [ "$1" = 0 ] || [ "$1" = 1 ]; }
read_summary() {  # read_summary HOSTID: the state that the host's query reads
  local value
  for _ in 1 2 3; do
    value=$(poll_summary "$1")
    summary_read "$value" && break
  done
  printf '%s\n' "$value"
}
reads=()
for named in "$host=$hostid" "agente-teste=$agent_hostid" "proxy-teste=$proxy_hostid"; do
  read_summary "${named#*=}" > "$work/read-${named%%=*}" &
  reads+=($!)
done
wait "${reads[@]}"
for named in "$host" agente-teste proxy-teste; do
  value=$(cat "$work/read-$named")
  check "com as macros renomeadas, a consulta do resumo de $named lê (estado $value)" summary_read "$value"
done
run_item=$(item_id "$hostid" cobrix-zabbix)
agent_item=$(item_id "$agent_hostid" cobrix.descobertaClientes)
proxy_item=$(item_id "$proxy_hostid" cobrix-zabbix)
totals=$(api template.get '{"output": ["templateid"], "filter": {"host": ["Cobrix IXC totais ODBC"]},
  "selectGraphs": "count", "selectDashboards": "count"}')
check "o template dos totais traz os gráficos e o painel" quiet jq -e '.[0].graphs == "3" and .[0].dashboards == "1"' <<<"$totals"
sleep 2  # the server's configuration cache takes the new hosts within a second

# --- The external check.
value=$(check_now "$run_item")
show=$value
check "a verificação externa termina em OK" ends_in_ok "$value"
check "e durou mais de 6 s" last_run_lasted 6
check "e envia os $overdue clientes em atraso" grep -qx "Enviando $overdue registros (Clientes) com UPSERT..." <<<"$value"
check "as $overdue linhas estão em ixc_clientes" test "$(stored "$host")" = "$overdue"
check "o gatilho da execução está OK" wait_trigger "$hostid" "$status_trigger" 0 10

# --- The totals through ODBC, against the debug report.
value=$(poll_summary "$hostid")
check "a consulta ODBC lê o resumo (estado $value)" test "$value" = 0
sleep 1  # the dependent items follow their master in the same second
for key in "${!expected[@]}"; do
  got=$(api item.get "$(jq -n --arg h "$hostid" --arg k "$key" '{hostids: [$h], filter: {key_: $k},
    output: ["lastvalue"]}')" | jq -r '.[0].lastvalue')
  check "ODBC $key = $got, relatório = ${expected[$key]}" \
    awk -v a="$got" -v b="${expected[$key]}" 'BEGIN { exit !(sprintf("%.2f", a) == sprintf("%.2f", b)) }'
done

# --- A wrong PostgreSQL password: a value without OK, and a problem whose
# data is the last line.
write_credentials "$host" "PG_PASSWORD=$wrong_password" "COBRIX=$slow"
value=$(check_now_until "$run_item" not_ok)
show=$value
check "senha errada do PostgreSQL: o valor não termina em OK" isnt ends_in_ok "$value"
check "e diz por quê" grep -q "Erro ao conectar ao PostgreSQL: .*password authentication failed" <<<"$value"
check "e o gatilho da execução dispara" wait_trigger "$hostid" "$status_trigger" 1 10
last_line=$(last_text "$(item_id "$hostid" cobrix.resultado)")
check "o resultado da execução é a última linha do valor" test "$last_line" = "$(tail -n 1 <<<"$value")"
write_credentials "$host" "COBRIX=$slow"

# --- A run that hangs: PostgreSQL's port points at a listener that never
# answers, the run is killed at the check's timeout, and the item's value
# (what Zabbix makes of an item it could not get) fires the run's trigger.
php -r '$s = stream_socket_server("tcp://127.0.0.1:0"); echo explode(":", stream_socket_get_name($s, false))[1], "\n";
  fclose(STDOUT); sleep(300);' > "$work/black-hole" 2>/dev/null </dev/null &
black_hole=$!
on_exit "kill $black_hole 2>/dev/null"
for _ in $(seq 1 50); do [ -s "$work/black-hole" ] && break; sleep 0.1; done
write_credentials "$host" "COBRIX=$slow" "PG_PORT=$(cat "$work/black-hole")"
hang_started=$SECONDS
killed_at_timeout() { grep -q "^Item não suportado: o Zabbix não obteve o resultado da execução" <<<"$1"; }
value=$(check_now_until "$run_item" killed_at_timeout)
show=$value
check "a execução que trava é morta no timeout da verificação ($zbx_check_timeout s) e o valor diz isso" \
  killed_at_timeout "$value"
if wait_trigger "$hostid" "$status_trigger" 1 10; then
  ok "a execução travada é um problema em $((SECONDS - hang_started)) s"
else
  fail "a execução travada não virou problema"
fi
kill "$black_hole"
write_credentials "$host" "COBRIX=$slow"
value=$(check_now_until "$run_item" ends_in_ok)
show=$value
check "depois do travamento, a execução volta a terminar em OK" ends_in_ok "$value"
check "e o problema se resolve" wait_trigger "$hostid" "$status_trigger" 0 20

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

# --- Another template's unsupported item on the agent's host: an OS item
# that the agent cannot answer. Zabbix's count of the host's unsupported
# items sees it; no Cobrix template raises a problem for it.
os_group=$(api "$zbx_template_group_api.get" '{"output": ["groupid"], "filter": {"name": ["Templates/Operating systems"]}}' |
  jq -r '.[0].groupid')
os_template=$(template_id "SO de teste")
[ "$os_template" = null ] || api template.delete "[\"$os_template\"]" >/dev/null
os_template=$(api template.create "{\"host\": \"SO de teste\", \"groups\": [{\"groupid\": \"$os_group\"}]}" |
  jq -r '.templateids[0]')
api item.create "{\"hostid\": \"$os_template\", \"name\": \"Tamanho de um arquivo que não existe\", \"type\": 0,
  \"key_\": \"vfs.file.size[/nonexistent/cobrix-teste]\", \"value_type\": 3, \"delay\": \"5s\"}" >/dev/null
api host.massadd "{\"hosts\": [{\"hostid\": \"$agent_hostid\"}], \"templates\": [{\"templateid\": \"$os_template\"}]}" >/dev/null
os_unsupported() {
  for _ in $(seq 1 60); do
    [ "$(item "$(item_id "$agent_hostid" vfs.file.size)" | jq -r .state)" = 1 ] && return 0
    sleep 1
  done
  return 1
}
check "o item do outro template fica não suportado" os_unsupported
sleep 5  # a trigger on a count of unsupported items would have fired by now
show=$(cobrix_problems "$agent_hostid")
check "e nenhum problema do Cobrix aparece no host" test -z "$show"

# --- No password anywhere that other users can read, nor in what Zabbix
# keeps of the runs: the values and the items' errors.
sweep_end "$ZBX_SERVER_LOG" "$ZBX_PROXY_LOG" "$ZBX_DIR/agent/zabbix_agentd.log"
kept=$(for id in "$hostid" "$agent_hostid" "$proxy_hostid"; do
  api item.get "{\"hostids\": [\"$id\"], \"output\": [\"error\"]}"
  api history.get "{\"history\": 4, \"hostids\": [\"$id\"], \"output\": [\"value\"]}"
done)
check "nenhuma senha nos valores nem nos erros dos itens" isnt grep -q -F -f "$work/passwords" <<<"$kept"
finish zabbix
