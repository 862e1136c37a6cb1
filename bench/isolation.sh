#!/usr/bin/env bash
# One installation's whole normal run under the isolated layout's policies
# (row-level security as cobrix-central init sets it up, the run as the
# installation's own role from add-installation) against the same run in
# the single-role layout (no row-level security, the run as the tables'
# owner), on a durable PostgreSQL (fsync on), beside the rows of OTHERS
# other installations (fill_others.sql, PER rows each) and their summaries.
# Both layouts hold the same rows: the isolated database is a copy of the
# single-role one, migrated in place by cobrix-central init. Per scale and
# repetition, each layout in turn (the order turns with the repetition):
# the installation's rows and summary deleted and the tables vacuumed, a
# run (empty), then a run over its rows (full); before each run STALE rows
# of its own past the retention age put back and a checkpoint. Every run
# must end with OK, leave exactly the reference's rows, its summary and no
# stale row of its own; every other installation's row must stay.
#   usage: bench/isolation.sh [--scales 100000,1000000] [--reps 3] [--others 10000000] [--per 100000]
#                             [--stale 1000] [--runs empty,full] [--out DIR]
#                             [--servers DIR]  (reuse servers from tests/servers/start.sh DIR --big --durable)
# Writes OUT/table.md, OUT/results.tsv, OUT/plans.txt, OUT/failures.txt
# (default OUT: bench/results/isolation/debianNN). BUILD_DIR (default
# build-bench-after): where cobrix, cobrix-central and the generator are built.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
scales=100000,1000000 reps=3 others=10000000 per=100000 stale=1000 runs=empty,full servers=''
out=$here/results/isolation/debian$(. /etc/os-release && echo "${VERSION_ID%%.*}")
while [ $# -gt 0 ]; do
  case $1 in
    --scales) scales=$2 ;;
    --reps) reps=$2 ;;
    --others) others=$2 ;;
    --per) per=$2 ;;
    --stale) stale=$2 ;;
    --runs) runs=$2 ;;
    --out) out=$2 ;;
    --servers) servers=$2 ;;
    *) echo "isolation.sh: opção desconhecida $1" >&2; exit 2 ;;
  esac
  shift 2
done
IFS=, read -r -a scale_list <<< "$scales"
IFS=, read -r -a run_list <<< "$runs"
for value in "$reps" "$others" "$per" "$stale" "${scale_list[@]}"; do
  [[ $value =~ ^[1-9][0-9]*$ ]] || { echo "isolation.sh: valor inválido: $value" >&2; exit 2; }
done
[[ ,$runs, =~ ^(,(empty|full))+,$ ]] || { echo "isolation.sh: --runs: empty, full" >&2; exit 2; }

# shellcheck source=bench/lib.sh
. "$here/lib.sh"
bench_deps
build=${BUILD_DIR:-$top/build-bench-after}
echo "compilando cobrix e cobrix-central em $build..." >&2
bench_build "$build"
cmake --build "$build" --target cobrix-central -j 2 > /dev/null
cobrix=$build/driver/cobrix central_bin=$build/central/cobrix-central gen=$build/bench/cobrix_gen_ixc

mkdir -p "$out"
out=$(cd "$out" && pwd)
bench_setup --big --durable
require_durable isolation.sh
results=$out/results.tsv failures=$out/failures.txt plans=$out/plans.txt
: > "$results"
: > "$failures"
: > "$plans"
own=isp-01 run_role=cobrix_isp01 owner=bench_unico central_owner=cobrix_central
declare -A db=([single]=bench_iso_single [policies]=bench_iso_policies)
declare -A role=([single]=$owner [policies]=$run_role)
declare -A password=([single]=$(new_password) [policies]=$(new_password))

for scale in "${scale_list[@]}"; do ixc_db "ixc_$scale" "$scale" 1 "$gen"; done

