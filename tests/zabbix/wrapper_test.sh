#!/usr/bin/env bash
# Test: the wrappers, with stand-ins for the programs and zabbix_sender. A
# key takes the Zabbix host alone, never "debug"; the program gets the host
# file's values, the passwords byte for byte on descriptor 3, the IXC option
# text on descriptor 4 and libpq's settings (verified TLS and SCRAM by
# default, the opt-outs, the file's lines over them, nothing inherited).
# Files and folders not root's, or that others may change or read, and
# malformed files are refused without repeating a line. The senders' values
# reach zabbix_sender byte for byte. The central units pass systemd-analyze.
#   usage: wrapper_test.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
contrib=$(cd "$here/../../contrib/zabbix" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"

# The stand-in: its arguments, its settings, descriptors 3 and 4 if given.
cat > "$work/stand-in" <<'SH'
#!/bin/sh
printf 'arg:%s\n' "$@"
env | grep -E '^(COBRIX_IXC_OPTION_FILE|PG[A-Z_]*)=' | LC_ALL=C sort | sed 's/^/env:/'
[ -z "${COBRIX_IXC_OPTION_FILE-}" ] || { printf 'fd3:'; cat <&3; printf 'fd4:'; cat /dev/fd/4; }
SH
mkdir "$work/bin"
cat > "$work/bin/zabbix_sender" <<SH
#!/bin/sh
printf '%s\n' "\$*" > "$work/sender-args"
cat > "$work/sender-input"
SH
chmod 755 "$work/stand-in" "$work/bin/zabbix_sender"
# The system's CAs, as the wrappers find them (OpenSSL's SSL_CERT_FILE).
system_ca=$work/system-ca.pem
: > "$system_ca"

failures=0 owner=$(id -u)
expect() {  # expect DESCRIPTION EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'FALHA: %s\n  esperado: %s\n  recebido: %s\n' "$1" "$2" "$3" >&2
    failures=$((failures + 1))
  fi
}
# wrapper NAME ARG...: its output, with the test's folders, settings
# inherited from whoever started it, and the stand-in zabbix_sender.
wrapper() {
  local name=$1
  shift
  rm -f "$work/sender-input" "$work/sender-args"
  env COBRIX_CREDENTIALS_DIR="$work/hosts" COBRIX_CENTRAL_CONF="$work/central/central.conf" \
    COBRIX_TEST_OWNER_UID="$owner" SSL_CERT_FILE="$system_ca" PATH="$work/bin:$PATH" \
    PGSSLMODE=disable PGHOST=herdado COBRIX_IXC_OPTION_FILE=/herdado "$contrib/$name" "$@" 2>&1 || true
}

# Passwords that a shell would mangle if it ever evaluated them.
ixc_password=' a$(touch '"$work"'/ran)`x` \ "q" '\''s'\'' *;|& \'
pg_password='$HOME \n %s -- é'
values=(ixc.local 3306 leitor ixcprovedor pg.local 5432 zabbix cobrix)
mkdir -m 0750 "$work/hosts"
host_file() {  # host_file NAME MODE [LINE...]: the host's connection values, then LINE...
  local file=$work/hosts/$1.conf mode=$2
  shift 2
  install -m "$mode" /dev/null "$file"
  printf '%s\n' "# conexões" IXC_HOST=ixc.local IXC_PORT=3306 IXC_USER=leitor "IXC_PASSWORD=$ixc_password" \
    IXC_DATABASE=ixcprovedor "" PG_HOST=pg.local PG_PORT=5432 PG_DB=zabbix PG_USER=cobrix \
    "PG_PASSWORD=$pg_password" "COBRIX=$work/stand-in" "$@" > "$file"
}
auth='[cobrix]|restricted-auth=mysql_native_password,client_ed25519,parsec'
verified="PGREQUIREAUTH=scram-sha-256 PGSSLMODE=verify-full PGSSLROOTCERT=$system_ca"
# shellcheck disable=SC2086  # one line per setting
verified_env=$(printf 'env:%s\n' $verified)

# --- Every way: the values and passwords in place, TLS verified by default.
host_file provedor-a 0640
for way in cobrix-zabbix cobrix-agent; do
  expect "$way: valores, senhas e opções" "$(printf '%s\n' arg:--senhas-fd=3 arg:descobertaClientes \
    "${values[@]/#/arg:}" arg:provedor-a env:COBRIX_IXC_OPTION_FILE=/dev/fd/4 "$verified_env" \
    "fd3:$ixc_password" "$pg_password" "fd4:[cobrix]" "${auth#*|}" "ssl-ca=$system_ca")" \
    "$(wrapper $way provedor-a "" "" "" "" "" "" "" "")"
done
[ ! -e "$work/ran" ] || expect "nenhuma senha é avaliada pelo shell" "" "$(ls "$work/ran")"

# --- Keys that carry more than the host, and names that cannot be one.
key_refused="a chave leva só o host do Zabbix ({HOST.HOST}), recebidos"
key_tail="parâmetros; conexões e senhas ficam em $work/hosts/<host>.conf"
for way in cobrix-zabbix cobrix-agent cobrix-sender; do
  expect "$way: chave antiga" "$way: $key_refused 9 $key_tail" "$(wrapper $way "${values[@]}" provedor-a)"
  expect "$way: debug" "$way: o host do Zabbix 'debug' é recusado: com esse nome o cobrix mostraria o relatório dos clientes em vez de gravá-lo" \
    "$(wrapper $way debug)"
done
expect "cobrix-agent: parâmetro não vazio depois do host" "cobrix-agent: $key_refused 3 $key_tail" \
  "$(wrapper cobrix-agent provedor-a "" x "" "" "" "" "" "")"
for host in "" ".oculto" "../provedor-a" "a/b"; do
  expect "host do Zabbix '$host'" "cobrix-zabbix: host do Zabbix inválido: '$host'" "$(wrapper cobrix-zabbix "$host")"
done

# --- Files and folders: root's (here: this test's user's), changed by no
# one else, the host's file read by no one else. A line is never repeated.
refused() {  # refused DESCRIPTION HOST EXPECTED_AFTER_WRAPPER_NAME
  expect "$1" "cobrix-zabbix: $3" "$(wrapper cobrix-zabbix "$2")"
}
refused "arquivo ausente" provedor-b "não foi possível ler $work/hosts/provedor-b.conf"
for mode in 0644 0660 0602; do
  host_file aberto "$mode"
  refused "arquivo no modo $mode" aberto \
    "$work/hosts/aberto.conf pode ser lido ou alterado por outros usuários (modo ${mode#0}); use chmod 0640"
done
for mode in 0770 0757; do
  chmod "$mode" "$work/hosts"
  refused "pasta no modo $mode" provedor-a \
    "a pasta $work/hosts pode ser alterada por outros usuários (modo ${mode#0}); use chmod 0750"
done
chmod 0750 "$work/hosts"
expect "arquivo de outro dono" \
  "cobrix-zabbix: $work/hosts/provedor-a.conf não pertence ao root (dono: uid $(id -u)); use chown root:zabbix" \
  "$(owner=4242 && wrapper cobrix-zabbix provedor-a)"
for row in "IXC_PASSWORD=x|senha-solta|a linha 15 de FILE não tem a forma CHAVE=valor" \
  "pg password=y|a linha 14 de FILE não começa por uma chave" "PGHOST=y|chave desconhecida em FILE: PGHOST" \
  "IXC_TLS=sim|IXC_TLS deve ser verificado ou desligado, não 'sim'" \
  "PG_TLS=off|PG_TLS deve ser verificado ou desligado, não 'off'"; do
  IFS='|' read -r -a lines <<<"$row"
  host_file torto 0640 "${lines[@]:0:${#lines[@]}-1}"
  refused "arquivo recusado: ${lines[0]}" torto "${lines[-1]//FILE/$work/hosts/torto.conf}"
done
printf '%s\n' "PG_HOST=a" "COBRIX=$work/stand-in" > "$work/hosts/torto.conf"
refused "chave obrigatória ausente" torto "$work/hosts/torto.conf não define IXC_HOST"

# --- TLS: the option text (descriptor 4) and libpq's environment that each
# file makes; @FILE@ is the operator's option file, @CA@ another CA.
option_file=$work/hosts/ixc.my.cnf
install -m 0640 /dev/null "$option_file"
ca=$work/ca.pem
: > "$ca"
tls_case() {  # tls_case DESCRIPTION LINES ENV OPTIONS: LINES and OPTIONS split at '|'
  local lines=() got
  [ -z "$2" ] || IFS='|' read -r -a lines <<<"${2//@FILE@/$option_file}"
  host_file tls 0640 "${lines[@]//@CA@/$ca}"
  got=$(wrapper cobrix-zabbix tls)
  expect "$1: libpq" "$3" "$(sed -n 's/^env:\(PG\)/\1/p' <<<"$got" | paste -sd' ')"
  expect "$1: opções do IXC" "${4//@FILE@/$option_file}" "$(sed -n '/^fd4:/,$p' <<<"$got" | sed 's/^fd4://' | paste -sd'|')"
}
tls_case "CAs indicadas" "IXC_TLS_CA=@CA@|PGSSLROOTCERT=@CA@" \
  "PGREQUIREAUTH=scram-sha-256 PGSSLMODE=verify-full PGSSLROOTCERT=$ca" "$auth|ssl-ca=$ca"
tls_case "arquivo de opções do operador, depois das do wrapper" "IXC_OPTION_FILE=@FILE@" "$verified" \
  "$auth|ssl-enforce=1|!include @FILE@"
tls_case "arquivo de opções e CA" "IXC_OPTION_FILE=@FILE@|IXC_TLS_CA=@CA@" "$verified" \
  "$auth|ssl-ca=$ca|!include @FILE@"
tls_case "TLS desligado" "IXC_TLS=desligado|PG_TLS=desligado|PGSSLROOTCERT=@CA@" \
  "PGREQUIREAUTH=scram-sha-256 PGSSLROOTCERT=$ca" "$auth"
# shellcheck disable=SC2016  # a $HOME in a value is never expanded
tls_case "variáveis da libpq do arquivo, literais" \
  'PGSSLMODE=require|PGREQUIREAUTH=md5|PGCHANNELBINDING=require|PGSSLCERT=/c $HOME|PGSSLKEY=/k|PGSSLCRL=/l|PGCONNECT_TIMEOUT=9' \
  "PGCHANNELBINDING=require PGCONNECT_TIMEOUT=9 PGREQUIREAUTH=md5 PGSSLCERT=/c \$HOME PGSSLCRL=/l PGSSLKEY=/k PGSSLMODE=require PGSSLROOTCERT=$system_ca" \
  "$auth|ssl-ca=$system_ca"
chmod 0660 "$option_file"
host_file tls 0640 "IXC_OPTION_FILE=$option_file"
refused "arquivo de opções que o grupo altera" tls \
  "$option_file pode ser lido ou alterado por outros usuários (modo 660); use chmod 0640"
rm "$system_ca"
host_file tls 0640 PG_TLS=desligado
refused "sem as CAs do sistema: IXC" tls \
  "não foi possível ler as CAs do IXC, $system_ca: instale ca-certificates, indique IXC_TLS_CA, ou IXC_TLS=desligado para um servidor sem TLS"
host_file tls 0640 "IXC_TLS_CA=$ca"
refused "sem as CAs do sistema: PostgreSQL" tls \
  "não foi possível ler as CAs do PostgreSQL, $system_ca: instale ca-certificates, indique PGSSLROOTCERT, ou PG_TLS=desligado para um servidor sem TLS"
: > "$system_ca"

# --- The timer: the run's output, passwords included here, sent to
# zabbix_sender on its standard input as one quoted entry.
sent() {  # the entry as zabbix_sender reads it: "host" key "value", \\, \" and \n escaped
  perl -0777 -ne 'if (/^"([^"\\]*)" (\S+) "((?:[^"\\]|\\.)*)"\n\z/) {
    my ($host, $key, $value) = ($1, $2, $3); $value =~ s/\\(.)/$1 eq "n" ? "\n" : $1/ge; print "$host $key\n$value" }' "$work/sender-input"
}
host_file provedor-t 0640 IXC_TLS=desligado PG_TLS=desligado
expect "cobrix-sender: o que diz" "cobrix-sender: provedor-t: ${auth#*|}" "$(wrapper cobrix-sender provedor-t)"
expect "cobrix-sender: o valor enviado" "$(printf '%s\n' "provedor-t cobrix.execucao" "arg:--senhas-fd=3" \
  arg:descobertaClientes "${values[@]/#/arg:}" arg:provedor-t env:COBRIX_IXC_OPTION_FILE=/dev/fd/4 \
  env:PGREQUIREAUTH=scram-sha-256 "fd3:$ixc_password" "$pg_password" "fd4:[cobrix]" "${auth#*|}")" "$(sent)"
