#!/usr/bin/env bash
# The benchmark: for each scale, on the same generated IXC database and in
# this one invocation, times cobrix's normal run into an empty table and
# again over full rows (wall, CPU, peak memory, phases), the debug run's
# split, and the servers' floors for the same work:
#   F1  the overdue-customers query through the mariadb client, output discarded
#   F3  the same 1000-row INSERT ... ON CONFLICT pages with literal values, sent by psql from a file
#   F2  COPY into a temporary table plus one INSERT ... SELECT ... ON CONFLICT
# Prints a table with min/median/max over the repetitions and the ratios to
# the floors, and writes OUT/table.md, OUT/results.tsv and OUT/bench.png.
#   usage: bench/run.sh [--scales 10000,100000,1000000] [--reps 3] [--out DIR]
#                       [--servers DIR]   (reuse running servers from tests/servers/start.sh DIR --big)
# BUILD_DIR (default build) is where cobrix and the generator are built.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
scales=10000,100000,1000000 reps=3 out=$here/results servers=''
while [ $# -gt 0 ]; do
  case $1 in
    --scales) scales=$2 ;;
    --reps) reps=$2 ;;
    --out) out=$2 ;;
    --servers) servers=$2 ;;
    *) echo "run.sh: opção desconhecida $1" >&2; exit 2 ;;
  esac
  shift 2
done
[ "$reps" -ge 1 ] || { echo "run.sh: --reps deve ser pelo menos 1" >&2; exit 2; }

# What the benchmark needs beyond the build: GNU time and gnuplot.
need=()
for p in time gnuplot-nox; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
"$top/scripts/install-deps.sh"
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}" >/dev/null
fi

