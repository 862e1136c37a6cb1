# Shared by the benchmark runners (run.sh, ways.sh, many.sh, index.sh, growth.sh); sourced, not run.
# Before sourcing: here (bench/), top (the clone). Functions that record
# write to $results; run files go to $work.
# shellcheck shell=bash disable=SC2154,SC2153,SC2034

# The release's server programs (PG_BIN, MARIADBD, PGBOUNCER).
# shellcheck source=tests/servers/programs.sh
. "$top/tests/servers/programs.sh"

# What the benchmarks need beyond the build: GNU time, gnuplot, and git for
# the builds of a revision (a release's root has no git of its own).
bench_deps() {
  local need=() p
  for p in time gnuplot-nox git; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
  done
  "$top/scripts/install-deps.sh" test
  if [ ${#need[@]} -gt 0 ]; then
    "$top/scripts/apt.sh" update >/dev/null
    "$top/scripts/apt.sh" install -y --no-install-recommends "${need[@]}" >/dev/null
  fi
}

# Configures and builds cobrix and the generator in DIR: from the working
# tree, or, given REVISION (a commit, tag or branch, e.g. HEAD), from that
# revision exported with git archive into a folder outside the checkout
# (${TMPDIR:-/tmp}/cobrix-src-<commit>, removed once built: the archive keeps
# the commit's file times, so exporting it again leaves the build up to date).
# A DIR built from another source (another revision, or the working tree) is
# emptied first. No tests: the benchmark builds do not need GoogleTest.
# Prints nothing; fails when the revision is unknown or the build fails.
#   usage: bench_build DIR [REVISION]
bench_build() {
  local dir=$1 rev=${2:-} src commit had
  src=$top
  if [ -n "$rev" ]; then
    commit=$(git -C "$top" rev-parse --verify --quiet "$rev^{commit}") ||
      { echo "bench_build: revisão desconhecida: $rev" >&2; return 1; }
    src=${TMPDIR:-/tmp}/cobrix-src-$commit
    rm -rf "$src"
    mkdir -p "$src"
    git -C "$top" archive "$commit" | tar -x -C "$src"
  fi
  had=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$dir/CMakeCache.txt" 2>/dev/null || true)
  if [ -n "$had" ] && [ "$had" != "$src" ]; then rm -rf "$dir"; fi
  cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCOBRIX_BUILD_TESTS=OFF >/dev/null
  cmake --build "$dir" --target cobrix cobrix_gen_ixc -j 2 >/dev/null
  if [ -n "$rev" ]; then
    echo "$commit" > "$dir/bench-revision"
    rm -rf "$src"
  else
    rm -f "$dir/bench-revision"
  fi
}

# The builds a before/after script compares: the working tree in
# PREFIX-after and REVISION (default HEAD) in PREFIX-before, PREFIX being
# BENCH_BUILD_PREFIX (default build-bench in the clone). Sets bin_after,
# bin_before, gen (the working tree's generator) and before_commit.
#   usage: bench_builds_before_after [REVISION]
bench_builds_before_after() {
  local prefix=${BENCH_BUILD_PREFIX:-$top/build-bench}
  echo "compilando cobrix: a árvore de trabalho em $prefix-after, ${1:-HEAD} em $prefix-before..." >&2
  bench_build "$prefix-after"
  bench_build "$prefix-before" "${1:-HEAD}"
  bin_after=$prefix-after/driver/cobrix bin_before=$prefix-before/driver/cobrix
  gen=$prefix-after/bench/cobrix_gen_ixc
  before_commit=$(cat "$prefix-before/bench-revision")
}

# The scratch folder (removed at exit) and the servers: reused when
# $servers names a running pair, else started in the scratch folder with
# START_OPTIONS and stopped at exit. Sources the servers' env.
#   usage: bench_setup START_OPTIONS...
bench_setup() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/cobrix-bench.XXXXXX")
  chmod 755 "$work"  # the PostgreSQL server runs as postgres and must reach its folder inside
  own_servers=0
  bench_cleanup_hooks=()
  trap bench_cleanup EXIT
  if [ -z "$servers" ]; then
    servers=$work/servers
    own_servers=1
    "$top/tests/servers/start.sh" "$servers" "$@" >/dev/null
  fi
  # shellcheck disable=SC1091
  . "$servers/env"
  export PGPASSWORD=$PG_PASSWORD PGOPTIONS="-c client_min_messages=warning"
}
bench_cleanup() {
  local hook
  for hook in "${bench_cleanup_hooks[@]}"; do "$hook" || true; done
  [ "$own_servers" = 1 ] && "$top/tests/servers/stop.sh" "$servers"
  rm -rf "$work"
}

mysql_user() { MYSQL_PWD=$MARIADB_PASSWORD mariadb --no-defaults -h "$MARIADB_HOST" -P "$MARIADB_PORT" -u "$MARIADB_USER" --default-character-set=utf8mb4 "$@"; }
mysql_root() { mariadb --no-defaults --socket="$MARIADB_SOCKET" -uroot "$@"; }
pg() { psql -X -q -v ON_ERROR_STOP=1 -h "$PG_HOST" -p "$PG_PORT" -U "$PG_USER" "$@"; }
pg_value() { local db=$1; shift; pg -d "$db" -At "$@"; }
# The time, seconds since the epoch to the microsecond, without starting a
# program (bash's clock; a point whatever the locale's decimal sign).
now() { printf '%s\n' "${EPOCHREALTIME/,/.}"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", b - a }'; }
record() { printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" >> "$results"; }  # group metric rep value

# Fails unless PostgreSQL keeps fsync and synchronous commit on.
require_durable() {
  local fsync sync
  fsync=$(pg_value postgres -c "SHOW fsync") sync=$(pg_value postgres -c "SHOW synchronous_commit")
  if [ "$fsync" != on ] || [ "$sync" = off ]; then
    echo "$1: o PostgreSQL de $servers não é durável (fsync=$fsync, synchronous_commit=$sync);" \
      "inicie-o com tests/servers/start.sh DIR --big --durable" >&2
    exit 2
  fi
}

# Loads the generated IXC database NAME (CUSTOMERS, SEED) unless the server
# already holds one generated today with the same options.
#   usage: ixc_db NAME CUSTOMERS SEED GENERATOR
ixc_db() {
  local name=$1 customers=$2 seed=$3 gen=$4 want have t0
  want="customers=$customers seed=$seed today=$(date +%F)"
  have=$(mysql_root -N -B -e "SELECT info FROM $name.bench_info" 2>/dev/null || true)
  [ "$have" = "$want" ] && return 0
  echo "gerando e carregando $name ($customers clientes, semente $seed)..." >&2
  t0=$(now)
  "$here/make-ixc-db.sh" --env "$servers/env" --database "$name" --customers "$customers" --seed "$seed" \
    --gen "$gen" > /dev/null
  echo "  carga: $(elapsed "$t0" "$(now)") s" >&2
  mysql_root "$name" -e "CREATE TABLE bench_info (info TEXT); INSERT INTO bench_info VALUES ('$want')"
}
ixc_db_name() { if [ "$2" = 1 ]; then echo "ixc_$1"; else echo "ixc_$1_s$2"; fi; }  # CUSTOMERS SEED

# Rows of the overdue-customers query on the IXC database NAME, and the size
# of its result as the client prints it (tab-separated text), in bytes.
overdue_rows() { mysql_root -N -B "$1" < "$here/overdue_query.sql" | wc -l; }
result_bytes() { mysql_user -N -B "$1" < "$here/overdue_query.sql" | wc -c; }

# One normal or debug run of cobrix, its files under PREFIX: .out, .err,
# .time (user, system CPU seconds and peak resident KiB of the process and
# its children, from GNU time), .phases (COBRIX_PHASE_LOG) and .wall.
# Succeeds when a normal run ended with the line OK (a debug run: always).
# Safe to start several at once in the background. cobrix gets none of the
# libpq variables meant for the benchmark's own clients (a pooler refuses
# the startup options that PGOPTIONS adds). It logs in to PostgreSQL as
# PG_ROLE with PG_ROLE_PASSWORD (default: the servers' PG_USER); both
# passwords reach it on a descriptor (--senhas-fd), never in its arguments.
#   usage: cobrix_run BINARY IXC_DB PG_PORT PG_DB ZABBIX_HOST PREFIX [PG_ROLE PG_ROLE_PASSWORD]
cobrix_run() {
  local bin=$1 ixc=$2 port=$3 db=$4 host=$5 prefix=$6 role=${7:-$PG_USER} t0 t1
  local password=${8:-$PG_PASSWORD}
  rm -f "$prefix.phases"
  : > "$prefix.phases"
  # Timed as the floors' clients are, from the shell's clock, with one
  # program more in between: GNU time (the CPU and memory figures).
  t0=${EPOCHREALTIME/,/.}
  (
    unset PGOPTIONS PGPASSWORD
    export COBRIX_PHASE_LOG=$prefix.phases
    exec /usr/bin/time -f '%U %S %M' -o "$prefix.time" \
      "$bin" --senhas-fd=3 descobertaClientes "$MARIADB_HOST" "$MARIADB_PORT" "$MARIADB_USER" "$ixc" \
      "$PG_HOST" "$port" "$db" "$role" "$host" > "$prefix.out" 2> "$prefix.err" \
      3< <(printf '%s\n%s\n' "$MARIADB_PASSWORD" "$password")
  ) || true
  t1=${EPOCHREALTIME/,/.}
  elapsed "$t0" "$t1" > "$prefix.wall"
  [ "$host" = debug ] || [ "$(tail -n 1 "$prefix.out")" = OK ]
}

# Records a run's wall, CPU, peak memory and phases as LABEL.<what>.
#   usage: record_run GROUP LABEL REP PREFIX
record_run() {
  local group=$1 label=$2 rep=$3 prefix=$4 user sys rss phase seconds
  record "$group" "$label.wall" "$rep" "$(cat "$prefix.wall")"
  read -r user sys rss < "$prefix.time"
  record "$group" "$label.cpu" "$rep" "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')"
  record "$group" "$label.rss_mib" "$rep" "$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')"
  while read -r phase seconds; do record "$group" "$label.$phase" "$rep" "$seconds"; done < "$prefix.phases"
}

# The first lines of a failed run, for the failure log.
run_failure() { { cat "$1.out" "$1.err"; } | tail -n 4 | tr '\n' ' '; }

# The error lines ("Erro ...") of a run that still ended with OK (a failed
# index build, a column it could not add), for the failure log; nothing
# when there are none.
run_errors() { grep -h 'Erro' "$1.out" "$1.err" 2>/dev/null | tr '\n' ' ' || true; }

# The rows of installation HOST in ixc_clientes of PG_DB as "COUNT DIGEST
# LATEST": their count, a digest of every column but the run's timestamp, and
# how many carry the latest timestamp (a run stamps all its rows alike, so
# after a run that wrote every row LATEST equals COUNT). The latest timestamp
# is an uncorrelated subquery, computed once: joined as a derived table, it
# was planned (with statistics that had not yet seen the installation) as
# the inner side of a nested loop over a full index scan, once per row.
#   usage: rows_digest PG_DB HOST
rows_digest() {
  pg_value "$1" -v host="$2" <<'SQL'
SELECT count(*) || ' ' || coalesce(md5(string_agg(
         ROW(idcliente, idcontrato, razaosocial, cpfcnpj, contatocliente, valoratraso, titulosatraso,
             statuscliente, datacadastro, datavencimento, filial, cidade, bairro, tipocliente)::text,
         E'\n' ORDER BY idcliente)), '-') || ' '
       || count(*) FILTER (WHERE timestamp = (SELECT max(timestamp) FROM ixc_clientes WHERE ixcidentification = :'host'))
  FROM ixc_clientes
 WHERE ixcidentification = :'host';
SQL
}

# The servers' floors. floor_inputs writes, from the rows that cobrix stored
# in ixc_clientes of PG_DB (in the order it stored them), TAG's literal pages
# ($work/pages_TAG.sql) and its COPY script ($work/copy_TAG.sql).
#   usage: floor_inputs PG_DB TAG
floor_inputs() {
  pg -d "$1" -At -f "$here/pages.sql" > "$work/pages_$2.sql"
  pg -d "$1" -c "\\copy (SELECT * FROM ixc_clientes ORDER BY ctid) TO '$work/rows_$2.copy'"
  sed "s|ROWS_FILE|$work/rows_$2.copy|" "$here/copy_upsert.sql" > "$work/copy_$2.sql"
}
f1() { mysql_user "$1" < "$here/overdue_query.sql" > /dev/null; }                    # IXC_DB
reset_floor() { pg -d "$1" -c "DROP TABLE IF EXISTS ixc_clientes" -f "$here/floor.sql" > /dev/null; }  # PG_DB
f3() { pg -d "$1" -f "$work/pages_$2.sql" > /dev/null; }                             # PG_DB TAG
f2() { pg -d "$1" -f "$work/copy_$2.sql" > /dev/null; }                              # PG_DB TAG

# A new random password (32 hex digits) for a role the benchmark makes.
new_password() { od -An -N16 -tx1 /dev/urandom | tr -d ' \n'; }

# Gives ROLE the password PASSWORD as psql's \password does: the server
# gets only the SCRAM verifier that psql computes, so the password is in no
# statement text. Without a terminal (setsid) psql reads it, twice, from
# its standard input.
#   usage: set_role_password ROLE PASSWORD
set_role_password() {
  printf '%s\n%s\n' "$2" "$2" | setsid -w psql -X -q -h "$PG_HOST" -p "$PG_PORT" -U "$PG_USER" -d postgres \
    -c "\\password $1" > /dev/null 2>&1
}

# The server's execution time (pg_stat_statements, which tests/servers
# loads; reset it with pg_stat_statements_reset()) of the statements run in
# database DB since the last reset, by kind, as "KIND SECONDS" lines:
# sql_pages (the upsert's pages), sql_summary (the summary's lock, delete
# and insert), sql_retention (the retention delete), sql_commit, sql_other.
#   usage: statement_times DB
statement_times() {
  pg_value postgres -F ' ' -v db="$1" <<'SQL'
SELECT kind, round(sum(total_exec_time)::numeric / 1000, 6)
  FROM (SELECT CASE WHEN query ~ '^\s*INSERT INTO ixc_clientes \(' THEN 'sql_pages'
                    WHEN query ~ '^DELETE FROM ixc_clientes WHERE' THEN 'sql_retention'
                    WHEN query ~ 'ixc_clientes_resumo|^UPDATE ixc_clientes_acesso|pg_advisory_xact_lock' THEN 'sql_summary'
                    WHEN query = 'COMMIT' THEN 'sql_commit' ELSE 'sql_other' END AS kind, total_exec_time
          FROM pg_stat_statements s JOIN pg_database d ON d.oid = s.dbid WHERE d.datname = :'db') k
 GROUP BY kind;
SQL
}
