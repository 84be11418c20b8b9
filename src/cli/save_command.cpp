// brevid save SOURCE VOLUME --to DIR [ITEM...]: copies tree entries out, the
// way "单选保存" does for each item.
#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/expand.h"
#include "cli/filter_options.h"
#include "cli/sources.h"
#include "cli/terminal.h"
#include "common/text.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "tasks/output_guard.h"
#include "tasks/save_run.h"
#include "view/file_rows.h"
#include "view/node_handle.h"
#include "view/recovery_chances.h"
#include "view/tree_paths.h"

namespace brevid::cli {
namespace {

struct SaveOptions {
  std::string source;
  std::string volume;
  std::string target;
  std::vector<std::string> items;
  bool noUseFat = false;
  bool noDeleted = false;
  bool noNormal = false;
  bool force = false;
  bool format = false;
  bool extraFound = false;
  bool json = false;
  RowFilter filter;
  std::string badMap;
  std::string results;
  std::vector<std::string> with;
};

// The target as the engine names it (CP936); false, with the refusal
// printed, when the code page cannot hold the path.
bool TargetInCodePage(const std::string& targetUtf8, std::string* ansi) {
  std::error_code ec;
  std::string absolute = std::filesystem::absolute(targetUtf8, ec).string();
  bool lossy = false;
  *ansi = Utf8ToAnsi(absolute, &lossy);
  if (!lossy && AnsiToUtf8(*ansi) == absolute) return true;
  std::fprintf(stderr, "%s\n", AnsiToUtf8(TargetNotInCodePageText()).c_str());
  return false;
}

// The run's outcome on standard output (or as JSON), each file not written
// whole on standard error; the exit status says whether all was whole.
int Summarize(const SaveStats& stats, bool json) {
  if (json) {
    nlohmann::json out;
    out["files"] = stats.files;
    out["bytes"] = stats.bytes;
    out["skipped"] = nlohmann::json::object();
    for (const auto& [reason, count] : stats.skipped) out["skipped"][reason] = count;
    out["notWhole"] = nlohmann::json::array();
    for (const NotWhole& file : stats.notWhole)
      out["notWhole"].push_back({{"path", AnsiToUtf8(file.path)}, {"why", file.why}});
    out["stopped"] = stats.stopped;
    out["whole"] = stats.Whole();
    std::printf("%s\n", out.dump(2).c_str());
  } else {
    std::printf("%s\n", SaveSummaryText(stats).c_str());
  }
  for (const NotWhole& file : stats.notWhole)
    std::fprintf(stderr, "未完整写入: %s: %s\n", AnsiToUtf8(file.path).c_str(), file.why.c_str());
  if (stats.stopped) return kExitStopped;
  return stats.Whole() ? kExitOk : kExitFailure;
}

// Refuses, before any folder is made, a target that reaches a source.
bool TargetAllowed(const DiskList& list, const std::string& ansiTarget) {
  std::vector<const DiskInfo*> disks;
  for (const DiskInfo& disk : list) disks.push_back(&disk);
  const std::string refusal = OutputRefusalFor(disks, ansiTarget);
  if (refusal.empty()) return true;
  std::fprintf(stderr, "错误: %s\n", AnsiToUtf8(refusal).c_str());
  return false;
}

int SaveCarved(const DiskList& list, DiskInfo& disk, const SaveOptions& o) {
  std::string error;
  VolumeInfo* volume = nullptr;
  if (!o.volume.empty() && !(volume = LookUpVolume(disk, o.volume, &error))) {
    std::fprintf(stderr, "错误: %s\n", error.c_str());
    return kExitFailure;
  }
  std::string target;
  if (!TargetInCodePage(o.target, &target)) return kExitFailure;
  if (!TargetAllowed(list, target)) return kExitFailure;
  std::error_code ec;
  std::filesystem::create_directories(o.target, ec);
  TerminalProgress bar("正在保存文件，请稍等...");
  ProgressRecord progress;
  progress.window = &bar;
  BusyFlag busy{0};
  SaveStats stats;
  RunOnWorker(progress, [&] { stats = RunCarvedSave(disk, volume, target, progress, busy); });
  return Summarize(stats, o.json);
}

}  // namespace

Command AddSaveCommand(CLI::App& app) {
  auto o = std::make_shared<SaveOptions>();
  CLI::App* sub =
      app.add_subcommand("save", "Copy tree entries (or the whole volume) to a target folder");
  sub->add_option("SOURCE", o->source, "Image file, device node or disk number")->required();
  sub->add_option("VOLUME", o->volume,
                  "The volume's item text (mount point or Partition name); with --extra-found "
                  "only the carved files inside it");
  sub->add_flag("--extra-found", o->extraFound,
                "Save the files a deep scan found by their signatures (with --results) into "
                "DIR/Extra Found Files: all of the disk's, or those inside VOLUME");
  sub->add_option("ITEM", o->items,
                  "Entries as `brevid tree` prints their paths; none: the whole volume");
  sub->add_option("--to", o->target, "Target folder")->required();
  sub->add_flag("--no-use-fat", o->noUseFat,
                "FAT: copy normal files as consecutive clusters, not along the FAT");
  sub->add_flag("--no-deleted", o->noDeleted, "Leave deleted files out");
  sub->add_flag("--no-normal", o->noNormal, "Leave normal (not deleted) files out");
  sub->add_flag("--format", o->format, "Format recovery first (as `brevid tree --format`)");
  sub->add_flag("--force", o->force,
                "Kept for older scripts; a target that reaches the source (the volume being "
                "recovered, a file system mounted from the source disk) is always refused");
  sub->add_flag("--json", o->json,
                "Print the summary as JSON, with every file not written whole by name");
  AddFilterOptions(sub, &o->filter);
  sub->add_option("--bad-map", o->badMap,
                  "The rescue map (GNU ddrescue's format) the image SOURCE was made with: a file "
                  "reading any area the map does not call finished is reported as not whole");
  sub->footer(
      "Exit status: 0 when everything chosen was written whole; 1 when anything failed, was "
      "refused or was not written whole (the summary names each such file; a file cut short "
      "is left as NAME.partial); 2 on bad usage; 130 when stopped with Ctrl-C, after keeping "
      "what was written.");
  sub->add_option("--with", o->with,
                  "A further member disk (image file or device node) of a dynamic-disk group "
                  "or LVM2 volume group; repeatable. VOLUME is then looked for on every disk, "
                  "group pseudo-disks included")
      ->allow_extra_args(false);
  sub->add_option(
      "--results", o->results,
      "Scan-result file: when it exists, it is read into the disk first, so that a volume "
      "found by a scan can be named");
  return {
      sub, [o]() {
        DiskList list;
        std::string error;
        DiskInfo* disk = AddSources(list, o->source, o->with, &error);
        if (disk && (!ApplyResultsFile(list, o->results, &error) ||
                     !ApplyBadMap(*disk, o->badMap, &error))) {
          std::fprintf(stderr, "%s\n", error.c_str());
          return kExitFailure;
        }
        if (o->volume.empty() && !o->extraFound) {
          std::fprintf(stderr, "错误: 需要 VOLUME (或 --extra-found)\n");
          return kExitUsage;
        }
        if (disk && o->extraFound) return SaveCarved(list, *disk, *o);
        VolumeInfo* volume = disk ? LookUpVolumeInList(list, &disk, o->volume, &error) : nullptr;
        if (!volume) {
          std::fprintf(stderr, "错误: %s\n", error.c_str());
          return kExitFailure;
        }
        std::string target;
        if (!TargetInCodePage(o->target, &target) || !TargetAllowed(list, target))
          return kExitFailure;
        ExpandOutcome outcome = ExpandOutcome::kDone;
        if (!ExpandOnWorker(*disk, *volume, o->format, &error, &outcome)) {
          std::fprintf(stderr, "错误: %s\n", error.c_str());
          return kExitFailure;
        }
        // Only empty roots stand: saving them would pass nothing off as success.
        if (outcome == ExpandOutcome::kMftUnreadable || outcome == ExpandOutcome::kNoFileSystem ||
            outcome == ExpandOutcome::kSourceUnreadable) {
          std::fprintf(stderr, "错误: 分区 %s 没有读得出的文件系统结构, 无可保存\n",
                       AnsiToUtf8(volume->name).c_str());
          return kExitFailure;
        }
        std::error_code ec;
        std::filesystem::create_directories(o->target, ec);
        NodeTable table(*volume);
        // Each item with the folder it is saved into.
        std::vector<std::pair<SaveItem, std::string>> items;
        if (o->items.empty() && o->filter.NarrowsFiles()) {
          // The matching files, each in its tree folder under the target.
          RecoveryChances chances(*disk, *volume);
          ForEachListingRow(
              table,
              [&](const ListingRow& l) {
                if (!o->filter.Matches(l.row)) return;
                std::optional<SaveItem> item = ItemForPath(table, l.path);
                const std::string folder = std::filesystem::path(l.path).parent_path().string();
                std::filesystem::create_directories(o->target + "/" + folder, ec);
                if (item) items.emplace_back(*item, JoinPath(target, PathToAnsi(folder)));
              },
              o->filter.recovery ? &chances : nullptr);
        } else if (o->items.empty()) {
          items = {{SaveItemOf(table.Root()), target}, {SaveItemOf(table.Scattered()), target}};
        }
        for (const std::string& path : o->items) {
          std::optional<SaveItem> item = ItemForPath(table, path);
          if (!item) {
            std::fprintf(stderr, "错误: 树中没有 %s\n", path.c_str());
            return kExitFailure;
          }
          items.emplace_back(*item, target);
        }
        SaveCommand command{
            disk->Key(), volume->name, target, {!o->noUseFat, !o->noDeleted, !o->noNormal}};
        std::atomic<int> busy{0};
        SaveStats total;
        for (const auto& [item, folder] : items) {
          command.target = folder;
          SavePreparation prep = PrepareSingleSave(list, command, item, busy);
          if (!prep.save) {
            std::string why =
                prep.refusal.messageBox.empty() ? prep.refusal.statusText : prep.refusal.messageBox;
            if (why.empty()) why = Ansi("找不到项目 ") + item.name;
            std::fprintf(stderr, "错误: %s\n", AnsiToUtf8(why).c_str());
            // What earlier items wrote is still summed up.
            if (&item == &items.front().first) return kExitFailure;
            total.skipped[AnsiToUtf8(why)]++;
            continue;
          }
          TerminalProgress bar("正在保存文件，请稍等...");
          ProgressRecord progress;
          progress.window = &bar;
          SaveStats stats;
          RunOnWorker(progress, [&] { stats = RunSave(*prep.save, progress, busy); });
          total.Add(stats);
          if (stats.stopped) break;
        }
        return Summarize(total, o->json);
      }};
}

}  // namespace brevid::cli
