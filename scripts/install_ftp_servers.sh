#!/bin/bash
# Unpacks vsftpd, ProFTPD and Pure-FTPd from Debian's packages into a private
# folder (default /opt/dumpkeep-ftpd, or DUMPKEEP_FTPD_DIR) for the FTP tests,
# which run each one in the foreground on loopback with a configuration of
# their own. The packages are never installed: they conflict with each other
# and installing one starts a system service on port 21. Only the shared
# libraries they link against are installed as ordinary packages. Runs as
# root; safe to run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
dest=${DUMPKEEP_FTPD_DIR:-/opt/dumpkeep-ftpd}

libraries=(libwrap0 libcap2 libpam0g libssl3 libacl1 libcrypt1 libidn2-0 libhiredis0.14 libmemcached11
  libmemcachedutil2 libpcre2-8-0 libpcre2-posix3 libsodium23 zlib1g openssl ca-certificates)
source "$(dirname "$0")/apt_missing.sh"
install_missing "${libraries[@]}"

if [ -x "$dest/usr/sbin/vsftpd" ] && [ -x "$dest/usr/sbin/proftpd" ] && [ -x "$dest/usr/sbin/pure-ftpd" ] &&
  [ -x "$dest/usr/bin/pure-pw" ]; then
  exit 0
fi

work=$(mktemp -d /tmp/dumpkeep_ftpd_XXXXXX)
trap 'rm -rf "$work"' EXIT
# apt-get download drops root rights to its own user, which must be able to
# write here.
chmod 777 "$work"
if ! (cd "$work" && apt-get download vsftpd proftpd-core pure-ftpd </dev/null >/dev/null 2>&1); then
  apt-get update -qq </dev/null
  (cd "$work" && apt-get download vsftpd proftpd-core pure-ftpd </dev/null >/dev/null)
fi
mkdir -p "$dest"
for deb in "$work"/*.deb; do
  dpkg -x "$deb" "$dest"
done
for binary in usr/sbin/vsftpd usr/sbin/proftpd usr/sbin/pure-ftpd usr/bin/pure-pw; do
  [ -x "$dest/$binary" ] || { echo "install_ftp_servers: $binary missing after unpacking" >&2; exit 1; }
done
