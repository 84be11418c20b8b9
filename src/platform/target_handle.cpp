#include "platform/target_handle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/codepage.h"
#include "platform/write_guard.h"

namespace brevid {

TargetHandle::~TargetHandle() { Close(); }

TargetHandle::TargetHandle(TargetHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      position_(other.position_),
      writeFailed_(other.writeFailed_),
      refusal_(std::move(other.refusal_)) {}

TargetHandle& TargetHandle::operator=(TargetHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    position_ = other.position_;
    writeFailed_ = other.writeFailed_;
    refusal_ = std::move(other.refusal_);
  }
  return *this;
}

TargetHandle TargetHandle::Open(const std::string& ansiPath, Mode mode) {
  TargetHandle handle;
  handle.refusal_ = OutputRefusal(ansiPath);
  if (!handle.refusal_.empty()) {
    errno = EPERM;
    return handle;
  }
  std::string path = AnsiToUtf8(ansiPath);
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
