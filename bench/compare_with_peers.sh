#!/usr/bin/env bash
# Side-by-side timings against The Sleuth Kit and coreutils, in one run on
# the same images (page cache warm: each command runs once untimed first,
# then the best of three runs counts). Prints ratios; run by hand:
#   bench/compare_with_peers.sh BUILD_DIR [WORK_DIR]
# Needs: mtools, dosfstools, ntfs-3g (FUSE, as root), sleuthkit, testdisk.
set -euo pipefail
build=$(cd "$1" && pwd)
work=${2:-$build/bench-work}
brevid=$build/src/cli/brevid
mkdir -p "$work"

best_of_three() {  # prints seconds
  local best=
  "$@" >/dev/null 2>&1 || true
  for _ in 1 2 3; do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    best=$(awk -v a="$t0" -v b="$t1" -v best="$best" 'BEGIN { d = b - a; if (best == "" || d < best) best = d; printf "%.4f", best }')
  done
  echo "$best"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

# FAT32: ~20,000 files in 500 folders, a fifth of them deleted.
fat=$work/fat20k.img
if [ ! -f "$fat" ]; then
  src=$work/fat-src
  rm -rf "$src" && mkdir -p "$src"
  for d in $(seq 1 500); do
    mkdir -p "$src/dir$d"
    for f in $(seq 1 40); do echo "folder $d file $f" > "$src/dir$d/file$f.txt"; done
  done
  truncate -s 256M "$fat.tmp"
  mkfs.fat -F 32 -s 4 -n BENCH "$fat.tmp" >/dev/null
  mcopy -s -i "$fat.tmp" "$src"/* ::/
  for d in $(seq 1 500); do
    mdel -i "$fat.tmp" "::/dir$d/file1*.txt" 2>/dev/null || true
  done
  mv "$fat.tmp" "$fat"
fi
t_ours=$(best_of_three "$brevid" tree "$fat" Partition0)
t_fls=$(best_of_three fls -r -p "$fat")
echo "FAT32 expand, 20k files: brevid ${t_ours}s, fls -r -p ${t_fls}s, ratio $(ratio "$t_ours" "$t_fls") (target <= 1)"

# FAT directory-sector scan of a 2 GiB volume against cat.
big=$work/fat2g.img
if [ ! -f "$big" ]; then
  truncate -s 2G "$big.tmp"
  mkfs.fat -F 32 -n BIG "$big.tmp" >/dev/null
  dd if=/dev/urandom of="$big.tmp" bs=1M seek=64 count=1900 conv=notrunc status=none
  mv "$big.tmp" "$big"
fi
t_scan=$(best_of_three "$brevid" tree "$big" Partition0 --format)
t_cat=$(best_of_three cat "$big")
echo "FAT directory-sector scan, 2 GiB: brevid ${t_scan}s, cat ${t_cat}s, ratio $(ratio "$t_scan" "$t_cat") (target <= 1.5)"

# NTFS: 20,000+ files through an ntfs-3g mount.
ntfs=$work/ntfs20k.img
if [ ! -f "$ntfs" ] && [ "$(id -u)" = 0 ] && [ -e /dev/fuse ]; then
  truncate -s 512M "$ntfs.tmp"
  mkntfs -F -Q -q "$ntfs.tmp"
  mnt=$work/mnt && mkdir -p "$mnt"
  ntfs-3g "$ntfs.tmp" "$mnt"
  for d in $(seq 1 500); do
    mkdir "$mnt/dir$d"
    for f in $(seq 1 42); do echo "folder $d file $f" > "$mnt/dir$d/file$f.txt"; done
    rm -f "$mnt/dir$d/file1"*.txt
  done
  umount "$mnt"
  mv "$ntfs.tmp" "$ntfs"
fi
if [ -f "$ntfs" ]; then
  t_ours=$(best_of_three "$brevid" tree "$ntfs" Partition0)
  t_fls=$(best_of_three fls -r -p "$ntfs")
  echo "NTFS expand, 21k files: brevid ${t_ours}s, fls -r -p ${t_fls}s, ratio $(ratio "$t_ours" "$t_fls") (target <= 0.5)"
fi

# Saving about 1 GiB of files against icat per file and cp from the page cache.
saveimg=$work/save1g.img
if [ ! -f "$saveimg" ]; then
  src=$work/save-src && rm -rf "$src" && mkdir -p "$src"
  for i in $(seq 1 8); do head -c 100M /dev/urandom > "$src/big$i.bin"; done
  for i in $(seq 1 2000); do head -c 100K /dev/urandom > "$src/small$i.bin"; done
  truncate -s 1400M "$saveimg.tmp"
  mkfs.fat -F 32 -n SAVE "$saveimg.tmp" >/dev/null
  mcopy -i "$saveimg.tmp" "$src"/* ::/
  mv "$saveimg.tmp" "$saveimg"
fi
out=$work/save-out
t_ours=$(best_of_three bash -c "rm -rf '$out' && '$brevid' save '$saveimg' Partition0 --to '$out'")
t_icat=$(best_of_three bash -c "rm -rf '$out' && mkdir -p '$out' && fls -F '$saveimg' | awk '{ sub(\":\", \"\", \$2); print \$2 }' | while read -r inode; do icat '$saveimg' \"\$inode\" > '$out/'\"\$inode\"; done")
t_cp=$(best_of_three bash -c "rm -rf '$out' && cp -r '$work/save-src' '$out'")
echo "Save ~1 GiB: brevid ${t_ours}s, icat per file ${t_icat}s (ratio $(ratio "$t_ours" "$t_icat"), target <= 1), cp ${t_cp}s (ratio $(ratio "$t_ours" "$t_cp"), target <= 1.5)"
rm -rf "$out" || true

# Lost-partition search: a 2 GiB disk of noise with two volumes and no
# partition table, read whole (precise) against dd; a 4 GiB disk probed
# cylinder by cylinder (quick) against TestDisk's quick search.
lost=$work/lost2g.img
if [ ! -f "$lost" ]; then
  truncate -s 2G "$lost.tmp"
  dd if=/dev/urandom of="$lost.tmp" bs=1M count=2046 seek=1 conv=notrunc status=none
  truncate -s 512M "$work/part.tmp"
  mkfs.fat -F 32 -h 2048 -n LOST "$work/part.tmp" >/dev/null
  dd if="$work/part.tmp" of="$lost.tmp" bs=1M seek=1 conv=notrunc status=none
  mkntfs -q -F -Q -p 1050624 "$work/part.tmp" >/dev/null 2>&1
  dd if="$work/part.tmp" of="$lost.tmp" bs=1M seek=513 conv=notrunc status=none
  rm -f "$work/part.tmp"
  mv "$lost.tmp" "$lost"
fi
t_precise=$(best_of_three "$brevid" find-partitions "$lost" --precise)
t_dd=$(best_of_three dd if="$lost" of=/dev/null bs=10M)
echo "Precise partition search, 2 GiB: brevid ${t_precise}s, dd bs=10M ${t_dd}s, ratio $(ratio "$t_precise" "$t_dd") (target <= 1.2)"

# Deep scan of the same disk served through FUSE, with and without 1 MiB of
# failing sectors inside its FAT32 volume: the bad area may cost its own
# sector-by-sector reads, not the rest of the disk.
eio=$(dirname "$0")/../tests/imaging/eio_fuse.py
if [ -e /dev/fuse ] && /usr/bin/python3 -c 'import fusepy' 2>/dev/null; then
  mnt_ok=$work/mnt-ok && mnt_bad=$work/mnt-bad && mkdir -p "$mnt_ok" "$mnt_bad"
  /usr/bin/python3 "$eio" "$lost" "$mnt_ok" - >/dev/null 2>&1 &
  /usr/bin/python3 "$eio" "$lost" "$mnt_bad" 400000-402047 >/dev/null 2>&1 &
  for _ in $(seq 50); do [ -e "$mnt_ok/disk.img" ] && [ -e "$mnt_bad/disk.img" ] && break; sleep 0.1; done
  t_ok=$(best_of_three "$brevid" deep-scan "$mnt_ok/disk.img")
  t_bad=$(best_of_three "$brevid" deep-scan "$mnt_bad/disk.img")
  # What the bad area alone costs: its 2048 sectors read one by one, failing.
  t_badreads=$(best_of_three /usr/bin/python3 -c "
import os
fd = os.open('$mnt_bad/disk.img', os.O_RDONLY)
for s in range(400000, 402048):
    try: os.pread(fd, 512, s * 512)
    except OSError: pass")
  fusermount -u "$mnt_ok" || true
  fusermount -u "$mnt_bad" || true
  echo "Deep scan through FUSE, 2 GiB with 1 MiB unreadable: ${t_bad}s, without ${t_ok}s + bad reads ${t_badreads}s, ratio $(ratio "$t_bad" "$(awk -v a="$t_ok" -v b="$t_badreads" 'BEGIN { print a + b }')") (target <= 1.5)"
fi

lost4=$work/lost4g.img
if [ ! -f "$lost4" ]; then
  cp --sparse=always "$lost" "$lost4.tmp"
  truncate -s 4G "$lost4.tmp"
  mv "$lost4.tmp" "$lost4"
fi
t_quick=$(best_of_three "$brevid" find-partitions "$lost4")
if command -v testdisk >/dev/null; then
  rm -f "$work/testdisk.log"
  # "analyze" alone only reads the tables; "quicksearch" is the search itself.
  # testdisk writes its log into the current folder: the scratch one.
  t_testdisk=$(cd "$work" && best_of_three testdisk /cmd "$lost4" analyze,quicksearch)
  echo "Quick partition search, 4 GiB: brevid ${t_quick}s, testdisk quick search ${t_testdisk}s, ratio $(ratio "$t_quick" "$t_testdisk") (target <= 2)"
else
  echo "Quick partition search, 4 GiB: brevid ${t_quick}s (testdisk not installed)"
fi

# Deep scan: 2 GiB of noise with 300 planted JPEG, PDF and ZIP files (each
# padded to a 4 KiB cluster, as a file system writes them), against dd, and
# recall against PhotoRec and foremost on the same image.
corpus=$(cd "$(dirname "$0")/../../shared/corpus/samples" 2>/dev/null && pwd || true)
carve=$work/carve2g.img
if [ -n "$corpus" ] && [ ! -f "$carve" ]; then
  python3 -c "
import zipfile
with zipfile.ZipFile('$work/sample.zip', 'w') as z:
    for i in range(20): z.writestr('dir/file%d.txt' % i, ('line %d\n' % i) * 500)"
  "$(dirname "$0")/plant_files.py" "$carve.tmp" $((2 << 30)) 300 \
    "$corpus/jpeg/fs_IMG_1054.JPG" "$corpus/pdf/fs_a-text-pass-A5d.pdf" "$work/sample.zip" \
    "$corpus/jpeg/fs_IMG-20191006-WA0002.jpg" "$corpus/pdf/fs_a-text.pdf" >"$work/planted.txt"
  mv "$carve.tmp" "$carve"
fi
if [ -f "$carve" ]; then
  rm -f "$work/carve.qel_scn"
  t_deep=$(best_of_three "$brevid" deep-scan "$carve")
  "$brevid" deep-scan "$carve" --results "$work/carve.qel_scn" >/dev/null
  t_dd10=$(best_of_three dd if="$carve" of=/dev/null bs=10M)
  # Recall: planted starts that a carved file starts at, with the planted size.
  recall=$(python3 - "$work/planted.txt" "$work/carve.qel_scn" <<'PY'
import sys
planted = {int(l.split()[0]): int(l.split()[1]) for l in open(sys.argv[1])}
lines = open(sys.argv[2], encoding="gbk", newline="").read().split("\r\n")
i = 1 + 1 + int(lines[1])           # key, directory sectors
i += 1 + int(lines[i])              # MFT runs
carved = {}
for l in lines[i + 1:i + 1 + int(lines[i])]:
    start, size, _ = l.split(",", 2)
    carved[int(start)] = int(size)
hit = sum(1 for s in planted if s in carved)
exact = sum(1 for s in planted if carved.get(s) == planted[s])
print("%d/%d (%d at their exact size)" % (hit, len(planted), exact))
PY
)
  echo "Deep scan, 2 GiB with 300 planted files: brevid ${t_deep}s, dd bs=10M ${t_dd10}s, ratio $(ratio "$t_deep" "$t_dd10") (target <= 2), recall $recall"
  if command -v photorec >/dev/null; then
    rm -rf "$work/photorec"*
    t0=$(date +%s.%N)
    (cd "$work" && photorec /log /d "$work/photorec" /cmd "$carve" partition_none,fileopt,everything,disable,jpg,enable,pdf,enable,zip,enable,search >/dev/null 2>&1) || true
    t_pr=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
    n_pr=$(find "$work"/photorec* -type f \( -name '*.jpg' -o -name '*.pdf' -o -name '*.zip' \) 2>/dev/null | wc -l)
    echo "  photorec: ${t_pr}s, ratio $(ratio "$t_pr" "$t_dd10"), files recovered $n_pr/300"
  fi
  if command -v foremost >/dev/null; then
    rm -rf "$work/foremost"
    t0=$(date +%s.%N)
    foremost -q -t jpg,pdf,zip -i "$carve" -o "$work/foremost" >/dev/null 2>&1 || true
    t_fm=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
    n_fm=$(find "$work/foremost" -type f \( -name '*.jpg' -o -name '*.pdf' -o -name '*.zip' \) 2>/dev/null | wc -l)
    echo "  foremost -q: ${t_fm}s, ratio $(ratio "$t_fm" "$t_dd10"), files recovered $n_fm/300"
  fi
fi
