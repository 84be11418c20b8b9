#include "imaging/image_copy.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "common/sector_range.h"
#include "device/disk_enumeration.h"
#include "device/volume_reader.h"
#include "imaging/imaging_endpoint.h"
#include "imaging/rescue_map_file.h"
#include "imaging/rescue_passes.h"
#include "platform/byte_source.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/source_handle.h"
#include "platform/target_handle.h"
#include "platform/write_guard.h"

namespace brevid {
namespace {

constexpr uint64_t kSectorsPerPiece = kImagingPieceBytes / kSectorBytes;
constexpr uint8_t kUnreadableFill = 0x20;

ImagingOutcome Ended(ImagingResult result, std::string text) {
  ImagingOutcome outcome;
  outcome.result = result;
  outcome.text = std::move(text);
  return outcome;
}

// One run: both handles, the list and the counters.
class Copier {
 public:
  Copier(SourceHandle& source, TargetHandle& target, ProgressRecord& progress,
         ImagingCounters* counters, ImagingOutcome& outcome)
      : source_(source),
        target_(target),
        progress_(progress),
        counters_(counters),
        outcome_(outcome) {}

  // False once a write failed or a stop was requested; outcome_ says which.
  bool Run(uint64_t s, uint64_t d, uint64_t total) {
    const uint64_t pieces = total / kImagingPieceBytes;
    const uint64_t rest = total % kImagingPieceBytes;
    progress_.Send(kProgressSetRange, pieces, 1);
    // Page-aligned, as the kernel copies fastest into it.
    std::unique_ptr<uint8_t, decltype(&std::free)> memory(
        static_cast<uint8_t*>(std::aligned_alloc(4096, kImagingPieceBytes)), &std::free);
    if (!memory) return Fail(Ansi("内存不足"));
    std::span<uint8_t> buffer(memory.get(), kImagingPieceBytes);
    for (uint64_t k = 0; k < pieces; ++k) {
      const uint64_t at = k * kImagingPieceBytes;
      if (ReadWhole(s + at, buffer)) {
        if (!Write(d + at, buffer)) return false;
        if (counters_) counters_->sectorsDone = (k + 1) * kSectorsPerPiece;
        progress_.Send(kProgressStep);
      } else {
        for (uint64_t j = 0; j < kSectorsPerPiece; ++j) {
          if (!RescueSector(s + at + j * kSectorBytes, d + at + j * kSectorBytes, kSectorBytes))
            return false;
          if (Stopped()) return false;
        }
      }
      if (Stopped()) return false;
    }
    if (rest == 0) return true;
    const uint64_t at = pieces * kImagingPieceBytes;
    if (ReadWhole(s + at, buffer.first(rest))) return Write(d + at, buffer.first(rest));
    // Whole sectors, and the last partial one too.
    for (uint64_t done = 0; done < rest; done += kSectorBytes) {
      const size_t length = static_cast<size_t>(std::min<uint64_t>(kSectorBytes, rest - done));
      if (!RescueSector(s + at + done, d + at + done, length)) return false;
      if (Stopped()) return false;
    }
    return true;
  }

 private:
  // No zeroing first: what a short read leaves is never written, since a
  // short piece goes sector by sector and a short sector is filled.
  bool ReadWhole(uint64_t position, std::span<uint8_t> buffer) {
    size_t got = 0;
    return source_.ReadAt(position, buffer, &got) && got == buffer.size();
  }

  // Copies the sector at source byte `p` to target byte `q`; `length` is 512
  // except for a source's partial last sector.
  bool RescueSector(uint64_t p, uint64_t q, size_t length) {
    std::vector<uint8_t> sector(length);
    if (!ReadWhole(p, sector)) {
      std::fill(sector.begin(), sector.end(), kUnreadableFill);
      const auto row = static_cast<uint32_t>(outcome_.badSectors.size() + 1);
      outcome_.badSectors.push_back({row, p / kSectorBytes});
      if (counters_) {
        counters_->badSectors = outcome_.badSectors.size();
        if (counters_->onBadSector) counters_->onBadSector(outcome_.badSectors.back());
      }
    }
    return Write(q, sector);
  }

  bool Write(uint64_t position, std::span<const uint8_t> bytes) {
    size_t written = 0;
    const bool ok = target_.Seek(position) && target_.Write(bytes, &written);
    outcome_.bytesDone += written;
    if (counters_) counters_->bytesDone = outcome_.bytesDone;
    if (ok) return true;
    const bool full = errno == ENOSPC || errno == EFBIG;
    return Fail(full ? Ansi("目标空间不足，请重新选择目标文件")
                     : Ansi("磁盘有坏道，请重新选择目标文件"));
  }

  bool Fail(std::string text) {
    outcome_.result = ImagingResult::kFailed;
    outcome_.text = std::move(text);
    return false;
  }

  bool Stopped() {
    if (!progress_.StopRequested()) return false;
    progress_.Send(kProgressSetPos, 0);
    outcome_.result = ImagingResult::kStopped;
    outcome_.text = Ansi("已停止");
    return true;
  }