# cobrix-central as the isolated database's owner, through the server's
# socket (trust: the owner needs no password here).
central() {
  env -u PGPASSWORD -u PGOPTIONS PGHOST="$PG_SOCKET_DIR" PGPORT="$PG_PORT" PGUSER=$central_owner \
    PGDATABASE="${db[policies]}" "$central_bin" "$@"
}

# The two layouts, made anew unless the isolated one was filled as wanted
# less than 20 hours ago (the other installations' rows must stay younger
# than the retention age for the whole measurement).
want_fill="others=$others per=$per"
have_fill=$(pg_value "${db[policies]}" -c \
  "SELECT info FROM bench_iso_info WHERE filled > now() - interval '20 hours'" 2>/dev/null || true)
if [ "$have_fill" != "$want_fill" ]; then
  echo "camadas: tabelas de $owner com $others linhas de outras instalações..." >&2
  t0=$(now)
  pg -d postgres -c "DROP DATABASE IF EXISTS ${db[policies]} WITH (FORCE)" \
    -c "DROP DATABASE IF EXISTS ${db[single]} WITH (FORCE)" > /dev/null
  pg_value postgres -c "SELECT format('DROP ROLE %I;', rolname) FROM pg_roles
                          WHERE rolname ~ '^cobrix_(isp|outra)' OR rolname IN ('$owner', '$central_owner')" | pg -d postgres
  pg -d postgres \
    -c "CREATE ROLE $owner LOGIN" -c "CREATE ROLE $central_owner LOGIN CREATEROLE" \
    -c "CREATE DATABASE ${db[single]} OWNER $owner" > /dev/null
  set_role_password "$owner" "${password[single]}"
  # The run creates the tables as it does today, as their owner.
  cobrix_run "$cobrix" "ixc_${scale_list[0]}" "$PG_PORT" "${db[single]}" "$own" "$work/make" "$owner" \
    "${password[single]}" || { echo "isolation.sh: a primeira execução falhou:" >&2; cat "$work/make.out" "$work/make.err" >&2; exit 1; }
  for ((first = 1; first <= others; first += 1000000)); do
    last=$((first + 999999)); [ "$last" -le "$others" ] || last=$others
    pg -d "${db[single]}" -v first="$first" -v last="$last" -v per="$per" -f "$here/fill_others.sql" > /dev/null
  done
  pg -d "${db[single]}" -f "$here/fill_summaries.sql" -c "VACUUM (ANALYZE)" -c CHECKPOINT > /dev/null
  record setup fill_s 0 "$(elapsed "$t0" "$(now)")"
  # The isolated layout: a copy of the same files, its tables handed to the
  # central owner (the superuser's one line that init prints), then init.
  t0=$(now)
  pg -d postgres -c "CREATE DATABASE ${db[policies]} TEMPLATE ${db[single]} STRATEGY FILE_COPY OWNER $central_owner" > /dev/null
  pg -d "${db[policies]}" -c "ALTER TABLE ixc_clientes OWNER TO $central_owner" \
    -c "ALTER TABLE ixc_clientes_resumo OWNER TO $central_owner" > /dev/null
  central init > "$work/init.out"
  for ((k = 1; k <= (others + per - 1) / per; k++)); do
    printf '%s\n' "$(new_password)" | central add-installation "$(printf 'cobrix_outra_%04d' "$k")" \
      "$(printf 'outra-%04d' "$k")" > /dev/null
  done
  pg -d "${db[policies]}" -c "VACUUM (ANALYZE)" -c CHECKPOINT \
    -c "CREATE TABLE bench_iso_info AS SELECT '$want_fill'::text AS info, now() AS filled" > /dev/null
  record setup init_s 0 "$(elapsed "$t0" "$(now)")"
else
  set_role_password "$owner" "${password[single]}"
