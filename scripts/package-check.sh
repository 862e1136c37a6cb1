#!/usr/bin/env bash
# Builds the Debian package from BUILD_DIR, checks it with lintian, installs
# it with dpkg -i, and runs the installed program: the version banner (also
# through the Zabbix external-scripts link) and the demo's debug run on the
# sample IXC database in a throwaway MariaDB. Removes the package again at
# the end unless KEEP_PACKAGE=1.
#   usage: scripts/package-check.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: package-check.sh BUILD_DIR}" && pwd)
fail() { echo "package-check: FALHA: $*" >&2; exit 1; }

cmake --build "$build" --target cobrix cobrix_man cobrix_changelog -j 2 >/dev/null
(cd "$build" && rm -f cobrix_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/cobrix_*.deb)
echo "pacote: $(basename "$deb")"
dpkg-deb -f "$deb" Depends

# Debian's own checks: any error or warning fails, and so does any hardening
# tag, whatever its level (a program built without the distribution's flags).
# Informational tags are shown and tolerated.
echo "\$ lintian -I $(basename "$deb")"
report=$(lintian -I --fail-on none "$deb" 2>&1) || fail "lintian não rodou: $report"
report=$(grep -v '^running with root privileges' <<<"$report" || true)
[ -z "$report" ] || printf '%s\n' "$report"
if grep -qE '^[EW]: |hardening-' <<<"$report"; then fail "lintian: erros, avisos ou falta de hardening"; fi
# lintian does not compare the changelog's latest entry with the package.
version=$(dpkg-deb -f "$deb" Version)
[ "$(dpkg-parsechangelog -l "$top/packaging/changelog" -S Version)" = "$version" ] ||
  fail "packaging/changelog não tem a entrada da versão $version"

servers=$(mktemp -d "${TMPDIR:-/tmp}/cobrix-package-check.XXXXXX")
cleanup() {
  "$top/tests/servers/stop.sh" "$servers"
  [ "${KEEP_PACKAGE:-0}" = 1 ] || dpkg -r cobrix >/dev/null
}
trap cleanup EXIT
dpkg -i "$deb" >/dev/null

for f in /usr/bin/cobrix /usr/share/man/man1/cobrix.1.gz /usr/lib/cobrix/cobrix-agent \
         /usr/share/doc/cobrix/zabbix/cobrix_template.yaml; do
  [ -e "$f" ] || fail "$f não foi instalado"
done
# Both ExternalScripts folders: Debian's server and proxy, and upstream's.
for scripts in /etc/zabbix/externalscripts /usr/lib/zabbix/externalscripts; do
  [ "$(readlink -f "$scripts/cobrix")" = /usr/bin/cobrix ] ||
    fail "$scripts/cobrix não aponta para /usr/bin/cobrix"
  [ "$(readlink -f "$scripts/cobrix-zabbix")" = /usr/lib/cobrix/cobrix-zabbix ] ||
    fail "$scripts/cobrix-zabbix não aponta para /usr/lib/cobrix/cobrix-zabbix"
done
[ -f /usr/lib/cobrix/cobrix-wrapper.sh ] || fail "/usr/lib/cobrix/cobrix-wrapper.sh não foi instalado"

echo '$ /usr/bin/cobrix version'
banner=$(/usr/bin/cobrix version)
printf '%s\n' "$banner"
[ "$(printf '%s\n' "$banner" | tail -n 1)" = "/usr/bin/cobrix  1.0.1" ] || fail "banner inesperado"
/usr/lib/zabbix/externalscripts/cobrix version | grep -qx '/usr/lib/zabbix/externalscripts/cobrix  1.0.1' ||
  fail "o link de external scripts não executa o programa"

"$top/tests/servers/start.sh" "$servers" --mariadb-only >/dev/null
# shellcheck disable=SC1091
. "$servers/env"
mariadb --no-defaults --socket="$MARIADB_SOCKET" -uroot -e "CREATE DATABASE ixc CHARACTER SET utf8mb4"
mariadb --no-defaults --socket="$MARIADB_SOCKET" -uroot --default-character-set=utf8mb4 ixc < "$top/sample/ixc_sample.sql"

echo '$ /usr/bin/cobrix descobertaClientes ... debug'
status=0
report=$(/usr/bin/cobrix descobertaClientes "$MARIADB_HOST" "$MARIADB_PORT" "$MARIADB_USER" "$MARIADB_PASSWORD" ixc \
  127.0.0.1 5432 unused unused unused debug) || status=$?
printf '%s\n' "$report"
[ $status = 0 ] || fail "a execução de depuração terminou com status $status"
[ "$(printf '%s\n' "$report" | head -n 1)" = "Modo debug ativado." ] || fail "o relatório não começa por 'Modo debug ativado.'"
printf '%s\n' "$report" | grep -q "Total de clientes ativos em atraso:" || fail "o relatório não traz os totais"
echo "package-check: OK"
