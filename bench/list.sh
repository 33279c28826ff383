#!/bin/bash
# Dump listing: the server's listing over a root of SERVER_DUMPS dumps
# (default 10000) with cached verdicts, one client's listing in a tree of
# CLIENTS clients (default 2000) with 5 dumps each, each against `find` over
# the same tree, at a tenth and at the full size; and the first listing of
# FIRST dumps (default 1000) that carry no verdict yet.
set -euo pipefail
source "$(dirname "$0")/common.sh"
server_dumps=${SERVER_DUMPS:-10000}
clients=${CLIENTS:-2000}
first=${FIRST:-1000}
server_guid=00000000-0000-4000-8000-000000000000
gen() { /usr/bin/python3 "$root/sample/make_fixture_repo.py" "$@"; }
client_guid() { /usr/bin/python3 -c "import uuid; print(uuid.uuid5(uuid.UUID('6a1f0c52-3f0e-4c1b-9d6e-2b6f3e0d9a10'), 'client:$1'))"; }
use_repo() { sed -i "s|^DUMP_D .*|DUMP_D $1|" "$OVR_CONF_DIR/ovr.conf"; }

printf '%-44s %10s %10s %8s\n' "case" "dumpkeep s" "find s" "ratio"
for scale in 10 1; do
  n=$((server_dumps / scale))
  repo=$scratch/server_$n
  gen "$repo" --scale "$n" --scale-type server
  use_repo "$repo"
  dumpkeep --get-dump-list --type server --guid "$server_guid" >/dev/null   # records the verdicts
  t=$(seconds dumpkeep --get-dump-list --type server --guid "$server_guid")
  f=$(seconds find "$repo")
  printf '%-44s %10s %10s %8s\n' "server, $n dumps, cached verdicts" "$t" "$f" "$(ratio "$t" "$f")"

  c=$((clients / scale))
  repo=$scratch/clients_$c
  gen "$repo" --scale $((c * 5)) --scale-type client --scale-objects "$c"
  use_repo "$repo"
  guid=$(client_guid obj1)
  dumpkeep --get-dump-list --type client --guid "$guid" >/dev/null
  t=$(seconds dumpkeep --get-dump-list --type client --guid "$guid")
  f=$(seconds find "$repo")
  printf '%-44s %10s %10s %8s\n' "one client of $c, 5 dumps each" "$t" "$f" "$(ratio "$t" "$f")"
done

repo=$scratch/first_$first
gen "$repo" --scale "$first" --scale-type server
use_repo "$repo"
t=$(seconds dumpkeep --get-dump-list --type server --guid "$server_guid")
printf '%-44s %10s\n' "first listing, $first dumps without verdict" "$t"
echo "peak memory of the cached server listing: $(peak_kib "$binary" --session-path "$scratch/session" --get-dump-list --type server --guid "$server_guid") KiB"
