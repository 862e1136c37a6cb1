#!/usr/bin/env bash
# Installs what cobrix needs to build, test and run its demo on Debian 12.
# Runs apt-get only when a package is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libmariadb-dev libpq-dev libutf8proc-dev
  libgtest-dev googletest
  mariadb-server mariadb-client postgresql-15 postgresql-client-15 pgbouncer tzdata
  zabbix-agent dpkg-dev file lintian
)
# The real Zabbix 6.0 of the Zabbix tests (tests/zabbix/), installed without
# recommends: those would add a web server and an SNMP daemon that start on
# their standard ports. The proxy is not installed: it conflicts with the
# server, so the test unpacks its package into its own folder.
zabbix_packages=(
  zabbix-server-pgsql zabbix-frontend-php php-pgsql php-cli sqlite3 unixodbc odbc-postgresql curl jq
)
# Prints the packages of the list that are not installed.
missing_of() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t zabbix_missing < <(missing_of "${zabbix_packages[@]}")
if [ $((${#missing[@]} + ${#zabbix_missing[@]})) -gt 0 ]; then
  echo "instalando: ${missing[*]} ${zabbix_missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  [ ${#missing[@]} = 0 ] || apt-get install -y -q "${missing[@]}"
  [ ${#zabbix_missing[@]} = 0 ] || apt-get install -y -q --no-install-recommends "${zabbix_missing[@]}"
fi
