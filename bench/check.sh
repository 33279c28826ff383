#!/bin/bash
# Repository check: --check-repository over a sound root of DUMPS server
# dumps (default 10000) and over CLIENTS clients (default 2000) with 5 dumps
# each, against `find` over the same tree, at a tenth and at the full size.
# The check validates every descriptor (schema and content files, no
# recorded verdict used), which `find` does not.
set -euo pipefail
source "$(dirname "$0")/common.sh"
dumps=${DUMPS:-10000}
clients=${CLIENTS:-2000}
gen() { /usr/bin/python3 "$root/sample/make_fixture_repo.py" "$@"; }
check() { dumpkeep --check-repository --dump-storage "$1"; }

printf '%-44s %10s %10s %8s\n' "case" "dumpkeep s" "find s" "ratio"
for scale in 10 1; do
  n=$((dumps / scale))
  repo=$scratch/server_$n
  gen "$repo" --scale "$n" --scale-type server
  check "$repo" >/dev/null   # a sound tree: exit code 0
  t=$(seconds check "$repo")
  f=$(seconds find "$repo")
  printf '%-44s %10s %10s %8s\n' "server, $n dumps" "$t" "$f" "$(ratio "$t" "$f")"

  c=$((clients / scale))
  repo=$scratch/clients_$c
  gen "$repo" --scale $((c * 5)) --scale-type client --scale-objects "$c"
  check "$repo" >/dev/null
  t=$(seconds check "$repo")
  f=$(seconds find "$repo")
  printf '%-44s %10s %10s %8s\n' "$c clients, 5 dumps each" "$t" "$f" "$(ratio "$t" "$f")"
done
