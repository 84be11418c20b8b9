#!/usr/bin/env bash
# `brevid image --map` (the rescue passes) side by side with coreutils dd and
# GNU ddrescue, in one run:
#  1. a healthy 2 GiB image copied over a map to a file on tmpfs, against
#     `dd bs=1M` (page cache warm; best of three; target ratio <= 1.1);
#  2. a 256 MiB image served through FUSE with 4 clustered bad areas whose
#     reads fail after DELAY seconds (default 0.01), rescued completely by
#     `brevid image --map --direct` and by `ddrescue -d`: times, reads, bytes
#     rescued (from each map through ddrescuelog), and whether the images
#     and maps agree (target: brevid's time <= ddrescue's, as many bytes).
# Run by hand as root: bench/rescue_bench.sh BUILD_DIR [WORK_DIR [DELAY]]
# WORK_DIR defaults to /dev/shm/brevid-rescue-bench (tmpfs; needs ~5 GiB).
# Needs: gddrescue, python3-fusepy, fuse.
set -euo pipefail
build=$(cd "$1" && pwd)
work=${2:-/dev/shm/brevid-rescue-bench}
delay=${3:-0.01}
here=$(cd "$(dirname "$0")/.." && pwd)
brevid=$build/src/cli/brevid
mkdir -p "$work"
python=/usr/bin/python3  # where Debian's python3-fusepy lives
[ -x "$python" ] || python=python3

seconds() {  # runs "$@", prints its wall time
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}
best_of_three() {
  local best= t
  for _ in 1 2 3; do
    t=$(seconds "$@")
    best=$(awk -v t="$t" -v best="$best" 'BEGIN { printf "%.3f", (best == "" || t < best) ? t : best }')
  done
  echo "$best"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
rescued() { ddrescuelog -t "$1" | awk '/rescued:/ { print $2, $3 }'; }

# 1. Healthy 2 GiB over a map.
src=$work/src2g.img
[ -f "$src" ] || dd if=/dev/urandom of="$src" bs=1M count=2048 status=none
cat "$src" >/dev/null
brevid_map() { rm -f "$work/h.map"; "$brevid" image "$src" --to-file "$work/h.img" --map "$work/h.map"; }
t_ours=$(best_of_three brevid_map)
t_dd=$(best_of_three dd if="$src" of="$work/h-dd.img" bs=1M)
cmp -s "$src" "$work/h.img" || echo "brevid's rescued image differs from its source!" >&2
echo "Healthy 2 GiB over a map to tmpfs: brevid ${t_ours}s, dd bs=1M ${t_dd}s, ratio $(ratio "$t_ours" "$t_dd") (target <= 1.1)"
rm -f "$work/h.img" "$work/h-dd.img" "$work/h.map"

# 2. Clustered bad areas through FUSE, bad reads slow.
backing=$work/fuse256m.img
[ -f "$backing" ] || dd if=/dev/urandom of="$backing" bs=1M count=256 status=none
bad=$(awk 'BEGIN { n = 0
  split("1000:64 150000:3 300000:900 400001:200 524000:17", areas, " ")
  for (i in areas) { split(areas[i], a, ":"); for (s = a[1]; s < a[1] + a[2]; s++) printf "%s%d", (n++ ? "," : ""), s } }')
mnt=$work/mnt
mkdir -p "$mnt"
log=$work/reads.log
: >"$log"
"$python" "$here/tests/imaging/eio_fuse.py" "$backing" "$mnt" "$bad" "$delay" "$log" >/dev/null 2>&1 &
for _ in $(seq 50); do [ -f "$mnt/disk.img" ] && break; sleep 0.1; done
trap 'fusermount -u "$mnt" 2>/dev/null || true' EXIT
rm -f "$work"/r-*.img "$work"/r-*.map
: >"$log"
t_ours=$(seconds "$brevid" image "$mnt/disk.img" --to-file "$work/r-brevid.img" --map "$work/r-brevid.map" --direct)
reads_ours=$(wc -l <"$log")
: >"$log"
t_theirs=$(seconds ddrescue -d "$mnt/disk.img" "$work/r-dd.img" "$work/r-dd.map")
reads_theirs=$(wc -l <"$log")
fusermount -u "$mnt"
trap - EXIT
same_image=no; cmp -s "$work/r-brevid.img" "$work/r-dd.img" && same_image=yes
same_map=no
diff -q <(sed -n '/^#      pos/,$p' "$work/r-brevid.map") <(sed -n '/^#      pos/,$p' "$work/r-dd.map") >/dev/null && same_map=yes
echo "1184 bad sectors in 5 areas of 256 MiB via FUSE, ${delay}s per bad read:"
echo "  brevid --map --direct ${t_ours}s, ${reads_ours} reads, rescued $(rescued "$work/r-brevid.map")"
echo "  ddrescue -d           ${t_theirs}s, ${reads_theirs} reads, rescued $(rescued "$work/r-dd.map")"
echo "  time ratio $(ratio "$t_ours" "$t_theirs") (target <= 1), same image: $same_image, same map: $same_map"