expect "cobrix-sender: para o servidor desta máquina" "-z 127.0.0.1 -p 10051 -i -" "$(cat "$work/sender-args")"
printf '%s\n' "ZABBIX_SERVER=10.0.0.9" "ZABBIX_PORT=10052" >> "$work/hosts/provedor-t.conf"
wrapper cobrix-sender provedor-t >/dev/null
expect "cobrix-sender: para o proxy do arquivo" "-z 10.0.0.9 -p 10052 -i -" "$(cat "$work/sender-args")"
chmod 0644 "$work/hosts/provedor-t.conf"
wrapper cobrix-sender provedor-t >/dev/null
expect "cobrix-sender: um arquivo recusado é o valor" "$(printf '%s\n' "provedor-t cobrix.execucao" \
  "cobrix-sender: $work/hosts/provedor-t.conf pode ser lido ou alterado por outros usuários (modo 644); use chmod 0640")" \
  "$(sent)"

# --- The central retention: the owner's libpq lines in the environment of
# cobrix-central (a stand-in), its output sent to ZABBIX_HOST.
mkdir -m 0755 "$work/central"
install -m 0600 /dev/null "$work/central/central.conf"
printf '%s\n' PGHOST=pg.central PGDATABASE=cobrix PGUSER=dono "PGPASSWORD=$pg_password" ZABBIX_HOST=central \
  ZABBIX_SERVER=10.0.0.9 "COBRIX_CENTRAL=$work/stand-in" > "$work/central/central.conf"
