#!/usr/bin/env bash
# Many installations into one ixc_clientes, on a durable PostgreSQL (fsync on).
#   together  N generated IXC databases (seeds 1..N, each run with its own
#             identification isp-01..isp-NN) started at once, into an empty
#             table and again over the full rows, against each run alone
#             (into an empty table; over the full rows of all N).
#   crowded   one installation (isp-01) while the table already holds the rows
#             of other installations (each level filled by SQL: installations
#             of 20,000 rows with fresh timestamps), with STALE rows past the
#             retention age put back before every run, against the same run
#             with only its own rows in the table; for each build of BUILDS:
#             "after" (the working tree) with the retention index, built by
#             the fill step as the table's owner (a run would start building
#             it concurrently and not wait), "before" (a git revision,
#             default HEAD) without it.
#   wave      N installations of their own IXC databases (seeds 1..N) started
#             AT_ONCE at a time, a new one as soon as one ends, as a Zabbix
#             server's schedule starts its checks, into one table over the
#             full rows of all N, against each run alone over the same rows.
# Every run must end with OK and leave exactly its rows (count, content, all
# stamped by that run); crowded runs must also delete every stale row and no
# other. Reports wall, upsert and the retention delete (phase delete) per run.
#   usage: bench/many.sh [--installations N] [--customers C] [--reps 3]
#                        [--filler 1000000,10000000] [--stale 1000] [--via direct|pooler]
#                        [--parts together,crowded,wave] [--at-once 8] [--builds after,before]
#                        [--before REVISION] [--out DIR]
#                        [--servers DIR]   (reuse servers from tests/servers/start.sh DIR --big --durable)
# N defaults to 8 for together and 50 for wave, C to 100000 for together and
# crowded and 20000 for wave; --builds is the crowded part's.
# Writes OUT/table.md, OUT/results.tsv and OUT/many.png (default OUT: bench/results/many).
# BENCH_BUILD_PREFIX (default build-bench) names the builds: PREFIX-before, PREFIX-after.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
inst_opt='' cust_opt='' reps=3 filler=1000000,10000000 stale=1000 via=direct parts=together,crowded,wave
at_once=8 builds=after,before before=HEAD out=$here/results/many servers=''
while [ $# -gt 0 ]; do
  case $1 in
    --installations) inst_opt=$2 ;;
    --customers) cust_opt=$2 ;;
    --reps) reps=$2 ;;
    --filler) filler=$2 ;;
    --stale) stale=$2 ;;
    --via) via=$2 ;;
    --parts) parts=$2 ;;
    --at-once) at_once=$2 ;;
    --builds) builds=$2 ;;
    --before) before=$2 ;;
    --out) out=$2 ;;
    --servers) servers=$2 ;;
    *) echo "many.sh: opção desconhecida $1" >&2; exit 2 ;;
  esac
  shift 2
done
installations=${inst_opt:-8} customers=${cust_opt:-100000}
wave_installations=${inst_opt:-50} wave_customers=${cust_opt:-20000}
for value in "$installations" "$customers" "$reps" "$at_once" "$wave_installations" "$wave_customers"; do
  [[ $value =~ ^[1-9][0-9]*$ ]] || { echo "many.sh: valor inválido: $value" >&2; exit 2; }
done
[[ $stale =~ ^[0-9]+$ ]] || { echo "many.sh: --stale inválido: $stale" >&2; exit 2; }
if [ "$installations" -gt 99 ] || [ "$wave_installations" -gt 99 ]; then echo "many.sh: no máximo 99 instalações" >&2; exit 2; fi
case $via in direct|pooler) ;; *) echo "many.sh: --via deve ser direct ou pooler" >&2; exit 2 ;; esac
IFS=, read -r -a part_list <<< "$parts"
IFS=, read -r -a level_list <<< "$filler"
IFS=, read -r -a build_list <<< "$builds"
for p in "${part_list[@]}"; do
  case $p in together|crowded|wave) ;; *) echo "many.sh: parte inválida: $p (together, crowded, wave)" >&2; exit 2 ;; esac