build=${BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target cobrix cobrix_gen_ixc -j 2 >/dev/null
cobrix=$build/driver/cobrix
gen=$build/bench/cobrix_gen_ixc

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/cobrix-bench.XXXXXX")
chmod 755 "$work"  # the PostgreSQL server runs as postgres and must reach its folder inside
own_servers=0
cleanup() {
  [ $own_servers = 1 ] && "$top/tests/servers/stop.sh" "$servers"
  rm -rf "$work"
}
trap cleanup EXIT
if [ -z "$servers" ]; then
  servers=$work/servers
  own_servers=1
  "$top/tests/servers/start.sh" "$servers" --big >/dev/null
fi
# shellcheck disable=SC1091
. "$servers/env"
export PGPASSWORD=$PG_PASSWORD PGOPTIONS="-c client_min_messages=warning"

mysql_user() { MYSQL_PWD=$MARIADB_PASSWORD mariadb --no-defaults -h "$MARIADB_HOST" -P "$MARIADB_PORT" -u "$MARIADB_USER" --default-character-set=utf8mb4 "$@"; }
mysql_root() { mariadb --no-defaults --socket="$MARIADB_SOCKET" -uroot "$@"; }
pg() { psql -X -q -v ON_ERROR_STOP=1 -h "$PG_HOST" -p "$PG_PORT" -U "$PG_USER" "$@"; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", b - a }'; }
results=$out/results.tsv
: > "$results"
record() { printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" >> "$results"; }  # scale metric rep value

# Runs cobrix and records wall, CPU and peak memory (GNU time reports the
# largest resident set of the process and its children), and each phase line.
# usage: run_cobrix SCALE REP LABEL ZABBIX_HOST PG_DB
run_cobrix() {
  local scale=$1 rep=$2 label=$3 host=$4 db=$5 t0 t1 user sys rss phase seconds
  rm -f "$work/phases"
  t0=$(now)
  COBRIX_PHASE_LOG=$work/phases /usr/bin/time -f '%U %S %M' -o "$work/time" \
    "$cobrix" descobertaClientes "$MARIADB_HOST" "$MARIADB_PORT" "$MARIADB_USER" "$MARIADB_PASSWORD" "ixc_$scale" \
    "$PG_HOST" "$PG_PORT" "$db" "$PG_USER" "$PG_PASSWORD" "$host" > "$work/out" 2> "$work/err" || true
  t1=$(now)
  if [ "$host" != debug ] && [ "$(tail -n 1 "$work/out")" != OK ]; then
    echo "run.sh: a execução do cobrix ($label, $scale clientes) não terminou com OK:" >&2
    cat "$work/out" "$work/err" >&2
    exit 1
  fi
  record "$scale" "$label.wall" "$rep" "$(elapsed "$t0" "$t1")"
  read -r user sys rss < "$work/time"
  record "$scale" "$label.cpu" "$rep" "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')"
  record "$scale" "$label.rss_mib" "$rep" "$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')"
  while read -r phase seconds; do record "$scale" "$label.$phase" "$rep" "$seconds"; done < "${work}/phases"
}

# Times one command's wall clock. usage: timed SCALE METRIC REP command...
timed() {
  local scale=$1 metric=$2 rep=$3 t0 t1
  shift 3
  t0=$(now)
  "$@"
  t1=$(now)
  record "$scale" "$metric" "$rep" "$(elapsed "$t0" "$t1")"
}

f1() { mysql_user "ixc_$1" < "$here/overdue_query.sql" > /dev/null; }
reset_floor() { pg -d "bench_floor_$1" -c "DROP TABLE IF EXISTS ixc_clientes" -f "$here/floor.sql" > /dev/null; }
f3() { pg -d "bench_floor_$1" -f "$work/pages_$1.sql" > /dev/null; }
f2() { pg -d "bench_floor_$1" -f "$work/copy_$1.sql" > /dev/null; }

IFS=, read -r -a scale_list <<< "$scales"
for scale in "${scale_list[@]}"; do
  [[ $scale =~ ^[0-9]+$ ]] || { echo "run.sh: escala inválida: $scale" >&2; exit 2; }
  # The IXC database, generated for today; kept between invocations on reused servers.
  want="customers=$scale seed=1 today=$(date +%F)"
  have=$(mysql_root -N -B -e "SELECT info FROM ixc_$scale.bench_info" 2>/dev/null || true)
  if [ "$have" != "$want" ]; then
    echo "gerando e carregando ixc_$scale ($scale clientes)..." >&2
    t0=$(now)
    "$here/make-ixc-db.sh" --env "$servers/env" --database "ixc_$scale" --customers "$scale" --gen "$gen" > /dev/null
    echo "  carga: $(elapsed "$t0" "$(now)") s" >&2
    mysql_root "ixc_$scale" -e "CREATE TABLE bench_info (info TEXT); INSERT INTO bench_info VALUES ('$want')"
  fi
  overdue=$(mysql_root -N -B "ixc_$scale" < "$here/overdue_query.sql" | wc -l)
  result_bytes=$(mysql_user -N -B "ixc_$scale" < "$here/overdue_query.sql" | wc -c)
  record "$scale" overdue 0 "$overdue"
  record "$scale" result_mib 0 "$(awk -v b="$result_bytes" 'BEGIN { printf "%.1f", b / 1048576 }')"
  for db in "bench_$scale" "bench_floor_$scale"; do
    pg -d postgres -c "DROP DATABASE IF EXISTS $db" -c "CREATE DATABASE $db" > /dev/null
  done
  echo "escala $scale: $overdue clientes em atraso, $reps repetições..." >&2

  for rep in $(seq 1 "$reps"); do
    timed "$scale" F1 "$rep" f1 "$scale"
    pg -d "bench_$scale" -c "DROP TABLE IF EXISTS ixc_clientes" > /dev/null
    run_cobrix "$scale" "$rep" empty "bench-$scale" "bench_$scale"
    if [ ! -f "$work/pages_$scale.sql" ]; then
      # The floors send what cobrix stored, in the order it stored it.
      pg -d "bench_$scale" -At -f "$here/pages.sql" > "$work/pages_$scale.sql"
      pg -d "bench_$scale" -c "\\copy (SELECT * FROM ixc_clientes ORDER BY ctid) TO '$work/rows_$scale.copy'"
      sed "s|ROWS_FILE|$work/rows_$scale.copy|" "$here/copy_upsert.sql" > "$work/copy_$scale.sql"
    fi
    run_cobrix "$scale" "$rep" full "bench-$scale" "bench_$scale"
    reset_floor "$scale"
    timed "$scale" F3.empty "$rep" f3 "$scale"
    timed "$scale" F3.full "$rep" f3 "$scale"
    reset_floor "$scale"
    timed "$scale" F2.empty "$rep" f2 "$scale"
    timed "$scale" F2.full "$rep" f2 "$scale"
    run_cobrix "$scale" "$rep" debug debug "bench_$scale"
  done
done

"$here/summarize.sh" "$results" "$out"
