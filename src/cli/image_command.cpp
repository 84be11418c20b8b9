// brevid image SOURCE[,VOLUME] --to-file PATH | --to-disk TARGET[,VOLUME]:
// the imaging window, with its bad-sector list; with --map, the rescue
// passes over a ddrescue map and their resume.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/expand.h"
#include "cli/sources.h"
#include "cli/terminal.h"
#include "common/text.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/source_opener.h"
#include "platform/target_handle.h"
#include "platform/write_guard.h"
#include "tasks/imaging_task.h"
#include "tasks/output_guard.h"

namespace brevid::cli {
namespace {

struct ImageOptions {
  std::string source;
  std::string toFile;
  std::string toDisk;
  uint64_t at = 0;
  uint64_t start = 0;
  std::string badList;
  bool json = false;
  std::vector<std::string> with;
  std::string map;
  uint32_t retries = 0;
  bool reverse = false;
  bool direct = false;
  bool sparse = false;
};

// The endpoint text of "PATH[,VOLUME]" (UTF-8) after adding its disk, and
// the further member disks `with`, to `list`; empty with *error when it
// names nothing. The path part ends at the first comma after which the rest
// is no longer part of an existing path. With members, VOLUME may be a volume
// of any disk added, group pseudo-disks included.
std::string AddEndpoint(DiskList& list, const std::string& arg,
                        const std::vector<std::string>& with, std::string* error) {
  size_t comma = std::string::npos;
  bool isNumber = !arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos;
  if (!isNumber && !PathExists(PathToAnsi(arg))) {
    for (size_t at = arg.find(','); at != std::string::npos; at = arg.find(',', at + 1)) {
      const std::string head = arg.substr(0, at);
      if (PathExists(PathToAnsi(head)) ||
          (!head.empty() && head.find_first_not_of("0123456789") == std::string::npos)) {
        comma = at;
        break;
      }
    }
  }
  const std::string path = arg.substr(0, comma);
  DiskInfo* disk = AddSources(list, path, with, error);
  if (!disk) return {};
  if (comma == std::string::npos) return disk->Key();
  VolumeInfo* volume = with.empty() ? LookUpVolume(*disk, arg.substr(comma + 1), error)
                                    : LookUpVolumeInList(list, &disk, arg.substr(comma + 1), error);
  if (!volume) return {};
  return disk->Key() + "," + (volume->driveLetter.empty() ? volume->name : volume->driveLetter);
}

std::string Duration(double seconds) {
  auto s = static_cast<uint64_t>(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
                static_cast<unsigned long long>(s / 60 % 60),
                static_cast<unsigned long long>(s % 60));
  return text;
}

// The bar's caption: MiB done, rate, time left and unreadable sectors so
// far, at most four times a second. Asked on the worker only.
TerminalProgress::Recaption ImagingCaption(const ImagingCounters& counters) {
  const auto begun = std::chrono::steady_clock::now();
  auto shown = begun - std::chrono::seconds(1);
  return [&counters, begun, shown](uint32_t message, uint64_t) mutable {
    const auto now = std::chrono::steady_clock::now();
    if (message != kProgressStep || now - shown <= std::chrono::milliseconds(250))
      return std::string();
    shown = now;
    const double seconds = std::chrono::duration<double>(now - begun).count();
    const double done = static_cast<double>(counters.bytesDone);
    const double total = static_cast<double>(counters.totalBytes);
    const double rate = seconds > 0 ? done / seconds : 0;
    char caption[160];
    std::snprintf(caption, sizeof caption, "镜像 %.0f/%.0f MiB %.1f MiB/s 剩余 %s 坏扇区 %llu",
                  done / 1048576, total / 1048576, rate / 1048576,
                  rate > 0 ? Duration((total - done) / rate).c_str() : "?",
                  static_cast<unsigned long long>(counters.badSectors.load()));
    return std::string(caption);
  };
}

// With a map, as ddrescue shows a rescue: rescued bytes, bad areas, the
// read rate, the time since the last good read and the time left.
TerminalProgress::Recaption RescueCaption(const ImagingCounters& counters) {
  const auto begun = std::chrono::steady_clock::now();
  auto shown = begun - std::chrono::seconds(1);
  uint64_t first = UINT64_MAX;
  return [&counters, begun, shown, first](uint32_t message, uint64_t) mutable {
    const auto now = std::chrono::steady_clock::now();
    if (message != kProgressSetPos || now - shown <= std::chrono::milliseconds(250))
      return std::string();
    shown = now;
    const uint64_t rescued = counters.rescuedBytes;
    if (first == UINT64_MAX) first = rescued;  // what a resumed map already had
    const double seconds = std::chrono::duration<double>(now - begun).count();
    const double rate = seconds > 0 ? static_cast<double>(rescued - first) / seconds : 0;
    const int64_t nowMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const int64_t lastGood = counters.lastGoodReadMs;
    const double sinceGood = lastGood > 0 ? static_cast<double>(nowMs - lastGood) / 1000 : seconds;
    const double left = static_cast<double>(counters.totalBytes - rescued - counters.badBytes);
    char caption[200];
    std::snprintf(
        caption, sizeof caption,
        "救出 %.1f MiB 坏区 %llu 个 %.0f KiB 读速 %.1f MiB/s 上次成功读 %.0f 秒前 剩余 %s",
        static_cast<double>(rescued) / 1048576,
        static_cast<unsigned long long>(counters.badAreas.load()),
        static_cast<double>(counters.badBytes) / 1024, rate / 1048576, sinceGood,
        rate > 0 ? Duration(left / rate).c_str() : "?");
    return std::string(caption);
  };
}

const char* ResultName(ImagingResult result) {
  switch (result) {
    case ImagingResult::kDone:
      return "done";
    case ImagingResult::kStopped:
      return "stopped";
    case ImagingResult::kRefused:
      return "refused";
    case ImagingResult::kFailed:
      return "failed";
  }
  return "";
}

bool WriteBadList(const std::string& path, const std::vector<BadSector>& bad) {
  std::string text;
  for (const BadSector& b : bad)
    text += Format("%s\t%llu\n", AnsiToUtf8(BadSectorRowText(b.row)).c_str(),
                   static_cast<unsigned long long>(b.sector));
  TargetHandle out = TargetHandle::Open(PathToAnsi(path), TargetHandle::Mode::kCreateAlways);
  size_t written = 0;
  return out.IsOpen() &&
         out.Write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), &written);
}

