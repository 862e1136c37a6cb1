#!/usr/bin/env bash
# Test: runs longer than a check may last, in the release's real Zabbix
# (tests/zabbix/start.sh): the package's timer and service pass
# systemd-analyze verify, and the service's command, run the way the unit
# runs it (its user, its environment, the host's file), sends the run's value
# with zabbix_sender to the trapper item of the timer's template:
#   - a good run's value ends in OK, the rows are stored, the trigger is OK;
#   - a failed run (a wrong PostgreSQL password) raises the problem;
#   - a value of quotes, backslashes and lines arrives byte for byte;
#   - a host monitored by the proxy gets its value through the proxy;
#   - a value sent from an address that {$COBRIX.REMETENTES} does not hold
#     (the default: the machine itself) is refused, by the server and by the
#     proxy;
#   - the central retention's template: its value's last line makes its
#     problem, and a value from another address is refused too;
#   - no password in any command line, log or value.
# systemd does not run here; the unit's command is run as the unit says.
#   usage: sender_test.sh ZABBIX_STATE   (COBRIX_TEST_SERVERS names the test servers' folder)
# shellcheck source=tests/zabbix/lib.sh
. "$(dirname "$0")/lib.sh" "$1"

make_ixc "zbx_envio_$$"
make_store cobrix_envio cobrix_envio leitura_envio cobrix_envio
wrong_password=$(new_password errada)
units=$ZBX_DIR/root/usr/lib/systemd/system

# --- The units, as systemd would load them for a host, against this
# release's own units (timers.target and the rest) in a root of their own.
verify_root=$work/verify-root
mkdir -p "$verify_root/usr/lib/cobrix" "$verify_root/usr/lib/systemd"
cp -a /usr/lib/systemd/system "$verify_root/usr/lib/systemd/"
cp "$units"/cobrix-zabbix@.* "$verify_root/usr/lib/systemd/system/"
cp "$ZBX_DIR/root/usr/lib/cobrix/cobrix-sender" "$verify_root/usr/lib/cobrix/"
show=$(systemd-analyze verify --root="$verify_root" --man=no cobrix-zabbix@provedor-centro.timer \
  cobrix-zabbix@provedor-centro.service 2>&1) && [ -z "$show" ] &&
  ok "systemd-analyze verify aceita o timer e o serviço" || fail "systemd-analyze verify recusa o timer ou o serviço"

# --- The service's command as the unit runs it: ExecStart for the
# instance, as User=, in the environment systemd gives a service of a
# system user, with the credentials folder of this Zabbix.
unit_value() { sed -n "s/^$1=//p" "$units/cobrix-zabbix@.service"; }
exec_start=$(unit_value ExecStart)
user=$(unit_value User)
check "o serviço roda como o usuário zabbix ($user)" test "$user" = zabbix
run_service() {  # run_service HOST
  local command
  read -r -a command <<<"${exec_start//%i/$1}"
  runuser -u "$user" -- env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin HOME=/nonexistent \
    USER="$user" LOGNAME="$user" SHELL=/usr/sbin/nologin COBRIX_CREDENTIALS_DIR="$ZBX_DIR/credentials" \
    "$ZBX_DIR/root${command[0]}" "${command[@]:1}" 2>&1
}
# host_file HOST ZABBIX_PORT PG_PASSWORD [LINE...]: the host's file, as the guide writes it.
host_file() {
  local host=$1 port=$2 password=$3
  shift 3
  write_credentials "$host" "PG_PASSWORD=$password" "ZABBIX_SERVER=127.0.0.1" "ZABBIX_PORT=$port" "$@"
}
# sender SOURCE PORT HOST KEY VALUE: zabbix_sender's own report of sending
# VALUE (no quotes in it) from the address SOURCE.
sender() {
  printf '"%s" %s "%s"\n' "$3" "$4" "$(printf '%s' "$5" | sed ':a;N;$!ba;s/\n/\\n/g')" |
    zabbix_sender -z 127.0.0.1 -p "$2" -I "$1" -i - 2>&1 || true
}
# send HOSTID HOST: runs the service for HOST and prints the value that the
# trapper item then holds.
send() {
  local before trapper
  trapper=$(item_id "$1" cobrix.execucao)
  before=$(item "$trapper")
  run_service "$2" > "$work/service-output" || true
  wait_value "$trapper" "$before" 30
}

sweep_start
api_login || fatal "o frontend não aceitou o login do Admin"
check "o template $zbx_template é importado com as regras padrão" quiet import_file "$docs/$zbx_template"
templateid=$(template_id "Cobrix IXC clientes em atraso por temporizador")
[ "$templateid" != null ] || fatal "o template do temporizador não existe"
delete_hosts envio-teste envio-proxy
odbc_macros='{"macros": [{"macro": "{$COBRIX.ODBC.DSN}", "value": "cobrix_envio"},
  {"macro": "{$COBRIX.ODBC.USUARIO}", "value": "leitura_envio"}]}'
hostid=$(create_host envio-teste "$templateid" "$odbc_macros")
[ "$hostid" != null ] || fatal "o host envio-teste não foi criado"
proxyid=$(proxy_id)
proxy_hostid=$(create_host envio-proxy "$templateid" "$(zbx_by_proxy "$proxyid" | jq --argjson extra "$odbc_macros" '. + $extra')")
sleep 2  # the server's configuration cache takes the new hosts within a second

