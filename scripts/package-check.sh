#!/usr/bin/env bash
# Proves the Debian package of each release given (default: every release
# cobrix supports). Builds it as a developer would on a clean machine of the
# release, a fresh minbase root (scripts/root.sh fresh), with
# scripts/package.sh, and fails when that build installed a server: dpkg -l
# before and after, and no package it added may ship a daemon (a systemd
# socket, or a service that is not a one-shot command). In the release (its
# test root, or this machine): checks the package with that release's
# lintian and its packaged changelog with dpkg-parsechangelog. Then on
# another fresh minbase root of the same release: installs it with apt,
# checks that apt brought nothing but what it depends on (and what those
# dependencies recommend), checks the installed files, links and manual
# page, and runs the installed program: the version banner, the debug run
# and a normal run against a MariaDB with the sample IXC database and a
# PostgreSQL started in the release's environment, which must end in OK
# with the sample's rows stored. The fresh roots are removed afterwards.
#   usage: package-check.sh [CODENAME...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
root=$top/scripts/root.sh
release='' deb='' fresh='' builder='' servers='' starting=''
fail() { echo "package-check: FALHA ($release): $*" >&2; exit 1; }
rel() { "$root" run "$release" "$@"; }  # in the release's environment
new() { "$root" in "$fresh" "$@"; }     # in the fresh root

# The servers' folder is in the checkout, which every root sees at the same path.
work=$(mktemp -d "$top/.package-check.XXXXXX")
finish() {  # stops the release's servers and removes its fresh root
  [ -z "$starting" ] || wait "$starting" || true
  [ -z "$servers" ] || rel tests/servers/stop.sh "$servers"
  [ -z "$fresh" ] || rm -rf "$fresh"
  [ -z "$builder" ] || rm -rf "$builder"
  servers='' fresh='' builder='' starting=''
}
trap 'finish; rm -rf "$work"' EXIT

# build_clean: builds the release's package in a fresh minbase root, as
# scripts/package.sh builds it on a clean machine (in a build folder of the
# root's own), and sets deb to its path in dist/. Fails when the build
# installed a package that ships a daemon: build tools only, never a server.
build_clean() {
  local added services
  builder=$(mktemp -d "${TMPDIR:-/var/tmp}/cobrix-build-$release.XXXXXX")
  "$root" fresh "$release" "$builder"
  "$root" in "$builder" dpkg -l > "$work/dpkg-before"
  echo "\$ scripts/package.sh $release   (numa raiz minbase nova)"
  "$root" in "$builder" nice env BUILD_DIR=/root/build scripts/package.sh "$release" > "$work/build.out" 2> "$work/build.log" ||
    { tail -n 40 "$work/build.log" >&2; fail "o pacote não foi construído"; }
  deb=$(tail -n 1 "$work/build.out")
  "$root" in "$builder" dpkg -l > "$work/dpkg-after"
  added=$(comm -13 <(awk '$1 == "ii" {print $2}' "$work/dpkg-before" | sort) \
                   <(awk '$1 == "ii" {print $2}' "$work/dpkg-after" | sort))
  echo "dpkg -l: $(grep -c '^ii' "$work/dpkg-before") pacotes antes, $(grep -c '^ii' "$work/dpkg-after") depois;" \
    "a construção instalou: $(tr '\n' ' ' <<<"$added")"
  # A daemon is a systemd socket, or a service that is not a one-shot
  # command (procps's, which sets the kernel's parameters at boot, is one).
  # shellcheck disable=SC2016,SC2086  # the list is split into its names
  services=$("$root" in "$builder" bash -c 'for p; do
    for unit in $(dpkg -L "$p" | grep -E "/systemd/system/[^/]+\.(service|socket)\$"); do
      case $unit in *.socket) echo "$p" ;; *) grep -qx "Type=oneshot" "$unit" || echo "$p" ;; esac
    done; done | sort -u' _ $added)
  [ -z "$services" ] || fail "construir o pacote instalou servidores: $(tr '\n' ' ' <<<"$services")"
  rm -rf "$builder"
  builder=''
}

