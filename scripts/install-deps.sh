#!/usr/bin/env bash
# Installs what is missing from the packages of this machine's Debian
# release (12 or 13), without recommends:
#   install-deps.sh [build]  what configures and builds the project, its
#                            tests included, and its Debian package
#   install-deps.sh test     that, and the servers and tools of the test
#                            suite, the demo and the benchmarks
# Installing a server (a package whose daemon Debian starts at once) changes
# the machine, so the test set asks first on a terminal, and elsewhere
# refuses, unless it runs in CI (CI=true), in one of the project's roots
# (scripts/root.sh marks them with /etc/cobrix-root), or with
# COBRIX_INSTALL_SERVERS=yes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
set_name=${1:-build}
build=(
  build-essential cmake ninja-build pkg-config dpkg-dev file
  libmariadb-dev libpq-dev libutf8proc-dev libssl-dev libgtest-dev googletest
  # libfaketime, which moves a test run's clock: the configuration needs it
  faketime
)
# The servers the tests start (never as the machine's services: the tests
# run their own copies on free ports), which Debian starts when it installs them.
servers=(mariadb-server postgresql pgbouncer zabbix-server-pgsql zabbix-agent)
tools=(
  mariadb-client postgresql-client tzdata openssl procps lintian
  # The real Zabbix of the Zabbix tests (tests/zabbix/). The proxy is not
  # installed: it conflicts with the server, so the test unpacks its package
  # into its own folder.
  zabbix-frontend-php php-pgsql php-cli sqlite3 unixodbc odbc-postgresql curl jq locales
  # systemd-analyze, which checks the shipped timer and service; the 7.0
  # template's generator (scripts/zabbix-template.py).
  systemd python3-yaml
  # The other release's root; the quick-start test's network namespace and
  # its package proxy (tests/quickstart/).
  debootstrap iproute2 python3
)
case $set_name in
  build) packages=("${build[@]}") ;;
  test)
    packages=("${build[@]}" "${servers[@]}" "${tools[@]}")
    # zabbix_sender: in zabbix-agent up to Debian 12, a package of its own
    # from Debian 13 on.
    if [ "$(. /etc/os-release && echo "$VERSION_ID")" -ge 13 ]; then packages+=(zabbix-sender); fi
    ;;
  *) echo "usage: install-deps.sh [build|test]" >&2; exit 2 ;;
esac

# Prints the packages of the list that are not installed.
missing_of() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
[ ${#missing[@]} -gt 0 ] || exit 0
mapfile -t new_servers < <(printf '%s\n' "${missing[@]}" | grep -Fx -f <(printf '%s\n' "${servers[@]}") || true)
if [ ${#new_servers[@]} -gt 0 ] && [ "${CI:-}" != true ] && [ "${COBRIX_INSTALL_SERVERS:-}" != yes ] &&
   [ ! -f /etc/cobrix-root ]; then
  echo "install-deps.sh: the tests need servers that this machine does not have: ${new_servers[*]}." >&2
  echo "  Debian starts each one as a service of this machine when it installs it (the tests themselves" >&2
  echo "  run their own copies on free ports). With them: ${missing[*]}" >&2
  if [ ! -t 0 ]; then
    echo "install-deps.sh: not installed. Run the command again on a terminal to be asked, or with" >&2
    echo "  COBRIX_INSTALL_SERVERS=yes (in CI: CI=true)." >&2
    exit 1
  fi
  read -r -p "Install them on this machine? [y/N] " answer
  case $answer in
    y | Y | yes | s | S | sim) ;;
    *) echo "install-deps.sh: nothing installed." >&2; exit 1 ;;
  esac
fi
echo "installing: ${missing[*]}"
"$here/apt.sh" update
"$here/apt.sh" install -y --no-install-recommends "${missing[@]}"
