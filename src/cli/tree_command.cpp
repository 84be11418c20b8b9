// brevid tree SOURCE VOLUME: the file pane's view of a volume's tree.
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/expand.h"
#include "cli/sources.h"
#include "cli/terminal.h"
#include "common/text.h"
#include "fs/volume_trees.h"
#include "platform/codepage.h"

namespace brevid::cli {
namespace {

struct TreeOptions {
  std::string source;
  std::string volume;
  bool json = false;
  bool deletedOnly = false;
  bool format = false;
};

struct Row {
  std::string path;  // UTF-8, from the pseudo folder down
  int depth = 0;
  const FileEntry* entry = nullptr;
  std::string name;  // UTF-8, as the text listing shows it
};

void Collect(const FileEntry& folder, const std::string& path, int depth, std::vector<Row>& rows) {
  for (const FileEntry& child : folder.children) {
    std::string childPath = path + "/" + AnsiToUtf8(child.name);
    rows.push_back({childPath, depth, &child, AnsiToUtf8(child.name)});
    if (child.IsFolder()) Collect(child, childPath, depth + 1, rows);
  }
}

std::vector<Row> Rows(const VolumeTrees& trees) {
  std::vector<Row> rows;
  for (const FileEntry* top : {&trees.fatRoot, &trees.fatScattered}) {
    std::string path = AnsiToUtf8(top->name);
    rows.push_back({path, 0, top, path});
    Collect(*top, path, 1, rows);
  }
  return rows;
}

std::string ParentNumber(const FileEntry& e) {
  return e.parent ? Format("%u", e.parent->firstCluster) : "";
}

void PrintText(const std::vector<Row>& rows) {
  TextTable table;
  table.AddRow({"名称", "状态", "大小", "创建时间", "修改时间", "文件读取时间", "文件号", "文件父号"});
  for (const Row& row : rows) {
    const FileEntry& e = *row.entry;
    std::string write = FatTimeText(e.writeDate, e.writeTime);
    table.AddRow({std::string(2 * row.depth, ' ') + row.name, AnsiToUtf8(KindStatusText(e.Kind())),
                  Format("%u", e.size), FatTimeText(e.createDate, e.createTime), write, write,
                  Format("%u", e.firstCluster), ParentNumber(e)});
  }
  table.Print(stdout);
}

void PrintJson(const DiskInfo& disk, const VolumeInfo& volume, const std::vector<Row>& rows) {
  nlohmann::json entries = nlohmann::json::array();
  for (const Row& row : rows) {
    const FileEntry& e = *row.entry;
    std::string write = FatTimeText(e.writeDate, e.writeTime);
    entries.push_back({{"path", row.path},
                       {"name", AnsiToUtf8(e.name)},
                       {"kind", e.Kind()},
                       {"status", AnsiToUtf8(KindStatusText(e.Kind()))},
                       {"size", e.size},
                       {"created", FatTimeText(e.createDate, e.createTime)},
                       {"modified", write},
                       {"accessed", write},
                       {"number", e.firstCluster},
                       {"parentNumber", e.parent ? nlohmann::json(e.parent->firstCluster) : nlohmann::json()}});
  }
  nlohmann::json out = {{"disk", AnsiToUtf8(disk.Key())},
                        {"volume", AnsiToUtf8(volume.name)},
                        {"entries", entries}};
  std::printf("%s\n", out.dump(2).c_str());
}

}  // namespace

Command AddTreeCommand(CLI::App& app) {
  auto options = std::make_shared<TreeOptions>();
  CLI::App* sub = app.add_subcommand("tree", "Expand a volume and print its tree, deleted entries included");
  sub->add_option("SOURCE", options->source, "Image file, device node or disk number")->required();
  sub->add_option("VOLUME", options->volume, "The volume's item text (mount point or Partition name)")->required();
  sub->add_flag("--json", options->json, "Machine-readable output");
  sub->add_flag("--format", options->format,
                "Format recovery: collect the volume's directory sectors first, then rebuild from them");
  sub->add_flag("--deleted", options->deletedOnly, "Only deleted files and folders, with their paths");
  return {sub, [options]() {
            DiskList list;
            std::string error;
            DiskInfo* disk = AddSource(list, options->source, &error);
            VolumeInfo* volume = disk ? FindVolume(*disk, options->volume, &error) : nullptr;
            if (!volume || !ExpandVolume(*disk, *volume, options->format, &error)) {
              std::fprintf(stderr, "错误: %s\n", error.c_str());
              return kExitFailure;
            }
            std::vector<Row> rows = Rows(*volume->trees);
            if (options->deletedOnly) {
              std::erase_if(rows, [](const Row& r) { return !IsDeletedKind(r.entry->Kind()); });
              for (Row& r : rows) {
                r.depth = 0;
                r.name = r.path;
              }
            }
            if (options->json)
              PrintJson(*disk, *volume, rows);
            else
              PrintText(rows);
            return kExitOk;
          }};
}

}  // namespace brevid::cli
