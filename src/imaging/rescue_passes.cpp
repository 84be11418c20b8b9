#include "imaging/rescue_passes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>

#include "common/sector_range.h"

namespace brevid {
namespace {

using Clock = std::chrono::steady_clock;

// Healthy areas go in 1 MiB pieces, as fast as a plain copy; near an error
// pieces shrink to 64 KiB, so less is left to trim and scrape.
constexpr uint64_t kLargePiece = kImagingPieceBytes;
constexpr uint64_t kSmallPiece = 64 * 1024;
constexpr uint32_t kGoodReadsBeforeLarge = 16;
constexpr uint64_t kLargestSkip = 1ull << 30;
constexpr auto kSaveEvery = std::chrono::seconds(5);
constexpr auto kCountEvery = std::chrono::milliseconds(200);

uint64_t AlignDown(uint64_t value, uint64_t unit) { return value / unit * unit; }

class Rescuer {
 public:
  Rescuer(SourceHandle& source, TargetHandle& target, const RescueOptions& o, RescueMap& map,
          const std::function<bool()>& stop, const std::function<bool(const RescueMap&)>& save,
          ImagingCounters* counters)
      : source_(source),
        target_(target),
        o_(o),
        map_(map),
        stop_(stop),
        save_(save),
        counters_(counters) {}

  RescueEnd Run() {
    std::unique_ptr<uint8_t, decltype(&std::free)> memory(
        static_cast<uint8_t*>(std::aligned_alloc(4096, kLargePiece)), &std::free);
    if (!memory) return RescueEnd::kWriteFailed;
    buffer_ = memory.get();
    CoverRescueMap(map_, o_.end);
    lastSave_ = Clock::now();
    Count(true);
    const bool forward = !o_.reverse;
    // Skipping sweeps first, then one that reads every piece left.
    const bool done = Sweep(forward, true, 1) && Sweep(!forward, true, 2) &&
                      Sweep(forward, false, 3) && Trim() && Scrape() && Retry();
    if (done) {
      map_.currentStatus = rescue_pass::kFinished;
      map_.currentPos = forward ? o_.end : o_.begin;
    }
    Count(true);
    if (!save_(map_)) return RescueEnd::kMapFailed;
    if (end_) return *end_;
    return RescueEnd::kComplete;
  }

 private:
  // The area of `status` nearest to `cursor` in the direction of travel,
  // clipped to [begin, cursor) backwards or [cursor, end) forwards.
  std::optional<RescueBlock> NextArea(char status, uint64_t cursor, bool forward) const {
    const auto& b = map_.blocks;
    if (forward) {
      auto it = std::partition_point(b.begin(), b.end(),
                                     [cursor](const RescueBlock& x) { return x.End() <= cursor; });
      for (; it != b.end() && it->pos < o_.end; ++it) {
        if (it->status != status) continue;
        const uint64_t lo = std::max({it->pos, cursor, o_.begin});
        const uint64_t hi = std::min(it->End(), o_.end);
        if (lo < hi) return RescueBlock{lo, hi - lo, status};
      }
      return std::nullopt;
    }
    auto it = std::partition_point(b.begin(), b.end(),
                                   [cursor](const RescueBlock& x) { return x.pos < cursor; });
    while (it != b.begin()) {
      --it;
      if (it->End() <= o_.begin) break;
      if (it->status != status) continue;
      const uint64_t lo = std::max(it->pos, o_.begin);
      const uint64_t hi = std::min({it->End(), cursor, o_.end});
      if (lo < hi) return RescueBlock{lo, hi - lo, status};
    }
    return std::nullopt;
  }

  // Reads [pos, pos + length) and keeps what came back; true when all did.
  // What failed is left for the caller to mark.
  bool ReadAndKeep(uint64_t pos, uint64_t length, uint64_t* kept) {
    size_t got = 0;
    const bool ok =
        source_.ReadAt(pos, std::span(buffer_, static_cast<size_t>(length)), &got) && got == length;
    // Only whole sectors count as read, but for the source's last one.
    *kept = ok ? length : AlignDown(got, kSectorBytes);
    if (*kept > 0 && !Keep(pos, *kept)) return false;
    return ok;
  }

