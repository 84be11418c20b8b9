// Images as the tests use them: walked into a disk record, expanded under a
// time bound, and checked to be unchanged afterwards.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "device/disk_info.h"
#include "platform/progress.h"

namespace brevid::test {

// The disk record of an image file after the partition walk (path and size
// set as OpenImageFile sets them). Fails the test when it cannot be opened.
DiskInfo WalkImage(const std::string& path);

// Runs `work` on a worker thread; when it has not ended after `limit`, fails
// the test, requests a stop and waits. False when the limit was reached.
bool RunBounded(const std::string& what, const std::function<void(ProgressRecord&)>& work,
                std::chrono::seconds limit = std::chrono::seconds(120));

// Remembers an image's hash and checks at the end of its scope that nothing
// wrote to the image.
class UnchangedImage {
 public:
  explicit UnchangedImage(std::string path);
  ~UnchangedImage();
  UnchangedImage(const UnchangedImage&) = delete;
  UnchangedImage& operator=(const UnchangedImage&) = delete;

 private:
  std::string path_;
  std::string hash_;
};

}  // namespace brevid::test
