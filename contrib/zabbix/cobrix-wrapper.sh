# shellcheck shell=sh
# Sourced by cobrix-zabbix, cobrix-agent, cobrix-sender (a run of one Zabbix
# host) and cobrix-central-sender (the central retention), which set
# $wrapper (their name, for messages) first. Checks and reads a settings file
# that only root may change, and starts the program with the passwords on an
# inherited descriptor: no password is ever in a command line (ps,
# /proc/PID/cmdline) or in the line that Zabbix logs when a check times out.

# The programs beside the wrappers: <prefix>/lib/cobrix/../../bin/.
# shellcheck disable=SC2034  # read by the sourcing script
bin_dir=$(dirname "$(readlink -f "$0")")/../../bin
hosts_dir=${COBRIX_CREDENTIALS_DIR:-/etc/zabbix/cobrix}
# The system's trusted CAs, as OpenSSL finds them: the file that
# SSL_CERT_FILE names, else Debian's bundle (package ca-certificates).
system_cas=${SSL_CERT_FILE:-/etc/ssl/certs/ca-certificates.crt}
# The settings files' owner: root; only the tests, run by another user, name it.
owner_uid=${COBRIX_TEST_OWNER_UID:-0}

# Only the settings file's values reach the program: none of libpq's
# variables and no option file from the environment that started us.
unset COBRIX_IXC_OPTION_FILE
for name in $(env | sed -n 's/^\(PG[A-Z_]*\)=.*/\1/p'); do unset "$name"; done

# Prints the message on standard error, which Zabbix puts into the item's
# value, and ends the wrapper with status 1.
fail() {
  # shellcheck disable=SC2154  # set by the sourcing script
  echo "$wrapper: $*" >&2
  exit 1
}

# check_private FILE [MODE]: fails unless FILE can be read here, FILE and its
# folder (those of its target, for a link) belong to root, neither can be
# changed by the group or others, and others cannot read FILE. MODE 0600
# also denies the group reading. It holds passwords and says which program
# to run and which servers to trust.
check_private() {
  file=$1 mode=${2:-0640} forbidden=026 owners=root:zabbix
  [ "$mode" = 0640 ] || forbidden=066 owners=root:root
  [ -r "$file" ] || fail "não foi possível ler $file"
  real=$(readlink -f "$file")
  folder=$(dirname "$real")
  # shellcheck disable=SC2046  # uid and mode of each: four words
  set -- $(stat -c '%u %a' "$real" "$folder") || fail "não foi possível ler as permissões de $file"
  [ "$1" = "$owner_uid" ] || fail "$file não pertence ao root (dono: uid $1); use chown $owners"
  [ $((0$2 & 0$forbidden)) = 0 ] ||
    fail "$file pode ser lido ou alterado por outros usuários (modo $2); use chmod $mode"
  [ "$3" = "$owner_uid" ] || fail "a pasta $folder não pertence ao root (dono: uid $3); use chown $owners"
  [ $((0$4 & 022)) = 0 ] || fail "a pasta $folder pode ser alterada por outros usuários (modo $4); use chmod 0750"
}