done
for b in "${build_list[@]}"; do
  case $b in before|after) ;; *) echo "many.sh: versão inválida: $b (before, after)" >&2; exit 2 ;; esac
done
for l in "${level_list[@]}"; do [[ $l =~ ^[1-9][0-9]*$ ]] || { echo "many.sh: nível inválido: $l" >&2; exit 2; }; done
mapfile -t level_list < <(printf '%s\n' "${level_list[@]}" | sort -n -u)
want_part() { printf '%s\n' "${part_list[@]}" | grep -qx "$1"; }

# shellcheck source=bench/lib.sh
. "$here/lib.sh"
bench_deps
bench_builds_before_after "$before"
declare -A bin=([before]=$bin_before [after]=$bin_after)
cobrix=$bin_after

mkdir -p "$out"
out=$(cd "$out" && pwd)
bench_setup --big --durable
require_durable many.sh
port=$PG_PORT
if [ "$via" = pooler ]; then
  port=${PGBOUNCER_PORT:?many.sh: $servers/env não tem PGBOUNCER_PORT}
fi
results=$out/results.tsv failures=$out/failures.txt
: > "$results"
: > "$failures"
record revision before 0 "$before_commit"
db=bench_many
# FORCE: the pooler may still hold server connections to it from a former run.
pg -d postgres -c "DROP DATABASE IF EXISTS $db WITH (FORCE)" -c "CREATE DATABASE $db" > /dev/null

name_of() { printf 'isp-%02d' "$1"; }
# shellcheck disable=SC2034  # filled and read through namerefs
declare -A ixc=() overdue=() ref=()
count=0
want_part crowded && count=1
want_part together && count=$installations
# load_installations IXC OVERDUE N CUSTOMERS PREFIX: makes (or finds) the
# IXC databases of installations 1 to N, of CUSTOMERS customers each (the
# installation's number is the seed), names them in the array IXC, their
# overdue customers in OVERDUE, and records that count as PREFIX + name.
load_installations() {
  local -n l_ixc=$1 l_overdue=$2
  local i
  for i in $(seq 1 "$3"); do
    l_ixc[$i]=$(ixc_db_name "$4" "$i")
    ixc_db "${l_ixc[$i]}" "$4" "$i" "$gen"
    l_overdue[$i]=$(overdue_rows "${l_ixc[$i]}")
    record "$5$(name_of "$i")" overdue 0 "${l_overdue[$i]}"
  done
}
load_installations ixc overdue "$count" "$customers" ''

# Records a run's figures as LABEL under GROUP, whether it ended with OK and
# whether the installation's rows in ixc_clientes of $db are exactly WANT
# (rows_digest of its reference run: count, content, every one stamped by
# the run).
#   usage: judge GROUP LABEL REP NAME WANT PREFIX OK(0|1)
judge() {
  local group=$1 label=$2 rep=$3 name=$4 want=$5 prefix=$6 ok=$7 got errors
  record "$group" "$label.ok" "$rep" "$ok"
  if [ "$ok" = 1 ]; then
    record_run "$group" "$label" "$rep" "$prefix"
    errors=$(run_errors "$prefix")
    [ -z "$errors" ] || echo "$group $label rep $rep: OK, mas: $errors" >> "$failures"
  else
    echo "$group $label rep $rep: $(run_failure "$prefix")" >> "$failures"
    echo "  $name $label (repetição $rep) não terminou com OK" >&2
  fi
  got=$(rows_digest "$db" "$name")
  if [ "$got" = "$want" ]; then
    record "$group" "$label.rows_ok" "$rep" 1
  else
    record "$group" "$label.rows_ok" "$rep" 0
    echo "$group $label rep $rep: linhas (contagem resumo carimbadas) '$got', esperado '$want'" >> "$failures"
  fi
}

