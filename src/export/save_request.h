// What one save run hands to the savers: where to write, what to include,
// how to report, and the records that live for the run.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device/disk_info.h"
#include "device/volume_reader.h"
#include "platform/progress.h"

namespace brevid {

// How file names from the disk are repaired; one per run.
struct NameRepair {
  int stop = 0;
  std::string replacement = "$";
  int automatic = 1;
};

// Clusters whose data a FAT run has already handed out: matches of the
// start-cluster search and the first clusters of typed files copied along
// their chain.
using UsedClusterSet = std::set<uint32_t>;

// Skip reasons that are the operator's choice, not a loss.
inline constexpr const char* kDeletedNotChosen = "未选择恢复删除文件";
inline constexpr const char* kNormalNotChosen = "未选择恢复正常文件";

// A file that was not written whole, and why (UTF-8).
struct NotWhole {
  std::string path;  // CP936: where it is now (".partial" when cut short), or was to be
  std::string why;
};

// What a run wrote and what it passed over, for the summary at its end.
struct SaveStats {
  uint64_t files = 0;  // output files written (or left empty, as for size 0)
  uint64_t bytes = 0;
  std::map<std::string, uint64_t> skipped;  // reason (UTF-8) -> entries
  // Files written shorter than their entries claim, because the volume or
  // the source ends before that.
  uint64_t cutAtEnd = 0;
  std::vector<NotWhole> notWhole;
  bool stopped = false;  // the operator stopped the run

  // True when everything chosen was written whole.
  bool Whole() const {
    for (const auto& [reason, count] : skipped)
      if (reason != kDeletedNotChosen && reason != kNormalNotChosen) return false;
    return notWhole.empty() && !stopped;
  }
  void Add(const SaveStats& other) {
    files += other.files;
    bytes += other.bytes;
    cutAtEnd += other.cutAtEnd;
    for (const auto& [reason, count] : other.skipped) skipped[reason] += count;
    notWhole.insert(notWhole.end(), other.notWhole.begin(), other.notWhole.end());
    stopped = stopped || other.stopped;
  }
};

struct SaveRequest {
  VolumeReader* reader = nullptr;  // the source, read-only
  DiskInfo* disk = nullptr;
  VolumeInfo* volume = nullptr;
  std::string folder;  // current output folder, CP936, no trailing separator
  bool useFat = true;
  bool includeDeleted = true;
  bool includeNormal = true;
  bool direct = false;  // NTFS: read content as one extent at recordNumber
  bool multi = false;   // the ticked-items variant
  ProgressRecord* progress = nullptr;
  NameRepair* repair = nullptr;
  UsedClusterSet* used = nullptr;
  SaveStats* stats = nullptr;
  // Multi-item runs step the progress once per `stepUnit` bytes written.
  uint64_t stepUnit = 0;
  uint64_t* bytesSinceStep = nullptr;

  bool Stopped() const { return progress->StopRequested() || (repair && repair->stop); }

  // Progress of one file: single saves show a range and a percentage per
  // file; multi-item runs count bytes and step once per stepUnit.
  void FileRange(uint64_t units = 100, uint64_t step = 1) const {
    if (!multi) progress->Send(kProgressSetRange, units, step);
  }
  void FilePosition(uint64_t position) const {
    if (!multi) progress->Send(kProgressSetPos, position, 0);
  }
  void Wrote(uint64_t bytes) const {
    if (stats) stats->bytes += bytes;
    if (!multi || !bytesSinceStep) return;
    *bytesSinceStep += bytes;
    if (*bytesSinceStep >= stepUnit) {
      progress->Send(kProgressStep);
      *bytesSinceStep = 0;
    }
  }
  void Skip(const std::string& reasonUtf8) const {
    if (stats) stats->skipped[reasonUtf8]++;
  }
  void CutAtEnd() const {
    if (stats) stats->cutAtEnd++;
  }
};

}  // namespace brevid