  SourceHandle& source_;
  TargetHandle& target_;
  ProgressRecord& progress_;
  ImagingCounters* counters_;
  ImagingOutcome& outcome_;
};

// Source and target name the same bytes (links resolved).
bool SameStorage(const std::string& a, const std::string& b) {
  const StoragePlace x = LocateStorage(a), y = LocateStorage(b);
  return x.known && y.known && x.blockDevice == y.blockDevice && x.device == y.device &&
         x.inode == y.inode && x.baseOffset == y.baseOffset;
}

// The rows the bad-sector list shows for the map's bad areas; a disk that
// is bad throughout is summed up by the map, not by millions of rows.
constexpr size_t kMostListedSectors = 1u << 20;

ImagingOutcome Rescue(SourceHandle& source, TargetHandle& target, const ImagingRequest& request,
                      uint64_t s, uint64_t d, uint64_t total, RescueMap map, bool resumed,
                      ProgressRecord& progress, ImagingCounters* counters) {
  ImagingOutcome outcome;
  outcome.rescue = true;
  outcome.resumed = resumed;
  outcome.totalBytes = total;
  // Unread areas of a new image read as zeros, as ddrescue leaves them.
  if (!request.toDisk && !target.SetLength(d + total))
    return Ended(ImagingResult::kFailed, Ansi("目标空间不足，请重新选择目标文件"));
  RescueOptions options;
  options.begin = s;
  options.end = s + total;
  options.targetStart = d;
  options.retries = request.retries;
  options.reverse = request.reverse;
  options.sparse = request.sparse && !request.toDisk;
  progress.Send(kProgressSetRange, (total + kImagingPieceBytes - 1) / kImagingPieceBytes, 1);
  auto shown = std::chrono::steady_clock::now();
  const std::function<bool()> stop = [&] {
    const auto now = std::chrono::steady_clock::now();
    if (counters && now - shown >= std::chrono::milliseconds(200)) {
      shown = now;
      progress.Send(kProgressSetPos, counters->rescuedBytes / kImagingPieceBytes);
    }
    return progress.StopRequested();
  };
  const std::function<bool(const RescueMap&)> save = [&](const RescueMap& m) {
    return SaveRescueMapFile(request.mapFile, m);
  };
  const RescueEnd end = RunRescuePasses(source, target, options, map, stop, save, counters);
  const int writeError = errno;
  const RescueTotals t = CountRescueMap(map, options.begin, options.end);
  outcome.bytesDone = t.finished;
  outcome.badBytes = t.bad;
  outcome.badAreas = t.badAreas;
  outcome.nonTried = t.nonTried;
  outcome.nonTrimmed = t.nonTrimmed;
  outcome.nonScraped = t.nonScraped;
  for (const RescueBlock& b : map.blocks) {
    if (b.status != rescue::kBadSector) continue;
    const uint64_t lo = std::max(b.pos, options.begin), hi = std::min(b.End(), options.end);
    for (uint64_t at = lo; at < hi && outcome.badSectors.size() < kMostListedSectors;
         at = (at / kSectorBytes + 1) * kSectorBytes) {
      outcome.badSectors.push_back(
          {static_cast<uint32_t>(outcome.badSectors.size() + 1), at / kSectorBytes});
      if (counters && counters->onBadSector) counters->onBadSector(outcome.badSectors.back());
    }
  }
  if (counters) counters->badSectors = outcome.badSectors.size();
  switch (end) {
    case RescueEnd::kComplete:
      if (request.toDisk && !target.Flush()) {
        outcome.result = ImagingResult::kFailed;
        outcome.text = Ansi("磁盘有坏道，请重新选择目标文件");
      } else {
        progress.Send(kProgressSetPos, (total + kImagingPieceBytes - 1) / kImagingPieceBytes);
        outcome.result = ImagingResult::kDone;
        outcome.text = Ansi("镜像完毕");
      }
      break;
    case RescueEnd::kStopped:
      progress.Send(kProgressSetPos, 0);
      outcome.result = ImagingResult::kStopped;
      outcome.text = Ansi("已停止");
      break;
    case RescueEnd::kWriteFailed:
      outcome.result = ImagingResult::kFailed;
      outcome.text = writeError == ENOSPC || writeError == EFBIG
                         ? Ansi("目标空间不足，请重新选择目标文件")
                         : Ansi("磁盘有坏道，请重新选择目标文件");
      break;
    case RescueEnd::kMapFailed:
      outcome.result = ImagingResult::kFailed;
      outcome.text = Ansi("无法写入映射文件: ") + request.mapFile;
      break;
  }
  return outcome;
}

}  // namespace

std::string BadSectorRowText(uint32_t row) {
  char text[48];
  std::snprintf(text, sizeof text, "第%u个坏扇区", row);
  return Utf8ToAnsi(text);
}

ImagingOutcome CopyImage(const DiskList& list, const ImagingRequest& request,
                         ProgressRecord& progress, ImagingCounters* counters,
                         const SourceOpener& opener) {
  if (request.sourceText.empty()) return Ended(ImagingResult::kRefused, Ansi("请选择源磁盘信息"));
  if (request.toDisk && request.targetText.empty())
    return Ended(ImagingResult::kRefused, Ansi("请选择目标磁盘信息"));
  if (!request.toDisk && request.targetFile.empty())
    return Ended(ImagingResult::kRefused, Ansi("请选择目标文件路径"));
  const ImagingEndpoint from = ResolveImagingEndpoint(list, request.sourceText);
  if (!from.Found()) return Ended(ImagingResult::kRefused, Ansi("找不到源磁盘或分区"));
  ImagingEndpoint to;
  if (request.toDisk) {
    to = ResolveImagingEndpoint(list, request.targetText);
    if (!to.Found()) return Ended(ImagingResult::kRefused, Ansi("找不到目标磁盘或分区"));
  }
  const std::string targetPath = request.toDisk ? to.devicePath : request.targetFile;

  SourceHandle source = from.ReadsThroughMembers()
                            ? SourceHandle(MakeMemberVolumeSource(*from.volume, opener))
                            : opener.Open(from.devicePath);
  if (!source.IsOpen()) return Ended(ImagingResult::kFailed, Ansi("打开失败"));

  // The copy ends where the source does, whatever the start sector.
  uint64_t sourceEnd = from.byteOffset + from.Length();
  if (source.Size() > 0) sourceEnd = std::min(sourceEnd, source.Size());
  const uint64_t s = from.byteOffset + SectorToByte(request.sourceStartSector);
  if (s >= sourceEnd) return Ended(ImagingResult::kRefused, Ansi("起始扇区已超出源的末尾"));
  const uint64_t total = sourceEnd - s;
  const uint64_t d = request.toDisk ? to.byteOffset + SectorToByte(request.targetStartSector) : 0;

  // A member's disk is refused whole: where the volume's bytes lie on it
  // depends on the layout.
  std::vector<std::string> sourcePaths = {from.devicePath};
  if (from.ReadsThroughMembers())
    for (const auto& [key, member] : from.volume->members)
      if (!member.devicePath.empty()) sourcePaths.push_back(member.devicePath);
  if (std::string refusal = OutputRefusal(targetPath, sourcePaths); !refusal.empty())
    return Ended(ImagingResult::kRefused, refusal);
  const StoragePlace targetPlace = LocateStorage(targetPath);
  if (targetPlace.blockDevice && HoldsMountedFileSystem(targetPath))
    return Ended(ImagingResult::kRefused, Ansi("目标磁盘上有已挂载或正在使用的文件系统，不能写入"));
  if (request.toDisk && (to.isVolume || targetPlace.blockDevice) &&
      SectorToByte(request.targetStartSector) + total > to.Length())
    return Ended(ImagingResult::kRefused, Ansi("目标磁盘或分区放不下要镜像的数据"));

  RescueMap map;
  bool resumed = false;
  if (!request.mapFile.empty()) {
    std::string refusal = OutputRefusal(request.mapFile, sourcePaths);
    if (refusal.empty() && SameStorage(request.mapFile, targetPath))
      refusal = Ansi("映射文件不能是镜像目标: ") + request.mapFile;
    if (!refusal.empty()) return Ended(ImagingResult::kRefused, refusal);
    std::string error;
    const MapLoad load = LoadRescueMapFile(request.mapFile, &map, &error);
    if (load == MapLoad::kDamaged)
      return Ended(ImagingResult::kRefused,
                   Ansi("映射文件无法读取: ") + request.mapFile + " (" + Utf8ToAnsi(error) + ")");
    resumed = load == MapLoad::kLoaded;
  }

  if (counters) counters->totalBytes = total;
  // A resumed image keeps what earlier runs wrote into it.
  const TargetHandle::Mode mode = request.toDisk ? TargetHandle::Mode::kExisting
                                  : resumed      ? TargetHandle::Mode::kOpenAlways
                                                 : TargetHandle::Mode::kCreateAlways;
  TargetHandle target = TargetHandle::Open(targetPath, mode);
  if (!target.IsOpen()) {
    ImagingOutcome failed = Ended(ImagingResult::kFailed, Ansi("无法打开目标: "));
    failed.text += Utf8ToAnsi(LastErrorText());
    return failed;
  }
  if (!request.mapFile.empty())
    return Rescue(source, target, request, s, d, total, std::move(map), resumed, progress,
                  counters);

  ImagingOutcome outcome;
  outcome.totalBytes = total;
  Copier copier(source, target, progress, counters, outcome);
  const bool copied = copier.Run(s, d, total);
  // A disk reports a failed write only when it is flushed.
  if (copied && request.toDisk && !target.Flush()) {
    outcome.result = ImagingResult::kFailed;
    outcome.text = Ansi("磁盘有坏道，请重新选择目标文件");
  } else if (copied) {
    outcome.result = ImagingResult::kDone;
    outcome.text = Ansi("镜像完毕");
  }
  return outcome;
}

}  // namespace brevid