  bool Keep(uint64_t pos, uint64_t length) {
    const std::span<const uint8_t> bytes(buffer_, static_cast<size_t>(length));
    const bool zeros =
        o_.sparse && std::all_of(bytes.begin(), bytes.end(), [](uint8_t x) { return x == 0; });
    size_t written = 0;
    if (!zeros &&
        !(target_.Seek(pos - o_.begin + o_.targetStart) && target_.Write(bytes, &written))) {
      const int saved = errno;
      end_ = RescueEnd::kWriteFailed;
      errno = saved;
      return false;
    }
    SetRescueStatus(map_, pos, length, rescue::kFinished);
    lastGood_ = Clock::now();
    if (counters_)
      counters_->lastGoodReadMs =
          std::chrono::duration_cast<std::chrono::milliseconds>(lastGood_.time_since_epoch())
              .count();
    return true;
  }

  // After every read: the stop flag, the counters, the periodic save.
  bool Continue(char pass, uint64_t pos, uint32_t passNumber) {
    map_.currentStatus = pass;
    map_.currentPos = pos;
    map_.currentPass = passNumber;
    if (end_) return false;
    Count(false);
    const auto now = Clock::now();
    if (now - lastSave_ >= kSaveEvery) {
      lastSave_ = now;
      if (!save_(map_)) {
        end_ = RescueEnd::kMapFailed;
        return false;
      }
    }
    if (stop_()) {
      end_ = RescueEnd::kStopped;
      return false;
    }
    return true;
  }

  void Count(bool now) {
    if (!counters_) return;
    const auto at = Clock::now();
    if (!now && at - lastCount_ < kCountEvery) return;
    lastCount_ = at;
    const RescueTotals t = CountRescueMap(map_, o_.begin, o_.end);
    counters_->bytesDone = t.finished;
    counters_->rescuedBytes = t.finished;
    counters_->badBytes = t.bad;
    counters_->badAreas = t.badAreas;
    counters_->pendingBytes = t.nonTrimmed + t.nonScraped;
    counters_->pass = map_.currentStatus;
    if (counters_->onMap) counters_->onMap(map_);
  }

  bool Sweep(bool forward, bool skipping, uint32_t passNumber) {
    uint64_t cursor = forward ? o_.begin : o_.end;
    uint64_t skip = kSmallPiece;
    const uint64_t largestSkip =
        std::clamp<uint64_t>((o_.end - o_.begin) / 100, kSmallPiece, kLargestSkip);
    while (std::optional<RescueBlock> area = NextArea(rescue::kNonTried, cursor, forward)) {
      const uint64_t unit = goodReads_ >= kGoodReadsBeforeLarge ? kLargePiece : kSmallPiece;
      uint64_t pos, length;
      if (forward) {
        pos = area->pos;
        length = std::min(area->End(), AlignDown(pos, unit) + unit) - pos;
      } else {
        pos = std::max(area->pos, AlignDown(area->End() - 1, unit));
        length = area->End() - pos;
      }
      uint64_t kept = 0;
      const bool whole = ReadAndKeep(pos, length, &kept);
      if (end_) return false;
      if (whole) {
        ++goodReads_;
        skip = kSmallPiece;
        cursor = forward ? pos + length : pos;
      } else {
        goodReads_ = 0;
        // Only the small piece nearest the error is left to trimming; the
        // rest of a large piece stays non-tried, read again in small pieces.
        uint64_t failed = pos + kept, failedEnd = pos + length;
        if (forward)
          failedEnd = std::min(failedEnd, failed + kSmallPiece);
        else
          failed = std::max(failed, AlignDown(failedEnd - 1, kSmallPiece));
        SetRescueStatus(map_, failed, failedEnd - failed, rescue::kNonTrimmed);
        cursor = forward ? failedEnd : failed;
        if (skipping) {
          // What is skipped stays non-tried for the later sweeps.
          cursor = forward ? std::min(o_.end, cursor + skip)
                           : (cursor - o_.begin > skip ? cursor - skip : o_.begin);
          skip = std::min(skip * 2, largestSkip);
        }
      }
      if (!Continue(rescue_pass::kCopying, cursor, passNumber)) return false;
    }
    return true;
  }

  // One sector at `pos` within an area ending at `limit`: its length.
  static uint64_t SectorAt(uint64_t pos, uint64_t limit) {
    return std::min(AlignDown(pos, kSectorBytes) + kSectorBytes, limit) - pos;
  }
  // The sector that ends at `end` within an area starting at `floor`.
  static uint64_t SectorStartBefore(uint64_t end, uint64_t floor) {
    return std::max(floor, AlignDown(end - 1, kSectorBytes));
  }

