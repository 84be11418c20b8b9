#include "cli/expand.h"

#include <csignal>
#include <cstdio>
#include <thread>

#include "cli/terminal.h"
#include "platform/codepage.h"
#include "tasks/expand_volume.h"

namespace brevid::cli {
namespace {

ProgressRecord* g_running = nullptr;

extern "C" void RequestStop(int) {
  if (g_running) g_running->stop.store(1);
}

}  // namespace

void RunOnWorker(ProgressRecord& progress, const std::function<void()>& work) {
  g_running = &progress;
  auto previous = std::signal(SIGINT, RequestStop);
  std::thread worker(work);
  worker.join();
  std::signal(SIGINT, previous);
  g_running = nullptr;
}

bool ExpandOnWorker(DiskInfo& disk, VolumeInfo& volume, bool formatScan, std::string* error,
                    ExpandOutcome* result) {
  if (!IsExpandable(volume.fsType)) {
    error->assign("不能展开分区 ")
        .append(AnsiToUtf8(volume.name))
        .append(": 只支持 FAT16、FAT32、exFAT 和 NTFS");
    return false;
  }
  TerminalProgress bar(formatScan ? "正在扫描格式化信息，请稍等..." : "正在展开分区，请稍等...");
  ProgressRecord progress;
  progress.window = &bar;
  ExpandMode mode = formatScan ? ExpandMode::kFormatScan : ExpandMode::kExpand;
  ExpandOutcome outcome = ExpandOutcome::kDone;
  RunOnWorker(progress, [&] {
    outcome = ExpandVolume(disk, volume, mode, progress);
    progress.Send(kProgressClose);
  });
  // The tree then holds only its pseudo folders; an empty tree must not
  // pass for an empty volume.
  if (outcome == ExpandOutcome::kMftUnreadable)
    std::fprintf(stderr, "警告: 分区 %s 的 MFT 读不出来 (记录 0 和 $MFTMirr 都已损坏)\n",
                 AnsiToUtf8(volume.name).c_str());
  if (outcome == ExpandOutcome::kNoFileSystem)
    std::fprintf(stderr, "警告: 分区 %s 找不到 FAT 引导扇区或分配表\n",
                 AnsiToUtf8(volume.name).c_str());
  if (result) *result = outcome;
  return true;
}

}  // namespace brevid::cli
