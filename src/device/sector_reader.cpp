#include "device/sector_reader.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <span>

#include "common/saturating.h"
#include "common/sector_range.h"

namespace brevid {
namespace {

using MemberMap = std::map<uint8_t, VolumeMember>;

MemberMap::const_iterator NthMember(const MemberMap& members, size_t index) {
  return std::next(members.begin(), static_cast<std::ptrdiff_t>(index));
}

// Measured from the extent's own start so that a hostile `start` cannot wrap
// the comparison; equal to the absolute form whenever that does not overflow.
bool StartsBeyondMember(const VolumeMember& member, uint32_t sectorSize, uint64_t offset) {
  return offset > SectorToByte(member.sectorCount, sectorSize);
}

enum class Step { kMore, kDone, kFailed };

// One chunk from one member, on a handle of its own. kMore only when all of
// `want` arrived; a short chunk ends the read so that no later chunk lands
// where the missing bytes belong.
Step TakeChunk(const SourceOpener& opener, const VolumeMember& member, uint32_t sectorSize,
               uint64_t offset, uint8_t* out, size_t want, size_t* bytesRead) {
  SourceHandle handle = opener.Open(member.devicePath);
  if (!handle.IsOpen()) return Step::kFailed;
  // Seek fails only on a closed handle, which was excluded above.
  handle.Seek(AddSat(SectorToByte(member.start, sectorSize), offset));
  size_t got = 0;
  bool ok = handle.Read(std::span<uint8_t>(out, want), &got);
  *bytesRead += std::min(got, want);
  if (!ok) return Step::kFailed;
  return got < want ? Step::kDone : Step::kMore;
}

uint64_t UnitBytes(const VolumeInfo& volume) {
  return static_cast<uint64_t>(volume.stripeSectors) * volume.sectorSize;
}

size_t Wanted(uint64_t roomInUnit, size_t length, size_t bytesRead) {
  return static_cast<size_t>(std::min<uint64_t>(roomInUnit, length - bytesRead));
}

}  // namespace

bool ReadVolume(const VolumeInfo* volume, SourceHandle* handle, uint8_t* buffer, size_t length,
                uint64_t position, size_t* bytesRead, const SourceOpener& opener) {
  if (bytesRead == nullptr) return false;
  *bytesRead = 0;
  if (volume == nullptr || volume->layout == VolumeLayout::Simple) {
    if (handle == nullptr || (buffer == nullptr && length > 0)) return false;
    return handle->Read(std::span<uint8_t>(buffer, length), bytesRead);
  }
  switch (volume->layout) {
    case VolumeLayout::Striped:
      return StripedRead(*volume, buffer, length, position, bytesRead, opener);
    case VolumeLayout::Spanned:
      return SpannedRead(*volume, buffer, length, position, bytesRead, opener);
    case VolumeLayout::Raid5:
      return Raid5Read(*volume, buffer, length, position, bytesRead, opener);
    default:
      return false;
  }
}

bool StripedRead(const VolumeInfo& volume, uint8_t* buffer, size_t length, uint64_t position,
                 size_t* bytesRead, const SourceOpener& opener) {
  if (bytesRead == nullptr) return false;
  *bytesRead = 0;
  const uint32_t sectorSize = volume.sectorSize;
  const uint64_t unit = UnitBytes(volume);
  const size_t count = volume.members.size();
  if (unit == 0 || count == 0 || (buffer == nullptr && length > 0)) return false;
  if (length == 0) return true;

  const uint64_t stripe = position / unit;
  const uint64_t inUnit = position % unit / sectorSize * sectorSize;
  uint64_t rowOffset = stripe / count * unit;
  auto member = NthMember(volume.members, static_cast<size_t>(stripe % count));
  uint64_t offset = rowOffset + inUnit;
  size_t want = Wanted(unit - inUnit, length, 0);
  for (;;) {
    if (StartsBeyondMember(member->second, sectorSize, offset)) return false;
    Step step =
        TakeChunk(opener, member->second, sectorSize, offset, buffer + *bytesRead, want, bytesRead);
    if (step != Step::kMore) return step == Step::kDone;
    if (*bytesRead >= length) return true;
    if (++member == volume.members.end()) {
      member = volume.members.begin();
      rowOffset = AddSat(rowOffset, unit);
    }
    offset = rowOffset;
    want = Wanted(unit, length, *bytesRead);
  }
}

bool SpannedRead(const VolumeInfo& volume, uint8_t* buffer, size_t length, uint64_t position,
                 size_t* bytesRead, const SourceOpener& opener) {
  if (bytesRead == nullptr) return false;
  *bytesRead = 0;
  const uint32_t sectorSize = volume.sectorSize;
  if (sectorSize == 0 || (buffer == nullptr && length > 0)) return false;
  if (length == 0) return true;

  // total + size <= position holds while walking, so the sum cannot wrap.
  uint64_t total = 0;
  auto member = volume.members.begin();
  for (; member != volume.members.end(); ++member) {
    uint64_t size = SectorToByte(member->second.sectorCount, sectorSize);
    if (position - total < size) break;
    total += size;
  }
  uint64_t offset = (position - total) / sectorSize * sectorSize;
  for (; member != volume.members.end() && *bytesRead < length; ++member, offset = 0) {
    uint64_t size = SectorToByte(member->second.sectorCount, sectorSize);
    if (offset >= size) continue;  // an empty extent holds nothing to read
    size_t want = Wanted(size - offset, length, *bytesRead);
    Step step =
        TakeChunk(opener, member->second, sectorSize, offset, buffer + *bytesRead, want, bytesRead);
    if (step != Step::kMore) return step == Step::kDone;
  }
  return true;
}

bool Raid5Read(const VolumeInfo& volume, uint8_t* buffer, size_t length, uint64_t position,
               size_t* bytesRead, const SourceOpener& opener) {
  if (bytesRead == nullptr) return false;
  *bytesRead = 0;
  const uint32_t sectorSize = volume.sectorSize;
  const uint64_t unit = UnitBytes(volume);
  const size_t count = volume.members.size();
  if (unit == 0 || count < 2 || (buffer == nullptr && length > 0)) return false;
  if (length == 0) return true;

  const uint64_t dataPerRow = count - 1;
  const uint64_t stripe = position / unit;
  const uint64_t inUnit = position % unit / sectorSize * sectorSize;
  const uint64_t row = stripe / dataPerRow;
  size_t parity = static_cast<size_t>(dataPerRow - row % count);
  size_t data = static_cast<size_t>((parity + 1 + stripe % dataPerRow) % count);
  uint64_t rowOffset = row * unit;
  uint64_t offset = rowOffset + inUnit;
  size_t want = Wanted(unit - inUnit, length, 0);
  for (;;) {
    auto member = NthMember(volume.members, data);
    if (member->second.devicePath.empty()) {
      if (!RebuildFromParity(volume, member->first, offset, buffer + *bytesRead, want, opener)) {
        return false;
      }
      *bytesRead += want;
    } else {
      if (StartsBeyondMember(member->second, sectorSize, offset)) return false;
      Step step = TakeChunk(opener, member->second, sectorSize, offset, buffer + *bytesRead, want,
                            bytesRead);
      if (step != Step::kMore) return step == Step::kDone;
    }
    if (*bytesRead >= length) return true;
    data = (data + 1) % count;
    if (data == parity) {
      rowOffset = AddSat(rowOffset, unit);
      parity = parity == 0 ? count - 1 : parity - 1;
      data = (parity + 1) % count;
    }
    offset = rowOffset;
    want = Wanted(unit, length, *bytesRead);
  }
}

bool RebuildFromParity(const VolumeInfo& volume, uint8_t missingKey, uint64_t memberOffset,
                       uint8_t* buffer, size_t length, const SourceOpener& opener) {
  if (buffer == nullptr && length > 0) return false;
  if (length > 0) std::memset(buffer, 0, length);
  const uint32_t sectorSize = volume.sectorSize;
  if (sectorSize == 0 || volume.members.size() < 2 || !volume.members.contains(missingKey)) {
    return false;
  }
  if (length == 0) return true;
  std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[length]);
  if (!scratch) return false;
  std::span<uint8_t> scratchBytes(scratch.get(), length);
  for (const auto& [key, member] : volume.members) {
    if (key == missingKey) continue;
    SourceHandle handle = opener.Open(member.devicePath);
    size_t got = 0;
    bool ok = handle.IsOpen() &&
              handle.ReadAt(AddSat(SectorToByte(member.start, sectorSize), memberOffset),
                            scratchBytes, &got) &&
              got == length;
    if (!ok) {
      std::memset(buffer, 0, length);
      return false;
    }
    for (size_t i = 0; i < length; ++i) buffer[i] ^= scratch[i];
  }
  return true;
}

}  // namespace brevid
