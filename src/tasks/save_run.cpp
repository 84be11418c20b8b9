#include "tasks/save_run.h"

#include <memory>

#include "common/text.h"
#include "device/volume_names.h"
#include "export/fat_saver.h"
#include "export/ntfs_saver.h"
#include "fs/volume_trees.h"
#include "platform/codepage.h"
#include "platform/file_system.h"

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
};

namespace {

const std::string& ExtraFoundName() {
  static const std::string name = "Extra Found Files";
  return name;
}

uint64_t SumFiles(const FileEntry& e) {
  uint64_t sum = e.IsFile() ? e.size : 0;
  for (const FileEntry& c : e.children) sum += SumFiles(c);
  return sum;
}

uint64_t SumFiles(const NtfsEntry& e) {
  uint64_t sum = e.IsFile() ? e.size : 0;
  for (const NtfsEntry& c : e.children) sum += SumFiles(c);
  return sum;
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
  if (IsFat16Type(v.fsType) || IsFat32Type(v.fsType)) {
    job->fatEntry =
        FindFatEntry(trees, static_cast<uint32_t>(item.number), item.name, item.timeText);
    if (!job->fatEntry) return false;
    *bytes = SumFiles(*job->fatEntry);
    return true;
  }
  if (IsNtfsType(v.fsType)) {
    job->direct = item.number == kDirectModeItem;
    job->ntfsEntry =
        FindNtfsEntry(trees, static_cast<uint32_t>(item.number), item.name, item.timeText);
    if (!job->ntfsEntry) return false;
    *bytes = SumFiles(*job->ntfsEntry);
    return true;
  }
  return false;
}

bool OpenJobSource(SaveJobPlan* job, const SourceOpener& opener) {
  job->reader = std::make_unique<VolumeReader>(*job->disk, *job->volume, opener);
  return job->reader->Open();
}

SaveRefusal Status(const char* utf8) { return {Ansi(utf8), ""}; }

}  // namespace

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
                                  const std::vector<SaveItem>& items, bool fromLeftList,
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
    if (!FindJob(disks, command, item, &job, &bytes)) continue;
    out.totalBytes += bytes;
    save->jobs.push_back(std::move(job));
  }
  if (save->jobs.empty()) return out;
  std::optional<uint64_t> free = FreeSpace(command.target);
  if (!free) return out.refusal = Status("警告: 请选择保存路径!"), out;
  if (*free < out.totalBytes) return out.refusal = Status("目标盘空间不足，请重新选择盘!"), out;
  save->stepUnit = out.totalBytes / 100;
  if (fromLeftList && save->stepUnit == 0) return out;
  std::erase_if(save->jobs, [&opener](SaveJobPlan& job) { return !OpenJobSource(&job, opener); });
  out.save = std::move(save);
  return out;
}

SaveStats RunSave(PreparedSave& save, ProgressRecord& progress, BusyFlag& busy) {
  busy.store(1);
  SaveStats stats;
  NameRepair repair;
  UsedClusterSet runSet;
  uint64_t sinceStep = 0;
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
  }
  busy.store(0);
  progress.Send(kProgressClose);
  return stats;
}

}  // namespace brevid
