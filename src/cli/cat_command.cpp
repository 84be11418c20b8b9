// brevid cat SOURCE VOLUME PATH: one file's recovered content on standard
// output, exactly what a save would write (tasks/content_read).
#include <cstdint>
#include <cstdio>

#include "cli/commands.h"
#include "cli/expand.h"
#include "cli/sources.h"
#include "cli/terminal.h"
#include "platform/codepage.h"
#include "tasks/content_read.h"
#include "view/node_handle.h"
#include "view/tree_paths.h"

namespace brevid::cli {
namespace {

struct CatOptions {
  std::string source;
  std::string volume;
  std::string path;
  bool format = false;
  std::string badMap;
  std::string results;
  std::vector<std::string> with;
};

int Run(const CatOptions& o) {
  DiskList list;
  std::string error;
  DiskInfo* disk = AddSources(list, o.source, o.with, &error);
  if (disk && (!ApplyResultsFile(list, o.results, &error) || !ApplyBadMap(*disk, o.badMap, &error)))
    disk = nullptr;
  VolumeInfo* volume = disk ? LookUpVolumeInList(list, &disk, o.volume, &error) : nullptr;
  if (!volume || !ExpandOnWorker(*disk, *volume, o.format, &error)) {
    std::fprintf(stderr, "错误: %s\n", error.c_str());
    return kExitFailure;
  }
  NodeTable table(*volume);
  std::optional<SaveItem> item = ItemForPath(table, o.path);
  if (!item) {
    std::fprintf(stderr, "错误: 树中没有 %s\n", o.path.c_str());
    return kExitFailure;
  }
  ProgressRecord progress;
  ContentRead read;
  RunOnWorker(progress, [&] {
    read = ReadRecoveredContent(
        list, disk->Key(), volume->name, *item, UINT64_MAX, progress,
        [](std::span<const char> bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); });
  });
  if (!read.ok) {
    if (read.notOneFile)
      std::fprintf(stderr, "错误: %s 不是一个文件\n", o.path.c_str());
    else
      std::fprintf(stderr, "错误: %s\n", AnsiToUtf8(read.error).c_str());
    return kExitFailure;
  }
  const SaveStats& stats = read.stats;
  for (const NotWhole& lost : stats.notWhole)
    std::fprintf(stderr, "未完整写入: %s\n", lost.why.c_str());
  if (stats.stopped) return kExitStopped;
  return stats.Whole() ? kExitOk : kExitFailure;
}

}  // namespace

Command AddCatCommand(CLI::App& app) {
  auto o = std::make_shared<CatOptions>();
  CLI::App* sub = app.add_subcommand(
      "cat", "Write one file's recovered content to standard output, as a save would write it");
  sub->add_option("SOURCE", o->source, "Image file, device node or disk number")->required();
  sub->add_option("VOLUME", o->volume, "The volume's item text (mount point or Partition name)")
      ->required();
  sub->add_option("PATH", o->path, "The file's path as `brevid tree` prints it")->required();
  sub->add_flag("--format", o->format, "Format recovery first (as `brevid tree --format`)");
  sub->add_option("--with", o->with, "A further member disk; repeatable")->allow_extra_args(false);
  sub->add_option("--results", o->results, "Scan-result file read into the disk first");
  sub->add_option("--bad-map", o->badMap,
                  "The rescue map the image was made with: exit 1 when the file reads any "
                  "area the map does not call finished");
  return {sub, [o]() { return Run(*o); }};
}

}  // namespace brevid::cli
