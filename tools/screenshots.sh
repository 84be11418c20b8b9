#!/bin/bash
# Renders the README's screenshots into docs/screenshots/ from the fixture
# images of a build tree: the disk pane, the file pane with deleted entries,
# the progress window, and the imaging window with its bad-sector list (its
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

mnt=$(mktemp -d)
trap 'fusermount -u "$mnt" 2>/dev/null || true; rmdir "$mnt"' EXIT
/usr/bin/python3 tests/imaging/eio_fuse.py "$fixtures/demo.img" "$mnt" 6150,6151,30000,70001 &
for _ in $(seq 100); do [ -e "$mnt/disk.img" ] && break; sleep 0.1; done
shot imaging "$mnt/disk.img"
ls -l "$out"
