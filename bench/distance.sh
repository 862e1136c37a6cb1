#!/usr/bin/env bash
# The cost of distance to PostgreSQL. cobrix's normal run with PostgreSQL
# reached directly (round trip 0) or through cobrix_delay_relay, which holds
# every chunk of bytes half a round trip in each direction, with and without
# TLS (libpq's PGSSLMODE=verify-full against a CA made here), for two
# builds: "before" (the revision --before-rev, default HEAD) and "after"
# (the working tree). Per run: wall, the phases cobrix logs, the time after
# the query (wall less query and fetch), the round trips the relay counted
# and the bytes sent to the server; every run must end with OK and leave
# exactly the rows of a direct reference run (count, content, all stamped by
# that run). Then the same through the servers' pgbouncer (transaction
# pooling), directly and through a relay, and, with log_statement = 'all',
# what the server logs of the pages, and that a page refused by the server
# ends the upsert with the earlier pages committed and no later one written,
# directly and through the pooler.
#   usage: bench/distance.sh [--scales 100000,1000000] [--reps 3] [--rtts 0,10,50] [--tls plain,tls]
#                            [--bins before,after] [--runs full] [--pooler-rtts 0,50]
#                            [--pooler-scale 100000] [--log-scale 20000] [--before-rev HEAD]
#                            [--out DIR] [--servers DIR]   (reuse servers from tests/servers/start.sh DIR --big --durable)
# --runs full,empty adds runs into an empty table; --pooler-rtts none and
# --log-scale none leave those parts out. Writes OUT/table.md,
# OUT/results.tsv, OUT/statement_log.txt and OUT/failures.txt (default OUT:
# bench/results/distance). Builds: DIST_AFTER_BUILD (default
# build-dist-after) from this clone, with the relay and the generator;
# DIST_BEFORE_BUILD (default /tmp/cobrix-before-build) from an export of the
# revision in DIST_BEFORE_SRC (default /tmp/cobrix-before-src).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
scales=100000,1000000 reps=3 rtts=0,10,50 tls_modes=plain,tls bins=before,after runs=full
pooler_rtts=0,50 pooler_scale='' log_scale=20000 before_rev=HEAD out=$here/results/distance servers=''
while [ $# -gt 0 ]; do
  case $1 in
    --scales) scales=$2 ;;
    --reps) reps=$2 ;;
    --rtts) rtts=$2 ;;
    --tls) tls_modes=$2 ;;
    --bins) bins=$2 ;;
    --runs) runs=$2 ;;
    --pooler-rtts) pooler_rtts=$2 ;;
    --pooler-scale) pooler_scale=$2 ;;
    --log-scale) log_scale=$2 ;;
    --before-rev) before_rev=$2 ;;
    --out) out=$2 ;;
    --servers) servers=$2 ;;
    *) echo "distance.sh: opção desconhecida $1" >&2; exit 2 ;;
  esac
  shift 2
done
IFS=, read -r -a scale_list <<< "$scales"
IFS=, read -r -a rtt_list <<< "$rtts"
IFS=, read -r -a tls_list <<< "$tls_modes"
IFS=, read -r -a bin_list <<< "$bins"
IFS=, read -r -a run_list <<< "$runs"
[ "$pooler_rtts" = none ] && pooler_rtts=''
IFS=, read -r -a pooler_rtt_list <<< "$pooler_rtts"
[[ $reps =~ ^[1-9][0-9]*$ ]] || { echo "distance.sh: --reps deve ser pelo menos 1" >&2; exit 2; }
for s in "${scale_list[@]}"; do [[ $s =~ ^[1-9][0-9]*$ ]] || { echo "distance.sh: escala inválida: $s" >&2; exit 2; }; done
for r in "${rtt_list[@]}" "${pooler_rtt_list[@]}"; do
  [[ $r =~ ^[0-9]+$ ]] || { echo "distance.sh: ida e volta inválida: $r (milissegundos inteiros)" >&2; exit 2; }
done
for t in "${tls_list[@]}"; do
  case $t in plain|tls) ;; *) echo "distance.sh: --tls aceita plain e tls: $t" >&2; exit 2 ;; esac
done
for b in "${bin_list[@]}"; do
  case $b in before|after) ;; *) echo "distance.sh: --bins aceita before e after: $b" >&2; exit 2 ;; esac
