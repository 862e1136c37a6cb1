# shellcheck shell=bash
# Zabbix JSON-RPC client for the tests, sourced: api METHOD PARAMS prints the
# call's "result" as JSON, or fails printing the API's error. Requests go on
# standard input, so that no password of a request reaches a command line.
# Needs ZBX_API (the api_jsonrpc.php address); api_login sets the session.
zbx_auth=null

api() {
  local request response
  # The parameters travel in the environment: they may hold a password.
  request=$(ZBX_PARAMS=$2 jq -cn --arg method "$1" --argjson auth "$zbx_auth" \
    '{jsonrpc: "2.0", method: $method, params: (env.ZBX_PARAMS | fromjson), id: 1}
     + (if $auth == null then {} else {auth: $auth} end)')
  response=$(printf '%s' "$request" | curl -sS -H 'Content-Type: application/json-rpc' --data-binary @- "$ZBX_API") ||
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
  zbx_auth=$token
}
