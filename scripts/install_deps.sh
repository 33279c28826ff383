#!/bin/bash
# Installs everything the build, the tests and the demo need from Debian's
# packages, and the panel's administrative account "ovradm" that session
# directories are made for. Runs as root; safe to run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

packages=(
  build-essential cmake pkg-config
  libboost-dev libboost-program-options-dev libboost-filesystem-dev libboost-regex-dev
  libxml2-dev libxml2-utils libcurl4-openssl-dev liblog4cpp5-dev libmariadb-dev
  libgtest-dev googletest
  mariadb-server mariadb-client
  tar gzip perl openssl coreutils findutils time
  python3 python3-pyftpdlib
)

source "$(dirname "$0")/apt_missing.sh"
install_missing "${packages[@]}"

if ! getent passwd ovradm >/dev/null; then
  useradd --system --no-create-home --shell /usr/sbin/nologin ovradm
fi
bash "$(dirname "$0")/install_ftp_servers.sh"
