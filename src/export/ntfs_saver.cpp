#include "export/ntfs_saver.h"

#include <algorithm>
#include <cerrno>

#include "common/saturating.h"
#include "common/sector_range.h"
#include "export/compressed_copy.h"
#include "export/fat_saver.h"
#include "export/output_files.h"
#include "fs/mft_record_reader.h"
#include "fs/volume_trees.h"
#include "platform/file_system.h"

namespace brevid {
namespace {

constexpr uint64_t kPiece = 0xA00000;        // 10 MiB
constexpr uint64_t kDirectPiece = 0x200000;  // 2 MiB
constexpr uint16_t kCompressedFlag = 0x0001;

uint32_t SectorSizeOf(const VolumeInfo& v) { return v.sectorSize ? v.sectorSize : 512; }

// Single saves choose a free name; ticked-items runs write over a file of
// the same name in place.
bool OpenNtfsOutput(const SaveRequest& request, TargetHandle* out, std::string* path) {
  if (!request.multi) return OpenOutputFile(out, path);
  *out = TargetHandle::Open(*path, TargetHandle::Mode::kOpenAlways);
  if (out->IsOpen() || errno != ENOENT) return out->IsOpen();
  size_t slash = path->rfind('/');
  if (slash == std::string::npos || !CreateDirectoryChain(path->substr(0, slash))) return false;
  *out = TargetHandle::Open(*path, TargetHandle::Mode::kOpenAlways);
  return out->IsOpen();
}

void WriteCounted(const SaveRequest& request, TargetHandle& out, std::span<const uint8_t> data) {
  size_t written = 0;
  out.Write(data, &written);
  request.Wrote(written);
}

void SaveDirect(const SaveRequest& request, const NtfsEntry& entry, TargetHandle& out) {
  const VolumeInfo& v = *request.volume;
  uint64_t position = SectorToByte(entry.recordNumber, SectorSizeOf(v));
  if (entry.size <= kDirectPiece) {
    request.FileRange(1, 1);
    std::vector<uint8_t> data = request.reader->Read(position, (entry.size / 512 + 1) * 512);
    WriteCounted(request, out, std::span<const uint8_t>(data).first(entry.size));
    if (!request.multi) request.progress->Send(kProgressStep);
    return;
  }
  request.FileRange(entry.size, 1);
  uint64_t written = 0;
  std::vector<uint8_t> piece(kDirectPiece);
  while (written < entry.size && !request.Stopped() && !out.WriteFailed()) {
    size_t got = request.reader->ReadInto(position + written, piece);
    // Past the source's end the rest of the file is zeros.
    size_t n = static_cast<size_t>(std::min<uint64_t>(kDirectPiece, entry.size - written));
    if (got == 0) std::fill(piece.begin(), piece.end(), 0);
    WriteCounted(request, out, std::span<const uint8_t>(piece).first(n));
    written += n;
    request.FilePosition(written);
  }
}

// Runs of the unnamed data attribute, read run by run. A run without a
// location is a hole: the write position moves past it, so the bytes after
// it land where they belong and the hole reads as zeros.
void SaveRuns(const SaveRequest& request, const MftRecordInfo& info, uint64_t dataSize,
              TargetHandle& out) {
  const VolumeInfo& v = *request.volume;
  uint64_t ss = SectorSizeOf(v);
  uint64_t clusterBytes = uint64_t{v.sectorsPerCluster} * ss;
  request.FileRange(100, 0);
  uint64_t owed = dataSize;
  uint64_t outAt = 0;
  std::vector<uint8_t> piece;
  for (const auto& [index, run] : info.runs) {
    if (owed == 0 || request.Stopped()) break;
    uint64_t runBytes = uint64_t{run.length} * clusterBytes;
    if (run.startCluster == 0) {
      uint64_t skip = std::min(runBytes, owed);
      outAt += skip;
      owed -= skip;
      out.Seek(outAt);
      continue;
    }
    uint64_t firstSector = uint64_t{run.startCluster} * v.sectorsPerCluster + v.start;
    uint64_t position = SectorToByte(firstSector, ss);
    // A run reaching past the volume is damage: what lies beyond belongs to
    // something else, so the copy ends at the volume's end (or the source's).
    uint64_t sourceEnd = request.reader->SourceEndSector();
    uint64_t end = sourceEnd == UINT64_MAX ? sourceEnd : sourceEnd * kSectorBytes / ss;
    if (v.sectorCount != 0) end = std::min(end, AddSat(v.start, v.sectorCount));
    uint64_t room = firstSector < end ? MulSat(end - firstSector, ss) : 0;
    bool cut = room < runBytes;
    uint64_t inside = std::min(runBytes, room);
    for (uint64_t done = 0;
         done < inside && owed > 0 && !request.Stopped() && !out.WriteFailed();) {
      uint64_t want = std::min({inside - done, kPiece, owed});
      piece.assign(want, 0);
      request.reader->ReadInto(position + done, piece);
      // Unreadable parts come out as zeros; the loop counts what it asked for.
      WriteCounted(request, out, piece);
      done += want;
      owed -= want;
      outAt += want;
      request.FilePosition((dataSize - owed) * 100 / dataSize);
    }
    if (cut) break;
  }
}

void SaveThroughRecord(const SaveRequest& request, const NtfsEntry& entry, std::string path) {
  const VolumeInfo& v = *request.volume;
  const VolumeTrees& trees = *v.trees;
  MftRecordInfo info;
  uint32_t number = static_cast<uint32_t>(entry.recordNumber);
  const uint64_t unreadBefore = request.reader->UnreadBytes();
  bool read = trees.recordFirstSector.empty()
                  ? ReadMftRecord(*request.reader, number, info, trees.mftRuns, 0)
                  : ReadMftRecordForEntry(*request.reader, number, info, entry, 0);
  if (!read) return request.Skip("读不到文件的 MFT 记录");
  TargetHandle out;
  if (!OpenNtfsOutput(request, &out, &path)) return request.Skip("不能创建输出文件");
  if (request.stats) request.stats->files++;
  OutputSeal seal(request, out, path, 0);
  // A file-name size may be stale or rounded up: the data attribute's own
  // size, when there is one, is the file's. A resident value is stored
  // padded to 8 bytes.
  uint64_t dataSize = info.dataSize.value_or(info.size);
  if (info.residentContent) dataSize = std::min<uint64_t>(info.residentContent->size(), dataSize);
  if (!info.residentContent) {
    // The runs, holes included, cover the whole data: a larger size from a
    // damaged record is not taken (it would size the output past all reason).
    uint64_t runBytes = 0;
    for (const auto& [index, run] : info.runs)
      runBytes += uint64_t{run.length} * v.sectorsPerCluster * SectorSizeOf(v);
    dataSize = std::min(dataSize, runBytes);
  }
  if (dataSize == 0) return;
  seal.Expect(dataSize);
  // A new file takes resident content whole; anything else may end in a hole
  // or be an older, longer file written over.
  if (!out.Created() || !info.residentContent) out.SetLength(dataSize);
  out.Seek(0);
  if (info.residentContent) {
    seal.CountUnreadFrom(unreadBefore);  // the content came with the record
    request.FileRange(1, 1);
    WriteCounted(request, out, std::span<const uint8_t>(*info.residentContent).first(dataSize));
    if (!request.multi) request.progress->Send(kProgressStep);
    return;
  }
  if (info.dataFlags & kCompressedFlag) {
    // Holes go in as sector 0: a compression unit is known by where its holes are.
    std::vector<SectorExtent> extents;
    for (const auto& [index, run] : info.runs)
      extents.emplace_back(
          run.startCluster == 0 ? 0 : uint64_t{run.startCluster} * v.sectorsPerCluster + v.start,
          uint64_t{run.length} * v.sectorsPerCluster);
    request.Wrote(CopyCompressedUnits(*request.reader, out, extents, dataSize));
    return;
  }
  SaveRuns(request, info, dataSize, out);
}

}  // namespace

void SaveNtfsEntry(const SaveRequest& request, const NtfsEntry& entry) {
  if (request.Stopped()) return;
  std::string path = JoinPath(request.folder, SafeComponent(entry.name));
  if (entry.IsFolder()) {
    if (IsSymbolicLink(path)) return request.Skip(kLinkInTarget);
    SaveRequest inner = request;
    inner.folder = path;
    for (const NtfsEntry& child : entry.children) {
      if (request.Stopped()) return;
      SaveNtfsEntry(inner, child);
    }
    return;
  }
  if (!entry.IsFile()) return;
  if (entry.Kind() == kDeletedFile && !request.includeDeleted)
    return request.Skip(kDeletedNotChosen);
  if (entry.Kind() == kNormalFile && !request.includeNormal) return request.Skip(kNormalNotChosen);
  if (!request.direct) return SaveThroughRecord(request, entry, path);
  TargetHandle out;
  if (!OpenNtfsOutput(request, &out, &path)) return request.Skip("不能创建输出文件");
  if (request.stats) request.stats->files++;
  OutputSeal seal(request, out, path, entry.size);
  SaveDirect(request, entry, out);
}

void SaveExtraFound(const SaveRequest& request, const CarvedFile& found, uint64_t startSector) {
  const VolumeInfo& v = *request.volume;
  uint64_t end = v.start + v.sectorCount;
  if (!found.children.empty()) {
    SaveRequest inner = request;
    inner.folder = JoinPath(request.folder, SafeComponent(found.name));
    if (IsSymbolicLink(inner.folder)) return request.Skip(kLinkInTarget);
    for (const auto& [sector, child] : found.children) {
      if (sector >= end) return;
      if (sector >= v.start) SaveExtraFound(inner, child, sector);
      if (request.Stopped()) return;
    }
  }
  // The record of all carved files is a folder, not a file of its own; no
  // carved file is empty.
  if (found.size == 0) return;
  // A name from a directory entry keeps its folders.
  std::string path = request.folder;
  for (size_t at = 0; at <= found.name.size();) {
    size_t slash = std::min(found.name.find('/', at), found.name.size());
    if (at > 0 && IsSymbolicLink(path)) return request.Skip(kLinkInTarget);
    path = JoinPath(path, SafeComponent(found.name.substr(at, slash - at)));
    at = slash + 1;
  }
  TargetHandle out;
  if (!OpenOutputFile(&out, &path)) return request.Skip("不能创建输出文件");
  if (request.stats) request.stats->files++;
  const uint64_t position = SectorToByte(startSector, SectorSizeOf(v));
  // Exactly the carved size, never past the volume's or the source's end.
  const uint64_t volumeEnd = SectorToByte(end, SectorSizeOf(v));
  uint64_t size = std::min<uint64_t>(found.size, BytesToSourceEnd(request, position));
  size = std::min(size, volumeEnd > position ? volumeEnd - position : 0);
  OutputSeal seal(request, out, path, found.size);
  if (size < found.size) request.CutAtEnd();
  std::vector<uint8_t> piece;
  for (uint64_t done = 0; done < size && !request.Stopped() && !out.WriteFailed();) {
    piece.resize(static_cast<size_t>(std::min(size - done, kPiece)));
    request.reader->ReadInto(position + done, piece);
    WriteCounted(request, out, piece);
    done += piece.size();
  }
}

}  // namespace brevid