# Runs each installation of IXC_ARRAY once into $db, one after the other, not
# measured: the rows each must store (rows_digest, into REF_ARRAY, checked
# against OVERDUE_ARRAY) and the caches warmed alike.
#   usage: references IXC_ARRAY OVERDUE_ARRAY REF_ARRAY COUNT
references() {
  local -n r_ixc=$1 r_overdue=$2 r_ref=$3
  local i name
  for i in $(seq 1 "$4"); do
    name=$(name_of "$i")
    cobrix_run "$cobrix" "${r_ixc[$i]}" "$port" "$db" "$name" "$work/ref" || {
      echo "many.sh: a execução de referência de $name falhou:" >&2
      cat "$work/ref.out" "$work/ref.err" >&2
      exit 1
    }
    r_ref[$i]=$(rows_digest "$db" "$name")
    [ "${r_ref[$i]%% *}" = "${r_overdue[$i]}" ] ||
      { echo "many.sh: $name gravou ${r_ref[$i]%% *} linhas, esperado ${r_overdue[$i]}" >&2; exit 1; }
  done
}
if [ "$count" -gt 0 ]; then
  pg -d "$db" -c "DROP TABLE IF EXISTS ixc_clientes" > /dev/null
  references ixc overdue ref "$count"
fi

# One installation alone, by BUILD (default after). usage: alone GROUP LABEL REP I [BUILD]
alone() {
  local ok=1
  cobrix_run "${bin[${5:-after}]}" "${ixc[$4]}" "$port" "$db" "$(name_of "$4")" "$work/run" || ok=0
  judge "$1" "$2" "$3" "$(name_of "$4")" "${ref[$4]}" "$work/run" "$ok"
}

# All installations started at once; the batch's makespan under "all".
#   usage: together LABEL REP
together() {
  local label=$1 rep=$2 i t0 ok
  local -A pid=()
  t0=$(now)
  for i in $(seq 1 "$installations"); do
    cobrix_run "$cobrix" "${ixc[$i]}" "$port" "$db" "$(name_of "$i")" "$work/run-$i" &
    pid[$i]=$!
  done
  for i in $(seq 1 "$installations"); do
    ok=1; wait "${pid[$i]}" || ok=0
    echo "$ok" > "$work/run-$i.ok"
  done
  record all "$label.makespan" "$rep" "$(elapsed "$t0" "$(now)")"
  for i in $(seq 1 "$installations"); do
    judge "$(name_of "$i")" "$label" "$rep" "$(name_of "$i")" "${ref[$i]}" "$work/run-$i" "$(cat "$work/run-$i.ok")"
  done
}

if want_part together; then
  echo "juntas: $installations instalações de $customers clientes ($via), $reps repetições..." >&2
  for rep in $(seq 1 "$reps"); do
    for i in $(seq 1 "$installations"); do
      pg -d "$db" -c "DROP TABLE IF EXISTS ixc_clientes" > /dev/null
      alone "$(name_of "$i")" alone.empty "$rep" "$i"
    done
    pg -d "$db" -c "DROP TABLE IF EXISTS ixc_clientes" > /dev/null
    together together.empty "$rep"
    for i in $(seq 1 "$installations"); do alone "$(name_of "$i")" alone.full "$rep" "$i"; done
    together together.full "$rep"
  done
fi

