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
#             with only its own rows in the table.
# Every run must end with OK and leave exactly its rows (count, content, all
# stamped by that run); crowded runs must also delete every stale row and no
# other. Reports wall, upsert and the retention delete (phase delete) per run.
#   usage: bench/many.sh [--installations 8] [--customers 100000] [--reps 3]
#                        [--filler 1000000,10000000] [--stale 1000] [--via direct|pooler]
#                        [--parts together,crowded] [--out DIR]
#                        [--servers DIR]   (reuse servers from tests/servers/start.sh DIR --big --durable)
# Writes OUT/table.md, OUT/results.tsv and OUT/many.png (default OUT: bench/results/many).
# BENCH_BUILD_PREFIX (default build-bench): cobrix is built in PREFIX-auto.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
installations=8 customers=100000 reps=3 filler=1000000,10000000 stale=1000 via=direct parts=together,crowded
out=$here/results/many servers=''
while [ $# -gt 0 ]; do
  case $1 in
    --installations) installations=$2 ;;
    --customers) customers=$2 ;;
    --reps) reps=$2 ;;
    --filler) filler=$2 ;;
    --stale) stale=$2 ;;
    --via) via=$2 ;;
    --parts) parts=$2 ;;
    --out) out=$2 ;;
    --servers) servers=$2 ;;
    *) echo "many.sh: opção desconhecida $1" >&2; exit 2 ;;
  esac
  shift 2
done
for value in "$installations" "$customers" "$reps"; do
  [[ $value =~ ^[1-9][0-9]*$ ]] || { echo "many.sh: valor inválido: $value" >&2; exit 2; }
done
[[ $stale =~ ^[0-9]+$ ]] || { echo "many.sh: --stale inválido: $stale" >&2; exit 2; }
[ "$installations" -le 99 ] || { echo "many.sh: no máximo 99 instalações" >&2; exit 2; }
case $via in direct|pooler) ;; *) echo "many.sh: --via deve ser direct ou pooler" >&2; exit 2 ;; esac
IFS=, read -r -a part_list <<< "$parts"
IFS=, read -r -a level_list <<< "$filler"
for p in "${part_list[@]}"; do
  case $p in together|crowded) ;; *) echo "many.sh: parte inválida: $p (together, crowded)" >&2; exit 2 ;; esac
done
for l in "${level_list[@]}"; do [[ $l =~ ^[1-9][0-9]*$ ]] || { echo "many.sh: nível inválido: $l" >&2; exit 2; }; done
mapfile -t level_list < <(printf '%s\n' "${level_list[@]}" | sort -n -u)
want_part() { printf '%s\n' "${part_list[@]}" | grep -qx "$1"; }

# shellcheck source=bench/lib.sh
. "$here/lib.sh"
bench_deps
build=${BENCH_BUILD_PREFIX:-$top/build-bench}-auto
echo "compilando cobrix em $build..." >&2
bench_build "$build" auto
cobrix=$build/driver/cobrix gen=$build/bench/cobrix_gen_ixc

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
db=bench_many
# FORCE: the pooler may still hold server connections to it from a former run.
pg -d postgres -c "DROP DATABASE IF EXISTS $db WITH (FORCE)" -c "CREATE DATABASE $db" > /dev/null

name_of() { printf 'isp-%02d' "$1"; }
declare -A ixc=() overdue=() ref=()
count=$installations
want_part together || count=1
for i in $(seq 1 "$count"); do
  ixc[$i]=$(ixc_db_name "$customers" "$i")
  ixc_db "${ixc[$i]}" "$customers" "$i" "$gen"
  overdue[$i]=$(overdue_rows "${ixc[$i]}")
  record "$(name_of "$i")" overdue 0 "${overdue[$i]}"
done

