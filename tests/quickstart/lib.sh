# shellcheck shell=bash
# Shared by run.sh and check.sh, which run on this machine but inside the
# quick-start root's network namespace: the root's paths, the Zabbix API of
# the root's frontend (this machine's curl and jq, so that the root has only
# what the guide installs), failures.
#   . lib.sh DIR   (DIR: the fresh root)
set -eEuo pipefail
# A command that stops the test says which it was.
trap 'echo "quickstart: parou em ${BASH_SOURCE[0]##*/}:$LINENO: $BASH_COMMAND" >&2; hold' ERR
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
dir=$1
# The test's own files in the root, which the guide never reads: what the
# provider was given (the IXC user's password, the API token), the guide's
# commands as the test runs them, and the logs.
state=/var/lib/cobrix-guia-teste
# shellcheck disable=SC2034  # read by the sourcing script
logs=$dir$state/logs

fail() { echo "quickstart: FALHA: $*" >&2; hold; exit 1; }
# hold: with COBRIX_GUIA_MANTER=1, the root and its servers stay up for an
# hour after a failure, to be looked into.
hold() {
  [ -n "${COBRIX_GUIA_MANTER:-}" ] || return 0
  echo "quickstart: a raiz fica de pé por uma hora; para entrar nela:" >&2
  echo "  nsenter --net=/proc/$$/ns/net $top/scripts/root.sh in $dir bash    (para terminar: kill $$)" >&2
  sleep 3600 &
  wait $! || true
}
in_root() { "$top/scripts/root.sh" in "$dir" "$@"; }

# The Zabbix API of the root's frontend, through the suite's client
# (tests/zabbix/api.sh: parameters and token never on a command line). The
# session or token travels in the request's "auth" member, which both
# releases take.
# shellcheck disable=SC2034  # read by api.sh
ZBX_API=http://127.0.0.1/zabbix/api_jsonrpc.php zbx_bearer=0
# shellcheck source=tests/zabbix/api.sh
. "$top/tests/zabbix/api.sh"

# wait_until SECONDS COMMAND...: runs COMMAND every half second until it succeeds.
wait_until() {
  local tries=$(($1 * 2))
  shift
  while ! "$@" >/dev/null 2>&1; do
    tries=$((tries - 1))
    [ $tries -gt 0 ] || return 1
    sleep 0.5
  done
}
