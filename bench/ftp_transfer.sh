#!/bin/bash
# Download and upload of one SIZE_MB megabyte file (default 1024) between the
# local disk and the loopback FTP server of the tests
# (tests/harness/ftp_server.py), with `dumpkeep --export-file-as-file`
# against the `curl` command line on the same server in the same (active)
# transfer mode. Prints the best of RUNS (default 2) for each and the ratios.
# Usage: ftp_transfer.sh [DIR]   (scratch files go under DIR, default /tmp)
set -euo pipefail
[ $# -ge 1 ] && export BENCH_DIR=$1
source "$(dirname "$0")/common.sh"
size_mb=${SIZE_MB:-1024}
runs=${RUNS:-2}
file=backup_1001011200.tgz

served=$scratch/served
mkdir -p "$served/in" "$served/up" "$scratch/local"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$served/in/$file"
cp "$served/in/$file" "$scratch/local/$file"

start_ftp_server "$served"
url=ftp://127.0.0.1:$port
export DUMP_STORAGE_PASSWD_SRC=pw DUMP_STORAGE_PASSWD_DST=pw

curl_down() { curl -sS --ftp-port - --disable-eprt -u bench:pw -o "$scratch/curl.out" "$url/in/$file"; }
dk_down() { dumpkeep --export-file-as-file --file-from "ftp://bench@127.0.0.1:$port/in/$file" --file-to "local:$scratch/dk.out"; }
curl_up() { curl -sS --ftp-port - --disable-eprt -u bench:pw -T "$scratch/local/$file" "$url/up/curl.tgz"; }
dk_up() { dumpkeep --export-file-as-file --file-from "local:$scratch/local/$file" --file-to "ftp://bench@127.0.0.1:$port/up/dk.tgz"; }


cat "$served/in/$file" "$scratch/local/$file" >/dev/null  # the same cache state for all
t_curl_down=$(best curl_down "$scratch/curl.out")
t_dk_down=$(best dk_down "$scratch/dk.out")
cmp -s "$served/in/$file" "$scratch/dk.out" || { echo "downloaded file differs" >&2; exit 1; }
rm -f "$scratch/curl.out" "$scratch/dk.out"
t_curl_up=$(best curl_up "$served/up/curl.tgz")
t_dk_up=$(best dk_up "$served/up/dk.tgz")
cmp -s "$scratch/local/$file" "$served/up/dk.tgz" || { echo "uploaded file differs" >&2; exit 1; }
leftovers=$(find "$scratch/install/tmp" -mindepth 1 | wc -l)

printf 'file: %s MB, loopback server: pyftpdlib harness, active mode\n' "$size_mb"
printf '%-10s %12s %12s %8s\n' "direction" "curl s" "dumpkeep s" "ratio"
printf '%-10s %12s %12s %8s\n' "download" "$t_curl_down" "$t_dk_down" "$(ratio "$t_dk_down" "$t_curl_down")"
printf '%-10s %12s %12s %8s\n' "upload" "$t_curl_up" "$t_dk_up" "$(ratio "$t_dk_up" "$t_curl_up")"
printf 'entries left in the temporary directory: %s\n' "$leftovers"
