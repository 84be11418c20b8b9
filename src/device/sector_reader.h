// Reads the bytes of a volume, whether it is one extent of one disk or image
// file (Simple) or assembled from extents on several (Striped, Spanned,
// Raid5). Nothing here writes, caches or retries, and nothing keeps state:
// the multi-member readers open a fresh read-only handle on a member for
// every chunk and close it before the next, so any number of threads may read
// the same disks at once as long as each uses its own `handle` and buffer.
//
// Terms shared by every reader below:
// - `buffer` must hold `length` bytes; nothing outside it is touched, and
//   `*bytesRead` never exceeds `length`. The buffer is not cleared: where
//   nothing was read it keeps what it held (only a failed parity rebuild
//   leaves zeros in its unit). Callers that need zeros clear it.
// - `*bytesRead` is set to 0 first and then counts the bytes placed from the
//   start of `buffer`; those bytes are always the volume's bytes at
//   `position` onwards, never shifted by a gap.
// - Members are opened through `opener` (files and devices by default).
// - For a multi-member volume `position` is the byte offset inside the
//   volume; a remainder below one sector is ignored.
// - A chunk that a member delivers short (its data ended, or an I/O error)
//   ends the read there instead of leaving a hole: the result is then that
//   member read's own (true when its data simply ended, false on an I/O
//   error), just as a Simple read reports the handle's result. So a short
//   read never loops, and a true result with *bytesRead < length means the
//   volume's data ran out.
// - Shapes the arithmetic cannot serve (sector size 0, stripe unit 0, a
//   Striped volume without members, a Raid5 volume with fewer than two) fail
//   with nothing read and no member opened.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/volume_info.h"
#include "platform/source_handle.h"
#include "platform/source_opener.h"

namespace brevid {

// The one read every reader of a volume goes through.
// Simple layout, or `volume` null: reads `length` bytes from `handle` at the
// handle's own current position (the caller has moved it there); `position`
// is not used, and the handle's position advances by what was read. False
// with nothing read when `handle` is null or closed.
// Other layouts: `handle` is not used (may be null) and `position` is the
// byte offset inside the volume; dispatches to the reader for the layout. An
// unknown layout code returns false with nothing read.
bool ReadVolume(const VolumeInfo* volume, SourceHandle* handle, uint8_t* buffer, size_t length,
                uint64_t position, size_t* bytesRead,
                const SourceOpener& opener = FileSourceOpener());

// Stripe units of stripeSectors sectors taken from the members in key order,
// row after row. False when a member cannot be opened or a chunk would start
// beyond the end of its member (a chunk starting exactly at the end is still
// read); true when `length` bytes were read or a member's data ended.
bool StripedRead(const VolumeInfo& volume, uint8_t* buffer, size_t length, uint64_t position,
                 size_t* bytesRead, const SourceOpener& opener = FileSourceOpener());

// The members laid end to end in key order. True when `length` bytes were
// read, or when the members end first (past the last member: true, 0 bytes);
// false when a member cannot be opened. A volume without members reads
// nothing and returns true.
bool SpannedRead(const VolumeInfo& volume, uint8_t* buffer, size_t length, uint64_t position,
                 size_t* bytesRead, const SourceOpener& opener = FileSourceOpener());

// Left-symmetric RAID-5: row r keeps parity on member (n-1) - (r mod n) and
// its data starts on the member after the parity. A unit on a member whose
// devicePath is empty is rebuilt from parity and counted in full. Results as
// for StripedRead; a failed rebuild also returns false.
bool Raid5Read(const VolumeInfo& volume, uint8_t* buffer, size_t length, uint64_t position,
               size_t* bytesRead, const SourceOpener& opener = FileSourceOpener());

// Fills `buffer` (`length` bytes) with what member `missingKey` holds at byte
// `memberOffset` of its extent: the XOR of the same bytes on every other
// member. False when `missingKey` is not a member, there are fewer than two
// members, the sector size is 0, the scratch buffer cannot be had, or another
// member cannot be opened or does not deliver all `length` bytes (the XOR
// would then be wrong); on false `buffer` holds zeros. Allocates one scratch
// buffer of `length` bytes for the call.
bool RebuildFromParity(const VolumeInfo& volume, uint8_t missingKey, uint64_t memberOffset,
                       uint8_t* buffer, size_t length,
                       const SourceOpener& opener = FileSourceOpener());

}  // namespace brevid
