#!/bin/bash
# Installs what is needed, builds, starts the loopback servers the tests use
# and runs the whole suite twice: a normal build and one under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install_deps.sh

BUILD_DIR=$root/build bash scripts/build.sh
BUILD_DIR=$root/build-sanitize bash scripts/build.sh -DDUMPKEEP_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug

servers=$(mktemp -d /tmp/dumpkeep_servers_XXXXXX)
cleanup() {
  bash "$root/scripts/stop_test_mariadb.sh" "$servers" >/dev/null 2>&1 || true
  rm -rf "$servers"
}
trap cleanup EXIT
eval "$(bash scripts/start_test_mariadb.sh "$servers")"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
echo "== Test suite (normal build)"
(cd build && ctest --output-on-failure -j2) || status=1
echo "== Test suite (sanitizer build)"
(cd build-sanitize && ctest --output-on-failure -j2) || status=1
exit $status
