// The one way the layers above read a volume: a Simple volume through one
// read-only handle on its disk, any other layout through its members, both
// by absolute position (a multi-member volume starts at sector 0). Callers
// never seek a raw handle themselves. A reader belongs to one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "device/disk_info.h"
#include "platform/source_opener.h"

namespace brevid {

class VolumeReader {
 public:
  // Keeps references to both records and to `opener`; they must outlive the
  // reader.
  VolumeReader(const DiskInfo& disk, const VolumeInfo& volume,
               const SourceOpener& opener = FileSourceOpener())
      : disk_(disk), volume_(volume), opener_(opener) {}

  // Opens the disk read-only for a Simple volume; other layouts need no
  // handle. False when the disk cannot be opened.
  bool Open();

  // Reads `length` bytes at byte `position` (the disk offset for a Simple
  // volume, the offset inside the volume otherwise). The result always holds
  // `length` bytes: zeros where nothing could be read.
  std::vector<uint8_t> Read(uint64_t position, size_t length);

  // As Read, into `buffer`; returns the bytes settled from its start: those
  // read, and inside the source those that could not be read (unreadable
  // sectors, missing members), which are zeros and counted in UnreadBytes.
  // A failed read is retried sector by sector so that a bad sector costs
  // only itself. The rest, past the source's end, is cleared.
  size_t ReadInto(uint64_t position, std::span<uint8_t> buffer);

  // As ReadInto, at absolute 512-byte sector `sector`.
  size_t ReadSectors(uint64_t sector, std::span<uint8_t> buffer);

  // As ReadSectors without the retry: the bytes read before the first
  // failure (the rest cleared), for callers that retry and count on their own.
  size_t ReadSectorsOnce(uint64_t sector, std::span<uint8_t> buffer);

  // Bytes the source can hold at most: the disk or image size for a Simple
  // volume, the members' total otherwise. Bounds what a reader allocates.
  uint64_t SourceBytes() const;

  // Where the source ends, in 512-byte sectors numbered as ReadSectors
  // numbers them: the bound of every scan, whatever a volume claims.
  // UINT64_MAX when the source's size is not known.
  uint64_t SourceEndSector() const;

  // Bytes handed out as zeros because the source could not give them, over
  // the reader's life: callers compare it before and after a file.
  uint64_t UnreadBytes() const { return unread_; }

  const DiskInfo& disk() const { return disk_; }
  const VolumeInfo& volume() const { return volume_; }
  const SourceOpener& opener() const { return opener_; }

 private:
  const DiskInfo& disk_;
  const VolumeInfo& volume_;
  const SourceOpener& opener_;
  SourceHandle handle_;
  uint64_t unread_ = 0;

  bool ReadVolumeAt(uint64_t position, std::span<uint8_t> buffer, size_t* got);
};

// A byte source over a multi-member volume (byte 0 is the volume's first
// byte), for copying it whole. Unlike VolumeReader it hides nothing: a
// read that a member could not serve fails, so the copy can list it. Keeps a
// copy of `volume`; `opener` must outlive the source.
std::unique_ptr<ByteSource> MakeMemberVolumeSource(const VolumeInfo& volume,
                                                   const SourceOpener& opener);

}  // namespace brevid
