#!/usr/bin/env bash
# Before and after, whole runs side by side on a durable PostgreSQL (fsync
# and synchronous commit on): cobrix built from a git revision (--before,
# default HEAD, the last landed change) and from the working tree, each run
# directly and through the servers' pgbouncer (transaction pooling, pool of
# 2) while other clients keep the pool busy, into an empty table and again
# over full rows, on the same servers and data. Per run: wall, phases
# (upsert, delete, ...), time after the query, the ratio to the floors F1
# (query) + F3 (literal pages) of the same repetition and to the other
# build's same run in the same repetition, whether it ended with OK, whether
# it stored exactly the rows of a direct run and whether the table then has
# the retention index. A run that fails is counted, logged in
# OUT/failures.txt, and the measurement goes on.
#   usage: bench/ways.sh [--scales 100000,1000000] [--reps 3] [--builds before,after] [--before REVISION]
#                        [--routes direct,pooler] [--runs empty,full] [--pool-clients 3] [--pool-rate 300]
#                        [--out DIR] [--servers DIR]   (reuse servers from tests/servers/start.sh DIR --big --durable)
# Writes OUT/table.md and OUT/results.tsv (default OUT: bench/results/ways).
# BENCH_BUILD_PREFIX (default build-bench) names the builds: PREFIX-before, PREFIX-after.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
scales=100000,1000000 reps=3 builds=before,after before=HEAD routes=direct,pooler runs=empty,full
pool_clients=3 pool_rate=300 out=$here/results/ways servers=''
while [ $# -gt 0 ]; do
  case $1 in
    --scales) scales=$2 ;;
    --reps) reps=$2 ;;
    --builds) builds=$2 ;;
    --before) before=$2 ;;
    --routes) routes=$2 ;;
    --runs) runs=$2 ;;
    --pool-clients) pool_clients=$2 ;;
    --pool-rate) pool_rate=$2 ;;
    --out) out=$2 ;;
    --servers) servers=$2 ;;
    *) echo "ways.sh: opção desconhecida $1" >&2; exit 2 ;;
  esac
  shift 2
done
IFS=, read -r -a scale_list <<< "$scales"
IFS=, read -r -a build_list <<< "$builds"
IFS=, read -r -a route_list <<< "$routes"
IFS=, read -r -a run_list <<< "$runs"
[[ $reps =~ ^[1-9][0-9]*$ ]] || { echo "ways.sh: --reps deve ser pelo menos 1" >&2; exit 2; }
[[ $pool_clients =~ ^[0-9]+$ && $pool_rate =~ ^[1-9][0-9]*$ ]] || { echo "ways.sh: --pool-clients/--pool-rate inválidos" >&2; exit 2; }
for s in "${scale_list[@]}"; do [[ $s =~ ^[0-9]+$ ]] || { echo "ways.sh: escala inválida: $s" >&2; exit 2; }; done
for b in "${build_list[@]}"; do
  case $b in before|after) ;; *) echo "ways.sh: versão inválida: $b (before, after)" >&2; exit 2 ;; esac
done
for r in "${route_list[@]}"; do
  case $r in direct|pooler) ;; *) echo "ways.sh: rota inválida: $r (direct, pooler)" >&2; exit 2 ;; esac
done
for r in "${run_list[@]}"; do
  case $r in empty|full) ;; *) echo "ways.sh: execução inválida: $r (empty, full)" >&2; exit 2 ;; esac
done

# shellcheck source=bench/lib.sh
. "$here/lib.sh"
bench_deps
bench_builds_before_after "$before"
declare -A bin=([before]=$bin_before [after]=$bin_after)
reference=$bin_after  # fills the table and gives the rows a run must store

mkdir -p "$out"
out=$(cd "$out" && pwd)
bench_setup --big --durable
require_durable ways.sh
if printf '%s\n' "${route_list[@]}" | grep -qx pooler && [ -z "${PGBOUNCER_PORT:-}" ]; then
  echo "ways.sh: $servers/env não tem PGBOUNCER_PORT (servidores de um start.sh sem pgbouncer)" >&2
  exit 2
fi
results=$out/results.tsv failures=$out/failures.txt
: > "$results"
: > "$failures"
record revision before 0 "$before_commit"

# Other clients on the pool while the runs are measured: short autocommit
# statements over the extended protocol (each one replaces the unnamed
# statement of whichever server connection the pooler lends it), at
# POOL_RATE statements per second in all, through the pooler to the same
# database and user as cobrix. Stopped by PID.
noise_pid=''
noise_stop() {
  [ -n "$noise_pid" ] || return 0
  kill -TERM "$noise_pid" 2>/dev/null || true  # a background job ignores SIGINT
  wait "$noise_pid" 2>/dev/null || true
  noise_pid=''
}
bench_cleanup_hooks+=(noise_stop)
noise_start() {
  [ "$pool_clients" -gt 0 ] && printf '%s\n' "${route_list[@]}" | grep -qx pooler || return 0
  printf '\\set x random(1, 1000000)\nSELECT :x::int + 1;\n' > "$work/noise.sql"
  PGOPTIONS='' "$PG_BIN/pgbench" -n -M extended -c "$pool_clients" -j 1 -R "$pool_rate" -T 86400 \
    -f "$work/noise.sql" -h "$PG_HOST" -p "$PGBOUNCER_PORT" -U "$PG_USER" "$1" > "$work/noise.log" 2>&1 &
  noise_pid=$!
}

