#include "tasks/scan_results.h"

#include "platform/codepage.h"
#include "platform/write_guard.h"
#include "tasks/output_guard.h"

namespace brevid {
namespace {

PaneStatus Red(const char* utf8) { return {Ansi(utf8), true}; }
PaneStatus Green(const char* utf8) { return {Ansi(utf8), false}; }

PaneStatus StatusOf(ScanResultRead read) {
  switch (read) {
    case ScanResultRead::kRead:
      return Green("打开扫描信息结束");
    case ScanResultRead::kWrongDisk:
      return Red("警告: 不是该磁盘的信息");
    case ScanResultRead::kCannotOpen:
      break;
  }
  return Red("错误: 无法打开扫描信息文件");
}

}  // namespace

DiskInfo* PrepareScanResultsWrite(DiskList& disks, const std::string& selectedItem,
                                  PaneStatus* refusal) {
  if (selectedItem.empty()) {
    *refusal = Red("警告: 没有选择磁盘");
    return nullptr;
  }
  DiskInfo* disk = FindDisk(disks, selectedItem);
  if (!disk) *refusal = Red("警告: 请正确选择磁盘");
  return disk;
}

DiskInfo* PrepareScanResultsRead(DiskList& disks, const std::string& selectedItem,
                                 PaneStatus* refusal) {
  if (selectedItem.empty()) {
    *refusal = Red("警告: 没有选择磁盘");
    return nullptr;
  }
  DiskInfo* disk = FindDisk(disks, selectedItem);
  if (!disk) *refusal = Green("打开扫描信息结束");
  return disk;
}

PaneStatus ScanResultsWriteCancelled() { return Green("保存扫描信息被取消"); }
PaneStatus ScanResultsReadCancelled() { return Green("打开扫描信息被取消"); }

PaneStatus RunWriteScanResults(const DiskInfo& disk, const std::string& ansiPath,
                               ProgressRecord& progress, BusyFlag& busy) {
  busy.store(1);
  const std::string refusal = OutputRefusalFor({&disk}, ansiPath);
  SourcesInPlay inPlay(DiskSourcePaths(disk));
  const bool written = refusal.empty() && WriteScanResultFile(disk, ansiPath);
  busy.store(0);
  progress.Send(kProgressClose);
  if (!refusal.empty()) return {Ansi("错误: ") + refusal, true};
  return written ? Green("保存扫描信息结束") : Red("错误: 创建保存文件失败");
}

ScanResultsReadOutcome RunReadScanResults(DiskInfo& disk, const std::string& ansiPath,
                                          ProgressRecord& progress, BusyFlag& busy) {
  busy.store(1);
  ScanResultRead read = ReadScanResultFile(disk, ansiPath);
  busy.store(0);
  progress.Send(kProgressClose);
  return {read, StatusOf(read)};
}

ScanResultsReadOutcome LoadResultsInto(DiskList& disks, const std::string& ansiPath) {
  ScanResultRead read = ScanResultRead::kWrongDisk;
  for (DiskInfo& disk : disks) {
    read = ReadScanResultFile(disk, ansiPath);
    if (read != ScanResultRead::kWrongDisk) break;
  }
  return {read, StatusOf(read)};
}

bool LoadScanResultsForShow(const std::string& ansiPath, DiskInfo* disk) {
  std::string key;
  if (ReadScanResultFileAnyDisk(*disk, ansiPath, &key) != ScanResultRead::kRead) return false;
  disk->vendor = key;
  return true;
}

}  // namespace brevid
