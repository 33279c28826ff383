#!/bin/bash
# Join of an exported dump stored in 4 parts of SIZE_MB megabytes in total
# (default 2048) with `dumpkeep --export-file-as-file`, against `cat` of the
# same parts into a file on the same disk. Prints both times (best of RUNS,
# default 2), their ratio and dumpkeep's peak resident memory.
# Usage: export_join.sh [DIR]   (scratch files go under DIR, default /tmp)
set -euo pipefail
[ $# -ge 1 ] && export BENCH_DIR=$1
source "$(dirname "$0")/common.sh"
size_mb=${SIZE_MB:-2048}
runs=${RUNS:-2}
base=b_1001011200.tgz

src=$scratch/src
dst=$scratch/dst
mkdir -p "$src" "$dst"
part_mb=$(((size_mb + 3) / 4))
head -c "$((part_mb * 1024 * 1024))" /dev/urandom >"$src/$base"
for n in 1 2 3; do head -c "$((part_mb * 1024 * 1024))" /dev/urandom >"$src/$base$n"; done
parts=("$src/$base" "$src/$base"1 "$src/$base"2 "$src/$base"3)

plain_cat() { cat "${parts[@]}" >"$dst/cat.out"; }
join_parts() { dumpkeep --export-file-as-file --file-from "local:$src/$base" --file-to "local:$dst/joined.tgz"; }


# peak_rss_kib COMMAND...: peak resident set in KiB, from /usr/bin/time when
# present, otherwise sampled from /proc while the command runs.
peak_rss_kib() {
  if [ -x /usr/bin/time ]; then
    peak_kib "$@"
    return
  fi
  "$@" >/dev/null 2>&1 &
  local pid=$! peak=0 hwm
  while kill -0 "$pid" 2>/dev/null; do
    hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
    sleep 0.05
  done
  wait "$pid" || true
  echo "$peak"
}

cat "${parts[@]}" >/dev/null  # the same cache state for both contenders
t_cat=$(best plain_cat "$dst/cat.out")
t_join=$(best join_parts "$dst/joined.tgz")
cmp -s "$dst/cat.out" "$dst/joined.tgz" || { echo "joined file differs from the concatenation" >&2; exit 1; }
rm -f "$dst/joined.tgz"
peak=$(peak_rss_kib "$binary" --session-path "$scratch/session" --export-file-as-file \
  --file-from "local:$src/$base" --file-to "local:$dst/joined.tgz")

printf 'parts: 4 x %s MB\n' "$part_mb"
printf '%-30s %10s %8s\n' "case" "seconds" "ratio"
printf '%-30s %10s %8s\n' "cat" "$t_cat" "1.00"
printf '%-30s %10s %8s\n' "dumpkeep --export-file-as-file" "$t_join" "$(ratio "$t_join" "$t_cat")"
printf 'dumpkeep peak resident memory: %s KiB\n' "$peak"
