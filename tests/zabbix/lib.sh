# shellcheck shell=bash
# Shared by the tests that drive the throwaway Zabbix of start.sh through its
# API: the test's report, its own passwords and the sweep that looks for
# them, the IXC data and the store, the release's template, hosts set up as
# the operator's guide says, values asked for and triggers read.
#   . lib.sh ZABBIX_STATE   (COBRIX_TEST_SERVERS names the test servers' folder)
# shellcheck disable=SC2034  # what is set here is read by the sourcing test
set -euo pipefail
PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
# shellcheck disable=SC1091
. "$1/env"
# shellcheck disable=SC1091
. "$COBRIX_TEST_SERVERS/env"
export ZBX_API
# shellcheck source=tests/zabbix/release.sh
. "$here/release.sh"
# shellcheck source=tests/zabbix/api.sh
. "$here/api.sh"

cobrix=$ZBX_DIR/root/usr/bin/cobrix
docs=$ZBX_DIR/root/usr/share/doc/cobrix/zabbix
work=$(mktemp -d)
chmod 0700 "$work"
started=$SECONDS

# --- The report: one line per point, the failures counted.
failures=0
show=''  # shown below the next failure: what the check looked at
ok() { echo "ok - $1 ($((SECONDS - started)) s)"; show=''; }
fail() {
  echo "FALHA: $1" >&2
  [ -n "$show" ] && printf '%s\n' "$show" | sed 's/^/    /' >&2
  show=''
  failures=$((failures + 1))
}
# check DESCRIPTION COMMAND...: runs COMMAND, the test of one point.
check() {
  local what=$1; shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
quiet() { "$@" >/dev/null; }
isnt() { ! "$@"; }
# Ends the test at once: the points after it depend on this one.
fatal() { echo "FALHA: $1" >&2; exit 1; }
# The last line of the test, and its status.
finish() {
  echo "$1: $failures falha(s) em $((SECONDS - started)) s"
  [ "$failures" = 0 ]
}

# --- Cleanup: what the test made, undone in reverse order at its end.
cleanups=()
on_exit() { cleanups=("$1" "${cleanups[@]}"); }
run_cleanups() {
  local step
  for step in "${cleanups[@]}"; do eval "$step" || true; done
  rm -rf "$work"
}
trap run_cleanups EXIT

# --- Passwords of this test only (the test servers' own are shared with
# tests that run at the same time), kept in variables and files, never in
# an argument; every one is listed in $work/passwords for the sweep.
: > "$work/passwords"
new_password() {  # new_password LABEL: prints it and lists it
  local password
  password=$(printf '%s-%s%s%s' "$1" "$RANDOM" "$RANDOM" "$RANDOM")
  printf '%s\n' "$password" >> "$work/passwords"
  printf '%s' "$password"
}

mysql_root() { mariadb --no-defaults --socket="$MARIADB_SOCKET" -uroot "$@"; }
pg() { psql -X -q -At -v ON_ERROR_STOP=1 -h "$ZBX_PG_SOCKET_DIR" -p "$ZBX_PG_PORT" -U postgres "$@"; }

# make_ixc NAME: the sample IXC database NAME and a user NAME that may only
# read it, with the password $ixc_password.
make_ixc() {
  ixc_db=$1 ixc_user=$1
  ixc_password=$(new_password ixc)
  mysql_root -e "CREATE DATABASE $ixc_db CHARACTER SET utf8mb4"
  on_exit "mysql_root -e \"DROP DATABASE IF EXISTS $ixc_db; DROP USER IF EXISTS '$ixc_user'@'%'\""
  mysql_root --default-character-set=utf8mb4 "$ixc_db" < "$top/sample/ixc_sample.sql"
  mysql_root <<SQL
CREATE USER '$ixc_user'@'%' IDENTIFIED BY '$ixc_password';
GRANT SELECT ON $ixc_db.* TO '$ixc_user'@'%';
SQL
}

# make_store DATABASE WRITER READER DSN: a database of Zabbix's cluster
# owned by the writer (password $pg_password), the reader that the totals
# items log in with ($reader_password), and the ODBC data source DSN.
make_store() {
  store_db=$1 store_writer=$2 store_reader=$3
  pg_password=$(new_password pg)
  reader_password=$(new_password leitura)
  on_exit "pg -d postgres -c 'DROP DATABASE IF EXISTS $store_db WITH (FORCE)' -c 'DROP ROLE IF EXISTS $store_writer' \
    -c 'DROP ROLE IF EXISTS $store_reader'"
  pg -d postgres <<SQL
CREATE ROLE $store_writer LOGIN PASSWORD '$pg_password';
CREATE ROLE $store_reader LOGIN PASSWORD '$reader_password';
CREATE DATABASE $store_db OWNER $store_writer;
\c $store_db
ALTER DEFAULT PRIVILEGES FOR ROLE $store_writer IN SCHEMA public GRANT SELECT ON TABLES TO $store_reader;
SQL
  cat >> "$ZBX_ODBC_DIR/odbc.ini" <<INI
[$4]
Driver = PostgreSQL Unicode
Servername = 127.0.0.1
Port = $ZBX_PG_PORT
Database = $store_db
INI
}
stored() { pg -d "$store_db" -c "SELECT count(*) FROM ixc_clientes WHERE ixcidentification = '$1'"; }

# The debug report's totals of the IXC data, through the descriptor form.
debug_report() {
  "$cobrix" --senhas-fd=3 descobertaClientes 127.0.0.1 "$MARIADB_PORT" "$ixc_user" "$ixc_db" \
    127.0.0.1 1 unused unused debug 3<<<"$ixc_password"$'\nunused'
}

# --- Every process's command line, swept until sweep_end: any sweep that
# finds a password is recorded, and so is any sweep that saw a cobrix run in
# flight (a run that holds no password then is the point). One process of
# the test shows a canary on purpose: the sweep must find it, or it would
# find nothing else either.
sweep_start() {
  canary=$(new_password canario)
  : > "$work/hits"
  : > "$work/in-flight"
  (
    set +e +o pipefail  # a sweep that finds nothing or meets an ended process is a normal sweep
    while :; do
      # "/proc/PID/cmdline:<the password found>", then what that process is, if it still runs.
      grep -a -o -F -f "$work/passwords" /proc/[0-9]*/cmdline 2>/dev/null | while IFS= read -r hit; do
        printf '%s  (%s)\n' "$hit" "$(tr '\0' ' ' < "${hit%%:*}" 2>/dev/null)" >> "$work/hits"
      done
      grep -l -a -F -e --senhas-fd= /proc/[0-9]*/cmdline >> "$work/in-flight" 2>/dev/null
    done
  ) &
  scanner=$!
  on_exit "kill $scanner 2>/dev/null"
  sh -c "sleep 2; : $canary" &
}
# sweep_end LOG...: the sweep's findings, and no password in the logs.
sweep_end() {
  kill "$scanner" || fail "a varredura de /proc/*/cmdline parou antes do fim"
  wait "$scanner" 2>/dev/null || true
  check "a varredura de /proc/*/cmdline acha o que um processo mostra" grep -q -F "$canary" "$work/hits"
  grep -v -F ":$canary  (" "$work/hits" > "$work/password-hits" || true
  # What the processes that showed a password were, with the passwords hidden.
  show=$(sort -u "$work/password-hits" | while read -r line; do
    while read -r password; do line=${line//"$password"/<senha ${password%%-*}>}; done < "$work/passwords"
    printf '%s\n' "$line"
  done)
  check "nenhuma senha em /proc/*/cmdline" test ! -s "$work/password-hits"
  check "a varredura viu execuções em andamento ($(wc -l < "$work/in-flight") vezes)" test -s "$work/in-flight"
  local log
  for log in "$@"; do
    check "nenhuma senha em $(basename "$log")" isnt grep -q -F -f "$work/passwords" "$log"
  done
}

# --- The release's template, imported with the frontend's default rules.
import_file() {  # import_file FILE
  api configuration.import "$(jq -n --rawfile source "$1" --argjson rules "$zbx_import_rules" \
    '{format: "yaml", source: $source, rules: $rules}')"
}
template_id() {
  api template.get "{\"output\": [\"templateid\"], \"filter\": {\"host\": [\"$1\"]}}" | jq -r '.[0].templateid'
}

# --- Hosts as the guide sets them up: an interface, the template, the
# ODBC reader's password as a secret macro (the connections are in the
# host's file, write_credentials).
# create_host NAME TEMPLATEID EXTRA_JSON: prints the host id; EXTRA_JSON's
# members replace the defaults (macros: more macros). The password's macro
# is $password_macro (the earlier templates' name, for a host made before
# an upgrade).
password_macro='{$COBRIX.ODBC.SENHA}'
create_host() {
  api host.create "$(READER_PASSWORD=$reader_password jq -n --arg name "$1" --arg tid "$2" --argjson extra "$3" \
    --arg password_macro "$password_macro" '{
      host: $name, groups: [{groupid: "2"}], templates: [{templateid: $tid}],
      interfaces: [{type: 1, main: 1, useip: 1, ip: "127.0.0.1", dns: "", port: "10050"}],
      macros: ([{macro: $password_macro, value: env.READER_PASSWORD, type: 1}] + ($extra.macros // []))
    } + ($extra | del(.macros))')" | jq -r '.hostids[0]'
}
# The test proxy's id: created by the first test that needs it.
proxy_id() {
  local id
  id=$(api proxy.get "$(jq -n --arg field "$zbx_proxy_name" --arg name "$ZBX_PROXY_NAME" \
    '{output: ["proxyid"], filter: {($field): $name}}')" | jq -r '.[0].proxyid // empty')
  [ -n "$id" ] || id=$(api proxy.create "$(zbx_proxy_params "$ZBX_PROXY_NAME")" | jq -r '.proxyids[0]')
  printf '%s\n' "$id"
}
# delete_hosts NAME...: removes the hosts of these names, left by an earlier
# run of the test on the same Zabbix.
delete_hosts() {
  local ids
  ids=$(api host.get "$(jq -n '{output: ["hostid"], filter: {host: $ARGS.positional}}' --args "$@")" | jq -c 'map(.hostid)')
  [ "$ids" = '[]' ] || api host.delete "$ids" >/dev/null
}
item_id() {  # item_id HOSTID KEY_PREFIX
  api item.get "$(jq -n --arg h "$1" --arg k "$2" '{hostids: [$h], output: ["itemid"], search: {key_: $k},
    startSearch: true}')" | jq -r '.[0].itemid'
}
item() { api item.get "{\"itemids\": [\"$1\"], \"output\": [\"lastclock\", \"lastns\", \"state\", \"error\"]}" | jq -c '.[0]'; }
last_text() {  # last_text ITEMID: the newest value of a text (or, with 3 after it, whole number) item
  api history.get "{\"history\": ${2:-4}, \"itemids\": [\"$1\"], \"sortfield\": \"clock\", \"sortorder\": \"DESC\",
    \"limit\": 1, \"output\": [\"value\"]}" | jq -r '.[0].value'
}
# wait_value ITEMID BEFORE SECONDS: waits until the item has a value newer
# than BEFORE ("lastclock.lastns" of item) and prints it, or turns not
# supported when it was supported before (prints "não suportado: ERROR").
wait_value() {
  local now was_supported before
  before=$(jq -r '"\(.lastclock).\(.lastns)"' <<<"$2")
  was_supported=$(jq -r '.state == "0"' <<<"$2")
  for _ in $(seq 1 $(($3 * 2))); do
    now=$(item "$1")
    if [ "$(jq -r '"\(.lastclock).\(.lastns)"' <<<"$now")" != "$before" ]; then
      last_text "$1" "$(api item.get "{\"itemids\": [\"$1\"], \"output\": [\"value_type\"]}" | jq -r '.[0].value_type')"
      return 0
    fi
    if [ "$was_supported" = true ] && jq -e '.state == "1"' >/dev/null <<<"$now"; then
      jq -r '"não suportado: " + .error' <<<"$now"
      return 0
    fi
    sleep 0.5
  done
  echo "sem valor em $3 s"
}
# check_now ITEMID: "Execute now", then the value it brings (wait_value).
check_now() {
  local before
  before=$(item "$1")
  api task.create "[{\"type\": 6, \"request\": {\"itemid\": \"$1\"}}]" >/dev/null
  wait_value "$1" "$before" 90
}
# poll_summary HOSTID: "Execute now" on the host's summary query, then the
# value that it brings to the summary's state (0 read, 1 no summary, 2 the
# query failed; the query's own value is not kept), as wait_value prints it.
poll_summary() {
  local state before
  state=$(item_id "$1" cobrix.resumo.estado)
  before=$(item "$state")
  api task.create "[{\"type\": 6, \"request\": {\"itemid\": \"$(item_id "$1" 'db.odbc.get[cobrix.resumo')\"}}]" >/dev/null
  wait_value "$state" "$before" 60
}
ends_in_ok() { [ "$(printf '%s' "$1" | tail -n 1)" = OK ]; }
not_ok() { ! ends_in_ok "$1"; }
# check_now_until ITEMID PREDICATE: check_now until PREDICATE holds for the
# value, at most three times; prints the last value. After a change (of the
# credentials, of a macro) the first new value may still come from a run that
# the item's own schedule started just before it.
check_now_until() {
  local value
  for _ in 1 2 3; do
    value=$(check_now "$1")
    "$2" "$value" && break
  done
  printf '%s\n' "$value"
}
# trigger HOSTID NAME_PREFIX: "value/state" of the trigger (value 0 OK, 1 problem; state 0 normal, 1 unknown).
trigger() {
  api trigger.get "$(jq -n --arg h "$1" --arg n "$2" '{hostids: [$h], output: ["value", "state"],
    search: {description: $n}, startSearch: true}')" | jq -r '.[0] | "\(.value)/\(.state)"'
}
wait_trigger() {  # wait_trigger HOSTID NAME_PREFIX VALUE SECONDS
  for _ in $(seq 1 $(($4 * 2))); do
    [ "$(trigger "$1" "$2")" = "$3/0" ] && return 0
    sleep 0.5
  done
  return 1
}
status_trigger='Cobrix: a execução falhou'
nodata_trigger='Cobrix: nenhuma execução relatada'
# cobrix_problems HOSTID: the names of the host's open problems that come
# from the Cobrix templates (the event names, as Monitoring → Problems shows them).
cobrix_problems() {
  api problem.get "{\"hostids\": [\"$1\"], \"output\": [\"name\"]}" | jq -r '.[].name | select(startswith("Cobrix"))' |
    LC_ALL=C sort
}

# write_credentials HOST [KEY=VALUE...]: the host's file, as the guide
# installs it (root:zabbix 0640): the test's IXC database and store, without
# TLS (the test servers have none), with these lines in place of the
# defaults of their keys, or added.
write_credentials() {
  local file=$ZBX_DIR/credentials/$1.conf line key
  shift
  local lines=("IXC_HOST=127.0.0.1" "IXC_PORT=$MARIADB_PORT" "IXC_USER=$ixc_user" "IXC_PASSWORD=$ixc_password"
    "IXC_DATABASE=$ixc_db" "PG_HOST=127.0.0.1" "PG_PORT=$ZBX_PG_PORT" "PG_DB=$store_db" "PG_USER=$store_writer"
    "PG_PASSWORD=$pg_password" "IXC_TLS=desligado" "PG_TLS=desligado")
  for line in "$@"; do
    key=${line%%=*}
    lines=("${lines[@]/#$key=*/}" "$line")
  done
  install -o root -g zabbix -m 0640 /dev/null "$file"
  for line in "${lines[@]}"; do [ -z "$line" ] || printf '%s\n' "$line"; done > "$file"
}

# dashboard_draws HOSTID: the host's dashboard as a browser draws it: the
# page, the view of every widget of every page of it (the graph prototypes
# showing the discovered graphs, the table of the largest debtors its text),
# and every graph of the host as an image. False at the first error (the
# frontend's error box or message), with what it was in $show.
dashboard_draws() {
  local base=${ZBX_API%/api_jsonrpc.php} jar=$work/cookies sid='' graph widget type
  printf 'name=Admin&password=zabbix&autologin=1&enter=Sign+in' |
    curl -sS -c "$jar" -b "$jar" -o /dev/null --data-binary @- "$base/index.php" || return 1
  curl -sS -b "$jar" -o "$work/dashboard.html" "$base/zabbix.php?action=host.dashboard.view&hostid=$1" || return 1
  show="a página: $(sed 's/<[^>]*>/ /g' "$work/dashboard.html" | tr -s ' \n' ' ' | head -c 400)"
  grep -q 'Cobrix: totais em atraso' "$work/dashboard.html" || return 1
  ! grep -q 'msg-bad' "$work/dashboard.html" || return 1  # the frontend's error box
  # The dashboard as the page hands it to its script, and each widget's
  # request as the script makes it (release.sh).
  sed -n 's/^[[:space:]]*view\.init(\(.*\));[[:space:]]*$/\1/p' "$work/dashboard.html" > "$work/dashboard.json"
  if [ "$zbx_widget_sid" = 1 ]; then
    sid="&sid=$(sed -n 's/.*<meta name="csrf-token" content="\([^"]*\)".*/\1/p' "$work/dashboard.html")"
  fi
  jq -c --arg h "$1" ".dashboard as \$d | .dashboard.pages[] | .name as \$page | .widgets[]
    | {type, name: (\$page + \" / \" + .name), request: ($zbx_widget_request)}" "$work/dashboard.json" > "$work/widgets" ||
    return 1
  show="os widgets: $(jq -r .name "$work/widgets" | paste -sd ',')"
  [ "$(wc -l < "$work/widgets")" -ge 6 ] || return 1
  while read -r widget; do
    type=$(jq -r .type <<<"$widget")
    jq -c .request <<<"$widget" | curl -sS -b "$jar" -H 'Content-Type: application/json' --data-binary @- \
      -o "$work/widget.json" "$base/zabbix.php?action=widget.$type.view$sid" || return 1
    show="o widget $type \"$(jq -r .name <<<"$widget")\": $(head -c 600 "$work/widget.json")"
    jq -e 'has("messages") or has("error") | not' "$work/widget.json" >/dev/null || return 1
    # jq tests the text itself: grep -q would end a pipe before jq, which
    # pipefail then takes for a failure.
    jq -e '(.body // "") | contains("msg-bad") | not' "$work/widget.json" >/dev/null || return 1
    case $type in
      graphprototype) jq -e '.children | length > 0' "$work/widget.json" >/dev/null || return 1 ;;
      plaintext | itemhistory) jq -e '.body | contains("Valor (R$)")' "$work/widget.json" >/dev/null || return 1 ;;
    esac
  done < "$work/widgets"
  for graph in $(api graph.get "{\"hostids\": [\"$1\"], \"output\": [\"graphid\"]}" | jq -r '.[].graphid'); do
    curl -sS -b "$jar" -o "$work/graph.png" "$base/chart2.php?graphid=$graph&from=now-1h&to=now&width=600&height=200"
    show="o gráfico $graph: $(file -b "$work/graph.png")"
    [[ $show == *"PNG image data"* ]] || return 1
  done
}
