#include "results/scan_result_file.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/target_handle.h"
#include "platform/write_guard.h"

namespace brevid {
namespace {

// "%d" of a 32-bit field: values above 2^31 - 1 show as negative numbers and
// read back to the same bits.
// Between a carved file's name from a directory entry and its carved name:
// no file system's names hold it, and it is no CP936 trail byte.
constexpr char kCarvedNameMark = '*';

std::string D32(uint32_t v) { return std::to_string(static_cast<int32_t>(v)); }
std::string D64(uint64_t v) { return std::to_string(static_cast<int64_t>(v)); }

// A label or carved name from the disk may hold CR or LF (or other control
// bytes), which would end its line early and shift every later field: they
// are written as "?". CP936 trail bytes are 0x40 and above, so none is hit.
void Line(std::string& out, std::string_view text) {
  for (char c : text) out.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
  out.append("\r\n");
}

// Decimal text as the C library's conversion reads it: leading white space,
// a sign, digits up to the first non-digit; 0 without digits; saturated at
// the type's limits.
int64_t ParseI64(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
  }
  return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

int32_t ParseI32(std::string_view text) {
  int64_t v = ParseI64(text);
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

uint64_t U64(std::string_view text) { return static_cast<uint64_t>(ParseI64(text)); }
uint32_t U32(std::string_view text) { return static_cast<uint32_t>(ParseI32(text)); }
uint8_t U8(std::string_view text) { return static_cast<uint8_t>(ParseI32(text)); }

// The lines of a source, line ends (LF or CR LF) removed, read in blocks so
// that the file is never held whole. A read error ends the lines.
class LineReader {
 public:
  explicit LineReader(ByteSource& source)
      : source_(source), size_(source.Size()), buffer_(64 * 1024) {}

  bool Next(std::string* line) {
    if (replay_) {
      replay_ = false;
      *line = last_;
      return true;
    }
    last_.clear();
    bool any = false;
    for (;;) {
      if (pos_ == len_ && !Fill()) break;
      any = true;
      const uint8_t* begin = buffer_.data() + pos_;
      const uint8_t* lf = static_cast<const uint8_t*>(std::memchr(begin, '\n', len_ - pos_));
      size_t take = lf ? static_cast<size_t>(lf - begin) : len_ - pos_;
      if (last_.size() < kMaxScanResultLine)
        last_.append(reinterpret_cast<const char*>(begin),
                     std::min(take, kMaxScanResultLine - last_.size()));
      pos_ += take;
      if (lf) {
        ++pos_;
        break;
      }
    }
    if (!any) return false;
    if (!last_.empty() && last_.back() == '\r') last_.pop_back();
    *line = last_;
    return true;
  }

  // The next Next gives the line just read once more.
  void PutBack() { replay_ = true; }

 private:
  bool Fill() {
    // Bounded by the size found at the start, so that a growing file or an
    // endless device still ends.
    const uint64_t left = offset_ < size_ ? size_ - offset_ : 0;
    if (ended_ || left == 0) return false;
    size_t got = 0;
    size_t want = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), left));
    bool ok = source_.ReadAt(offset_, std::span<uint8_t>(buffer_).first(want), &got);
    if (!ok || got == 0) ended_ = true;
    offset_ += got;
    pos_ = 0;
    len_ = got;
    return got != 0;
  }

  ByteSource& source_;
  const uint64_t size_;
  std::vector<uint8_t> buffer_;
  uint64_t offset_ = 0;
  size_t pos_ = 0;
  size_t len_ = 0;
  bool ended_ = false;
  std::string last_;
  bool replay_ = false;
};

// "start,rest": the 64-bit number before the first comma and what follows it
// (empty without a comma).
std::string_view SplitAtComma(std::string_view text, uint64_t* before) {
  size_t comma = text.find(',');
  *before = U64(text.substr(0, comma));
  return comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
}