expect "cobrix-central-sender: o que diz" "cobrix-central-sender: central: env:PGUSER=dono" \
  "$(wrapper cobrix-central-sender)"
expect "cobrix-central-sender: o valor enviado" "$(printf '%s\n' "central cobrix.central.retencao" arg:retention \
  env:PGDATABASE=cobrix env:PGHOST=pg.central "env:PGPASSWORD=$pg_password" "$verified_env" env:PGUSER=dono)" \
  "$(sent)"
expect "cobrix-central-sender: para o servidor do arquivo" "-z 10.0.0.9 -p 10051 -i -" "$(cat "$work/sender-args")"
chmod 0640 "$work/central/central.conf"
expect "cobrix-central-sender: arquivo que o grupo lê, nada enviado" \
  "cobrix-central-sender: $work/central/central.conf pode ser lido ou alterado por outros usuários (modo 640); use chmod 0600|" \
  "$(wrapper cobrix-central-sender)|$(cat "$work/sender-input" 2>/dev/null)"

# --- The central units, against this release's own units.
mkdir -p "$work/root/usr/lib/cobrix" "$work/root/usr/lib/systemd"
cp -a /usr/lib/systemd/system "$work/root/usr/lib/systemd/"
cp "$contrib"/cobrix-central-retencao.* "$work/root/usr/lib/systemd/system/"
cp "$contrib/cobrix-central-sender" "$work/root/usr/lib/cobrix/"
expect "systemd-analyze verify: unidades da retenção central" "" \
  "$(systemd-analyze verify --root="$work/root" --man=no cobrix-central-retencao.timer cobrix-central-retencao.service 2>&1)"

[ "$failures" = 0 ] && echo "wrappers: OK"
