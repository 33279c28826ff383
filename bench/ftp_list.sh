#!/bin/bash
# `dumpkeep --get-ftp-dump-list` over a directory of the loopback FTP server
# of the tests (tests/harness/ftp_server.py) holding COUNT exported dumps
# (default 10000), with and without a mask, against `curl` fetching the
# directory's long listing once. Prints the best of RUNS (default 2) of each.
# Usage: ftp_list.sh [DIR]   (scratch files go under DIR, default /tmp)
set -euo pipefail
[ $# -ge 1 ] && export BENCH_DIR=$1
source "$(dirname "$0")/common.sh"
count=${COUNT:-10000}
runs=${RUNS:-2}

served=$scratch/served
mkdir -p "$served/out"
# One real exported dump, copied under COUNT labels; the listing reads each
# archive's descriptor, so every copy is a complete archive.
label0=1001011200
cat >"$scratch/layout.json" <<EOF
{"exports": [{"name": "backup_$label0.tgz", "gzip": true, "dump": {"type": "client", "id": "c1",
  "guid": "client-guid-c1", "label": "$label0", "owner": "reseller-guid-r1", "ownertype": "reseller",
  "size": 100, "description": "bench"}}]}
EOF
"$root/sample/make_fixture_repo.py" --layout "$scratch/layout.json" "$scratch/one" >/dev/null
python3 - "$scratch/one/backup_$label0.tgz" "$served/out" "$count" <<'EOF'
import os, shutil, sys
src, out, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
for n in range(count):
    shutil.copyfile(src, os.path.join(out, "backup_%d.tgz" % (1001011200 + 60 * n)))
EOF

start_ftp_server "$served"
export DUMP_STORAGE_PASSWD=pw
storage=ftp://bench@127.0.0.1:$port/out

listing() { curl -sS -u bench:pw "ftp://127.0.0.1:$port/out/" -o /dev/null; }
list_all() { dumpkeep --get-ftp-dump-list --use-ftp-passive-mode --dump-storage "$storage"; }
list_masked() { dumpkeep --get-ftp-dump-list --use-ftp-passive-mode --dump-storage "$storage" --mask 'backup_.*[05]0\.tgz'; }

best() {
  local fastest="" t
  for _ in $(seq "$runs"); do
    t=$(seconds "$1")
    if [ -z "$fastest" ] || awk -v a="$t" -v b="$fastest" 'BEGIN { exit !(a < b) }'; then fastest=$t; fi
  done
  echo "$fastest"
}

listed=$(list_all | grep -c '<dump name=' || true)
[ "$listed" -eq "$count" ] || { echo "listed $listed dumps of $count" >&2; exit 1; }
t_curl=$(best listing)
t_all=$(best list_all)
t_masked=$(best list_masked)
masked=$(list_masked | grep -c '<dump name=' || true)
leftovers=$(find "$scratch/install/tmp" -mindepth 1 | wc -l)

printf 'dumps: %s on the pyftpdlib harness server, passive mode\n' "$count"
printf '%-40s %10s %8s\n' "case" "seconds" "dumps"
printf '%-40s %10s %8s\n' "curl long listing only" "$t_curl" "-"
printf '%-40s %10s %8s\n' "dumpkeep --get-ftp-dump-list" "$t_all" "$listed"
printf '%-40s %10s %8s\n' "dumpkeep --get-ftp-dump-list --mask" "$t_masked" "$masked"
printf 'entries left in the temporary directory: %s\n' "$leftovers"
