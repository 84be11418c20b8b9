#include "cli/sources.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "device/volume_names.h"
#include "platform/byte_source.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "tasks/disk_list.h"
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
  if (!AddImageFile(list, Utf8ToAnsi(source))) {
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
    if (!AddImageFile(list, Utf8ToAnsi(member))) {
      *error = "无法打开 " + member + ": " + LastErrorText();
      return nullptr;
    }
  }
  return disk;
}

bool ApplyResultsFile(DiskList& list, const std::string& utf8File, std::string* error) {
  const std::string path = Utf8ToAnsi(utf8File);
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

bool WriteResults(const DiskInfo& disk, const std::string& utf8File) {
  if (utf8File.empty()) return true;
  ProgressRecord progress;
  BusyFlag busy{0};
  PaneStatus status = RunWriteScanResults(disk, Utf8ToAnsi(utf8File), progress, busy);
  if (!status.red) return true;
  std::fprintf(stderr, "%s: %s\n", AnsiToUtf8(status.text).c_str(), utf8File.c_str());
  return false;
}

}  // namespace brevid::cli
