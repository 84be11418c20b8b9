#include "platform/target_handle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>

#include "platform/codepage.h"
#include "platform/write_guard.h"

namespace brevid {

TargetHandle::~TargetHandle() { Close(); }

TargetHandle::TargetHandle(TargetHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      position_(other.position_),
      writeFailed_(other.writeFailed_),
      created_(other.created_),
      refusal_(std::move(other.refusal_)) {}

TargetHandle& TargetHandle::operator=(TargetHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    position_ = other.position_;
    writeFailed_ = other.writeFailed_;
    created_ = other.created_;
    refusal_ = std::move(other.refusal_);
  }
  return *this;
}

namespace {

// The folder a file of `path` is made in.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

thread_local NewFilesFolder* heldFolder = nullptr;

// A new file (O_EXCL): the guard is asked about its folder, which is all
// the storage a file that does not exist yet can reach.
void CreateNew(const std::string& ansiPath, const std::string& path, int* fd,
               std::string* refusal) {
  constexpr int kFlags = O_WRONLY | O_CLOEXEC | O_CREAT | O_EXCL | O_NOFOLLOW;
  const std::string folder = FolderOf(path);
  int folderFd = heldFolder ? heldFolder->Find(folder) : -1;
  if (folderFd < 0) {
    const uint64_t registrations = SourceRegistrations();
    *refusal = OutputRefusalUtf8(FolderOf(ansiPath), folder);
    if (!refusal->empty()) {
      errno = EPERM;
      return;
    }
    if (!heldFolder) {
      *fd = ::open(path.c_str(), kFlags, 0644);
      return;
    }
    folderFd = heldFolder->Hold(folder, registrations);
    if (folderFd < 0) return;
  }
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  *fd = ::openat(folderFd, name.c_str(), kFlags, 0644);
}

}  // namespace

NewFilesFolder::NewFilesFolder() : outer_(heldFolder) { heldFolder = this; }

NewFilesFolder::~NewFilesFolder() {
  heldFolder = outer_;
  Forget();
}

int NewFilesFolder::Find(const std::string& utf8Folder) const {
  if (fd_ < 0 || utf8Folder != path_ || std::chrono::steady_clock::now() - at_ > kFor ||
      SourceRegistrations() != registrations_)
    return -1;
  return fd_;
}

int NewFilesFolder::Hold(const std::string& utf8Folder, uint64_t registrations) {
  Forget();
  fd_ = ::open(utf8Folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return -1;
  path_ = utf8Folder;
  at_ = std::chrono::steady_clock::now();
  registrations_ = registrations;
  return fd_;
}

void NewFilesFolder::Forget() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

TargetHandle TargetHandle::Open(const std::string& ansiPath, Mode mode) {
  TargetHandle handle;
  const std::string path = AnsiToUtf8(ansiPath);
  if (mode == Mode::kCreateNew) {
    CreateNew(ansiPath, path, &handle.fd_, &handle.refusal_);
    handle.created_ = handle.fd_ >= 0;
    return handle;
  }
  handle.refusal_ = OutputRefusalUtf8(ansiPath, path);
  if (!handle.refusal_.empty()) {
    errno = EPERM;
    return handle;
  }
  int flags = O_WRONLY | O_CLOEXEC;
  if (mode == Mode::kCreateAlways) flags |= O_CREAT | O_TRUNC;
  // Output files never go through a link someone left in the target folder.
  if (mode == Mode::kOpenAlways) flags |= O_CREAT | O_NOFOLLOW;
  handle.fd_ = ::open(path.c_str(), flags, 0644);
  return handle;
}

void TargetHandle::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TargetHandle::Seek(uint64_t offset) {
  if (fd_ < 0) return false;
  position_ = offset;
  return true;
}

bool TargetHandle::Write(std::span<const uint8_t> data, size_t* written) {
  *written = 0;
  if (fd_ < 0) return false;
  while (*written < data.size()) {
    ssize_t n = ::pwrite(fd_, data.data() + *written, data.size() - *written,
                         static_cast<off_t>(position_ + *written));
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    *written += static_cast<size_t>(n);
  }
  position_ += *written;
  if (*written != data.size()) writeFailed_ = true;
  return *written == data.size();
}

bool TargetHandle::Flush() { return fd_ >= 0 && ::fdatasync(fd_) == 0; }

bool TargetHandle::SetLength(uint64_t length) {
  return fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(length)) == 0;
}

}  // namespace brevid
