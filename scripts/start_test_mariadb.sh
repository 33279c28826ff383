#!/bin/bash
# Starts a private MariaDB server for the tests: data directory and socket in
# DIR, no network, a panel database "ovr" with the tables the utility reads and
# a few rows, and the user 'admin'@'localhost' with PASSWORD (default below).
# Prints only the export lines for the test environment on standard output;
# progress and failures go to standard error.
# Usage: start_test_mariadb.sh DIR [PASSWORD]
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 DIR [PASSWORD]" >&2
  exit 2
fi
mkdir -p "$1"
dir=$(cd "$1" && pwd)
password=${2:-dumpkeep-test-admin}
socket=$dir/mysql.sock
data=$dir/mysql-data
user=$(id -un)

if [ ! -d "$data/mysql" ]; then
  mariadb-install-db --no-defaults --datadir="$data" --user="$user" \
    --auth-root-authentication-method=socket --skip-test-db >"$dir/install.log" 2>&1 || {
    echo "mariadb-install-db failed:" >&2
    cat "$dir/install.log" >&2
    exit 1
  }
fi

/usr/sbin/mariadbd --no-defaults --datadir="$data" --socket="$socket" --skip-networking \
  --pid-file="$dir/mysql.pid" --log-error="$dir/mysql.err" --user="$user" \
  --innodb-buffer-pool-size=16M --skip-log-bin </dev/null >/dev/null 2>&1 &

for _ in $(seq 1 300); do
  if mariadb-admin --no-defaults --socket="$socket" -uroot ping >/dev/null 2>&1; then
    break
  fi
  sleep 0.1
done
if ! mariadb-admin --no-defaults --socket="$socket" -uroot ping >/dev/null 2>&1; then
  echo "the test MariaDB server did not come up; its log:" >&2
  cat "$dir/mysql.err" >&2 || true
  exit 1
fi

mariadb --no-defaults --socket="$socket" -uroot <<SQL
CREATE DATABASE IF NOT EXISTS ovr;
CREATE USER IF NOT EXISTS 'admin'@'localhost' IDENTIFIED BY '$password';
ALTER USER 'admin'@'localhost' IDENTIFIED BY '$password';
GRANT ALL ON ovr.* TO 'admin'@'localhost';
USE ovr;
CREATE TABLE IF NOT EXISTS clients (id INT PRIMARY KEY, login VARCHAR(255));
CREATE TABLE IF NOT EXISTS domains (id INT PRIMARY KEY, name VARCHAR(255));
CREATE TABLE IF NOT EXISTS misc (param VARCHAR(255) PRIMARY KEY, val VARCHAR(255));
REPLACE INTO clients VALUES (7, 'reseller-7'), (12, 'client-login-12');
REPLACE INTO domains VALUES (33, 'example-33.test');
SQL

echo "export DUMPKEEP_TEST_MYSQL_SOCKET='$socket'"
echo "export DUMPKEEP_TEST_MYSQL_PASSWORD='$password'"
echo "export MYSQL_UNIX_PORT='$socket'"
