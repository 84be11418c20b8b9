#include "support/image_under_test.h"

#include <gtest/gtest.h>

#include <future>

#include "partition/partition_walk.h"
#include "support/file_hash.h"

namespace brevid::test {

DiskInfo WalkImage(const std::string& path) {
  DiskInfo disk;
  disk.path = path;
  SourceHandle handle = SourceHandle::Open(path);
  EXPECT_TRUE(handle.IsOpen()) << path;
  disk.sizeBytes = handle.Size();
  WalkPartitions(disk, handle, path);
  return disk;
}

bool RunBounded(const std::string& what, const std::function<void(ProgressRecord&)>& work,
                std::chrono::seconds limit) {
  ProgressRecord progress;
  auto done = std::async(std::launch::async, [&] { work(progress); });
  bool ended = done.wait_for(limit) == std::future_status::ready;
  if (!ended) {
    ADD_FAILURE() << what << " did not end";
    progress.stop = 1;
  }
  done.wait();
  return ended;
}

UnchangedImage::UnchangedImage(std::string path)
    : path_(std::move(path)), hash_(Sha256OfFile(path_)) {}

UnchangedImage::~UnchangedImage() {
  EXPECT_EQ(Sha256OfFile(path_), hash_) << path_ << " was written";
}

}  // namespace brevid::test
