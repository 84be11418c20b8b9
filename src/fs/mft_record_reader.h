// Fetching MFT records from a volume: by number through $MFT's run map, or
// through the record-location maps a scan keeps, with the "mft错误" box when
// no copy agrees with the tree. Reads go through the volume's reader and
// never write to the source; the reader must be open and belongs to the
// calling thread.
#pragma once

#include <cstdint>

#include "device/volume_reader.h"
#include "format/mft_record.h"
#include "fs/file_entry.h"

namespace brevid {

// The absolute sector of record `number` through the $MFT run map `runs`
// (beyond the runs: from volume.mftStart). False when that sector lies
// outside the volume (when its sectorCount is known).
bool LocateMftRecord(uint32_t number, const VolumeInfo& volume, const DataRunMap& runs,
                     uint64_t* sector);

// What a parse asks for, served through $MFT's run map `runs`: records by
// number, clusters only inside the volume. `reader` and `runs` must outlive
// the fetcher.
MftRecordFetcher MakeMftRunsFetcher(VolumeReader& reader, const DataRunMap& runs);

// Reads record `number` through `runs` and parses it; attribute lists are
// followed the same way.
bool ReadMftRecord(VolumeReader& reader, uint32_t number, MftRecordInfo& info,
                   const DataRunMap& runs, uint32_t nested);

// Reads record `number` through the volume's record-location maps (first
// copy, then each further copy in map order) until a copy parses to the
// entry's name and size. False without a message when the number has no
// known location; after every copy disagreed, shows "mft错误" (caption
// "警告") and returns false. Attribute lists follow the first copies.
bool ReadMftRecordForEntry(VolumeReader& reader, uint32_t number, MftRecordInfo& info,
                           const NtfsEntry& entry, uint32_t nested);

}  // namespace brevid
