#!/usr/bin/env bash
# One release's test suite, on the machine or root it runs in: builds cobrix
# and its tests in BUILD_DIR (default build) and runs them with CTest. The
# tests start their own throwaway servers and stop them. With --sanitize,
# the build has AddressSanitizer and UndefinedBehaviorSanitizer, and any
# report fails the test whose process made it.
#   usage: suite.sh [--sanitize] [CTEST_ARGS...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
flags=()
if [ "${1:-}" = --sanitize ]; then
  flags=(-DCOBRIX_SANITIZE=ON)
  shift
  export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
(. /etc/os-release && echo "== $PRETTY_NAME: $build ${flags[*]}")
BUILD_DIR=$build "$top/scripts/build.sh" "${flags[@]}"
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
