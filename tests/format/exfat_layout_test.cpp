// exFAT structures over stored bytes: a boot sector made by mkfs.exfat and
// two entry sets written by exfat-fuse (one live with a FAT chain, one
// deleted and contiguous), each broken one field at a time.
#include "format/exfat_layout.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/test_paths.h"

namespace brevid {
namespace {

std::vector<uint8_t> Hex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// "frag_keep.bin": live, FAT chain, 98,304 bytes from cluster 126.
const std::vector<uint8_t> kLive =
    Hex("8502f92c2000000046be875d47be875d46be875d640080808000000000000000"
        "c001000dcbee00000080010000000000000000007e0000000080010000000000"
        "c10066007200610067005f006b006500650070002e00620069006e0000000000");
// "short_gone.txt": deleted (0x05, 0x40, 0x41), contiguous, 3,000 bytes.
const std::vector<uint8_t> kDeleted =
    Hex("05024d3e2000000047be875d47be875d47be875d000080808000000000000000"
        "4003000e1b880000b80b00000000000000000000df000000b80b000000000000"
        "4100730068006f00720074005f0067006f006e0065002e007400780074000000");

TEST(ExfatLayout, EntrySetsAsWrittenAndEachBrokenField) {
  ExfatFileSet set;
  ASSERT_EQ(ParseExfatFileSet(kLive, 0, &set), ExfatSetFault::kNone);
  EXPECT_TRUE(set.inUse);
  EXPECT_FALSE(set.Contiguous());
  EXPECT_EQ(set.name, u"frag_keep.bin");
  EXPECT_EQ(set.firstCluster, 126u);
  EXPECT_EQ(set.dataLength, 98304u);
  EXPECT_EQ(set.entryCount, 3u);
  ASSERT_EQ(ParseExfatFileSet(kDeleted, 0, &set), ExfatSetFault::kNone);
  EXPECT_FALSE(set.inUse);
  EXPECT_TRUE(set.Contiguous());
  EXPECT_EQ(set.name, u"short_gone.txt");
  EXPECT_EQ(set.validDataLength, 3000u);

  struct Break {
    size_t at;
    uint8_t value;
    ExfatSetFault fault;
  };
  for (const Break& b : {Break{0x02, 0x00, ExfatSetFault::kBadChecksum},  // set checksum
                         Break{0x24, 0x00, ExfatSetFault::kBadNameHash},  // name hash
                         Break{0x01, 0x01, ExfatSetFault::kBadShape},     // no name entry
                         Break{0x01, 0x05, ExfatSetFault::kTruncated},    // past the buffer
                         Break{0x40, 0x41, ExfatSetFault::kMixedUse},     // a deleted name
                         Break{0x20, 0xC1, ExfatSetFault::kBadShape},     // no stream
                         Break{0x23, 0x20, ExfatSetFault::kBadShape}}) {  // name too long
    std::vector<uint8_t> broken = kLive;
    broken[b.at] = b.value;
    // The hash is checked after the checksum: keep the checksum whole.
    if (b.fault == ExfatSetFault::kBadNameHash) {
      uint16_t sum = ExfatSetChecksum(broken, true);
      broken[2] = static_cast<uint8_t>(sum), broken[3] = static_cast<uint8_t>(sum >> 8);
    }
    EXPECT_EQ(ParseExfatFileSet(broken, 0, &set), b.fault) << "byte " << b.at;
  }
  EXPECT_TRUE(HoldsExfatFileSet(kDeleted, 32));
  EXPECT_FALSE(HoldsExfatFileSet(std::vector<uint8_t>(kLive.begin(), kLive.end() - 1), 32));
}

TEST(ExfatLayout, GeometryFromMkfsExfat) {
  std::ifstream in(test::FixturePath("boot0_exfat.img"), std::ios::binary);
  std::vector<uint8_t> boot((std::istreambuf_iterator<char>(in)), {});
  boot.resize(512);
  ExfatGeometry geo;
  ASSERT_TRUE(ParseExfatGeometry(boot, &geo));
  EXPECT_TRUE(geo.IsDataCluster(geo.rootCluster));
  EXPECT_GE(geo.heapOffset, geo.fatOffset + geo.fatLength);
  for (auto [at, value] : {std::pair<size_t, uint8_t>{exfat::kSectorShift, 13},
                           {exfat::kClusterShift, 20},
                           {exfat::kFatCount, 3},
                           {exfat::kClusterCount + 3, 0x7F},
                           {exfat::kRootCluster, 1},
                           {exfat::kHeapOffset + 3, 0x7F}}) {
    std::vector<uint8_t> broken = boot;
    broken[at] = value;
    EXPECT_FALSE(ParseExfatGeometry(broken, &geo)) << "byte " << at;
  }
}

}  // namespace
}  // namespace brevid
