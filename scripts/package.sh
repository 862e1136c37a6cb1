#!/usr/bin/env bash
# Builds the Debian package of each release given (default: every release
# cobrix supports) into dist/ at the top of the checkout, each with its own
# release's compiler and libraries: this machine's release here, in
# BUILD_DIR (default build/), and another in its root (scripts/root.sh
# makes it if missing), in build-CODENAME/: the folders the test suites
# build in. Here it installs only what builds the package
# (scripts/install-deps.sh build): no server, nothing that starts a service;
# the other release's servers live in its root. Only what the package
# holds is built: the two programs (cobrix, cobrix-central), their manual
# pages and the changelog.
# The package's version and file name come from packaging/changelog and the
# building release (packaging/CMakeLists.txt):
# dist/cobrix_1.0.1-1~deb12u1_amd64.deb on Debian 12,
# dist/cobrix_1.0.1-1~deb13u1_amd64.deb on Debian 13. Prints each
# package's path.
#   usage: package.sh [CODENAME...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
root=$top/scripts/root.sh

# quiet COMMAND...: COMMAND's output only when it fails.
quiet() {
  local out
  out=$("$@" 2>&1) || { printf '%s\n' "$out" >&2; return 1; }
}

# package.sh --here BUILD_DIR: the package of the release this runs in.
if [ "${1:-}" = --here ]; then
  build=$2
  quiet cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  quiet cmake --build "$build" --target cobrix cobrix-central cobrix_man cobrix_central_man cobrix_changelog -j "$(nproc)"
  out=$(mktemp -d "$build/package.XXXXXX")
  quiet cpack -G DEB -B "$out" --config "$build/CPackConfig.cmake"
  deb=$(cd "$out" && echo cobrix_*.deb)
  mkdir -p "$top/dist"
  mv -f "$out/$deb" "$top/dist/$deb"
  rm -rf "$out"
  echo "$top/dist/$deb"
  exit 0
fi

host=$("$root" host)
releases=("$@")
[ $# -gt 0 ] || mapfile -t releases < <("$root" releases)
for release in "${releases[@]}"; do
  if [ "$release" = "$host" ]; then
    "$top/scripts/install-deps.sh" build >&2
    "$0" --here "${BUILD_DIR:-$top/build}"
  else
    "$root" make "$release" >&2
    "$root" run "$release" scripts/package.sh --here "$top/build-$release"
  fi
done
