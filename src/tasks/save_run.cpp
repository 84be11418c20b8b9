#include "tasks/save_run.h"

#include <algorithm>
#include <initializer_list>
#include <memory>

#include "common/saturating.h"
#include "common/text.h"
#include "device/volume_names.h"
#include "export/fat_saver.h"
#include "export/ntfs_saver.h"
#include "fs/file_system_driver.h"
#include "fs/volume_trees.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/target_handle.h"
#include "platform/write_guard.h"
#include "tasks/output_guard.h"

namespace brevid {

// One entry to save, found and ready: the tree node or carved record, and
// the reader over its volume.
struct SaveJobPlan {
  DiskInfo* disk = nullptr;
  VolumeInfo* volume = nullptr;
  const FileEntry* fatEntry = nullptr;
  const NtfsEntry* ntfsEntry = nullptr;
  const CarvedFile* extraFound = nullptr;
  uint64_t extraFoundStart = 0;
  bool direct = false;
  std::unique_ptr<VolumeReader> reader;
};

struct PreparedSave {
  SaveCommand command;
  bool multi = false;
  uint64_t stepUnit = 0;
  std::vector<SaveJobPlan> jobs;
  uint64_t notFound = 0;  // items whose entry was no longer there
  uint64_t unopened = 0;  // jobs whose source could not be opened
};

namespace {

const std::string& ExtraFoundName() {
  static const std::string name = "Extra Found Files";
  return name;
}

// What the files under `e` can take at most: a damaged size counts only up
// to `cap`, the volume's length, which is all the savers can read for it.
template <typename Entry>
uint64_t SumFiles(const Entry& e, uint64_t cap) {
  uint64_t sum = e.IsFile() ? std::min<uint64_t>(e.Length(), cap) : 0;
  for (const Entry& c : e.children) sum = AddSat(sum, SumFiles(c, cap));
  return sum;
}

uint64_t VolumeBytes(const VolumeInfo& v) {
  return v.sectorCount == 0 ? UINT64_MAX : MulSat(v.sectorCount, v.sectorSize ? v.sectorSize : 512);
}

// What the look-up by number would compare: the number, name and creation-time text.
bool MatchesItem(const FileEntry& e, const SaveItem& item) {
  return e.firstCluster == static_cast<uint32_t>(item.number) && e.name == item.name &&
         CreatedText(e) == item.timeText;
}
bool MatchesItem(const NtfsEntry& e, const SaveItem& item) {
  return e.recordNumber == static_cast<uint32_t>(item.number) && e.name == item.name &&
         NtfsTimeText(e.createTime) == item.timeText;
}

// Whether `node` is the entry `item` names and hangs under one of `tops`,
// the pseudo folders of the volume's own tree.
template <class Node>
bool IsItemsNode(const Node* node, const SaveItem& item, std::initializer_list<const Node*> tops) {
  if (!node || !MatchesItem(*node, item)) return false;
  const Node* top = node;
  for (int depth = 0; top->parent && depth < (1 << 16); ++depth) top = top->parent;
  return std::find(tops.begin(), tops.end(), top) != tops.end();
}

// Finds disk, volume and entry behind `item`; false when any is missing.
bool FindJob(DiskList& disks, const SaveCommand& command, const SaveItem& item, SaveJobPlan* job,
             uint64_t* bytes) {
  job->disk = FindDisk(disks, command.diskKey);
  if (!job->disk) return false;
  job->volume = FindVolume(*job->disk, command.volumeName);
  if (!job->volume || !job->volume->trees) return false;
  VolumeInfo& v = *job->volume;
  VolumeTrees& trees = *v.trees;
  if (item.carvedStart) {
    auto found = job->disk->extraFound.children.find(*item.carvedStart);
    if (found == job->disk->extraFound.children.end() || !v.Extent().Contains(found->first))
      return false;
    job->extraFound = &found->second;
    job->extraFoundStart = found->first;
    *bytes = found->second.size;
    return true;
  }
  if (item.number == 0 && item.name == ExtraFoundName() && item.timeText == ExtraFoundName()) {
    *bytes = 0;
    bool any = false;
    for (const auto& [start, carved] : job->disk->extraFound.children)
      if (v.Extent().Contains(start)) {
        any = true;
        *bytes += carved.size;
      }
    job->extraFound = &job->disk->extraFound;
    return any;
  }
  const FileSystemDriver* driver = DriverFor(v.fsType);
  if (driver == nullptr) return false;
  if (driver->nodes == TreeNodes::kFat) {
    job->fatEntry =
        IsItemsNode(item.fatNode, item, {&trees.fatRoot, &trees.fatScattered})
            ? item.fatNode
            : FindFatEntry(trees, static_cast<uint32_t>(item.number), item.name, item.timeText);
    if (!job->fatEntry) return false;
    *bytes = SumFiles(*job->fatEntry, VolumeBytes(v));
    return true;
  }
  job->direct = item.number == kDirectModeItem;
  job->ntfsEntry =
      IsItemsNode(item.ntfsNode, item, {&trees.ntfsRoot, &trees.ntfsScattered, &trees.ntfsExtended})
          ? item.ntfsNode
          : FindNtfsEntry(trees, static_cast<uint32_t>(item.number), item.name, item.timeText);
  if (!job->ntfsEntry) return false;
  *bytes = SumFiles(*job->ntfsEntry, VolumeBytes(v));
  return true;
}

bool OpenJobSource(SaveJobPlan* job, const SourceOpener& opener) {
  job->reader = std::make_unique<VolumeReader>(*job->disk, *job->volume, opener);
  return job->reader->Open();
}

SaveRefusal Status(const char* utf8) { return {Ansi(utf8), ""}; }

}  // namespace

std::string SaveSummaryText(const SaveStats& stats) {
  std::string line =
      Format("已写入 %llu 个文件, %llu 字节", static_cast<unsigned long long>(stats.files),
             static_cast<unsigned long long>(stats.bytes));
  uint64_t skipped = 0;
  for (const auto& [reason, count] : stats.skipped) skipped += count;
  line += Format("; 跳过 %llu 项", static_cast<unsigned long long>(skipped));
  for (const auto& [reason, count] : stats.skipped)
    line += Format(" (%s: %llu)", reason.c_str(), static_cast<unsigned long long>(count));
  if (stats.cutAtEnd != 0)
    line += Format("; %llu 个文件的大小超出卷或源的末尾, 只写到末尾",
                   static_cast<unsigned long long>(stats.cutAtEnd));
  if (!stats.notWhole.empty()) line += Format("; %zu 个文件未完整写入", stats.notWhole.size());
  if (stats.stopped) line += "; 已停止, 已写入的文件保留";
  return line;
}

std::string NotEnoughSpaceText(uint64_t bytes) {
  return Ansi("即将保存 ") + FormatPaneSize(bytes) + Ansi(",磁盘空间不够！");
}

std::string TargetNotInCodePageText() {
  return Ansi("警告: 保存路径含有系统代码页(936)不能表示的字符, 请重新选择!");
}

SavePreparation PrepareSingleSave(DiskList& disks, const SaveCommand& command, const SaveItem& item,
                                  const BusyFlag& busy, const SourceOpener& opener) {
  SavePreparation out;
  if (busy.load()) return out.refusal = Status("警告: 请等待当前操作完成!"), out;
  if (command.target.empty()) return out.refusal = Status("警告: 请选择保存路径!"), out;
  SaveJobPlan job;
  if (!FindJob(disks, command, item, &job, &out.totalBytes)) return out;
  if (std::string refusal = OutputRefusalFor({job.disk}, command.target); !refusal.empty())
    return out.refusal.statusText = Ansi("错误: ") + refusal, out;
  std::optional<uint64_t> free = FreeSpace(command.target);
  if (!free) return out.refusal = Status("警告: 请选择保存路径!"), out;  // no such folder
  if (out.totalBytes >= *free) {
    out.refusal.messageBox = NotEnoughSpaceText(out.totalBytes);
    return out;
  }
  if (!OpenJobSource(&job, opener)) return out;
  auto save = std::make_shared<PreparedSave>();
  save->command = command;
  save->jobs.push_back(std::move(job));
  out.save = std::move(save);
  return out;
}

SavePreparation PrepareTickedSave(DiskList& disks, const SaveCommand& command,
                                  const std::vector<SaveItem>& items, bool /*fromLeftList*/,
                                  const BusyFlag& busy, const SourceOpener& opener) {
  SavePreparation out;
  if (busy.load()) return out.refusal = Status("警告: 请等待当前操作完成!"), out;
  if (command.target.empty()) return out.refusal = Status("警告: 请选择保存路径!"), out;
  auto save = std::make_shared<PreparedSave>();
  save->command = command;
  save->multi = true;
  std::vector<uint64_t> sizes;
  for (const SaveItem& item : items) {
    SaveJobPlan job;
    uint64_t bytes = 0;
    if (!FindJob(disks, command, item, &job, &bytes)) {
      save->notFound++;
      continue;
    }
    out.totalBytes += bytes;
    save->jobs.push_back(std::move(job));
  }
  if (save->jobs.empty()) return out;
  std::vector<const DiskInfo*> sources;
  for (const SaveJobPlan& job : save->jobs) sources.push_back(job.disk);
  if (std::string refusal = OutputRefusalFor(sources, command.target); !refusal.empty())
    return out.refusal.statusText = Ansi("错误: ") + refusal, out;
  std::optional<uint64_t> free = FreeSpace(command.target);
  if (!free) return out.refusal = Status("警告: 请选择保存路径!"), out;
  if (*free < out.totalBytes) return out.refusal = Status("目标盘空间不足，请重新选择盘!"), out;
  // Under 100 bytes the unit is 0 and every write steps the bar.
  save->stepUnit = out.totalBytes / 100;
  save->unopened = std::erase_if(
      save->jobs, [&opener](SaveJobPlan& job) { return !OpenJobSource(&job, opener); });
  out.save = std::move(save);
  return out;
}

SaveStats RunSave(PreparedSave& save, ProgressRecord& progress, BusyFlag& busy) {
  busy.store(1);
  SaveStats stats;
  if (save.notFound) stats.skipped["找不到项目"] += save.notFound;
  if (save.unopened) stats.skipped["源打不开"] += save.unopened;
  NameRepair repair;
  UsedClusterSet runSet;
  uint64_t sinceStep = 0;
  std::vector<std::string> sourcePaths;
  for (const SaveJobPlan& job : save.jobs) {
    std::vector<std::string> paths = DiskSourcePaths(*job.disk);
    sourcePaths.insert(sourcePaths.end(), paths.begin(), paths.end());
  }
  SourcesInPlay inPlay(sourcePaths);
  NewFilesFolder folderOfNewFiles;
  if (save.multi) progress.Send(kProgressSetRange, 100, 1);
  for (SaveJobPlan& job : save.jobs) {
    if (progress.StopRequested()) break;
    SaveRequest request;
    request.reader = job.reader.get();
    request.disk = job.disk;
    request.volume = job.volume;
    request.folder = save.command.target;
    request.useFat = save.command.switches.useFat;
    request.includeDeleted = save.command.switches.includeDeleted;
    request.includeNormal = save.command.switches.includeNormal;
    request.direct = job.direct;
    request.multi = save.multi;
    request.progress = &progress;
    request.repair = &repair;
    request.used = &runSet;
    request.stats = &stats;
    request.stepUnit = save.stepUnit;
    request.bytesSinceStep = &sinceStep;
    if (job.fatEntry) SaveFatEntry(request, *job.fatEntry);
    if (job.ntfsEntry) SaveNtfsEntry(request, *job.ntfsEntry);
    if (job.extraFound) SaveExtraFound(request, *job.extraFound, job.extraFoundStart);
  }
  stats.stopped = progress.StopRequested() || repair.stop != 0;
  busy.store(0);
  progress.Send(kProgressClose);
  return stats;
}

SaveStats RunCarvedSave(DiskInfo& disk, VolumeInfo* volume, const std::string& target,
                        ProgressRecord& progress, BusyFlag& busy, const SourceOpener& opener) {
  busy.store(1);
  SaveStats stats;
  VolumeInfo whole;
  whole.sectorCount = disk.sizeBytes / 512;
  VolumeInfo& range = volume != nullptr ? *volume : whole;
  VolumeReader reader(disk, range, opener);
  SourcesInPlay inPlay(DiskSourcePaths(disk));
  if (reader.Open()) {
    NameRepair repair;
    UsedClusterSet used;
    SaveRequest request;
    request.reader = &reader;
    request.disk = &disk;
    request.volume = &range;
    request.folder = target;
    request.progress = &progress;
    request.repair = &repair;
    request.used = &used;
    request.stats = &stats;
    disk.extraFound.name = ExtraFoundName();
    SaveExtraFound(request, disk.extraFound, 0);
  } else {
    stats.skipped["源打不开"]++;
  }
  stats.stopped = progress.StopRequested();
  busy.store(0);
  progress.Send(kProgressClose);
  return stats;
}

}  // namespace brevid
