#!/usr/bin/env bash
# Makes the exFAT test card: mkfs.exfat on an MBR partition (type 0x07) of a
# 48 MiB image, files written through exfat-fuse on a loop device: folders,
# long and Chinese names, a file preallocated past its valid data, files
# written in turns so their clusters interleave (FAT chains), contiguous
# files, then deletions of files, of an interleaved file and of a folder.
#
# Usage: tools/make_exfat_card.sh OUT.img
# Writes OUT.img, OUT.md5 (md5 and path of every file before deletion),
# OUT.deleted (the paths deleted), OUT-reformat.img (the card quick-formatted
# again) and OUT-wiped.img (its table and main boot sector zeroed). Needs root, losetup, mount.exfat-fuse;
# exits 77 when any is missing.
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin" LC_ALL=C.UTF-8 TZ=UTC

img=$1
[ "$(id -u)" -eq 0 ] || exit 77
for t in losetup mount.exfat-fuse mkfs.exfat sfdisk python3; do
  command -v "$t" >/dev/null || exit 77
done
[ -c /dev/fuse ] || exit 77

rm -f "$img"
truncate -s 48M "$img"
echo 'start=2048, type=7' | sfdisk -q "$img"
mnt=$(mktemp -d)
loop=$(losetup -f --show -o $((2048 * 512)) --sizelimit $((45 * 1024 * 1024)) "$img")
cleanup() {
  umount "$mnt" 2>/dev/null || true
  losetup -d "$loop" 2>/dev/null || true
  rmdir "$mnt" 2>/dev/null || true
}
trap cleanup EXIT
mkfs.exfat -L 'BRV CARD' -c 4096 "$loop" >/dev/null
mount.exfat-fuse -o noatime "$loop" "$mnt" >/dev/null 2>&1

python3 - "$mnt" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(23)
def data(n): return bytes(rnd.getrandbits(8) for _ in range(n))
def put(path, n):
    p = os.path.join(root, path)
    os.makedirs(os.path.dirname(p), exist_ok=True)
    with open(p, 'wb') as f: f.write(data(n))
put('DCIM/100CARD/IMG_0001.JPG', 300000)
put('DCIM/100CARD/IMG_0002.JPG', 5000)
put('文档/会议记录 二〇二六年.txt', 12345)
put('文档/空文件.txt', 0)
long = 'a very long file name that goes on and on ' * 5
put('long/' + long[:240] + '.bin', 70000)
put('photos/old/trip/day1.dat', 9000)
put('photos/old/trip/day2.dat', 41000)
put('photos/keep.dat', 100)
# Two files written in turns, one cluster at a time, interleave on the disk.
a = open(os.path.join(root, 'frag_keep.bin'), 'wb')
b = open(os.path.join(root, 'frag_gone.bin'), 'wb')
for i in range(24):
    a.write(data(4096)); a.flush(); os.fsync(a.fileno())
    b.write(data(4096)); b.flush(); os.fsync(b.fileno())
a.close(); b.close()
put('contig_gone.bin', 200000)
put('short_gone.txt', 3000)
# A file longer than its valid data: the rest reads as zeros.
with open(os.path.join(root, 'sparse_tail.bin'), 'wb') as f:
    f.write(data(10000)); f.truncate(60000)
PY
(cd "$mnt" && find . -type f -print0 | sort -z | xargs -0 md5sum) > "${img%.img}.md5"
cat > "${img%.img}.deleted" <<'LIST'
./contig_gone.bin
./short_gone.txt
./frag_gone.bin
./photos/old/trip/day1.dat
./photos/old/trip/day2.dat
LIST
rm "$mnt/contig_gone.bin" "$mnt/short_gone.txt" "$mnt/frag_gone.bin"
rm -r "$mnt/photos/old"
umount "$mnt"
losetup -d "$loop"

stem=${img%.img}
cp "$img" "$stem-reformat.img"
loop=$(losetup -f --show -o $((2048 * 512)) --sizelimit $((45 * 1024 * 1024)) "$stem-reformat.img")
mkfs.exfat -L NEW -c 4096 "$loop" >/dev/null
cp "$img" "$stem-wiped.img"
dd if=/dev/zero of="$stem-wiped.img" bs=512 count=1 conv=notrunc status=none
dd if=/dev/zero of="$stem-wiped.img" bs=512 seek=2048 count=1 conv=notrunc status=none
