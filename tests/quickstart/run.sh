#!/usr/bin/env bash
# The operator's quick start, run as written, for each release given
# (default: every release cobrix supports): takes the command blocks that
# doc/guia.md marks for the release (a line <!-- quickstart: debianNN --> or
# <!-- quickstart: ambos --> right before a ```sh block) and runs them in
# order, in one shell, as root in /root, on a fresh minbase root of the
# release (scripts/root.sh fresh) holding what the guide says the provider
# already has (provider.sh): the release's Zabbix server, frontend and
# database, the IXC MariaDB and the central PostgreSQL, with certificates
# from a test CA, and the release's package from dist/ (scripts/package.sh
# builds it when missing). What the reader types at the guide's prompts (the
# IXC user's password, the API token) is the shell's standard input. Then
# check.sh proves the first value and what the guide promises on the way.
# The root runs in a network namespace of its own, where the guide's host
# names and the stock ports are its own; README.md here says what stands in
# for what.
# With COBRIX_GUIA_MANTER=1 a failure leaves the root and its servers
# running for an hour, and says how to enter them.
#   usage: tests/quickstart/run.sh [CODENAME...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
root=$top/scripts/root.sh
# The provider's servers, by the names the guide gives them.
names=(banco-ixc.provedor.example pg-central.provedor.example)

# guide_script MARKER: the guide's blocks for the release, in order, each
# shown (as written: the shell's own -v would also show the files that a
# block sources) and then run; fails on a marker that is misspelt or not
# followed by a ```sh block.
guide_script() {
  awk -v mine="$1" '
    block && $0 == "```" { block = 0
                           printf "echo \"### bloco %d, doc/guia.md:%d\"\ncat <<'"'"'FIM_DO_BLOCO'"'"'\n%sFIM_DO_BLOCO\n%s", n, start, text, text
                           next }
    block { text = text $0 "\n"; next }
    marked { marked = 0
             if ($0 != "```sh") { print "doc/guia.md:" NR ": a marca não vem antes de um bloco ```sh" > "/dev/stderr"; exit 1 }
             block = 1; n++; start = NR + 1; text = ""; next }
    /^<!-- quickstart:/ { if ($0 !~ /^<!-- quickstart: (debian12|debian13|ambos) -->$/) {
                            print "doc/guia.md:" NR ": marca desconhecida: " $0 > "/dev/stderr"; exit 1 }
                          marked = ($0 == "<!-- quickstart: " mine " -->" || $0 == "<!-- quickstart: ambos -->") }
    END { if (!n) { print "doc/guia.md: nenhum bloco para " mine > "/dev/stderr"; exit 1 } }
  ' "$top/doc/guia.md"
}

# --- In the root's network namespace (run.sh --netns DIR OUTSIDE_NETNS):
# loopback up, apt's way out, the provider, the guide, the checks.
if [ "${1:-}" = --netns ]; then
  # shellcheck source=tests/quickstart/lib.sh
  . "$here/lib.sh" "$2"
  ip link set lo up
  /usr/bin/python3 "$here/proxy.py" "$3" 3142 2>>"$logs/proxy.log" &
  proxy=$!
  trap 'kill $proxy 2>/dev/null; touch "$logs/.parar"' EXIT
  wait_until 20 bash -c 'exec 3<>/dev/tcp/127.0.0.1/3142' || fail "o proxy do apt não abriu"
  phase=$SECONDS
  in_root tests/quickstart/provider.sh start >"$logs/provedor.log" 2>&1 ||
    { tail -n 40 "$logs/provedor.log" >&2; fail "o que o provedor já tem não ficou de pé"; }
  echo "provedor: $((SECONDS - phase)) s"

  # The provider's API token, made by the frontend's stock administrator.
  wait_until 60 api apiinfo.version '{}' || fail "o frontend não respondeu"
  api_login || fail "o frontend não aceitou o login do Admin"
  tokenid=$(api token.create '{"name": "guia rápido", "userid": "1"}' | jq -r '.tokenids[0]')
  (umask 077
   api token.generate "[\"$tokenid\"]" | jq -r '.[0].token' > "$dir$state/token"
   cat "$dir$state/ixc.senha" "$dir$state/token" > "$dir$state/digitado")

  # Every command line on this machine while the guide runs, for check.sh;
  # a canary that the sweep must see.
  canary=canario-$RANDOM$RANDOM
  echo "$canary" > "$dir$state/canario"
  while [ ! -e "$logs/.parar" ]; do grep -a -h -s . /proc/[0-9]*/cmdline || true; sleep 0.05; done |
    tr '\0' ' ' | awk '!seen[$0]++' > "$logs/comandos" &
  sweep=$!
  sh -c "sleep 2 # $canary" &

  phase=$SECONDS
  # shellcheck disable=SC2016  # expanded in the root
  in_root bash -c 'cd /root && bash -e "$1/guia.sh" < "$1/digitado"' _ "$state" >"$logs/guia.log" 2>&1 ||
    { tail -n 40 "$logs/guia.log" >&2; fail "um comando do guia falhou"; }
  echo "guia: $((SECONDS - phase)) s"
  touch "$logs/.parar"
  wait $sweep
  phase=$SECONDS
  "$here/check.sh" "$dir"
  echo "verificações: $((SECONDS - phase)) s"
  in_root tests/quickstart/provider.sh stop >>"$logs/provedor.log" 2>&1
  exit 0
