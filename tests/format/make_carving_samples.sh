#!/usr/bin/env bash
# Makes real files of every carved format with the tools that write them,
# into $1, and lists them as "file extension" lines in $1/list.txt. A tool
# that is missing leaves its files out.
set -u
out=$1
mkdir -p "$out" && cd "$out" || exit 1
: > list.txt
add() { [ -s "$1" ] && echo "$1 $2" >> list.txt; }
have() { command -v "$1" > /dev/null; }
q() { "$@" > /dev/null 2>&1; }

# ImageMagick's own, not a stand-in earlier on the path.
convert=convert
[ -x /usr/bin/convert ] && convert=/usr/bin/convert
if have $convert; then
  q $convert -size 320x240 plasma:fractal -seed 7 base.png && add base.png png
  q $convert base.png plain.jpg && add plain.jpg jpg
  q $convert base.png -interlace Plane progressive.jpg && add progressive.jpg jpg
  # Starts with the quantisation table: the JFIF segment taken out.
  python3 -c "import sys; b=open('plain.jpg','rb').read(); n=2+2+int.from_bytes(b[4:6],'big'); open('dqt-first.jpg','wb').write(b[:2]+b[n:])" && add dqt-first.jpg jpg
  # Over 10 MiB: noise does not compress.
  q $convert -size 2600x1800 xc: +noise Random -quality 100 large.jpg && add large.jpg jpg
  q $convert base.png image.gif && add image.gif gif
  q $convert base.png -type truecolor image.bmp && add image.bmp bmp
  q $convert base.png -compress lzw image.tif && add image.tif tif
  q $convert base.png -define tiff:endian=msb image-mm.tif && add image-mm.tif tif
fi
if have qpdf && [ -s large.jpg ]; then
  # A page showing a JPEG, written out by qpdf: plain, linearized, and over 10 MiB.
  python3 - << 'PY'
import re
for name, image in [("small.pdf", "plain.jpg"), ("large-raw.pdf", "large.jpg")]:
    data = open(image, "rb").read()
    w, h = 320, 240
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 320 240] /Resources << /XObject << /I 4 0 R >> >> /Contents 5 0 R >>",
            b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode /Length %d >>\nstream\n" % (w, h, len(data)) + data + b"\nendstream",
            b"<< /Length 29 >>\nstream\nq 320 0 0 240 0 0 cm /I Do Q\nendstream"]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for i, o in enumerate(objs):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % (i + 1) + o + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    open(name, "wb").write(out)
PY
  q qpdf small.pdf plain.pdf && add plain.pdf pdf
  q qpdf --linearize small.pdf linearized.pdf && add linearized.pdf pdf
  q qpdf large-raw.pdf large.pdf && add large.pdf pdf
  rm -f small.pdf large-raw.pdf
fi
if have heif-enc; then q heif-enc -q 50 base.png -o image.heic && add image.heic heic; fi
if have ffmpeg; then
  f() { q ffmpeg -nostdin -y -loglevel error "$@"; }
  f -f lavfi -i sine=d=2 -c:a libmp3lame short.mp3 && add short.mp3 mp3
  f -f lavfi -i sine=d=700 -b:a 320k -c:a libmp3lame long.mp3 && add long.mp3 mp3
  f -f lavfi -i sine=d=2 sound.wav && add sound.wav wav
  f -f lavfi -i sine=d=3 -c:a aac sound.m4a && add sound.m4a m4a
  f -f lavfi -i testsrc=d=2:s=320x240 -c:v mpeg4 clip.mp4 && add clip.mp4 mp4
  f -f lavfi -i testsrc=d=2:s=320x240 -c:v mpeg4 clip.mov && add clip.mov mov
  f -f lavfi -i testsrc=d=2:s=320x240 -c:v mpeg4 clip.avi && add clip.avi avi
fi
python3 - << 'PY' && add streamed.zip zip && add streamed.docx docx && add stored.zip zip
import io, zipfile, random
class Pipe(io.RawIOBase):  # not seekable: sizes go into data descriptors
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
rng = random.Random(3)
for name, members in [("streamed.zip", ["a.txt", "b/c.bin"]),
                      ("streamed.docx", ["[Content_Types].xml", "word/document.xml"])]:
    with open(name, "wb") as raw, zipfile.ZipFile(Pipe(raw), "w", zipfile.ZIP_DEFLATED) as z:
        for m in members: z.writestr(m, bytes(rng.randrange(60) for _ in range(50000)))
with zipfile.ZipFile("stored.zip", "w") as z:
    z.writestr("x", bytes(rng.randrange(256) for _ in range(30000)))
PY
if have 7z; then q 7z a -bd archive.7z base.png plain.jpg && add archive.7z 7z; fi
if have sqlite3; then
  q sqlite3 data.sqlite "create table t(x); insert into t values(randomblob(70000)); insert into t values('y');" && add data.sqlite sqlite
fi
exit 0