# --- A good run, sent to the server.
host_file envio-teste "$ZBX_SERVER_PORT" "$pg_password"
value=$(send "$hostid" envio-teste)
show="$value"$'\n'"(serviço: $(cat "$work/service-output"))"
check "o valor enviado termina em OK" ends_in_ok "$value"
check "o serviço diz o que enviou e que o Zabbix o aceitou" grep -q "processed: 1; failed: 0" "$work/service-output"
check "as linhas estão em ixc_clientes" test "$(stored envio-teste)" -gt 0
check "o gatilho da execução está OK" wait_trigger "$hostid" "$status_trigger" 0 10

# --- A failed run: the value says why, and the problem fires.
host_file envio-teste "$ZBX_SERVER_PORT" "$wrong_password"
value=$(send "$hostid" envio-teste)
show=$value
check "senha errada do PostgreSQL: o valor não termina em OK" isnt ends_in_ok "$value"
check "e diz por quê" grep -q "Erro ao conectar ao PostgreSQL: .*password authentication failed" <<<"$value"
check "e o gatilho da execução dispara" wait_trigger "$hostid" "$status_trigger" 1 10

# --- Whatever the run prints arrives as it was printed: a stand-in for the
# program prints quotes, backslashes, a line feed written out, lines.
odd=$'linha "um" \\ \\n \\\\ fim\n  segunda linha\t\nOK'
printf '#!/bin/sh\ncat <<'\''EOF'\''\n%s\nEOF\n' "$odd" > "$ZBX_DIR/cobrix-eco"
chmod 0755 "$ZBX_DIR/cobrix-eco"
host_file envio-teste "$ZBX_SERVER_PORT" "$pg_password" "COBRIX=$ZBX_DIR/cobrix-eco"
value=$(send "$hostid" envio-teste)
show=$value
check "um valor com aspas, barras e linhas chega intacto" test "$value" = "$odd"
check "e o problema se resolve" wait_trigger "$hostid" "$status_trigger" 0 10

# --- A host monitored by the proxy: its file names the proxy.
for _ in $(seq 1 60); do
  [ "$(sqlite3 "$ZBX_DIR/proxy/zabbix_proxy.db" "SELECT count(*) FROM items WHERE key_ = 'cobrix.execucao'
    AND hostid = $proxy_hostid")" = 1 ] && break
  sleep 0.5
done
host_file envio-proxy "$ZBX_PROXY_PORT" "$pg_password"
value=$(send "$proxy_hostid" envio-proxy)
show="$value"$'\n'"(serviço: $(cat "$work/service-output"))"
check "o host monitorado pelo proxy recebe, pelo proxy, um valor que termina em OK" ends_in_ok "$value"
check "e as linhas dele estão em ixc_clientes" test "$(stored envio-proxy)" -gt 0

# --- Values from an address that the trapper does not allow: refused by
# the server and by the proxy, and the item keeps its value.
before=$(item "$(item_id "$hostid" cobrix.execucao)")
show=$(sender 127.0.0.2 "$ZBX_SERVER_PORT" envio-teste cobrix.execucao $'forjado\nOK')
check "um valor enviado de 127.0.0.2 ao servidor é recusado" grep -q "processed: 0; failed: 1" <<<"$show"
show=$(sender 127.0.0.2 "$ZBX_PROXY_PORT" envio-proxy cobrix.execucao $'forjado\nOK')
check "e ao proxy também" grep -q "processed: 0; failed: 1" <<<"$show"
check "e o item não o recebe" test "$(item "$(item_id "$hostid" cobrix.execucao)")" = "$before"

# --- The central retention's template, on a host of its own, fed as its
# timer feeds it.
delete_hosts central-teste
central_hostid=$(api host.create "{\"host\": \"central-teste\", \"groups\": [{\"groupid\": \"2\"}],
  \"templates\": [{\"templateid\": \"$(template_id "Cobrix central retencao")\"}]}" | jq -r '.hostids[0]')
[ "$central_hostid" != null ] || fatal "o host central-teste não foi criado"
sleep 2
central_trigger='Cobrix: a retenção central falhou'
show=$(sender 127.0.0.1 "$ZBX_SERVER_PORT" central-teste cobrix.central.retencao $'provedor-a: 3 linhas apagadas\nOK')
check "a retenção central envia o seu valor" grep -q "processed: 1; failed: 0" <<<"$show"
check "e o seu gatilho está OK" wait_trigger "$central_hostid" "$central_trigger" 0 10
show=$(sender 127.0.0.1 "$ZBX_SERVER_PORT" central-teste cobrix.central.retencao $'OK\ncobrix-central: erro (PostgreSQL): sem conexão')
check "uma retenção cuja última linha não é OK dispara o problema" wait_trigger "$central_hostid" "$central_trigger" 1 10
show=$(cobrix_problems "$central_hostid")
check "que é o único do host (o de ausência de dados depende dele)" test "$show" = "$central_trigger"
show=$(sender 127.0.0.2 "$ZBX_SERVER_PORT" central-teste cobrix.central.retencao OK)
check "e um OK enviado de 127.0.0.2 é recusado" grep -q "processed: 0; failed: 1" <<<"$show"
check "e não resolve o problema" wait_trigger "$central_hostid" "$central_trigger" 1 3

# --- No password anywhere that other users can read, nor in the values.
sweep_end "$ZBX_SERVER_LOG" "$ZBX_PROXY_LOG"
values=$(for id in "$hostid" "$proxy_hostid"; do
  api history.get "{\"history\": 4, \"itemids\": [\"$(item_id "$id" cobrix.execucao)\"], \"output\": [\"value\"]}"
done)
check "nenhuma senha nos valores enviados" isnt grep -q -F -f "$work/passwords" <<<"$values"
finish envio
