// FAT volumes made by mkfs.fat and mtools for the save tests, patched where
// no tool writes what a test needs, and opened the way the file pane holds
// a volume.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "device/disk_info.h"
#include "support/file_bytes.h"
#include "support/run_command.h"

namespace brevid::test {

// A disk list holding one disk, and the volume a test works on.
struct OpenedVolume {
  DiskList disks;
  DiskInfo* disk = nullptr;
  VolumeInfo* volume = nullptr;
};

// Releases the volume's tree and builds it again: the MFT scan for NTFS,
// the FAT walk otherwise.
void Expand(DiskInfo& disk, VolumeInfo& volume);

// A volume that fills its image from sector 0, without a partition walk,
// expanded.
std::unique_ptr<OpenedVolume> OpenWholeVolume(const std::string& path, FsType type,
                                              uint64_t sectors);

// A FAT volume from sector 0 of its own image, made by mkfs.fat with one
// sector per cluster and filled by mtools; what the tools do not write
// (deleted entries, broken chains, odd names) is patched in.
class ToolFat {
 public:
  ToolFat(std::string path, int bits, uint64_t kib) : path_(std::move(path)), fat32_(bits == 32) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    test::CommandResult r =
        test::RunCommand(Format("mkfs.fat -C -F %d -s 1 -S 512 -i 42524256 '%s' %llu", bits,
                                path_.c_str(), static_cast<unsigned long long>(kib)));
    if (r.status != 0) {
      ADD_FAILURE() << "mkfs.fat: " << r.err;
      return;
    }
    std::string b = ReadAt(path_, 0, 512);
    reserved_ = Le16(b, 14);
    fats_ = static_cast<uint8_t>(b[16]);
    sectors_ = Le16(b, 19) ? Le16(b, 19) : Le32(b, 32);
    fatSectors_ = fat32_ ? Le32(b, 36) : Le16(b, 22);
    rootCluster_ = fat32_ ? Le32(b, 44) : 0;
    uint64_t rootSectors = (uint64_t{Le16(b, 17)} * 32 + 511) / 512;
    rootEntries_ = Le16(b, 17);
    clusterBase_ = reserved_ + uint64_t{fats_} * fatSectors_ + rootSectors - 2;
    ok_ = true;
  }

  bool ok() const { return ok_; }
  const std::string& path() const { return path_; }
  uint64_t sectors() const { return sectors_; }
  uint32_t fatSectors() const { return fatSectors_; }
  uint64_t ClusterByte(uint32_t c) const { return (clusterBase_ + c) * 512; }
  uint32_t ClusterAt(uint64_t byte) const {
    return static_cast<uint32_t>(byte / 512 - clusterBase_);
  }

  void Put(const std::string& name, const std::string& content) {
    std::string src = path_ + ".src";
    WriteFile(src, content);
    Mtools("mcopy", "'" + src + "' '::" + name + "'");
    std::filesystem::remove(src);
  }
  void Delete(const std::string& name) { Mtools("mdel", "'::" + name + "'"); }

  // Byte offset of the root entry whose stored name is `name11`.
  uint64_t Entry(std::string_view name11) const {
    for (uint64_t at : RootSlots())
      if (ReadAt(path_, at, 11) == name11) return at;
    ADD_FAILURE() << "no root entry " << name11;
    return 0;
  }
  uint32_t FirstCluster(std::string_view name11) const {
    std::string e = ReadAt(path_, Entry(name11), 32);
    return Le16(e, 26) | Le16(e, 20) << 16;
  }
  void Rename(std::string_view name11, std::string_view to11) {
    WriteAt(path_, Entry(name11), to11.substr(0, 11));
  }

  // Writes `entries` into the first free root slots.
  void AddEntries(const std::string& entries) {
    std::vector<uint64_t> entrySlots = RootSlots();
    size_t first = 0;
    while (first < entrySlots.size() && ReadAt(path_, entrySlots[first], 1) != std::string(1, '\0'))
      ++first;
    size_t count = entries.size() / 32;
    ASSERT_LE(first + count, entrySlots.size()) << "root folder full";
    for (size_t i = 0; i < count; ++i)
      WriteAt(path_, entrySlots[first + i], std::string_view(entries).substr(i * 32, 32));
  }

  void Write(uint64_t at, std::string_view bytes) { WriteAt(path_, at, bytes); }
  void WriteCluster(uint32_t cluster, std::string_view bytes) {
    WriteAt(path_, ClusterByte(cluster), bytes);
  }

  void SetFat(uint32_t c, uint32_t value) {
    for (uint32_t copy = 0; copy < fats_; ++copy) {
      uint64_t at =
          (reserved_ + uint64_t{copy} * fatSectors_) * 512 + uint64_t{c} * (fat32_ ? 4 : 2);
      std::string v(fat32_ ? 4 : 2, '\0');
      if (fat32_)
        Poke32(v, 0, value);
      else
        Poke16(v, 0, value);
      WriteAt(path_, at, v);
    }
  }
  uint32_t Fat(uint32_t c) const {
    uint64_t at = uint64_t{reserved_} * 512 + uint64_t{c} * (fat32_ ? 4 : 2);
    std::string v = ReadAt(path_, at, 4);
    return fat32_ ? Le32(v, 0) : Le16(v, 0);
  }

  std::unique_ptr<OpenedVolume> Open() const {
    return OpenWholeVolume(path_, fat32_ ? kFsFat32 : kFsFat16, sectors_);
  }

 private:
  void Mtools(const std::string& tool, const std::string& args) {
    test::CommandResult r =
        test::RunCommand("MTOOLS_SKIP_CHECK=1 " + tool + " -i '" + path_ + "' " + args);
    EXPECT_EQ(r.status, 0) << tool << " " << args << ": " << r.err;
  }

  std::vector<uint64_t> RootSlots() const {
    std::vector<uint64_t> entrySlots;
    if (!fat32_) {
      uint64_t base = (reserved_ + uint64_t{fats_} * fatSectors_) * 512;
      for (uint32_t i = 0; i < rootEntries_; ++i) entrySlots.push_back(base + i * 32);
      return entrySlots;
    }
    uint32_t c = rootCluster_;
    for (int n = 0; n < 64 && c >= 2 && c < 0x0FFFFFF8; ++n, c = Fat(c))
      for (uint32_t i = 0; i < 16; ++i) entrySlots.push_back(ClusterByte(c) + i * 32);
    return entrySlots;
  }

  std::string path_;
  bool fat32_ = false;
  bool ok_ = false;
  uint32_t reserved_ = 0;
  uint8_t fats_ = 0;
  uint64_t sectors_ = 0;
  uint32_t fatSectors_ = 0;
  uint32_t rootCluster_ = 0;
  uint32_t rootEntries_ = 0;
  uint64_t clusterBase_ = 0;
};

}  // namespace brevid::test
