#!/usr/bin/env bash
# What the retention index (ixc_clientes_timestamp_idx) costs the upsert, on
# a durable PostgreSQL (fsync and synchronous commit on): cobrix_store_bench
# sends as many synthetic customer rows as the generator finds overdue at
# each scale, with each way of sending the pages (prepared, bound) and with
# and without the index, into an empty table and again over the full rows
# (where every update changes the indexed timestamp, so that no update can
# be HOT with the index), min/median/max over the repetitions. The cases
# alternate within each repetition.
#   usage: bench/index.sh [--scales 100000,1000000] [--reps 3] [--out DIR]
#                         [--servers DIR]   (reuse servers from tests/servers/start.sh DIR --big --durable)
# Writes OUT/table.md and OUT/results.tsv (default OUT: bench/results/index).
# BENCH_BUILD_PREFIX (default build-bench): built from the working tree in PREFIX-after.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
scales=100000,1000000 reps=3 out=$here/results/index servers=''
while [ $# -gt 0 ]; do
  case $1 in
    --scales) scales=$2 ;;
    --reps) reps=$2 ;;
    --out) out=$2 ;;
    --servers) servers=$2 ;;
    *) echo "index.sh: opção desconhecida $1" >&2; exit 2 ;;
  esac
  shift 2
done
IFS=, read -r -a scale_list <<< "$scales"
[[ $reps =~ ^[1-9][0-9]*$ ]] || { echo "index.sh: --reps deve ser pelo menos 1" >&2; exit 2; }
for s in "${scale_list[@]}"; do [[ $s =~ ^[1-9][0-9]*$ ]] || { echo "index.sh: escala inválida: $s" >&2; exit 2; }; done

# shellcheck source=bench/lib.sh
. "$here/lib.sh"
bench_deps
build=${BENCH_BUILD_PREFIX:-$top/build-bench}-after
echo "compilando cobrix_store_bench em $build..." >&2
bench_build "$build"
cmake --build "$build" --target cobrix_store_bench -j 2 > /dev/null

mkdir -p "$out"
out=$(cd "$out" && pwd)
bench_setup --big --durable --postgres-only
require_durable index.sh
results=$out/results.tsv
: > "$results"
db=bench_index
pg -d postgres -c "DROP DATABASE IF EXISTS $db WITH (FORCE)" -c "CREATE DATABASE $db" > /dev/null

for scale in "${scale_list[@]}"; do
  # The overdue customers of the generated database of that scale (today's):
  # the generator's own count, without loading it.
  "$build/bench/cobrix_gen_ixc" --customers "$scale" --out "$work/gen" > "$work/gen.summary"
  rm -rf "$work/gen"
  rows=$(sed -n 's/^OVERDUE_CUSTOMERS=//p' "$work/gen.summary")
  record "$scale" rows 0 "$rows"
  echo "índice: $scale clientes, $rows linhas, $reps repetições..." >&2
  "$build/bench/cobrix_store_bench" "$PG_HOST" "$PG_PORT" "$PG_USER" "$PG_PASSWORD" "$db" "$rows" "$reps" \
    "$work/store.tsv" > "$work/store.out"
  awk -F'\t' -v scale="$scale" '{ printf "%s\t%s.%s\t%s\t%s\n", scale, $1, $2, $3, $4 }' "$work/store.tsv" >> "$results"
done

awk -F'\t' -f "$here/stats.awk" -f "$here/index.awk" "$results" > "$out/table.md"
cat "$out/table.md"
echo "gravados: $out/table.md $results" >&2