done
for r in "${run_list[@]}"; do
  case $r in full|empty) ;; *) echo "distance.sh: execução inválida: $r (full, empty)" >&2; exit 2 ;; esac
done
pooler_scale=${pooler_scale:-${scale_list[0]}}
[[ $pooler_scale =~ ^[1-9][0-9]*$ ]] || { echo "distance.sh: --pooler-scale inválida" >&2; exit 2; }
[[ $log_scale =~ ^([1-9][0-9]*|none)$ ]] || { echo "distance.sh: --log-scale inválida" >&2; exit 2; }

# shellcheck source=bench/lib.sh
. "$here/lib.sh"
bench_deps

# The two builds, without the tests. The "before" sources are an export of
# the revision, replaced only when they changed, so that an unchanged
# revision is not built again.
after_build=${DIST_AFTER_BUILD:-$top/build-dist-after}
before_build=${DIST_BEFORE_BUILD:-/tmp/cobrix-before-build}
before_src=${DIST_BEFORE_SRC:-/tmp/cobrix-before-src}
configure_and_build() {  # SRC BUILD TARGET...
  local src=$1 build=$2
  shift 2
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCOBRIX_BUILD_TESTS=OFF > /dev/null
  cmake --build "$build" --target "$@" -j 2 > /dev/null
}
echo "compilando o depois (árvore de trabalho) em $after_build..." >&2
configure_and_build "$top" "$after_build" cobrix cobrix_gen_ixc cobrix_delay_relay
if printf '%s\n' "${bin_list[@]}" | grep -qx before; then
  echo "compilando o antes ($before_rev) em $before_build..." >&2
  rm -rf "$before_src.new"
  mkdir -p "$before_src.new"
  git -C "$top" archive "$before_rev" | tar -x -C "$before_src.new"
  if [ -d "$before_src" ] && diff -r -q "$before_src" "$before_src.new" > /dev/null; then
    rm -rf "$before_src.new"
  else
    rm -rf "$before_src" "$before_build"
    mv "$before_src.new" "$before_src"
  fi
  configure_and_build "$before_src" "$before_build" cobrix
fi
declare -A bin_path=([after]=$after_build/driver/cobrix [before]=$before_build/driver/cobrix)
gen=$after_build/bench/cobrix_gen_ixc
relay_bin=$after_build/bench/cobrix_delay_relay

mkdir -p "$out"
out=$(cd "$out" && pwd)
bench_setup --big --durable
require_durable distance.sh
results=$out/results.tsv failures=$out/failures.txt statement_log=$out/statement_log.txt
: > "$results"
: > "$failures"
filled=0  # the current scale's table holds the reference's rows
record info before_rev 0 "$(git -C "$top" rev-parse --short "$before_rev")"
# Which working tree the "after" build was: a digest of its changes to the program.
record info after_diff 0 "$(git -C "$top" diff "$before_rev" -- store discovery driver model console corvakit | md5sum | cut -c1-12)"

# Settings this script gives the server (ALTER SYSTEM), taken back at exit.
server_reset() {
  pg -d postgres -c "ALTER SYSTEM RESET ssl" -c "ALTER SYSTEM RESET ssl_cert_file" -c "ALTER SYSTEM RESET ssl_key_file" \
    -c "ALTER SYSTEM RESET log_statement" -c "SELECT pg_reload_conf()" > /dev/null 2>&1 || true
}
bench_cleanup_hooks+=(server_reset)

