#include "common/sector_range.h"

#include <gtest/gtest.h>

namespace brevid {
namespace {

TEST(SectorRange, EndSaturatesInsteadOfWrapping) {
  SectorRange r{UINT64_MAX - 5, 100};
  EXPECT_EQ(r.End(), UINT64_MAX);
  EXPECT_TRUE(r.Contains(UINT64_MAX - 1));
  EXPECT_EQ(SectorToByte(UINT64_MAX / 2), UINT64_MAX);
}

TEST(SectorRange, ClampKeepsTheOverlap) {
  SectorRange outer{100, 50};
  EXPECT_EQ((SectorRange{90, 20}.ClampTo(outer)), (SectorRange{100, 10}));
  EXPECT_EQ((SectorRange{140, 20}.ClampTo(outer)), (SectorRange{140, 10}));
  EXPECT_TRUE((SectorRange{200, 5}.ClampTo(outer)).Empty());
  EXPECT_FALSE(outer.Contains(150));
}

}  // namespace
}  // namespace brevid