check_release() {
  release=$1
  local name version upstream report changes before installed closure extra id codename
  build_clean
  name=$(basename "$deb")
  version=$(dpkg-deb -f "$deb" Version)
  echo "== $release: dist/$name"
  dpkg-deb -f "$deb" Depends

  # Debian's own checks: any error or warning fails, and so does any
  # hardening tag, whatever its level (a program built without the
  # distribution's flags). Informational tags are shown and tolerated.
  echo "\$ lintian -I $name"
  report=$(rel lintian -I --fail-on none "$deb" 2>&1) || fail "lintian não rodou: $report"
  report=$(grep -v '^running with root privileges' <<<"$report" || true)
  [ -z "$report" ] || printf '%s\n' "$report"
  if grep -qE '^[EW]: |hardening-' <<<"$report"; then fail "lintian: erros, avisos ou falta de hardening"; fi

  # The version: packaging/changelog's, rebuilt for the release (~debNNu1),
  # and the packaged changelog's top entry is that version, for the release.
  read -r id codename < <(rel bash -c '. /etc/os-release && echo "$VERSION_ID $VERSION_CODENAME"')
  upstream=$(rel dpkg-parsechangelog -l packaging/changelog -S Version)
  [ "$version" = "$upstream~deb${id}u1" ] || fail "versão $version: não é a de packaging/changelog para o Debian $id"
  upstream=${upstream%-*}
  [ "$name" = "cobrix_${version}_$(dpkg-deb -f "$deb" Architecture).deb" ] || fail "nome de arquivo $name"
  changes=$(rel bash -c 'dpkg-deb --fsys-tarfile "$1" | tar -xOf - ./usr/share/doc/cobrix/changelog.Debian.gz |
    gzip -dc > "$2" && dpkg-parsechangelog -l "$2"' _ "$deb" "$work/changelog")
  grep -qx "Version: $version" <<<"$changes" && grep -qx "Distribution: $codename" <<<"$changes" ||
    fail "o changelog do pacote não começa pela entrada $version ($codename)"

  # The servers start while the fresh root installs the package.
  servers=$work/servers
  rel tests/servers/start.sh "$servers" >"$work/servers.log" 2>&1 &
  starting=$!
  fresh=$(mktemp -d "${TMPDIR:-/var/tmp}/cobrix-fresh-$release.XXXXXX")
  "$root" fresh "$release" "$fresh"
  new apt-get -q update >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get update"; }
  before=$(new dpkg-query -W -f '${Package}\n' | sort)
  echo "\$ apt install ./dist/$name"
  # A throwaway root: dpkg need not sync each file it unpacks.
  new env DEBIAN_FRONTEND=noninteractive apt -o Dpkg::Options::=--force-unsafe-io install -y "./dist/$name" \
    >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt install"; }
  installed=$(comm -13 <(echo "$before") <(new dpkg-query -W -f '${Package}\n' | sort))
  echo "instalados: $(echo $installed)"
  # Nothing but cobrix and what it depends on, directly or not; apt also
  # installs what those dependencies recommend, and cobrix recommends nothing.
  [ -z "$(dpkg-deb -f "$deb" Recommends)" ] || fail "o pacote declara Recommends"
  closure=$(new apt-cache depends --recurse --no-suggests --no-conflicts --no-breaks --no-replaces \
    --no-enhances cobrix | grep -v '^ ' | sort -u)
  extra=$(comm -23 <(echo "$installed") <(echo "$closure"))
  [ -z "$extra" ] || fail "apt instalou o que o pacote não pede:" $extra

  for f in /usr/bin/cobrix /usr/share/man/man1/cobrix.1.gz /usr/lib/cobrix/cobrix-agent \
           /usr/lib/cobrix/cobrix-wrapper.sh /usr/share/doc/cobrix/zabbix/cobrix_template.yaml; do
    [ -f "$fresh$f" ] || fail "$f não foi instalado"
  done
  grep -q '^\.TH COBRIX 1' <<<"$(gzip -dc "$fresh/usr/share/man/man1/cobrix.1.gz")" || fail "a página de manual não é a de cobrix(1)"
  # Both ExternalScripts folders (Debian's Zabbix, and upstream's): the
  # wrapper alone, never the program (whose key could carry passwords).
  for scripts in /etc/zabbix/externalscripts /usr/lib/zabbix/externalscripts; do
    [ "$(new readlink -f "$scripts/cobrix-zabbix")" = /usr/lib/cobrix/cobrix-zabbix ] &&
      [ ! -e "$fresh$scripts/cobrix" ] && [ ! -L "$fresh$scripts/cobrix" ] ||
      fail "$scripts deve ter só o link para o wrapper cobrix-zabbix"
  done
  echo '$ /usr/bin/cobrix version'
  report=$(new /usr/bin/cobrix version)
  printf '%s\n' "$report"
  [ "$(tail -n 1 <<<"$report")" = "/usr/bin/cobrix  $upstream" ] || fail "banner inesperado"

  wait "$starting" || { cat "$work/servers.log" >&2; starting=''; fail "os servidores não iniciaram"; }
  starting=''
  # shellcheck disable=SC1091
  . "$servers/env"
  rel bash -c 'mariadb --no-defaults --socket="$1" -uroot -e "CREATE DATABASE ixc CHARACTER SET utf8mb4" &&
    mariadb --no-defaults --socket="$1" -uroot --default-character-set=utf8mb4 ixc < sample/ixc_sample.sql &&
    psql -X -q -h "$2" -p "$3" -U postgres -d postgres -c "CREATE DATABASE cobrix_pacote"' \
    _ "$MARIADB_SOCKET" "$PG_SOCKET_DIR" "$PG_PORT"
  # The passwords through a descriptor, never on a command line.
  local args=(--senhas-fd=3 descobertaClientes "$MARIADB_HOST" "$MARIADB_PORT" "$MARIADB_USER" ixc
              "$PG_HOST" "$PG_PORT" cobrix_pacote "$PG_USER")
  local secrets=$MARIADB_PASSWORD$'\n'$PG_PASSWORD status=0 total
  echo '$ /usr/bin/cobrix descobertaClientes ... debug'
  report=$(new /usr/bin/cobrix "${args[@]}" debug 3<<<"$secrets") || status=$?
  grep -E '^(Modo debug|Total|Valor)' <<<"$report" || true
  [ $status = 0 ] || fail "a execução de depuração terminou com status $status"
  [ "$(head -n 1 <<<"$report")" = "Modo debug ativado." ] || fail "o relatório não começa por 'Modo debug ativado.'"
  total=$(($(sed -n 's/^Total de clientes \(ativos\|inativos\) em atraso: *//p' <<<"$report" | paste -sd+)))
  [ "$total" -gt 0 ] || fail "o relatório não traz os totais"

  echo "\$ /usr/bin/cobrix descobertaClientes ... pacote-$release"
  report=$(new /usr/bin/cobrix "${args[@]}" "pacote-$release" 3<<<"$secrets") || status=$?
  printf '%s\n' "$report"
  [ $status = 0 ] && [ "$(tail -n 1 <<<"$report")" = OK ] || fail "a execução normal não terminou em OK (status $status)"
  [ "$(rel psql -X -tA -h "$PG_SOCKET_DIR" -p "$PG_PORT" -U postgres -d cobrix_pacote -c \
      "SELECT count(*) FROM ixc_clientes WHERE ixcidentification = 'pacote-$release'")" = "$total" ] ||
    fail "ixc_clientes não tem as $total linhas do exemplo"
  echo "$release: $total linhas em ixc_clientes"
  finish
}

releases=("$@")
[ $# -gt 0 ] || mapfile -t releases < <("$root" releases)
started=$SECONDS
for r in "${releases[@]}"; do check_release "$r"; done
echo "package-check: ${releases[*]}: OK em $((SECONDS - started)) s"
