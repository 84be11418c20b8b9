#include "export/fat_saver.h"

#include <algorithm>
#include <optional>

#include "common/sector_range.h"
#include "export/exfat_saver.h"
#include "export/output_files.h"
#include "format/fat_layout.h"
#include "fs/volume_trees.h"
#include "platform/file_system.h"

namespace brevid {
namespace {

constexpr uint64_t kPiece = 0xA00000;  // 10 MiB

uint32_t SectorSizeOf(const VolumeInfo& v) { return v.sectorSize ? v.sectorSize : 512; }

uint64_t ClusterByte(const VolumeInfo& v, uint32_t cluster) {
  return SectorToByte(uint64_t{cluster} * v.sectorsPerCluster + v.clusterBase, SectorSizeOf(v));
}

void WriteAll(const SaveRequest& request, TargetHandle& out, std::span<const uint8_t> data) {
  size_t written = 0;
  out.Write(data, &written);
  request.Wrote(written);
}

// Zeros for what the source could not give, so the file keeps its size.
void WriteZeros(const SaveRequest& request, TargetHandle& out, uint64_t count) {
  std::vector<uint8_t> zeros(std::min(count, kPiece), 0);
  while (count > 0 && !out.WriteFailed()) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(count, zeros.size()));
    WriteAll(request, out, std::span<const uint8_t>(zeros).first(n));
    count -= n;
  }
}

}  // namespace

uint64_t BytesToSourceEnd(const SaveRequest& request, uint64_t position) {
  uint64_t end = request.reader->SourceBytes();
  return position < end ? end - position : 0;
}

uint64_t BytesToVolumeEnd(const SaveRequest& request, uint64_t position) {
  const VolumeInfo& v = *request.volume;
  uint64_t end = request.reader->SourceBytes();
  if (v.sectorCount != 0) end = std::min(end, SectorToByte(v.start + v.sectorCount));
  return position < end ? end - position : 0;
}

void CopyFatChain(const SaveRequest& request, const FileEntry& entry, std::string path) {
  TargetHandle out;
  if (!OpenOutputFile(&out, &path)) return request.Skip("不能创建输出文件");
  if (request.stats) request.stats->files++;
  OutputSeal seal(request, out, path, entry.size);
  const VolumeInfo& v = *request.volume;
  const VolumeTrees& trees = *v.trees;
  if (entry.firstCluster < trees.fatRoot.firstCluster || entry.size == 0) return;
  request.FileRange();
  if (request.Stopped()) return;

  bool fat32 = IsFat32Type(v.fsType);
  if (!fat32 && !IsFat16Type(v.fsType)) return;
  uint64_t clusterBytes = uint64_t{v.sectorsPerCluster} * SectorSizeOf(v);
  uint64_t width = fat32 ? 4 : 2;
  // The table in memory may be shorter than the FAT's stated size (a damaged
  // length is not loaded whole): entries beyond it end the chain.
  uint64_t entries =
      std::min<uint64_t>(uint64_t{v.fatSectors} * SectorSizeOf(v), trees.fatTable.size()) / width;
  if (clusterBytes == 0 || entry.firstCluster > entries) return;

  // The next cluster of the chain, or none at its end (an end mark, a free
  // or reserved entry, or a number past the table).
  auto nextOf = [&](uint32_t cluster) -> std::optional<uint32_t> {
    uint32_t next = fat::NextClusterIn(trees.fatTable, cluster, fat32);
    if (fat::SaveChainEnds(next, fat32, entries)) return std::nullopt;
    return next;
  };
  // Clusters that follow each other in the chain and on the disk are read
  // together, up to 10 MiB: the same bytes as cluster by cluster, in far
  // fewer reads.
  uint64_t remaining = entry.size;
  std::optional<uint32_t> c = entry.firstCluster;
  std::vector<uint8_t> data;
  while (c && remaining > 0) {
    uint32_t runStart = *c;
    uint64_t clusters = 1;
    std::optional<uint32_t> next = nextOf(runStart);
    while (next && *next == runStart + clusters &&
           clusters * clusterBytes < std::min(remaining, kPiece)) {
      ++clusters;
      next = nextOf(*next);
    }
    data.assign(clusters * clusterBytes, 0);
    request.reader->ReadInto(ClusterByte(v, runStart), data);
    uint64_t n = std::min<uint64_t>(remaining, data.size());
    WriteAll(request, out, std::span<const uint8_t>(data).first(n));
    remaining -= n;
    request.FilePosition((entry.size - remaining) * 100 / entry.size);
    if (request.Stopped() || out.WriteFailed()) break;
    c = next;
  }
  request.FilePosition(100);
}

