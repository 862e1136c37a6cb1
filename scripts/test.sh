#!/usr/bin/env bash
# Installs what is missing, builds, checks the Debian package, and runs the
# whole test suite, then the tests again under the sanitizers. The tests
# start their own throwaway MariaDB and PostgreSQL servers and stop them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
# The Debian package: build, install with dpkg, run the installed binary.
"$top/scripts/package-check.sh" "$build"
(cd "$build" && ctest --output-on-failure -j "$(nproc)")

# The same tests again in a second build with AddressSanitizer and
# UndefinedBehaviorSanitizer (SANITIZE_BUILD_DIR, default build-asan). A
# report stops the process that made it with a failure status, which fails
# its test.
sanitize_build=${SANITIZE_BUILD_DIR:-$top/build-asan}
BUILD_DIR=$sanitize_build "$top/scripts/build.sh" -DCOBRIX_SANITIZE=ON
(cd "$sanitize_build" &&
  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -j "$(nproc)")