# The Zabbix readers' query NAME of contrib/zabbix/queries.sql, or the
# former totals query (old.totais), for installation HOST, 20 debtors.
reader_sql() {
  if [ "$1" = old.totais ]; then grep -v '^--' "$here/old_totals_query.sql"
  else awk -v name="$1" '/^-- query: /{ inside = ($3 == name); next } inside && !/^--/' "$top/contrib/zabbix/queries.sql"
  fi | sed -e "s/{HOST.HOST}/$2/g" -e 's/{\$COBRIX.TOP.N}/20/g'
}
# Times each reader's query REPS times for installation HOST, each time in a
# session of its own as a Zabbix ODBC check opens one (psql's \timing: the
# query's round trip), recorded under GROUP as query.NAME.LABEL (the new
# session's first query, its catalog caches cold) and query.NAME.LABEL.warm
# (the same query again); its plan goes to plans.txt and whether that reads
# a table whole to query.NAME.LABEL.seq_scan.
#   usage: time_queries GROUP HOST LABEL
time_queries() {
  local group=$1 host=$2 label=$3 name sql rep first warm plan
  record "$group" "age_min.$label" 0 "$(pg_value "$db" -v host="$host" <<< \
    "SELECT round(extract(epoch FROM localtimestamp - max(timestamp)) / 60, 1) FROM ixc_clientes WHERE ixcidentification = :'host'")"
  for name in old.totais cobrix.resumo cobrix.totais; do
    sql=$(reader_sql "$name" "$host")
    for rep in $(seq 1 "$reps"); do
      read -r -d '' first warm < <(printf '\\timing on\n\\o /dev/null\n%s;\n%s;\n' "$sql" "$sql" | pg -d "$db" |
        sed -n 's/^Time: \([0-9.]*\) ms.*/\1/p') || true
      record "$group" "query.$name.$label" "$rep" "$(awk -v m="$first" 'BEGIN { printf "%.6f", m / 1000 }')"
      record "$group" "query.$name.$label.warm" "$rep" "$(awk -v m="$warm" 'BEGIN { printf "%.6f", m / 1000 }')"
    done
    plan=$(printf 'EXPLAIN (COSTS OFF) %s;\n' "$sql" | pg_value "$db")
    record "$group" "query.$name.$label.seq_scan" 0 "$(grep -c 'Seq Scan' <<< "$plan" || true)"
    { echo "$group, $name, $label ($host):"; sed 's/^/    /' <<< "$plan"; } >> "$out/plans.txt"
  done
}
# The before build meets the table as that revision leaves it: with the
# retention index when it builds the index itself.
before_indexes=0
git -C "$top" grep -q ixc_clientes_timestamp_idx "$before_commit" -- store && before_indexes=1

