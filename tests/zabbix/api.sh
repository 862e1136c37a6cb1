# shellcheck shell=bash
# Zabbix JSON-RPC client for the tests, sourced after release.sh: api METHOD
# PARAMS prints the call's "result" as JSON, or fails printing the API's
# error. Requests go on standard input and the session token in a header
# read from a descriptor, so that no password or token of a request reaches
# a command line.
# Needs ZBX_API (the api_jsonrpc.php address) and zbx_bearer (1: the token
# in a header; release.sh sets it); api_login sets the session.
zbx_token=

# Prints the header that carries the session token, when it travels in one
# (never for the methods that must be called without a session).
# shellcheck disable=SC2154  # zbx_bearer is set by release.sh
auth_header() {
  case $1 in apiinfo.version | user.login) return ;; esac
  [ -z "$zbx_token" ] || [ "$zbx_bearer" != 1 ] || printf 'Authorization: Bearer %s\n' "$zbx_token"
}

api() {
  local request response
  # The parameters travel in the environment: they may hold a password.
  request=$(ZBX_PARAMS=$2 ZBX_TOKEN=$zbx_token jq -cn --arg method "$1" --argjson body_auth "$((1 - zbx_bearer))" \
    '{jsonrpc: "2.0", method: $method, params: (env.ZBX_PARAMS | fromjson), id: 1}
     + (if env.ZBX_TOKEN == "" or $body_auth == 0 or $method == "apiinfo.version" or $method == "user.login"
        then {} else {auth: env.ZBX_TOKEN} end)')
  response=$(printf '%s' "$request" |
    curl -sS -H 'Content-Type: application/json-rpc' -H @<(auth_header "$1") --data-binary @- "$ZBX_API") ||
    { echo "api $1: o frontend não respondeu" >&2; return 1; }
  if ! jq -e 'has("result")' >/dev/null <<<"$response"; then
    echo "api $1: $(jq -c '.error // .' <<<"$response")" >&2
    return 1
  fi
  jq -c '.result' <<<"$response"
}

# Logs in as the frontend's stock administrator.
api_login() {
  local token
  token=$(api user.login '{"username": "Admin", "password": "zabbix"}') || return 1
  zbx_token=$(jq -r . <<<"$token")
}