# TLS: a CA made here, and a server certificate from it for 127.0.0.1, the
# address cobrix connects to (through a relay too: the relay only passes
# bytes). The server reads its key as postgres, from its own folder.
tls_dir=$work/tls
tls_setup() {
  mkdir -p "$tls_dir"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=cobrix distance CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout "$tls_dir/ca.key" -out "$tls_dir/ca.crt" 2> /dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=127.0.0.1" \
    -keyout "$tls_dir/server.key" -out "$tls_dir/server.csr" 2> /dev/null
  printf '%s\n' "subjectAltName=IP:127.0.0.1" "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=serverAuth" > "$tls_dir/server.ext"
  openssl x509 -req -in "$tls_dir/server.csr" -CA "$tls_dir/ca.crt" -CAkey "$tls_dir/ca.key" -CAcreateserial \
    -days 2 -extfile "$tls_dir/server.ext" -out "$tls_dir/server.crt" 2> /dev/null
  install -o postgres -m 0644 "$tls_dir/server.crt" "$PG_DIR/distance-server.crt"
  install -o postgres -m 0600 "$tls_dir/server.key" "$PG_DIR/distance-server.key"
  pg -d postgres -c "ALTER SYSTEM SET ssl_cert_file = '$PG_DIR/distance-server.crt'" \
    -c "ALTER SYSTEM SET ssl_key_file = '$PG_DIR/distance-server.key'" -c "ALTER SYSTEM SET ssl = on" \
    -c "SELECT pg_reload_conf()" > /dev/null
  local used=''
  for _ in $(seq 1 50); do
    used=$(PGSSLMODE=verify-full PGSSLROOTCERT=$tls_dir/ca.crt pg_value postgres \
      -c "SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()" 2> /dev/null || true)
    [ "$used" = t ] && return 0
    sleep 0.1
  done
  echo "distance.sh: o PostgreSQL não aceitou TLS verificado (verify-full) depois de ssl = on" >&2
  exit 1
}
# cobrix_run with libpq's TLS environment: verified against the CA, or no
# TLS at all (once the server offers it, libpq's default "prefer" takes it).
#   usage: cobrix_via plain|tls BINARY IXC_DB PG_PORT PG_DB ZABBIX_HOST PREFIX
cobrix_via() {
  local mode=$1
  shift
  if [ "$mode" = tls ]; then
    PGSSLMODE=verify-full PGSSLROOTCERT=$tls_dir/ca.crt cobrix_run "$@"
  else
    PGSSLMODE=disable cobrix_run "$@"
  fi
}

# Relays, one per round trip and target, started once and stopped at exit
# by PID. Each writes one "closed ..." line per connection to its log.
declare -A relay_port=() relay_log=()
relay_pids=()
relays_stop() {
  local pid
  for pid in "${relay_pids[@]}"; do kill -TERM "$pid" 2> /dev/null || true; done
  for pid in "${relay_pids[@]}"; do wait "$pid" 2> /dev/null || true; done
  relay_pids=()
}
bench_cleanup_hooks+=(relays_stop)
relay_start() {  # NAME RTT_MS TARGET_PORT
  local name=$1 port=''
  "$relay_bin" --to "127.0.0.1:$3" --rtt-ms "$2" > "$work/relay_$name.port" 2> "$work/relay_$name.log" &
  relay_pids+=($!)
  for _ in $(seq 1 100); do
    port=$(sed -n 's/^PORT=//p' "$work/relay_$name.port")
    [ -n "$port" ] && break
    sleep 0.05
  done
  [ -n "$port" ] || { echo "distance.sh: o relé $name não ficou pronto" >&2; cat "$work/relay_$name.log" >&2; exit 1; }
  relay_port[$name]=$port
  relay_log[$name]=$work/relay_$name.log
}
closed_lines() { grep -c '^closed ' "${relay_log[$1]}" || true; }  # NAME

# What the relay NAME logged of the connections that closed after line
# BEFORE, as "CONNECTIONS ROUND_TRIPS UP_BYTES" (summed); a connection is
# logged once both of its ends closed, up to a round trip after the run.
relay_counts() {  # NAME BEFORE
  for _ in $(seq 1 100); do
    [ "$(closed_lines "$1")" -gt "$2" ] && break
    sleep 0.05
  done
  grep '^closed ' "${relay_log[$1]}" | tail -n +"$(($2 + 1))" |
    awk '{ for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }; n++; rt += v["round_trips"]; up += v["up"] }
         END { printf "%d %d %d\n", n, rt, up }'
}

# The round trip each relay adds, as psql sees it: 20 times "SELECT 1" on
# one connection, each timed by psql (\timing), min and median in ms.
rtt_check() {  # PORT LABEL
  local args=(-c '\timing on') times
  for _ in $(seq 1 20); do args+=(-c 'SELECT 1'); done
  times=$(PGSSLMODE=disable psql -X -q -h "$PG_HOST" -p "$1" -U "$PG_USER" -d postgres "${args[@]}" |
    awk '/^Time:/ { print $2 }' | sort -g)
  record check "rtt.$2.min" 0 "$(head -n 1 <<< "$times")"
  record check "rtt.$2.median" 0 "$(sed -n '10,11p' <<< "$times" | awk '{ s += $1 } END { printf "%.3f", s / 2 }')"
}