fi
# The run's own role, with a new password each time (add-installation sets it anew).
printf '%s\n' "${password[policies]}" | central add-installation "$run_role" "$own" > /dev/null
pg -d postgres -c "CREATE EXTENSION IF NOT EXISTS pg_stat_statements" > /dev/null
for layout in single policies; do
  record setup "$layout.table_mib" 0 "$(pg_value "${db[$layout]}" -c \
    "SELECT round(pg_total_relation_size('ixc_clientes') / 1048576.0, 1)")"
done

# STALE rows of the installation's own, two to three days old.
put_stale() {
  pg -d "$1" -v own="$own" -v stale="$stale" > /dev/null <<'SQL'
INSERT INTO ixc_clientes (idcliente, razaosocial, valoratraso, titulosatraso, statuscliente, ixcidentification, timestamp)
SELECT 900000000 + g, 'Cliente Antigo ' || g, 99.9, 1, 1, :'own', localtimestamp - interval '2 days' - random() * interval '1 day'
  FROM generate_series(1, :stale) g
    ON CONFLICT (idcliente, ixcidentification) DO UPDATE SET timestamp = EXCLUDED.timestamp;
SQL
}
# The installation's rows and summary deleted, the tables vacuumed.
clear_own() {
  printf '%s\n' "DELETE FROM ixc_clientes WHERE ixcidentification = :'own';" \
    "DELETE FROM ixc_clientes_resumo WHERE ixcidentification = :'own';" \
    "VACUUM (ANALYZE) ixc_clientes, ixc_clientes_resumo;" | pg -d "$1" -v own="$own" > /dev/null
}
# Stale rows left, and whether the summary is the last run's, of all its rows.
after_checks() {
  pg_value "$1" -F ' ' -v own="$own" <<'SQL'
SELECT (SELECT count(*) FROM ixc_clientes WHERE ixcidentification = :'own' AND timestamp < localtimestamp - interval '1 day'),
       coalesce((SELECT (s.timestamp = r.ts AND s.clientes_ativos + s.clientes_inativos = r.n)::int
                   FROM ixc_clientes_resumo s,
                        (SELECT max(timestamp) AS ts, count(*) AS n FROM ixc_clientes WHERE ixcidentification = :'own') r
                  WHERE s.ixcidentification = :'own' AND s.tipo = 'total'), 0);
SQL
}

# One measured run of LAYOUT, recorded as LAYOUT.STATE at SCALE, REP.
#   usage: measure SCALE REP LAYOUT STATE
measure() {
  local scale=$1 rep=$2 layout=$3 state=$4 d=${db[$3]} label=$3.$4 ok=1 got left summary_ok kind seconds
  put_stale "$d"
  pg -d "$d" -c CHECKPOINT > /dev/null
  pg_value postgres -c "SELECT pg_stat_statements_reset()" > /dev/null
  cobrix_run "$cobrix" "ixc_$scale" "$PG_PORT" "$d" "$own" "$work/run" "${role[$layout]}" "${password[$layout]}" || ok=0
  while read -r kind seconds; do record "$scale" "$label.$kind" "$rep" "$seconds"; done < <(statement_times "$d")
  record "$scale" "$label.ok" "$rep" "$ok"
  if [ "$ok" = 1 ]; then
    record_run "$scale" "$label" "$rep" "$work/run"
    [ -z "$(run_errors "$work/run")" ] || echo "$scale $label rep $rep: OK, mas: $(run_errors "$work/run")" >> "$failures"
  else
    echo "$scale $label rep $rep: $(run_failure "$work/run")" >> "$failures"
    echo "  $label (repetição $rep) não terminou com OK" >&2
  fi
  got=$(rows_digest "$d" "$own")
  record "$scale" "$label.rows_ok" "$rep" "$([ "$got" = "${ref[$scale]}" ] && echo 1 || echo 0)"
  [ "$got" = "${ref[$scale]}" ] || echo "$scale $label rep $rep: linhas '$got', esperado '${ref[$scale]}'" >> "$failures"
  read -r left summary_ok < <(after_checks "$d")
  record "$scale" "$label.stale_left" "$rep" "$left"
  record "$scale" "$label.summary_ok" "$rep" "$summary_ok"
}

