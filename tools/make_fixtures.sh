#!/usr/bin/env bash
# Builds the disk images Brevid's tests read, from the same tools that make
# real disks: sfdisk and sgdisk for partition tables, mkfs.fat, mkntfs,
# mkfs.exfat, mke2fs and hformat for file systems, mtools and ntfs-3g for
# files. Structures no tool writes (damaged tables, odd boot code) are patched
# in by the small writers below, each naming the bytes it touches.
#
# Usage: tools/make_fixtures.sh OUTDIR
# tools/README.md lists every image and its layout.
#
# Works on image files only (no loop devices, no root). The NTFS half of
# demo.img gets folders and deletions through an ntfs-3g FUSE mount when
# /dev/fuse is usable, and root-level files through ntfscp otherwise;
# manifest.txt says which.
#
# Determinism: volume ids, serials, UUIDs, hash seeds and GUIDs are fixed;
# mkfs.fat and mke2fs/debugfs take their clock from SOURCE_DATE_EPOCH and
# E2FSPROGS_FAKE_TIME; mkntfs runs with -T (every time 1970-01-01); the clock
# part of mkfs.exfat's serial is overwritten. Still taken from the clock unless
# faketime is installed (then those tools run on a frozen clock): HFS dates from
# hformat, FAT folder dates from mmd, NTFS file times from ntfs-3g and ntfscp.
# Always host-dependent: the owner recorded in NTFS security descriptors on the
# FUSE path follows the user running this script, and the demo NTFS content
# depends on whether FUSE works.

set -euo pipefail

export PATH="$PATH:/usr/sbin:/sbin"
export LC_ALL=C.UTF-8 TZ=UTC

readonly EPOCH=1577880000          # 2020-01-01 12:00:00 UTC
readonly STAMP=20200101120000      # the same moment, as debugfs wants it
readonly SECTOR=512

die() { echo "make_fixtures: $*" >&2; exit 1; }