# only_host ARG...: fails unless the arguments are one Zabbix host name (the
# agent passes $2..$9 too, empty) that names a file of the hosts' folder and
# is not "debug", for which cobrix prints the customers into the item's value.
only_host() {
  count=0 at=0
  for arg in "$@"; do
    at=$((at + 1))
    [ -z "$arg" ] || count=$at
  done
  [ "$count" -le 1 ] || fail "a chave leva só o host do Zabbix ({HOST.HOST}), recebidos $count parâmetros; conexões e senhas ficam em $hosts_dir/<host>.conf"
  case ${1-} in
    '' | .* | */*) fail "host do Zabbix inválido: '${1-}'" ;;
    debug) fail "o host do Zabbix 'debug' é recusado: com esse nome o cobrix mostraria o relatório dos clientes em vez de gravá-lo" ;;
  esac
}

# read_conf FILE REQUIRED OPTIONAL: sets conf_KEY for every KEY=VALUE line of
# FILE, the value taken literally up to the end of the line; blank lines and
# lines starting with '#' are skipped. REQUIRED and OPTIONAL are lists of
# keys; fails on another key, on a missing required key and on a line that
# is not KEY=VALUE (naming only its number: the line may hold a password).
read_conf() {
  seen=' ' number=0
  while IFS= read -r line || [ -n "$line" ]; do
    number=$((number + 1))
    case $line in
      '' | '#'*) continue ;;
      *=*) ;;
      *) fail "a linha $number de $1 não tem a forma CHAVE=valor" ;;
    esac
    key=${line%%=*}
    case $key in
      '' | *[!A-Z_]*) fail "a linha $number de $1 não começa por uma chave" ;;
    esac
    case " $2 $3 " in
      *" $key "*) ;;
      *) fail "chave desconhecida em $1: $key" ;;
    esac
    eval "conf_$key=\${line#*=}"
    seen="$seen$key "
  done < "$1"
  for key in $2; do
    case $seen in
      *" $key "*) ;;
      *) fail "$1 não define $key" ;;
    esac
  done
}

# libpq's variables that a settings file may set, under their own names.
pg_keys="PGSSLMODE PGSSLROOTCERT PGSSLCERT PGSSLKEY PGSSLCRL PGCONNECT_TIMEOUT PGREQUIREAUTH PGCHANNELBINDING"

# read_host_file HOST: checks and reads $hosts_dir/HOST.conf, one Zabbix
# host's file (cobrix-host.conf.example), whichever way runs it.
read_host_file() {
  host_file=$hosts_dir/$1.conf
  check_private "$host_file"
  read_conf "$host_file" "IXC_HOST IXC_PORT IXC_USER IXC_PASSWORD IXC_DATABASE PG_HOST PG_PORT PG_DB PG_USER PG_PASSWORD" \
    "IXC_TLS PG_TLS IXC_TLS_CA IXC_OPTION_FILE $pg_keys COBRIX ZABBIX_SERVER ZABBIX_PORT"
}

# tls_mode KEY: the value of conf_KEY, verificado when absent; fails on any
# other value than verificado and desligado.
tls_mode() {
  eval "mode=\${conf_$1:-verificado}"
  case $mode in
    verificado | desligado) echo "$mode" ;;
    *) fail "$1 deve ser verificado ou desligado, não '$mode'" ;;
  esac
}

# export_pg_settings KEY...: libpq's environment. PG_TLS verificado (the
# default): PGSSLMODE=verify-full with PGSSLROOTCERT, by default the
# system's CAs ("system" is libpq 16's own name for them). Always PGREQUIREAUTH=scram-sha-256 (libpq 16 and later
# refuse any other way to log in, a password in clear text above all;
# older ones ignore it). Then the file's own libpq lines, over those.
export_pg_settings() {
  tls=$(tls_mode PG_TLS) || exit 1
  if [ "$tls" = verificado ]; then
    PGSSLMODE=verify-full PGSSLROOTCERT=${conf_PGSSLROOTCERT:-$system_cas}
    [ -r "$PGSSLROOTCERT" ] || [ "$PGSSLROOTCERT" = system ] ||
      fail "não foi possível ler as CAs do PostgreSQL, $PGSSLROOTCERT: instale ca-certificates, indique PGSSLROOTCERT, ou PG_TLS=desligado para um servidor sem TLS"
    export PGSSLMODE PGSSLROOTCERT
  fi
  PGREQUIREAUTH=scram-sha-256
  export PGREQUIREAUTH
  for key in "$@"; do
    eval "given=\${conf_$key+x} value=\${conf_$key-}"
    # shellcheck disable=SC2154  # given and value are set by the eval
    [ -z "$given" ] || export "$key=$value"
  done
}

# ixc_options: sets $ixc_options, the option text that Connector/C reads for
# the IXC server: only login plugins that never send the password in clear
# text; with IXC_TLS verificado (the default) the CAs that check the
# server's certificate and name, IXC_TLS_CA or else the system's, but with
# an operator's option file and no IXC_TLS_CA only a demand for TLS, which
# that file's CAs or pinned certificate (ssl-fp) satisfy; last, that file.
ixc_options() {
  tls=$(tls_mode IXC_TLS) || exit 1
  ixc_options="[cobrix]
restricted-auth=mysql_native_password,client_ed25519,parsec"
  ca=${conf_IXC_TLS_CA:-$system_cas} tls_line=ssl-enforce=1
  if [ "$tls" = verificado ] && { [ -n "${conf_IXC_TLS_CA-}" ] || [ -z "${conf_IXC_OPTION_FILE-}" ]; }; then
    [ -r "$ca" ] ||
      fail "não foi possível ler as CAs do IXC, $ca: instale ca-certificates, indique IXC_TLS_CA, ou IXC_TLS=desligado para um servidor sem TLS"
    tls_line=ssl-ca=$ca
  fi
  [ "$tls" = desligado ] || ixc_options="$ixc_options
$tls_line"
  if [ -n "${conf_IXC_OPTION_FILE-}" ]; then
    check_private "$conf_IXC_OPTION_FILE"
    ixc_options="$ixc_options
!include $conf_IXC_OPTION_FILE"
  fi
}

# run_cobrix HOST: replaces the wrapper by the program (COBRIX, or
# <prefix>/bin/cobrix) in its descriptor form, "--senhas-fd=3
# descobertaClientes" and the nine values of the host's file (IXC host,
# port, user, database; PostgreSQL host, port, database, user; HOST). The
# two passwords, one per line, reach it on descriptor 3, the IXC option
# text on descriptor 4 (COBRIX_IXC_OPTION_FILE=/dev/fd/4, read once):
# here-documents, which only this user and root can read.
# shellcheck disable=SC2086,SC2154  # the list of keys splits; conf_KEY come from read_conf
run_cobrix() {
  export_pg_settings $pg_keys
  ixc_options
  COBRIX_IXC_OPTION_FILE=/dev/fd/4
  export COBRIX_IXC_OPTION_FILE
  exec "${conf_COBRIX:-$bin_dir/cobrix}" --senhas-fd=3 descobertaClientes "$conf_IXC_HOST" "$conf_IXC_PORT" \
    "$conf_IXC_USER" "$conf_IXC_DATABASE" "$conf_PG_HOST" "$conf_PG_PORT" "$conf_PG_DB" "$conf_PG_USER" "$1" \
    3<<PASSWORDS 4<<OPTIONS
$conf_IXC_PASSWORD
$conf_PG_PASSWORD
PASSWORDS
$ixc_options
OPTIONS
}

# send_value HOST KEY VALUE SERVER PORT: prints HOST and VALUE's last line
# (for the journal) and sends VALUE to the trapper item KEY of HOST with
# zabbix_sender, on its standard input (not in its command line): one line,
# the value quoted, its backslashes and quotes escaped and its line ends
# written as \n. The status is zabbix_sender's: 0 when Zabbix took it.
send_value() {
  printf '%s: %s: %s\n' "$wrapper" "$1" "$(printf '%s\n' "$3" | tail -n 1)"
  printf '%s\n' "$3" | sed -e 's/\\/\\\\/g' -e 's/"/\\"/g' |
    awk -v host="$1" -v key="$2" 'BEGIN { printf "\"%s\" %s \"", host, key } { printf "%s%s", sep, $0; sep = "\\n" }
                                  END { print "\"" }' |
    zabbix_sender -z "$4" -p "$5" -i -
}
