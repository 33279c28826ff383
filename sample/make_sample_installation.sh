#!/bin/bash
# Lays out a self-contained installation for the demo, the tests and the
# benchmarks, so that nothing of the host is touched:
#
#   DIR/product/TAV/log4cpp.properties   log configuration (appenders A1, A2)
#   DIR/product/TAV/tmp/                 backup manager temporary directory
#   DIR/product/TAV/ovrin.xsd            descriptor schema
#   DIR/product/admin/sbin/backup_sign   signing utility (sign | verify FILE)
#   DIR/product/admin/etc/sign_key.pem   its private key, an EC P-256 key (and sign_cert.pem)
#   DIR/etc/ovr.conf                     panel configuration (DUMP_D, PRODUCT_ROOT_D, DUMP_TMP_D)
#   DIR/etc/.ovr.shadow                  database administrator password
#   DIR/dumps/                           empty local repository
#   DIR/tmp/                             temporary directory of the utility
#
# Use it with OVR_CONF_DIR=DIR/etc. Usage: make_sample_installation.sh DIR [DB_PASSWORD]
# It writes nothing to standard output.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 DIR [DB_PASSWORD]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1"
dir=$(cd "$1" && pwd)
password=${2:-sample-admin-password}

mkdir -p "$dir/product/TAV/tmp" "$dir/product/admin/sbin" "$dir/product/admin/etc" \
         "$dir/etc" "$dir/dumps" "$dir/tmp"

cat > "$dir/product/TAV/log4cpp.properties" <<'PROPS'
# A1: the session's log file. A2: extra detail, kept only in debug runs.
log4cpp.rootCategory=INFO, A1, A2
log4cpp.appender.A1=FileAppender
log4cpp.appender.A1.fileName=${LOG_FILE_NAME}
log4cpp.appender.A1.layout=PatternLayout
log4cpp.appender.A1.layout.ConversionPattern=%d{%Y-%m-%d %H:%M:%S} %p: %m%n
log4cpp.appender.A2=FileAppender
log4cpp.appender.A2.fileName=${LOG_FILE_NAME}.debug
log4cpp.appender.A2.layout=PatternLayout
log4cpp.appender.A2.layout.ConversionPattern=%d{%Y-%m-%d %H:%M:%S,%l} [%R] %p: %m%n
PROPS

cat > "$dir/etc/ovr.conf" <<CONF
# Panel configuration of the sample installation.
PRODUCT_ROOT_D   $dir/product
DUMP_D           $dir/dumps
DUMP_TMP_D       $dir/tmp
CONF

printf '%s\n' "$password" > "$dir/etc/.ovr.shadow"
chmod 600 "$dir/etc/.ovr.shadow"

if [ -f "$here/ovrin.xsd" ]; then
  cp "$here/ovrin.xsd" "$dir/product/TAV/ovrin.xsd"
fi
if [ -f "$here/backup_sign" ]; then
  cp "$here/backup_sign" "$dir/product/admin/sbin/backup_sign"
  chmod 755 "$dir/product/admin/sbin/backup_sign"
  if [ ! -f "$dir/product/admin/etc/sign_key.pem" ]; then
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 3650 -subj "/CN=dumpkeep sample signer" \
      -keyout "$dir/product/admin/etc/sign_key.pem" -out "$dir/product/admin/etc/sign_cert.pem" \
      >/dev/null 2>&1
  fi
fi