// Both name one file (or are one path) once links are resolved.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

int Run(const ImageOptions& o) {
  DiskList list;
  std::string error;
  ImagingRequest request;
  request.sourceText = AddEndpoint(list, o.source, o.with, &error);
  if (request.sourceText.empty()) {
    std::fprintf(stderr, "错误: %s\n", error.c_str());
    return kExitFailure;
  }
  std::vector<std::string> sources;
  for (const DiskInfo& disk : list) {
    std::vector<std::string> paths = DiskSourcePaths(disk);
    sources.insert(sources.end(), paths.begin(), paths.end());
  }
  // The target disk joins the list below: only what is there now is read.
  SourcesInPlay inPlay(sources);
  request.sourceStartSector = o.start;
  request.toDisk = !o.toDisk.empty();
  if (request.toDisk) {
    request.targetText = AddEndpoint(list, o.toDisk, {}, &error);
    if (request.targetText.empty()) {
      std::fprintf(stderr, "错误: %s\n", error.c_str());
      return kExitFailure;
    }
    request.targetStartSector = o.at;
  } else {
    request.targetFile = PathToAnsi(o.toFile);
  }

  request.mapFile = o.map.empty() ? std::string() : PathToAnsi(o.map);
  request.retries = o.retries;
  request.reverse = o.reverse;
  request.sparse = o.sparse;
  if (!o.map.empty() && !o.badList.empty() && SameFile(o.map, o.badList)) {
    std::fprintf(stderr, "错误: 映射文件不能同时是坏扇区列表: %s\n", o.map.c_str());
    return kExitFailure;
  }
  if (!o.badList.empty()) {
    std::string refusal = OutputRefusal(PathToAnsi(o.badList));
    const std::string target = request.toDisk
                                   ? ResolveImagingEndpoint(list, request.targetText).devicePath
                                   : request.targetFile;
    if (refusal.empty() && SameFile(o.badList, AnsiToUtf8(target)))
      refusal = Ansi("坏扇区列表不能写到镜像目标上: ") + PathToAnsi(o.badList);
    if (!refusal.empty()) {
      std::fprintf(stderr, "错误: %s\n", AnsiToUtf8(refusal).c_str());
      return kExitFailure;
    }
  }

  ImagingCounters counters;
  TerminalProgress window("镜像",
                          o.map.empty() ? ImagingCaption(counters) : RescueCaption(counters));
  ProgressRecord progress;
  progress.window = &window;
  BusyFlag busy{0};
  ImagingOutcome outcome;
  // Block devices are read directly whatever is asked.
  const SourceOpener& opener = o.direct ? DirectFileSourceOpener() : FileSourceOpener();
  RunOnWorker(progress,
              [&] { outcome = RunImaging(list, request, progress, busy, &counters, opener); });

  const std::string text = AnsiToUtf8(outcome.text);
  bool listWritten = true;
  if (!o.badList.empty() && outcome.result != ImagingResult::kRefused &&
      !(listWritten = WriteBadList(o.badList, outcome.badSectors)))
    std::fprintf(stderr, "错误: 无法写入 %s\n", o.badList.c_str());
  if (outcome.result != ImagingResult::kDone) std::fprintf(stderr, "错误: %s\n", text.c_str());
  if (o.json) {
    nlohmann::json out;
    out["result"] = ResultName(outcome.result);
    out["message"] = text;
    out["totalBytes"] = outcome.totalBytes;
    out["bytesWritten"] = outcome.bytesDone;
    out["sectorsDone"] = counters.sectorsDone.load();
    nlohmann::json bad = nlohmann::json::array();
    for (const BadSector& b : outcome.badSectors) bad.push_back(b.sector);
    out["badSectors"] = bad;
    if (outcome.rescue) {
      out["map"] = o.map;
      out["resumed"] = outcome.resumed;
      out["rescuedBytes"] = outcome.bytesDone;
      out["badBytes"] = outcome.badBytes;
      out["badAreas"] = outcome.badAreas;
      out["nonTriedBytes"] = outcome.nonTried;
      out["nonTrimmedBytes"] = outcome.nonTrimmed;
      out["nonScrapedBytes"] = outcome.nonScraped;
    }
    std::printf("%s\n", out.dump(2).c_str());
  } else if (outcome.result != ImagingResult::kRefused) {
    if (outcome.result == ImagingResult::kDone) std::printf("%s\n", text.c_str());
    if (outcome.rescue)
      std::printf("已救出 %llu / %llu 字节，坏区 %llu 个共 %llu 字节，未尝试 %llu 字节%s\n",
                  static_cast<unsigned long long>(outcome.bytesDone),
                  static_cast<unsigned long long>(outcome.totalBytes),
                  static_cast<unsigned long long>(outcome.badAreas),
                  static_cast<unsigned long long>(outcome.badBytes),
                  static_cast<unsigned long long>(outcome.nonTried + outcome.nonTrimmed +
                                                  outcome.nonScraped),
                  outcome.resumed ? "（接续映射文件）" : "");
    else
      std::printf("已写入 %llu / %llu 字节，坏扇区 %zu 个\n",
                  static_cast<unsigned long long>(outcome.bytesDone),
                  static_cast<unsigned long long>(outcome.totalBytes), outcome.badSectors.size());
    if (!outcome.badSectors.empty()) {
      TextTable table;
      table.AddRow({"坏扇区数目", "坏扇区扇区号"});
      for (const BadSector& b : outcome.badSectors)
        table.AddRow({AnsiToUtf8(BadSectorRowText(b.row)), std::to_string(b.sector)});
      table.Print(stdout);
    }
  }
  if (outcome.result == ImagingResult::kStopped && listWritten) return kExitStopped;
  return outcome.result == ImagingResult::kDone && listWritten ? kExitOk : kExitFailure;
}

}  // namespace

