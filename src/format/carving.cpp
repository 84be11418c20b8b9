#include "format/carving.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace brevid {
namespace {

constexpr uint64_t kSector = 512;
constexpr size_t kReadSize = 1024;                // what each further read fetches
constexpr size_t kWindowSize = 10 * 1024 * 1024;  // PDF and JPEG end searches
constexpr uint64_t kMiB = 0x100000;
constexpr uint64_t kOneGiB = 0x40000000;  // ZIP and RAR walk bound
constexpr uint64_t kTwoGiB = 0x80000000;  // MPEG and MP4 walk bound

namespace pdf {
constexpr std::string_view kMagic = "%PDF-1.";
constexpr std::string_view kEnd = "%EOF";
constexpr size_t kSearchBelow = 0x9FFFFC;  // last offset tried, exclusive
}  // namespace pdf

namespace mpeg {
constexpr uint32_t kPackCode = 0x000001BA;
constexpr uint32_t kSystemHeaderCode = 0x000001BB;
constexpr uint8_t kPack = 0xBA;
constexpr uint8_t kEndCode = 0xB9;
constexpr size_t kPackKind = 0x04;      // u8: 0x21 MPEG-1, 0x44 MPEG-2
constexpr size_t kPacketLength = 0x04;  // BE u16 after a start code
constexpr size_t kPacketHeader = 6;
}  // namespace mpeg

namespace avi {
constexpr size_t kRiffSize = 0x04;  // u32
constexpr uint64_t kRiffPlus = 12;
constexpr uint32_t kMaxRiffSize = 0x7FFFFFFF;
}  // namespace avi

namespace mp4 {
constexpr size_t kBoxHeader = 8;  // BE u32 size at 0, type at 4
constexpr size_t kBoxType = 0x04;
}  // namespace mp4

namespace zip {
constexpr uint32_t kLocal = 0x04034B50;
constexpr uint32_t kCentral = 0x02014B50;
constexpr uint32_t kEnd = 0x06054B50;
constexpr uint32_t kDescriptor = 0x08074B50;
constexpr size_t kLocalHeader = 30;
constexpr size_t kLocalCompressedSize = 0x12;  // u32
constexpr size_t kLocalNameLength = 0x1A;      // u16
constexpr size_t kLocalExtraLength = 0x1C;     // u16
constexpr size_t kCentralHeader = 46;
constexpr size_t kCentralNameLength = 0x1C;     // u16
constexpr size_t kCentralExtraLength = 0x1E;    // u16
constexpr size_t kCentralCommentLength = 0x20;  // u16
constexpr size_t kEndRecord = 22;
constexpr size_t kEndCommentLength = 0x14;  // u16
constexpr size_t kDescriptorSize = 16;
constexpr std::string_view kContentTypes = "[Content_Types].xml";
}  // namespace zip

namespace rar {
constexpr size_t kBlockType = 0x02;   // u8
constexpr size_t kFlags = 0x03;       // u16
constexpr size_t kHeaderSize = 0x05;  // u16
constexpr size_t kAddSize = 0x07;     // u32, present when kLongBlock is set
constexpr size_t kMinHeader = 7;
constexpr uint16_t kLongBlock = 0x8000;
constexpr uint8_t kFirstType = 0x72;
constexpr uint8_t kEndOfArchive = 0x7B;
}  // namespace rar

namespace ole {
constexpr uint8_t kMagic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr size_t kFatSectors = 0x2C;      // u32
constexpr size_t kFirstDirSector = 0x30;  // u32
constexpr uint64_t kBytesPerFatSector = 65536;
constexpr size_t kDirEntry = 128;
constexpr size_t kDirEntries = 8;
constexpr size_t kEntryStart = 0x74;  // u32
constexpr uint32_t kLastUsableSector = 0xFFFFFF9F;
// Property set, offsets from its start; value offsets count from kSection.
constexpr size_t kSection = 0x30;
constexpr size_t kPropertyCount = 0x34;  // u32
constexpr size_t kPropertyIds = 0x38;    // u32 id, u32 offset, 8 bytes a property
constexpr uint32_t kMaxValueOffset = 976;
constexpr uint32_t kMaxTextLength = 2048;
constexpr uint32_t kStringType = 0x1E;  // a code-page string: u32 type, u32 length, bytes
constexpr uint32_t kTitle = 2;
constexpr uint32_t kAuthor = 4;
constexpr uint32_t kApplication = 18;
}  // namespace ole

namespace jpeg {
constexpr uint64_t kHeaderLimit = 0x1400000;
constexpr uint8_t kStart = 0xD8;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kEnd = 0xD9;
constexpr size_t kZeroRun = 8;  // zero bytes that confirm an end marker mid-sector
}  // namespace jpeg

namespace mp3 {
constexpr size_t kTagSize = 0x06;  // ID3: 28-bit synchsafe, 4 bytes
constexpr uint64_t kTagHeader = 10;
constexpr uint64_t kTrailer = 128;  // "TAG"
constexpr uint64_t kMaxEnd = 0x13FFFFF;
}  // namespace mp3

// Fields at positions from the file start: the head when it holds them,
// else the 1024 bytes read at the sector that holds the field.
class Cursor {
 public:
  Cursor(Bytes head, const CarveReader& read) : head_(head), read_(read) {}

