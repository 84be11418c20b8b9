#include "common/endian.h"

#include <gtest/gtest.h>

#include <vector>

namespace brevid {
namespace {

TEST(Endian, LoadsBothByteOrders) {
  const std::vector<uint8_t> b = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  EXPECT_EQ(LoadLe16(b, 0), 0x0201);
  EXPECT_EQ(LoadLe32(b, 0), 0x04030201u);
  EXPECT_EQ(LoadLe64(b, 0), 0x0807060504030201ull);
  EXPECT_EQ(LoadBe16(b, 0), 0x0102);
  EXPECT_EQ(LoadBe32(b, 4), 0x05060708u);
  EXPECT_EQ(LoadBe64(b, 0), 0x0102030405060708ull);
}

TEST(Endian, FieldsOutsideTheSpanReadAsZero) {
  const std::vector<uint8_t> b = {0xFF, 0xFF, 0xFF};
  EXPECT_EQ(LoadLe32(b, 0), 0u);
  EXPECT_EQ(LoadLe16(b, 2), 0);
  EXPECT_EQ(Load8(b, 3), 0);
  EXPECT_EQ(LoadLe64(b, SIZE_MAX - 2), 0u);  // offset + size would wrap
  EXPECT_FALSE(InBounds(b, 1, SIZE_MAX));
  EXPECT_TRUE(SubBytes(b, 5, 2).empty());
  EXPECT_EQ(SubBytes(b, 1, 100).size(), 2u);
}

TEST(Endian, BytesEqualChecksBounds) {
  const std::vector<uint8_t> b = {'N', 'T', 'F', 'S'};
  EXPECT_TRUE(BytesEqual(b, 0, "NTFS"));
  EXPECT_FALSE(BytesEqual(b, 1, "TFS "));
  EXPECT_FALSE(BytesEqual(b, 2, "FSX"));
}

}  // namespace
}  // namespace brevid
