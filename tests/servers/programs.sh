# shellcheck shell=bash
# Sourced by the fixtures (tests/) and the benchmarks (bench/): where this
# machine's Debian release keeps the servers' programs. The one place that
# knows; nothing else names a release's version or path.
#   PG_BIN     the bin folder of the newest PostgreSQL server installed
#              (initdb, pg_ctl, postgres, pg_basebackup, pgbench, psql)
#   MARIADBD   the MariaDB server
#   PGBOUNCER  pgbouncer

PG_BIN=
for _bin in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
  [ -x "$_bin/postgres" ] && { PG_BIN=$_bin; break; }
done
unset _bin
MARIADBD=$(PATH=/usr/sbin:/usr/bin:/sbin:/bin command -v mariadbd || true)
PGBOUNCER=$(PATH=/usr/sbin:/usr/bin:/sbin:/bin command -v pgbouncer || true)

# need_programs NAME...: fails, naming the package, when one of PG_BIN,
# MARIADBD, PGBOUNCER was not found.
need_programs() {
  local name
  for name in "$@"; do
    [ -n "${!name}" ] && continue
    case $name in
      PG_BIN) echo "no PostgreSQL server: install postgresql (scripts/install-deps.sh)" >&2 ;;
      MARIADBD) echo "no MariaDB server: install mariadb-server (scripts/install-deps.sh)" >&2 ;;
      PGBOUNCER) echo "no pgbouncer: install pgbouncer (scripts/install-deps.sh)" >&2 ;;
    esac
    return 1
  done
}
