#include "tasks/content_read.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/codepage.h"

namespace brevid {
namespace {

// A folder of its own under $TMPDIR (or /tmp), removed with the object.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/brevid-read-XXXXXX";
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

}  // namespace

ContentRead ReadRecoveredContent(DiskList& disks, const std::string& diskKey,
                                 const std::string& volumeName, const SaveItem& item,
                                 uint64_t limit, ProgressRecord& progress,
                                 const std::function<void(std::span<const char>)>& sink) {
  ContentRead read;
  ScratchFolder scratch;
  if (scratch.path().empty()) {
    read.error = Utf8ToAnsi("无法建立临时文件夹");
    return read;
  }
  std::atomic<int> busy{0};
  SavePreparation prep =
      PrepareSingleSave(disks, {diskKey, volumeName, PathToAnsi(scratch.path()), {}}, item, busy);
  if (!prep.save) {
    read.error =
        prep.refusal.messageBox.empty() ? prep.refusal.statusText : prep.refusal.messageBox;
    return read;
  }
  read.stats = RunSave(*prep.save, progress, busy);
  std::filesystem::path written;
  int files = 0;
  std::error_code ec;
  for (const auto& f : std::filesystem::recursive_directory_iterator(scratch.path(), ec))
    if (f.is_regular_file() && ++files == 1) written = f.path();
  if (files != 1) {
    read.notOneFile = true;
    return read;
  }
  std::ifstream in(written, std::ios::binary);
  std::vector<char> piece(1 << 20);
  uint64_t handed = 0;
  while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
    const uint64_t n = static_cast<uint64_t>(in.gcount());
    read.size += n;
    const uint64_t give = handed < limit ? std::min(n, limit - handed) : 0;
    if (give) sink(std::span<const char>(piece.data(), give));
    handed += give;
  }
  read.ok = true;
  return read;
}

}  // namespace brevid
