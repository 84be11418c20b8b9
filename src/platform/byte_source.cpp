#include "platform/byte_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/codepage.h"
#include "platform/write_guard.h"

namespace brevid {
namespace {

class FileSource final : public ByteSource {
 public:
  FileSource(int fd, uint64_t size, const std::string& ansiPath)
      : fd_(fd), size_(size), inPlay_({ansiPath}) {}
  ~FileSource() override { ::close(fd_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  bool ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* got) override {
    *got = 0;
    while (*got < buffer.size()) {
      ssize_t n = ::pread(fd_, buffer.data() + *got, buffer.size() - *got,
                          static_cast<off_t>(offset + *got));
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (n == 0) break;
      *got += static_cast<size_t>(n);
    }
    return true;
  }
  uint64_t Size() const override { return size_; }

 private:
  int fd_;
  uint64_t size_;
  SourcesInPlay inPlay_;  // no output may reach these bytes while they are read
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::shared_ptr<const std::vector<uint8_t>> bytes)
      : bytes_(std::move(bytes)) {}
  bool ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* got) override {
    *got = 0;
    const std::vector<uint8_t>& bytes = *bytes_;
    if (offset >= bytes.size() || buffer.empty()) return true;  // an empty buffer has no data()
    size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), bytes.size() - offset));
    std::memcpy(buffer.data(), bytes.data() + offset, n);
    *got = n;
    return true;
  }
  uint64_t Size() const override { return bytes_->size(); }

 private:
  std::shared_ptr<const std::vector<uint8_t>> bytes_;
};

class FaultySource final : public ByteSource {
 public:
  FaultySource(std::unique_ptr<ByteSource> inner, std::set<uint64_t> bad)
      : inner_(std::move(inner)), bad_(std::move(bad)) {}
  bool ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* got) override {
    *got = 0;
    if (buffer.empty()) return true;
    uint64_t first = offset / 512;
    uint64_t last = (offset + buffer.size() - 1) / 512;
    auto hit = bad_.lower_bound(first);
    if (hit == bad_.end() || *hit > last) return inner_->ReadAt(offset, buffer, got);
    uint64_t goodBytes = *hit * 512 > offset ? *hit * 512 - offset : 0;
    if (goodBytes > 0) inner_->ReadAt(offset, buffer.first(goodBytes), got);
    errno = EIO;
    return false;
  }
  uint64_t Size() const override { return inner_->Size(); }

 private:
  std::unique_ptr<ByteSource> inner_;
  std::set<uint64_t> bad_;
};

class CountingSource final : public ByteSource {
 public:
  CountingSource(std::unique_ptr<ByteSource> inner, ReadCounter* counter)
      : inner_(std::move(inner)), counter_(counter) {}
  bool ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* got) override {
    bool ok = inner_->ReadAt(offset, buffer, got);
    counter_->calls++;
    counter_->bytes += *got;
    return ok;
  }
  uint64_t Size() const override { return inner_->Size(); }

 private:
  std::unique_ptr<ByteSource> inner_;
  ReadCounter* counter_;
};

}  // namespace

std::unique_ptr<ByteSource> OpenFileSource(const std::string& ansiPath) {
  std::string path = AnsiToUtf8(ansiPath);
  // A pipe or character device would block the open or never end.
  struct stat kind {};
  if (::stat(path.c_str(), &kind) == 0 && !S_ISREG(kind.st_mode) && !S_ISBLK(kind.st_mode)) {
    errno = S_ISDIR(kind.st_mode) ? EISDIR : ENOTBLK;
    return nullptr;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return nullptr;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    size = ::ioctl(fd, BLKGETSIZE64, &bytes) == 0 ? bytes : 0;
  } else if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : ENOTBLK;
    return nullptr;
  }
  return std::make_unique<FileSource>(fd, size, ansiPath);
}

std::unique_ptr<ByteSource> MakeMemorySource(std::vector<uint8_t> bytes) {
  return MakeSharedMemorySource(std::make_shared<const std::vector<uint8_t>>(std::move(bytes)));
}

std::unique_ptr<ByteSource> MakeSharedMemorySource(
    std::shared_ptr<const std::vector<uint8_t>> bytes) {
  return std::make_unique<MemorySource>(std::move(bytes));
}

std::unique_ptr<ByteSource> MakeFaultySource(std::unique_ptr<ByteSource> inner,
                                             std::set<uint64_t> badSectors) {
  return std::make_unique<FaultySource>(std::move(inner), std::move(badSectors));
}

std::unique_ptr<ByteSource> MakeCountingSource(std::unique_ptr<ByteSource> inner,
                                               ReadCounter* counter) {
  return std::make_unique<CountingSource>(std::move(inner), counter);
}

std::string LastErrorText() {
  if (errno == ENOTBLK) return "不是普通文件或块设备";
  return std::strerror(errno);
}

}  // namespace brevid
