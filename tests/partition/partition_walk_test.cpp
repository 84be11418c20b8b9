// The walk over partition tables written byte by byte, for the layouts no
// tool writes and for hostile ones.
#include "partition/partition_walk.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/codepage.h"

namespace brevid {
namespace {

class Image {
 public:
  explicit Image(size_t sectors) : bytes_(sectors * 512, 0) {}

  void Put8(uint64_t at, uint8_t v) { bytes_.at(at) = v; }
  void Put16(uint64_t at, uint16_t v) { Put8(at, v & 0xFF), Put8(at + 1, v >> 8); }
  void Put32(uint64_t at, uint32_t v) { Put16(at, v & 0xFFFF), Put16(at + 2, v >> 16); }
  void Put64(uint64_t at, uint64_t v) { Put32(at, v & 0xFFFFFFFF), Put32(at + 4, v >> 32); }
  void PutText(uint64_t at, std::string_view t) {
    for (size_t i = 0; i < t.size(); ++i) Put8(at + i, static_cast<uint8_t>(t[i]));
  }
  void Signature(uint64_t sector) { Put16(sector * 512 + 510, 0xAA55); }
  void Entry(uint64_t sector, int index, uint8_t type, uint32_t first, uint32_t count) {
    uint64_t at = sector * 512 + 446 + 16 * index;
    Put8(at + 4, type);
    Put32(at + 8, first);
    Put32(at + 12, count);
  }
  // A FAT16 boot sector the probes accept, at `sector`.
  void Fat16Boot(uint64_t sector) {
    uint64_t at = sector * 512;
    Put8(at, 0xEB), Put8(at + 1, 0x3C), Put8(at + 2, 0x90);
    Put16(at + 0x0B, 512);
    Put16(at + 0x11, 512);
    PutText(at + 0x36, "FAT16");
    Signature(sector);
  }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

DiskInfo Walk(std::vector<uint8_t> bytes) {
  DiskInfo disk;
  disk.path = "memory.img";
  disk.sizeBytes = bytes.size();
  SourceHandle handle(MakeMemorySource(std::move(bytes)));
  WalkPartitions(disk, handle, disk.path);
  return disk;
}

std::vector<std::string> Names(const DiskInfo& d) {
  std::vector<std::string> names;
  for (const auto& v : d.volumes) names.push_back(v.name);
  return names;
}

TEST(PartitionWalk, BootSectorAtSectorZeroIsOneWholeDiskVolume) {
  Image img(64);
  img.Put8(0, 0xEB), img.Put8(1, 0x52), img.Put8(2, 0x90);
  img.PutText(3, "NTFS    ");
  img.Put16(0x0B, 512);
  img.Put64(0x28, 63);
  img.Signature(0);
  DiskInfo d = Walk(img.bytes());
  ASSERT_EQ(d.volumes.size(), 1u);
  EXPECT_EQ(d.volumes[0].name, "Partition0");
  EXPECT_EQ(d.volumes[0].fsType, 0x07);
  EXPECT_EQ(d.volumes[0].start, 0u);
  EXPECT_EQ(d.volumes[0].sectorCount, 63u);

  // A near jump with 512-byte sectors is a boot sector too, even of no known kind.
  Image near(8);
  near.Put8(0, 0xE9), near.Put8(11, 0x00), near.Put8(12, 0x02);
  near.Signature(0);
  DiskInfo n = Walk(near.bytes());
  ASSERT_EQ(n.volumes.size(), 1u);
  EXPECT_EQ(n.volumes[0].fsType, 0);
  EXPECT_EQ(n.volumes[0].sectorCount, 0u);
}

TEST(PartitionWalk, CommonMbrBootCodesAreReadAsTables) {
  for (uint8_t second : {uint8_t{0x63}, uint8_t{0x48}}) {
    Image img(128);
    img.Put8(0, 0xEB), img.Put8(1, second), img.Put8(2, 0x90);
    img.Signature(0);
    img.Entry(0, 0, 0x06, 64, 64);
    img.Fat16Boot(64);
    DiskInfo d = Walk(img.bytes());
    ASSERT_EQ(d.volumes.size(), 1u) << int(second);
    EXPECT_EQ(d.volumes[0].start, 64u);
    EXPECT_EQ(d.volumes[0].fsType, 0x06);
  }
}

TEST(PartitionWalk, DynamicEntryAddsNoVolumeAndTakesNoNumber) {
  Image img(256);
  img.Signature(0);
  img.Entry(0, 0, 0x42, 64, 64);
  img.Entry(0, 1, 0x06, 128, 64);
  DiskInfo d = Walk(img.bytes());
  ASSERT_EQ(d.volumes.size(), 1u);
  EXPECT_EQ(d.volumes[0].name, "Partition0");
  EXPECT_EQ(d.volumes[0].start, 128u);
}

TEST(PartitionWalk, LogicalVolumesAreNumberedAfterThePrimaries) {
  // Primary at 64; extended at 200 with EBRs at 200, 300, 400.
  Image img(600);
  img.Signature(0);
  img.Entry(0, 0, 0x06, 64, 64);
  img.Entry(0, 1, 0x0F, 200, 390);
  img.Entry(200, 0, 0x06, 10, 50);    // logical at 210
  img.Entry(200, 1, 0x05, 100, 100);  // link to 300
  img.Signature(200);
  img.Entry(300, 0, 0x0B, 10, 50);    // logical at 310
  img.Entry(300, 1, 0x05, 200, 100);  // link to 400
  img.Signature(300);
  img.Entry(400, 0, 0x83, 10, 50);  // logical at 410
  img.Signature(400);
  DiskInfo d = Walk(img.bytes());
  EXPECT_EQ(Names(d),
            (std::vector<std::string>{"Partition0", "Partition1", "Partition2", "Partition3"}));
  ASSERT_EQ(d.volumes.size(), 4u);
  EXPECT_EQ(d.volumes[1].start, 210u);
  EXPECT_EQ(d.volumes[2].start, 310u);
  EXPECT_EQ(d.volumes[3].start, 410u);
  EXPECT_EQ(d.volumes[3].entryKind, 2);
  EXPECT_EQ(d.volumes[3].extText, "");  // no superblock, no EXT flavour
  EXPECT_EQ(d.volumes[0].entryKind, 1);
}

TEST(PartitionWalk, EveryLogicalVolumeHasANameOfItsOwn) {
  // The first EBR holds two volumes, and the second EBR lists its link first.
  Image img(700);
  img.Signature(0);
  img.Entry(0, 0, 0x06, 64, 64);
  img.Entry(0, 1, 0x05, 200, 490);
  img.Signature(200);
  img.Entry(200, 0, 0x06, 10, 40);    // at 210
  img.Entry(200, 1, 0x06, 50, 40);    // at 250
  img.Entry(200, 2, 0x05, 100, 200);  // link to 300
  img.Signature(300);
  img.Entry(300, 0, 0x05, 200, 100);  // link to 400, before its own volume
  img.Entry(300, 1, 0x06, 10, 40);    // at 310
  img.Signature(400);
  img.Entry(400, 0, 0x06, 10, 40);  // at 410
  // A second extended partition continues the numbering.
  img.Entry(0, 2, 0x0F, 500, 100);
  img.Signature(500);
  img.Entry(500, 0, 0x06, 10, 40);  // at 510
  DiskInfo d = Walk(img.bytes());
  EXPECT_EQ(Names(d), (std::vector<std::string>{"Partition0", "Partition1", "Partition2",
                                                "Partition3", "Partition4", "Partition5"}));
  std::vector<uint64_t> starts;
  for (const auto& v : d.volumes) starts.push_back(v.start);
  EXPECT_EQ(starts, (std::vector<uint64_t>{64, 210, 250, 410, 310, 510}));
}

TEST(PartitionWalk, NestedEbrWithoutSignatureEndsItsBranch) {
  Image img(600);
  img.Signature(0);
  img.Entry(0, 0, 0x05, 200, 390);
  img.Entry(200, 0, 0x06, 10, 50);
  img.Entry(200, 1, 0x05, 100, 100);
  img.Entry(300, 0, 0x06, 10, 50);  // never read: no signature at 300
  DiskInfo d = Walk(img.bytes());
  ASSERT_EQ(d.volumes.size(), 1u);
  EXPECT_EQ(d.volumes[0].start, 210u);
}

TEST(PartitionWalk, EbrChainsThatLoopEnd) {
  // The first EBR links to itself.
  Image self(400);
  self.Signature(0);
  self.Entry(0, 0, 0x05, 200, 100);
  self.Signature(200);
  self.Entry(200, 0, 0x06, 10, 20);
  self.Entry(200, 1, 0x05, 0, 100);
  EXPECT_EQ(Walk(self.bytes()).volumes.size(), 1u);

  // EBR 2 links back to EBR 1, which links to EBR 2 again.
  Image pair(400);
  pair.Signature(0);
  pair.Entry(0, 0, 0x05, 200, 150);
  pair.Signature(200);
  pair.Entry(200, 0, 0x06, 10, 20);
  pair.Entry(200, 1, 0x05, 50, 50);
  pair.Signature(250);
  pair.Entry(250, 0, 0x06, 10, 20);
  pair.Entry(250, 1, 0x05, 0, 50);
  DiskInfo d = Walk(pair.bytes());
  EXPECT_EQ(d.volumes.size(), 2u);

  // A chain far longer than any real one is cut off.
  Image chain(2 + 2 * 400);
  chain.Signature(0);
  chain.Entry(0, 0, 0x05, 2, 800);
  for (uint32_t i = 0; i < 400; ++i) {
    uint64_t ebr = 2 + 2 * i;
    chain.Signature(ebr);
    chain.Entry(ebr, 0, 0x06, 1, 1);
    chain.Entry(ebr, 1, 0x05, 2 * (i + 1), 2);
  }
  DiskInfo c = Walk(chain.bytes());
  EXPECT_LE(c.volumes.size(), 256u);
  EXPECT_GT(c.volumes.size(), 100u);
}

// A protective entry and a GPT header at sector 1 with `count` entries of `size` bytes.
Image GptImage(uint32_t protectiveCount, uint32_t count, uint32_t size) {
  Image img(200);
  img.Signature(0);
  img.Entry(0, 0, 0xEE, 1, protectiveCount);
  img.PutText(512, "EFI PART");
  img.Put64(512 + 0x48, 2);
  img.Put32(512 + 0x50, count);
  img.Put32(512 + 0x54, size);
  // One basic-data entry at 64..127 named "数据" with a FAT16 boot sector.
  const uint8_t basicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                 0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
  if (size >= 128 && size <= 4096) {
    for (int i = 0; i < 16; ++i) img.Put8(1024 + i, basicData[i]);
    img.Put64(1024 + 32, 64);
    img.Put64(1024 + 40, 127);
    std::u16string name = u"数据";
    for (size_t i = 0; i < name.size(); ++i) img.Put16(1024 + 56 + 2 * i, name[i]);
    // A second entry of another type.
    img.Put8(1024 + size, 0x11);
    img.Put64(1024 + size + 32, 130);
    img.Put64(1024 + size + 40, 139);
  }
  img.Fat16Boot(64);
  return img;
}

TEST(PartitionWalk, GptEntriesAreProbedAndNamed) {
  DiskInfo d = Walk(GptImage(0xFFFFFFFF, 128, 128).bytes());
  ASSERT_EQ(d.volumes.size(), 2u);
  EXPECT_EQ(d.volumes[0].name, Ansi("数据") + "(fat)0");
  EXPECT_EQ(d.volumes[0].fsType, 0x06);
  EXPECT_EQ(d.volumes[0].start, 64u);
  EXPECT_EQ(d.volumes[0].sectorCount, 64u);
  EXPECT_EQ(d.volumes[1].fsType, 0);
  EXPECT_EQ(d.volumes[1].sectorCount, 10u);
}

TEST(PartitionWalk, SmallProtectiveCountStillWalksARealGpt) {
  // UEFI tools give the protective entry the disk's size; a GPT header behind it decides.
  DiskInfo d = Walk(GptImage(199, 128, 128).bytes());
  ASSERT_EQ(d.volumes.size(), 2u);
  EXPECT_EQ(d.volumes[0].start, 64u);

  // Without a header it is an ordinary partition of type 0xEE.
  Image plain(200);
  plain.Signature(0);
  plain.Entry(0, 0, 0xEE, 1, 199);
  DiskInfo p = Walk(plain.bytes());
  ASSERT_EQ(p.volumes.size(), 1u);
  EXPECT_EQ(p.volumes[0].fsType, 0xEE);
  EXPECT_EQ(p.volumes[0].name, "Partition0");
}

TEST(PartitionWalk, GptHeaderWithMoreThan128EntriesEndsTheWalk) {
  Image img = GptImage(0xFFFFFFFF, 129, 128);
  // A primary before the GPT entry stays; an extended partition after it is never walked.
  img.Entry(0, 0, 0x06, 64, 64);
  img.Entry(0, 1, 0xEE, 1, 0xFFFFFFFF);
  img.Entry(0, 2, 0x05, 150, 40);
  img.Signature(150);
  img.Entry(150, 0, 0x06, 1, 10);
  DiskInfo d = Walk(img.bytes());
  ASSERT_EQ(d.volumes.size(), 1u);
  EXPECT_EQ(d.volumes[0].start, 64u);
}

TEST(PartitionWalk, GptEntrySizesOutsideReasonAddNothing) {
  for (uint32_t size : {0u, 1u, 127u, 4097u, 0x10000000u, 0xFFFFFFFFu}) {
    DiskInfo d = Walk(GptImage(0xFFFFFFFF, 128, size).bytes());
    EXPECT_TRUE(d.volumes.empty()) << size;
  }
  // The largest accepted: 128 entries of 4 KiB, read from a disk that ends early.
  DiskInfo d = Walk(GptImage(0xFFFFFFFF, 128, 4096).bytes());
  EXPECT_EQ(d.volumes.size(), 2u);
}

TEST(PartitionWalk, HostileAndShortImagesListWhatTheyCan) {
  EXPECT_TRUE(Walk({}).volumes.empty());
  EXPECT_TRUE(Walk(std::vector<uint8_t>(300, 0xFF)).volumes.empty());

  // Random sector 0 that still carries the signature, repeated with many seeds.
  std::mt19937 rng(1234);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> bytes(64 * 1024);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    bytes[510] = 0x55, bytes[511] = 0xAA;
    DiskInfo d = Walk(bytes);
    EXPECT_LE(d.volumes.size(), 4u + 128u + 4u * 256u);
  }
}

TEST(PartitionWalk, GptEntriesAfterAnEmptyOneAreListed) {
  // A deleted partition leaves slot 1 empty; the second entry moves to slot 3.
  Image img = GptImage(0xFFFFFFFF, 128, 128);
  for (int i = 0; i < 128; ++i) {
    img.Put8(1024 + 3 * 128 + i, img.bytes()[1024 + 128 + i]);
    img.Put8(1024 + 128 + i, 0);
  }
  DiskInfo d = Walk(img.bytes());
  ASSERT_EQ(d.volumes.size(), 2u);
  EXPECT_EQ(d.volumes[1].start, 130u);
}

TEST(PartitionWalk, GptNamesAreMadeUnique) {
  Image img = GptImage(0xFFFFFFFF, 128, 128);
  img.Put8(1024, 0x11);  // neither entry is probed: both keep their GPT name
  for (uint64_t entry : {1024u, 1024u + 128u}) {
    for (int i = 0; i < 36; ++i) img.Put16(entry + 56 + 2 * i, 0);
    for (int i = 0; i < 7; ++i) img.Put16(entry + 56 + 2 * i, "primary"[i]);
  }
  EXPECT_EQ(Names(Walk(img.bytes())), (std::vector<std::string>{"primary", "primaryPartition1"}));
}

TEST(PartitionWalk, LinuxTypeEntryIsProbedForItsFileSystem) {
  Image img(200);
  img.Signature(0);
  img.Entry(0, 0, 0x83, 64, 100);
  img.Fat16Boot(64);
  DiskInfo d = Walk(img.bytes());
  ASSERT_EQ(d.volumes.size(), 1u);
  EXPECT_EQ(d.volumes[0].fsType, 0x06);
  EXPECT_EQ(d.volumes[0].extText, "");
}

}  // namespace
}  // namespace brevid
