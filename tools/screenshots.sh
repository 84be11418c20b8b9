#!/bin/bash
# Renders the README's screenshots into docs/screenshots/ from the fixture
# images of a build tree: the disk pane, the file pane with deleted entries,
# the file pane filtered to pictures with one previewed (from the corpus's
# photos, when ../shared is there), the progress window, and the imaging window with its bad-sector list (its
# source served by tests/imaging/eio_fuse.py with four unreadable sectors).
# Usage: tools/screenshots.sh [BUILD_DIR]   (default build/test)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/test}
gui=$build/src/ui/brevid-gui
fixtures=$build/fixtures
out=docs/screenshots
mkdir -p "$out"
shot() { QT_QPA_PLATFORM=offscreen "$gui" --images-only --screenshot "$out/$1.png" \
  --screenshot-state "$@"; }

shot disks "$fixtures/demo.img" "$fixtures/fat32_files.img"
shot files "$fixtures/demo.img"
shot progress "$fixtures/demo.img"

# The file pane narrowed to pictures, one of them previewed: a FAT32 volume
# made by mkfs.fat and mtools with the corpus's photos, one deleted.
photos=../shared/corpus/samples/jpeg
if [ -d "$photos" ]; then
  pics=$(mktemp -d)
  export MTOOLS_SKIP_CHECK=1
  mkfs.fat -C -F 32 -n PHOTOS "$pics/photos.img" 65536 >/dev/null
  mmd -i "$pics/photos.img" ::DCIM ::DCIM/2020 ::Documents
  mcopy -i "$pics/photos.img" "$photos/fs_d-debian.jpg" ::DCIM/debian.jpg
  mcopy -i "$pics/photos.img" "$photos/fs_IMG_1054.JPG" ::DCIM/2020/IMG_1054.JPG
  mcopy -i "$pics/photos.img" "$photos/fs_IMG_20200827_231612.jpg" ::DCIM/2020/IMG_0827.JPG
  mcopy -i "$pics/photos.img" "$photos/h2non_sample.jpg" ::DCIM/2020/sample.jpg
  mcopy -i "$pics/photos.img" README.md ::Documents/readme.txt
  mdel -i "$pics/photos.img" ::DCIM/2020/IMG_1054.JPG
  shot preview "$pics/photos.img"
  rm -rf "$pics"
fi

mnt=$(mktemp -d)
trap 'fusermount -u "$mnt" 2>/dev/null || true; rmdir "$mnt"' EXIT
/usr/bin/python3 tests/imaging/eio_fuse.py "$fixtures/demo.img" "$mnt" 6150,6151,30000,70001 &
for _ in $(seq 100); do [ -e "$mnt/disk.img" ] && break; sleep 0.1; done
shot imaging "$mnt/disk.img"
ls -l "$out"