  // The `size` (at most 512) bytes at `pos`; empty when the source ends before.
  Bytes At(uint64_t pos, size_t size) {
    if (Holds(0, head_.size(), pos, size)) return head_.subspan(pos, size);
    if (!Holds(base_, avail_, pos, size)) {
      base_ = pos / kSector * kSector;
      avail_ = std::min(read_(base_, buffer_), buffer_.size());
    }
    if (!Holds(base_, avail_, pos, size)) return {};
    return Bytes(buffer_).subspan(pos - base_, size);
  }

 private:
  static bool Holds(uint64_t base, size_t avail, uint64_t pos, size_t size) {
    return pos >= base && pos - base <= avail && size <= avail - (pos - base);
  }

  Bytes head_;
  const CarveReader& read_;
  std::array<uint8_t, kReadSize> buffer_;  // left unset: a cursor is made for every sector tested
  uint64_t base_ = 0;
  size_t avail_ = 0;
};

// Searches the 10 MiB at `pos` (cut to what the source holds) for the first
// offset k where test(bytes, i) holds, bytes being the window from some
// piece start on and i = k - that start. The window is read in pieces with
// a look-ahead of two sectors, so a find near its start costs one small
// read instead of 10 MiB.
template <class Test>
std::optional<uint64_t> SearchWindow(const CarveReader& read, uint64_t pos, uint8_t first,
                                     Test test) {
  constexpr size_t kPiece = 256 * 1024;
  constexpr size_t kAhead = 2 * kSector;
  std::vector<uint8_t> buffer(kPiece + kAhead);
  for (uint64_t offset = 0; offset < kWindowSize; offset += kPiece) {
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(kPiece + kAhead, kWindowSize - offset));
    const size_t got = std::min(read(pos + offset, std::span<uint8_t>(buffer.data(), want)), want);
    Bytes bytes(buffer.data(), got);
    const size_t limit = std::min(kPiece, got);
    for (size_t i = 0; i < limit; ++i) {
      const void* hit = std::memchr(bytes.data() + i, first, limit - i);
      if (hit == nullptr) break;
      i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - bytes.data());
      if (test(bytes, i, offset + i)) return offset + i;
    }
    if (got < want) break;  // the source ended
  }
  return std::nullopt;
}

CarveResult Record(uint64_t size, std::string name) { return {true, size, std::move(name)}; }

CarveResult Record(uint64_t size, uint64_t sector, std::string_view extension) {
  return Record(size, std::to_string(sector) + std::string(extension));
}

CarveResult CarvePdf(uint64_t sector, const CarveReader& read) {
  std::optional<uint64_t> at = SearchWindow(
      read, kSector, static_cast<uint8_t>(pdf::kEnd[0]), [](Bytes w, size_t i, uint64_t k) {
        return k < pdf::kSearchBelow && i + pdf::kEnd.size() <= w.size() &&
               std::equal(pdf::kEnd.begin(), pdf::kEnd.end(), w.begin() + static_cast<long>(i));
      });
  if (!at) return {};
  return Record(kSector + *at + pdf::kEnd.size(), sector, ".pdf");
}