std::array<uint8_t, 16> IdentityBytes(std::string_view text) {
  std::array<uint8_t, 16> bytes{};
  for (size_t i = 0; i < bytes.size() && !text.empty(); ++i) {
    size_t comma = text.find(',');
    bytes[i] = U8(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return bytes;
}

// Reads the fields in order; false at the end of the file (the fields read so
// far are set).
bool ReadFields(LineReader& lines, std::initializer_list<std::function<void(std::string&)>> sets) {
  std::string line;
  for (const auto& set : sets) {
    if (!lines.Next(&line)) return false;
    set(line);
  }
  return true;
}

void ReadVolume(LineReader& lines, DiskInfo& disk) {
  VolumeInfo& v = disk.volumes.emplace_back();
  bool whole = ReadFields(
      lines,
      {[&](std::string& l) { v.diskPath = std::move(l); },
       [&](std::string& l) { v.hfsText = std::move(l); },
       [&](std::string& l) { v.hfsKind = U32(l); }, [&](std::string& l) { v.label = std::move(l); },
       [&](std::string& l) { v.driveLetter = std::move(l); },
       [&](std::string& l) { v.name = std::move(l); },
       [&](std::string& l) { v.extText = std::move(l); },
       [&](std::string& l) { v.sectorCount = U64(l); }, [&](std::string& l) { v.start = U64(l); },
       [&](std::string& l) { v.entryKind = U8(l); },
       [&](std::string& l) { v.sectorsPerCluster = U32(l); },
       [&](std::string& l) { v.clusterBase = U64(l); }, [&](std::string& l) { v.fsType = U8(l); },
       [&](std::string& l) { v.sectorSize = U32(l); }, [&](std::string& l) { v.origin = U32(l); },
       [&](std::string& l) { v.layout = static_cast<VolumeLayout>(U8(l)); },
       [&](std::string& l) { v.stripeSectors = static_cast<uint16_t>(U32(l)); }});
  std::string line;
  while (whole && lines.Next(&line)) {
    if (line == kLogicalVolumesMarker || line == kPartitionMarker) {
      lines.PutBack();
      break;
    }
    // The map holds at most 256 members, so hostile positions cannot grow it.
    VolumeMember m;
    m.orderKey = U8(line);
    whole = ReadFields(lines, {[&](std::string& l) { m.diskId = IdentityBytes(l); },
                               [&](std::string& l) { m.devicePath = std::move(l); },
                               [&](std::string& l) { m.start = U64(l); },
                               [&](std::string& l) { m.sectorCount = U64(l); }});
    v.members.emplace(m.orderKey, std::move(m));
  }
}

void ReadLogicalVolume(LineReader& lines, DiskInfo& disk) {
  LvmLogicalVolume& lv = disk.logicalVolumes.emplace_back();
  if (!ReadFields(lines, {[&](std::string& l) { lv.name = std::move(l); },
                          [&](std::string& l) { lv.flag = U8(l); },
                          [&](std::string& l) { lv.text1 = std::move(l); },
                          [&](std::string& l) { lv.text2 = std::move(l); },
                          [&](std::string& l) { lv.text3 = std::move(l); },
                          [&](std::string& l) { lv.sizeSectors = U64(l); },
                          [&](std::string& l) { lv.reserved = U32(l); },
                          [&](std::string& l) { lv.typeText = std::move(l); }}))
    return;
  std::string line;
  while (lines.Next(&line)) {
    if (line == kLogicalVolumesMarker) {
      lines.PutBack();
      return;
    }
    if (line != kSegmentMarker) continue;
    LvmSegment& s = lv.segments.emplace_back();
    if (!ReadFields(lines, {[&](std::string& l) { s.startExtent = U32(l); },
                            [&](std::string& l) { s.extentCount = U32(l); },
                            [&](std::string& l) { s.reserved = std::move(l); },
                            [&](std::string& l) { s.stripeCount = U32(l); },
                            [&](std::string& l) { s.pvId = std::move(l); },
                            [&](std::string& l) { s.stripeStart = U64(l); }}))
      return;
  }
}

void ReadResume(LineReader& lines, DiskInfo& disk) {
  ScanResume r;
  if (ReadFields(lines, {[&](std::string& l) { r.kind = U32(l); },
                         [&](std::string& l) { r.rangeStart = U64(l); },
                         [&](std::string& l) { r.rangeCount = U64(l); },
                         [&](std::string& l) { r.nextSector = U64(l); }}))
    disk.resume = r;
}

struct VolumeGeometry {
  uint64_t index = 0;
  uint32_t fatSectors = 0;
  uint64_t mftStart = 0;
  uint32_t indexRecordClusters = 0;
};

void ReadVolumeGeometry(LineReader& lines, std::vector<VolumeGeometry>& out) {
  std::string line;
  if (!lines.Next(&line)) return;
  for (int32_t i = 0, n = ParseI32(line); i < n && lines.Next(&line); ++i) {
    VolumeGeometry g;
    std::string_view rest = SplitAtComma(line, &g.index);
    uint64_t fat = 0, mft = 0;
    rest = SplitAtComma(rest, &fat);
    g.fatSectors = static_cast<uint32_t>(std::min<uint64_t>(fat, UINT32_MAX));
    rest = SplitAtComma(rest, &mft);
    g.mftStart = mft;
    g.indexRecordClusters = U32(rest);
    out.push_back(g);
  }
}

// Everything after the key line. Counts only bound loops that also stop at
// the end of the file, so no count sizes anything.
void ReadBody(LineReader& lines, DiskInfo& disk) {
  disk.volumes.clear();
  disk.logicalVolumes.clear();
  disk.resume = {};
  std::string line;

  if (!lines.Next(&line)) return;
  for (int32_t i = 0, n = ParseI32(line); i < n; ++i) {
    if (!lines.Next(&line)) return;
    disk.dirClusterSectors.insert(U64(line));
  }

  if (!lines.Next(&line)) return;
  for (int32_t i = 0, n = ParseI32(line); i < n; ++i) {
    if (!lines.Next(&line)) return;
    uint64_t start = 0;
    std::string_view count = SplitAtComma(line, &start);
    disk.mftRecordRuns.emplace(start, U32(count));
  }

  disk.extraFound.name = "Extra Found Files";
  disk.extraFound.tickState = 0;
  if (!lines.Next(&line)) return;
  for (int32_t i = 0, n = ParseI32(line); i < n; ++i) {
    if (!lines.Next(&line)) return;
    uint64_t start = 0;
    std::string_view rest = SplitAtComma(line, &start);
    size_t comma = rest.find(',');
    CarvedFile file;
    file.size = U32(rest.substr(0, comma));
    if (comma != std::string_view::npos) file.name = std::string(rest.substr(comma + 1));
    // A name a directory entry gave, then the carved one; neither holds the mark.
    if (size_t mark = file.name.rfind(kCarvedNameMark); mark != std::string::npos) {
      file.carvedName = file.name.substr(mark + 1);
      file.name.resize(mark);
    }
    disk.extraFound.children.emplace(start, std::move(file));
  }

  if (!ReadFields(lines, {[&](std::string& l) { disk.mapEntryCount = U32(l); },
                          [&](std::string& l) { disk.diskKind = U32(l); },
                          [&](std::string& l) { disk.pvUuid = std::move(l); },
                          [&](std::string& l) { disk.vgId = std::move(l); },
                          [&](std::string& l) { disk.peStart = U64(l); },
                          [&](std::string& l) { disk.devSize = U64(l); },
                          [&](std::string& l) { disk.reserved2 = U64(l); },
                          [&](std::string& l) { disk.peCount = U32(l); },
                          [&](std::string& l) { disk.reserved1 = U32(l); },
                          [&](std::string& l) { disk.extentSize = U32(l); },
                          [&](std::string& l) { disk.reserved3 = U32(l); }}))
    return;

  std::vector<VolumeGeometry> geometry;
  while (lines.Next(&line)) {
    if (line == kPartitionMarker)
      ReadVolume(lines, disk);
    else if (line == kLogicalVolumesMarker)
      ReadLogicalVolume(lines, disk);
    else if (line == kResumeMarker)
      ReadResume(lines, disk);
    else if (line == kVolumeGeometryMarker)
      ReadVolumeGeometry(lines, geometry);
  }
  for (const VolumeGeometry& g : geometry) {
    if (g.index >= disk.volumes.size()) continue;
    VolumeInfo& v = disk.volumes[g.index];
    v.fatSectors = g.fatSectors;
    v.mftStart = g.mftStart;
    v.indexRecordClusters = g.indexRecordClusters;
  }
}

std::filesystem::path FsPath(const std::string& ansiPath) {
  return std::filesystem::path(AnsiToUtf8(ansiPath));
}

}  // namespace

std::string FormatScanResults(const DiskInfo& disk) {
  std::string out;
  Line(out, disk.Key());

  Line(out, D32(static_cast<uint32_t>(disk.dirClusterSectors.size())));
  for (uint64_t sector : disk.dirClusterSectors) Line(out, D64(sector));

  Line(out, D32(static_cast<uint32_t>(disk.mftRecordRuns.size())));
  for (const auto& [start, count] : disk.mftRecordRuns) Line(out, D64(start) + "," + D32(count));

  Line(out, D32(static_cast<uint32_t>(disk.extraFound.children.size())));
  for (const auto& [start, file] : disk.extraFound.children)
    Line(out, D64(start) + "," + D32(file.size) + "," + file.name +
                  (file.carvedName.empty() ? "" : kCarvedNameMark + file.carvedName));

  Line(out, D32(disk.mapEntryCount));
  Line(out, D32(disk.diskKind));
  Line(out, disk.pvUuid);
  Line(out, disk.vgId);
  Line(out, D64(disk.peStart));
  Line(out, D64(disk.devSize));
  Line(out, D64(disk.reserved2));
  Line(out, D32(disk.peCount));
  Line(out, D32(disk.reserved1));
  Line(out, D32(disk.extentSize));
  Line(out, D32(disk.reserved3));

  if (disk.resume.kind != kResumeNone) {
    Line(out, kResumeMarker);
    Line(out, D32(disk.resume.kind));
    Line(out, D64(disk.resume.rangeStart));
    Line(out, D64(disk.resume.rangeCount));
    Line(out, D64(disk.resume.nextSector));
  }

  std::vector<std::string> geometry;
  for (size_t i = 0; i < disk.volumes.size(); ++i) {
    const VolumeInfo& v = disk.volumes[i];
    if (v.fatSectors != 0 || v.mftStart != 0 || v.indexRecordClusters != 0)
      geometry.push_back(std::to_string(i) + "," + std::to_string(v.fatSectors) + "," +
                         std::to_string(v.mftStart) + "," + std::to_string(v.indexRecordClusters));
  }
  if (!geometry.empty()) {
    Line(out, kVolumeGeometryMarker);
    Line(out, D32(static_cast<uint32_t>(geometry.size())));
    for (const std::string& g : geometry) Line(out, g);
  }

  for (const VolumeInfo& v : disk.volumes) {
    Line(out, kPartitionMarker);
    Line(out, v.diskPath);
    Line(out, v.hfsText);
    Line(out, D32(v.hfsKind));
    Line(out, v.label);
    Line(out, v.driveLetter);
    Line(out, v.name);
    Line(out, v.extText);
    Line(out, D64(v.sectorCount));
    Line(out, D64(v.start));
    Line(out, D32(v.entryKind));
    Line(out, D32(v.sectorsPerCluster));
    Line(out, D64(v.clusterBase));
    Line(out, D32(v.fsType));
    Line(out, D32(v.sectorSize));
    Line(out, D32(v.origin));
    Line(out, D32(static_cast<uint8_t>(v.layout)));
    Line(out, D32(v.stripeSectors));
    uint32_t position = 0;
    for (const auto& [key, m] : v.members) {
      Line(out, D32(position++));
      std::string identity;
      for (uint8_t b : m.diskId) identity += std::to_string(b) + ",";
      Line(out, identity);
      Line(out, m.devicePath);
      Line(out, D64(m.start));
      Line(out, D64(m.sectorCount));
    }
  }

  for (const LvmLogicalVolume& lv : disk.logicalVolumes) {
    Line(out, kLogicalVolumesMarker);
    Line(out, lv.name);
    Line(out, D32(lv.flag));
    Line(out, lv.text1);
    Line(out, lv.text2);
    Line(out, lv.text3);
    Line(out, D64(lv.sizeSectors));
    Line(out, D32(lv.reserved));
    Line(out, lv.typeText);
    for (const LvmSegment& s : lv.segments) {
      Line(out, kSegmentMarker);
      Line(out, D32(s.startExtent));
      Line(out, D32(s.extentCount));
      Line(out, s.reserved);
      Line(out, D32(s.stripeCount));
      Line(out, s.pvId);
      Line(out, D64(s.stripeStart));
    }
  }
  return out;
}

bool WriteScanResultFile(const DiskInfo& disk, const std::string& ansiPath) {
  const std::string text = FormatScanResults(disk);
  const std::string temporary = ansiPath + ".brevid-tmp";
  // The rename replaces whatever the path names: it must pass the guard too.
  if (!OutputRefusal(ansiPath).empty()) return false;
  TargetHandle file = TargetHandle::Open(temporary, TargetHandle::Mode::kCreateAlways);
  if (!file.IsOpen()) return false;
  size_t written = 0;
  bool ok =
      file.Write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), &written);
  file.Close();
  std::error_code ec;
  if (ok) std::filesystem::rename(FsPath(temporary), FsPath(ansiPath), ec);
  if (!ok || ec) {
    std::filesystem::remove(FsPath(temporary), ec);
    return false;
  }
  return true;
}

