#!/usr/bin/env bash
# The main job on the bundled demo disk (made on first run by our fixture
# generator from real tools): list its volumes, expand them, and recover
# their deleted files into a new folder: ./recovered, or ./recovered-1, ...
# when that exists.
# Usage: tools/demo.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
brevid="$build/src/cli/brevid"
demo_dir="$build/demo"
demo="$demo_dir/demo.img"

if [ ! -f "$demo" ] || [ "$here/make_fixtures.sh" -nt "$demo" ]; then
  echo "Making the demo disk..." >&2
  "$here/make_fixtures.sh" "$demo_dir" >/dev/null
fi

echo "== 演示磁盘 (demo disk): $demo"
"$brevid" list "$demo"

echo
echo "== FAT32 分区 Partition0: 已删除的文件和文件夹 (deleted files and folders)"
"$brevid" tree "$demo" Partition0 --deleted

echo
echo "== NTFS 分区 Partition1: 已删除的文件和文件夹 (deleted files and folders)"
"$brevid" tree "$demo" Partition1 --deleted

# A recovery never removes or reuses what is there: a new folder each run,
# recovered, then recovered-1, recovered-2, ...
base="${BREVID_RECOVERED:-$PWD/recovered}"
out=$base
n=0
until mkdir "$out" 2>/dev/null; do
  if [ ! -e "$out" ] && [ ! -L "$out" ]; then
    echo "错误: 不能创建文件夹 (cannot create folder) $out" >&2
    exit 1
  fi
  n=$((n + 1))
  out="$base-$n"
done
echo
echo "== 恢复已删除的文件到 (recovering deleted files into) $out"
"$brevid" save "$demo" Partition0 --to "$out/Partition0" --no-normal
"$brevid" save "$demo" Partition1 --to "$out/Partition1" --no-normal
(cd "$out" && find . -type f -printf '%s\t%p\n' | sort -k2)