stored_rows() {  # rows in ixc_clientes of PG_DB, -1 without the table
  if [ "$(pg_value "$1" -c "SELECT to_regclass('ixc_clientes') IS NULL")" = t ]; then echo -1; return; fi
  pg_value "$1" -c "SELECT count(*) FROM ixc_clientes"
}
has_index() { pg_value "$1" -c "SELECT (to_regclass('ixc_clientes_timestamp_idx') IS NOT NULL)::int"; }  # PG_DB
port_of() { if [ "$1" = pooler ]; then echo "$PGBOUNCER_PORT"; else echo "$PG_PORT"; fi; }

for scale in "${scale_list[@]}"; do
  ixc=ixc_$scale db=bench_ways_$scale floor=bench_floor_$scale host=bench-$scale
  ixc_db "$ixc" "$scale" 1 "$gen"
  overdue=$(overdue_rows "$ixc")
  record "$scale" overdue 0 "$overdue"
  record "$scale" result_mib 0 "$(awk -v b="$(result_bytes "$ixc")" 'BEGIN { printf "%.1f", b / 1048576 }')"
  for d in "$db" "$floor"; do pg -d postgres -c "DROP DATABASE IF EXISTS $d WITH (FORCE)" -c "CREATE DATABASE $d" > /dev/null; done
  # A direct run of the working tree's build, not measured: the rows every
  # run must store, the floors' input, and the caches warmed alike for all.
  cobrix_run "$reference" "$ixc" "$PG_PORT" "$db" "$host" "$work/ref" || {
    echo "ways.sh: a execução de referência ($scale clientes) falhou:" >&2
    cat "$work/ref.out" "$work/ref.err" >&2
    exit 1
  }
  want=$(rows_digest "$db" "$host")
  [ "${want%% *}" = "$overdue" ] || { echo "ways.sh: referência gravou ${want%% *} linhas, esperado $overdue" >&2; exit 1; }
  floor_inputs "$db" "$scale"
  noise_start "$db"
  echo "escala $scale: $overdue clientes em atraso, $reps repetições de ${#build_list[@]} versões × ${#route_list[@]} rotas..." >&2

  for rep in $(seq 1 "$reps"); do
    t0=$(now); f1 "$ixc"; record "$scale" F1 "$rep" "$(elapsed "$t0" "$(now)")"
    reset_floor "$floor"
    for run in empty full; do
      t0=$(now); f3 "$floor" "$scale"; record "$scale" "F3.$run" "$rep" "$(elapsed "$t0" "$(now)")"
    done
    # The order of the builds turns with the repetition, so that neither
    # always runs right after the other.
    n=${#build_list[@]}
    for k in $(seq 0 $((n - 1))); do
      build=${build_list[$(((k + rep - 1) % n))]}
      for route in "${route_list[@]}"; do
        port=$(port_of "$route")
        # Each build's runs start from no table: the before build's full
        # runs never see an index that the after build made.
        pg -d "$db" -c "DROP TABLE IF EXISTS ixc_clientes" > /dev/null
        for run in "${run_list[@]}"; do
          label=$build.$route.$run
          if [ "$run" = full ] && [ "$(stored_rows "$db")" != "$overdue" ]; then
            # Full rows first (the empty run failed or was not asked for),
            # by the same build, directly.
            cobrix_run "${bin[$build]}" "$ixc" "$PG_PORT" "$db" "$host" "$work/fill" ||
              { echo "ways.sh: não foi possível preencher a tabela ($scale clientes, $build)" >&2; exit 1; }
          fi
          if cobrix_run "${bin[$build]}" "$ixc" "$port" "$db" "$host" "$work/run"; then
            record "$scale" "$label.ok" "$rep" 1
            record_run "$scale" "$label" "$rep" "$work/run"
            errors=$(run_errors "$work/run")
            [ -z "$errors" ] || echo "$scale $label rep $rep: OK, mas: $errors" >> "$failures"
            if [ "$(rows_digest "$db" "$host")" = "$want" ]; then
              record "$scale" "$label.rows_ok" "$rep" 1
            else
              record "$scale" "$label.rows_ok" "$rep" 0
              echo "$scale $label rep $rep: linhas gravadas diferem das de uma execução direta" >> "$failures"
            fi
            record "$scale" "$label.index" "$rep" "$(has_index "$db")"
          else
            record "$scale" "$label.ok" "$rep" 0
            echo "$scale $label rep $rep: $(run_failure "$work/run")" >> "$failures"
            echo "  $label (repetição $rep) falhou; registrado em $failures" >&2
          fi
        done
      done
    done
  done
  noise_stop
done

awk -F'\t' -v builds="$builds" -v routes="$routes" -v runs="$runs" -f "$here/stats.awk" -f "$here/ways.awk" \
  "$results" > "$out/table.md"
if [ -s "$failures" ]; then
  { echo; echo "Failed runs, and error lines of runs that ended with OK (OUT/failures.txt):"; echo; sed 's/^/    /' "$failures"; } >> "$out/table.md"
fi
cat "$out/table.md"
echo "gravados: $out/table.md $results" >&2
