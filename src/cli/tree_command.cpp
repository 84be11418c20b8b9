// brevid tree SOURCE VOLUME: the file pane's view of a volume's tree.
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/expand.h"
#include "cli/filter_options.h"
#include "cli/sources.h"
#include "cli/terminal.h"
#include "common/text.h"
#include "platform/codepage.h"
#include "view/file_rows.h"
#include "view/node_handle.h"

namespace brevid::cli {
namespace {

struct TreeOptions {
  std::string source;
  std::string volume;
  bool json = false;
  RowFilter filter;
  bool format = false;
  std::string results;
  std::vector<std::string> with;
};

// The name column: the entry's name indented by depth, or with --deleted its
// whole path.
std::string ShownName(const ListingRow& r, bool withPath) {
  return withPath ? r.path : std::string(2 * r.depth, ' ') + AnsiToUtf8(r.row.name);
}

// The tree's rows, then the carved files', each row the filter lets through.
void ForEachShownRow(const NodeTable& table, const DiskInfo& disk, const VolumeInfo& volume,
                     const RowFilter& filter, const std::function<void(const ListingRow&)>& f) {
  auto shown = [&](const ListingRow& r) {
    if (filter.Matches(r.row)) f(r);
  };
  ForEachListingRow(table, shown);
  for (const ListingRow& r : ExtraFoundListing(disk, volume)) shown(r);
}

// The status column in UTF-8: the five kinds' words converted once, not once a row.
std::string Utf8Status(const std::string& status) {
  static const auto known = [] {
    std::vector<std::pair<std::string, std::string>> words;
    for (uint8_t kind = 0; kind <= 4; ++kind)
      words.emplace_back(KindStatusText(kind), AnsiToUtf8(KindStatusText(kind)));
    return words;
  }();
  for (const auto& [ansi, utf8] : known)
    if (ansi == status) return utf8;
  return AnsiToUtf8(status);
}

// The row's cells, assigned into `cells` (eight of them) so that their
// storage serves every row.
void TextCells(const ListingRow& l, bool withPath, std::vector<std::string>& cells) {
  const FileRow& r = l.row;
  cells.resize(8);
  cells[0] = ShownName(l, withPath);
  cells[1] = Utf8Status(r.status);
  cells[2] = r.sizeText;
  cells[3] = r.created;
  cells[4] = r.modified;
  cells[5] = r.accessed;
  cells[6] = r.numberText;
  cells[7] = r.parentNumberText;
}

// Two walks of the tree, one to size the columns and one to print.
void PrintText(const NodeTable& table, const DiskInfo& disk, const VolumeInfo& volume,
               const RowFilter& filter) {
  const bool withPath = filter.deletedOnly || filter.NarrowsFiles();
  const std::vector<std::string> heading = {"名称",     "状态",         "大小",   "创建时间",
                                            "修改时间", "文件读取时间", "文件号", "文件父号"};
  StreamedTable text;
  text.Measure(heading);
  std::vector<std::string> cells;
  ForEachShownRow(table, disk, volume, filter, [&](const ListingRow& l) {
    TextCells(l, withPath, cells);
    text.Measure(cells);
  });
  text.PrintRow(stdout, heading);
  ForEachShownRow(table, disk, volume, filter, [&](const ListingRow& l) {
    TextCells(l, withPath, cells);
    text.PrintRow(stdout, cells);
  });
}

// What `{"disk", "entries", "volume"}.dump(2)` prints, one entry at a time.
void PrintJson(const NodeTable& table, const DiskInfo& disk, const VolumeInfo& volume,
               const RowFilter& filter) {
  const bool withPath = filter.deletedOnly || filter.NarrowsFiles();
  std::printf("{\n  \"disk\": %s,\n  \"entries\": [",
              nlohmann::json(AnsiToUtf8(disk.Key())).dump().c_str());
  bool any = false;
  ForEachShownRow(table, disk, volume, filter, [&](const ListingRow& l) {
    const FileRow& r = l.row;
    nlohmann::json entry = {
        {"path", l.path},
        {"name", withPath ? l.path : AnsiToUtf8(r.name)},
        {"kind", r.kind},
        {"status", Utf8Status(r.status)},
        {"size", r.size},
        {"created", r.created},
        {"modified", r.modified},
        {"accessed", r.accessed},
        {"number", r.number},
        {"parentNumber", r.parentNumber ? nlohmann::json(*r.parentNumber) : nlohmann::json()}};
    std::string text = entry.dump(2);
    std::string indented = "    ";
    for (char c : text) {
      indented += c;
      if (c == '\n') indented += "    ";
    }
    std::printf("%s\n%s", any ? "," : "", indented.c_str());
    any = true;
  });
  std::printf("%s],\n  \"volume\": %s\n}\n", any ? "\n  " : "",
              nlohmann::json(AnsiToUtf8(volume.name)).dump().c_str());
}

}  // namespace

Command AddTreeCommand(CLI::App& app) {
  auto options = std::make_shared<TreeOptions>();
  CLI::App* sub =
      app.add_subcommand("tree", "Expand a volume and print its tree, deleted entries included");
  sub->add_option("SOURCE", options->source, "Image file, device node or disk number")->required();
  sub->add_option("VOLUME", options->volume,
                  "The volume's item text (mount point or Partition name)")
      ->required();
  sub->add_flag("--json", options->json, "Machine-readable output");
  sub->add_flag(
      "--format", options->format,
      "Format recovery: collect the volume's directory sectors first, then rebuild from them");
  sub->add_flag("--deleted", options->filter.deletedOnly,
                "Only deleted files and folders, with their paths");
  AddFilterOptions(sub, &options->filter);
  sub->add_option("--with", options->with,
                  "A further member disk (image file or device node) of a dynamic-disk group "
                  "or LVM2 volume group; repeatable. VOLUME is then looked for on every disk, "
                  "group pseudo-disks included")
      ->allow_extra_args(false);
  sub->add_option(
      "--results", options->results,
      "Scan-result file: when it exists, it is read into the disk first, so that a volume "
      "found by a scan can be named");
  return {sub, [options]() {
            DiskList list;
            std::string error;
            DiskInfo* disk = AddSources(list, options->source, options->with, &error);
            if (disk && !ApplyResultsFile(list, options->results, &error)) {
              std::fprintf(stderr, "%s\n", error.c_str());
              return kExitFailure;
            }
            VolumeInfo* volume =
                disk ? LookUpVolumeInList(list, &disk, options->volume, &error) : nullptr;
            if (!volume || !ExpandOnWorker(*disk, *volume, options->format, &error)) {
              std::fprintf(stderr, "错误: %s\n", error.c_str());
              return kExitFailure;
            }
            NodeTable table(*volume);
            if (options->json)
              PrintJson(table, *disk, *volume, options->filter);
            else
              PrintText(table, *disk, *volume, options->filter);
            return kExitOk;
          }};
}

}  // namespace brevid::cli