[ $# -eq 1 ] || die "usage: $0 OUTDIR"
mkdir -p "$1"
OUT=$(cd "$1" && pwd)
# Two builds sharing one output folder take turns.
exec 9>"$OUT/.lock"
flock 9

for tool in sfdisk sgdisk mkfs.fat mkntfs mkfs.exfat mke2fs debugfs hformat \
    mcopy mmd mdel mdeltree ntfscp dd truncate od awk gzip sha256sum; do
  command -v "$tool" >/dev/null || die "missing tool: $tool"
done

FT=()
if command -v faketime >/dev/null &&
    faketime -m -f "2020-01-01 12:00:00" true 2>/dev/null; then
  FT=(faketime -m -f "2020-01-01 12:00:00")
fi

WORK=$(mktemp -d "$OUT/.work.XXXXXX")
MNT=$WORK/mnt
FUSE_PID=
LOOPS=()  # loop devices to detach however the script ends

cleanup() {
  if [ -n "$FUSE_PID" ]; then
    fusermount3 -u "$MNT" 2>/dev/null || fusermount -u "$MNT" 2>/dev/null || true
    wait "$FUSE_PID" 2>/dev/null || true
  fi
  for loop in "${LOOPS[@]}"; do losetup -d "$loop" 2>/dev/null || true; done
  rm -rf "$WORK"
  rm -f "$OUT"/*.img.tmp "$OUT/manifest.txt.tmp"
}
trap cleanup EXIT

# A failed run must not leave a manifest that vouches for it.
rm -f "$OUT/manifest.txt"

# Runs a tool quietly; its chatter is shown only when it fails.
run() {
  if ! "$@" >"$WORK/log" 2>&1; then
    cat "$WORK/log" >&2
    die "failed: $*"
  fi
}

new_file() { rm -f "$1"; truncate -s "$2" "$1"; }

# ---- byte writers ----------------------------------------------------------

# put_hex FILE OFFSET "eb 63 90"
put_hex() {
  local esc="" b
  for b in $3; do esc+="\\x$b"; done
  printf '%b' "$esc" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

put_le32() {
  local v=$3
  put_hex "$1" "$2" "$(printf '%02x %02x %02x %02x' $((v & 255)) \
    $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255)))"
}

get_le32() {
  od -An -v -tu1 -j "$2" -N 4 "$1" |
    awk '{ printf "%.0f\n", $1 + $2 * 256 + $3 * 65536 + $4 * 16777216 }'
}

expect_le32() {
  local got
  got=$(get_le32 "$1" "$2")
  [ "$got" = "$3" ] || die "$1: u32 at $2 is $got, expected $3"
}

# CRC-32 as GPT uses it, little-endian hex bytes; gzip's trailer carries the
# same polynomial, so no extra tool is needed.
crc32_bytes() {
  dd if="$1" bs=1 skip="$2" count="$3" status=none | gzip -c -n |
    tail -c 8 | od -An -tx1 | awk '{ print $1, $2, $3, $4 }'
}

# ---- file systems, each made in its own file -------------------------------

# mk_fat BITS LABEL VOLID HIDDEN_SECTORS SECTORS FILE
# One sector per cluster keeps the small volumes inside their FAT type's
# cluster-count range (FAT16 >= 4085, FAT32 >= 65525).
mk_fat() {
  local root=()
  [ "$1" = 16 ] && root=(-r 512)
  new_file "$6" $(($5 * SECTOR))
  run env SOURCE_DATE_EPOCH=$EPOCH mkfs.fat --invariant --mbr=n -F "$1" \
    -S $SECTOR -s 1 "${root[@]}" -g 255/63 -h "$4" -i "$3" -n "$2" "$6"
}

# mk_ntfs LABEL PARTITION_START SECTORS FILE
mk_ntfs() {
  new_file "$4" $(($3 * SECTOR))
  run mkntfs -F -Q -T -s $SECTOR -p "$2" -H 255 -S 63 -L "$1" "$4"
}

# exFAT volume serial: u32 at boot sector 0x64. Sectors 0-10 are covered by
# the boot checksum that fills sector 11 (bytes 0x6A, 0x6B, 0x70 excluded);
# sectors 12-23 are the backup of 0-11. The stored checksum is checked first so
# a mismatch in our arithmetic fails loudly instead of writing a bad volume.
exfat_boot_sum() {
  od -An -v -tu1 -N $((11 * SECTOR)) "$1" | awk '
    { for (i = 1; i <= NF; i++) {
        if (n != 106 && n != 107 && n != 112)
          s = ((s % 2) * 2147483648 + int(s / 2) + $i) % 4294967296
        n++ } }
    END { printf "%.0f\n", s }'
}

exfat_set_serial() {
  local file=$1 sum esc="" b i
  expect_le32 "$file" $((11 * SECTOR)) "$(exfat_boot_sum "$file")"
  put_le32 "$file" $((0x64)) "$2"
  sum=$(exfat_boot_sum "$file")
  for i in 0 8 16 24; do
    printf -v b '\\x%02x' $((sum >> i & 255))
    esc+=$b
  done
  for ((i = 0; i < SECTOR / 4; i++)); do printf '%b' "$esc"; done |
    dd of="$file" bs=$SECTOR seek=11 conv=notrunc status=none
  dd if="$file" of="$file" bs=$SECTOR count=12 seek=12 conv=notrunc status=none
}

# mk_exfat LABEL SERIAL SECTORS FILE
mk_exfat() {
  new_file "$4" $(($3 * SECTOR))
  run mkfs.exfat -L "$1" "$4"
  exfat_set_serial "$4" "$2"
}

uuid_n() { printf '42525600-0000-4000-8000-%012x' "$1"; }

# mk_ext KIND LABEL N BLOCKS FILE, 1 KiB blocks.
# 2048 blocks per group keeps several groups even on small volumes: a volume
# of a single group has blocks-per-group >= total blocks, which superblock
# plausibility tests reject. Mount and write times are set because those
# tests also want them non-zero; mke2fs leaves the mount time at 0.
mk_ext() {
  new_file "$5" $(($4 * 1024))
  run env E2FSPROGS_FAKE_TIME=$EPOCH mke2fs -q -F -t "$1" -b 1024 -g 2048 \
    -L "$2" -U "$(uuid_n "$3")" \
    -E "hash_seed=$(uuid_n $(($3 + 0x100))),root_owner=0:0" "$5" "$4"
  printf 'ssv mtime %s\nssv wtime %s\n' $STAMP $STAMP |
    run env E2FSPROGS_FAKE_TIME=$EPOCH debugfs -w -f - "$5"
  expect_le32 "$5" $((1024 + 0x2C)) $EPOCH
  expect_le32 "$5" $((1024 + 0x30)) $EPOCH
}

# mk_hfs LABEL SECTORS FILE; hformat keeps its state file in $HOME.
mk_hfs() {
  new_file "$3" $(($2 * SECTOR))
  run env HOME="$WORK" "${FT[@]}" hformat -l "$1" "$3"
}

# place FS_FILE IMAGE START_SECTOR
place() {
  dd if="$1" of="$2" bs=1M conv=notrunc,sparse oflag=seek_bytes \
    seek=$(($3 * SECTOR)) status=none
}

# sfdisk_dos IMAGE, table script on stdin
sfdisk_dos() { run sfdisk -q --wipe never "$1"; }

# The protective entry's sector count (u32 at MBR 0x1CA) is raised to
# 0xFFFFFFFF, as on disks past 2 TiB and as some tools write it on any disk.
# sgdisk writes disk size - 1 for small disks; gpt_sgdisk.img keeps that.
gpt_full_protective() {
  [ "$(od -An -tx1 -j $((0x1C2)) -N 1 "$1" | tr -d ' ')" = ee ] ||
    die "$1: first MBR entry is not protective"
  put_le32 "$1" $((0x1CA)) 4294967295
}

# gpt_set_header_u32 IMAGE FIELD_OFFSET VALUE. The header is at sector 1; its
# CRC-32 (u32 at 0x10) covers header-size bytes (u32 at 0x0C) with the CRC
# field zeroed, and is recomputed so the patched field is the only fault.
gpt_set_header_u32() {
  local img=$1 hdr=$SECTOR hsize
  hsize=$(get_le32 "$img" $((hdr + 0x0C)))
  put_le32 "$img" $((hdr + 0x10)) 0
  put_le32 "$img" $((hdr + $2)) "$3"
  put_hex "$img" $((hdr + 0x10)) "$(crc32_bytes "$img" $hdr "$hsize")"
}

# Checks our CRC against one sgdisk wrote, before trusting it for patches.
gpt_check_crc() {
  local img=$1 hdr=$SECTOR hsize stored mine
  hsize=$(get_le32 "$img" $((hdr + 0x0C)))
  stored=$(od -An -tx1 -j $((hdr + 0x10)) -N 4 "$img" | awk '{ print $1, $2, $3, $4 }')
  dd if="$img" of="$WORK/crc" bs=$SECTOR skip=1 count=1 status=none
  put_le32 "$WORK/crc" $((0x10)) 0
  mine=$(crc32_bytes "$WORK/crc" 0 "$hsize")
  [ "$stored" = "$mine" ] || die "GPT header CRC mismatch: $stored vs $mine"
}

# Deterministic text: every line names its file, so recovered content can be
# matched to its source.
gen_text() {
  awk -v t="$1" -v n="$2" \
    'BEGIN { for (i = 1; i <= n; i++) printf "%s line %04d of %04d\n", t, i, n }'
}

FS=$WORK/fs
IMAGES=()
NOTES=()

# finish NAME [NOTE]: moves NAME.tmp into place.
finish() {
  mv -f "$OUT/$1.tmp" "$OUT/$1"
  IMAGES+=("$1")
  NOTES+=("${2:--}")
}

# ---- 1. mbr_ext.img --------------------------------------------------------

img=$OUT/mbr_ext.img.tmp
new_file "$img" $((169984 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x42525601
unit: sectors
start=2048, size=16384, type=6
start=18432, size=69632, type=c
start=88064, size=16384, type=7
start=104448, size=65536, type=5
start=106496, size=8192, type=7
start=116736, size=16384, type=83
start=135168, size=16384, type=83
start=153600, size=16384, type=83
EOF
mk_fat 16 BRV_FAT16 42520101 2048 16384 "$FS"; place "$FS" "$img" 2048
mk_fat 32 BRV_FAT32 42520102 18432 69632 "$FS"; place "$FS" "$img" 18432
mk_ntfs BrvNtfs 88064 16384 "$FS"; place "$FS" "$img" 88064
mk_exfat BRVEXFAT 0x42520105 8192 "$FS"; place "$FS" "$img" 106496
mk_ext ext2 brv_ext2 2 8192 "$FS"; place "$FS" "$img" 116736
mk_ext ext3 brv_ext3 3 8192 "$FS"; place "$FS" "$img" 135168
mk_ext ext4 brv_ext4 4 8192 "$FS"; place "$FS" "$img" 153600
finish mbr_ext.img

# ---- 2. mbr_logical3.img ---------------------------------------------------

img=$OUT/mbr_logical3.img.tmp
new_file "$img" $((36864 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x42525602
unit: sectors
start=2048, size=6144, type=6
start=8192, size=26624, type=5
start=10240, size=6144, type=6
start=18432, size=8192, type=7
start=28672, size=6144, type=6
EOF
mk_fat 16 BRV_PRI 42520201 2048 6144 "$FS"; place "$FS" "$img" 2048
mk_fat 16 BRV_LOG1 42520202 10240 6144 "$FS"; place "$FS" "$img" 10240
mk_ntfs BrvLog2 18432 8192 "$FS"; place "$FS" "$img" 18432
mk_fat 16 BRV_LOG3 42520204 28672 6144 "$FS"; place "$FS" "$img" 28672
finish mbr_logical3.img

# ---- 3. gpt.img ------------------------------------------------------------

img=$OUT/gpt.img.tmp
new_file "$img" $((141312 * SECTOR))
run sgdisk -o -U "$(uuid_n 0x300)" \
  -n 1:2048:71679 -t 1:0700 -c "1:Data FAT" -u "1:$(uuid_n 0x301)" \
  -n 2:71680:88063 -t 2:ef00 -c "2:EFI System" -u "2:$(uuid_n 0x302)" \
  -n 3:88064:104447 -t 3:0700 -c "3:Data NTFS" -u "3:$(uuid_n 0x303)" \
  -n 4:104448:112639 -t 4:0700 -c "4:Data exFAT" -u "4:$(uuid_n 0x304)" \
  -n 5:112640:129023 -t 5:0700 -c "5:Linux data" -u "5:$(uuid_n 0x305)" \
  -n 6:129024:131071 -t 6:8300 -c "6:Linux other 数据" -u "6:$(uuid_n 0x306)" \
  -n 7:131072:139263 -t 7:af00 -c "7:Mac" -u "7:$(uuid_n 0x307)" \
  "$img"
gpt_check_crc "$img"
gpt_full_protective "$img"
mk_fat 32 GPT_FAT32 42520301 2048 69632 "$FS"; place "$FS" "$img" 2048
mk_fat 16 GPT_EFI 42520302 71680 16384 "$FS"; place "$FS" "$img" 71680
mk_ntfs GptNtfs 88064 16384 "$FS"; place "$FS" "$img" 88064
mk_exfat GPTEXFAT 0x42520304 8192 "$FS"; place "$FS" "$img" 104448
# Half the partition: the volume's size must come from its superblock.
mk_ext ext4 gpt_ext4 5 4096 "$FS"; place "$FS" "$img" 112640
mk_hfs BrvHfs 8192 "$FS"; place "$FS" "$img" 131072
finish gpt.img

# ---- 4. gpt_small.img and its damaged headers ------------------------------

img=$OUT/gpt_small.img.tmp
new_file "$img" $((4096 * SECTOR))
run sgdisk -o -U "$(uuid_n 0x400)" \
  -n 1:2048:4062 -t 1:0700 -c "1:Small" -u "1:$(uuid_n 0x401)" "$img"
gpt_check_crc "$img"
gpt_full_protective "$img"
finish gpt_small.img

# The same table with the protective entry as sgdisk wrote it.
img=$OUT/gpt_sgdisk.img.tmp
new_file "$img" $((4096 * SECTOR))
run sgdisk -o -U "$(uuid_n 0x400)" \
  -n 1:2048:4062 -t 1:0700 -c "1:Small" -u "1:$(uuid_n 0x401)" "$img"
finish gpt_sgdisk.img

for variant in "gpt_129.img 0x50 129" "gpt_entry0.img 0x54 0" \
    "gpt_entryhuge.img 0x54 268435456"; do
  read -r name field value <<<"$variant"
  cp --sparse=always "$OUT/gpt_small.img" "$OUT/$name.tmp"
  gpt_set_header_u32 "$OUT/$name.tmp" $((field)) "$value"
  finish "$name"
done

# ---- 5. whole-disk file systems --------------------------------------------

mk_ntfs WholeNtfs 0 16384 "$OUT/boot0_ntfs.img.tmp"; finish boot0_ntfs.img
mk_fat 32 WHOLE32 42520502 0 69632 "$OUT/boot0_fat32.img.tmp"; finish boot0_fat32.img
mk_fat 16 WHOLE16 42520503 0 16384 "$OUT/boot0_fat16.img.tmp"; finish boot0_fat16.img
mk_exfat WHOLEEX 0x42520504 8192 "$OUT/boot0_exfat.img.tmp"; finish boot0_exfat.img
mk_ext ext4 whole_ext4 0x505 8192 "$OUT/ext4_whole.img.tmp"; finish ext4_whole.img
mk_hfs WholeHfs 8192 "$OUT/hfs_whole.img.tmp"; finish hfs_whole.img

# ---- 6. eb63.img: MBR boot code starting EB 63 90 (bytes 0-2) ---------------

img=$OUT/eb63.img.tmp
new_file "$img" $((8192 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x42525606
unit: sectors
start=2048, size=6144, type=6
EOF
mk_fat 16 BRV_EB63 42520601 2048 6144 "$FS"; place "$FS" "$img" 2048
put_hex "$img" 0 "eb 63 90"
finish eb63.img

# ---- 7. exfat_in_07.img ----------------------------------------------------

img=$OUT/exfat_in_07.img.tmp
new_file "$img" $((10240 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x42525607
unit: sectors
start=2048, size=8192, type=7
EOF
mk_exfat EXIN07 0x42520701 8192 "$FS"; place "$FS" "$img" 2048
finish exfat_in_07.img

# ---- 8. ee_small.img: 0xEE entry of 2047 sectors, sector 1 left zero --------

img=$OUT/ee_small.img.tmp
new_file "$img" $((2048 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x42525608
unit: sectors
start=1, size=2047, type=ee
EOF
[ "$(od -An -v -tx1 -j $SECTOR -N $SECTOR "$img" | tr -d ' 0\n')" = "" ] ||
  die "ee_small.img: sector 1 is not zero"
finish ee_small.img

# ---- 9. type42.img ---------------------------------------------------------

img=$OUT/type42.img.tmp
new_file "$img" $((10240 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x42525609
unit: sectors
start=2048, size=2048, type=42
start=4096, size=6144, type=6
EOF
mk_fat 16 BRV_T42 42520901 4096 6144 "$FS"; place "$FS" "$img" 4096
finish type42.img

# ---- 10. odd_size.img: 4 MiB + 300 bytes -----------------------------------

img=$OUT/odd_size.img.tmp
new_file "$img" $((8192 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x4252560a
unit: sectors
start=2048, size=6144, type=6
EOF
mk_fat 16 BRV_ODD 42521001 2048 6144 "$FS"; place "$FS" "$img" 2048
truncate -s $((8192 * SECTOR + 300)) "$img"
finish odd_size.img

# ---- 11. hostile images ----------------------------------------------------

# Three logical volumes, EBRs at 2048, 6144, 10240. The link entry of EBR 2
# (second entry, its first-sector field at EBR byte 0x1D6, relative to the
# extended partition's start 2048) is redirected: to EBR 2 itself (4096) or
# back to EBR 1 (0).
for variant in "ebr_loop.img 4096" "ebr_loop2.img 0"; do
  read -r name link <<<"$variant"
  img=$OUT/$name.tmp
  new_file "$img" $((16384 * SECTOR))
  sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x4252560b
unit: sectors
start=2048, size=12288, type=5
start=4096, size=2048, type=83
start=8192, size=2048, type=83
start=12288, size=2048, type=83
EOF
  expect_le32 "$img" $((6144 * SECTOR + 0x1D6)) 8192
  put_le32 "$img" $((6144 * SECTOR + 0x1D6)) "$link"
  finish "$name"
done

# Sector 0: 510 bytes from a Park-Miller generator (seed fixed), then 55 AA.
random_sector() {
  local x=20200101 i b esc=""
  for ((i = 0; i < 510; i++)); do
    x=$((x * 48271 % 2147483647))
    printf -v b '\\x%02x' $((x >> 16 & 255))
    esc+=$b
  done
  printf '%b' "$esc\\x55\\xaa"
}
img=$OUT/random0.img.tmp
new_file "$img" $((2048 * SECTOR))
random_sector | dd of="$img" conv=notrunc status=none
finish random0.img

head -c 1000 "$OUT/mbr_ext.img" >"$OUT/truncated.img.tmp"
finish truncated.img

: >"$OUT/empty.img.tmp"
finish empty.img

# ---- 12. demo.img ----------------------------------------------------------

# fat_demo FILE: files kept, then files and a folder tree deleted. Deletion
# comes last so no later write reuses the freed clusters.
fat_demo() {
  local f=$1 src=$WORK/src n=0
  rm -rf "$src"; mkdir -p "$src"
  mt() { local cmd=$1; shift; run env MTOOLS_SKIP_CHECK=1 "${FT[@]}" "$cmd" -i "$f" "$@"; }
  put() { # put LINES DEST
    n=$((n + 1))
    if [ "$1" = 0 ]; then : >"$src/$n"; else gen_text "fat:$2" "$1" >"$src/$n"; fi
    touch -d "@$EPOCH" "$src/$n"
    mt mcopy -m "$src/$n" "::$2"
  }
  mt mmd ::/Projects ::/Projects/Alpha ::/Projects/Alpha/Notes ::/Photos \
    ::/Archive ::/Archive/2018
  put 20 /README.TXT
  put 60 "/Long file name example.txt"
  put 100 /报告.txt
  put 0 /EMPTY.DAT
  put 80 /OLDLOG.TXT
  put 120 "/Deleted long name document.txt"
  put 50 /已删除的报告.txt
  put 40 /Projects/Alpha/plan.txt
  put 45 "/Projects/Alpha/old plan.txt"
  put 30 "/Projects/Alpha/Notes/Meeting notes 2020.txt"
  put 25 "/Photos/list of photos.txt"
  put 70 "/Archive/summary 2019.txt"
  put 30 /Archive/DATA.CSV
  put 55 "/Archive/2018/Q4 report.txt"
  put 0 /Archive/2018/EMPTY.TXT
  mt mdel ::/OLDLOG.TXT "::/Deleted long name document.txt" ::/已删除的报告.txt \
    "::/Projects/Alpha/old plan.txt"
  mt mdeltree ::/Archive
}

# fuse_mount FILE: starts ntfs-3g in the foreground of a background job so
# that unmounting can wait for it to finish writing.
fuse_mount() {
  [ -c /dev/fuse ] && [ -r /dev/fuse ] && [ -w /dev/fuse ] || return 1
  command -v ntfs-3g >/dev/null && command -v mountpoint >/dev/null || return 1
  mkdir -p "$MNT"
  "${FT[@]}" ntfs-3g -o no_detach "$1" "$MNT" >"$WORK/ntfs-3g.log" 2>&1 &
  FUSE_PID=$!
  local i
  for ((i = 0; i < 100; i++)); do
    mountpoint -q "$MNT" && return 0
    kill -0 "$FUSE_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill "$FUSE_PID" 2>/dev/null || true
  wait "$FUSE_PID" 2>/dev/null || true
  FUSE_PID=
  return 1
}

fuse_unmount() {
  fusermount3 -u "$MNT" 2>/dev/null || fusermount -u "$MNT"
  wait "$FUSE_PID" || die "ntfs-3g failed: $(cat "$WORK/ntfs-3g.log")"
  FUSE_PID=
}

ntfs_demo_fuse() {
  local m=$MNT
  mkdir -p "$m/Documents/Drafts" "$m/Temp/Sub"
  gen_text ntfs:/Readme.txt 10 >"$m/Readme.txt"
  gen_text ntfs:/年度报告.txt 400 >"$m/年度报告.txt"
  : >"$m/Empty.txt"
  gen_text "ntfs:/Documents/Letter to Bob.txt" 60 >"$m/Documents/Letter to Bob.txt"
  gen_text "ntfs:/Documents/Drafts/draft one.txt" 20 >"$m/Documents/Drafts/draft one.txt"
  gen_text "ntfs:/Old notes.txt" 150 >"$m/Old notes.txt"
  gen_text ntfs:/删除的文件.txt 90 >"$m/删除的文件.txt"
  gen_text "ntfs:/Documents/small deleted.txt" 5 >"$m/Documents/small deleted.txt"
  gen_text "ntfs:/Temp/cache one.txt" 40 >"$m/Temp/cache one.txt"
  gen_text "ntfs:/Temp/Sub/cache two.txt" 35 >"$m/Temp/Sub/cache two.txt"
  sync
  rm "$m/Old notes.txt" "$m/删除的文件.txt" "$m/Documents/small deleted.txt"
  rm -r "$m/Temp"
}

# Without FUSE nothing can make folders or delete, so only root files.
ntfs_demo_ntfscp() {
  local f=$1 src=$WORK/src name entry
  rm -rf "$src"; mkdir -p "$src"
  for entry in "Readme.txt 10" "年度报告.txt 400" "Letter to Bob.txt 60"; do
    name=${entry% *}
    gen_text "ntfs:/$name" "${entry##* }" >"$src/x"
    run "${FT[@]}" ntfscp "$f" "$src/x" "$name"
  done
  : >"$src/x"
  run "${FT[@]}" ntfscp "$f" "$src/x" Empty.txt
}

img=$OUT/demo.img.tmp
new_file "$img" $((131072 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x4252560c
unit: sectors
start=2048, size=73728, type=c
start=75776, size=55296, type=7
EOF
mk_fat 32 DEMO_FAT32 42521201 2048 73728 "$FS"
fat_demo "$FS"
place "$FS" "$img" 2048
mk_ntfs DemoNtfs 75776 55296 "$FS"
if fuse_mount "$FS"; then
  ntfs_demo_fuse
  fuse_unmount
  finish_note=ntfs=fuse
else
  ntfs_demo_ntfscp "$FS"
  finish_note=ntfs=root-files-only
fi
place "$FS" "$img" 75776
finish demo.img "$finish_note"

# ---- 13. fat16_files.img and fat32_files.img ------------------------------

# fat_files FILE: the same tree on either FAT type. Files first, deletions
# last, so no later write reuses a freed cluster. Names are chosen for the
# walkers' cases: short-only and long, Chinese, a Thai character CP936 lacks,
# a lower-case 8.3 name (stored short with case bits), zero-length files,
# MAIN.C, the folder "A.B" (short name base A, extension B), and /Many whose
# 40 names of 4 entries each put a long-name run across every cluster
# boundary (entries 14-17, 30-33, ... with 16 entries per cluster).
fat_files() {
  local f=$1 src=$WORK/src n=0 i
  rm -rf "$src"; mkdir -p "$src"
  mt() { local cmd=$1; shift; run env MTOOLS_SKIP_CHECK=1 "${FT[@]}" "$cmd" -i "$f" "$@"; }
  put() { # put LINES DEST
    n=$((n + 1))
    if [ "$1" = 0 ]; then : >"$src/$n"; else gen_text "fat:$2" "$1" >"$src/$n"; fi
    touch -d "@$EPOCH" "$src/$n"
    mt mcopy -m "$src/$n" "::$2"
  }
  mt mmd ::/Docs ::/Docs/Level2 ::/Docs/Level2/Level3 ::/Docs/Level2/Level3/Level4 \
    ::/中文目录 ::/A.B ::/Many ::/Trash ::/Trash/SUB "::/Old long folder" \
    "::/Old long folder/Inner folder"
  put 20 /README.TXT
  put 60 "/Long file name.txt"
  put 100 /报告.txt
  put 10 "/Thai ก name.txt"
  put 5 /lower.txt
  put 0 /EMPTY.DAT
  put 0 "/empty long name.txt"
  put 10 /Docs/INDEX.TXT
  put 15 "/Docs/Level2/Level3/Level4/deep file.txt"
  put 30 /Docs/Level2/OLD.TXT
  put 12 /中文目录/文件一.txt
  put 8 /A.B/INSIDE.TXT
  for ((i = 1; i <= 40; i++)); do
    put 1 "$(printf '/Many/long entry name number %02d.txt' "$i")"
  done
  put 10 /Trash/TRASH1.TXT
  put 20 "/Trash/trash long file.txt"
  put 5 /Trash/SUB/INNER.TXT
  put 10 "/Old long folder/kept inside.txt"
  put 10 "/Old long folder/Inner folder/deep deleted.txt"
  put 25 /MAIN.C
  put 40 "/Deleted long name.txt"
  put 30 /已删除.txt
  put 0 /ZERO.DEL
  put 0 "/zero long deleted.txt"
  mt mdel ::/MAIN.C "::/Deleted long name.txt" ::/已删除.txt ::/ZERO.DEL \
    "::/zero long deleted.txt" ::/Docs/Level2/OLD.TXT
  mt mdeltree ::/Trash "::/Old long folder"
}

img=$OUT/fat16_files.img.tmp
new_file "$img" $((18432 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x4252560d
unit: sectors
start=2048, size=16384, type=6
EOF
mk_fat 16 FILES16 42521301 2048 16384 "$FS"
fat_files "$FS"
place "$FS" "$img" 2048
finish fat16_files.img

img=$OUT/fat32_files.img.tmp
new_file "$img" $((71680 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x4252560e
unit: sectors
start=2048, size=69632, type=c
EOF
mk_fat 32 FILES32 42521401 2048 69632 "$FS"
fat_files "$FS"
place "$FS" "$img" 2048
finish fat32_files.img

# ---- 14. NTFS record-scan images: ntfs_files, ntfs_backup_boot, ntfs_stale_mft

get_u8() { od -An -v -tu1 -j "$2" -N 1 "$1" | tr -d ' '; }
get_le16() { od -An -v -tu2 -j "$2" -N 2 --endian=little "$1" | tr -d ' '; }

# put_le FILE OFFSET WIDTH VALUE
put_le() {
  local i bytes=""
  for ((i = 0; i < $3; i++)); do bytes+=$(printf '%02x ' $(($4 >> (8 * i) & 255))); done
  put_hex "$1" "$2" "$bytes"
}

# Marks a folder for compression (Windows attribute bit 11); ntfs-3g then
# creates the files made in it compressed. False when no tool can set it.
ntfs_mark_compressed() {
  if command -v setfattr >/dev/null; then
    setfattr -n system.ntfs_attrib_be -v 0x00000810 "$1"
  elif command -v python3 >/dev/null; then
    python3 -c 'import os, sys; os.setxattr(sys.argv[1], "system.ntfs_attrib_be", bytes.fromhex("00000810"))' "$1"
  else
    return 1
  fi
}

# ntfs_files_fuse: every record shape the MFT scan meets, made in an order
# that fixes the record numbers the tests rely on (ntfs-3g hands out the
# lowest free record from 64 on after each mount).
ntfs_files_fuse() {
  local m=$MNT i
  # 64, 65: a folder and its file, both deleted last; record 64 is then
  # reused by a file, so orphan.txt's parent is no folder any more.
  mkdir "$m/Reused"
  gen_text ntfs:/Reused/orphan.txt 3 >"$m/Reused/orphan.txt"
  # Records older than the folders they end up in (moved below).
  gen_text ntfs:/moved.txt 4 >"$m/moved.txt"
  mkdir "$m/Early"
  gen_text ntfs:/Early/child.txt 4 >"$m/Early/child.txt"
  mkdir "$m/Deep start"
  gen_text "ntfs:/Deep start/leaf.txt" 2 >"$m/Deep start/leaf.txt"
  mkdir -p "$m/Nested/Level 2/Level 3"
  gen_text "ntfs:/Nested/Level 2/Level 3/deep.txt" 30 >"$m/Nested/Level 2/Level 3/deep.txt"
  mkdir "$m/Many"
  for ((i = 1; i <= 320; i++)); do
    printf 'ntfs:/Many/entry %03d.txt\n' "$i" >"$m/Many/$(printf 'entry %03d.txt' "$i")"
  done
  mkdir "$m/Links"
  gen_text ntfs:/Links/original.txt 50 >"$m/Links/original.txt"
  ln "$m/Links/original.txt" "$m/Links/second name.txt"
  ln "$m/Links/original.txt" "$m/Nested/third name.txt"
  mkdir "$m/Compressed"
  ntfs_mark_compressed "$m/Compressed" || compressed=no
  mkdir "$m/Compressed/Sub"
  gen_text ntfs:/Compressed/big.txt 4000 >"$m/Compressed/big.txt"
  gen_text ntfs:/Compressed/Sub/inner.txt 200 >"$m/Compressed/Sub/inner.txt"
  gen_text ntfs:/small.txt 1 >"$m/small.txt"
  gen_text "ntfs:/Thai ก name.txt" 5 >"$m/Thai ก name.txt"
  gen_text ntfs:/中文名称.txt 20 >"$m/中文名称.txt"
  truncate -s 4M "$m/sparse.bin"
  printf 'sparse head\n' | dd of="$m/sparse.bin" conv=notrunc status=none
  printf 'sparse middle\n' | dd of="$m/sparse.bin" bs=1 seek=2097152 conv=notrunc status=none
  mkdir "$m/Late" "$m/Moved Here" "$m/Z1" "$m/Z1/Z2" "$m/Z1/Z2/Z3"
  mv "$m/moved.txt" "$m/Moved Here/moved.txt"
  mv "$m/Early" "$m/Late/Early"
  mv "$m/Deep start" "$m/Z1/Z2/Z3/Deep start"
  gen_text "ntfs:/deleted big.txt" 200 >"$m/deleted big.txt"
  gen_text "ntfs:/deleted small.txt" 2 >"$m/deleted small.txt"
  gen_text "ntfs:/Nested/Level 2/gone.txt" 60 >"$m/Nested/Level 2/gone.txt"
  mkdir -p "$m/Gone/Inner"
  gen_text ntfs:/Gone/a.txt 40 >"$m/Gone/a.txt"
  gen_text ntfs:/Gone/Inner/b.txt 3 >"$m/Gone/Inner/b.txt"
  sync
  rm "$m/deleted big.txt" "$m/deleted small.txt" "$m/Nested/Level 2/gone.txt"
  rm -r "$m/Gone" "$m/Reused"
}

# Without FUSE: root files only, nothing deleted.
ntfs_files_ntfscp() {
  local f=$1 src=$WORK/src entry name
  rm -rf "$src"; mkdir -p "$src"
  for entry in "small.txt 1" "中文名称.txt 20" "Thai ก name.txt 5"; do
    name=${entry% *}
    gen_text "ntfs:/$name" "${entry##* }" >"$src/x"
    run "${FT[@]}" ntfscp "$f" "$src/x" "$name"
  done
}

img=$OUT/ntfs_files.img.tmp
new_file "$img" $((67584 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x4252560f
unit: sectors
start=2048, size=65536, type=7
EOF
mk_ntfs NtfsFiles 2048 65536 "$FS"
compressed=yes
if fuse_mount "$FS"; then
  ntfs_files_fuse
  fuse_unmount
  fuse_mount "$FS" || die "ntfs_files.img: second FUSE mount failed"
  gen_text ntfs:/reuser.txt 1 >"$MNT/reuser.txt"
  [ "$(stat -c %i "$MNT/reuser.txt")" = 64 ] ||
    die "ntfs_files.img: reuser.txt did not take record 64"
  fuse_unmount
  finish_note=ntfs=fuse
  [ "$compressed" = yes ] || finish_note+=,uncompressed
else
  ntfs_files_ntfscp "$FS"
  finish_note=ntfs=root-files-only
fi
place "$FS" "$img" 2048
finish ntfs_files.img "$finish_note"

# ntfs_root_files FILE COUNT: COUNT one-line files "file NN.txt" at the root.
ntfs_root_files() {
  local src=$WORK/src i name
  rm -rf "$src"; mkdir -p "$src"
  for ((i = 1; i <= $2; i++)); do
    name=$(printf 'file %02d.txt' "$i")
    gen_text "ntfs:/$name" 1 >"$src/x"
    run "${FT[@]}" ntfscp "$1" "$src/x" "$name"
  done
}

# The volume's first sector is zeroed after checking that its last sector
# holds the same boot sector.
img=$OUT/ntfs_backup_boot.img.tmp
new_file "$img" $((18432 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x42525610
unit: sectors
start=2048, size=16384, type=7
EOF
mk_ntfs BackupBoot 2048 16384 "$FS"
ntfs_root_files "$FS" 3
cmp -s <(dd if="$FS" bs=$SECTOR count=1 status=none) \
  <(dd if="$FS" bs=$SECTOR skip=16383 count=1 status=none) ||
  die "ntfs_backup_boot.img: last sector is not the backup boot sector"
dd if=/dev/zero of="$FS" bs=$SECTOR count=1 conv=notrunc status=none
place "$FS" "$img" 2048
finish ntfs_backup_boot.img

# $MFT's only run (record 0, unnamed $DATA) is shortened to 16 clusters (64
# records) while the MFT really holds records up to 123. Only the run's length
# field is patched; the update-sequence words sit at 510 and 1022, far behind.
img=$OUT/ntfs_stale_mft.img.tmp
new_file "$img" $((18432 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x42525611
unit: sectors
start=2048, size=16384, type=7
EOF
mk_ntfs StaleMft 2048 16384 "$FS"
ntfs_root_files "$FS" 60
ntfs_shorten_mft_run() {
  local f=$1 cluster rec0 a type run hdr lsize osize length i
  cluster=$(($(get_le16 "$f" 11) * $(get_u8 "$f" 13)))
  rec0=$(($(get_le32 "$f" $((0x30))) * cluster))
  [ "$(dd if="$f" bs=1 skip="$rec0" count=4 status=none)" = FILE ] || die "$f: no record 0"
  a=$(get_le16 "$f" $((rec0 + 0x14)))
  while :; do
    [ $a -lt 1000 ] || die "$f: record 0 has no \$DATA"
    type=$(get_le32 "$f" $((rec0 + a)))
    [ "$type" = 128 ] && break
    a=$((a + $(get_le32 "$f" $((rec0 + a + 4)))))
  done
  run=$((a + $(get_le16 "$f" $((rec0 + a + 0x20)))))
  hdr=$(get_u8 "$f" $((rec0 + run)))
  lsize=$((hdr & 15)) osize=$((hdr >> 4)) length=0
  for ((i = lsize - 1; i >= 0; i--)); do
    length=$((length * 256 + $(get_u8 "$f" $((rec0 + run + 1 + i)))))
  done
  [ "$(get_u8 "$f" $((rec0 + run + 1 + lsize + osize)))" = 0 ] || die "$f: \$MFT has several runs"
  [ $((length * cluster / 1024)) -ge 124 ] || die "$f: \$MFT holds $length clusters only"
  [ $((run + 1 + lsize)) -lt 510 ] || die "$f: run list reaches the update-sequence word"
  put_le "$f" $((rec0 + run + 1)) "$lsize" $((64 * 1024 / cluster))
  echo "record 0 byte $((run + 1)), $lsize byte(s): $length -> $((64 * 1024 / cluster)) clusters"
}
stale_note=$(ntfs_shorten_mft_run "$FS")
place "$FS" "$img" 2048
finish ntfs_stale_mft.img "$stale_note"

# ---- lost_cyl.img: a cylinder-aligned disk whose partition table is gone ----
# Cylinders of 255 x 63 sectors. FAT32 on cylinder 0 head 1 with its primary
# boot sector wiped (backup at +6 intact); NTFS on cylinder 6 with its primary
# boot sector wiped (backup at its last sector, just before cylinder 8);
# FAT16 on cylinder 8; a logical FAT16 on cylinder 10 head 1. The MBR is
# zeroed last; the EBR at cylinder 10 stays.

img=$OUT/lost_cyl.img.tmp
new_file "$img" $((192780 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x42525610
unit: sectors
start=63, size=80262, type=c
start=96390, size=32130, type=7
start=128520, size=32130, type=6
start=160650, size=32130, type=5
start=160713, size=32067, type=6
EOF
mk_fat 32 LOST_FAT32 42521001 63 80262 "$FS"; place "$FS" "$img" 63
mk_ntfs LostNtfs 96390 32130 "$FS"; place "$FS" "$img" 96390
mk_fat 16 LOST_FAT16 42521003 128520 32130 "$FS"; place "$FS" "$img" 128520
mk_fat 16 LOST_LOG 42521004 160713 32067 "$FS"; place "$FS" "$img" 160713
for sector in 0 63 96390; do
  dd if=/dev/zero of="$img" bs=$SECTOR seek=$sector count=1 conv=notrunc status=none
done
finish lost_cyl.img

# ---- lost_small.img: 8 MiB, a FAT16 at sector 5000 whose first FAT sector is
# wiped, no partition table: only a scan of every sector can find it.

img=$OUT/lost_small.img.tmp
new_file "$img" $((16384 * SECTOR))
mk_fat 16 LOST_SMALL 42521101 5000 8192 "$FS"; place "$FS" "$img" 5000
reserved=$(get_le16 "$img" $((5000 * SECTOR + 14)))
dd if=/dev/zero of="$img" bs=$SECTOR seek=$((5000 + reserved)) count=1 conv=notrunc status=none
finish lost_small.img

# ---- reformat32.img: a whole-disk FAT32 filled with files, then formatted
# again over them (mkfs.fat leaves the data clusters as they were).

img=$OUT/reformat32.img.tmp
mk_fat 32 OLD_FAT32 42521201 0 131072 "$img"
fat_files "$img"
run env SOURCE_DATE_EPOCH=$EPOCH mkfs.fat --invariant --mbr=n -F 32 -S $SECTOR -s 1 -g 255/63 \
  -h 0 -i 42521202 -n NEW_FAT32 "$img"
finish reformat32.img

# ---- reformat_ntfs.img: an NTFS volume at sector 2048 filled with files,
# then formatted again (mkntfs -Q rewrites only its own records).

img=$OUT/reformat_ntfs.img.tmp
new_file "$img" $((36864 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x42525612
unit: sectors
start=2048, size=32768, type=7
EOF
mk_ntfs OldNtfs 2048 32768 "$FS"
ntfs_files_ntfscp "$FS"
run mkntfs -F -Q -T -s $SECTOR -p 2048 -H 255 -S 63 -L NewNtfs "$FS"
place "$FS" "$img" 2048
finish reformat_ntfs.img

# ---- lvm_a.img + lvm_b.img: two LVM2 physical volumes of one group, made by
# pvcreate/vgcreate on loop devices, the logical volumes written into the
# metadata by vgcfgrestore (lvcreate needs device-mapper, which is absent).
# Extents are 1 MiB from sector 2048 of each disk. Needs root, losetup and
# lvm2; skipped otherwise.
#   lv_fat    FAT32 in three segments on pv0: extents 20-39, 0-9, 45-50
#   lv_video  one run, pv0 extents 10-13 (its name holds the letters "id")
#   lv_many   eleven one-extent segments, pv0 extents 61 down to 51
#   lv_span   FAT16 over pv0 extents 14-15 and pv1 extents 0-3

lvm_segment() { # N START COUNT PV PV_EXTENT
  printf 'segment%s {\nstart_extent = %s\nextent_count = %s\ntype = "striped"\n' "$1" "$2" "$3"
  printf 'stripe_count = 1\nstripes = [\n"%s", %s\n]\n}\n' "$4" "$5"
}

lvm_lv() { # NAME N SEGMENT_COUNT, segments on stdin
  printf '%s {\nid = "BrvLv0-0000-0000-0000-0000-0000-%06d"\n' "$1" "$2"
  printf 'status = ["READ", "WRITE", "VISIBLE"]\nflags = []\nsegment_count = %s\n' "$3"
  cat
  printf '}\n'
}

# copy_extents FS FS_EXTENT COUNT IMAGE PV_EXTENT (1 MiB extents from 1 MiB)
copy_extents() {
  dd if="$1" of="$4" bs=1M skip="$2" count="$3" seek=$(($5 + 1)) conv=notrunc status=none
}

if [ "$(id -u)" = 0 ] && command -v pvcreate >/dev/null && command -v losetup >/dev/null &&
    losetup -f >/dev/null 2>&1; then
  export LVM_SUPPRESS_FD_WARNINGS=1
  quiet() { "$@" >"$WORK/log" 2>&1 || { cat "$WORK/log" >&2; return 1; }; }
  LVMC='devices { obtain_device_list_from_udev=0 scan_lvs=0 } activation { udev_sync=0 udev_rules=0 } backup { backup=0 archive=0 }'
  a=$OUT/lvm_a.img.tmp b=$OUT/lvm_b.img.tmp
  new_file "$a" 64M; new_file "$b" 16M
  loop_a=$(losetup -f --show "$a")
  loop_b=$(losetup -f --show "$b")
  lvm_done() { losetup -d "$loop_a" "$loop_b" 2>/dev/null || true; }
  if quiet pvcreate --config "$LVMC" -ff -y --uuid BrvPv0-0000-0000-0000-0000-0000-000000 \
       --norestorefile "$loop_a" &&
     quiet pvcreate --config "$LVMC" -ff -y --uuid BrvPv1-0000-0000-0000-0000-0000-000000 \
       --norestorefile "$loop_b" &&
     quiet vgcreate --config "$LVMC" -s 1M vg_brv "$loop_a" "$loop_b" &&
     quiet vgcfgbackup --config "$LVMC" -f "$WORK/vg.txt" vg_brv; then
    {
      sed -e 's/^\tid = ".*"/\tid = "BrvVg0-0000-0000-0000-0000-0000-000000"/' -e '$d' "$WORK/vg.txt"
      printf 'logical_volumes {\n'
      { lvm_segment 1 0 20 pv0 20; lvm_segment 2 20 10 pv0 0; lvm_segment 3 30 6 pv0 45; } |
        lvm_lv lv_fat 1 3
      lvm_segment 1 0 4 pv0 10 | lvm_lv lv_video 2 1
      for i in $(seq 1 11); do lvm_segment "$i" $((i - 1)) 1 pv0 $((62 - i)); done |
        lvm_lv lv_many 3 11
      { lvm_segment 1 0 2 pv0 14; lvm_segment 2 2 4 pv1 0; } | lvm_lv lv_span 4 2
      printf '}\n}\n'
    } >"$WORK/vg_lv.txt"
    quiet vgcfgrestore --config "$LVMC" -f "$WORK/vg_lv.txt" vg_brv && lvm_ok=1
  fi
  lvm_done
  if [ -n "${lvm_ok:-}" ]; then
    mk_fat 32 BRV_LVFAT 42522001 0 $((36 * 2048)) "$FS"
    fat_files "$FS"
    copy_extents "$FS" 0 20 "$a" 20
    copy_extents "$FS" 20 10 "$a" 0
    copy_extents "$FS" 30 6 "$a" 45
    cp "$FS" "$OUT/lvm_fat.bin"
    mk_fat 16 BRV_SPAN 42522002 0 $((6 * 2048)) "$FS"
    gen_text "lvm span" 100000 >"$WORK/span.txt"
    run env MTOOLS_SKIP_CHECK=1 "${FT[@]}" mcopy -i "$FS" "$WORK/span.txt" ::/SPAN.TXT
    copy_extents "$FS" 0 2 "$a" 14
    copy_extents "$FS" 2 4 "$b" 0
    cp "$WORK/span.txt" "$OUT/lvm_span.txt"
    finish lvm_a.img "LVM2 pv0 of vg_brv"
    finish lvm_b.img "LVM2 pv1 of vg_brv"
  fi
fi

# ---- lvm_mbr.img + lvm_gpt.img + lvm_nomda.img: one volume group as Linux
# installers leave it, made by pvcreate/vgcreate on loop devices over the
# partitions, the logical volumes written by vgcfgrestore. Extents are 1 MiB
# from 64 KiB into each physical volume.
#   pv0  lvm_mbr.img partition 2 (type 8e) at sector 10240, metadata area 60 KiB
#   pv1  lvm_gpt.img partition 1 (LVM GUID) at sector 2048, metadata area 60 KiB
#   pv2  lvm_nomda.img, the whole disk, made with no metadata copy
#   lv_root   FAT16, pv0 extents 0-3
#   lv_home   FAT16, pv1 extents 0-1 then pv0 extents 4-5
#   lv_stripe FAT16, two stripes of 64 KiB: pv0 extents 6-7 and pv1 extents 2-3
#   lv_nomda  FAT16, pv2 extents 0-2
# Tags are then added to the group until the text in pv0's metadata area runs
# past the area's end and goes on behind its header.

# put_extents FS FS_EXTENT COUNT IMAGE BYTE_OFFSET (1 MiB extents)
put_extents() {
  dd if="$1" of="$4" bs=1M skip="$2" count="$3" seek="$5" oflag=seek_bytes conv=notrunc \
    status=none
}

if [ "$(id -u)" = 0 ] && command -v pvcreate >/dev/null && command -v losetup >/dev/null &&
    losetup -f >/dev/null 2>&1; then
  export LVM_SUPPRESS_FD_WARNINGS=1
  quiet() { "$@" >"$WORK/log" 2>&1 || { cat "$WORK/log" >&2; return 1; }; }
  LVMC='devices { obtain_device_list_from_udev=0 scan_lvs=0 } activation { udev_sync=0 udev_rules=0 } backup { backup=0 archive=0 }'
  m=$OUT/lvm_mbr.img.tmp g=$OUT/lvm_gpt.img.tmp n=$OUT/lvm_nomda.img.tmp
  new_file "$m" 24M; new_file "$g" 16M; new_file "$n" 8M
  sfdisk_dos "$m" <<'EOF'
label: dos
label-id: 0x42525680
unit: sectors
start=2048, size=8192, type=83
start=10240, size=38912, type=8e
EOF
  run sgdisk -o -U "$(uuid_n 0x1800)" -n 1:2048:32734 -t 1:8e00 -c 1:lvm \
    -u "1:$(uuid_n 0x1801)" "$g"
  pv0_at=$((10240 * SECTOR)) pv1_at=$((2048 * SECTOR)) pe=65536
  loop_m=$(losetup -f --show -o $pv0_at --sizelimit $((38912 * SECTOR)) "$m")
  LOOPS+=("$loop_m")
  loop_g=$(losetup -f --show -o $pv1_at --sizelimit $((30687 * SECTOR)) "$g")
  LOOPS+=("$loop_g")
  loop_n=$(losetup -f --show "$n")
  LOOPS+=("$loop_n")
  pvx=(--config "$LVMC" -ff -y --norestorefile --dataalignment 64k)
  if quiet pvcreate "${pvx[@]}" --metadatasize 16k \
       --uuid BrvPm0-0000-0000-0000-0000-0000-000000 "$loop_m" &&
     quiet pvcreate "${pvx[@]}" --metadatasize 16k \
       --uuid BrvPg1-0000-0000-0000-0000-0000-000000 "$loop_g" &&
     quiet pvcreate "${pvx[@]}" --metadatacopies 0 \
       --uuid BrvPn2-0000-0000-0000-0000-0000-000000 "$loop_n" &&
     quiet vgcreate --config "$LVMC" -s 1M vg_inst "$loop_m" "$loop_g" "$loop_n" &&
     quiet vgcfgbackup --config "$LVMC" -f "$WORK/vgi.txt" vg_inst; then
    {
      sed -e '$d' "$WORK/vgi.txt"
      printf 'logical_volumes {\n'
      lvm_segment 1 0 4 pv0 0 | lvm_lv lv_root 11 1
      { lvm_segment 1 0 2 pv1 0; lvm_segment 2 2 2 pv0 4; } | lvm_lv lv_home 12 2
      printf 'segment1 {\nstart_extent = 0\nextent_count = 4\ntype = "striped"\n' |
        cat - <(printf 'stripe_count = 2\nstripe_size = 128\nstripes = [\n"pv0", 6,\n"pv1", 2\n]\n}\n') |
        lvm_lv lv_stripe 13 1
      lvm_segment 1 0 3 pv2 0 | lvm_lv lv_nomda 14 1
      printf '}\n}\n'
    } >"$WORK/vgi_lv.txt"
    if quiet vgcfgrestore --config "$LVMC" -f "$WORK/vgi_lv.txt" vg_inst; then
      # The text's offset and size (u64 at 0x28, 0x30) in pv0's metadata area
      # header (4 KiB into the PV), against the area's size (u64 at 0x20).
      mda=$((pv0_at + 4096))
      wrapped() {
        od -An -tu8 -w24 -j $((mda + 32)) -N 24 "$m" | awk '{ exit !($2 + $3 > $1) }'
      }
      for i in $(seq 1 400); do
        wrapped && { lvm_inst_ok=1; break; }
        quiet vgchange --config "$LVMC" --addtag "tag$i" vg_inst || break
      done
    fi
  fi
  losetup -d "$loop_m" "$loop_g" "$loop_n" 2>/dev/null || true
  LOOPS=()
  if [ -n "${lvm_inst_ok:-}" ]; then
    mk_fat 16 BRV_ROOT 42522101 0 $((4 * 2048)) "$FS"
    gen_text "lvm root" 20000 >"$WORK/root.txt"
    run env MTOOLS_SKIP_CHECK=1 "${FT[@]}" mcopy -i "$FS" "$WORK/root.txt" ::/ROOT.TXT
    put_extents "$FS" 0 4 "$m" $((pv0_at + pe))
    mk_fat 16 BRV_HOME 42522102 0 $((4 * 2048)) "$FS"
    gen_text "lvm home" 40000 >"$WORK/home.txt"
    run env MTOOLS_SKIP_CHECK=1 "${FT[@]}" mcopy -i "$FS" "$WORK/home.txt" ::/HOME.TXT
    put_extents "$FS" 0 2 "$g" $((pv1_at + pe))
    put_extents "$FS" 2 2 "$m" $((pv0_at + pe + 4 * 1048576))
    mk_fat 16 BRV_STRIPE 42522103 0 $((4 * 2048)) "$FS"
    gen_text "lvm stripe" 40000 >"$WORK/stripe.txt"
    run env MTOOLS_SKIP_CHECK=1 "${FT[@]}" mcopy -i "$FS" "$WORK/stripe.txt" ::/STRIPE.TXT
    # 64 KiB chunk k: stripe k mod 2, row k div 2.
    for k in $(seq 0 63); do
      if [ $((k % 2)) = 0 ]; then to=$m at=$((pv0_at + pe + 6 * 1048576)); else
        to=$g at=$((pv1_at + pe + 2 * 1048576)); fi
      dd if="$FS" of="$to" bs=64k skip="$k" count=1 seek=$((at + k / 2 * 65536)) \
        oflag=seek_bytes conv=notrunc status=none
    done
    mk_fat 16 BRV_NOMDA 42522104 0 $((3 * 2048)) "$FS"
    gen_text "lvm nomda" 20000 >"$WORK/nomda.txt"
    run env MTOOLS_SKIP_CHECK=1 "${FT[@]}" mcopy -i "$FS" "$WORK/nomda.txt" ::/NOMDA.TXT
    put_extents "$FS" 0 3 "$n" $pe
    for t in root home stripe nomda; do cp "$WORK/$t.txt" "$OUT/lvm_$t.txt"; done
    finish lvm_mbr.img "LVM2 pv0 of vg_inst in MBR partition 2, metadata wrapped"
    finish lvm_gpt.img "LVM2 pv1 of vg_inst in GPT partition 1"
    finish lvm_nomda.img "LVM2 pv2 of vg_inst, no metadata copy"
  fi
fi

# ---- ext2_fresh.img: a GPT basic-data partition holding ext2 straight from
# mke2fs: never mounted (mount time 0) and a single block group;
# ext2_fresh_whole.img: the same file system alone.

img=$OUT/ext2_fresh.img.tmp
new_file "$img" $((4096 * SECTOR))
run sgdisk -o -U "$(uuid_n 0x1300)" \
  -n 1:2048:4062 -t 1:0700 -c "1:Fresh" -u "1:$(uuid_n 0x1301)" "$img"
new_file "$FS" $((2048 * SECTOR))
run env E2FSPROGS_FAKE_TIME=$EPOCH mke2fs -q -F -t ext2 -L fresh_ext2 -U "$(uuid_n 0x1302)" \
  -E "hash_seed=$(uuid_n 0x1402),root_owner=0:0" "$FS"
expect_le32 "$FS" $((1024 + 0x2C)) 0
place "$FS" "$img" 2048
finish ext2_fresh.img
# The same file system as a whole disk, with no partition table.
cp "$FS" "$OUT/ext2_fresh_whole.img.tmp"
finish ext2_fresh_whole.img

# ---- ntfs_4k.img: NTFS with 4096-byte sectors in a 0x07 entry at 2048.

img=$OUT/ntfs_4k.img.tmp
new_file "$img" $((18432 * SECTOR))
sfdisk_dos "$img" <<'EOF'
label: dos
label-id: 0x42525613
unit: sectors
start=2048, size=16384, type=7
EOF
new_file "$FS" $((16384 * SECTOR))
run mkntfs -F -Q -T -s 4096 -p 256 -H 255 -S 63 -L Ntfs4K "$FS"
place "$FS" "$img" 2048
finish ntfs_4k.img

# ---- lost_gpt.img: a Windows-style GPT disk whose tables are gone.
# EFI (FAT16), MSR, C: NTFS, D: FAT32 as mkfs.fat makes it with hidden
# sectors 0 (so its backup boot sector at +6 names no start), E: NTFS with its
# primary boot sector zeroed; all 1 MiB-aligned, none on a cylinder start.
# gpt_backup_only.img: the same disk before the wipe, with only the primary
# GPT header (sector 1) zeroed.

img=$OUT/lost_gpt.img.tmp
new_file "$img" $((196608 * SECTOR))
run sgdisk -o -U "$(uuid_n 0x1500)" \
  -n 1:2048:18431 -t 1:EF00 -c "1:EFI system partition" -u "1:$(uuid_n 0x1501)" \
  -n 2:18432:51199 -t 2:0C01 -c "2:Microsoft reserved partition" -u "2:$(uuid_n 0x1502)" \
  -n 3:51200:83967 -t 3:0700 -c "3:Basic data partition" -u "3:$(uuid_n 0x1503)" \
  -n 4:83968:153599 -t 4:0700 -c "4:Basic data partition" -u "4:$(uuid_n 0x1504)" \
  -n 5:153600:186367 -t 5:0700 -c "5:Basic data partition" -u "5:$(uuid_n 0x1505)" "$img"
mk_fat 16 EFI 42521501 2048 16384 "$FS"; place "$FS" "$img" 2048
mk_ntfs WinC 51200 32768 "$FS"; place "$FS" "$img" 51200
mk_fat 32 WIND 42521504 0 69632 "$FS"
gen_text d_notes.txt 200 >"$WORK/d_notes.txt"
run env MTOOLS_SKIP_CHECK=1 "${FT[@]}" mcopy -i "$FS" "$WORK/d_notes.txt" ::/D_NOTES.TXT
place "$FS" "$img" 83968
expect_le32 "$img" $(((83968 + 32) * SECTOR + 4)) 268435455
mk_ntfs WinE 153600 32768 "$FS"
gen_text e_notes.txt 200 >"$WORK/e_notes.txt"
run ntfscp "$FS" "$WORK/e_notes.txt" e_notes.txt
place "$FS" "$img" 153600
dd if=/dev/zero of="$img" bs=$SECTOR seek=153600 count=1 conv=notrunc status=none
cp --sparse=always "$img" "$OUT/gpt_backup_only.img.tmp"
dd if=/dev/zero of="$OUT/gpt_backup_only.img.tmp" bs=$SECTOR seek=1 count=1 conv=notrunc \
  status=none
finish gpt_backup_only.img
dd if=/dev/zero of="$img" bs=$SECTOR count=34 conv=notrunc status=none
dd if=/dev/zero of="$img" bs=$SECTOR seek=$((196608 - 33)) count=33 conv=notrunc status=none
finish lost_gpt.img

# ---- lost_4k.img: a disk of 4096-byte logical sectors without a table.
# NTFS and FAT32 made with 4096-byte sectors at 4 KiB LBAs 256 (1 MiB) and
# 4352 (17 MiB), their hidden sectors counted in 4 KiB units.

img=$OUT/lost_4k.img.tmp
new_file "$img" $((288 << 20))
new_file "$FS" $((4096 * 4096))
run mkntfs -F -Q -T -s 4096 -p 256 -H 255 -S 63 -L Lost4K "$FS"
place "$FS" "$img" 2048
new_file "$FS" $((69120 * 4096))
run env SOURCE_DATE_EPOCH=$EPOCH mkfs.fat --invariant --mbr=n -F 32 -S 4096 -s 1 -g 255/63 \
  -h 4352 -i 42521601 -n LOST4KFAT "$FS"
place "$FS" "$img" 34816
finish lost_4k.img

# ---- manifest: last, so its presence means every image is complete ----------

{
  for i in "${!IMAGES[@]}"; do
    name=${IMAGES[$i]}
    printf '%s\t%s\t%s\t%s\n' "$name" "$(stat -c %s "$OUT/$name")" \
      "$(sha256sum <"$OUT/$name" | cut -d' ' -f1)" "${NOTES[$i]}"
  done
} >"$OUT/manifest.txt.tmp"
mv -f "$OUT/manifest.txt.tmp" "$OUT/manifest.txt"