# Every installation once, not measured: the rows each run must store (the
# reference for the checks) and the caches warmed alike.
pg -d "$db" -c "DROP TABLE IF EXISTS ixc_clientes" > /dev/null
for i in $(seq 1 "$count"); do
  cobrix_run "$cobrix" "${ixc[$i]}" "$port" "$db" "$(name_of "$i")" "$work/ref" || {
    echo "many.sh: a execução de referência de $(name_of "$i") falhou:" >&2
    cat "$work/ref.out" "$work/ref.err" >&2
    exit 1
  }
  ref[$i]=$(rows_digest "$db" "$(name_of "$i")")
  [ "${ref[$i]%% *}" = "${overdue[$i]}" ] ||
    { echo "many.sh: $(name_of "$i") gravou ${ref[$i]%% *} linhas, esperado ${overdue[$i]}" >&2; exit 1; }
done

# Records run I's figures as LABEL under GROUP, whether it ended with OK and
# whether its rows are exactly the reference's, every one stamped by it.
#   usage: judge GROUP LABEL REP I PREFIX OK(0|1)
judge() {
  local group=$1 label=$2 rep=$3 i=$4 prefix=$5 ok=$6 got
  record "$group" "$label.ok" "$rep" "$ok"
  if [ "$ok" = 1 ]; then
    record_run "$group" "$label" "$rep" "$prefix"
  else
    echo "$group $label rep $rep: $(run_failure "$prefix")" >> "$failures"
    echo "  $(name_of "$i") $label (repetição $rep) não terminou com OK" >&2
  fi
  got=$(rows_digest "$db" "$(name_of "$i")")
  if [ "$got" = "${ref[$i]}" ]; then
    record "$group" "$label.rows_ok" "$rep" 1
  else
    record "$group" "$label.rows_ok" "$rep" 0
    echo "$group $label rep $rep: linhas (contagem resumo carimbadas) '$got', esperado '${ref[$i]}'" >> "$failures"
  fi
}

