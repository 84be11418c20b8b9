// brevid cat SOURCE VOLUME PATH: one file's recovered content on standard
// output, exactly what a save would write: it is saved into a private
// folder, copied out and removed.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli/commands.h"
#include "cli/expand.h"
#include "cli/sources.h"
#include "cli/terminal.h"
#include "platform/codepage.h"
#include "tasks/output_guard.h"
#include "tasks/save_run.h"
#include "view/node_handle.h"
#include "view/tree_paths.h"

namespace brevid::cli {
namespace {

struct CatOptions {
  std::string source;
  std::string volume;
  std::string path;
  bool format = false;
  std::string results;
  std::vector<std::string> with;
};

// A folder of its own under $TMPDIR (or /tmp), removed with the object.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/brevid-cat-XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

int Run(const CatOptions& o) {
  DiskList list;
  std::string error;
  DiskInfo* disk = AddSources(list, o.source, o.with, &error);
  if (disk && !ApplyResultsFile(list, o.results, &error)) disk = nullptr;
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
  ScratchFolder scratch;
  if (scratch.path().empty()) {
    std::fprintf(stderr, "错误: 无法建立临时文件夹\n");
    return kExitFailure;
  }
  std::atomic<int> busy{0};
  SavePreparation prep = PrepareSingleSave(
      list, {disk->Key(), volume->name, PathToAnsi(scratch.path()), {}}, *item, busy);
  if (!prep.save) {
    const std::string why =
        prep.refusal.messageBox.empty() ? prep.refusal.statusText : prep.refusal.messageBox;
    std::fprintf(stderr, "错误: %s\n", AnsiToUtf8(why).c_str());
    return kExitFailure;
  }
  ProgressRecord progress;
  SaveStats stats;
  RunOnWorker(progress, [&] { stats = RunSave(*prep.save, progress, busy); });
  int files = 0;
  std::error_code ec;
  for (const auto& f : std::filesystem::recursive_directory_iterator(scratch.path(), ec)) {
    if (!f.is_regular_file()) continue;
    if (++files > 1) break;
    std::ifstream in(f.path(), std::ios::binary);
    std::vector<char> piece(1 << 20);
    while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0)
      std::fwrite(piece.data(), 1, static_cast<size_t>(in.gcount()), stdout);
  }
  if (files != 1) {
    std::fprintf(stderr, "错误: %s 不是一个文件\n", o.path.c_str());
    return kExitFailure;
  }
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
  return {sub, [o]() { return Run(*o); }};
}

}  // namespace brevid::cli
