#include "cli/sources.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "cli/commands.h"
#include "device/volume_names.h"
#include "platform/byte_source.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "tasks/disk_list.h"
#include "tasks/imaging_task.h"
#include "tasks/output_guard.h"
#include "tasks/scan_results.h"

namespace brevid::cli {

DiskInfo* AddSource(DiskList& list, const std::string& source, std::string* error) {
  bool isNumber = !source.empty() && source.find_first_not_of("0123456789") == std::string::npos;
  if (isNumber) {
    DiskList physical;
    AddPhysicalDisks(physical);
    for (DiskInfo& d : physical)
      if (d.number == source) {
        list.push_back(std::move(d));
        return &list.back();
      }
    *error = "没有编号为 " + source + " 的可打开的物理磁盘";
    return nullptr;
  }
  if (!AddImageFile(list, PathToAnsi(source))) {
    *error = "无法打开 " + source + ": " + LastErrorText();
    return nullptr;
  }
  return &list.back();
}

DiskInfo* AddSources(DiskList& list, const std::string& source,
                     const std::vector<std::string>& with, std::string* error) {
  DiskInfo* disk = AddSource(list, source, error);
  for (const std::string& member : with) {
    if (!disk) break;
    if (!AddImageFile(list, PathToAnsi(member))) {
      *error = "无法打开 " + member + ": " + LastErrorText();
      return nullptr;
    }
  }
  return disk;
}

bool ApplyResultsFile(DiskList& list, const std::string& utf8File, std::string* error) {
  const std::string path = PathToAnsi(utf8File);
  if (utf8File.empty() || !PathExists(path)) return true;
  ScanResultsReadOutcome outcome = LoadResultsInto(list, path);
  if (outcome.read == ScanResultRead::kCannotOpen) {
    *error = AnsiToUtf8(outcome.status.text) + ": " + utf8File;
    return false;
  }
  if (outcome.read == ScanResultRead::kWrongDisk)
    std::fprintf(stderr, "%s: %s\n", AnsiToUtf8(outcome.status.text).c_str(), utf8File.c_str());
  return true;
}

bool ApplyBadMap(DiskInfo& disk, const std::string& utf8File, std::string* error) {
  if (utf8File.empty()) return true;
  std::ifstream in(utf8File, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string why;
  std::optional<RescueMap> map = in ? ParseRescueMap(text.str(), &why) : std::nullopt;
  if (!map) {
    *error = "无法读取映射文件 " + utf8File + (why.empty() ? "" : ": " + why);
    return false;
  }
  disk.unrescued.clear();
  for (const RescueBlock& b : map->blocks)
    if (b.status != rescue::kFinished) disk.unrescued.emplace_back(b.pos, b.End());
  return true;
}

VolumeInfo* LookUpVolume(DiskInfo& disk, const std::string& utf8Name, std::string* error) {
  if (VolumeInfo* volume = FindVolume(disk, Utf8ToAnsi(utf8Name))) return volume;
  std::vector<std::string> items = VolumeItemTexts(disk);
  error->assign("磁盘 ")
      .append(AnsiToUtf8(disk.Key()))
      .append(" 上没有分区 ")
      .append(utf8Name)
      .append("；可选:");
  for (const std::string& item : items) error->append(" ").append(AnsiToUtf8(item));
  return nullptr;
}

VolumeInfo* LookUpVolumeInList(DiskList& list, DiskInfo** disk, const std::string& utf8Name,
                               std::string* error) {
  if (VolumeInfo* volume = LookUpVolume(**disk, utf8Name, error)) return volume;
  const std::string name = Utf8ToAnsi(utf8Name);
  for (DiskInfo& other : list) {
    if (&other == *disk) continue;
    if (VolumeInfo* volume = FindVolume(other, name)) {
      *disk = &other;
      return volume;
    }
  }
  for (DiskInfo& other : list) {
    if (&other == *disk) continue;
    for (const std::string& item : VolumeItemTexts(other))
      error->append(" ").append(AnsiToUtf8(item));
  }
  return nullptr;
}

bool OpenResultsForScan(DiskList& list, DiskInfo& disk, const std::string& utf8File,
                        std::string* error) {
  if (utf8File.empty()) return true;
  const std::string path = PathToAnsi(utf8File);
  std::vector<const DiskInfo*> disks;
  for (const DiskInfo& d : list) disks.push_back(&d);
  if (std::string refusal = OutputRefusalFor(disks, path); !refusal.empty()) {
    *error = AnsiToUtf8(refusal);
    return false;
  }
  struct stat st {};
  if (::stat(utf8File.c_str(), &st) != 0) {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(utf8File, ec).parent_path();
    if (::access(folder.c_str(), W_OK | X_OK) == 0) return true;
    *error = "无法在 " + folder.string() + " 中写入扫描结果文件: " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = utf8File + " 不是普通文件, 不能作为扫描结果文件";
    return false;
  }
  if (::access(utf8File.c_str(), W_OK) != 0) {
    *error = "无法写入扫描结果文件 " + utf8File + ": " + std::strerror(errno);
    return false;
  }
  switch (ReadScanResultFile(disk, path)) {
    case ScanResultRead::kRead:
      return true;
    case ScanResultRead::kWrongDisk:
      *error = utf8File + " 不是该磁盘的扫描结果文件, 不会覆盖它; 请换一个文件名";
      return false;
    case ScanResultRead::kCannotOpen:
      break;
  }
  *error = "无法打开扫描结果文件 " + utf8File + ": " + LastErrorText();
  return false;
}

void AddScanOutputOptions(CLI::App* sub, std::string* results, bool* json) {
  sub->add_option("--results", *results,
                  "Scan-result file: read into the disk first when it exists, written with the "
                  "disk's findings at the end (a second run goes on from the first)");
  sub->add_flag("--json", *json, "Machine-readable output");
  sub->footer(
      "--results FILE is tested before the scan: another disk's result file, a file that is no "
      "result file, a pipe or an unwritable folder is refused. Ctrl-C stops the scan and keeps "
      "its findings. Exit status: 0 done, 1 refused or failed, 2 bad usage, 130 stopped.");
}

int ScanExit(const DiskInfo& disk, const std::string& utf8File, const ProgressRecord& progress) {
  const bool written = WriteResults(disk, utf8File);
  if (progress.StopRequested()) {
    std::fprintf(stderr, "已停止%s\n", utf8File.empty() || !written ? "" : ", 已找到的结果已写入");
    return written ? kExitStopped : kExitFailure;
  }
  return written ? kExitOk : kExitFailure;
}

bool WriteResults(const DiskInfo& disk, const std::string& utf8File) {
  if (utf8File.empty()) return true;
  ProgressRecord progress;
  BusyFlag busy{0};
  PaneStatus status = RunWriteScanResults(disk, PathToAnsi(utf8File), progress, busy);
  if (!status.red) return true;
  std::fprintf(stderr, "%s: %s\n", AnsiToUtf8(status.text).c_str(), utf8File.c_str());
  return false;
}

}  // namespace brevid::cli