# One installation alone. usage: alone GROUP LABEL REP I
alone() {
  local ok=1
  cobrix_run "$cobrix" "${ixc[$4]}" "$port" "$db" "$(name_of "$4")" "$work/run" || ok=0
  judge "$1" "$2" "$3" "$4" "$work/run" "$ok"
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
  for i in $(seq 1 "$installations"); do judge "$(name_of "$i")" "$label" "$rep" "$i" "$work/run-$i" "$(cat "$work/run-$i.ok")"; done
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

# Rows of other installations, FIRST..LAST of one numbering: installations
# of 20,000 rows (outra-0001, ...), values shaped like the generated
# customers', stamped within the last 12 hours.
fill_sql() {
  cat <<SQL
INSERT INTO ixc_clientes (idcliente, idcontrato, razaosocial, cpfcnpj, contatocliente, valoratraso, titulosatraso,
                          statuscliente, datacadastro, datavencimento, filial, cidade, bairro, tipocliente,
                          ixcidentification, timestamp)
SELECT (g - 1) % 20000 + 1, 100000 + g % 900000,
       (ARRAY['Maria','José','Ana','João','Antônio','Francisca','Luíza','Conceição','Raimundo','Sebastião'])[1 + g % 10]
         || ' ' || (ARRAY['da Silva','dos Santos','de Oliveira','Gonçalves','Araújo','D''Ávila','Conceição','Ribeiro'])[1 + (g / 10) % 8]
         || ' ' || (ARRAY['Pereira','Lima','Ferreira','Sousa','Carvalho','Gomes','Martins','Rocha'])[1 + (g / 80) % 8],
       CASE WHEN g % 5 = 0
            THEN lpad((g % 100)::text, 2, '0') || '.' || lpad((g * 7 % 1000)::text, 3, '0') || '.'
                 || lpad((g * 13 % 1000)::text, 3, '0') || '/0001-' || lpad((g % 97)::text, 2, '0')
            ELSE lpad((g * 7 % 1000)::text, 3, '0') || '.' || lpad((g * 13 % 1000)::text, 3, '0') || '.'
                 || lpad((g * 17 % 1000)::text, 3, '0') || '-' || lpad((g % 97)::text, 2, '0') END,
       CASE WHEN g % 10 = 0 THEN NULL
            ELSE '(' || (11 + g % 89) || ') 9' || lpad((g % 10000)::text, 4, '0') || '-' || lpad((g * 31 % 10000)::text, 4, '0') END,
       round((49.9 + (g % 1000) * 0.731)::numeric, 2)::float8, 1 + g % 12, (g % 7 <> 0)::int,
       CASE WHEN g % 50 = 0 THEN NULL ELSE timestamp '2010-01-01' + (g % 5000) * interval '1 day' END,
       current_date - (1 + g % 180),
       'Filial ' || (1 + g % 42) || ' Telecomunicações Ltda',
       (ARRAY['São Paulo','Belo Horizonte','Goiânia','Ribeirão Preto','Uberlândia','Campinas','Maringá','Feira de Santana'])[1 + g % 8],
       CASE WHEN g % 20 = 0 THEN NULL ELSE 'Bairro ' || (1 + g % 300) END,
       (ARRAY['Pessoa Física','Pessoa Jurídica','Condomínio','Empresa','Órgão público','Revenda','Cortesia','Funcionário'])[1 + g % 8],
       'outra-' || lpad(((g - 1) / 20000 + 1)::text, 4, '0'),
       localtimestamp - random() * interval '12 hours'
  FROM generate_series($1, $2) g;
SQL
}
# STALE rows of an installation no longer monitored, past the retention age.
stale_sql() {
  cat <<SQL
INSERT INTO ixc_clientes (idcliente, razaosocial, valoratraso, titulosatraso, statuscliente, ixcidentification, timestamp)
SELECT g, 'Cliente Desativado ' || g, 99.9, 1, 1, 'desativada', localtimestamp - interval '2 days' - random() * interval '1 day'
  FROM generate_series(1, $stale) g
    ON CONFLICT (idcliente, ixcidentification) DO UPDATE SET timestamp = EXCLUDED.timestamp;
SQL
}

if want_part crowded; then
  own=$(name_of 1)
  pg -d "$db" -c "DROP TABLE IF EXISTS ixc_clientes" > /dev/null
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
        fill_sql "$first" "$last" | pg -d "$db" > /dev/null
      done
      # What autovacuum would do after such a load, done now so that it does
      # not run in the middle of a measured run; the checkpoint likewise.
      pg -d "$db" -c "VACUUM (ANALYZE) ixc_clientes" -c "CHECKPOINT" > /dev/null
      record "$group" fill_s 0 "$(elapsed "$t0" "$(now)")"
      have=$level
    fi
    record "$group" other_rows 0 "$level"
    record "$group" table_mib 0 "$(pg_value "$db" -c "SELECT round(pg_total_relation_size('ixc_clientes') / 1048576.0, 1)")"
    { echo "$level rows of other installations:"
      pg_value "$db" -c "EXPLAIN (COSTS OFF) DELETE FROM ixc_clientes WHERE timestamp < NOW() - INTERVAL '1 day';" | sed 's/^/    /'
    } >> "$out/plans.txt"
    echo "lotada: $own com $level linhas de outras instalações, $reps repetições..." >&2
    for rep in $(seq 1 "$reps"); do
      stale_sql | pg -d "$db" > /dev/null
      alone "$group" run "$rep" 1
      # The retention delete removed the stale rows, and nothing else.
      read -r left others < <(pg_value "$db" -F ' ' -v own="$own" <<'SQL'
SELECT count(*) FILTER (WHERE ixcidentification = 'desativada'),
       count(*) FILTER (WHERE ixcidentification NOT IN ('desativada', :'own'))
  FROM ixc_clientes;
SQL
)
      record "$group" run.stale_left "$rep" "$left"
      record "$group" run.others_kept "$rep" "$([ "$others" = "$level" ] && echo 1 || echo 0)"
    done
  done
fi

awk -F'\t' -v n_inst="$installations" -v customers="$customers" -v via="$via" -v stale="$stale" \
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
set logscale x
set xlabel "rows in the table"
set ylabel "seconds"
set grid
set key top left
set format x "%.0s%c"
plot "$out/many.dat" using 2:3 with linespoints lw 2 title "whole run", \
     "" using 2:4 with linespoints title "upsert", \
     "" using 2:5 with linespoints title "retention delete"
GP
  echo "gravados: $out/table.md $results $out/many.png" >&2
else
  echo "gravados: $out/table.md $results" >&2
fi
