# Shared helpers of the benchmark scripts (sourced, not run).
# Every benchmark works in a scratch directory under BENCH_DIR (default /tmp)
# holding its own sample installation, and removes it on exit.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
binary=${DUMPKEEP:-$root/build/dumpkeep}
if [ ! -x "$binary" ]; then
  echo "no dumpkeep binary at $binary (build first, or set DUMPKEEP)" >&2
  exit 2
fi
scratch=$(mktemp -d "${BENCH_DIR:-/tmp}/dumpkeep_bench_XXXXXX")
trap 'rm -rf "$scratch"' EXIT
bash "$root/sample/make_sample_installation.sh" "$scratch/install"
export OVR_CONF_DIR=$scratch/install/etc
mkdir -p "$scratch/session"

# seconds COMMAND...: runs COMMAND with its output discarded and prints the
# wall-clock seconds it took.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || { echo "command failed: $*" >&2; return 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

# ratio A B: A / B with two decimals.
ratio() { echo "$1 $2" | awk '{ if ($2 > 0) printf "%.2f", $1 / $2; else print "inf" }'; }

# peak_kib COMMAND...: runs COMMAND and prints its peak resident set in KiB.
# COMMAND must be a program, not a shell function; a failed run prints
# "failed" rather than the size of a process that did not do the work.
peak_kib() {
  if /usr/bin/time -f "%M" -o "$scratch/time.out" "$@" >/dev/null 2>&1; then
    tail -n 1 "$scratch/time.out"
  else
    echo "failed"
  fi
}

dumpkeep() { "$binary" --session-path "$scratch/session" "$@"; }

# best FUNCTION OUTPUT: the fastest of $runs runs; OUTPUT is removed before each.
best() {
  local fastest="" t
  for _ in $(seq "$runs"); do
    rm -f "$2"
    sync
    t=$(seconds "$1")
    if [ -z "$fastest" ] || awk -v a="$t" -v b="$fastest" 'BEGIN { exit !(a < b) }'; then fastest=$t; fi
  done
  echo "$fastest"
}

# start_ftp_server DIR: serves DIR from the test harness's FTP server on
# loopback for user "bench", password "pw"; sets $port and stops the server
# (and removes the scratch directory) on exit.
start_ftp_server() {
  /usr/bin/python3 "$root/tests/harness/ftp_server.py" --root "$1" --user bench --password pw \
    >"$scratch/port" 2>"$scratch/server.err" &
  server_pid=$!
  trap 'kill "$server_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
  for _ in $(seq 100); do [ -s "$scratch/port" ] && break; sleep 0.1; done
  port=$(head -n 1 "$scratch/port")
  [ -n "$port" ] || { echo "FTP server did not start: $(cat "$scratch/server.err")" >&2; exit 1; }
}
