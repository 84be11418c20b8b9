#include "device/descriptor_string.h"

#include <gtest/gtest.h>

namespace brevid {
namespace {

TEST(DescriptorString, HexadecimalPairsThatSpellPrintableTextAreDecoded) {
  EXPECT_EQ(DecodeDescriptorString("3031"), "01");
  // Padding spaces count as the digit 0 and make NUL bytes, which are dropped.
  EXPECT_EQ(DecodeDescriptorString("53444953    "), "SDIS");
  // " 4" would be the byte 0x04: not printable, so the raw text stands.
  EXPECT_EQ(DecodeDescriptorString("5344 4953"), "5344 4953");
}

TEST(DescriptorString, OtherTextIsTakenAsItStands) {
  EXPECT_EQ(DecodeDescriptorString("  Samsung SSD 860 \n"), "Samsung SSD 860");
  EXPECT_EQ(DecodeDescriptorString("1234"), "1234");  // 0x12 is not printable
  EXPECT_EQ(DecodeDescriptorString("QEMU"), "QEMU");
  EXPECT_EQ(DecodeDescriptorString(""), "");
  EXPECT_EQ(DecodeDescriptorString(std::string("AB\x01z", 4)), "");  // unprintable: nothing
}

}  // namespace
}  // namespace brevid