if want_part crowded; then
  own=$(name_of 1)
  pg -d "$db" -c "DROP TABLE IF EXISTS ixc_clientes, ixc_clientes_resumo" > /dev/null
  cobrix_run "$cobrix" "${ixc[1]}" "$port" "$db" "$own" "$work/ref" || { echo "many.sh: $own falhou" >&2; exit 1; }
  : > "$out/plans.txt"
  have=0
  for level in 0 "${level_list[@]}"; do
    group=crowded-$level
    if [ "$level" -gt "$have" ]; then
      echo "lotada: preenchendo a tabela até $level linhas de outras instalações..." >&2
      t0=$(now)
      for ((first = have + 1; first <= level; first += 1000000)); do
        last=$((first + 999999)); [ "$last" -le "$level" ] || last=$level
        pg -d "$db" -v first="$first" -v last="$last" -v per=20000 -f "$here/fill_others.sql" > /dev/null
      done
      pg -d "$db" -f "$here/fill_summaries.sql" > /dev/null
      record "$group" fill_s 0 "$(elapsed "$t0" "$(now)")"
      have=$level
    fi
    record "$group" other_rows 0 "$level"
    for build in "${build_list[@]}"; do
      # The table as each build meets it: with the retention index, built
      # here by the table's owner (beside millions of rows a run would start
      # a concurrent build and not wait for it, so the measured runs would
      # race the build), but for a before build that does not know it.
      t0=$(now)
      if [ "$build" = after ] || [ "$before_indexes" = 1 ]; then
        absent=$(pg_value "$db" -c "SELECT to_regclass('ixc_clientes_timestamp_idx') IS NULL")
        pg -d "$db" -c "CREATE INDEX IF NOT EXISTS ixc_clientes_timestamp_idx ON ixc_clientes (timestamp)" > /dev/null
        [ "$absent" = t ] && record "$group" index_s 0 "$(elapsed "$t0" "$(now)")"
      else
        pg -d "$db" -c "DROP INDEX IF EXISTS ixc_clientes_timestamp_idx" > /dev/null
      fi
      # What autovacuum would do after such a load, done now so that it does
      # not run in the middle of a measured run; the checkpoint likewise.
      pg -d "$db" -c "VACUUM (ANALYZE) ixc_clientes, ixc_clientes_resumo" -c "CHECKPOINT" > /dev/null
      record "$group" "$build.index" 0 "$(pg_value "$db" -c "SELECT (to_regclass('ixc_clientes_timestamp_idx') IS NOT NULL)::int")"
      record "$group" "$build.table_mib" 0 "$(pg_value "$db" -c "SELECT round(pg_total_relation_size('ixc_clientes') / 1048576.0, 1)")"
      { echo "$level rows of other installations, $build:"
        pg_value "$db" -c "EXPLAIN (COSTS OFF) DELETE FROM ixc_clientes WHERE timestamp < NOW() - INTERVAL '1 day';" | sed 's/^/    /'
      } >> "$out/plans.txt"
      echo "lotada: $own ($build) com $level linhas de outras instalações, $reps repetições..." >&2
      for rep in $(seq 1 "$reps"); do
        pg -d "$db" -v stale="$stale" -f "$here/stale_rows.sql" > /dev/null
        alone "$group" "$build" "$rep" 1 "$build"
        # The retention delete removed the stale rows, and nothing else.
        read -r left others < <(pg_value "$db" -F ' ' -v own="$own" <<'SQL'
SELECT count(*) FILTER (WHERE ixcidentification = 'desativada'),
       count(*) FILTER (WHERE ixcidentification NOT IN ('desativada', :'own'))
  FROM ixc_clientes;
SQL
)
        record "$group" "$build.stale_left" "$rep" "$left"
        record "$group" "$build.others_kept" "$rep" "$([ "$others" = "$level" ] && echo 1 || echo 0)"
        # The after build's summary: the run's, of every one of its rows.
        [ "$build" = after ] && record "$group" after.summary_ok "$rep" "$(pg_value "$db" -v own="$own" <<'SQL'
SELECT (s.timestamp = r.timestamp AND s.clientes_ativos + s.clientes_inativos = r.count)::int
  FROM ixc_clientes_resumo s,
       (SELECT max(timestamp) AS timestamp, count(*) FROM ixc_clientes WHERE ixcidentification = :'own') r
 WHERE s.ixcidentification = :'own' AND s.tipo = 'total';
SQL
)"
      done
      # The readers' queries, right after this build's runs: for isp-01,
      # which ran seconds ago, and for the other installation whose run is
      # nearest an hour old.
      if [ "$build" = after ]; then
        # The retention delete alone, as the run sends it (the after runs
        # send it in one round trip with the summary's write).
        pg -d "$db" -v stale="$stale" -f "$here/stale_rows.sql" > /dev/null
        record "$group" after.retention_alone 0 "$(printf '\\timing on\nBEGIN;\nSET LOCAL jit = off;\n%s\nCOMMIT;\n' \
          "DELETE FROM ixc_clientes WHERE timestamp < NOW() - INTERVAL '1 day';" | pg -d "$db" |
          sed -n 's/^Time: \([0-9.]*\) ms.*/\1/p' | awk 'NR == 3 { printf "%.6f", $1 / 1000 }')"
        time_queries "$group" "$own" recent
        [ "$level" -gt 0 ] && time_queries "$group" "$(printf 'outra-%04d' $((level / 20000 < 60 ? level / 20000 : 60)))" hour
      fi
    done
  done
fi