// The pack header's length when `head` starts a program stream; 0 otherwise.
size_t MpegPackLength(Bytes head) {
  if (LoadBe32(head, 0) != mpeg::kPackCode) return 0;
  size_t length = Load8(head, mpeg::kPackKind) == 0x21   ? 12
                  : Load8(head, mpeg::kPackKind) == 0x44 ? 14
                                                         : 0;
  return length != 0 && LoadBe32(head, length) == mpeg::kSystemHeaderCode ? length : 0;
}

bool IsMpegPacket(uint8_t id) {
  return id <= 0x06 || id == 0xBB || id == 0xBD || id == 0xBE || id == 0xBF || id == 0xC0 ||
         id == 0xE0 || id == 0xB3 || id == 0xB5 || id == 0xB8;
}

CarveResult CarveMpeg(uint64_t sector, size_t packLength, Cursor& c) {
  uint64_t h = 0;
  while (h < kTwoGiB) {
    Bytes code = c.At(h, 4);
    if (code.empty() || LoadBe32(code, 0) >> 8 != 1) break;
    if (code[3] == mpeg::kPack) {
      h += packLength;
      continue;
    }
    if (code[3] == mpeg::kEndCode) {
      h += 4;
      break;
    }
    if (!IsMpegPacket(code[3])) break;
    Bytes length = c.At(h + mpeg::kPacketLength, 2);
    if (length.empty()) break;
    h += mpeg::kPacketHeader + LoadBe16(length, 0);
  }
  if (h >= kTwoGiB) return {false, h, {}};
  return h > kMiB ? Record(h, sector, ".mpeg") : CarveResult{};
}

bool IsAvi(Bytes head) {
  return BytesEqual(head, 0, "RIFF") && BytesEqual(head, 8, "AVI ") && BytesEqual(head, 12, "LIST");
}

CarveResult CarveAvi(Bytes head, uint64_t sector) {
  uint32_t riff = LoadLe32(head, avi::kRiffSize);
  if (riff <= kMiB || riff > avi::kMaxRiffSize) return {};
  return Record(riff + avi::kRiffPlus, sector, ".avi");
}

CarveResult CarveMp4(uint64_t sector, Cursor& c) {
  uint64_t h = 0;
  while (h < kTwoGiB) {
    Bytes box = c.At(h, mp4::kBoxHeader);
    if (box.empty()) break;
    if (!BytesEqual(box, mp4::kBoxType, "ftyp") && !BytesEqual(box, mp4::kBoxType, "free") &&
        !BytesEqual(box, mp4::kBoxType, "mdat") && !BytesEqual(box, mp4::kBoxType, "moov"))
      break;
    uint32_t size = LoadBe32(box, 0);
    h += size;
    if (size <= 1) break;
  }
  if (h >= kTwoGiB || h <= kMiB) return {};
  return Record(h, sector, ".mp4");
}

// A central-directory name's top folder, as far as it decides the document.
void ChooseOfficeExtension(Bytes name, std::string& extension) {
  auto slash = std::find(name.begin(), name.end(), '/');
  std::string_view top(reinterpret_cast<const char*>(name.data()), slash - name.begin());
  if (top == "xl") extension = ".xlsx";
  if (top == "ppt") extension = ".pptx";
  if (top == "word") extension = ".docx";
}

