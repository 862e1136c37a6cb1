#!/usr/bin/env bash
# Installs what cobrix needs to build, test and run its demo on Debian 12.
# Runs apt-get only when a package is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libmariadb-dev libpq-dev libutf8proc-dev
  libgtest-dev googletest
  mariadb-server mariadb-client postgresql-15 postgresql-client-15 pgbouncer tzdata
  zabbix-agent dpkg-dev file
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "instalando: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q "${missing[@]}"
fi