ScanResultRead ReadScanResults(ByteSource& source, DiskInfo& disk, const std::string* requiredKey,
                               std::string* fileKey) {
  LineReader lines(source);
  std::string key;
  bool haveKey = lines.Next(&key);
  if (fileKey) *fileKey = key;
  if (requiredKey && (!haveKey || key != *requiredKey)) return ScanResultRead::kWrongDisk;
  if (haveKey) ReadBody(lines, disk);
  return ScanResultRead::kRead;
}

ScanResultRead ReadScanResultFile(DiskInfo& disk, const std::string& ansiPath) {
  std::unique_ptr<ByteSource> source = OpenFileSource(ansiPath);
  if (!source) return ScanResultRead::kCannotOpen;
  std::string key = disk.Key();
  ScanResultRead read = ReadScanResults(*source, disk, &key, nullptr);
  // An image file's key is its bare name unless another image of that name
  // was open, then its full path: a file written under either still fits.
  const bool imageFile = disk.number.empty() && disk.diskKind == 0 && !disk.path.empty();
  if (read != ScanResultRead::kWrongDisk || !imageFile) return read;
  for (const std::string& other : {disk.path, FileNameOf(disk.path)}) {
    if (other == key) continue;
    read = ReadScanResults(*source, disk, &other, nullptr);
    if (read != ScanResultRead::kWrongDisk) break;
  }
  return read;
}

ScanResultRead ReadScanResultFileAnyDisk(DiskInfo& disk, const std::string& ansiPath,
                                         std::string* fileKey) {
  fileKey->clear();
  std::unique_ptr<ByteSource> source = OpenFileSource(ansiPath);
  if (!source) return ScanResultRead::kCannotOpen;
  return ReadScanResults(*source, disk, nullptr, fileKey);
}

}  // namespace brevid
