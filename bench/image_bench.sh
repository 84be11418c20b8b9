#!/usr/bin/env bash
# `brevid image` side by side with coreutils dd and GNU ddrescue, in one run:
#  1. a 2 GiB image copied to a file on tmpfs, against `dd bs=1M`
#     (page cache warm; best of three; target ratio <= 1.1);
#  2. a 256 MiB image served through FUSE with 100 scattered sectors that
#     answer EIO, against `ddrescue -n`: sectors recovered and times;
#  3. the 2 GiB image as a loop device, against `dd bs=1M iflag=direct`.
# Run by hand as root (FUSE, losetup): bench/image_bench.sh BUILD_DIR [WORK_DIR]
# WORK_DIR defaults to /dev/shm/brevid-image-bench (tmpfs; needs ~5 GiB).
# Needs: gddrescue, python3-fusepy, fuse.
set -euo pipefail
build=$(cd "$1" && pwd)
work=${2:-/dev/shm/brevid-image-bench}
here=$(cd "$(dirname "$0")/.." && pwd)
brevid=$build/src/cli/brevid
mkdir -p "$work"
python=/usr/bin/python3  # where Debian's python3-fusepy lives
[ -x "$python" ] || python=python3

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
once() {  # prints seconds
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

# 1. Plain copy of 2 GiB.
src=$work/src2g.img
[ -f "$src" ] || dd if=/dev/urandom of="$src" bs=1M count=2048 status=none
t_ours=$(best_of_three "$brevid" image "$src" --to-file "$work/out-brevid.img")
t_dd=$(best_of_three dd if="$src" of="$work/out-dd.img" bs=1M)
cmp -s "$src" "$work/out-brevid.img" || echo "brevid image differs from its source!" >&2
echo "Copy 2 GiB to tmpfs: brevid ${t_ours}s, dd bs=1M ${t_dd}s, ratio $(ratio "$t_ours" "$t_dd") (target <= 1.1)"
rm -f "$work/out-brevid.img" "$work/out-dd.img"

# 2. 100 scattered unreadable sectors through FUSE.
backing=$work/fuse256m.img
[ -f "$backing" ] || dd if=/dev/urandom of="$backing" bs=1M count=256 status=none
bad=$(awk 'BEGIN { srand(100); n = 0; while (n < 100) { s = int(rand() * 524288); if (!(s in seen)) { seen[s] = 1; n++; printf "%s%d", (n > 1 ? "," : ""), s } } }')
mnt=$work/mnt
mkdir -p "$mnt"
"$python" "$here/tests/imaging/eio_fuse.py" "$backing" "$mnt" "$bad" >/dev/null 2>&1 &
for _ in $(seq 50); do [ -f "$mnt/disk.img" ] && break; sleep 0.1; done
trap 'fusermount -u "$mnt" 2>/dev/null || true' EXIT
rm -f "$work/rescue-brevid.img" "$work/rescue-dd.img" "$work/rescue.map"
t_img=$(once "$brevid" image "$mnt/disk.img" --to-file "$work/rescue-brevid.img" --bad-list "$work/bad.txt")
t_rescue=$(once ddrescue -n -b 512 "$mnt/disk.img" "$work/rescue-dd.img" "$work/rescue.map")
fusermount -u "$mnt"
trap - EXIT
# Sectors equal to the backing file: what each tool recovered.
"$python" - "$backing" "$work/rescue-brevid.img" "$work/rescue-dd.img" "$bad" <<'PY'
import sys
backing, ours, theirs, bad = sys.argv[1:5]
bad = set(int(s) for s in bad.split(","))
def recovered(path):
    good = wrong = 0
    with open(backing, "rb") as a, open(path, "rb") as b:
        s = 0
        while True:
            x, y = a.read(1 << 20), b.read(1 << 20)
            if not x:
                break
            for i in range(0, len(x), 512):
                if x[i:i + 512] == y[i:i + 512]:
                    good += 1
                    wrong += (s in bad)
                s += 1
    return good, wrong
total = 256 * 2048
for name, path in (("brevid", ours), ("ddrescue -n", theirs)):
    good, wrong = recovered(path)
    print(f"  {name}: {good} of {total - len(bad)} readable sectors recovered")
PY
echo "100 unreadable sectors in 256 MiB via FUSE: brevid ${t_img}s ($(wc -l < "$work/bad.txt") listed), ddrescue -n ${t_rescue}s ($(grep -c '^0x[0-9A-F]* *0x[0-9A-F]* *-' "$work/rescue.map" || true) bad areas in its map)"

# 3. A block device (a loop device over the 2 GiB image on tmpfs): brevid reads block
#    devices past the page cache, so it is set against dd with direct reads
#    (target ratio <= 1.1) and, for reference, dd through the page cache.
if command -v losetup >/dev/null && loop=$(losetup -f --show -r "$src" 2>/dev/null); then
  trap 'losetup -d "$loop" 2>/dev/null || true' EXIT
  out=$work/out-loop.img
  t_ours=$(best_of_three "$brevid" image "$loop" --to-file "$out")
  t_direct=$(best_of_three dd if="$loop" of="$out" bs=1M iflag=direct)
  t_cached=$(best_of_three dd if="$loop" of="$out" bs=1M)
  cmp -s "$src" "$out" || echo "dd's copy of the loop device differs from its source!" >&2
  echo "Copy a 2 GiB loop device: brevid ${t_ours}s, dd bs=1M iflag=direct ${t_direct}s, ratio $(ratio "$t_ours" "$t_direct") (target <= 1.1); dd bs=1M through the cache ${t_cached}s"
  rm -f "$out"
  losetup -d "$loop"
  trap - EXIT
fi
