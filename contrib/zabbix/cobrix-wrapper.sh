# shellcheck shell=sh
# Shared by cobrix-zabbix and cobrix-agent, which source it: reads a
# credentials file that only root and the zabbix group may read, and starts
# cobrix with both passwords on an inherited descriptor, so that no password
# is ever part of a command line (ps, /proc/PID/cmdline) or of the line that
# Zabbix logs when a check times out.
# The sourcing script sets $wrapper (its name, for messages) first.

# The program beside the wrappers: <prefix>/lib/cobrix/../../bin/cobrix.
# shellcheck disable=SC2034  # read by the sourcing script
cobrix_program=$(dirname "$(readlink -f "$0")")/../../bin/cobrix

# Prints the message on standard error, which Zabbix puts into the item's
# value, and ends the wrapper with status 1.
fail() {
  # shellcheck disable=SC2154  # set by the sourcing script
  echo "$wrapper: $*" >&2
  exit 1
}

# check_private FILE: fails unless FILE can be read here and other users
# can neither read nor change it (it holds passwords and the program to run).
check_private() {
  [ -r "$1" ] || fail "não foi possível ler $1"
  mode=$(stat -L -c %a "$1") || fail "não foi possível ler as permissões de $1"
  case $mode in
    *[234567]) fail "$1 pode ser lido ou alterado por qualquer usuário (modo $mode); use chmod 0640" ;;
  esac
}

# check_host_name HOST: fails unless the Zabbix host HOST can name a file of
# the credentials folder: not empty, no folder part, nothing hidden.
check_host_name() {
  case $1 in
    '' | .* | */*) fail "host do Zabbix inválido: '$1'" ;;
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

# The optional keys that carry the TLS settings of one host's connections:
# the option file that Connector/C reads for the IXC MySQL/MariaDB server
# (instead of the default ones) and libpq's own variables for PostgreSQL.
# shellcheck disable=SC2034  # read by the sourcing script
tls_keys="IXC_OPTION_FILE PGSSLMODE PGSSLROOTCERT PGSSLCERT PGSSLKEY PGSSLCRL PGCONNECT_TIMEOUT"

# export_tls_settings: hands cobrix the TLS settings that read_conf found,
# the values taken literally: IXC_OPTION_FILE as COBRIX_IXC_OPTION_FILE,
# after the same check as the credentials file (an option file may hold a
# password and says which server to trust), the libpq variables under their
# own names.
# shellcheck disable=SC2154  # given and value are set by the eval
export_tls_settings() {
  for key in $tls_keys; do
    eval "given=\${conf_$key+x} value=\${conf_$key-}"
    [ -n "$given" ] || continue
    case $key in
      IXC_OPTION_FILE)
        check_private "$value"
        COBRIX_IXC_OPTION_FILE=$value
        export COBRIX_IXC_OPTION_FILE
        ;;
      *) export "$key=$value" ;;
    esac
  done
}

# run_cobrix PROGRAM IXC_PASSWORD PG_PASSWORD ENTRY...: replaces the wrapper
# by PROGRAM's descriptor form, "--senhas-fd=3 descobertaClientes ENTRY..."
# (the nine connection and host entries without the passwords). The two
# passwords, one per line, reach it on descriptor 3: a here-document, which
# only this user and root can read.
run_cobrix() {
  program=$1 ixc_password=$2 pg_password=$3
  shift 3
  exec "$program" --senhas-fd=3 descobertaClientes "$@" 3<<PASSWORDS
$ixc_password
$pg_password
PASSWORDS
}
