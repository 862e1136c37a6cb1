#!/usr/bin/env bash
# Starts a throwaway Zabbix (6.0 on Debian 12, 7.0 on Debian 13) from the
# release's own packages, every part on free
# loopback ports with its files in a folder of its own: a PostgreSQL cluster
# with the Zabbix database, zabbix_server, the frontend (PHP's own web
# server), zabbix_proxy (active, SQLite, unpacked from Debian's package of the
# server's exact version) and zabbix_agentd. The cobrix package's tree is
# installed into the folder (DESTDIR), and the server and proxy run the
# external checks from it: the server from the folder Debian's packages use,
# the proxy from the one upstream's packages use. Writes STATE/env with how to
# reach everything; tests/zabbix/stop.sh STATE stops it all by PID.
# Anything missing or not starting fails loudly.
#   usage: start.sh STATE BUILD_DIR PROXY_DEB_CACHE
set -euo pipefail
PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH
state=$1 build=$2 deb_cache=$3
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
# shellcheck source=tests/zabbix/release.sh
. "$here/release.sh"

fail() { echo "zabbix start: FALHA: $*" >&2; exit 1; }
for p in zabbix-server-pgsql zabbix-frontend-php php-pgsql php-cli zabbix-agent sqlite3 unixodbc odbc-postgresql \
         postgresql curl jq locales; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    fail "o pacote $p não está instalado (scripts/install-deps.sh)"
done
id zabbix >/dev/null 2>&1 || fail "o usuário zabbix não existe"

