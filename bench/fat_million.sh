#!/usr/bin/env bash
# The file pane on a FAT32 volume of 1,000,000 entries in 20,000 folders,
# against `fls -r -p` (The Sleuth Kit) on the same image, in one run:
# wall time, ratio to fls, peak RSS, and the window's longest event-loop
# stall (offscreen, a 10 ms heartbeat's largest gap).
# Run by hand: bench/fat_million.sh BUILD_DIR [WORK_DIR]
# BUILD_DIR: a release build with benchmarks, e.g.
#   cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBREVID_TESTS=OFF -DBREVID_BENCH=ON
# WORK_DIR (default /tmp/brevid-bench) keeps the 1.1 GB sparse image between runs.
# Targets: time <= 1.5 x fls, peak RSS <= 300 MB, stall <= 200 ms; in the
# window a name filter within 300 ms and a sort within 1 s (bench_file_pane's
# further lines).
set -euo pipefail
build=$(cd "$1" && pwd)
work=${2:-/tmp/brevid-bench}
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$work"
img=$work/fat_million.img
[ -f "$img" ] || python3 "$here/tools/make_fat_million.py" "$img"

measure() {  # label command...: prints "seconds kilobytes"
  local label=$1
  shift
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >"$work/$label.out" 2>"$work/$label.err"
  cat "$work/time.txt"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

cat "$img" >/dev/null  # the page cache warm for all three
read -r t_fls m_fls < <(measure fls fls -r -p "$img")
read -r t_tree m_tree < <(measure tree "$build/src/cli/brevid" tree "$img" Partition0)
read -r t_gui m_gui < <(QT_QPA_PLATFORM=offscreen measure gui "$build/bench/bench_file_pane" "$img" Partition0)
echo "fls -r -p:                 ${t_fls}s, peak $((m_fls / 1024)) MB, $(wc -l <"$work/fls.out") lines"
echo "brevid tree:               ${t_tree}s, peak $((m_tree / 1024)) MB, $(wc -l <"$work/tree.out") lines, ratio $(ratio "$t_tree" "$t_fls")"
echo "window expand+fill:        ${t_gui}s, peak $((m_gui / 1024)) MB, ratio $(ratio "$t_gui" "$t_fls")"
echo "  $(cat "$work/gui.out")"
