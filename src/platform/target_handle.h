// A write handle on an imaging target or an output file. Only targets are
// opened this way; sources go through SourceHandle, which cannot write.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace brevid {

class TargetHandle {
 public:
  enum class Mode {
    kExisting,      // an existing disk or file, written in place
    kCreateAlways,  // a new file, or an existing one truncated to 0
    kOpenAlways,    // created when missing, an existing file kept and written over in
                    // place; never opened through a symbolic link
    kCreateNew,     // a file that must not exist yet, nor a link by its name (EEXIST)
  };

  TargetHandle() = default;
  ~TargetHandle();
  TargetHandle(TargetHandle&& other) noexcept;
  TargetHandle& operator=(TargetHandle&& other) noexcept;
  TargetHandle(const TargetHandle&) = delete;
  TargetHandle& operator=(const TargetHandle&) = delete;

  // `ansiPath` is converted to UTF-8 here. Closed when it cannot be opened,
  // or when the write guard refuses it (then Refusal() says why and errno
  // is EPERM); nothing is created or truncated then.
  static TargetHandle Open(const std::string& ansiPath, Mode mode);

  const std::string& Refusal() const { return refusal_; }
  // True once any write came up short since the open.
  bool WriteFailed() const { return writeFailed_; }

  bool IsOpen() const { return fd_ >= 0; }
  // True when the open made the file, so that it is empty.
  bool Created() const { return created_; }
  void Close();
  bool Seek(uint64_t offset);
  uint64_t Position() const { return position_; }
  // Writes all of `data` at the position and advances it; false when not all
  // of it was written (*written says how much was).
  bool Write(std::span<const uint8_t> data, size_t* written);
  // Waits until what was written is on the device; false when the device
  // reported a failed write (block devices report them only here).
  bool Flush();
  // Sets the file's length (extending with zeros); the position stays.
  bool SetLength(uint64_t length);

 private:
  int fd_ = -1;
  uint64_t position_ = 0;
  bool writeFailed_ = false;
  bool created_ = false;
  std::string refusal_;
};

// While one lives, the new files (kCreateNew) its thread makes go through a
// held handle of the folder the guard last cleared: a save makes many files
// in each folder, and a file made through the handle lands on the file
// system the guard cleared, whatever becomes of the path. The guard is asked
// again after a second, or once a new source comes into play; the handle is
// let go with the scope, so that the target can be unmounted.
class NewFilesFolder {
 public:
  NewFilesFolder();
  ~NewFilesFolder();
  NewFilesFolder(const NewFilesFolder&) = delete;
  NewFilesFolder& operator=(const NewFilesFolder&) = delete;

  // The handle when `utf8Folder` is the folder held and still cleared, or -1.
  int Find(const std::string& utf8Folder) const;
  // Holds `utf8Folder`, which the guard has just cleared; -1 when it cannot
  // be opened (errno says why).
  int Hold(const std::string& utf8Folder, uint64_t registrations);

 private:
  static constexpr std::chrono::seconds kFor{1};
  void Forget();
  NewFilesFolder* outer_;
  int fd_ = -1;
  std::string path_;
  std::chrono::steady_clock::time_point at_;
  uint64_t registrations_ = 0;
};

}  // namespace brevid
