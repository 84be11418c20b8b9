// Boot sectors made by real tools, each check broken one field at a time.
#include "format/boot_probes.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/source_handle.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

std::vector<uint8_t> Head(const std::string& fixture, size_t bytes = 2048) {
  SourceHandle h = SourceHandle::Open(test::FixturePath(fixture));
  EXPECT_TRUE(h.IsOpen()) << fixture;
  return ReadBytes(h, 0, bytes);
}

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}

// Applies each breakage to a fresh copy of `good` and expects `probe` to fail.
void ExpectEachBreakageRejected(const std::vector<uint8_t>& good, bool (*probe)(Bytes),
                                std::vector<std::function<void(std::vector<uint8_t>&)>> breaks) {
  ASSERT_TRUE(probe(good));
  for (size_t i = 0; i < breaks.size(); ++i) {
    std::vector<uint8_t> bad = good;
    breaks[i](bad);
    EXPECT_FALSE(probe(bad)) << "breakage " << i;
  }
}

TEST(BootProbes, NtfsFromMkntfs) {
  std::vector<uint8_t> s = Head("boot0_ntfs.img", 512);
  ExpectEachBreakageRejected(s, IsNtfsBoot,
                             {[](auto& b) { b[510] = 0; }, [](auto& b) { Put16(b, 0x0B, 4096); },
                              [](auto& b) { b[0x10] = 2; }, [](auto& b) { Put16(b, 0x11, 512); },
                              [](auto& b) { Put16(b, 0x16, 9); }, [](auto& b) { b[3] = 'M'; }});
  EXPECT_FALSE(IsFat32Boot(s));
  EXPECT_FALSE(IsFat16Boot(s));
  EXPECT_FALSE(IsExfatBoot(s));
}

TEST(BootProbes, NtfsClusterSizesAboveSixtyFourKiB) {
  std::vector<uint8_t> s(512, 0);
  for (auto [byte, sectors] : std::vector<std::pair<uint8_t, uint32_t>>{
           {8, 8}, {0x80, 128}, {0xF4, 4096}, {0xF7, 512}, {0xF3, 0}, {0x81, 0}}) {
    s[0x0D] = byte;
    EXPECT_EQ(NtfsSectorsPerCluster(s), sectors) << int(byte);  // beyond 2 MiB clusters: damage
  }
}

TEST(BootProbes, Fat32FromMkfsFat) {
  std::vector<uint8_t> s = Head("boot0_fat32.img", 512);
  ExpectEachBreakageRejected(s, IsFat32Boot,
                             {[](auto& b) { b[511] = 0; }, [](auto& b) { b[0x10] = 1; },
                              [](auto& b) { Put16(b, 0x0B, 1024); },
                              [](auto& b) { Put16(b, 0x32, 7); }, [](auto& b) { b[0x13] = 1; },
                              [](auto& b) { Put16(b, 0x16, 1); }, [](auto& b) { b[0x56] = '6'; }});
  std::vector<uint8_t> backupAt6 = s;
  Put16(backupAt6, 0x32, 6);
  EXPECT_TRUE(IsFat32Boot(backupAt6));
  EXPECT_FALSE(IsNtfsBoot(s));
}

TEST(BootProbes, Fat16FromMkfsFat) {
  std::vector<uint8_t> s = Head("boot0_fat16.img", 512);
  ExpectEachBreakageRejected(
      s, IsFat16Boot,
      {[](auto& b) { b[510] = 0x54; }, [](auto& b) { Put16(b, 0x11, 256); },
       [](auto& b) { Put16(b, 0x0B, 2048); }, [](auto& b) { b[0x3A] = '2'; }});
  EXPECT_FALSE(IsFat32Boot(s));
}

TEST(BootProbes, ExfatFromMkfsExfat) {
  std::vector<uint8_t> s = Head("boot0_exfat.img", 512);
  ExpectEachBreakageRejected(s, IsExfatBoot,
                             {[](auto& b) { b[510] = 0; }, [](auto& b) { b[0x3F] = 1; },
                              [](auto& b) { b[0x0B] = 1; }, [](auto& b) { b[7] = 'X'; }});
}

TEST(BootProbes, ExtSuperblockFromMke2fs) {
  std::vector<uint8_t> head = Head("ext4_whole.img");
  std::vector<uint8_t> sb(head.begin() + 1024, head.begin() + 2048);
  auto put32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  ExpectEachBreakageRejected(
      sb, IsExtSuperblockConsistent,
      {[](auto& b) { b[0x38] = 0; }, [&](auto& b) { put32(b, 0x48, 3); },
       [](auto& b) { Put16(b, 0x58, 64); }, [&](auto& b) { put32(b, 0x20, 0); },
       [&](auto& b) { put32(b, 0x28, 0); }, [&](auto& b) { put32(b, 0x30, 0); },
       [&](auto& b) { put32(b, 0x10, LoadLe32(b, 0x00)); },  // free inodes = inodes
       [&](auto& b) { put32(b, 0x0C, LoadLe32(b, 0x04)); },  // free blocks = blocks
       [&](auto& b) { put32(b, 0x14, LoadLe32(b, 0x04)); }});
  // A log block size of 32 shifts by 0 in 32-bit arithmetic: still 1024.
  std::vector<uint8_t> wrapped = sb;
  put32(wrapped, 0x18, 32);
  EXPECT_TRUE(IsExtSuperblockConsistent(wrapped));
  EXPECT_EQ(ExtFlavour(sb), "EXT4");
  EXPECT_EQ(ExtVolumeName(sb), "whole_ext4");
}

TEST(BootProbes, ExtFlavourFromFeatureBits) {
  std::vector<uint8_t> sb(1024, 0);
  EXPECT_EQ(ExtFlavour(sb), "EXT2");
  sb[0x5C] = 0x04;
  EXPECT_EQ(ExtFlavour(sb), "EXT3");
  sb[0x60] = 0x40;
  EXPECT_EQ(ExtFlavour(sb), "EXT4");
}

TEST(BootProbes, HfsSignatures) {
  std::vector<uint8_t> h(512, 0);
  EXPECT_EQ(HfsSignatureKind(h), 0u);
  h[0] = 'B', h[1] = 'D';
  EXPECT_EQ(HfsSignatureKind(h), 1u);
  h[0x7C] = 'H', h[0x7D] = '+';
  EXPECT_EQ(HfsSignatureKind(h), 4u);
  h[0] = 'H', h[1] = '+';
  EXPECT_EQ(HfsSignatureKind(h), 2u);
  h[1] = 'X';
  EXPECT_EQ(HfsSignatureKind(h), 3u);
  EXPECT_EQ(HfsSignatureKind({}), 0u);
  // The master directory block name: a length byte, then at most 27 characters.
  std::vector<uint8_t> mdb(512, 'x');
  mdb[0x24] = 200;
  EXPECT_EQ(HfsMdbVolumeName(mdb), std::string(27, 'x'));
  mdb[0x24] = 3;
  EXPECT_EQ(HfsMdbVolumeName(mdb), "xxx");
}

}  // namespace
}  // namespace brevid
