#!/usr/bin/env bash
# Carving recall per format on a used card: real files of every carved
# format (made by tests/format/make_carving_samples.sh), three copies of
# each, planted at 4 KiB cluster starts in 1 GiB of old noise (the slack of
# each last cluster keeps the noise). Counts byte-exact files brought back
# by Brevid's deep scan and save, by PhotoRec and by foremost, and times
# the deep scan against dd bs=10M and PhotoRec in the same run. By hand:
#   bench/carving_recall.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=$(cd "$1" && pwd)
work=${2:-$build/bench-work}/carving
brevid=$build/src/cli/brevid
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"

samples=$work/samples
[ -s "$samples/list.txt" ] || "$here/../tests/format/make_carving_samples.sh" "$samples"
card=$work/card.img
if [ ! -f "$card" ]; then
  python3 - "$samples" "$card" > "$work/planted.txt" <<'PY'
import random, sys
samples, image = sys.argv[1], sys.argv[2]
rng = random.Random(9)
files = [l.split() for l in open(samples + "/list.txt")]
size = 1 << 30
with open(image, "wb") as out:
    for _ in range(size // (64 << 20)):
        out.write(rng.randbytes(64 << 20))
    at = 1 << 20
    for copy in range(3):
        for name, ext in files:
            data = open(samples + "/" + name, "rb").read()
            at += rng.randrange(1, 64) * 4096
            out.seek(at)
            out.write(data)
            print(name, ext)
            at += (len(data) + 4095) // 4096 * 4096
    assert at < size
PY
fi

seconds() { local t0; t0=$(date +%s.%N); "$@" > /dev/null 2>&1 || true; awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }'; }
measure() {  # IMAGE TAG PLANTED_LIST
dd if="$1" of=/dev/null bs=10M status=none  # page cache warm for every tool
t_dd=$(seconds dd if="$1" of=/dev/null bs=10M)
rm -rf "$work/$2-brevid" "$work/$2.qel_scn"
t_ours=$(seconds "$brevid" deep-scan "$1" --results "$work/$2.qel_scn")
"$brevid" save "$1" --extra-found --results "$work/$2.qel_scn" --to "$work/$2-brevid" > /dev/null
t_pr=n/a
if command -v photorec > /dev/null; then
  rm -rf "$work"/$2-photorec*
  t_pr=$(cd "$work" && seconds photorec /log /d "$work/$2-photorec" /cmd "$1" partition_none,fileopt,everything,enable,search)
fi
t_fm=n/a
if command -v foremost > /dev/null; then
  rm -rf "$work/$2-foremost"
  t_fm=$(seconds foremost -q -i "$1" -o "$work/$2-foremost")
fi

python3 - "$samples" "$work" "$2" "$3" <<'PY'
import collections, hashlib, os, sys
samples, work, tag, planted_list = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
h = lambda p: hashlib.sha256(open(p, "rb").read()).hexdigest()
planted = collections.Counter()
fmt = {}
for line in open(planted_list):
    name, ext = line.split()
    d = h(samples + "/" + name)
    planted[d] += 1
    fmt[d] = ext
def found(top):
    c = collections.Counter()
    for root, _, names in os.walk(top):
        for n in names:
            p = os.path.join(root, n)
            if os.path.getsize(p) < (1 << 31): c[h(p)] += 1
    return c
tools = [("brevid", [work + "/" + tag + "-brevid"]),
         ("photorec", [os.path.join(work, d) for d in os.listdir(work) if d.startswith(tag + "-photorec")]),
         ("foremost", [work + "/" + tag + "-foremost"])]
got = {t: sum((found(d) for d in dirs if os.path.isdir(d)), collections.Counter()) for t, dirs in tools}
exts = sorted(set(fmt.values()))
print("| format | planted | " + " | ".join(t for t, _ in tools) + " |")
print("|---|---|" + "---|" * len(tools))
total = collections.Counter()
for e in exts:
    n = sum(c for d, c in planted.items() if fmt[d] == e)
    row = []
    for t, _ in tools:
        k = sum(min(c, got[t][d]) for d, c in planted.items() if fmt[d] == e)
        total[t] += k
        row.append(str(k))
    print("| %s | %d | %s |" % (e, n, " | ".join(row)))
print("| all (byte-exact) | %d | %s |" % (sum(planted.values()), " | ".join(str(total[t]) for t, _ in tools)))
names = {l.split()[0] for l in open(planted_list)}
named = sum(1 for _, _, files in os.walk(work + "/" + tag + "-brevid") for n in files if n in names)
print("| saved by brevid under their old name | %d | %d | | |" % (sum(planted.values()), named))
PY
awk -v o="$t_ours" -v d="$t_dd" -v p="$t_pr" -v f="$t_fm" 'BEGIN {
  printf "| time | dd bs=10M %ss | brevid deep-scan %ss (%.2fx dd) | photorec %ss | foremost %ss |\n", d, o, o / d, p, f }'
}

echo "Used card, 1 GiB of noise, files at cluster starts:"
measure "$card" card "$work/planted.txt"

# A FAT32 card of 512 MiB pre-filled with noise, the samples copied into a
# camera's folders with mtools, then formatted again with mkfs.fat: the file
# system is gone, the folders' own clusters are not.
fat=$work/fat32.img
if [ ! -f "$fat" ] && command -v mcopy > /dev/null; then
  head -c 512M /dev/urandom > "$fat.tmp"
  mkfs.fat -F 32 -s 8 -n CARD "$fat.tmp" > /dev/null
  : > "$work/fat-planted.txt"
  export MTOOLS_SKIP_CHECK=1
  mmd -i "$fat.tmp" ::/DCIM && mmd -i "$fat.tmp" ::/DCIM/100TEST
  while read -r name ext; do
    mcopy -i "$fat.tmp" "$samples/$name" "::/DCIM/100TEST/$name" && echo "$name $ext" >> "$work/fat-planted.txt"
  done < "$samples/list.txt"
  mkfs.fat -F 32 -s 8 -n CARD "$fat.tmp" > /dev/null
  mv "$fat.tmp" "$fat"
fi
if [ -f "$fat" ]; then
  echo
  echo "FAT32 card of 512 MiB over noise, formatted again after the files were copied:"
  measure "$fat" fat "$work/fat-planted.txt"
fi
