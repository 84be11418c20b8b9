#!/usr/bin/env bash
# exFAT against The Sleuth Kit on one card, in one run: a 20,000-file volume
# made by mkfs.exfat and filled through exfat-fuse (400 folders of 50 files
# of 1 to 64 KiB), then 2,000 files deleted. Times `brevid tree` against
# `fls -r -p`, and `brevid save --no-normal` (the deleted files) against
# `tsk_recover` (which recovers the unallocated, i.e. deleted, files).
# Targets: tree <= 0.3 x fls; save of deleted <= 0.5 x tsk_recover.
# Needs root, losetup and exfat-fuse to make the card (kept in WORK_DIR).
# By hand: bench/exfat_bench.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"
build=$(cd "$1" && pwd)
work=${2:-/tmp/brevid-bench}/exfat
brevid=$build/src/cli/brevid
mkdir -p "$work"
img=$work/card20k.img
if [ ! -f "$img" ]; then
  truncate -s 1G "$img.part"
  loop=$(losetup -f --show "$img.part")
  mnt=$(mktemp -d)
  trap 'umount "$mnt" 2>/dev/null; losetup -d "$loop" 2>/dev/null; rmdir "$mnt"' EXIT
  mkfs.exfat -c 4096 "$loop" >/dev/null
  mount.exfat-fuse "$loop" "$mnt" >/dev/null 2>&1
  python3 - "$mnt" <<'PY'
import os, random, sys
root, rnd = sys.argv[1], random.Random(20000)
for d in range(400):
    folder = os.path.join(root, "dir%03d" % d)
    os.mkdir(folder)
    for f in range(50):
        with open(os.path.join(folder, "file%02d.dat" % f), "wb") as out:
            out.write(rnd.randbytes(rnd.randrange(1, 65) * 1024))
# 2,000 deletions: five files of every folder.
for d in range(400):
    for f in range(0, 50, 10):
        os.remove(os.path.join(root, "dir%03d" % d, "file%02d.dat" % f))
PY
  umount "$mnt"
  losetup -d "$loop"
  trap - EXIT
  rmdir "$mnt"
  mv "$img.part" "$img"
fi

seconds() { local t0; t0=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
cat "$img" >/dev/null  # the page cache warm for every tool
t_fls=$(seconds fls -r -p "$img")
t_tree=$(seconds "$brevid" tree "$img" Partition0)
rm -rf "$work/tsk" "$work/ours"
t_tsk=$(seconds tsk_recover "$img" "$work/tsk")
t_save=$(seconds "$brevid" save "$img" Partition0 --no-normal --to "$work/ours")
echo "fls -r -p: ${t_fls}s; brevid tree: ${t_tree}s, ratio $(ratio "$t_tree" "$t_fls")"
echo "tsk_recover: ${t_tsk}s, $(find "$work/tsk" -type f | wc -l) files; brevid save --no-normal: ${t_save}s, $(find "$work/ours" -type f | wc -l) files, ratio $(ratio "$t_save" "$t_tsk")"
