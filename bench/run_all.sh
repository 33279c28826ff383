#!/bin/bash
# Runs every benchmark of this folder one after the other, each with its
# default sizes, and prints their figures under a heading per script.
# Environment: DUMPKEEP (the binary, default build/dumpkeep), BENCH_DIR
# (scratch space, default /tmp; the largest benchmark needs about 5 GiB).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
status=0
for script in list.sh check.sh rotate.sh import.sh export_join.sh ftp_transfer.sh ftp_list.sh; do
  [ -f "$here/$script" ] || continue
  echo "== $script"
  start=$(date +%s)
  bash "$here/$script" || { echo "$script failed" >&2; status=1; }
  echo "($(( $(date +%s) - start )) s)"
  echo
done
exit $status
