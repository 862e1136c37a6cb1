#!/usr/bin/env bash
# Table growth over repeated runs, on a durable PostgreSQL (fsync on): one
# installation runs RUNS times in a row into one ixc_clientes (the first run
# into no table, every later one over its full rows), with autovacuum as
# shipped except autovacuum_naptime (NAPTIME, set with ALTER SYSTEM and
# pg_reload_conf for the measurement and restored afterwards), for the
# working tree's build ("after", which gives the table its retention index)
# and for a git revision ("before", default HEAD, without it). After every
# run: the table's total size (pg_total_relation_size), its heap and each
# index (pg_relation_size), live and dead rows, the updates so far and how
# many were HOT, and autovacuum's passes over the table. Every run must end
# with OK and leave exactly the installation's rows, all stamped by it.
# VARIANTS (';'-separated NAME:OPTION=VALUE,...) repeat the measurement with
# table storage options (ALTER TABLE ixc_clientes SET (...), after run 1),
# e.g. 'av:autovacuum_vacuum_scale_factor=0,autovacuum_vacuum_threshold=5000'.
#   usage: bench/growth.sh [--customers 100000] [--runs 30] [--builds after,before] [--before REVISION]
#                          [--naptime 1s] [--pause SECONDS] [--variants VARIANTS] [--out DIR]
#                          [--servers DIR]   (reuse servers from tests/servers/start.sh DIR --big --durable)
# Writes OUT/table.md, OUT/results.tsv and OUT/growth.png (default OUT: bench/results/growth).
# BENCH_BUILD_PREFIX (default build-bench) names the builds: PREFIX-before, PREFIX-after.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
customers=100000 runs=30 builds=after,before before=HEAD naptime=1s pause=0 variants=''
out=$here/results/growth servers=''
while [ $# -gt 0 ]; do
  case $1 in
    --customers) customers=$2 ;;
    --runs) runs=$2 ;;
    --builds) builds=$2 ;;
    --before) before=$2 ;;
    --naptime) naptime=$2 ;;
    --pause) pause=$2 ;;
    --variants) variants=$2 ;;
    --out) out=$2 ;;
    --servers) servers=$2 ;;
    *) echo "growth.sh: opção desconhecida $1" >&2; exit 2 ;;
  esac
  shift 2
done
for value in "$customers" "$runs"; do
  [[ $value =~ ^[1-9][0-9]*$ ]] || { echo "growth.sh: valor inválido: $value" >&2; exit 2; }
done
[[ $pause =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "growth.sh: --pause inválido: $pause" >&2; exit 2; }
[[ $naptime =~ ^[0-9]+(ms|s|min)?$ ]] || { echo "growth.sh: --naptime inválido: $naptime" >&2; exit 2; }
IFS=, read -r -a build_list <<< "$builds"
for b in "${build_list[@]}"; do
  case $b in before|after) ;; *) echo "growth.sh: versão inválida: $b (before, after)" >&2; exit 2 ;; esac
done
# The variants: "" (as shipped) first, then NAME:OPTIONS each.
variant_names=('') variant_options=('')
if [ -n "$variants" ]; then
  IFS=';' read -r -a specs <<< "$variants"
  for spec in "${specs[@]}"; do
    [[ $spec =~ ^([a-z0-9_-]+):([a-z_]+=[A-Za-z0-9_.]+(,[a-z_]+=[A-Za-z0-9_.]+)*)$ ]] ||
      { echo "growth.sh: variante inválida: $spec (NOME:OPÇÃO=VALOR,...)" >&2; exit 2; }
    variant_names+=("${BASH_REMATCH[1]}") variant_options+=("${BASH_REMATCH[2]}")
  done
fi

# shellcheck source=bench/lib.sh
. "$here/lib.sh"
bench_deps
bench_builds_before_after "$before"
declare -A bin=([before]=$bin_before [after]=$bin_after)

mkdir -p "$out"
out=$(cd "$out" && pwd)
bench_setup --big --durable
require_durable growth.sh
results=$out/results.tsv failures=$out/failures.txt
: > "$results"
: > "$failures"
record revision before 0 "$before_commit"
db=bench_growth host=isp-growth
ixc=$(ixc_db_name "$customers" 1)
ixc_db "$ixc" "$customers" 1 "$gen"
overdue=$(overdue_rows "$ixc")
record all overdue 0 "$overdue"
pg -d postgres -c "DROP DATABASE IF EXISTS $db WITH (FORCE)" -c "CREATE DATABASE $db" > /dev/null

# autovacuum_naptime for the measurement, put back as it was (the value that
# ALTER SYSTEM had set, or none) when the script ends.
naptime_was=$(pg_value postgres -c "SELECT setting FROM pg_file_settings WHERE name = 'autovacuum_naptime' AND sourcefile LIKE '%postgresql.auto.conf' AND applied ORDER BY seqno DESC LIMIT 1")
naptime_restore() {
  if [ -n "$naptime_was" ]; then
    echo "ALTER SYSTEM SET autovacuum_naptime = :'v';" | pg -d postgres -v v="$naptime_was" > /dev/null
  else
    pg -d postgres -c "ALTER SYSTEM RESET autovacuum_naptime" > /dev/null
  fi
  pg -d postgres -c "SELECT pg_reload_conf()" > /dev/null
}
bench_cleanup_hooks+=(naptime_restore)
echo "ALTER SYSTEM SET autovacuum_naptime = :'v';" | pg -d postgres -v v="$naptime" > /dev/null
pg -d postgres -c "SELECT pg_reload_conf()" > /dev/null
for _ in $(seq 1 50); do  # a new session sees the setting once the server has reloaded
  [ "$(echo "SELECT current_setting('autovacuum_naptime')::interval = :'v'::interval;" | pg_value postgres -v v="$naptime")" = t ] && break
  sleep 0.1
