#!/usr/bin/env bash
# What the quick start says the provider already has, made in the
# quick-start test's root (run.sh) from the release's own packages, named
# and configured as the guide names them, and nothing of what the guide
# does itself:
# - the Zabbix server with its frontend (Apache, http://localhost/zabbix)
#   and its database, in a PostgreSQL cluster on 5432; the packages' stock
#   configuration, plus what the frontend's setup would have written
#   (zabbix.conf.php) and a peer map for the frontend's user;
# - the central PostgreSQL (the same cluster, pg-central.provedor.example),
#   with TLS from the test CA, logging every connection and statement, so
#   that check.sh sees how the guide's roles connected and what SQL text the
#   server got;
# - the IXC MariaDB (banco-ixc.provedor.example, 3306) with TLS from the
#   test CA, the sample IXC database as ixcprovedor, and the read-only user
#   cobrix, which must connect with TLS; its password, which the provider's
#   IXC administrator hands over, is written for run.sh to type.
# No systemd runs in the root: each daemon starts as "service" starts it,
# with its init script in a clean environment.
#   usage: provider.sh start | stop
set -euo pipefail
state=/var/lib/cobrix-guia-teste
tls=$state/tls
pg_version() { ls /etc/postgresql; }
step() { echo "== $(date +%T) $*"; }

if [ "${1:-}" = stop ]; then
  for daemon in apache2 zabbix-server mariadb postgresql; do service "$daemon" stop || true; done
  exit 0
fi

step os pacotes
scripts/apt.sh update
scripts/apt.sh install -y --no-install-recommends postgresql mariadb-server zabbix-server-pgsql \
  zabbix-frontend-php php-pgsql apache2 libapache2-mod-php locales
step o locale
# The frontend shows its pages in the locale of its user's language.
sed -i 's/^# *\(en_US.UTF-8 UTF-8\)/\1/' /etc/locale.gen
locale-gen

step o PostgreSQL
# PostgreSQL: TLS with the central server's certificate; Zabbix's database
# reached by the server (as zabbix) and the frontend (as www-data) through
# the socket, as role zabbix.
pg=/etc/postgresql/$(pg_version)/main
install -o postgres -g postgres -m 0600 "$tls/pg-central.provedor.example.key" "$pg/servidor.key"
install -o postgres -g postgres -m 0644 "$tls/pg-central.provedor.example.crt" "$pg/servidor.crt"
cat > "$pg/conf.d/provedor.conf" <<EOF
ssl = on
ssl_cert_file = '$pg/servidor.crt'
ssl_key_file = '$pg/servidor.key'
EOF
sed -i '0,/^local/s//local   zabbix          zabbix                                  peer map=zabbix\n&/' "$pg/pg_hba.conf"
printf 'zabbix zabbix zabbix\nzabbix www-data zabbix\n' >> "$pg/pg_ident.conf"
service postgresql start
runuser -u postgres -- createuser zabbix
runuser -u postgres -- createdb -O zabbix -E UTF8 -T template0 zabbix
for part in schema images data; do
  zcat "/usr/share/zabbix-server-pgsql/$part.sql.gz" | runuser -u zabbix -- psql -X -q -v ON_ERROR_STOP=1 zabbix >/dev/null
done
# From here on the server logs every connection and statement, the guide's
# in the central database; Zabbix's own database, which a provider keeps on
# its own server, logs no statement (the frontend writes a secret macro's
# value there, in clear, as Zabbix keeps it).
cat >> "$pg/conf.d/provedor.conf" <<EOF
log_connections = on
log_statement = 'all'
EOF
runuser -u postgres -- psql -X -q -c "ALTER DATABASE zabbix SET log_statement = 'none'"
service postgresql reload

step o MariaDB
# MariaDB: TLS with the IXC server's certificate; the sample data and the reader.
install -o mysql -g mysql -m 0600 "$tls/banco-ixc.provedor.example.key" /etc/mysql/servidor.key
install -o mysql -g mysql -m 0644 "$tls/banco-ixc.provedor.example.crt" /etc/mysql/servidor.crt
# The server machine's own tools, which verify the server's certificate
# from MariaDB 11.4 on (the init script's ping through debian.cnf, the
# client), trust the CA as that machine would, in files and option groups
# that cobrix never reads: its connection still depends on the guide's step.
cat > /etc/mysql/mariadb.conf.d/90-provedor.cnf <<EOF
[mysqld]
ssl_cert = /etc/mysql/servidor.crt
ssl_key = /etc/mysql/servidor.key
[mysql]
ssl-ca = $tls/ca.crt
EOF
sed -i "/^user *= root/a ssl-ca = $tls/ca.crt" /etc/mysql/debian.cnf
service mariadb start
mariadb -e "CREATE DATABASE ixcprovedor CHARACTER SET utf8mb4"
mariadb --default-character-set=utf8mb4 ixcprovedor < sample/ixc_sample.sql
(umask 077; head -c 18 /dev/urandom | base64 > "$state/ixc.senha")
mariadb <<SQL
CREATE USER 'cobrix'@'%' IDENTIFIED BY '$(cat "$state/ixc.senha")' REQUIRE SSL;
GRANT SELECT ON ixcprovedor.* TO 'cobrix'@'%';
SQL

step o Zabbix
# Zabbix: the server with its packaged configuration, reaching its database
# through the socket; the frontend as its setup leaves it.
echo "DBHost=" > /etc/zabbix/zabbix_server.conf.d/provedor.conf
service zabbix-server start
cat > /etc/zabbix/zabbix.conf.php <<'PHP'
<?php
$DB['TYPE'] = 'POSTGRESQL';
$DB['SERVER'] = '';
$DB['PORT'] = '0';
$DB['DATABASE'] = 'zabbix';
$DB['USER'] = 'zabbix';
$DB['PASSWORD'] = '';
$DB['SCHEMA'] = '';
$DB['DOUBLE_IEEE754'] = true;
$ZBX_SERVER = 'localhost';
$ZBX_SERVER_PORT = '10051';
$ZBX_SERVER_NAME = 'provedor';
$IMAGE_FORMAT_DEFAULT = IMAGE_FORMAT_PNG;
PHP
chown root:www-data /etc/zabbix/zabbix.conf.php
chmod 0640 /etc/zabbix/zabbix.conf.php
a2enconf zabbix-frontend-php >/dev/null
service apache2 start
