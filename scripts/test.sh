#!/usr/bin/env bash
# Installs what is missing, builds, checks the Debian package, and runs the
# whole test suite. The tests start their own throwaway MariaDB and
# PostgreSQL servers and stop them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
# The Debian package: build, install with dpkg, run the installed binary.
"$top/scripts/package-check.sh" "$build"
cd "$build"
ctest --output-on-failure -j "$(nproc)"