# The wave: installations W1..WN started AT_ONCE at a time, each next one as
# soon as one ends; the wave's makespan under "wave".
#   usage: wave REP
wave() {
  local rep=$1 next=1 running=0 t0 done_pid i ok
  local -A slot=()
  t0=$(now)
  while [ "$next" -le "$wave_installations" ] || [ "$running" -gt 0 ]; do
    while [ "$running" -lt "$at_once" ] && [ "$next" -le "$wave_installations" ]; do
      cobrix_run "$cobrix" "${wixc[$next]}" "$port" "$db" "$(name_of "$next")" "$work/wave-$next" &
      slot[$!]=$next
      next=$((next + 1)) running=$((running + 1))
    done
    ok=1; wait -n -p done_pid || ok=0
    echo "$ok" > "$work/wave-${slot[$done_pid]}.ok"
    running=$((running - 1))
  done
  record wave makespan "$rep" "$(elapsed "$t0" "$(now)")"
  for i in $(seq 1 "$wave_installations"); do
    judge "wave:$(name_of "$i")" wave "$rep" "$(name_of "$i")" "${wref[$i]}" "$work/wave-$i" "$(cat "$work/wave-$i.ok")"
  done
}

if want_part wave; then
  # shellcheck disable=SC2034  # filled and read through namerefs
  declare -A wixc=() woverdue=() wref=()
  load_installations wixc woverdue "$wave_installations" "$wave_customers" wave:
  many_db=$db db=bench_wave
  pg -d postgres -c "DROP DATABASE IF EXISTS $db WITH (FORCE)" -c "CREATE DATABASE $db" > /dev/null
  references wixc woverdue wref "$wave_installations"
  echo "onda: $wave_installations instalações de $wave_customers clientes, $at_once de cada vez ($via), $reps repetições..." >&2
  for rep in $(seq 1 "$reps"); do
    for i in $(seq 1 "$wave_installations"); do
      ok=1
      cobrix_run "$cobrix" "${wixc[$i]}" "$port" "$db" "$(name_of "$i")" "$work/run" || ok=0
      judge "wave:$(name_of "$i")" alone "$rep" "$(name_of "$i")" "${wref[$i]}" "$work/run" "$ok"
    done
    wave "$rep"
  done
  db=$many_db
fi

awk -F'\t' -v n_inst="$installations" -v customers="$customers" -v via="$via" -v stale="$stale" \
  -v builds="$builds" -v wave_n="$wave_installations" -v wave_customers="$wave_customers" -v at_once="$at_once" \
  -v plotdata="$out/many.dat" -f "$here/stats.awk" -f "$here/many.awk" "$results" > "$out/table.md"
if [ -s "$out/plans.txt" ]; then
  { echo; echo "Plan of the retention delete:"; echo; sed 's/^/    /' "$out/plans.txt"; } >> "$out/table.md"
fi
if [ -s "$failures" ]; then
  { echo; echo "Failures (OUT/failures.txt):"; echo; sed 's/^/    /' "$failures"; } >> "$out/table.md"
fi
cat "$out/table.md"

if [ -s "$out/many.dat" ] && [ "$(wc -l < "$out/many.dat")" -gt 2 ]; then
  gnuplot <<GP
set terminal pngcairo noenhanced size 800,450 font "DejaVu Sans,10"
set output "$out/many.png"
set datafile missing "-"
set title "one installation's run against the rows already in ixc_clientes (medians)"
set logscale xy
set xlabel "rows in the table"
set ylabel "seconds"
set grid
set key top left
set format x "%.0s%c"
plot "$out/many.dat" using 2:3 with linespoints lw 2 title "whole run (after, with the index)", \
     "" using 2:4 with linespoints title "upsert (after)", \
     "" using 2:5 with linespoints title "retention delete (after)", \
     "" using 2:7 with linespoints lw 2 dt 2 title "whole run (before, no index)", \
     "" using 2:8 with linespoints dt 2 title "retention delete (before)"
GP
  echo "gravados: $out/table.md $results $out/many.png" >&2
else
  echo "gravados: $out/table.md $results" >&2
fi
