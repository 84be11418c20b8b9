// brevid save SOURCE VOLUME --to DIR [ITEM...]: copies tree entries out, the
// way "单选保存" does for each item.
#include <filesystem>
#include <thread>

#include "cli/commands.h"
#include "cli/expand.h"
#include "cli/sources.h"
#include "cli/terminal.h"
#include "common/text.h"
#include "platform/codepage.h"
#include "tasks/save_run.h"
#include "view/node_handle.h"
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
  std::string results;
  std::vector<std::string> with;
};

// True when `target` lies on the mounted volume (its mount point contains it).
bool TargetOnVolume(const VolumeInfo& volume, const std::string& targetUtf8) {
  if (volume.driveLetter.empty()) return false;
  std::error_code ec;
  std::filesystem::path target = std::filesystem::weakly_canonical(targetUtf8, ec);
  std::filesystem::path mount =
      std::filesystem::weakly_canonical(AnsiToUtf8(volume.driveLetter), ec);
  auto [m, t] = std::mismatch(mount.begin(), mount.end(), target.begin(), target.end());
  return m == mount.end();
}

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

void PrintSummary(const SaveStats& stats) {
  std::string line =
      Format("已写入 %llu 个文件, %llu 字节", static_cast<unsigned long long>(stats.files),
             static_cast<unsigned long long>(stats.bytes));
  uint64_t skipped = 0;
  for (const auto& [reason, count] : stats.skipped) skipped += count;
  line += Format("; 跳过 %llu 项", static_cast<unsigned long long>(skipped));
  for (const auto& [reason, count] : stats.skipped)
    line += Format(" (%s: %llu)", reason.c_str(), static_cast<unsigned long long>(count));
  if (stats.cutAtEnd != 0)
    line += Format("; %llu 个文件的大小超出卷或源的末尾, 只写到末尾",
                   static_cast<unsigned long long>(stats.cutAtEnd));
  std::printf("%s\n", line.c_str());
}

int SaveCarved(DiskInfo& disk, const SaveOptions& o) {
  std::string error;
  VolumeInfo* volume = nullptr;
  if (!o.volume.empty() && !(volume = LookUpVolume(disk, o.volume, &error))) {
    std::fprintf(stderr, "错误: %s\n", error.c_str());
    return kExitFailure;
  }
  std::string target;
  if (!TargetInCodePage(o.target, &target)) return kExitFailure;
  std::error_code ec;
  std::filesystem::create_directories(o.target, ec);
  TerminalProgress bar("正在保存文件，请稍等...");
  ProgressRecord progress;
  progress.window = &bar;
  BusyFlag busy{0};
  SaveStats stats;
  RunOnWorker(progress, [&] { stats = RunCarvedSave(disk, volume, target, progress, busy); });
  PrintSummary(stats);
  return kExitOk;
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
                "Write even when the target lies on the volume being recovered");
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
        if (disk && !ApplyResultsFile(list, o->results, &error)) {
          std::fprintf(stderr, "%s\n", error.c_str());
          return kExitFailure;
        }
        if (o->volume.empty() && !o->extraFound) {
          std::fprintf(stderr, "错误: 需要 VOLUME (或 --extra-found)\n");
          return kExitUsage;
        }
        if (disk && o->extraFound) return SaveCarved(*disk, *o);
        VolumeInfo* volume = disk ? LookUpVolumeInList(list, &disk, o->volume, &error) : nullptr;
        if (volume && TargetOnVolume(*volume, o->target) && !o->force) {
          std::fprintf(stderr, "%s\n(--force 仍然写入)\n",
                       AnsiToUtf8(Ansi("将文件放回原分区行为危险\r\n希望重新选择")).c_str());
          return kExitFailure;
        }
        ExpandOutcome outcome = ExpandOutcome::kDone;
        if (!volume || !ExpandOnWorker(*disk, *volume, o->format, &error, &outcome)) {
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
        std::string target;
        if (!TargetInCodePage(o->target, &target)) return kExitFailure;
        std::error_code ec;
        std::filesystem::create_directories(o->target, ec);
        NodeTable table(*volume);
        std::vector<SaveItem> items;
        if (o->items.empty()) items = {SaveItemOf(table.Root()), SaveItemOf(table.Scattered())};
        for (const std::string& path : o->items) {
          std::optional<SaveItem> item = ItemForPath(table, path);
          if (!item) {
            std::fprintf(stderr, "错误: 树中没有 %s\n", path.c_str());
            return kExitFailure;
          }
          items.push_back(*item);
        }
        SaveCommand command{
            disk->Key(), volume->name, target, {!o->noUseFat, !o->noDeleted, !o->noNormal}};
        std::atomic<int> busy{0};
        SaveStats total;
        for (const SaveItem& item : items) {
          SavePreparation prep = PrepareSingleSave(list, command, item, busy);
          if (!prep.save) {
            std::string why =
                prep.refusal.messageBox.empty() ? prep.refusal.statusText : prep.refusal.messageBox;
            if (why.empty()) why = Ansi("找不到项目 ") + item.name;
            std::fprintf(stderr, "错误: %s\n", AnsiToUtf8(why).c_str());
            return kExitFailure;
          }
          TerminalProgress bar("正在保存文件，请稍等...");
          ProgressRecord progress;
          progress.window = &bar;
          SaveStats stats;
          std::thread worker([&] { stats = RunSave(*prep.save, progress, busy); });
          worker.join();
          total.files += stats.files;
          total.bytes += stats.bytes;
          total.cutAtEnd += stats.cutAtEnd;
          for (const auto& [reason, count] : stats.skipped) total.skipped[reason] += count;
        }
        PrintSummary(total);
        return kExitOk;
      }};
}

}  // namespace brevid::cli
