#!/usr/bin/env bash
# Test: the Zabbix wrappers cobrix-zabbix, cobrix-agent and cobrix-sender hand cobrix the
# connection values in its descriptor form and both passwords, byte for
# byte, on descriptor 3 and nowhere else; they refuse credentials that other
# users may read or change, malformed or incomplete files and bad host
# names, without repeating a line that may hold a password; cobrix-sender
# hands zabbix_sender the run's value, or the reason for none, as one entry
# that zabbix_sender reads back byte for byte. The program they start and
# zabbix_sender are stand-ins that report what they received.
#   usage: wrapper_test.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
contrib=$(cd "$here/../../contrib/zabbix" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The settings that the wrappers may hand over in the environment: none
# from this shell.
unset COBRIX_IXC_OPTION_FILE
for name in $(env | sed -n 's/^\(PG[A-Z_]*\)=.*/\1/p'); do unset "$name"; done

# The stand-in: its arguments, one per line, the settings it found in its
# environment, then what descriptor 3 held.
cat > "$work/stand-in" <<'SH'
#!/bin/sh
printf 'arg:%s\n' "$@"
env | grep -E '^(COBRIX_IXC_OPTION_FILE|PG[A-Z_]*)=' | LC_ALL=C sort | sed 's/^/env:/'
printf 'fd3:'
cat <&3
SH
chmod 755 "$work/stand-in"

# Passwords that a shell would mangle if it ever evaluated them.
ixc_password=' a$(touch '"$work"'/ran)`x` \ "q" '\''s'\'' *;|& \'
pg_password='$HOME \n %s -- é'
credentials() {  # credentials FILE MODE LINE...
  local file=$1 mode=$2; shift 2
  install -m "$mode" /dev/null "$file"
  printf '%s\n' "$@" > "$file"
}
mkdir "$work/hosts"
credentials "$work/hosts/provedor-a.conf" 0640 "# credenciais" "IXC_PASSWORD=$ixc_password" "" \
  "PG_PASSWORD=$pg_password" "COBRIX=$work/stand-in"

failures=0
expect() {  # expect DESCRIPTION EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'FALHA: %s\n  esperado: %s\n  recebido: %s\n' "$1" "$2" "$3" >&2
    failures=$((failures + 1))
  fi
}
external() { COBRIX_CREDENTIALS_DIR=$work/hosts "$contrib/cobrix-zabbix" "$@" 2>&1 || true; }
nine=(ixc.local 3306 leitor ixcprovedor pg.local 5432 zabbix cobrix)

got=$(external "${nine[@]}" provedor-a)
expect "cobrix-zabbix: entradas e senhas" "$(printf '%s\n' "arg:--senhas-fd=3" arg:descobertaClientes \
  "${nine[@]/#/arg:}" arg:provedor-a "fd3:$ixc_password" "$pg_password")" "$got"
[ ! -e "$work/ran" ] || expect "nenhuma senha é avaliada pelo shell" "" "$(ls "$work/ran")"

expect "arquivo de credenciais ausente" \
  "cobrix-zabbix: não foi possível ler $work/hosts/provedor-b.conf" "$(external "${nine[@]}" provedor-b)"
for host in "" ".oculto" "../provedor-a" "a/b"; do
  expect "host do Zabbix '$host'" "cobrix-zabbix: host do Zabbix inválido: '$host'" "$(external "${nine[@]}" "$host")"
done
expect "contagem de parâmetros" \
  "cobrix-zabbix: esperados 9 parâmetros (host, porta, usuário e banco do IXC; host, porta, banco e usuário do PostgreSQL; host do Zabbix), recebidos 8" \
  "$(external "${nine[@]}")"
for mode in 0644 0642 0604; do
  credentials "$work/hosts/aberto.conf" "$mode" "IXC_PASSWORD=x" "PG_PASSWORD=y" "COBRIX=$work/stand-in"
  expect "modo $mode recusado" \
    "cobrix-zabbix: $work/hosts/aberto.conf pode ser lido ou alterado por qualquer usuário (modo ${mode#0}); use chmod 0640" \
    "$(external "${nine[@]}" aberto)"
done
credentials "$work/hosts/torto.conf" 0600 "IXC_PASSWORD=x" "senha-solta" "PG_PASSWORD=y"
expect "linha sem CHAVE=valor, sem repeti-la" \
  "cobrix-zabbix: a linha 2 de $work/hosts/torto.conf não tem a forma CHAVE=valor" "$(external "${nine[@]}" torto)"
credentials "$work/hosts/torto.conf" 0600 "IXC_PASSWORD=x" "pg password=y"
expect "chave que não é chave" \
  "cobrix-zabbix: a linha 2 de $work/hosts/torto.conf não começa por uma chave" "$(external "${nine[@]}" torto)"
credentials "$work/hosts/torto.conf" 0600 "IXC_PASSWORD=x" "PG_HOST=y" "PG_PASSWORD=z"
expect "chave desconhecida" "cobrix-zabbix: chave desconhecida em $work/hosts/torto.conf: PG_HOST" \
  "$(external "${nine[@]}" torto)"
credentials "$work/hosts/torto.conf" 0600 "IXC_PASSWORD=x"
expect "chave obrigatória ausente" "cobrix-zabbix: $work/hosts/torto.conf não define PG_PASSWORD" \
  "$(external "${nine[@]}" torto)"

# The TLS settings reach the program in its environment, taken literally;
# the MySQL/MariaDB option file is held to the credentials file's rules.
option_file=$work/hosts/ixc.my.cnf
# shellcheck disable=SC2016  # the $HOME in a value is never to be expanded
tls_lines=("IXC_OPTION_FILE=$option_file" "PGSSLMODE=verify-full" 'PGSSLROOTCERT=/etc/pg $HOME/ca.pem' \
  "PGSSLCERT=/etc/pg/c.pem" "PGSSLKEY=/etc/pg/c.key" "PGSSLCRL=/etc/pg/crl.pem" "PGCONNECT_TIMEOUT=10")
# shellcheck disable=SC2016
tls_env=("env:COBRIX_IXC_OPTION_FILE=$option_file" "env:PGCONNECT_TIMEOUT=10" "env:PGSSLCERT=/etc/pg/c.pem" \
  "env:PGSSLCRL=/etc/pg/crl.pem" "env:PGSSLKEY=/etc/pg/c.key" "env:PGSSLMODE=verify-full" \
  'env:PGSSLROOTCERT=/etc/pg $HOME/ca.pem')
credentials "$option_file" 0640 "[client]" "ssl-ca=/etc/ssl/ca-ixc.pem"
credentials "$work/hosts/provedor-tls.conf" 0640 "IXC_PASSWORD=x" "PG_PASSWORD=y" "COBRIX=$work/stand-in" \
  "${tls_lines[@]}"
expect "cobrix-zabbix: configurações de TLS no ambiente" "$(printf '%s\n' "arg:--senhas-fd=3" arg:descobertaClientes \
  "${nine[@]/#/arg:}" arg:provedor-tls "${tls_env[@]}" fd3:x y)" "$(external "${nine[@]}" provedor-tls)"
chmod 0604 "$option_file"
expect "arquivo de opções do IXC que outros usuários leem" \
  "cobrix-zabbix: $option_file pode ser lido ou alterado por qualquer usuário (modo 604); use chmod 0640" \
  "$(external "${nine[@]}" provedor-tls)"
rm "$option_file"
expect "arquivo de opções do IXC ausente" "cobrix-zabbix: não foi possível ler $option_file" \
  "$(external "${nine[@]}" provedor-tls)"
credentials "$option_file" 0640 "[client]" "ssl-ca=/etc/ssl/ca-ixc.pem"

# The agent's wrapper: the PostgreSQL connection from its file, in place,
# and the same TLS settings.
credentials "$work/agent.conf" 0640 "IXC_PASSWORD=$ixc_password" "PG_HOST=pg.local" "PG_PORT=5432" "PG_DB=zabbix" \
  "PG_USER=cobrix" "PG_PASSWORD=$pg_password" "COBRIX=$work/stand-in" "${tls_lines[@]}"
got=$(COBRIX_AGENT_CONF=$work/agent.conf "$contrib/cobrix-agent" ixc.local 3306 leitor ixcprovedor provedor-a 2>&1 || true)
expect "cobrix-agent: entradas, senhas e TLS" "$(printf '%s\n' "arg:--senhas-fd=3" arg:descobertaClientes \
  "${nine[@]/#/arg:}" arg:provedor-a "${tls_env[@]}" "fd3:$ixc_password" "$pg_password")" "$got"

# The timer's wrapper: the connection values from the host's file too, the
# run's output (here the stand-in's, passwords included) sent to
# zabbix_sender on its standard input as one quoted entry.
mkdir "$work/bin"
cat > "$work/bin/zabbix_sender" <<SH
#!/bin/sh
printf '%s\n' "\$*" > "$work/sender-args"
cat > "$work/sender-input"
SH
chmod 755 "$work/bin/zabbix_sender"
# The entry as zabbix_sender reads it: "host" key "value", \\, \" and \n escaped.
sent() {
  perl -0777 -ne 'if (/^"([^"\\]*)" (\S+) "((?:[^"\\]|\\.)*)"\n\z/) {
    my ($host, $key, $value) = ($1, $2, $3); $value =~ s/\\(.)/$1 eq "n" ? "\n" : $1/ge; print "$host $key\n$value" }' "$work/sender-input"
}
sender() {
  rm -f "$work/sender-input" "$work/sender-args"
  PATH=$work/bin:$PATH COBRIX_CREDENTIALS_DIR=$work/hosts "$contrib/cobrix-sender" "$@" 2>&1 || true
}
credentials "$work/hosts/provedor-t.conf" 0640 "IXC_PASSWORD=$ixc_password" "PG_PASSWORD=$pg_password" \
  "COBRIX=$work/stand-in" "IXC_HOST=ixc.local" "IXC_PORT=3306" "IXC_USER=leitor" "IXC_DATABASE=ixcprovedor" \
  "PG_HOST=pg.local" "PG_PORT=5432" "PG_DB=zabbix" "PG_USER=cobrix"
expect "cobrix-sender: o que diz" "cobrix-sender: provedor-t: $pg_password" "$(sender provedor-t)"
expect "cobrix-sender: entradas e senhas, enviadas como um valor" "$(printf '%s\n' "provedor-t cobrix.execucao" \
  "arg:--senhas-fd=3" arg:descobertaClientes "${nine[@]/#/arg:}" arg:provedor-t "fd3:$ixc_password" "$pg_password")" \
  "$(sent)"
expect "cobrix-sender: para o servidor desta máquina" "-z 127.0.0.1 -p 10051 -i -" "$(cat "$work/sender-args")"
printf '%s\n' "ZABBIX_SERVER=10.0.0.9" "ZABBIX_PORT=10052" >> "$work/hosts/provedor-t.conf"
sender provedor-t >/dev/null
expect "cobrix-sender: para o proxy do arquivo" "-z 10.0.0.9 -p 10052 -i -" "$(cat "$work/sender-args")"
chmod 0644 "$work/hosts/provedor-t.conf"
sender provedor-t >/dev/null
expect "cobrix-sender: um arquivo recusado é o valor" "$(printf '%s\n' "provedor-t cobrix.execucao" \
  "cobrix-sender: $work/hosts/provedor-t.conf pode ser lido ou alterado por qualquer usuário (modo 644); use chmod 0640")" \
  "$(sent)"
expect "cobrix-sender: enviado ao padrão" "-z 127.0.0.1 -p 10051 -i -" "$(cat "$work/sender-args")"
expect "cobrix-sender: host inválido" "cobrix-sender: host do Zabbix inválido: '../x'" "$(sender ../x)"

[ "$failures" = 0 ] && echo "wrappers: OK"