fi

# kill_root DIR: ends, by PID, every process still running in the root.
kill_root() {
  local p pids=()
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$1" ] && pids+=("${p#/proc/}")
  done
  [ ${#pids[@]} = 0 ] || kill -KILL "${pids[@]}" 2>/dev/null || true
}

# make_certs DIR: the test CA, which the provider hands the reader as
# /root/ca-provedor.crt, and a server certificate from it for each name.
make_certs() {
  local tls=$1$state/tls name
  mkdir -p "$tls"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=CA de teste do provedor" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout "$tls/ca.key" -out "$tls/ca.crt" 2>/dev/null
  for name in "${names[@]}"; do
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=$name" \
      -keyout "$tls/$name.key" -out "$tls/$name.csr" 2>/dev/null
    openssl x509 -req -in "$tls/$name.csr" -CA "$tls/ca.crt" -CAkey "$tls/ca.key" -CAcreateserial -days 2 \
      -extfile <(printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\n' "$name") -out "$tls/$name.crt" 2>/dev/null
  done
  cp "$tls/ca.crt" "$1/root/ca-provedor.crt"
}

state=/var/lib/cobrix-guia-teste
dir='' release=''
# A failed run keeps the root's logs (the guide's transcript, the provider's
# set-up, the sweep, the servers' own) beside where the root was.
on_exit() {
  local status=$? kept=${TMPDIR:-/var/tmp}/cobrix-guia-$release.registros
  [ -n "$dir" ] || return 0
  if [ $status != 0 ]; then
    rm -rf "$kept"
    cp -a "$dir$state/logs" "$kept" 2>/dev/null && cp -a "$dir/var/log" "$kept/var-log" 2>/dev/null &&
      echo "quickstart: os registros (o do guia, os dos servidores) estão em $kept" >&2
  fi
  kill_root "$dir"
  rm -rf "$dir"
}
trap on_exit EXIT
version=$(dpkg-parsechangelog -l "$top/packaging/changelog" -S Version)
releases=("$@")
[ $# -gt 0 ] || mapfile -t releases < <("$root" releases)
started=$SECONDS
for release in "${releases[@]}"; do
  echo "== guia rápido: $release"
  release_started=$SECONDS
  dir=$(mktemp -d "${TMPDIR:-/var/tmp}/cobrix-guia-$release.XXXXXX")
  "$root" fresh "$release" "$dir"
  number=$(. "$dir/etc/os-release" && echo "$VERSION_ID")
  deb=cobrix_$version~deb${number}u1_amd64.deb
  [ -f "$top/dist/$deb" ] || "$top/scripts/package.sh" "$release" >/dev/null
  cp "$top/dist/$deb" "$dir/root/"
  install -d -m 0700 "$dir$state" "$dir$state/logs"
  guide_script "debian$number" > "$dir$state/guia.sh"
  make_certs "$dir"
  # /etc/hosts as Debian's installer writes it (debootstrap writes none),
  # with the provider's names on loopback; apt leaves through proxy.py.
  printf '127.0.0.1\tlocalhost\n127.0.1.1\t%s\n::1\t\tlocalhost ip6-localhost ip6-loopback\n127.0.0.1\t%s\n' \
    "$(hostname)" "${names[*]}" > "$dir/etc/hosts"
  echo 'Acquire::http::Proxy "http://127.0.0.1:3142/";' > "$dir/etc/apt/apt.conf.d/00proxy-do-teste"
  unshare --net -- "$0" --netns "$dir" "/proc/$$/ns/net"
  kill_root "$dir"
  rm -rf "$dir"
  dir=''
  echo "guia rápido: $release: OK em $((SECONDS - release_started)) s"
done
echo "guia rápido: ${releases[*]}: OK em $((SECONDS - started)) s"