"$here/stop.sh" "$state" >/dev/null 2>&1 || true
mkdir -p "$state"
state=$(cd "$state" && pwd)
# The folder lives under /tmp: the zabbix user must reach it, which a clone
# below a private folder would not allow. Only root and the zabbix group may
# enter it (it holds the test's credentials).
dir=$(mktemp -d /tmp/cobrix-zabbix.XXXXXX)
chgrp zabbix "$dir"
chmod 0710 "$dir"
echo "ZBX_DIR=$dir" > "$state/env"
# A failed start shows the logs and leaves nothing running.
started=0
on_exit() {
  [ $started = 1 ] && return
  for log in "$dir"/{server,proxy,agent}/*.log "$dir"/*.log; do
    [ -s "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }
  done
  "$here/stop.sh" "$state"
}
trap on_exit EXIT

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
  local p
  while :; do
    p=$((20000 + RANDOM % 12000))  # Zabbix takes ports up to 32767
    if ! port_in_use "$p" && ! grep -q "=$p\$" "$state/env"; then echo "$p"; return; fi
  done
}
# wait_for WHAT SECONDS COMMAND...: runs COMMAND until it succeeds.
wait_for() {
  local what=$1 tries=$(($2 * 10)); shift 2
  for _ in $(seq 1 "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  fail "$what não respondeu"
}
# Appends NAME=VALUE to STATE/env.
record() { echo "$1=$2" >> "$state/env"; }
# started DAEMON KEY FOLDER PORT: waits for the PID file and the port of a
# daemon that was just started with FOLDER/DAEMON.conf, and records its PID
# (KEY_PID) for stop.sh.
started() {
  wait_for "o pid do $1" 30 test -s "$3/$1.pid"
  record "$2_PID" "$(cat "$3/$1.pid")"
  wait_for "o $1 (porta $4; $3/$1.log)" 60 port_in_use "$4"
}
# A folder that belongs to the zabbix user, for a daemon's log, PID and sockets.
zabbix_folder() { install -d -o zabbix -g zabbix -m 0750 "$1"; }

# The cobrix package's tree, as cpack would pack it.
DESTDIR=$dir/root cmake --install "$build" --prefix /usr >/dev/null
# Its links in /etc name their targets in /usr by absolute paths, as Debian
# wants between the two; here they point at the same paths inside the tree.
for link in "$dir/root/etc/zabbix/externalscripts"/*; do
  target=$(readlink "$link")
  case $target in /*) ln -sfn "$dir/root$target" "$link" ;; esac
done
chmod -R go+rX "$dir/root"
install -d -o root -g zabbix -m 0750 "$dir/credentials"

# Zabbix's database, reached by the server and the frontend on the cluster's
# socket, where local connections need no password.
"$top/tests/servers/start.sh" "$dir/pg" --postgres-only >/dev/null
# shellcheck disable=SC1091
. "$dir/pg/env"
record ZBX_PG_SOCKET_DIR "$PG_SOCKET_DIR"
record ZBX_PG_PORT "$PG_PORT"
record ZBX_PG_PID "$PG_PID"
pg() { psql -X -q -v ON_ERROR_STOP=1 -h "$PG_SOCKET_DIR" -p "$PG_PORT" "$@"; }
pg -U postgres -d postgres -c "CREATE ROLE zabbix LOGIN" -c "CREATE DATABASE zabbix OWNER zabbix ENCODING 'UTF8'"
for part in schema images data; do
  zcat "/usr/share/zabbix-server-pgsql/$part.sql.gz" | pg -U zabbix -d zabbix >/dev/null
done

# The server. Short cache and proxy periods, so that what the API creates is
# monitored within seconds; few processes, for a small machine.
server_port=$(free_port)
record ZBX_SERVER_PORT "$server_port"
zabbix_folder "$dir/server"
odbc=$dir/odbc
mkdir -p "$odbc"
record ZBX_ODBC_DIR "$odbc"
cat > "$odbc/odbcinst.ini" <<INI
[PostgreSQL Unicode]
Description=PostgreSQL ODBC driver (Unicode version)
Driver=psqlodbcw.so
INI
: > "$odbc/odbc.ini"   # the test writes the DSN
chmod 0644 "$odbc/odbcinst.ini" "$odbc/odbc.ini"
# Where the external checks find their credentials and ODBC its DSN.
export COBRIX_CREDENTIALS_DIR=$dir/credentials ODBCSYSINI=$odbc
cat > "$dir/server/zabbix_server.conf" <<CONF
ListenIP=127.0.0.1
ListenPort=$server_port
SourceIP=127.0.0.1
LogFile=$dir/server/zabbix_server.log
LogFileSize=0
PidFile=$dir/server/zabbix_server.pid
SocketDir=$dir/server
DBHost=$PG_SOCKET_DIR
DBPort=$PG_PORT
DBName=zabbix
DBUser=zabbix
User=zabbix
${zbx_daemon_timeout:+Timeout=$zbx_daemon_timeout}
ExternalScripts=$dir/root/etc/zabbix/externalscripts
CacheUpdateFrequency=1
ProxyDataFrequency=1
HousekeepingFrequency=0
StartPollers=2
StartPollersUnreachable=1
StartPreprocessors=1
StartHistoryPollers=1
StartTrappers=2
StartPingers=0
StartDiscoverers=0
StartHTTPPollers=0
StartTimers=1
StartEscalators=1
StartAlerters=1
StartDBSyncers=1
StartLLDProcessors=1
StartProxyPollers=1
StartODBCPollers=1
StartReportWriters=0
CONF
zabbix_server -c "$dir/server/zabbix_server.conf"
record ZBX_SERVER_LOG "$dir/server/zabbix_server.log"
started zabbix_server ZBX_SERVER "$dir/server" "$server_port"

# The frontend: a copy of Debian's, whose configuration path is fixed at
# /etc/zabbix/zabbix.conf.php, pointed at a configuration of its own.
frontend_port=$(free_port)
record ZBX_FRONTEND_PORT "$frontend_port"
cp -a /usr/share/zabbix "$dir/frontend"
# Its relative links (the fonts of its graphs) lead where Debian's lead.
find "$dir/frontend" -type l | while read -r link; do
  case $(readlink "$link") in
    /*) ;;
    *) ln -sfn "$(readlink -f "/usr/share/zabbix/${link#"$dir/frontend/"}")" "$link" ;;
  esac
done
sed -i "s|'/etc/zabbix/zabbix.conf.php'|'$dir/frontend.conf.php'|" "$dir/frontend/include/classes/core/CConfigFile.php"
grep -q "$dir/frontend.conf.php" "$dir/frontend/include/classes/core/CConfigFile.php" ||
  fail "o caminho da configuração do frontend mudou"
install -m 0600 /dev/null "$dir/frontend.conf.php"
cat > "$dir/frontend.conf.php" <<PHP
<?php
\$DB['TYPE'] = 'POSTGRESQL';
\$DB['SERVER'] = '$PG_SOCKET_DIR';
\$DB['PORT'] = '$PG_PORT';
\$DB['DATABASE'] = 'zabbix';
\$DB['USER'] = 'zabbix';
\$DB['PASSWORD'] = '';
\$DB['SCHEMA'] = '';
\$DB['DOUBLE_IEEE754'] = true;
\$ZBX_SERVER = '127.0.0.1';
\$ZBX_SERVER_PORT = '$server_port';
\$ZBX_SERVER_NAME = 'cobrix-teste';
\$IMAGE_FORMAT_DEFAULT = IMAGE_FORMAT_PNG;
PHP
# It sets the locale of its user's language, en_US: where the machine has
# only C.UTF-8, every page and widget shows an error instead. Its own copy.
mkdir -p "$dir/locale"
localedef -i en_US -f UTF-8 "$dir/locale/en_US.UTF-8" || fail "localedef en_US.UTF-8 falhou"
LOCPATH=$dir/locale php -S "127.0.0.1:$frontend_port" -t "$dir/frontend" >"$dir/frontend.log" 2>&1 </dev/null &
record ZBX_FRONTEND_PID $!
record ZBX_API "http://127.0.0.1:$frontend_port/api_jsonrpc.php"
api_version() {
  curl -sf -H 'Content-Type: application/json-rpc' --data-binary \
    '{"jsonrpc":"2.0","method":"apiinfo.version","params":{},"id":1}' \
    "http://127.0.0.1:$frontend_port/api_jsonrpc.php" | jq -er --arg release "$ZBX_RELEASE." '.result | startswith($release)'
}
wait_for "o frontend (porta $frontend_port; $dir/frontend.log)" 30 api_version

# The proxy: Debian's zabbix-proxy-sqlite3 conflicts with the server's
# package, so its binary comes from the package of the server's exact
# version, fetched once into the cache and unpacked here.
version=$(dpkg-query -W -f='${Version}' zabbix-server-pgsql)
mkdir -p "$deb_cache"
deb=$(find "$deb_cache" -name "zabbix-proxy-sqlite3_*.deb" -newer /usr/sbin/zabbix_server | head -n 1)
if [ -z "$deb" ] || [ "$(dpkg-deb -f "$deb" Version)" != "$version" ]; then
  rm -f "$deb_cache"/zabbix-proxy-sqlite3_*.deb
  apt=$top/scripts/apt.sh
  (cd "$deb_cache" && { "$apt" download "zabbix-proxy-sqlite3=$version" ||
     { "$apt" update && "$apt" download "zabbix-proxy-sqlite3=$version"; }; }) >/dev/null 2>&1 ||
    fail "apt-get download zabbix-proxy-sqlite3=$version falhou"
  deb=$(find "$deb_cache" -name "zabbix-proxy-sqlite3_*.deb" | head -n 1)
fi
dpkg-deb -x "$deb" "$dir/proxy-package"
proxy_bin=$dir/proxy-package/usr/sbin/zabbix_proxy
[ -x "$proxy_bin" ] || fail "o pacote do proxy não tem usr/sbin/zabbix_proxy"
zabbix_folder "$dir/proxy"
zcat "$dir/proxy-package/usr/share/zabbix-proxy-sqlite3/schema.sql.gz" | sqlite3 "$dir/proxy/zabbix_proxy.db"
chown zabbix:zabbix "$dir/proxy/zabbix_proxy.db"
proxy_port=$(free_port)
record ZBX_PROXY_PORT "$proxy_port"
record ZBX_PROXY_NAME cobrix-proxy-teste
record ZBX_PROXY_BIN "$proxy_bin"
cat > "$dir/proxy/zabbix_proxy.conf" <<CONF
ProxyMode=0
Server=127.0.0.1:$server_port
Hostname=cobrix-proxy-teste
ListenIP=127.0.0.1
ListenPort=$proxy_port
SourceIP=127.0.0.1
LogFile=$dir/proxy/zabbix_proxy.log
LogFileSize=0
PidFile=$dir/proxy/zabbix_proxy.pid
SocketDir=$dir/proxy
DBName=$dir/proxy/zabbix_proxy.db
User=zabbix
${zbx_daemon_timeout:+Timeout=$zbx_daemon_timeout}
ExternalScripts=$dir/root/usr/lib/zabbix/externalscripts
$zbx_proxy_settings
DataSenderFrequency=1
HousekeepingFrequency=0
StartPollers=1
StartPollersUnreachable=1
StartPreprocessors=1
StartTrappers=1
StartPingers=0
StartDiscoverers=0
StartHTTPPollers=0
StartDBSyncers=1
StartODBCPollers=1
CONF
"$proxy_bin" -c "$dir/proxy/zabbix_proxy.conf"
record ZBX_PROXY_LOG "$dir/proxy/zabbix_proxy.log"
started zabbix_proxy ZBX_PROXY "$dir/proxy" "$proxy_port"

# The agent, with the shipped user parameter pointed at the installed tree.
agent_port=$(free_port)
record ZBX_AGENT_PORT "$agent_port"
zabbix_folder "$dir/agent"
userparameter=$(grep '^UserParameter=' "$dir/root/usr/share/doc/cobrix/zabbix/userparameter_cobrix.conf")
cat > "$dir/agent/zabbix_agentd.conf" <<CONF
Server=127.0.0.1
ServerActive=
ListenIP=127.0.0.1
ListenPort=$agent_port
SourceIP=127.0.0.1
Hostname=cobrix-agente-teste
LogFile=$dir/agent/zabbix_agentd.log
LogFileSize=0
PidFile=$dir/agent/zabbix_agentd.pid
User=zabbix
${zbx_daemon_timeout:+Timeout=$zbx_daemon_timeout}
StartAgents=2
${userparameter//\/usr\/lib\/cobrix\//$dir/root/usr/lib/cobrix/}
CONF
# It finds the hosts' files where the server does (COBRIX_CREDENTIALS_DIR).
zabbix_agentd -c "$dir/agent/zabbix_agentd.conf"
started zabbix_agentd ZBX_AGENT "$dir/agent" "$agent_port"

# A daemon that lost its port to another process has exited by now.
while IFS='=' read -r name value; do
  case $name in *_PID) kill -0 "$value" 2>/dev/null || fail "$name=$value não está mais rodando" ;; esac
done < "$state/env"
started=1
echo "zabbix up: $(grep -c PID "$state/env") processos em $dir"
