#!/usr/bin/env bash
# The one list of Debian packages Brevid needs; installs whatever is missing.
# Usage: tools/deps.sh run|test
set -euo pipefail

build_packages=(g++ cmake make pkg-config libcli11-dev nlohmann-json3-dev dpkg-dev python3)
# brevid-gui: Qt 6 Widgets (with QTest and the platform plugins) and a CJK font.
# qt6-translations-l10n: Qt's own dialogs and buttons in Chinese.
build_packages+=(qt6-base-dev qt6-qpa-plugins qt6-translations-l10n fonts-noto-cjk)
# Fixture images and the demo disk are made by these tools (lvm2: the LVM
# fixtures, made only when run as root with loop devices).
image_packages=(fdisk gdisk dosfstools mtools ntfs-3g exfatprogs e2fsprogs hfsutils attr faketime xz-utils gzip unzip lvm2)
# python3-fusepy and fuse3 serve the imaging test's failing disk.
test_packages=(libgtest-dev libgmock-dev sleuthkit clang-format clang python3-fusepy fuse3 gddrescue)
# exfat-fuse writes the exFAT card of the tests and the bench (the kernel has no exfat here).
test_packages+=(exfat-fuse)
# Real files of every carved format are made by the tools that write them.
test_packages+=(imagemagick ffmpeg qpdf libheif-examples p7zip-full sqlite3)

wanted=("${build_packages[@]}" "${image_packages[@]}")
if [ "${1:-run}" = test ]; then
  wanted+=("${test_packages[@]}")
fi

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