CarveResult CarveZip(Bytes head, uint64_t sector, Cursor& c) {
  std::string extension;
  uint64_t h = 0;
  while (h < kOneGiB) {
    Bytes sig = c.At(h, 4);
    if (!BytesEqual(sig, 0, "PK")) return {};
    switch (LoadLe32(sig, 0)) {
      case zip::kLocal: {
        Bytes r = c.At(h, zip::kLocalHeader);
        if (r.empty()) return {};
        h += zip::kLocalHeader + LoadLe16(r, zip::kLocalNameLength) +
             LoadLe16(r, zip::kLocalExtraLength) + LoadLe32(r, zip::kLocalCompressedSize);
        break;
      }
      case zip::kCentral: {
        Bytes r = c.At(h, zip::kCentralHeader);
        if (r.empty()) return {};
        uint16_t nameLength = LoadLe16(r, zip::kCentralNameLength);
        uint64_t next = h + zip::kCentralHeader + nameLength +
                        LoadLe16(r, zip::kCentralExtraLength) +
                        LoadLe16(r, zip::kCentralCommentLength);
        // "word/" is the longest top folder that decides; five bytes tell.
        ChooseOfficeExtension(c.At(h + zip::kCentralHeader, std::min<size_t>(nameLength, 5)),
                              extension);
        h = next;
        break;
      }
      case zip::kEnd: {
        Bytes r = c.At(h, zip::kEndRecord);
        if (r.empty()) return {};
        if (!BytesEqual(head, zip::kLocalHeader, zip::kContentTypes)) extension = ".zip";
        return Record(h + zip::kEndRecord + LoadLe16(r, zip::kEndCommentLength), sector, extension);
      }
      case zip::kDescriptor:
        h += BytesEqual(c.At(h + 4, 2), 0, "PK") ? 4 : zip::kDescriptorSize;
        break;
      default:
        h += 4;
    }
  }
  return {};
}

bool IsRar(Bytes head) {
  return BytesEqual(head, 0, "Rar!") && Load8(head, 4) == 0x1A && Load8(head, 5) == 0x07 &&
         InBounds(head, 6, 1) && head[6] == 0;
}

CarveResult CarveRar(uint64_t sector, Cursor& c) {
  uint64_t h = 0;
  while (h < kOneGiB) {
    Bytes b = c.At(h, rar::kMinHeader);
    if (b.empty()) return {};
    uint8_t type = b[rar::kBlockType];
    uint16_t headerSize = LoadLe16(b, rar::kHeaderSize);
    if (type < rar::kFirstType || type > rar::kEndOfArchive || headerSize < rar::kMinHeader)
      return {};
    uint64_t next = h + headerSize;
    if (LoadLe16(b, rar::kFlags) & rar::kLongBlock) {
      Bytes add = c.At(h + rar::kAddSize, 4);
      if (add.empty()) return {};
      next += LoadLe32(add, 0);
    }
    if (type == rar::kEndOfArchive) return Record(next, sector, ".rar");
    h = next;
  }
  return {};
}

bool IsOle(Bytes head) {
  return InBounds(head, 0, sizeof ole::kMagic) &&
         std::equal(std::begin(ole::kMagic), std::end(ole::kMagic), head.begin());
}

// True when the directory entry's UTF-16 name starts with `prefix`.
bool NameStarts(Bytes entry, std::u16string_view prefix) {
  for (size_t i = 0; i < prefix.size(); ++i)
    if (LoadLe16(entry, 2 * i) != prefix[i]) return false;
  return true;
}

