#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite on every
# Debian release cobrix supports (scripts/root.sh releases; COBRIX_RELEASES
# narrows the list): this machine's release here, in build/, and every other
# one in its test root (made with debootstrap the first time, then kept), in
# build-CODENAME/. Then the Debian package of each release is built on a
# clean root of that release and installed on another
# (scripts/package-check.sh), the operator's quick start is run as written
# on a fresh root of each release (tests/quickstart/run.sh), and this
# release's tests run again under the sanitizers, in build-asan/.
# This machine's packages are installed first: installing the test servers
# asks on a terminal, and refuses elsewhere but in CI (CI=true) or with
# COBRIX_INSTALL_SERVERS=yes (scripts/install-deps.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
root=$top/scripts/root.sh
host=$("$root" host)
read -r -a releases <<<"${COBRIX_RELEASES:-$("$root" releases | tr '\n' ' ')}"
started=$SECONDS
"$top/scripts/install-deps.sh" test

# The other releases' roots are made while this release builds and tests.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
declare -A making
for r in "${releases[@]}"; do
  [ "$r" = "$host" ] && continue
  "$root" make "$r" >"$logs/make-$r.log" 2>&1 &
  making[$r]=$!
done

for r in "${releases[@]}"; do
  if [ "$r" = "$host" ]; then
    BUILD_DIR=${BUILD_DIR:-$top/build} "$top/scripts/suite.sh"
  else
    wait "${making[$r]}" || { cat "$logs/make-$r.log" >&2; echo "test.sh: the $r root could not be made" >&2; exit 1; }
    "$root" run "$r" env BUILD_DIR="$top/build-$r" scripts/suite.sh
  fi
done

"$top/scripts/package-check.sh" "${releases[@]}"
"$top/tests/quickstart/run.sh" "${releases[@]}"

if printf '%s\n' "${releases[@]}" | grep -qx "$host"; then
  BUILD_DIR=${SANITIZE_BUILD_DIR:-$top/build-asan} "$top/scripts/suite.sh" --sanitize
fi
echo "test.sh: ${releases[*]}: all passed in $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
