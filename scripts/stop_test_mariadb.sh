#!/bin/bash
# Stops the server started by start_test_mariadb.sh DIR and waits for it to end.
set -uo pipefail
dir=${1:?usage: $0 DIR}
pidfile=$dir/mysql.pid
[ -f "$pidfile" ] || exit 0
pid=$(cat "$pidfile")
kill "$pid" 2>/dev/null || exit 0
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || exit 0
  sleep 0.1
done
kill -9 "$pid" 2>/dev/null
exit 0
