#include "device/volume_reader.h"

#include <algorithm>
#include <cstring>

#include "common/sector_range.h"
#include "device/sector_reader.h"

namespace brevid {

bool VolumeReader::Open() {
  if (volume_.layout != VolumeLayout::Simple) return true;
  handle_ = opener_.Open(disk_.path);
  return handle_.IsOpen();
}

bool VolumeReader::ReadVolumeAt(uint64_t position, std::span<uint8_t> buffer, size_t* got) {
  *got = 0;
  bool ok = (volume_.layout != VolumeLayout::Simple || handle_.Seek(position)) &&
            ReadVolume(&volume_, &handle_, buffer.data(), buffer.size(), position, got, opener_);
  *got = std::min(*got, buffer.size());
  return ok;
}

size_t VolumeReader::ReadInto(uint64_t position, std::span<uint8_t> buffer) {
  size_t got = 0;
  if (!ReadVolumeAt(position, buffer, &got) && got < buffer.size()) {
    // Sector by sector from the first byte not read, up to the source's end.
    // The read just failed at that first sector: it is not read again.
    const uint64_t bytes = SourceBytes();
    const uint64_t end = bytes == 0 ? position + buffer.size() : bytes;
    for (bool failedHere = true; got < buffer.size() && position + got < end; failedHere = false) {
      const uint64_t at = position + got;
      const size_t n = static_cast<size_t>(
          std::min<uint64_t>({kSectorBytes - at % kSectorBytes, buffer.size() - got, end - at}));
      size_t one = 0;
      if (failedHere || !ReadVolumeAt(at, buffer.subspan(got, n), &one) || one < n) {
        std::memset(buffer.data() + got + one, 0, n - one);
        unread_ += n - one;
      }
      got += n;
    }
  }
  // Only what was not read is cleared: the scans read 10 MiB at a time.
  if (got < buffer.size()) std::memset(buffer.data() + got, 0, buffer.size() - got);
  if (volume_.layout == VolumeLayout::Simple) unread_ += UnrescuedBytes(position, got);
  return got;
}

uint64_t VolumeReader::UnrescuedBytes(uint64_t position, uint64_t length) const {
  const auto& ranges = disk_.unrescued;
  uint64_t bytes = 0;
  auto it = std::upper_bound(ranges.begin(), ranges.end(), std::pair{position, UINT64_MAX});
  if (it != ranges.begin()) --it;
  for (; it != ranges.end() && it->first < position + length; ++it)
    if (it->second > position)
      bytes += std::min(it->second, position + length) - std::max(it->first, position);
  return bytes;
}

size_t VolumeReader::ReadSectors(uint64_t sector, std::span<uint8_t> buffer) {
  return ReadInto(SectorToByte(sector), buffer);
}

size_t VolumeReader::ReadSectorsOnce(uint64_t sector, std::span<uint8_t> buffer) {
  size_t got = 0;
  ReadVolumeAt(SectorToByte(sector), buffer, &got);
  if (got < buffer.size()) std::memset(buffer.data() + got, 0, buffer.size() - got);
  return got;
}

std::vector<uint8_t> VolumeReader::Read(uint64_t position, size_t length) {
  std::vector<uint8_t> bytes(length, 0);
  ReadInto(position, bytes);
  return bytes;
}

uint64_t VolumeReader::SourceBytes() const {
  if (volume_.layout == VolumeLayout::Simple) return handle_.Size();
  uint64_t total = 0;
  for (const auto& [key, member] : volume_.members)
    total += member.sectorCount * std::max<uint32_t>(volume_.sectorSize, 1);
  return total;
}

uint64_t VolumeReader::SourceEndSector() const {
  uint64_t bytes = SourceBytes();
  return bytes == 0 ? UINT64_MAX : bytes / kSectorBytes;
}

namespace {

class MemberVolumeSource final : public ByteSource {
 public:
  MemberVolumeSource(const VolumeInfo& volume, const SourceOpener& opener)
      : volume_(volume), opener_(opener) {}

  bool ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* got) override {
    *got = 0;
    const uint64_t size = Size();
    if (offset >= size) return true;
    const size_t length = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - offset));
    return ReadVolume(&volume_, nullptr, buffer.data(), length, offset, got, opener_) &&
           *got == length;
  }

  uint64_t Size() const override { return SectorToByte(volume_.sectorCount); }

 private:
  const VolumeInfo volume_;
  const SourceOpener& opener_;
};

}  // namespace

std::unique_ptr<ByteSource> MakeMemberVolumeSource(const VolumeInfo& volume,
                                                   const SourceOpener& opener) {
  return std::make_unique<MemberVolumeSource>(volume, opener);
}

}  // namespace brevid
