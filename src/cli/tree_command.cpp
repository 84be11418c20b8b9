// brevid tree SOURCE VOLUME: the file pane's view of a volume's tree.
#include <optional>

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

// One line of the listing, as the file pane's right list shows an entry.
struct Row {
  std::string path;  // UTF-8, from the pseudo folder down
  int depth = 0;
  std::string name;  // UTF-8, as the text listing shows it
  uint8_t kind = 0;
  uint64_t size = 0;
  std::string created, modified, accessed;
  uint64_t number = 0;
  std::optional<uint64_t> parentNumber;
};

Row FatRow(const FileEntry& e, const std::string& path, int depth) {
  std::string write = FatTimeText(e.writeDate, e.writeTime);
  Row r{path, depth, AnsiToUtf8(e.name), e.Kind(), e.size, FatTimeText(e.createDate, e.createTime),
        write, write, e.firstCluster, std::nullopt};
  if (e.parent) r.parentNumber = e.parent->firstCluster;
  return r;
}

Row NtfsRow(const NtfsEntry& e, const std::string& path, int depth) {
  return Row{path, depth, AnsiToUtf8(e.name), e.Kind(), e.size, NtfsTimeText(e.createTime),
             NtfsTimeText(e.modifyTime), NtfsTimeText(e.accessTime), e.recordNumber, e.parentNumber};
}

template <class Entry, class MakeRow>
void Collect(const Entry& folder, const std::string& path, int depth, std::vector<Row>& rows, MakeRow make) {
  for (const Entry& child : folder.children) {
    Row row = make(child, "", depth);
    row.path = path + "/" + row.name;
    std::string childPath = row.path;
    rows.push_back(std::move(row));
    if (child.IsFolder()) Collect(child, childPath, depth + 1, rows, make);
  }
}

std::vector<Row> Rows(const VolumeInfo& volume) {
  const VolumeTrees& trees = *volume.trees;
  std::vector<Row> rows;
  if (IsNtfsType(volume.fsType)) {
    for (const NtfsEntry* top : {&trees.ntfsRoot, &trees.ntfsScattered}) {
      std::string path = AnsiToUtf8(top->name);
      rows.push_back(NtfsRow(*top, path, 0));
      rows.back().parentNumber.reset();
      Collect(*top, path, 1, rows, NtfsRow);
    }
  } else {
    for (const FileEntry* top : {&trees.fatRoot, &trees.fatScattered}) {
      std::string path = AnsiToUtf8(top->name);
      rows.push_back(FatRow(*top, path, 0));
      Collect(*top, path, 1, rows, FatRow);
    }
  }
  return rows;
}

std::string Number(const std::optional<uint64_t>& n) { return n ? std::to_string(*n) : ""; }

void PrintText(const std::vector<Row>& rows) {
  TextTable table;
  table.AddRow({"名称", "状态", "大小", "创建时间", "修改时间", "文件读取时间", "文件号", "文件父号"});
  for (const Row& r : rows)
    table.AddRow({std::string(2 * r.depth, ' ') + r.name, AnsiToUtf8(KindStatusText(r.kind)),
                  std::to_string(r.size), r.created, r.modified, r.accessed, std::to_string(r.number),
                  Number(r.parentNumber)});
  table.Print(stdout);
}

void PrintJson(const DiskInfo& disk, const VolumeInfo& volume, const std::vector<Row>& rows) {
  nlohmann::json entries = nlohmann::json::array();
  for (const Row& r : rows)
    entries.push_back({{"path", r.path},
                       {"name", r.name},
                       {"kind", r.kind},
                       {"status", AnsiToUtf8(KindStatusText(r.kind))},
                       {"size", r.size},
                       {"created", r.created},
                       {"modified", r.modified},
                       {"accessed", r.accessed},
                       {"number", r.number},
                       {"parentNumber", r.parentNumber ? nlohmann::json(*r.parentNumber) : nlohmann::json()}});
  nlohmann::json out = {{"disk", AnsiToUtf8(disk.Key())}, {"volume", AnsiToUtf8(volume.name)}, {"entries", entries}};
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
            VolumeInfo* volume = disk ? LookUpVolume(*disk, options->volume, &error) : nullptr;
            if (!volume || !ExpandOnWorker(*disk, *volume, options->format, &error)) {
              std::fprintf(stderr, "错误: %s\n", error.c_str());
              return kExitFailure;
            }
            std::vector<Row> rows = Rows(*volume);
            if (options->deletedOnly) {
              std::erase_if(rows, [](const Row& r) { return !IsDeletedKind(r.kind); });
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
