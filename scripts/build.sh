#!/bin/bash
# Configures and builds into BUILD_DIR (default build/). Extra arguments go to cmake.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DDUMPKEEP_WERROR=ON "$@" >/dev/null
cmake --build "$build" -j2