void CopyFatContiguous(const SaveRequest& request, const FileEntry& entry, std::string path) {
  request.FileRange();
  if (request.Stopped()) return;
  std::string givenPath = path;
  TargetHandle out;
  int counter = 0;
  if (!OpenOutputFile(&out, &path, &counter)) return request.Skip("不能创建输出文件");
  if (entry.size == 0) {
    if (request.stats) request.stats->files++;
    return;
  }
  std::string ext = FileExtension(entry.name);
  if (IsTypedExtension(ext, request.multi)) {
    if (SearchStartCluster(request, entry, ext, givenPath, path, out, counter) > 0) return;
    // No candidate carries the signature: the stored cluster is copied as
    // any other file's, unless this run has handed its data out already.
    if (request.used->count(entry.firstCluster)) {
      request.Skip("没有簇带有该类型的签名，留下空文件");
      return request.FilePosition(100);
    }
  }

  if (request.stats) request.stats->files++;
  OutputSeal seal(request, out, path, entry.size);
  const VolumeInfo& v = *request.volume;
  uint64_t position = ClusterByte(v, entry.firstCluster);
  // A deleted entry's size may be anything: nothing is taken from beyond
  // the volume or the source.
  uint64_t size = std::min<uint64_t>(entry.size, BytesToVolumeEnd(request, position));
  if (size < entry.size) request.CutAtEnd();
  if (size < kPiece) {
    std::vector<uint8_t> data = request.reader->Read(position, (size / 512 + 1) * 512);
    WriteAll(request, out, std::span<const uint8_t>(data).first(size));
  } else {
    uint64_t owed = size;
    std::vector<uint8_t> piece(kPiece);
    while (owed > 0 && !request.Stopped() && !out.WriteFailed()) {
      size_t got = request.reader->ReadInto(position, piece);
      if (got == 0) {
        WriteZeros(request, out, owed);  // the source ended: the file keeps its size
        break;
      }
      uint64_t n = std::min<uint64_t>(got, owed);
      WriteAll(request, out, std::span<const uint8_t>(piece).first(n));
      owed -= n;
      position += got;
      request.FilePosition((size - owed) * 100 / size);
    }
  }
  request.FilePosition(100);
}

void SaveFatEntry(const SaveRequest& request, const FileEntry& entry) {
  if (request.Stopped()) return;
  std::string name = entry.name;
  if (!RepairFileName(&name, *request.repair)) return;
  name = SafeComponent(name);
  bool useFat = request.useFat && request.volume->trees && !request.volume->trees->fatTable.empty();
  std::string path = JoinPath(request.folder, name);
  // Ticked-items runs give every entry a set of its own.
  UsedClusterSet ownSet;
  SaveRequest withOwnSet = request;
  if (request.multi) withOwnSet.used = &ownSet;
  const SaveRequest& fileRequest = request.multi ? withOwnSet : request;

  switch (entry.Kind()) {
    case kDeletedFolder:
    case kNormalFolder: {
      if (IsSymbolicLink(path)) return request.Skip(kLinkInTarget);
      SaveRequest inner = request;
      inner.folder = path;
      for (const FileEntry& child : entry.children) {
        if (request.Stopped()) return;
        SaveFatEntry(inner, child);
      }
      return;
    }
    case kDeletedFile:
      if (!request.includeDeleted) return request.Skip(kDeletedNotChosen);
      if (entry.exfat) return CopyExfatFile(fileRequest, entry, path);
      return CopyFatContiguous(fileRequest, entry, path);
    case kNormalFile:
      if (!request.includeNormal) return request.Skip(kNormalNotChosen);
      if (entry.exfat) return CopyExfatFile(fileRequest, entry, path);
      if (!useFat) return CopyFatContiguous(fileRequest, entry, path);
      if (IsTypedExtension(FileExtension(entry.name), request.multi))
        fileRequest.used->insert(entry.firstCluster);
      return CopyFatChain(fileRequest, entry, path);
    default:
      return;
  }
}

}  // namespace brevid
