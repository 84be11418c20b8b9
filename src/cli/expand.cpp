#include "cli/expand.h"

#include <csignal>
#include <thread>

#include "cli/terminal.h"
#include "fs/fat_volume.h"
#include "fs/volume_trees.h"
#include "scan/fat_directory_scan.h"
#include "scan/mft_scan.h"
#include "platform/codepage.h"

namespace brevid::cli {
namespace {

ProgressRecord* g_running = nullptr;

extern "C" void RequestStop(int) {
  if (g_running) g_running->stop.store(1);
}

}  // namespace

bool ExpandVolume(DiskInfo& disk, VolumeInfo& volume, bool formatScan, std::string* error) {
  bool fat = IsFat16Type(volume.fsType) || IsFat32Type(volume.fsType);
  if (!fat && !IsNtfsType(volume.fsType)) {
    error->assign("不能展开分区 ").append(AnsiToUtf8(volume.name)).append(": 只支持 FAT16、FAT32 和 NTFS");
    return false;
  }
  ReleaseTrees(volume);
  TerminalProgress bar(formatScan ? "正在扫描格式化信息，请稍等..." : "正在展开分区，请稍等...");
  ProgressRecord progress;
  progress.window = &bar;
  g_running = &progress;
  auto previous = std::signal(SIGINT, RequestStop);
  std::thread worker([&] {
    if (!fat) {
      // NTFS volumes are always read record by record, for expand and format recovery alike.
      ScanMft(disk, volume, progress);
    } else {
      if (formatScan) ScanFatDirectorySectors(disk, volume, progress);
      if (!progress.StopRequested()) ExpandFatVolume(disk, volume, progress);
    }
    progress.Send(kProgressClose);
  });
  worker.join();
  std::signal(SIGINT, previous);
  g_running = nullptr;
  TreesOf(volume);  // a walk that found nothing still shows its empty roots
  return true;
}

}  // namespace brevid::cli
