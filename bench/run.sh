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
# BUILD_DIR (default build-bench-after) is where cobrix and the generator are
# built, from the working tree; BENCH_REVISION builds that git revision instead
# (from an exported copy, see bench_build in lib.sh; default folder
# build-bench-before).
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

# shellcheck source=bench/lib.sh
. "$here/lib.sh"
bench_deps
if [ -n "${BENCH_REVISION:-}" ]; then build=${BUILD_DIR:-$top/build-bench-before}; else build=${BUILD_DIR:-$top/build-bench-after}; fi
bench_build "$build" ${BENCH_REVISION:+"$BENCH_REVISION"}
cobrix=$build/driver/cobrix
gen=$build/bench/cobrix_gen_ixc

mkdir -p "$out"
out=$(cd "$out" && pwd)
bench_setup --big
results=$out/results.tsv
: > "$results"

# One run of cobrix, recorded as LABEL; a normal run must end with OK.
#   usage: run_cobrix SCALE REP LABEL ZABBIX_HOST PG_DB
run_cobrix() {
  if ! cobrix_run "$cobrix" "ixc_$1" "$PG_PORT" "$5" "$4" "$work/run"; then
    echo "run.sh: a execução do cobrix ($3, $1 clientes) não terminou com OK:" >&2
    cat "$work/run.out" "$work/run.err" >&2
    exit 1
  fi
  record_run "$1" "$3" "$2" "$work/run"
}

# Times one command's wall clock. usage: timed SCALE METRIC REP command...
timed() {
  local scale=$1 metric=$2 rep=$3 t0 t1
  shift 3
  t0=${EPOCHREALTIME/,/.}
  "$@"
  t1=${EPOCHREALTIME/,/.}
  record "$scale" "$metric" "$rep" "$(elapsed "$t0" "$t1")"
}

IFS=, read -r -a scale_list <<< "$scales"
for scale in "${scale_list[@]}"; do
  [[ $scale =~ ^[0-9]+$ ]] || { echo "run.sh: escala inválida: $scale" >&2; exit 2; }
  # The IXC database, generated for today; kept between invocations on reused servers.
  ixc_db "ixc_$scale" "$scale" 1 "$gen"
  overdue=$(overdue_rows "ixc_$scale")
  result_bytes=$(result_bytes "ixc_$scale")
  record "$scale" overdue 0 "$overdue"
  record "$scale" result_mib 0 "$(awk -v b="$result_bytes" 'BEGIN { printf "%.1f", b / 1048576 }')"
  for db in "bench_$scale" "bench_floor_$scale"; do
    pg -d postgres -c "DROP DATABASE IF EXISTS $db" -c "CREATE DATABASE $db" > /dev/null
  done
  echo "escala $scale: $overdue clientes em atraso, $reps repetições..." >&2

  for rep in $(seq 1 "$reps"); do
    timed "$scale" F1 "$rep" f1 "ixc_$scale"
    pg -d "bench_$scale" -c "DROP TABLE IF EXISTS ixc_clientes" > /dev/null
    run_cobrix "$scale" "$rep" empty "bench-$scale" "bench_$scale"
    if [ ! -f "$work/pages_$scale.sql" ]; then
      # The floors send what cobrix stored, in the order it stored it.
      floor_inputs "bench_$scale" "$scale"
    fi
    run_cobrix "$scale" "$rep" full "bench-$scale" "bench_$scale"
    reset_floor "bench_floor_$scale"
    timed "$scale" F3.empty "$rep" f3 "bench_floor_$scale" "$scale"
    timed "$scale" F3.full "$rep" f3 "bench_floor_$scale" "$scale"
    reset_floor "bench_floor_$scale"
    timed "$scale" F2.empty "$rep" f2 "bench_floor_$scale" "$scale"
    timed "$scale" F2.full "$rep" f2 "bench_floor_$scale" "$scale"
    run_cobrix "$scale" "$rep" debug debug "bench_$scale"
  done
done

"$here/summarize.sh" "$results" "$out"