done
{ echo "autovacuum settings during the measurement:"
  pg_value postgres -F ' = ' -c "SELECT name, setting || coalesce(' ' || unit, '') FROM pg_settings WHERE name LIKE 'autovacuum%' ORDER BY name"
} > "$out/settings.txt"

# The table's sizes and counters after a run, recorded under GROUP for RUN
# (metric names with PREFIX before them).
#   usage: sizes GROUP RUN [PREFIX]
sizes() {
  local name bytes
  while IFS='|' read -r name bytes; do
    record "$1" "${3:-}$name" "$2" "$bytes"
  done < <(pg_value "$db" <<'SQL'
SELECT 'total_bytes|' || pg_total_relation_size('ixc_clientes')
UNION ALL SELECT 'heap_bytes|' || pg_relation_size('ixc_clientes')
UNION ALL SELECT CASE WHEN c.relname = 'ixc_clientes_timestamp_idx' THEN 'retention_idx_bytes'
                      WHEN i.indisunique THEN 'key_idx_bytes' ELSE c.relname || '_bytes' END
                 || '|' || pg_relation_size(c.oid)
  FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid WHERE i.indrelid = 'ixc_clientes'::regclass
UNION ALL SELECT x.k || '|' || x.v FROM pg_stat_user_tables s,
  LATERAL (VALUES ('live_rows', s.n_live_tup), ('dead_rows', s.n_dead_tup), ('updates', s.n_tup_upd),
                  ('hot_updates', s.n_tup_hot_upd), ('autovacuums', s.autovacuum_count)) x(k, v)
 WHERE s.relid = 'ixc_clientes'::regclass;
SQL
)
}

for build in "${build_list[@]}"; do
  for k in "${!variant_names[@]}"; do
    group=$build${variant_names[$k]:+:${variant_names[$k]}}
    record "$group" options 0 "${variant_options[$k]:-as shipped}"
    echo "crescimento: $group, $runs execuções de $customers clientes ($overdue em atraso)..." >&2
    pg -d "$db" -c "DROP TABLE IF EXISTS ixc_clientes" > /dev/null
    want=''
    for run in $(seq 1 "$runs"); do
      ok=1
      cobrix_run "${bin[$build]}" "$ixc" "$PG_PORT" "$db" "$host" "$work/run" || ok=0
      record "$group" run.ok "$run" "$ok"
      if [ "$ok" = 1 ]; then
        record_run "$group" run "$run" "$work/run"
        errors=$(run_errors "$work/run")
        [ -z "$errors" ] || echo "$group run $run: OK, mas: $errors" >> "$failures"
      else
        echo "$group run $run: $(run_failure "$work/run")" >> "$failures"
        echo "  $group: a execução $run não terminou com OK" >&2
      fi
      got=$(rows_digest "$db" "$host")
      if [ -z "$want" ]; then
        want=$got  # run 1's rows: what every later run must leave
        [ "${got%% *}" = "$overdue" ] && [ "${got##* }" = "$overdue" ] || want="$overdue ? $overdue"
      fi
      if [ "$got" = "$want" ]; then
        record "$group" run.rows_ok "$run" 1
      else
        record "$group" run.rows_ok "$run" 0
        echo "$group run $run: linhas (contagem resumo carimbadas) '$got', esperado '$want'" >> "$failures"
      fi
      if [ "$run" = 1 ] && [ -n "${variant_options[$k]}" ]; then
        pg -d "$db" -c "ALTER TABLE ixc_clientes SET (${variant_options[$k]})" > /dev/null
      fi
      sizes "$group" "$run"
      [ "$pause" = 0 ] || sleep "$pause"
    done
    # The last run's counters, once its session's statistics have surely arrived.
    sleep 1
    sizes "$group" 0 final.
  done
done

awk -F'\t' -v runs="$runs" -v naptime="$naptime" -v customers="$customers" -v plotdata="$out/growth.dat" \
  -f "$here/stats.awk" -f "$here/growth.awk" "$results" > "$out/table.md"
if [ -s "$failures" ]; then
  { echo; echo "Failures (OUT/failures.txt):"; echo; sed 's/^/    /' "$failures"; } >> "$out/table.md"
fi
cat "$out/table.md"
ngroups=$(grep -c '^run ' "$out/growth.dat" || true)
gnuplot <<GP
set terminal pngcairo noenhanced size 800,450 font "DejaVu Sans,10"
set output "$out/growth.png"
set title "ixc_clientes after each run of one installation ($overdue overdue customers)"
set xlabel "run"
set ylabel "MiB"
set grid
set key top left
plot for [i=0:$((ngroups - 1))] "$out/growth.dat" index i using 1:2 with linespoints title columnheader(2)
GP
echo "gravados: $out/table.md $results $out/growth.png" >&2