  bool Trim() {
    uint64_t cursor = o_.begin;
    while (std::optional<RescueBlock> area = NextArea(rescue::kNonTrimmed, cursor, true)) {
      uint64_t lo = area->pos, hi = area->End();
      while (lo < hi) {
        const uint64_t length = SectorAt(lo, hi);
        uint64_t kept = 0;
        const bool good = ReadAndKeep(lo, length, &kept);
        if (!good && !end_) SetRescueStatus(map_, lo, length, rescue::kBadSector);
        lo += length;
        if (!Continue(rescue_pass::kTrimming, lo, 1)) return false;
        if (!good) break;
      }
      while (hi > lo) {
        const uint64_t at = SectorStartBefore(hi, lo);
        uint64_t kept = 0;
        const bool good = ReadAndKeep(at, hi - at, &kept);
        if (!good && !end_) SetRescueStatus(map_, at, hi - at, rescue::kBadSector);
        hi = at;
        if (!Continue(rescue_pass::kTrimming, hi, 1)) return false;
        if (!good) break;
      }
      if (lo < hi) SetRescueStatus(map_, lo, hi - lo, rescue::kNonScraped);
      cursor = area->End();
    }
    return true;
  }

  bool Scrape() {
    uint64_t cursor = o_.begin;
    while (std::optional<RescueBlock> area = NextArea(rescue::kNonScraped, cursor, true)) {
      const uint64_t length = SectorAt(area->pos, area->End());
      uint64_t kept = 0;
      if (!ReadAndKeep(area->pos, length, &kept) && !end_)
        SetRescueStatus(map_, area->pos, length, rescue::kBadSector);
      cursor = area->pos + length;
      if (!Continue(rescue_pass::kScraping, cursor, 1)) return false;
    }
    return true;
  }

  bool Retry() {
    for (uint32_t pass = 1; pass <= o_.retries; ++pass) {
      // The first retry goes against the copy's direction.
      const bool forward = (pass % 2 == 0) != o_.reverse;
      uint64_t cursor = forward ? o_.begin : o_.end;
      while (std::optional<RescueBlock> area = NextArea(rescue::kBadSector, cursor, forward)) {
        const uint64_t pos = forward ? area->pos : SectorStartBefore(area->End(), area->pos);
        const uint64_t length = forward ? SectorAt(area->pos, area->End()) : area->End() - pos;
        uint64_t kept = 0;
        ReadAndKeep(pos, length, &kept);
        cursor = forward ? pos + length : pos;
        if (!Continue(rescue_pass::kRetrying, cursor, pass)) return false;
      }
    }
    return true;
  }

  SourceHandle& source_;
  TargetHandle& target_;
  const RescueOptions& o_;
  RescueMap& map_;
  const std::function<bool()>& stop_;
  const std::function<bool(const RescueMap&)>& save_;
  ImagingCounters* counters_;
  uint8_t* buffer_ = nullptr;
  std::optional<RescueEnd> end_;
  uint32_t goodReads_ = kGoodReadsBeforeLarge;
  Clock::time_point lastSave_, lastCount_, lastGood_;
};

}  // namespace

RescueEnd RunRescuePasses(SourceHandle& source, TargetHandle& target, const RescueOptions& options,
                          RescueMap& map, const std::function<bool()>& stop,
                          const std::function<bool(const RescueMap&)>& save,
                          ImagingCounters* counters) {
  if (options.end <= options.begin) return save(map) ? RescueEnd::kComplete : RescueEnd::kMapFailed;
  source.SetRetryByBlock(false);
  const RescueEnd end = Rescuer(source, target, options, map, stop, save, counters).Run();
  source.SetRetryByBlock(true);
  return end;
}

RescueTotals CountRescueMap(const RescueMap& map, uint64_t begin, uint64_t end) {
  RescueTotals t;
  for (const RescueBlock& b : map.blocks) {
    const uint64_t lo = std::max(b.pos, begin), hi = std::min(b.End(), end);
    if (lo >= hi) continue;
    const uint64_t n = hi - lo;
    switch (b.status) {
      case rescue::kNonTried:
        t.nonTried += n;
        break;
      case rescue::kNonTrimmed:
        t.nonTrimmed += n;
        break;
      case rescue::kNonScraped:
        t.nonScraped += n;
        break;
      case rescue::kBadSector:
        t.bad += n;
        ++t.badAreas;
        break;
      case rescue::kFinished:
        t.finished += n;
        break;
      default:
        break;
    }
  }
  return t;
}

}  // namespace brevid
