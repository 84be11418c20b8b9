// The file pane's tick boxes over the recovered tree and the disk's carved
// files, and the items a ticked-items save gets from the left list. Ticks
// live in the nodes' own tick bits (and CarvedFile::tickState), so the
// front end only mirrors them. Call from the thread that owns the tree
// while no save worker runs.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "device/disk_info.h"
#include "tasks/save_run.h"
#include "view/node_handle.h"

namespace brevid {

// The operator sets `node` to `state` (TickState). Clear or ticked reaches
// every node below it; partly ticked leaves the nodes below as they are.
// Then each ancestor up to the pseudo folder becomes partly ticked when a
// child is ticked or partly ticked, else clear: it is never ticked
// automatically, because a ticked folder is saved as one job with its
// folder. Kinds never change.
void SetTick(NodeHandle node, uint8_t state);

// SetTick under a filter: only the files at or below `node` that `shown`
// accepts take `state` (clear or ticked); every folder below `node`, and
// `node` itself when it is a folder, then is partly ticked when something
// in it is ticked, else clear; the ancestors follow as with SetTick.
void SetTickShown(NodeHandle node, uint8_t state, const std::function<bool(NodeHandle)>& shown);

// The same for the "Extra Found Files" item, over the carved files that start
// inside `volume`.
void SetExtraFoundTick(DiskInfo& disk, const VolumeInfo& volume, uint8_t state);

// The operator sets the carved file starting at `startSector` to `state`;
// the "Extra Found Files" item follows as an ancestor does.
void SetCarvedTick(DiskInfo& disk, const VolumeInfo& volume, uint64_t startSector, uint8_t state);

// The jobs of a ticked-items save from the left list, in queue order: a
// ticked folder item is one job; a partly ticked one yields its folder items'
// jobs, then one job per ticked non-folder entry in it; a ticked "Extra Found
// Files" item is one job for all carved files in the volume. Carved files
// ticked one by one under a partly ticked "Extra Found Files" item yield no
// job: a save item cannot name a single carved file.
std::vector<SaveItem> TickedItems(const NodeTable& table, const DiskInfo& disk,
                                  const VolumeInfo& volume);

}  // namespace brevid
