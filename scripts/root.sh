#!/usr/bin/env bash
# Debian roots of the releases cobrix supports, made with debootstrap from
# Debian's archive and kept between runs in $COBRIX_ROOTS (default
# /var/cache/cobrix-roots), so that each release is built and tested with its
# own packages on any machine of either release.
#
#   root.sh releases             the supported releases, by codename
#   root.sh host                 this machine's release
#   root.sh make CODENAME        the release's test root: a minbase root with
#                                what scripts/install-deps.sh test installs
#                                (on a machine of that release: the install
#                                alone, which asks before installing servers)
#   root.sh run CODENAME CMD...  runs CMD in the checkout in that release: in
#                                its test root, where the checkout is bound
#                                at the same path (on a machine of that
#                                release: here)
#   root.sh fresh CODENAME DIR   a new copy of the release's pristine minbase
#                                root in DIR, never used before
#   root.sh in DIR CMD...        runs CMD in the root DIR (a fresh copy), with
#                                the checkout bound as in run
#
# A root is made in a folder of its own and moved into place only when
# complete: one that a killed run left half-made is made anew. Packages in
# a root never start services (policy-rc.d), and the test root creates no
# PostgreSQL cluster of its own; it is marked /etc/cobrix-root, where
# install-deps.sh installs the test servers without asking. A fresh copy
# gets the package files that this machine and the release's test root have
# already downloaded, as links in its apt cache, so that apt in it fetches
# only what they lack. Mounts (/proc, /dev, /sys, the checkout)
# live in a private mount namespace that ends with the command.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
roots=${COBRIX_ROOTS:-/var/cache/cobrix-roots}
mirror=${COBRIX_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=${COBRIX_DEBIAN_SECURITY:-http://deb.debian.org/debian-security}
supported=(bookworm trixie)

die() { echo "root.sh: $*" >&2; exit 1; }
usage() { die "usage: root.sh releases | host | make CODENAME | run CODENAME CMD... | fresh CODENAME DIR | in DIR CMD..."; }
host_release() { (. /etc/os-release && echo "$VERSION_CODENAME"); }

known() {
  local r
  for r in "${supported[@]}"; do [ "$r" = "$1" ] && return 0; done
  die "release $1 is not one of: ${supported[*]}"
}

# locked NAME COMMAND...: runs COMMAND holding the lock of root NAME, so that
# two runs never make the same root at once.
locked() {
  local name=$1
  shift
  mkdir -p "$roots"
  (flock 9 && "$@") 9>"$roots/.$name.lock"
}

# The release's suites: its own, its updates and its security updates.
write_sources() {  # write_sources ROOT CODENAME
  cat > "$1/etc/apt/sources.list" <<EOF
deb $mirror $2 main
deb $mirror $2-updates main
deb $security $2-security main
EOF
}

# chrooted ROOT COMMAND...: COMMAND in ROOT with /proc, /dev and /sys mounted
# and the checkout bound at its own path, in a clean environment.
chrooted() {
  local root=$1
  shift
  # The root's own folder comes from mktemp (0700): the servers' users
  # (postgres, zabbix) must reach the programs below it.
  chmod 0755 "$root"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  mkdir -p "$root$top"
  unshare --mount --propagation private -- bash -c '
    set -e
    root=$1 top=$2
    shift 2
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount --rbind /sys "$root/sys"
    mount --bind "$top" "$root$top"
    exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI:-}" \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      bash -c "cd \"\$0\" && exec \"\$@\"" "$top" "$@"
  ' chrooted "$root" "$top" "$@"
}

# The pristine minbase root of a release: made once, never changed after.
make_minbase() {  # make_minbase CODENAME
  local dest=$roots/$1-minbase tmp
  [ -f "$dest/.cobrix-complete" ] && return 0
  command -v debootstrap >/dev/null || {
    "$top/scripts/apt.sh" update >/dev/null
    "$top/scripts/apt.sh" install -y --no-install-recommends debootstrap >/dev/null
  }
  rm -rf "$dest" "$roots/.$1-minbase".*
  tmp=$(mktemp -d "$roots/.$1-minbase.XXXXXX")
  echo "root.sh: debootstrap --variant=minbase $1 (about a minute)" >&2
  debootstrap --variant=minbase "$1" "$tmp" "$mirror" >"$tmp.log" 2>&1 ||
    { tail -n 20 "$tmp.log" >&2; die "debootstrap $1 failed (log: $tmp.log)"; }
  write_sources "$tmp" "$1"
  printf '#!/bin/sh\n# Packages installed in this root start no services.\nexit 101\n' > "$tmp/usr/sbin/policy-rc.d"
  chmod 0755 "$tmp/usr/sbin/policy-rc.d"
  touch "$tmp/.cobrix-complete"
  rm -f "$tmp.log"
  mv "$tmp" "$dest"
}

# The test root: a copy of the minbase root with the suite's packages.
make_test_root() {  # make_test_root CODENAME
  local dest=$roots/$1 tmp
  if [ ! -f "$dest/.cobrix-complete" ]; then
    locked "$1-minbase" make_minbase "$1"
    rm -rf "$dest" "$roots/.$1".*
    tmp=$(mktemp -d "$roots/.$1.XXXXXX")
    cp -a "$roots/$1-minbase/." "$tmp/"
    rm -f "$tmp/.cobrix-complete"
    # A throwaway root: no fsync per unpacked file, no manual-page index,
    # and no PostgreSQL cluster made and started by the package itself.
    echo force-unsafe-io > "$tmp/etc/dpkg/dpkg.cfg.d/cobrix-unsafe-io"
    mkdir -p "$tmp/etc/postgresql-common"
    echo "create_main_cluster = false" > "$tmp/etc/postgresql-common/createcluster.conf"
    echo "root.sh: installing the $1 test root's packages" >&2
    chrooted "$tmp" bash -c 'echo "man-db man-db/auto-update boolean false" | debconf-set-selections'
    mark_test_root "$tmp"
    chrooted "$tmp" scripts/install-deps.sh test
    touch "$tmp/.cobrix-complete"
    mv "$tmp" "$dest"
  fi
  # Packages added to the list since the root was made.
  mark_test_root "$dest"
  chrooted "$dest" scripts/install-deps.sh test
}

mark_test_root() {  # mark_test_root ROOT
  echo "A test root of cobrix (scripts/root.sh): its test servers install without asking." > "$1/etc/cobrix-root"
}

# seed_apt_cache ROOT CODENAME: links the package files that this machine
# (when of that release) and the release's test root downloaded into ROOT's
# apt cache; apt checks each against its index before using it. Nothing
# when they sit on another file system.
seed_apt_cache() {
  local archives=$1/var/cache/apt/archives from
  for from in "$roots/$2/var/cache/apt/archives" /var/cache/apt/archives; do
    [ "$from" != /var/cache/apt/archives ] || [ "$2" = "$(host_release)" ] || continue
    [ -d "$from" ] || continue
    find "$from" -maxdepth 1 -name '*.deb' -exec cp -l -n -t "$archives" {} + 2>/dev/null || true
  done
}

[ $# -ge 1 ] || usage
[ "$(id -u)" = 0 ] || die "roots are made and entered as root"
case $1 in
  releases)
    printf '%s\n' "${supported[@]}"
    ;;
  host)
    host_release
    ;;
  make)
    [ $# = 2 ] || usage
    known "$2"
    if [ "$2" = "$(host_release)" ]; then
      "$top/scripts/install-deps.sh" test
    else
      locked "$2" make_test_root "$2"
    fi
    ;;
  run)
    [ $# -ge 3 ] || usage
    known "$2"
    codename=$2
    shift 2
    if [ "$codename" = "$(host_release)" ]; then
      cd "$top" && exec "$@"
    fi
    [ -f "$roots/$codename/.cobrix-complete" ] || die "no $codename root: scripts/root.sh make $codename"
    chrooted "$roots/$codename" "$@"
    ;;
  in)
    [ $# -ge 3 ] || usage
    dir=$(cd "$2" && pwd)
    # The pristine roots stay as debootstrap left them: copy one with fresh.
    case $dir in "$roots"/*-minbase) die "$dir is a pristine root: use a copy (root.sh fresh)" ;; esac
    shift 2
    chrooted "$dir" "$@"
    ;;
  fresh)
    [ $# = 3 ] || usage
    known "$2"
    locked "$2-minbase" make_minbase "$2"
    mkdir -p "$3"
    cp -a "$roots/$2-minbase/." "$3/"
    rm -f "$3/.cobrix-complete"
    seed_apt_cache "$3" "$2"
    ;;
  *) usage ;;
esac
