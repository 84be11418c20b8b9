// The contract every task of this folder keeps with the front end that
// starts it (the window's panes, or a `brevid` command).
//
// - Preparing (Prepare*, look-ups) runs on the user-interface thread. It
//   checks the busy flag and the operator's choices, answers a refusal with
//   the pane's text, and never starts a thread.
// - Running (Run*) happens on the one worker thread the front end starts
//   for it. A Run* function owns the worker's body: it sets the busy flag to
//   1 first, does the work, clears the flag, and as its last act sends the
//   progress window kProgressClose. The front end fills its views when that
//   message arrives, on its own thread.
// - The plain operations (ExpandVolume and the like) do only the work: no
//   busy flag and no close message, so that one worker can run several in a
//   row (the CLI's save expands first).
// - A stop ("停止", Ctrl-C) sets ProgressRecord::stop. Tasks poll it between
//   reads and return soon after; what they had found stays (tree nodes,
//   recorded sectors, written files) and is shown as if the task had ended.
// - The busy flag belongs to the front end (one per process); tasks only
//   read and write it through the reference they are given.
// - Sources are opened through a SourceOpener (files and devices unless a
//   test hands in memory or faulty sources) and are never written.
#pragma once

#include <atomic>

namespace brevid {

// The process-wide flag that keeps to one long operation at a time.
using BusyFlag = std::atomic<int>;

}  // namespace brevid
