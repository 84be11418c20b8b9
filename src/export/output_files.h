// Output files and folders on the target: free names, folder chains made on
// demand, and names from the disk made safe to use as path components.
#pragma once

#include <algorithm>
#include <string>

#include "export/save_request.h"
#include "platform/target_handle.h"

namespace brevid {

// The free name after `path` exists: `path` + counter + "." + the text after
// the last "." of `path` (without any ".", `path` + counter), the counter
// going up from *counter; *counter is left one past the name returned.
std::string NextFreeName(const std::string& path, int* counter);

// Opens `path` (CP936) for writing, created when missing and never
// truncated. When it exists already a free name is chosen (see NextFreeName)
// and `path` becomes it; *counter, when given, gets the counter a later free
// name goes on from (0 when none was needed). When the open fails, the folder chain
// is made and the open tried once more. False: nothing could be opened.
bool OpenOutputFile(TargetHandle* file, std::string* path, int* counter = nullptr);

// Settles one output file when it goes out of scope, so that no file that
// is not whole passes for whole: one cut short by a failed write or by a stop
// leaves its real name for NAME.partial (or goes, when nothing was written);
// one holding zeros for unreadable or missing source sectors, or cut at the
// volume's end, keeps its name. Each is listed in the run's notWhole.
// `out` and `request` must outlive the seal.
class OutputSeal {
 public:
  OutputSeal(const SaveRequest& request, TargetHandle& out, std::string path,
             uint64_t expectedBytes);
  ~OutputSeal();
  OutputSeal(const OutputSeal&) = delete;
  OutputSeal& operator=(const OutputSeal&) = delete;
  // The size the file is to have, once it is known.
  void Expect(uint64_t bytes) { expected_ = bytes; }
  // Counts what the reader could not read since it stood at `unreadBefore`
  // too: content read before the file was opened (a record's resident data).
  void CountUnreadFrom(uint64_t unreadBefore) {
    unreadAtStart_ = std::min(unreadAtStart_, unreadBefore);
  }

 private:
  const SaveRequest& request_;
  TargetHandle& out_;
  std::string path_;
  uint64_t expected_;
  uint64_t unreadAtStart_;
  uint64_t cutAtStart_;
};

// Why a folder of the tree was not saved: a symbolic link of that name was
// in the target already, and the save never writes through one.
inline constexpr const char* kLinkInTarget = "目标文件夹中已有同名符号链接, 不跟随";

// Makes every missing folder of `folder`; true when it exists afterwards.
bool CreateDirectoryChain(const std::string& folder);

// Makes a FAT name usable: a CP936 round trip (bytes that are no character
// become "?"), then each of ? / : * \ " < > | replaced by the repair text.
// True to go on with the (possibly changed) name.
bool RepairFileName(std::string* name, const NameRepair& repair);

// A name from the disk as one safe path component: no separator, no NUL, not
// "." or ".." and not empty. A hostile name cannot leave the target folder.
std::string SafeComponent(const std::string& name);

// The text after the last "." (a name without "." is its own extension; a
// name whose only "." is its first character has none), lower-cased.
std::string FileExtension(const std::string& name);

// The typed extensions the start-cluster search serves: all 14 for single
// saves, "jpg", "jpeg", "doc", "ppt", "xls" for the ticked-items variant.
bool IsTypedExtension(const std::string& extension, bool multiVariant);

}  // namespace brevid
