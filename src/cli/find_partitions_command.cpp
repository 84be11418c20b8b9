// brevid find-partitions SOURCE: the lost-partition search of the disk pane.
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/disk_json.h"
#include "cli/expand.h"
#include "cli/sources.h"
#include "cli/terminal.h"
#include "common/sector_range.h"
#include "common/text.h"
#include "device/volume_names.h"
#include "platform/codepage.h"
#include "tasks/partition_search_task.h"
#include "tasks/scan_results.h"

namespace brevid::cli {
namespace {

struct FindOptions {
  std::string source;
  bool precise = false;
  std::string results;
  bool json = false;
};

const char* OriginText(uint32_t origin) {
  switch (origin) {
    case kOriginPartitionMap:
      return "分区表";
    case kOriginRebuilt:
      return "痕迹重建";
    case kOriginBootSearch:
      return "搜索找到";
    default:
      return "";
  }
}

void PrintVolumes(const DiskInfo& disk, size_t before) {
  TextTable table;
  table.AddRow({"分区", "标签", "文件类型", "起始地址", "大小", "来源", ""});
  std::vector<std::string> items = VolumeItemTexts(disk);
  for (size_t i = 0; i < disk.volumes.size(); ++i) {
    const VolumeInfo& v = disk.volumes[i];
    table.AddRow({AnsiToUtf8(items[i]), AnsiToUtf8(v.label), AnsiToUtf8(FsTypeText(v)),
                  std::to_string(SectorToByte(v.start)),
                  FormatPaneSize(SectorToByte(v.sectorCount)), OriginText(v.origin),
                  i < before                      ? ""
                  : OverlapsListedVolume(disk, v) ? "与已列分区重叠"
                                                  : "新"});
  }
  table.Print(stdout);
}

}  // namespace

Command AddFindPartitionsCommand(CLI::App& app) {
  auto o = std::make_shared<FindOptions>();
  CLI::App* sub = app.add_subcommand(
      "find-partitions",
      "Search a whole disk for NTFS, FAT32 and FAT16 volumes no partition table lists any more");
  sub->add_option("SOURCE", o->source, "Image file, device node or disk number")->required();
  sub->add_flag("--precise", o->precise,
                "Test every sector (slow) instead of the places partitions usually start");
  sub->add_option("--results", o->results,
                  "Scan-result file: read into the disk first when it exists, written with the "
                  "disk's findings at the end (a second run goes on from the first)");
  sub->add_flag("--json", o->json, "Machine-readable output");
  sub->footer(
      "--results FILE is tested before the scan: another disk's result file, a file that is no "
      "result file, a pipe or an unwritable folder is refused. Ctrl-C stops the scan and keeps "
      "its findings. Exit status: 0 done, 1 refused or failed, 2 bad usage, 130 stopped.");
  return {
      sub, [o]() {
        DiskList list;
        std::string error;
        DiskInfo* disk = AddSource(list, o->source, &error);
        if (!disk || !OpenResultsForScan(list, *disk, o->results, &error)) {
          std::fprintf(stderr, "错误: %s\n", error.c_str());
          return kExitFailure;
        }
        const size_t before = disk->volumes.size();
        // A precise search stopped before, kept in the result file, goes on.
        const bool resumed = o->precise && disk->resume.kind == kResumePreciseSearch;
        const uint64_t resumedFrom = disk->resume.nextSector;
        if (resumed && !o->json)
          std::printf("从第 %llu 扇区继续上次停止的精确搜索\n",
                      static_cast<unsigned long long>(resumedFrom));
        // The progress window's message line: the volumes found so far.
        // Asked on the worker, the only thread touching the list meanwhile.
        TerminalProgress window(AnsiToUtf8(SearchProgressText(0)), [&](uint32_t message, uint64_t) {
          bool counts = message == kProgressStep || message == kProgressSetPos;
          return counts ? AnsiToUtf8(SearchProgressText(CountFoundVolumes(*disk))) : std::string();
        });
        ProgressRecord progress;
        progress.window = &window;
        BusyFlag busy{0};
        SearchMode mode = o->precise ? SearchMode::kPrecise : SearchMode::kQuick;
        int result = 0;
        RunOnWorker(progress, [&] { result = RunPartitionSearch(*disk, mode, progress, busy); });
        if (result == 0 && !progress.StopRequested()) {
          std::fprintf(stderr, "错误: 无法读取 %s\n", o->source.c_str());
          return kExitFailure;
        }
        if (o->json) {
          nlohmann::json out = DiskJson(*disk);
          out["found"] = disk->volumes.size() - before;
          out["stopped"] = progress.StopRequested();
          out["unreadableSectors"] = disk->unreadableSectors;
          out["resumedFrom"] = resumed ? nlohmann::json(resumedFrom) : nlohmann::json();
          std::printf("%s\n", out.dump(2).c_str());
        } else {
          PrintVolumes(*disk, before);
          if (disk->unreadableSectors != 0)
            std::printf("读不出的扇区: %llu (已跳过, 其余照常搜索)\n",
                        static_cast<unsigned long long>(disk->unreadableSectors));
          if (progress.StopRequested() && disk->resume.kind == kResumePreciseSearch &&
              !o->results.empty())
            std::printf("已停止; 用同一个 --results 文件再次运行, 从第 %llu 扇区继续\n",
                        static_cast<unsigned long long>(disk->resume.nextSector));
        }
        return ScanExit(*disk, o->results, progress);
      }};
}

}  // namespace brevid::cli
