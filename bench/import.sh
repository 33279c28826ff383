#!/bin/bash
# Import of a gzip-compressed exported client dump of SIZE_MB megabytes
# (default 1024) of incompressible content, stored whole and in 4 parts,
# against a plain `tar -xzf` of the same archive on the same disk. Prints the
# times, the ratios and dumpkeep's peak resident memory.
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mb=${SIZE_MB:-1024}
label=1001011200
guid=2f3c0d1e-0000-4000-8000-00000000c001

# The dump tree: descriptor, one large content file, sidecar items.
tree=$scratch/tree
mkdir -p "$tree/.discovered/backup_info_$label"
cat >"$tree/backup_info_$label.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<client guid="$guid" name="c1">
  <description>Benchmark dump</description>
  <cid path="."><content-file>backup_user_$label.tgz</content-file></cid>
</client>
EOF
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$tree/backup_user_$label.tgz"
for item in "size_$((size_mb * 1024 * 1024))" "GUID_$guid" objectid_c1 ownertype_server status_OK; do
  : >"$tree/.discovered/backup_info_$label/$item"
done
members=(backup_info_$label.xml backup_user_$label.tgz)
for item in "$tree/.discovered/backup_info_$label"/*; do
  members+=(".discovered/backup_info_$label/$(basename "$item")")
done

whole=$scratch/whole
split_dir=$scratch/split
mkdir -p "$whole" "$split_dir"
tar -czf "$whole/backup_$label.tgz" --no-recursion -C "$tree" "${members[@]}"
rm -rf "$tree"
archive_bytes=$(stat -c %s "$whole/backup_$label.tgz")
chunk=$(((archive_bytes + 3) / 4))
split -b "$chunk" -d -a 1 "$whole/backup_$label.tgz" "$split_dir/part"
mv "$split_dir/part0" "$split_dir/backup_$label.tgz"
for n in 1 2 3; do mv "$split_dir/part$n" "$split_dir/backup_$label.tgz$n"; done

dumps=$scratch/install/dumps
# fresh_dumps: empties the local repository between runs.
fresh_dumps() { rm -rf "$dumps" && mkdir -p "$dumps"; }

import_whole() { dumpkeep --import-file-as-dump --dump-file-specification "$whole/backup_$label.tgz"; }
import_split() { dumpkeep --import-file-as-dump --dump-file-specification "$split_dir/backup_$label.tgz"; }
plain_tar() {
  local out=$scratch/plain
  rm -rf "$out" && mkdir -p "$out"
  tar -xzf "$whole/backup_$label.tgz" -C "$out"
}

sync
t_tar=$(seconds plain_tar)
rm -rf "$scratch/plain"
fresh_dumps
t_whole=$(seconds import_whole)
test -f "$dumps/clients/c1/backup_user_$label.tgz" || { echo "import of the whole archive left no dump" >&2; exit 1; }
fresh_dumps
t_split=$(seconds import_split)
test -f "$dumps/clients/c1/backup_user_$label.tgz" || { echo "import of the split archive left no dump" >&2; exit 1; }
fresh_dumps
peak=$(peak_kib "$binary" --session-path "$scratch/session" --import-file-as-dump --dump-file-specification "$split_dir/backup_$label.tgz")

printf 'archive: %s MB of content, %s bytes compressed\n' "$size_mb" "$archive_bytes"
printf '%-34s %10s %8s\n' "case" "seconds" "ratio"
printf '%-34s %10s %8s\n' "tar -xzf" "$t_tar" "1.00"
printf '%-34s %10s %8s\n' "dumpkeep import, whole archive" "$t_whole" "$(ratio "$t_whole" "$t_tar")"
printf '%-34s %10s %8s\n' "dumpkeep import, 4 parts" "$t_split" "$(ratio "$t_split" "$t_tar")"
printf 'dumpkeep peak resident memory (4 parts): %s KiB\n' "$peak"