// A property-set string: its bytes up to the first NUL.
std::string ReadText(const CarveReader& read, uint64_t pos, uint32_t length) {
  std::vector<uint8_t> bytes(length);  // length checked against kMaxTextLength
  bytes.resize(std::min(read(pos, bytes), bytes.size()));
  return std::string(
      UpToNul(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
}

CarveResult CarveOle(Bytes head, uint64_t sector, Cursor& c, const CarveReader& read) {
  uint64_t size = LoadLe32(head, ole::kFatSectors) * ole::kBytesPerFatSector;
  uint64_t directory = (uint64_t{LoadLe32(head, ole::kFirstDirSector)} + 1) * kSector;
  std::string extension;
  uint32_t summary = 0, root = 0;  // kept sectors: stream start + 1
  for (size_t i = 0; i < ole::kDirEntries; ++i) {
    Bytes e = c.At(directory + i * ole::kDirEntry, ole::kDirEntry);
    if (e.empty()) break;
    uint32_t kept = LoadLe32(e, ole::kEntryStart) + 1;
    if (NameStarts(e, u"Work")) extension = ".xls";
    if (NameStarts(e, u"Word")) extension = ".doc";
    if (NameStarts(e, u"Powe")) extension = ".ppt";
    if (NameStarts(e, u"\u0005Sum")) summary = kept;
    if (NameStarts(e, u"Root")) root = kept;
  }
  if (!extension.empty()) return Record(size, sector, extension);

  auto usable = [](uint32_t s) { return s != 0 && s <= ole::kLastUsableSector; };
  uint32_t at = usable(summary) ? summary : usable(root) ? root : 0;
  if (at == 0) return {};
  uint64_t set = uint64_t{at} * kSector;
  uint32_t count = LoadLe32(c.At(set + ole::kPropertyCount, 4), 0);
  if (uint64_t{count} * 8 + 60 >= kReadSize) return {};
  std::string title, author, application;
  for (uint32_t i = 0; i < count; ++i) {
    Bytes p = c.At(set + ole::kPropertyIds + 8 * i, 8);
    uint32_t id = LoadLe32(p, 0), offset = LoadLe32(p, 4);
    if (offset > ole::kMaxValueOffset) continue;
    uint64_t value = set + ole::kSection + offset;
    Bytes v = c.At(value, 8);
    uint32_t length = LoadLe32(v, 4);
    if (LoadLe32(v, 0) != ole::kStringType || length > ole::kMaxTextLength) continue;
    if (id == ole::kTitle) title = ReadText(read, value + 8, length);
    if (id == ole::kAuthor) author = ReadText(read, value + 8, length);
    if (id == ole::kApplication) application = ReadText(read, value + 8, length);
  }
  if (application == "Microsoft Office Word") extension = ".doc";
  if (application == "Microsoft Excel") extension = ".xls";
  if (application == "Microsoft Office PowerPoint") extension = ".ppt";
  if (extension.empty()) return {};
  return Record(size,
                title.empty() ? author + std::to_string(sector) + extension : title + extension);
}

bool IsJpeg(Bytes head) {
  static constexpr uint8_t kThird[] = {0xC4, 0xDB, 0xE0, 0xE1, 0xEB, 0xEE, 0xFE};
  return Load8(head, 0) == 0xFF && Load8(head, 1) == 0xD8 && Load8(head, 2) == 0xFF &&
         InBounds(head, 3, 1) && std::ranges::find(kThird, head[3]) != std::end(kThird) &&
         (BytesEqual(head, 6, "JFIF") || BytesEqual(head, 6, "Exif"));
}

// Every segment with a length that may come before the scan: the frame
// headers of all coding processes (progressive C2 is common in photos and
// on the web), tables, restart interval, application data and comments.
// C8 is reserved and the D0-D9 markers stand alone.
bool IsJpegSegment(uint8_t marker) {
  return (marker >= 0xC0 && marker <= 0xCF && marker != 0xC8) || marker == 0xDB || marker == 0xDC ||
         marker == 0xDD || marker == 0xDE || marker == 0xDF || (marker >= 0xE0 && marker <= 0xEF) ||
         marker == 0xFE;
}

// True when the FF D9 before `after` (an offset in the sector-aligned
// window `w`) ends the file: it closes its sector, or zeros follow it.
bool EndsJpeg(Bytes w, size_t after) {
  size_t remain = kSector - after % kSector;
  if (remain == kSector) return true;
  auto from = w.begin() + after;
  if (remain > jpeg::kZeroRun)
    return after + jpeg::kZeroRun <= w.size() &&
           std::all_of(from, from + jpeg::kZeroRun, [](uint8_t b) { return b == 0; });
  return std::find(from, w.begin() + std::min(after + remain, w.size()), 0) !=
         w.begin() + std::min(after + remain, w.size());
}

CarveResult CarveJpeg(uint64_t sector, Cursor& c, const CarveReader& read) {
  uint64_t h = 0;
  for (;;) {
    if (h >= jpeg::kHeaderLimit) return {};
    Bytes m = c.At(h, 2);
    if (m.empty()) return {};
    if (m[1] == jpeg::kStartOfScan) break;
    if (m[1] == jpeg::kStart) {
      h += 2;
      continue;
    }
    Bytes length = c.At(h + 2, 2);
    if (!IsJpegSegment(m[1]) || length.empty()) return {};
    h += 2 + LoadBe16(length, 0);
  }
  uint64_t scan = (h + kSector - 1) / kSector * kSector;
  // Pieces start on sector boundaries, so the end test's sector arithmetic
  // holds inside each piece.
  std::optional<uint64_t> at = SearchWindow(read, scan, 0xFF, [](Bytes w, size_t i, uint64_t) {
    return i + 1 < w.size() && w[i + 1] == jpeg::kEnd && EndsJpeg(w, i + 2);
  });
  if (!at) return {};
  return Record(scan + *at + 4, sector, ".jpg");
}

bool IsMp3(Bytes head) {
  return (Load8(head, 0) == 0xFF && Load8(head, 1) >= 0xE0 && InBounds(head, 2, 1) &&
          head[2] < 0xF0) ||
         BytesEqual(head, 0, "ID3");
}

// The length of the MPEG audio frame whose header is `f`; 0 when it is none.
uint32_t Mp3FrameLength(Bytes f) {
  // kbit/s: MPEG-1 layers I, II, III; MPEG-2 and 2.5 layer I; layers II and III.
  static constexpr uint16_t kBitrates[5][15] = {
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
  // Hz by version bits: MPEG-2.5, reserved, MPEG-2, MPEG-1.
  static constexpr uint32_t kRates[4][3] = {
      {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  if (Load8(f, 0) != 0xFF || Load8(f, 1) < 0xE0) return 0;
  unsigned version = (f[1] >> 3) & 3, layer = (f[1] >> 1) & 3;  // layer 3 is I, 1 is III
  unsigned bitrateIndex = Load8(f, 2) >> 4, rateIndex = (Load8(f, 2) >> 2) & 3;
  uint32_t padding = (Load8(f, 2) >> 1) & 1;
  if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return 0;
  bool mpeg1 = version == 3;
  size_t table = mpeg1 ? 3 - layer : layer == 3 ? 3 : 4;
  uint32_t bitrate = kBitrates[table][bitrateIndex] * 1000u, rate = kRates[version][rateIndex];
  if (layer == 3) return (12 * bitrate / rate + padding) * 4;
  if (layer == 2 || mpeg1) return 144 * bitrate / rate + padding;
  return 72 * bitrate / rate + padding;
}

CarveResult CarveMp3(Bytes head, uint64_t sector, Cursor& c) {
  uint64_t h = 0;
  if (BytesEqual(head, 0, "ID3")) {
    for (size_t i = 0; i < 4; ++i) h = (h << 7) | (Load8(head, mp3::kTagSize + i) & 0x7F);
    h += mp3::kTagHeader;
  }
  // Beyond the largest size kept, walking on cannot make a record.
  while (h <= mp3::kMaxEnd) {
    uint32_t length = Mp3FrameLength(c.At(h, 3));
    if (length == 0) break;
    h += length;
  }
  if (h <= kMiB || h > mp3::kMaxEnd) return {};
  bool tag = BytesEqual(c.At(h, 3), 0, "TAG");
  return Record(h + (tag ? mp3::kTrailer : 0), sector, ".mp3");
}

}  // namespace

// Whether any start test can pass: every format but MP4 is known by its
// first byte, MP4 by "ftyp" at 4. Most sectors of a disk fail here.
bool MayStartAFile(Bytes head) {
  switch (Load8(head, 0)) {
    case '%':   // PDF
    case 0x00:  // MPEG
    case 'R':   // AVI, RAR
    case 'P':   // ZIP
    case 0xD0:  // OLE
    case 0xFF:  // JPEG, MP3
    case 'I':   // MP3 with an ID3 tag
      return true;
    default:
      return Load8(head, 4) == 'f' && BytesEqual(head, mp4::kBoxType, "ftyp");
  }
}

CarveResult CarveFile(Bytes head, uint64_t sector, const CarveReader& read) {
  if (!MayStartAFile(head)) return {};
  Cursor c(head, read);
  if (BytesEqual(head, 0, pdf::kMagic)) return CarvePdf(sector, read);
  if (size_t pack = MpegPackLength(head)) return CarveMpeg(sector, pack, c);
  if (IsAvi(head)) return CarveAvi(head, sector);
  if (BytesEqual(head, mp4::kBoxType, "ftyp")) return CarveMp4(sector, c);
  if (LoadLe32(head, 0) == zip::kLocal) return CarveZip(head, sector, c);
  if (IsRar(head)) return CarveRar(sector, c);
  if (IsOle(head)) return CarveOle(head, sector, c, read);
  if (IsJpeg(head)) return CarveJpeg(sector, c, read);
  if (IsMp3(head)) return CarveMp3(head, sector, c);
  return {};
}

}  // namespace brevid
