// brevid list [SOURCE...]: the disk pane's list.
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/disk_json.h"
#include "cli/sources.h"
#include "cli/terminal.h"
#include "common/sector_range.h"
#include "common/text.h"
#include "device/volume_names.h"
#include "platform/codepage.h"
#include "tasks/partition_search_task.h"

namespace brevid::cli {

namespace {

struct ListOptions {
  std::vector<std::string> sources;
  std::string results;
  bool json = false;
};

void PrintDisks(const DiskList& list) {
  TextTable table;
  table.AddRow({"磁盘", "标签", "文件类型", "起始地址", "大小"});
  for (const DiskInfo& disk : list) {
    table.AddRow({AnsiToUtf8(disk.Key()), "", "", "0", FormatPaneSize(disk.sizeBytes)});
    std::vector<std::string> items = VolumeItemTexts(disk);
    for (size_t i = 0; i < disk.volumes.size(); ++i) {
      const VolumeInfo& v = disk.volumes[i];
      table.AddRow({"  " + AnsiToUtf8(items[i]), AnsiToUtf8(v.label), AnsiToUtf8(FsTypeText(v)),
                    std::to_string(SectorToByte(v.start)),
                    FormatPaneSize(SectorToByte(v.sectorCount))});
    }
  }
  table.Print(stdout);
}

}  // namespace

nlohmann::json DiskJson(const DiskInfo& disk) {
  nlohmann::json volumes = nlohmann::json::array();
  std::vector<std::string> items = VolumeItemTexts(disk);
  for (size_t i = 0; i < disk.volumes.size(); ++i) {
    const VolumeInfo& v = disk.volumes[i];
    volumes.push_back({
        {"item", AnsiToUtf8(items[i])},
        {"name", AnsiToUtf8(v.name)},
        {"label", AnsiToUtf8(v.label)},
        {"type", AnsiToUtf8(FsTypeText(v))},
        {"fsType", v.fsType},
        {"start", SectorToByte(v.start)},
        {"startSector", v.start},
        {"sectorCount", v.sectorCount},
        {"size", FormatPaneSize(SectorToByte(v.sectorCount))},
        {"entryKind", v.entryKind},
        {"origin", v.origin},
        {"overlapsListed", OverlapsListedVolume(disk, v)},
        {"fromBackupGpt", v.fromBackupGpt},
        {"sectorSize", v.sectorSize},
        {"mountPoint", AnsiToUtf8(v.driveLetter)},
    });
  }
  return {
      {"key", AnsiToUtf8(disk.Key())},
      {"path", AnsiToUtf8(disk.path)},
      {"number", disk.number},
      {"vendor", AnsiToUtf8(disk.vendor)},
      {"product", AnsiToUtf8(disk.product)},
      {"revision", AnsiToUtf8(disk.revision)},
      {"serial", AnsiToUtf8(disk.serial)},
      {"sizeBytes", disk.sizeBytes},
      {"size", FormatPaneSize(disk.sizeBytes)},
      {"cylinders", disk.cylinders},
      {"heads", disk.heads},
      {"sectorsPerTrack", disk.sectorsPerTrack},
      {"fixedMedia", disk.fixedMedia},
      {"volumes", volumes},
  };
}

Command AddListCommand(CLI::App& app) {
  auto options = std::make_shared<ListOptions>();
  CLI::App* sub =
      app.add_subcommand("list", "List disks (or the given image files) and their volumes");
  sub->add_option("SOURCE", options->sources, "Image file, device node or disk number");
  sub->add_flag("--json", options->json, "Machine-readable output");
  sub->add_option("--results", options->results,
                  "Scan-result file: when it exists, its volumes and findings replace those "
                  "of the disk it was written for before listing");
  return {sub, [options]() {
            DiskList list;
            if (options->sources.empty()) {
              int opened = AddPhysicalDisks(list);
              if (opened == 0 && ::geteuid() != 0)
                std::fprintf(stderr,
                             "没有能打开的物理磁盘：读取磁盘需要 root 权限或磁盘组成员身份。"
                             "请用 sudo brevid list，或给出镜像文件：brevid list IMAGE.img\n");
            } else {
              for (const std::string& source : options->sources) {
                std::string error;
                if (!AddSource(list, source, &error)) {
                  std::fprintf(stderr, "错误: %s\n", error.c_str());
                  return kExitFailure;
                }
              }
            }
            std::string error;
            if (!ApplyResultsFile(list, options->results, &error)) {
              std::fprintf(stderr, "%s\n", error.c_str());
              return kExitFailure;
            }
            if (options->json) {
              nlohmann::json disks = nlohmann::json::array();
              for (const DiskInfo& d : list) disks.push_back(DiskJson(d));
              std::printf("%s\n", nlohmann::json{{"disks", disks}}.dump(2).c_str());
            } else {
              PrintDisks(list);
            }
            return kExitOk;
          }};
}

}  // namespace brevid::cli
