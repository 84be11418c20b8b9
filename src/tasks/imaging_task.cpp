#include "tasks/imaging_task.h"

namespace brevid {

ImagingOutcome RunImaging(const DiskList& list, const ImagingRequest& request,
                          ProgressRecord& progress, BusyFlag& busy, ImagingCounters* counters,
                          const SourceOpener& opener) {
  busy = 1;
  ImagingOutcome outcome = CopyImage(list, request, progress, counters, opener);
  busy = 0;
  progress.Send(kProgressClose);
  return outcome;
}

}  // namespace brevid