printf '%s\n' "${tls_list[@]}" | grep -qx tls && tls_setup
for r in "${rtt_list[@]}"; do
  if [ "$r" -gt 0 ]; then relay_start "pg$r" "$r" "$PG_PORT"; rtt_check "${relay_port[pg$r]}" "$r"; fi
done
rtt_check "$PG_PORT" 0
for r in "${pooler_rtt_list[@]}"; do [ "$r" -gt 0 ] && relay_start "bouncer$r" "$r" "$PGBOUNCER_PORT"; done

# One measured run. ROUTE is plain or tls (PostgreSQL's own port, or a relay
# to it) or pooler (pgbouncer's port, or a relay to it); KIND empty drops the
# table first. Recorded as BIN.ROUTE.RTT.KIND.<what> in group SCALE.
#   usage: measure SCALE REP BIN ROUTE RTT KIND DB WANT
measure() {
  local scale=$1 rep=$2 bin=$3 route=$4 rtt=$5 kind=$6 db=$7 want=$8 port relay='' before=0 label
  label=$bin.$route.$rtt.$kind
  if [ "$route" = pooler ]; then
    port=$PGBOUNCER_PORT
    [ "$rtt" -gt 0 ] && relay=bouncer$rtt
  else
    port=$PG_PORT
    [ "$rtt" -gt 0 ] && relay=pg$rtt
  fi
  [ -n "$relay" ] && port=${relay_port[$relay]} before=$(closed_lines "$relay")
  [ "$kind" = empty ] && pg -d "$db" -c "DROP TABLE IF EXISTS ixc_clientes" > /dev/null
  if [ "$kind" = full ] && [ "$filled" != 1 ]; then
    # Full rows first: the previous run did not leave them.
    PGSSLMODE=disable cobrix_run "${bin_path[after]}" "ixc_$scale" "$PG_PORT" "$db" "bench-$scale" "$work/fill" ||
      { echo "distance.sh: não foi possível preencher a tabela ($scale clientes)" >&2; exit 1; }
  fi
  # Every run over full rows leaves as many dead rows as it updated: vacuumed
  # and checkpointed here, untimed, so that neither the autovacuum nor a
  # checkpoint falls inside the next measured run by chance.
  [ "$kind" = full ] && pg -d "$db" -c "VACUUM ixc_clientes" > /dev/null
  pg -d "$db" -c "CHECKPOINT" > /dev/null
  filled=0
  if cobrix_via "${route/pooler/plain}" "${bin_path[$bin]}" "ixc_$scale" "$port" "$db" "bench-$scale" "$work/run"; then
    record "$scale" "$label.ok" "$rep" 1
    record_run "$scale" "$label" "$rep" "$work/run"
    if [ "$(rows_digest "$db" "bench-$scale")" = "$want" ]; then
      record "$scale" "$label.rows_ok" "$rep" 1
      filled=1
    else
      record "$scale" "$label.rows_ok" "$rep" 0
      echo "$scale $label rep $rep: linhas gravadas diferem das da execução de referência" >> "$failures"
    fi
  else
    record "$scale" "$label.ok" "$rep" 0
    echo "$scale $label rep $rep: $(run_failure "$work/run")" >> "$failures"
    echo "  $label (repetição $rep) falhou; registrado em $failures" >&2
  fi
  # The working tree's build gives the table its retention index on its
  # first run (the reference's); after a run of the older build into a new
  # table the index is put back here, untimed, so that every run over full
  # rows meets the same table, and no build of it starts in the background
  # of a later run.
  pg -d "$db" -c "CREATE INDEX IF NOT EXISTS ixc_clientes_timestamp_idx ON ixc_clientes (timestamp)" > /dev/null 2>&1 || true
  if [ -n "$relay" ]; then
    read -r conns trips up < <(relay_counts "$relay" "$before")
    record "$scale" "$label.connections" "$rep" "$conns"
    record "$scale" "$label.round_trips" "$rep" "$trips"
    record "$scale" "$label.up_mib" "$rep" "$(awk -v b="$up" 'BEGIN { printf "%.1f", b / 1048576 }')"
  fi
}

