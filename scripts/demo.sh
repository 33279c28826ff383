#!/bin/bash
# Installs what is needed, builds, lays out a sample installation with a
# sample repository and runs the main job on it: list the server's dumps,
# import an exported client dump (a second import finds it there: exit code
# 111), list the client's dumps and report the imported dump. Everything lives under DEMO_DIR (default
# /tmp/dumpkeep-demo), which is made anew; nothing of the host is touched.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install_deps.sh
BUILD_DIR=$root/build bash scripts/build.sh

demo=${DEMO_DIR:-/tmp/dumpkeep-demo}
rm -rf "$demo"
bash sample/make_sample_installation.sh "$demo"
export OVR_CONF_DIR=$demo/etc
mkdir -p "$demo/session" "$demo/exports"

# The repository: the server dump and one reseller with a client of its own.
# The export: a gzip-compressed dump of client c7, split into two parts.
/usr/bin/python3 sample/make_fixture_repo.py "$demo/dumps" --layout - <<'JSON'
{
  "dumps": [
    {"type": "server", "label": "2611301200", "sign": true},
    {"type": "reseller", "id": "r1", "label": "2612010900", "status": ["OK"]},
    {"type": "client", "id": "c2", "under": "resellers/r1", "label": "2612020900"}
  ]
}
JSON
/usr/bin/python3 sample/make_fixture_repo.py "$demo/exports" --layout - <<'JSON'
{"exports": [{"name": "backup_2612051200.tgz", "gzip": true, "parts": 2,
              "dump": {"type": "client", "id": "c7", "guid": "7c7c7c7c-0000-4000-8000-0000000000c7",
                       "label": "2612051200", "description": "Weekly dump of client c7"}}]}
JSON

server_guid=00000000-0000-4000-8000-000000000000
run() {
  echo "\$ dumpkeep $*"
  set +e
  "$root/build/dumpkeep" --session-path "$demo/session" "$@"
  echo "(exit code $?)"
  set -e
  echo
}

run --get-dump-list --type server --guid "$server_guid"
run --import-file-as-dump --dump-file-specification "$demo/exports/backup_2612051200.tgz"
run --import-file-as-dump --dump-file-specification "$demo/exports/backup_2612051200.tgz"
run --get-dump-list --type client --guid 7c7c7c7c-0000-4000-8000-0000000000c7
run --get-dump-info --dump-file-specification clients/c7/backup_info_2612051200.xml
echo "Sample installation, repository and session log: $demo"