Command AddImageCommand(CLI::App& app) {
  auto o = std::make_shared<ImageOptions>();
  CLI::App* sub = app.add_subcommand(
      "image",
      "Copy a disk or a volume sector by sector into a new image file or onto another disk, "
      "listing the sectors it could not read (written as 512 bytes of 0x20)");
  sub->add_option("SOURCE", o->source,
                  "Image file, device node or disk number, optionally followed by a comma and "
                  "the volume's item text (mount point or Partition name)")
      ->required();
  CLI::Option* toFile = sub->add_option("--to-file", o->toFile,
                                        "Create this image file (an existing one is replaced)");
  CLI::Option* toDisk = sub->add_option(
      "--to-disk", o->toDisk,
      "Write onto this disk (device node, disk number, or an image file written in place), "
      "optionally followed by a comma and one of its volumes; never the source itself, nor a "
      "device with a mounted file system");
  toFile->excludes(toDisk);
  sub->add_option("--at", o->at, "Target start sector on the target disk or volume (default 0)")
      ->needs(toDisk);
  sub->add_option("--start", o->start,
                  "Source start sector: the copy begins this many sectors into the source and "
                  "ends at its end (default 0)");
  sub->add_option(
      "--bad-list", o->badList,
      "Also write the bad-sector list to this text file, one \"第N个坏扇区<TAB>sector\" "
      "line each");
  sub->add_option("--with", o->with,
                  "A further member disk (image file or device node) of a dynamic-disk group "
                  "or LVM2 volume group, so that VOLUME may be a volume spread over several "
                  "disks; repeatable. Such a volume is read through its members, a missing "
                  "RAID-5 member rebuilt from parity");
  CLI::Option* map = sub->add_option(
      "--map", o->map,
      "Rescue a failing disk over this map file (GNU ddrescue's mapfile format): copy in "
      "large pieces skipping past errors, then trim, scrape and retry the failed areas. An "
      "existing map is resumed (finished areas are never read again, the image is kept); "
      "the map is rewritten every few seconds and at the end. Unreadable areas are left "
      "unwritten instead of filled with 0x20");
  sub->add_option("--retries", o->retries, "With --map: passes over the bad sectors at the end")
      ->needs(map);
  sub->add_flag("--reverse", o->reverse, "With --map: run the copy pass from the end backwards")
      ->needs(map);
  sub->add_flag("--sparse", o->sparse,
                "With --map and --to-file: leave holes where the source reads zeros")
      ->needs(map)
      ->needs(toFile);
  sub->add_flag("--direct", o->direct,
                "Read image files past the page cache too (block devices always are), so each "
                "unreadable sector costs only itself");
  sub->add_flag("--json", o->json, "Machine-readable outcome with every unreadable sector number");
  sub->footer(
      "Exactly one of --to-file and --to-disk is needed. Ctrl-C stops after the current piece. "
      "A target or bad-sector list that is, or reaches, the source or a member (the same "
      "file, a loop device over it, a file system mounted from it) is refused before "
      "anything is written. Exit status: 0 when the copy is complete, 1 when it was refused "
      "or failed, 2 on bad usage, 130 when stopped with Ctrl-C (what was copied stays).");
  return {sub, [o, sub]() {
            if (o->toFile.empty() == o->toDisk.empty()) {
              std::fprintf(stderr, "%s\n错误: 需要 --to-file 或 --to-disk 之一\n",
                           sub->help().c_str());
              return kExitUsage;
            }
            return Run(*o);
          }};
}

}  // namespace brevid::cli
