#!/bin/bash
# Rotation down to KEEP (default 10): a file series of FILES backups (default
# 10000) and a structured series of DUMPS dumps (default 2000) on a local
# storage, each at a tenth and at the full length, to show the growth.
set -euo pipefail
source "$(dirname "$0")/common.sh"
files=${FILES:-10000}
dumps=${DUMPS:-2000}
keep=${KEEP:-10}
server_guid=00000000-0000-4000-8000-000000000000

printf '%-40s %10s %10s\n' "case" "seconds" "left"
for scale in 10 1; do
  n=$((files / scale))
  repo=$scratch/files_$n
  mkdir -p "$repo"
  /usr/bin/python3 - "$repo" "$n" <<'PY'
import datetime, os, sys
root, n = sys.argv[1], int(sys.argv[2])
start = datetime.datetime(2010, 1, 1)
for k in range(n):
    stamp = (start + datetime.timedelta(minutes=k)).strftime("%y%m%d%H%M")
    open(os.path.join(root, "backup_%s.tgz" % stamp), "wb").close()
PY
  last=$(ls "$repo" | sort | tail -n 1)
  t=$(seconds dumpkeep --dump-storage "$repo" --rotate-dump --dump-specification "$last" \
        --dump-rotation "$keep" --guid g)
  printf '%-40s %10s %10s\n' "file series of $n" "$t" "$(ls "$repo" | wc -l)"

  n=$((dumps / scale))
  repo=$scratch/structured_$n
  /usr/bin/python3 "$root/sample/make_fixture_repo.py" "$repo" --scale "$n" --scale-type server
  last=$(cd "$repo" && ls backup_info_*.xml | sort | tail -n 1)
  t=$(seconds dumpkeep --dump-storage "$repo" --rotate-dump --storage-structured --dump-specification "$last" \
        --dump-rotation "$keep" --guid "$server_guid")
  printf '%-40s %10s %10s\n' "structured series of $n" "$t" "$(cd "$repo" && ls backup_info_*.xml | wc -l)"
done
