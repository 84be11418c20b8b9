#include "imaging/image_copy.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/sector_range.h"
#include "device/disk_enumeration.h"
#include "device/volume_reader.h"
#include "imaging/imaging_endpoint.h"
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

  if (counters) counters->totalBytes = total;
  TargetHandle target =
      TargetHandle::Open(targetPath, request.toDisk ? TargetHandle::Mode::kExisting
                                                    : TargetHandle::Mode::kCreateAlways);
  if (!target.IsOpen()) {
    ImagingOutcome failed = Ended(ImagingResult::kFailed, Ansi("无法打开目标: "));
    failed.text += Utf8ToAnsi(LastErrorText());
    return failed;
  }

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
