#include "export/exfat_saver.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "common/sector_range.h"
#include "export/fat_saver.h"
#include "export/output_files.h"
#include "format/exfat_layout.h"
#include "fs/volume_trees.h"

namespace brevid {
namespace {

constexpr uint64_t kPiece = 0xA00000;  // 10 MiB

// One run of clusters of the file: where it starts on the source and how
// many bytes of the file it holds.
struct Run {
  uint64_t position = 0;
  uint64_t bytes = 0;
};

class ExfatContent {
 public:
  ExfatContent(const SaveRequest& request, const FileEntry& entry)
      : entry_(entry),
        v_(*request.volume),
        trees_(*v_.trees),
        clusterBytes_(SectorToByte(v_.sectorsPerCluster)),
        tableClusters_(trees_.fatTable.size() / 4) {}

  // The next run of the file, up to `want` bytes; none (0 bytes) at the end
  // of its chain or of the volume.
  Run NextRun(uint64_t want) {
    Run r;
    if (!started_) {
      started_ = true;
      cluster_ = entry_.firstCluster;
    }
    if (want == 0 || cluster_ < exfat::kFirstCluster || clusterBytes_ == 0) return r;
    r.position = SectorToByte(uint64_t{cluster_} * v_.sectorsPerCluster + v_.clusterBase);
    if (OneRun()) {
      // Pieces of 10 MiB from the first cluster on, whatever the cluster size.
      r.position += runDone_;
      r.bytes = std::min(want, kPiece);
      runDone_ += r.bytes;
      return r;
    }
    // Along the FAT: clusters that follow each other on the disk are read
    // together, up to 10 MiB; a run start met again ends the chain.
    if (!passed_.insert(cluster_).second) return r;
    uint64_t clusters = 1;
    uint32_t next = Next(cluster_);
    while (next == cluster_ + clusters && clusters * clusterBytes_ < std::min(want, kPiece)) {
      ++clusters;
      next = Next(next);
    }
    r.bytes = std::min(want, clusters * clusterBytes_);
    cluster_ = next;
    return r;
  }

 private:
  bool OneRun() const {
    return (entry_.exfat & kExfatContiguous) != 0 || IsDeletedKind(entry_.Kind());
  }
  // The FAT entry of `c`, or 0 (no next) past the table or at an end mark.
  uint32_t Next(uint32_t c) const {
    if (c >= tableClusters_) return 0;
    uint32_t next = LoadLe32(trees_.fatTable, size_t{c} * 4);
    return next >= exfat::kFirstCluster && next < tableClusters_ ? next : 0;
  }

  const FileEntry& entry_;
  const VolumeInfo& v_;
  const VolumeTrees& trees_;
  uint64_t clusterBytes_;
  uint64_t tableClusters_;
  bool started_ = false;
  uint32_t cluster_ = 0;
  uint64_t runDone_ = 0;                 // one run: bytes handed out so far
  std::unordered_set<uint32_t> passed_;  // the loop guard of the chain
};

void Write(const SaveRequest& request, TargetHandle& out, std::span<const uint8_t> data) {
  size_t written = 0;
  out.Write(data, &written);
  request.Wrote(written);
}

}  // namespace

void CopyExfatFile(const SaveRequest& request, const FileEntry& entry, std::string path) {
  TargetHandle out;
  if (!OpenOutputFile(&out, &path)) return request.Skip("不能创建输出文件");
  if (request.stats) request.stats->files++;
  const uint64_t size = entry.Length();
  OutputSeal seal(request, out, path, size);
  request.FileRange();
  if (request.Stopped() || size == 0) return;
  const VolumeTrees& trees = *request.volume->trees;
  auto valid = trees.exfatValidLength.find(&entry);
  uint64_t owed = valid == trees.exfatValidLength.end() ? size : std::min(valid->second, size);

  ExfatContent content(request, entry);
  std::vector<uint8_t> piece;
  uint64_t written = 0;
  bool volumeEnded = false;
  while (owed > 0 && !request.Stopped() && !out.WriteFailed()) {
    Run run = content.NextRun(owed);
    if (run.bytes == 0) break;
    // Nothing is taken from beyond the volume or the source.
    const uint64_t room = BytesToVolumeEnd(request, run.position);
    if (room < run.bytes) {
      volumeEnded = true;
      run.bytes = room;
    }
    if (run.bytes == 0) break;
    piece.assign(static_cast<size_t>(run.bytes), 0);
    request.reader->ReadInto(run.position, piece);
    Write(request, out, piece);
    owed -= run.bytes;
    written += run.bytes;
    request.FilePosition(written * 100 / size);
    if (volumeEnded) break;
  }
  if (owed > 0 && !request.Stopped() && !out.WriteFailed()) {
    if (volumeEnded)
      request.CutAtEnd();
    else if (request.stats)
      request.stats->notWhole.push_back({path, "簇链在文件末尾之前结束, 只写到链尾"});
  }
  // Past the valid data length the file system gives zeros. A chain or a
  // volume that ends first leaves the file short, and the seal says so.
  if (owed == 0 && valid != trees.exfatValidLength.end() && !request.Stopped()) {
    piece.assign(static_cast<size_t>(std::min(size - written, kPiece)), 0);
    for (uint64_t left = size - written; left > 0 && !out.WriteFailed();) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
      Write(request, out, std::span<const uint8_t>(piece).first(n));
      left -= n;
    }
  }
  if ((entry.exfat & kExfatNotSureWhole) && request.stats)
    request.stats->notWhole.push_back(
        {path, "删除前不是连续簇或其簇已被再用, 按连续簇读出, 不能确定完整"});
  request.FilePosition(100);
}

}  // namespace brevid
