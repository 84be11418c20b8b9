// brevid tree SOURCE VOLUME: the file pane's view of a volume's tree.
#include <array>
#include <charconv>
#include <memory>
#include <nlohmann/json.hpp>
#include <span>
#include <utility>

#include "cli/commands.h"
#include "cli/expand.h"
#include "cli/filter_options.h"
#include "cli/sources.h"
#include "cli/terminal.h"
#include "common/text.h"
#include "platform/codepage.h"
#include "view/file_rows.h"
#include "view/node_handle.h"
#include "view/recovery_chances.h"
#include "view/unrescued_rows.h"

namespace brevid::cli {
namespace {

struct TreeOptions {
  std::string source;
  std::string volume;
  bool json = false;
  RowFilter filter;
  bool format = false;
  std::string results;
  std::string badMap;
  std::vector<std::string> with;
};

// With --bad-map: the files that meet the map's unrescued areas, counted.
struct BadMapMarks {
  std::unique_ptr<UnrescuedRows> rows;
  uint64_t marked = 0;
  bool Meets(const ListingRow& l) {
    if (!rows || !rows->Meets(l)) return false;
    ++marked;
    return true;
  }
};

// The name column, assigned into `cell`: the entry's name indented by depth,
// or with --deleted its whole path.
void AssignShownName(const ListingRow& r, bool withPath, std::string* cell) {
  if (withPath) {
    *cell = r.path;
    return;
  }
  cell->assign(2 * r.depth, ' ');
  AppendAnsiAsUtf8(r.row.name, cell);
}

// The tree's rows, then the carved files', each row the filter lets through.
void ForEachShownRow(const NodeTable& table, const DiskInfo& disk, const VolumeInfo& volume,
                     const RowFilter& filter, const std::function<void(const ListingRow&)>& f,
                     RecoveryChances* chances = nullptr, bool withPaths = true) {
  auto shown = [&](const ListingRow& r) {
    if (filter.Matches(r.row)) f(r);
  };
  ForEachListingRow(table, shown, chances, withPaths);
  for (const ListingRow& r : ExtraFoundListing(disk, volume)) shown(r);
}

// The status column in UTF-8: the five kinds' words converted once, not once a row.
const std::string& Utf8Status(const std::string& status) {
  static const auto known = [] {
    std::vector<std::pair<std::string, std::string>> words;
    for (uint8_t kind = 0; kind <= 4; ++kind)
      words.emplace_back(KindStatusText(kind), AnsiToUtf8(KindStatusText(kind)));
    return words;
  }();
  for (const auto& [ansi, utf8] : known)
    if (ansi == status) return utf8;
  thread_local std::string other;
  other = AnsiToUtf8(status);
  return other;
}

// The row's cells, pointed to where they stand; the name's is made in
// `name`, whose storage serves every row. With --bad-map a ninth says
// whether the file is whole.
using Cells = std::array<const std::string*, 9>;
std::span<const std::string* const> TextCells(const ListingRow& l, bool withPath,
                                              BadMapMarks* marks, std::string& name, Cells& cells) {
  static const std::string incomplete = "不完整", whole;
  const FileRow& r = l.row;
  AssignShownName(l, withPath, &name);
  cells = {&name,       &Utf8Status(r.status), &r.sizeText,   &r.created,
           &r.modified, &r.accessed,           &r.numberText, &r.parentNumberText};
  if (!marks->rows) return std::span(cells).first(8);
  cells[8] = marks->Meets(l) ? &incomplete : &whole;
  return cells;
}

// Two walks of the tree, one to size the columns and one to print.
void PrintText(const NodeTable& table, const DiskInfo& disk, const VolumeInfo& volume,
               const RowFilter& filter, BadMapMarks* marks) {
  const bool withPath = filter.deletedOnly || filter.NarrowsFiles();
  std::vector<std::string> heading = {"名称",     "状态",         "大小",   "创建时间",
                                      "修改时间", "文件读取时间", "文件号", "文件父号"};
  if (marks->rows) heading.push_back("完整性");
  StreamedTable text;
  text.Measure(heading);
  // Only a filter by chance needs the chances (an NTFS one reads records).
  std::unique_ptr<RecoveryChances> chances;
  if (filter.recovery) chances = std::make_unique<RecoveryChances>(disk, volume);
  std::string name;
  Cells cells;
  ForEachShownRow(
      table, disk, volume, filter,
      [&](const ListingRow& l) { text.Measure(TextCells(l, withPath, marks, name, cells)); },
      chances.get(), withPath);
  marks->marked = 0;  // counted once, on the printing walk
  text.PrintRow(stdout, heading);
  ForEachShownRow(
      table, disk, volume, filter,
      [&](const ListingRow& l) {
        text.PrintRow(stdout, TextCells(l, withPath, marks, name, cells));
      },
      chances.get(), withPath);
}

// `text` as a JSON string, escaped as nlohmann::json escapes valid UTF-8.
void AppendJsonString(std::string_view text, std::string* out) {
  *out += '"';
  for (char c : text) {
    switch (c) {
      case '"':
        *out += "\\\"";
        break;
      case '\\':
        *out += "\\\\";
        break;
      case '\b':
        *out += "\\b";
        break;
      case '\f':
        *out += "\\f";
        break;
      case '\n':
        *out += "\\n";
        break;
      case '\r':
        *out += "\\r";
        break;
      case '\t':
        *out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          *out += escaped;
        } else {
          *out += c;
        }
    }
  }
  *out += '"';
}

// What `{"disk", "entries", "volume"}.dump(2)` prints, one entry at a time.
void PrintJson(const NodeTable& table, const DiskInfo& disk, const VolumeInfo& volume,
               const RowFilter& filter, BadMapMarks* marks) {
  const bool withPath = filter.deletedOnly || filter.NarrowsFiles();
  std::printf("{\n  \"disk\": %s,\n  \"entries\": [",
              nlohmann::json(AnsiToUtf8(disk.Key())).dump().c_str());
  bool any = false;
  RecoveryChances chances(disk, volume);
  std::string entry, name;
  ForEachShownRow(
      table, disk, volume, filter,
      [&](const ListingRow& l) {
        const FileRow& r = l.row;
        entry.assign(any ? ",\n    {" : "\n    {");
        bool first = true;
        auto key = [&entry, &first](const char* name) {
          entry.append(std::exchange(first, false) ? "\n      \"" : ",\n      \"")
              .append(name)
              .append("\": ");
        };
        auto number = [&entry](uint64_t n) {
          char digits[24];
          entry.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
        };
        // In the order and form of nlohmann::json's dump(2): keys sorted.
        key("accessed");
        AppendJsonString(r.accessed, &entry);
        key("created");
        AppendJsonString(r.created, &entry);
        key("kind");
        number(r.kind);
        key("modified");
        AppendJsonString(r.modified, &entry);
        key("name");
        if (withPath) {
          AppendJsonString(l.path, &entry);
        } else {
          name.clear();
          AppendAnsiAsUtf8(r.name, &name);
          AppendJsonString(name, &entry);
        }
        key("number");
        number(r.number);
        key("parentNumber");
        if (r.parentNumber)
          number(*r.parentNumber);
        else
          entry += "null";
        key("path");
        AppendJsonString(l.path, &entry);
        key("recovery");
        if (r.recovery == RecoveryChance::kUnknown)
          entry += "null";
        else
          AppendJsonString(RecoveryWord(r.recovery), &entry);
        key("size");
        number(r.size);
        key("status");
        AppendJsonString(Utf8Status(r.status), &entry);
        if (marks->rows) {
          key("unrescued");
          entry += marks->Meets(l) ? "true" : "false";
        }
        entry += "\n    }";
        std::fwrite(entry.data(), 1, entry.size(), stdout);
        any = true;
      },
      &chances);
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
  sub->add_option("--bad-map", options->badMap,
                  "GNU ddrescue map file of the image: files whose content lies in an area "
                  "the map never rescued are marked 不完整 (JSON: \"unrescued\": true)");
  sub->add_option(
      "--results", options->results,
      "Scan-result file: when it exists, it is read into the disk first, so that a volume "
      "found by a scan can be named");
  return {sub, [options]() {
            DiskList list;
            std::string error;
            DiskInfo* disk = AddSources(list, options->source, options->with, &error);
            if (disk && (!ApplyResultsFile(list, options->results, &error) ||
                         !ApplyBadMap(*disk, options->badMap, &error))) {
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
            BadMapMarks marks;
            if (!options->badMap.empty())
              marks.rows = std::make_unique<UnrescuedRows>(*disk, *volume);
            if (options->json)
              PrintJson(table, *disk, *volume, options->filter, &marks);
            else
              PrintText(table, *disk, *volume, options->filter, &marks);
            if (marks.rows)
              std::fprintf(stderr, "%llu 个文件含映射未救出的扇区\n",
                           static_cast<unsigned long long>(marks.marked));
            return kExitOk;
          }};
}

}  // namespace brevid::cli
