#!/bin/bash
# Runs one of Debian's FTP servers, unpacked by scripts/install_ftp_servers.sh,
# in the foreground on 127.0.0.1 with a private configuration.
#
#   real_ftpd.sh KIND ROOT PORT STATE [CERT KEY]
#
# KIND is vsftpd, proftpd or pure-ftpd; ROOT the served directory; PORT the
# control port; STATE a private folder for configuration, logs and the user
# database. With CERT and KEY (PEM files) the server offers explicit TLS and
# refuses sessions without it. The server accepts the login "dk" with the
# password "pw" (vsftpd: an anonymous session, any login is taken as
# "anonymous"), rooted at ROOT with full rights. Exits with the server.
set -euo pipefail
kind=$1 root=$2 port=$3 state=$4 cert=${5:-} key=${6:-}
dir=${DUMPKEEP_FTPD_DIR:-/opt/dumpkeep-ftpd}
mkdir -p "$state"

case "$kind" in
vsftpd)
  mkdir -p "$state/empty"
  chmod 755 "$state/empty"
  {
    echo "listen=YES"
    echo "listen_ipv6=NO"
    echo "listen_address=127.0.0.1"
    echo "listen_port=$port"
    echo "background=NO"
    echo "anonymous_enable=YES"
    echo "local_enable=NO"
    echo "no_anon_password=YES"
    echo "ftp_username=daemon"
    echo "anon_root=$root"
    echo "write_enable=YES"
    echo "anon_upload_enable=YES"
    echo "anon_mkdir_write_enable=YES"
    echo "anon_other_write_enable=YES"
    echo "anon_world_readable_only=NO"
    echo "anon_umask=022"
    echo "allow_writeable_chroot=YES"
    echo "secure_chroot_dir=$state/empty"
    echo "connect_from_port_20=NO"
    echo "pasv_enable=YES"
    echo "port_enable=YES"
    echo "seccomp_sandbox=NO"
    echo "isolate=NO"
    echo "isolate_network=NO"
    echo "dirmessage_enable=NO"
    echo "xferlog_enable=NO"
    echo "vsftpd_log_file=$state/vsftpd.log"
    echo "force_dot_files=YES"
    echo "use_localtime=NO"
    if [ -n "$cert" ]; then
      # The stock TLS settings of the package, with sessions forced to TLS.
      echo "ssl_enable=YES"
      echo "allow_anon_ssl=YES"
      echo "force_anon_logins_ssl=YES"
      echo "force_anon_data_ssl=YES"
      echo "rsa_cert_file=$cert"
      echo "rsa_private_key_file=$key"
    fi
  } >"$state/vsftpd.conf"
  exec "$dir/usr/sbin/vsftpd" "$state/vsftpd.conf"
  ;;
proftpd)
  # The virtual user works as root, so it may change what the tests put in ROOT.
  printf 'dk:%s:0:0::%s:/bin/sh\n' "$(openssl passwd -1 pw)" "$root" >"$state/passwd"
  printf 'root:x:0:\n' >"$state/group"
  chmod 600 "$state/passwd" "$state/group"
  cat >"$state/proftpd.conf" <<CONF
ServerType standalone
ServerName "dumpkeep test"
DefaultAddress 127.0.0.1
Port $port
UseIPv6 off
User nobody
Group nogroup
PidFile $state/proftpd.pid
ScoreboardFile $state/proftpd.scoreboard
DelayTable none
WtmpLog off
UseReverseDNS off
AuthOrder mod_auth_file.c
AuthUserFile $state/passwd
AuthGroupFile $state/group
RequireValidShell off
RootLogin on
DefaultRoot ~
AllowOverwrite on
TransferLog none
SystemLog $state/proftpd.log
ListOptions "-a"
CONF
  exec "$dir/usr/sbin/proftpd" --nodaemon --config "$state/proftpd.conf" --quiet
  ;;
pure-ftpd)
  # Pure-FTPd refuses root sessions: its user works as nobody, so ROOT is
  # opened to everyone by the caller.
  rm -f "$state/pure.passwd" "$state/pure.pdb"
  printf 'pw\npw\n' | "$dir/usr/bin/pure-pw" useradd dk -u nobody -g nogroup -d "$root" -f "$state/pure.passwd" >/dev/null
  # pure-pw's own hash costs seconds of CPU at every login; a crypt() hash is
  # taken as well.
  hash=$(openssl passwd -1 pw)
  awk -F: -v OFS=: -v hash="$hash" '{ $2 = hash; print }' "$state/pure.passwd" >"$state/pure.passwd.new"
  mv "$state/pure.passwd.new" "$state/pure.passwd"
  "$dir/usr/bin/pure-pw" mkdb "$state/pure.pdb" -f "$state/pure.passwd"
  args=(-S "127.0.0.1,$port" -l "puredb:$state/pure.pdb" -E -H -D -A -4 -O "clf:$state/transfers.log")
  if [ -n "$cert" ]; then
    cat "$key" "$cert" >"$state/pure-ftpd.pem"
    chmod 600 "$state/pure-ftpd.pem"
    args+=(-Y 3 -2 "$state/pure-ftpd.pem")
  fi
  exec "$dir/usr/sbin/pure-ftpd" "${args[@]}"
  ;;
*)
  echo "unknown server kind: $kind" >&2
  exit 2
  ;;
esac