declare -A ref=()
for scale in "${scale_list[@]}"; do
  overdue=$(overdue_rows "ixc_$scale")
  record "$scale" overdue 0 "$overdue"
  # A first run of each layout, not measured: warm caches, and the rows every run must leave.
  for layout in single policies; do
    clear_own "${db[$layout]}"
    cobrix_run "$cobrix" "ixc_$scale" "$PG_PORT" "${db[$layout]}" "$own" "$work/ref" "${role[$layout]}" \
      "${password[$layout]}" || { echo "isolation.sh: a execução de referência ($layout) falhou:" >&2
                                  cat "$work/ref.out" "$work/ref.err" >&2; exit 1; }
    got=$(rows_digest "${db[$layout]}" "$own")
    [ "${got%% *}" = "$overdue" ] || { echo "isolation.sh: $layout gravou ${got%% *} linhas, esperado $overdue" >&2; exit 1; }
    [ "$layout" = single ] && ref[$scale]=$got
    [ "$got" = "${ref[$scale]}" ] || { echo "isolation.sh: as camadas gravaram linhas diferentes" >&2; exit 1; }
  done
  echo "escala $scale: $overdue clientes em atraso, ao lado de $others linhas, $reps repetições..." >&2
  for rep in $(seq 1 "$reps"); do
    order=(single policies); [ $((rep % 2)) = 0 ] && order=(policies single)
    for layout in "${order[@]}"; do
      for state in "${run_list[@]}"; do
        if [ "$state" = empty ]; then
          clear_own "${db[$layout]}"
        fi
        measure "$scale" "$rep" "$layout" "$state"
      done
      record "$scale" "$layout.others_kept" "$rep" "$(pg_value "${db[$layout]}" -c \
        "SELECT (count(*) = $others)::int FROM ixc_clientes WHERE ixcidentification <> '$own'")"
    done
  done
  # The plans of the run's statements as each layout's run meets them, stale rows there to delete.
  for layout in single policies; do
    put_stale "${db[$layout]}"
    { echo "== $scale customers, $layout (role ${role[$layout]}) =="
      pg -d "${db[$layout]}" -v own="$own" -v role="${role[$layout]}" \
        -v policies="$([ "$layout" = policies ] && echo true || echo false)" -f "$here/isolation_plans.sql"
    } >> "$plans" 2>&1
  done
done
# A sequential scan of a data table is a fault; of the mapping table (two pages) it is the planner's choice.
grep -nE 'Seq Scan on ixc_clientes( |_resumo)' "$plans" | sed 's/^/seq scan in plans.txt, line /' >> "$failures" || true
grep -q 'error' "$plans" && echo "plans.txt: errors" >> "$failures"

awk -F'\t' -v others="$others" -v per="$per" -v stale="$stale" -v runs="$runs" -f "$here/stats.awk" \
  -f "$here/isolation.awk" "$results" > "$out/table.md"
data_scans=$(grep -cE 'Seq Scan on ixc_clientes( |_resumo)' "$plans" || true)
map_scans=$(grep -c 'Seq Scan on ixc_clientes_acesso' "$plans" || true)
printf '\nPlans (plans.txt: EXPLAIN ANALYZE as each layout'"'"'s run role, rolled back): %s sequential scans of\n%s\n' \
  "$data_scans" "ixc_clientes or ixc_clientes_resumo, $map_scans of ixc_clientes_acesso (the policies' lookup of the role's rows)." >> "$out/table.md"
if [ -s "$failures" ]; then
  { echo; echo "Failures and notes (failures.txt):"; echo; sed 's/^/    /' "$failures"; } >> "$out/table.md"
fi
cat "$out/table.md"
echo "gravados: $out/table.md $results $plans" >&2
