#!/bin/bash
# Builds a Debian package of dumpkeep in build-package/ (a release build
# without the tests) and prints the path of the .deb. Needs cmake, the build
# dependencies of scripts/install_deps.sh and dpkg-dev (dpkg-shlibdeps works
# out the package's library dependencies).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-package
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDUMPKEEP_TESTS=OFF "$@" >/dev/null
cmake --build "$build" -j2 --target dumpkeep
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/dumpkeep_*.deb
