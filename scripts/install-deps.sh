#!/usr/bin/env bash
# Installs what cobrix needs to build, test and run its demo, from the
# packages of this machine's Debian release (12 or 13): every name below is
# the same on both but zabbix_sender's (below), and the metapackages
# postgresql and postgresql-client bring the release's own PostgreSQL. Runs apt-get only when a package is
# missing; recommends are left out on both releases alike.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libmariadb-dev libpq-dev libutf8proc-dev libssl-dev
  libgtest-dev googletest
  mariadb-server mariadb-client postgresql postgresql-client pgbouncer tzdata openssl procps
  # libfaketime, which moves a test run's clock
  faketime
  zabbix-agent dpkg-dev file lintian
  # The real Zabbix of the Zabbix tests (tests/zabbix/). The proxy is not
  # installed: it conflicts with the server, so the test unpacks its package
  # into its own folder.
  zabbix-server-pgsql zabbix-frontend-php php-pgsql php-cli sqlite3 unixodbc odbc-postgresql curl jq locales
  # systemd-analyze, which checks the shipped timer and service; the 7.0
  # template's generator (scripts/zabbix-template.py).
  systemd python3-yaml
)
# zabbix_sender: in zabbix-agent up to Debian 12, a package of its own from
# Debian 13 on.
if [ "$(. /etc/os-release && echo "$VERSION_ID")" -ge 13 ]; then
  packages+=(zabbix-sender)
fi
# Prints the packages of the list that are not installed.
missing_of() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  echo "instalando: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Another apt run on this machine (or root) is waited for, not failed on.
  apt=(apt-get -q -o DPkg::Lock::Timeout=600)
  "${apt[@]}" update
  "${apt[@]}" install -y --no-install-recommends "${missing[@]}"
fi