# The database of a scale, filled by a direct run of the working tree's
# build into a new table: the rows every run must leave, in $want
# (rows_digest); $filled says the table holds them.
reference() {  # SCALE DB
  pg -d postgres -c "DROP DATABASE IF EXISTS $2 WITH (FORCE)" -c "CREATE DATABASE $2" > /dev/null
  PGSSLMODE=disable cobrix_run "${bin_path[after]}" "ixc_$1" "$PG_PORT" "$2" "bench-$1" "$work/ref" || {
    echo "distance.sh: a execução de referência ($1 clientes) falhou:" >&2
    cat "$work/ref.out" "$work/ref.err" >&2
    exit 1
  }
  want=$(rows_digest "$2" "bench-$1")
  [ "${want%% *}" = "$(overdue_rows "ixc_$1")" ] ||
    { echo "distance.sh: a referência gravou ${want%% *} linhas, esperado $(overdue_rows "ixc_$1")" >&2; exit 1; }
  filled=1
}

for scale in "${scale_list[@]}"; do
  db=bench_dist_$scale
  ixc_db "ixc_$scale" "$scale" 1 "$gen"
  overdue=$(overdue_rows "ixc_$scale")
  record "$scale" overdue 0 "$overdue"
  reference "$scale" "$db"
  configs=()
  for b in "${bin_list[@]}"; do for t in "${tls_list[@]}"; do for r in "${rtt_list[@]}"; do for k in "${run_list[@]}"; do
    configs+=("$b $t $r $k")
  done; done; done; done
  echo "escala $scale: $overdue clientes em atraso, $reps repetições de ${#configs[@]} combinações..." >&2
  for rep in $(seq 1 "$reps"); do
    # The order turns with the repetition, so that no combination always
    # runs right after the same one.
    n=${#configs[@]}
    for k in $(seq 0 $((n - 1))); do
      read -r b t r kind <<< "${configs[$(((k + (rep - 1) * n / reps) % n))]}"
      measure "$scale" "$rep" "$b" "$t" "$r" "$kind" "$db" "$want"
    done
  done
done

# Through the pooler: transaction pooling, a pool of 2 server connections.
if [ ${#pooler_rtt_list[@]} -gt 0 ]; then
  scale=$pooler_scale db=bench_dist_$scale
  ixc_db "ixc_$scale" "$scale" 1 "$gen"
  record "$scale" overdue 0 "$(overdue_rows "ixc_$scale")"
  reference "$scale" "$db"
  echo "pgbouncer (modo transação), escala $scale, $reps repetições..." >&2
  for rep in $(seq 1 "$reps"); do
    for b in "${bin_list[@]}"; do for r in "${pooler_rtt_list[@]}"; do
      measure "$scale" "$rep" "$b" pooler "$r" full "$db" "$want"
    done; done
  done
fi

# The statement log, and a page that the server refuses. The log entries of
# each case, each on one line cut to 160 characters, go to
# OUT/statement_log.txt.
log_case() {  # TITLE PORT BIN DB SCALE -> the run's success in $case_ok
  local title=$1 port=$2 bin=$3 db=$4 scale=$5 from
  from=$(($(stat -c %s "$PG_DIR/server.log") + 1))
  case_ok=1
  cobrix_via plain "${bin_path[$bin]}" "ixc_$scale" "$port" "$db" "bench-$scale" "$work/log" || case_ok=0
  sleep 0.2
  {
    echo "### $title (cobrix: $(tail -n 1 "$work/log.out"))"
    echo
    tail -c +"$from" "$PG_DIR/server.log" | awk '
      function put() { if (e == "") return
        if (length(e) > 160) printf "%s… (%d characters)\n", substr(e, 1, 160), length(e); else print e }
      /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] / { put(); e = $0; next }
      { sub(/^[ \t]+/, ""); if ($0 != "") e = e (e ~ /: $/ ? "" : " ") $0 }
      END { put() }'
    echo
  } >> "$statement_log"
}
if [ "$log_scale" != none ]; then
  scale=$log_scale db=bench_dist_log
  ixc_db "ixc_$scale" "$scale" 1 "$gen"
  reference "$scale" "$db"
  overdue=${want%% *}
  pages=$(((overdue + 999) / 1000))
  [ "$pages" -ge 3 ] || { echo "distance.sh: --log-scale $scale dá $pages páginas; são precisas 3 ou mais" >&2; exit 2; }
  # The customer that the server refuses: the 1501st that the reference
  # wrote into its new table (insertion order is ctid order there), on the
  # second page; the first page's customers must stay, no later page may be
  # written.
  refused=$(pg_value "$db" -c "SELECT idcliente FROM ixc_clientes ORDER BY ctid OFFSET 1500 LIMIT 1")
  first_page=$(pg_value "$db" -c "SELECT md5(string_agg(idcliente::text, ',' ORDER BY idcliente))
                                    FROM (SELECT idcliente FROM ixc_clientes ORDER BY ctid LIMIT 1000) p")
  {
    echo "Statement log (log_statement = 'all') of cobrix's runs, $scale customers ($overdue overdue,"
    echo "$pages pages of at most 1000 rows); each log entry on one line, cut to 160 characters."
    echo
  } > "$statement_log"
  pg -d postgres -c "ALTER SYSTEM SET log_statement = 'all'" -c "SELECT pg_reload_conf()" > /dev/null
  sleep 0.2
  for b in "${bin_list[@]}"; do
    log_case "$b, direct, over full rows" "$PG_PORT" "$b" "$db" "$scale"
    record log "$b.direct.ok" 0 "$case_ok"
    log_case "$b, through pgbouncer (transaction pooling), over full rows" "$PGBOUNCER_PORT" "$b" "$db" "$scale"
    record log "$b.pooler.ok" 0 "$case_ok"
    if [ "$(rows_digest "$db" "bench-$scale")" = "$want" ]; then
      record log "$b.pooler.rows_ok" 0 1
    else
      record log "$b.pooler.rows_ok" 0 0
      echo "registro $b pooler: linhas gravadas diferem das da referência" >> "$failures"
    fi
  done
  # The customer is written into the function: a setting of the database
  # would not reach the pooler's server connections opened before it.
  pg -d "$db" > /dev/null <<SQL
CREATE FUNCTION bench_refuse() RETURNS trigger LANGUAGE plpgsql AS \$f\$
BEGIN
  IF NEW.idcliente = $refused THEN
    RAISE EXCEPTION 'cliente % recusado pelo benchmark', NEW.idcliente;
  END IF;
  RETURN NEW;
END \$f\$;
CREATE TRIGGER bench_refuse BEFORE INSERT OR UPDATE ON ixc_clientes FOR EACH ROW EXECUTE FUNCTION bench_refuse();
SQL
  for b in "${bin_list[@]}"; do
    for route in direct pooler; do
      port=$PG_PORT; [ $route = pooler ] && port=$PGBOUNCER_PORT
      pg -d "$db" -c "TRUNCATE ixc_clientes" > /dev/null
      log_case "$b, $route, empty table, page 2 refused (customer $refused)" "$port" "$b" "$db" "$scale"
      # Not OK, and exactly the first page's 1000 rows stored.
      got=$(pg_value "$db" -c "SELECT count(*) || ' ' || coalesce(md5(string_agg(idcliente::text, ',' ORDER BY idcliente)), '-')
                                 FROM ixc_clientes")
      record log "$b.$route.refused.failed" 0 $((1 - case_ok))
      if [ "$got" = "1000 $first_page" ]; then
        record log "$b.$route.refused.first_page_only" 0 1
      else
        record log "$b.$route.refused.first_page_only" 0 0
        echo "recusa $b $route: ficaram $got linhas (esperadas as 1000 da primeira página)" >> "$failures"
      fi
    done
  done
  pg -d "$db" -c "DROP TRIGGER bench_refuse ON ixc_clientes" -c "DROP FUNCTION bench_refuse()" > /dev/null
  pg -d postgres -c "ALTER SYSTEM RESET log_statement" -c "SELECT pg_reload_conf()" > /dev/null
fi

relays_stop
for name in "${!relay_log[@]}"; do grep -v '^closed ' "${relay_log[$name]}" >> "$failures" || true; done
awk -F'\t' -v bins="$bins" -v routes="$tls_modes" -v rtts="$rtts" -v runs="$runs" -v pooler_rtts="$pooler_rtts" \
  -f "$here/stats.awk" -f "$here/distance.awk" "$results" > "$out/table.md"
if [ -s "$failures" ]; then
  { echo; echo "Failed runs and relay errors (OUT/failures.txt):"; echo; sed 's/^/    /' "$failures"; } >> "$out/table.md"
fi
cat "$out/table.md"
echo "gravados: $out/table.md $results $statement_log" >&2
