#!/usr/bin/env bash
# `brevid tree` and the save of deleted files on NTFS and FAT32 volumes of
# about 20,000 and 1,000,000 entries, against The Sleuth Kit on the same
# images in one run: wall time, ratio to `fls -r -p` (save: to
# `tsk_recover`), peak RSS and bytes of it per entry; the window's expand
# too when the build has bench_file_pane.
# Run by hand, as root (the NTFS volumes are filled through ntfs-3g):
#   bench/ntfs_million.sh BUILD_DIR [WORK_DIR]
# BUILD_DIR: a release build, e.g.
#   cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBREVID_TESTS=OFF -DBREVID_BENCH=ON
# WORK_DIR (default /tmp/brevid-bench) keeps the images (sparse: 2.6 GB and
# 1.1 GB for the million volumes) between runs. SAVE_DIR (default WORK_DIR)
# takes the saved files; a tmpfs such as /dev/shm keeps the disk's own
# delays out of both saves. Times are the best of five runs (20,000 entries)
# or three (a million), peaks the largest.
# Targets: NTFS tree <= 0.3 x fls, FAT tree <= 0.1 x fls, about 150 bytes an
# entry; save of deleted files <= 0.5 x tsk_recover (NTFS), <= 0.2 x (FAT),
# every file tsk_recover gets back saved with the same bytes.
set -euo pipefail
build=$(cd "$1" && pwd)
work=${2:-/tmp/brevid-bench}
here=$(cd "$(dirname "$0")/.." && pwd)
brevid=$build/src/cli/brevid
pane=$build/bench/bench_file_pane
saves=${SAVE_DIR:-$work}
mkdir -p "$work" "$saves"

# The 20,000-file FAT volume as bench/compare_with_peers.sh makes it.
fat20k=$work/fat20k.img
if [ ! -f "$fat20k" ]; then
  src=$work/fat-src
  rm -rf "$src" && mkdir -p "$src"
  for d in $(seq 1 500); do
    mkdir -p "$src/dir$d"
    for f in $(seq 1 40); do echo "folder $d file $f" >"$src/dir$d/file$f.txt"; done
  done
  truncate -s 256M "$fat20k.tmp"
  mkfs.fat -F 32 -s 4 -n BENCH "$fat20k.tmp" >/dev/null
  mcopy -s -i "$fat20k.tmp" "$src"/* ::/
  for d in $(seq 1 500); do mdel -i "$fat20k.tmp" "::/dir$d/file1*.txt" 2>/dev/null || true; done
  mv "$fat20k.tmp" "$fat20k"
fi
# The NTFS one through the generator, which deletes after writing: deleting
# as it goes, ntfs-3g would give the freed records to the next files.
ntfs20k=$work/ntfs20k.img
[ -f "$ntfs20k" ] || python3 "$here/tools/make_ntfs_million.py" "$ntfs20k" --folders 500 --files 40 --lose 4
[ -f "$work/fat_million.img" ] || python3 "$here/tools/make_fat_million.py" "$work/fat_million.img"
[ -f "$work/ntfs_million.img" ] || python3 "$here/tools/make_ntfs_million.py" "$work/ntfs_million.img"

runs=1
measure() {  # label command...: prints "seconds kilobytes", the best of $runs runs
  local label=$1 best= peak=0 t m
  shift
  for _ in $(seq "$runs"); do
    rm -rf "$saves/tsk-out" "$saves/brevid-out"
    # Wall time in milliseconds (time's own is in hundredths), peak RSS from time.
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o "$work/time.txt" "$@" >"$work/$label.out" 2>"$work/$label.err"
    end=$(date +%s%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
    read -r m <"$work/time.txt"
    best=$(awk -v a="$t" -v b="$best" 'BEGIN { print (b == "" || a < b) ? a : b }')
    [ "$m" -gt "$peak" ] && peak=$m
  done
  echo "$best $peak"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
per_entry() { awk -v kb="$1" -v n="$2" 'BEGIN { printf "%.0f", (n > 0 ? kb * 1024 / n : 0) }'; }
# Hashes of the non-empty files under a folder, one a line, sorted.
hashes() { find "$1" -type f -size +0 -print0 | xargs -0 -r sha256sum | cut -d' ' -f1 | sort; }

printf '%-14s %-6s %9s %7s %7s %8s %6s\n' volume what seconds ratio "peak MB" "B/entry" entries
for name in fat20k ntfs20k fat_million ntfs_million; do
  img=$work/$name.img
  case $name in *20k) runs=5 ;; *) runs=3 ;; esac
  cat "$img" >/dev/null  # the page cache warm for every command
  read -r t_fls m_fls < <(measure fls fls -r -p "$img")
  entries=$(wc -l <"$work/fls.out")
  read -r t_tree m_tree < <(measure tree "$brevid" tree "$img" Partition0)
  printf '%-14s %-6s %9s %7s %7s %8s %6s\n' "$name" fls "$t_fls" 1 $((m_fls / 1024)) \
    "$(per_entry "$m_fls" "$entries")" "$entries"
  printf '%-14s %-6s %9s %7s %7s %8s %6s\n' "$name" tree "$t_tree" "$(ratio "$t_tree" "$t_fls")" \
    $((m_tree / 1024)) "$(per_entry "$m_tree" "$entries")" "$(($(wc -l <"$work/tree.out") - 1))"
  if [ -x "$pane" ]; then
    read -r t_gui m_gui < <(QT_QPA_PLATFORM=offscreen measure gui "$pane" "$img" Partition0)
    printf '%-14s %-6s %9s %7s %7s %8s   %s\n' "$name" window "$t_gui" "$(ratio "$t_gui" "$t_fls")" \
      $((m_gui / 1024)) "$(per_entry "$m_gui" "$entries")" "$(cat "$work/gui.out")"
  fi
  case $name in *20k) ;; *) continue ;; esac
  read -r t_tsk m_tsk < <(measure tsk tsk_recover "$img" "$saves/tsk-out")
  read -r t_save m_save < <(measure save "$brevid" save "$img" Partition0 --no-normal \
    --to "$saves/brevid-out")
  # The last runs' files stay for the comparison.
  tsk_recover "$img" "$saves/tsk-out" >/dev/null
  missing=$(comm -23 <(hashes "$saves/tsk-out") <(hashes "$saves/brevid-out") | wc -l)
  printf '%-14s %-6s %9s %7s %7s %8s   tsk_recover %ss, %s of its %s files not saved\n' \
    "$name" save "$t_save" "$(ratio "$t_save" "$t_tsk")" $((m_save / 1024)) - "$t_tsk" \
    "$missing" "$(hashes "$saves/tsk-out" | wc -l)"
  rm -rf "$saves/tsk-out" "$saves/brevid-out"
done
