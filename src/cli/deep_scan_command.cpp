// brevid deep-scan SOURCE [VOLUME]: the deep scan of a disk or a volume.
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/commands.h"
#include "cli/disk_json.h"
#include "cli/expand.h"
#include "cli/sources.h"
#include "cli/terminal.h"
#include "common/text.h"
#include "platform/codepage.h"
#include "tasks/deep_scan_task.h"
#include "tasks/scan_results.h"

namespace brevid::cli {
namespace {

struct DeepScanOptions {
  std::string source;
  std::string volume;
  std::string results;
  bool json = false;
};

// Carved files by their extension ("jpg", "pdf", ...).
std::map<std::string, size_t> CarvedByType(const DiskInfo& disk) {
  std::map<std::string, size_t> types;
  for (const auto& [start, file] : disk.extraFound.children) {
    size_t dot = file.name.rfind('.');
    types[dot == std::string::npos ? "" : file.name.substr(dot + 1)]++;
  }
  return types;
}

}  // namespace

Command AddDeepScanCommand(CLI::App& app) {
  auto o = std::make_shared<DeepScanOptions>();
  CLI::App* sub = app.add_subcommand(
      "deep-scan",
      "Read a whole disk (or one volume) for lost volumes, MFT records, FAT folders and files "
      "known by their signatures");
  sub->add_option("SOURCE", o->source, "Image file, device node or disk number")->required();
  sub->add_option("VOLUME", o->volume, "Only this volume's range (its item text)");
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
        if (disk && !OpenResultsForScan(list, *disk, o->results, &error)) disk = nullptr;
        VolumeInfo* volume = nullptr;
        if (disk && !o->volume.empty()) volume = LookUpVolume(*disk, o->volume, &error);
        if (!disk || (!o->volume.empty() && !volume)) {
          std::fprintf(stderr, "错误: %s\n", error.c_str());
          return kExitFailure;
        }
        const size_t before = disk->volumes.size();
        // A scan of the same range stopped before, kept in the result file, goes on.
        const ScanResume& r = disk->resume;
        const bool resumed = r.kind == kResumeDeepScan &&
                             r.rangeStart == (volume ? volume->start : 0) &&
                             r.rangeCount == (volume ? volume->sectorCount : disk->sizeBytes / 512);
        const uint64_t resumedFrom = r.nextSector;
        if (resumed && !o->json)
          std::printf("从第 %llu 扇区继续上次停止的深度扫描\n",
                      static_cast<unsigned long long>(resumedFrom));
        // What was found so far; asked on the worker only.
        TerminalProgress window("正在深度扫描，请稍等...", [&](uint32_t message, uint64_t block) {
          if (message != kProgressSetPos) return std::string();
          DeepScanCounts c = CountFindings(*disk);
          return Format("已找到 %zu 个分区, %zu 个文件 (块 %llu)", c.volumes, c.carvedFiles,
                        static_cast<unsigned long long>(block));
        });
        ProgressRecord progress;
        progress.window = &window;
        BusyFlag busy{0};
        // The volume list may grow: the scan reads a copy of the range's record.
        std::optional<VolumeInfo> range;
        if (volume) range = VolumeInfo(*volume);
        int result = 0;
        RunOnWorker(progress, [&] {
          result = RunDeepScan(*disk, range ? &*range : nullptr, progress, busy);
        });
        if (result == 0) {
          std::fprintf(stderr, "错误: 无法读取 %s\n", o->source.c_str());
          return kExitFailure;
        }
        DeepScanCounts counts = CountFindings(*disk);
        std::map<std::string, size_t> types = CarvedByType(*disk);
        if (o->json) {
          nlohmann::json out = DiskJson(*disk);
          out["volumesAdded"] = disk->volumes.size() - before;
          out["mftRuns"] = counts.mftRuns;
          out["directorySectors"] = counts.directorySectors;
          out["carvedFiles"] = counts.carvedFiles;
          out["carvedByType"] = types;
          out["stopped"] = progress.StopRequested();
          out["unreadableSectors"] = disk->unreadableSectors;
          out["resumedFrom"] = resumed ? nlohmann::json(resumedFrom) : nlohmann::json();
          std::printf("%s\n", out.dump(2).c_str());
          return ScanExit(*disk, o->results, progress);
        }
        if (progress.StopRequested() && disk->resume.kind == kResumeDeepScan && !o->results.empty())
          std::printf("已停止; 用同一个 --results 文件再次运行, 从第 %llu 扇区继续\n",
                      static_cast<unsigned long long>(disk->resume.nextSector));
        std::printf("新分区: %zu\n", disk->volumes.size() - before);
        for (size_t i = before; i < disk->volumes.size(); ++i) {
          const VolumeInfo& v = disk->volumes[i];
          std::printf("  %s  起始扇区 %llu  扇区数 %llu  来源 %u\n", AnsiToUtf8(v.name).c_str(),
                      static_cast<unsigned long long>(v.start),
                      static_cast<unsigned long long>(v.sectorCount), v.origin);
        }
        std::printf("MFT 记录段: %zu\n目录扇区: %zu\n按签名找到的文件: %zu\n", counts.mftRuns,
                    counts.directorySectors, counts.carvedFiles);
        for (const auto& [type, count] : types)
          std::printf("  %s: %zu\n", AnsiToUtf8(type).c_str(), count);
        if (disk->unreadableSectors != 0)
          std::printf("读不出的扇区: %llu (已跳过, 其余照常扫描)\n",
                      static_cast<unsigned long long>(disk->unreadableSectors));
        return ScanExit(*disk, o->results, progress);
      }};
}

}  // namespace brevid::cli
