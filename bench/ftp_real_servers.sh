#!/bin/bash
# Transfers of one SIZE_MB megabyte file (default 1024) from and to each of
# Debian's FTP servers (vsftpd, ProFTPD, Pure-FTPd, unpacked by
# scripts/install_ftp_servers.sh and run by tests/harness/real_ftpd.sh on
# loopback), plain and over TLS (vsftpd and Pure-FTPd; the ProFTPD package
# brings TLS only as a separate module), with `dumpkeep --export-file-as-file`
# against the `curl` command line on the same server in the same run and the
# same passive mode; then the listing of COUNT (default 10,000) exported
# dumps on each server, `--get-ftp-dump-list` against curl's bare listing.
# Prints the best of RUNS (default 1) of each.
# Usage: ftp_real_servers.sh [DIR]   (scratch files go under DIR, default /tmp)
set -euo pipefail
[ $# -ge 1 ] && export BENCH_DIR=$1
source "$(dirname "$0")/common.sh"
size_mb=${SIZE_MB:-1024}
count=${COUNT:-10000}
runs=${RUNS:-1}
file=backup_1001011200.tgz

# TLS material: a private CA and a certificate it signs for 127.0.0.1.
certs=$scratch/certs
mkdir -p "$certs"
(
  cd "$certs"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=bench CA' -keyout ca.key -out ca.pem
  openssl req -new -newkey rsa:2048 -nodes -subj '/CN=127.0.0.1' -keyout srv.key -out srv.csr
  echo 'subjectAltName=IP:127.0.0.1' >srv.ext
  openssl x509 -req -in srv.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile srv.ext -out srv.pem
) >/dev/null 2>&1
export DUMPKEEP_FTPS_CA_FILE=$certs/ca.pem
export DUMP_STORAGE_PASSWD=pw DUMP_STORAGE_PASSWD_SRC=pw DUMP_STORAGE_PASSWD_DST=pw

mkdir -p "$scratch/local"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$scratch/local/$file"

server_pid=
stop_server() {
  if [ -n "$server_pid" ]; then
    kill -- -"$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
  fi
}
trap 'stop_server; rm -rf "$scratch"' EXIT

# start KIND TLS(0/1): serves a fresh $scratch/srv/root on $port.
start() {
  local kind=$1 tls=$2
  rm -rf "$scratch/srv"
  mkdir -p "$scratch/srv/root/in" "$scratch/srv/root/up"
  chmod 711 "$scratch" "$scratch/srv"
  chmod 755 "$scratch/srv/root"
  chmod 777 "$scratch/srv/root/in" "$scratch/srv/root/up"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  local extra=()
  if [ "$tls" = 1 ]; then extra=("$certs/srv.pem" "$certs/srv.key"); fi
  setsid bash "$root/tests/harness/real_ftpd.sh" "$kind" "$scratch/srv/root" "$port" "$scratch/srv/state" "${extra[@]}" \
    >"$scratch/srv.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do
    curl -s --max-time 1 "telnet://127.0.0.1:$port" </dev/null >/dev/null 2>&1 && break
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.2
  done
  login=dk
  if [ "$kind" = vsftpd ]; then login=anonymous; fi
}

best_of() {  # best_of COMMAND...: the best wall-clock seconds of $runs runs
  local best="" t
  for _ in $(seq "$runs"); do
    t=$(seconds "$@")
    if [ -z "$best" ]; then
      best=$t
    else
      best=$(awk -v a="$best" -v b="$t" 'BEGIN { print (b < a) ? b : a }')
    fi
  done
  echo "$best"
}

printf 'file: %s MB, passive mode, loopback\n' "$size_mb"
printf '%-10s %-5s %-9s %10s %12s %7s\n' server tls direction "curl s" "dumpkeep s" ratio
for kind in vsftpd proftpd pure-ftpd; do
  for tls in 0 1; do
    if [ "$kind" = proftpd ] && [ "$tls" = 1 ]; then continue; fi
    start "$kind" "$tls"
    scheme=ftp tlsopt=()
    if [ "$tls" = 1 ]; then scheme=ftps tlsopt=(--ssl-reqd --cacert "$certs/ca.pem" --tls-max 1.2); fi
    base="127.0.0.1:$port"
    cp "$scratch/local/$file" "$scratch/srv/root/in/$file"
    chmod 666 "$scratch/srv/root/in/$file"
    curl_down() { curl -sS --ftp-pasv "${tlsopt[@]}" -u "$login:pw" -o "$scratch/curl.out" "ftp://$base/in/$file"; }
    dk_down() { rm -f "$scratch/dk.out"; dumpkeep --export-file-as-file --file-from "$scheme://$login@$base/in/$file" --file-to "local:$scratch/dk.out"; }
    curl_up() { curl -sS --ftp-pasv "${tlsopt[@]}" -u "$login:pw" -T "$scratch/local/$file" "ftp://$base/up/curl.tgz"; }
    dk_up() { rm -f "$scratch/srv/root/up/dk.tgz"; dumpkeep --export-file-as-file --use-ftp-passive-mode --file-from "local:$scratch/local/$file" --file-to "$scheme://$login@$base/up/dk.tgz"; }
    t_cd=$(best_of curl_down)
    t_dd=$(best_of dk_down)
    cmp -s "$scratch/local/$file" "$scratch/dk.out" || { echo "$kind: downloaded file differs" >&2; exit 1; }
    rm -f "$scratch/curl.out" "$scratch/dk.out" "$scratch/srv/root/in/$file"
    t_cu=$(best_of curl_up)
    t_du=$(best_of dk_up)
    cmp -s "$scratch/local/$file" "$scratch/srv/root/up/dk.tgz" || { echo "$kind: uploaded file differs" >&2; exit 1; }
    rm -f "$scratch/srv/root/up/"*
    printf '%-10s %-5s %-9s %10s %12s %7s\n' "$kind" "$tls" download "$t_cd" "$t_dd" "$(ratio "$t_dd" "$t_cd")"
    printf '%-10s %-5s %-9s %10s %12s %7s\n' "$kind" "$tls" upload "$t_cu" "$t_du" "$(ratio "$t_du" "$t_cu")"
    stop_server
  done
done
rm -f "$scratch/local/$file"

printf '\nlisting of %s exported dumps, passive mode\n' "$count"
printf '%-10s %12s %14s %7s %8s\n' server "curl LIST s" "dumpkeep s" ratio listed
for kind in vsftpd proftpd pure-ftpd; do
  start "$kind" 0
  (
    cd "$scratch/srv/root/in"
    for i in $(seq 1 "$count"); do
      printf 'x' >"backup_$(printf '%010d' "$((1001011200 + i))").tar"
    done
  )
  chmod -R a+rwX "$scratch/srv/root/in"
  curl_list() { curl -sS --ftp-pasv -u "$login:pw" "ftp://127.0.0.1:$port/in/"; }
  dk_list() { dumpkeep --get-ftp-dump-list --use-ftp-passive-mode --dump-storage "ftp://$login@127.0.0.1:$port/in"; }
  t_cl=$(best_of curl_list)
  # Pure-FTPd cuts listings at 10,000 entries, which dumpkeep refuses.
  t_dl=$(best_of dk_list 2>/dev/null || true)
  listed=$(dumpkeep --get-ftp-dump-list --use-ftp-passive-mode --dump-storage "ftp://$login@127.0.0.1:$port/in" | grep -c '<dump ' || true)
  if [ -n "$t_dl" ]; then
    printf '%-10s %12s %14s %7s %8s\n' "$kind" "$t_cl" "$t_dl" "$(ratio "$t_dl" "$t_cl")" "$listed"
  else
    printf '%-10s %12s %14s %7s %8s\n' "$kind" "$t_cl" "refused" "-" "-"
  fi
  stop_server
done
