#include "platform/byte_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"
#include "platform/write_guard.h"

namespace brevid {
namespace {

// Reads from *got on until `buffer` is full or the file ends (true), or a
// read fails (false); *got counts what arrived.
bool PreadFrom(int fd, uint64_t offset, std::span<uint8_t> buffer, size_t* got) {
  while (*got < buffer.size()) {
    ssize_t n =
        ::pread(fd, buffer.data() + *got, buffer.size() - *got, static_cast<off_t>(offset + *got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    *got += static_cast<size_t>(n);
  }
  return true;
}

class FileSource final : public ByteSource {
 public:
  FileSource(int fd, uint64_t size, const std::string& ansiPath)
      : fd_(fd), size_(size), inPlay_({ansiPath}) {}
  ~FileSource() override { ::close(fd_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  bool ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* got) override {
    *got = 0;
    return PreadFrom(fd_, offset, buffer, got);
  }
  uint64_t Size() const override { return size_; }

 private:
  int fd_;
  uint64_t size_;
  SourcesInPlay inPlay_;  // no output may reach these bytes while they are read
};

// A block device read past the page cache: a buffered read fetches whole
// pages, so one bad sector would fail every sector of its page, while a
// direct read of one logical block fails only that block. Direct reads need
// the offset, length and buffer aligned, so they go through an aligned
// buffer of the source's own (or straight into the caller's where that is
// aligned). When the device refuses direct reads the source drops back to
// buffered ones for good.
class BlockDeviceSource final : public ByteSource {
 public:
  BlockDeviceSource(int fd, uint64_t size, uint32_t block, const std::string& ansiPath)
      : fd_(fd), size_(size), block_(block), inPlay_({ansiPath}) {}
  ~BlockDeviceSource() override {
    std::free(bounce_);
    ::close(fd_);
  }
  BlockDeviceSource(const BlockDeviceSource&) = delete;
  BlockDeviceSource& operator=(const BlockDeviceSource&) = delete;

  bool ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* got) override {
    *got = 0;
    while (*got < buffer.size() && offset + *got < size_) {
      if (!direct_) return Buffered(offset, buffer, got);
      const uint64_t at = offset + *got;
      const uint64_t first = at / block_ * block_;
      const size_t skip = static_cast<size_t>(at - first);
      const uint64_t wanted = std::min<uint64_t>(buffer.size() - *got, size_ - at);
      uint8_t* out = buffer.data() + *got;
      const bool straight =
          skip == 0 && wanted >= block_ && reinterpret_cast<uintptr_t>(out) % kAlign == 0;
      const size_t length = static_cast<size_t>(std::min<uint64_t>(
          straight ? wanted / block_ * block_ : (skip + wanted + block_ - 1) / block_ * block_,
          kBounceBytes));
      // A failed read is retried block by block through the buffer.
      if (!EnsureBounce(straight ? block_ : length)) {
        DropDirect();
        continue;
      }
      uint8_t* into = straight ? out : bounce_;
      ssize_t n = ::pread(fd_, into, length, static_cast<off_t>(first));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EINVAL) {
        DropDirect();
        continue;
      }
      // A single block that failed would only fail again.
      if (n < 0 && (length <= block_ || !retryByBlock_)) return false;
      if (n < 0) {
        const size_t before = *got;
        if (!RetryByBlock(first, skip, std::min<size_t>(wanted, length - skip), out, got))
          return false;
        if (*got == before) {  // failed whole, yet no block failed alone: give up
          errno = EIO;
          return false;
        }
        continue;
      }
      if (static_cast<size_t>(n) <= skip) break;
      size_t usable = std::min<size_t>(static_cast<size_t>(n) - skip, wanted);
      if (!straight) std::memcpy(out, bounce_ + skip, usable);
      *got += usable;
      if (static_cast<size_t>(n) < length) break;
    }
    return true;
  }
  uint64_t Size() const override { return size_; }
  void SetRetryByBlock(bool on) override { retryByBlock_ = on; }

 private:
  static constexpr size_t kAlign = 4096;
  static constexpr size_t kBounceBytes = 1 << 20;

  // Grows the aligned buffer to at least `bytes` (at most kBounceBytes), so
  // a handle opened for one small chunk does not pay for a large buffer.
  bool EnsureBounce(size_t bytes) {
    if (bytes <= bounceBytes_) return true;
    void* p = nullptr;
    if (::posix_memalign(&p, kAlign, bytes) != 0) return false;
    std::free(bounce_);
    bounce_ = static_cast<uint8_t*>(p);
    bounceBytes_ = bytes;
    return true;
  }

  void DropDirect() {
    direct_ = false;
    int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT);
  }

  // A failed read is taken again one block at a time, so that the blocks
  // before the first bad one are delivered, as every source delivers the
  // bytes before a failure. False at a bad block (errno is its read's).
  bool RetryByBlock(uint64_t first, size_t skip, size_t wanted, uint8_t* out, size_t* got) {
    size_t done = 0;
    for (uint64_t block = first; done < wanted;) {
      ssize_t n = ::pread(fd_, bounce_, block_, static_cast<off_t>(block));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      size_t from = block == first ? skip : 0;
      if (static_cast<size_t>(n) <= from) return true;
      size_t usable = std::min<size_t>(static_cast<size_t>(n) - from, wanted - done);
      std::memcpy(out + done, bounce_ + from, usable);
      done += usable;
      *got += usable;
      if (static_cast<size_t>(n) < block_) return true;
      block += block_;
    }
    return true;
  }

  bool Buffered(uint64_t offset, std::span<uint8_t> buffer, size_t* got) {
    return PreadFrom(fd_, offset, buffer, got);
  }

  int fd_;
  uint64_t size_;
  uint32_t block_;
  bool direct_ = true;
  bool retryByBlock_ = true;
  uint8_t* bounce_ = nullptr;
  size_t bounceBytes_ = 0;
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
  void SetRetryByBlock(bool on) override { inner_->SetRetryByBlock(on); }

 private:
  std::unique_ptr<ByteSource> inner_;
  ReadCounter* counter_;
};

}  // namespace

std::unique_ptr<ByteSource> OpenFileSource(const std::string& ansiPath, bool direct) {
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
    int block = 0;
    if (::ioctl(fd, BLKSSZGET, &block) != 0 || block < 512 || block > 65536 ||
        (block & (block - 1)) != 0)
      block = 512;
    int flags = ::fcntl(fd, F_GETFL);
    // Direct reads stop at the device's end, so a device of unknown size
    // keeps buffered ones.
    if (size > 0 && flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_DIRECT) == 0)
      return std::make_unique<BlockDeviceSource>(fd, size, static_cast<uint32_t>(block), ansiPath);
  } else if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : ENOTBLK;
    return nullptr;
  }
  // A file read directly behaves as a disk of 512-byte blocks; a file
  // system that refuses direct reads keeps buffered ones.
  int flags = ::fcntl(fd, F_GETFL);
  if (direct && size > 0 && flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_DIRECT) == 0)
    return std::make_unique<BlockDeviceSource>(fd, size, 512, ansiPath);
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
