// Building an NTFS volume's tree record by record: each record's node is
// hung under the node of its parent record; missing parents are read and
// placed first, and parents that cannot be had are stood in for by
// "$$$Folder%d" placeholders under "零散目录".
#pragma once

#include <cstdint>
#include <set>

#include "device/disk_info.h"
#include "device/volume_reader.h"
#include "format/mft_record.h"
#include "fs/volume_trees.h"
#include "platform/progress.h"

namespace brevid {

// The node a parsed record gives: kind, numbers, size, times and name.
NtfsEntry NtfsEntryFromRecord(const MftRecordInfo& info);

// Where a node goes when its parent is in neither index.
enum class UnknownParent {
  kResolve,  // read the parent chain from the MFT (the MFT scan)
  kRoot,     // under "根目录" for now (the deep-scan path's first pass)
};

// Hangs `node` under its parent. `reader` (open; null: parents are not
// read, as with kRoot) reads parent records through trees.mftRuns;
// `visited` collects the parent records read.
void PlaceNtfsEntry(VolumeTrees& trees, NtfsEntry node, VolumeReader* reader,
                    std::set<uint32_t>& visited, UnknownParent unknown = UnknownParent::kResolve);

// Reads the parent record of `node` and places the parent, its ancestors as
// needed, and `node`. False (node not placed) when the parent record cannot
// be read or carries another number. Chains longer than any real path, and
// chains that come back to a record being placed, end in a placeholder.
bool ResolveParentChain(VolumeReader* reader, NtfsEntry node, VolumeTrees& trees,
                        std::set<uint32_t>& visited, int depth = 0);

// The deep-scan path: builds the tree from the disk's recorded MFT-record
// runs that lie inside the volume, then moves each node that stands under
// the root only for want of its parent to that parent (moved by splicing,
// so no index entry needs repair). False when the disk
// cannot be opened or a stop was requested (what was placed stays).
bool BuildTreeFromMftHits(ProgressRecord& progress, DiskInfo& disk, VolumeInfo& volume,
                          const SourceOpener& opener = FileSourceOpener());

// The placeholder for parent number `number`: "$$$Folder%d" of `kind`
// (a deleted folder unless it stands in for a system folder), appended to
// "零散目录" and spare-indexed.
NtfsEntry& MakePlaceholder(VolumeTrees& trees, uint32_t number, uint8_t kind = kDeletedFolder);

}  // namespace brevid
