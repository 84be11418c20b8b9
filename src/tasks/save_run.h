// The save commands as the file pane hands them over: "单选保存" for one
// item, "多选保存" for ticked items. Finds the disk, volume and entry behind
// each item, sums what will be written, checks the target's free space, and
// runs the savers. The front end owns the busy flag and the worker thread;
// the tasks keep the contract of task_contract.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/disk_info.h"
#include "export/save_request.h"
#include "fs/file_entry.h"
#include "platform/progress.h"
#include "platform/source_opener.h"
#include "tasks/task_contract.h"

namespace brevid {

// One item of a list as the file pane shows it: its number (first cluster,
// record number, or 0 for "Extra Found Files"), name and creation-time text,
// all CP936.
// The item number that makes an NTFS save copy the entry's content as one
// extent (the direct mode) instead of through its record.
constexpr uint64_t kDirectModeItem = 1;

struct SaveItem {
  SaveItem() = default;
  SaveItem(uint64_t number, std::string name, std::string timeText,
           std::optional<uint64_t> carvedStart = std::nullopt)
      : number(number),
        name(std::move(name)),
        timeText(std::move(timeText)),
        carvedStart(carvedStart) {}

  uint64_t number = 0;
  std::string name;
  std::string timeText;
  // A single carved file, by its start sector, rather than a tree entry.
  std::optional<uint64_t> carvedStart;
  // The tree node itself, when the caller holds it and the tree cannot
  // change before the save is prepared: it is taken after a check that it
  // is the item's, and the look-up by number (and the index it would build
  // over every node) is skipped.
  FileEntry* fatNode = nullptr;
  NtfsEntry* ntfsNode = nullptr;
};

struct SaveSwitches {
  bool useFat = true;          // "是否以FAT做参考"
  bool includeDeleted = true;  // "恢复删除文件"
  bool includeNormal = true;   // "恢复正常文件"
};

// What the command needs from the pane.
struct SaveCommand {
  std::string diskKey;     // CP936
  std::string volumeName;  // the volume's item text or partition name, CP936
  std::string target;      // target folder, CP936
  SaveSwitches switches;
};

// A save that passed every check, ready to run on a worker.
struct PreparedSave;

// Why a command did not start, in the pane's words (CP936). `statusText`
// goes to the status line, `messageBox` to a message box; both empty when a
// command ends silently (an item, volume or disk not found).
struct SaveRefusal {
  std::string statusText;
  std::string messageBox;
};

// The outcome of preparing a save: either a plan to run, or a refusal.
struct SavePreparation {
  std::shared_ptr<PreparedSave> save;
  SaveRefusal refusal;
  uint64_t totalBytes = 0;  // sizes of the files under the chosen entries
};

// "单选保存": one item. Refuses when `busy` is set, the target is empty or
// reaches a source (write_guard.h), or the item's files do not fit in the
// free space (the sum must be below it).
SavePreparation PrepareSingleSave(DiskList& disks, const SaveCommand& command, const SaveItem& item,
                                  const BusyFlag& busy,
                                  const SourceOpener& opener = FileSourceOpener());

// "多选保存": the ticked items, each saved straight into the target. Refuses
// when busy, the target is empty, the target reaches a source, or the free
// space is below the total (each file counted at most up to its volume's
// length). Items not found and jobs whose source cannot be opened are
// counted in the run's skipped items.
SavePreparation PrepareTickedSave(DiskList& disks, const SaveCommand& command,
                                  const std::vector<SaveItem>& items, bool fromLeftList,
                                  const BusyFlag& busy,
                                  const SourceOpener& opener = FileSourceOpener());

// Runs a prepared save on the calling thread (the save worker): sets `busy`,
// runs the savers, clears `busy` and sends the progress window its close
// message. Returns what was written, skipped and not written whole, and
// whether a stop ended it.
SaveStats RunSave(PreparedSave& save, ProgressRecord& progress, BusyFlag& busy);

// Saves the carved files of `disk` that start inside `volume` (null: all of
// them, wherever they lie, also on a disk without any volume) into
// `target` + "/Extra Found Files", each under its own name. The worker body
// of task_contract.h. Nothing is written when the disk cannot be opened.
SaveStats RunCarvedSave(DiskInfo& disk, VolumeInfo* volume, const std::string& target,
                        ProgressRecord& progress, BusyFlag& busy,
                        const SourceOpener& opener = FileSourceOpener());

// The outcome of a save in one line (UTF-8): files and bytes written, what
// was skipped and why, how many files were not written whole, a stop.
std::string SaveSummaryText(const SaveStats& stats);

// "即将保存 %.1f" with the unit the pane uses, then ",磁盘空间不够！" (CP936).
std::string NotEnoughSpaceText(uint64_t bytes);

// The refusal of a target folder whose path the ANSI code page cannot hold,
// which the savers could neither name nor reach (CP936). Front ends test the
// path as they convert it, before they make any folder.
std::string TargetNotInCodePageText();

}  // namespace brevid
