// brevid results show FILE: what a scan-result file holds.
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/terminal.h"
#include "common/sector_range.h"
#include "common/text.h"
#include "device/volume_names.h"
#include "platform/codepage.h"
#include "tasks/scan_results.h"

namespace brevid::cli {
namespace {

struct ResultsOptions {
  std::string file;
  bool json = false;
};

nlohmann::json ShowJson(const DiskInfo& disk) {
  nlohmann::json volumes = nlohmann::json::array();
  for (const VolumeInfo& v : disk.volumes)
    volumes.push_back({{"name", AnsiToUtf8(v.name)},
                       {"type", AnsiToUtf8(FsTypeText(v))},
                       {"fsType", v.fsType},
                       {"startSector", v.start},
                       {"sectorCount", v.sectorCount},
                       {"size", FormatPaneSize(SectorToByte(v.sectorCount))},
                       {"origin", v.origin}});
  nlohmann::json carved = nlohmann::json::array();
  for (const auto& [start, file] : disk.extraFound.children)
    carved.push_back(
        {{"startSector", start},
         {"size", file.size},
         {"name", AnsiToUtf8(file.name)},
         {"carvedName", AnsiToUtf8(file.carvedName.empty() ? file.name : file.carvedName)}});
  return {{"key", AnsiToUtf8(disk.Key())},
          {"volumes", volumes},
          {"directorySectors", disk.dirClusterSectors.size()},
          {"mftRuns", disk.mftRecordRuns.size()},
          {"carvedFiles", disk.extraFound.children.size()},
          {"carved", carved}};
}

void ShowText(const DiskInfo& disk) {
  std::printf("磁盘: %s\n", AnsiToUtf8(disk.Key()).c_str());
  TextTable table;
  table.AddRow({"分区", "文件类型", "起始扇区", "大小", "来源"});
  for (const VolumeInfo& v : disk.volumes)
    table.AddRow({AnsiToUtf8(v.name), AnsiToUtf8(FsTypeText(v)), std::to_string(v.start),
                  FormatPaneSize(SectorToByte(v.sectorCount)), std::to_string(v.origin)});
  table.Print(stdout);
  std::printf("目录扇区: %zu\nMFT 记录段: %zu\nExtra Found Files: %zu\n",
              disk.dirClusterSectors.size(), disk.mftRecordRuns.size(),
              disk.extraFound.children.size());
}

}  // namespace

Command AddResultsCommand(CLI::App& app) {
  auto options = std::make_shared<ResultsOptions>();
  CLI::App* sub = app.add_subcommand("results", "Scan-result files (.qel_scn)");
  sub->require_subcommand(1);
  CLI::App* show = sub->add_subcommand(
      "show",
      "Print what a scan-result file holds: its disk key, volumes (name, type, start sector, "
      "size, origin: 0 partition map, 1 rebuilt, 2 boot-sector search) and the counts of "
      "directory sectors, MFT record runs and carved files");
  show->add_option("FILE", options->file, "The scan-result file")->required();
  show->add_flag("--json", options->json,
                 "Machine-readable output, with every carved file's start, size and name");
  return {sub, [options]() {
            DiskInfo disk;
            if (!LoadScanResultsForShow(PathToAnsi(options->file), &disk)) {
              std::fprintf(stderr, "错误: 无法打开扫描信息文件: %s\n", options->file.c_str());
              return kExitFailure;
            }
            if (options->json)
              std::printf("%s\n", ShowJson(disk).dump(2).c_str());
            else
              ShowText(disk);
            return kExitOk;
          }};
}

}  // namespace brevid::cli
