// "磁盘镜像" as the front ends run it: the copy of imaging/image_copy.h on
// its worker, under the contract of task_contract.h.
#pragma once

#include "device/disk_info.h"
#include "imaging/image_copy.h"
#include "imaging/imaging_endpoint.h"  // the sector count a front end shows
#include "platform/progress.h"
#include "platform/source_opener.h"
#include "tasks/task_contract.h"

namespace brevid {

// The worker body: sets `busy`, copies what `request` names, clears `busy`,
// sends kProgressClose last. The outcome says whether the copy was done,
// stopped, refused (nothing opened for writing) or failed, with the text to
// show, the bad-sector list and the bytes written. `counters` may be null.
ImagingOutcome RunImaging(const DiskList& list, const ImagingRequest& request,
                          ProgressRecord& progress, BusyFlag& busy, ImagingCounters* counters,
                          const SourceOpener& opener = FileSourceOpener());

}  // namespace brevid
