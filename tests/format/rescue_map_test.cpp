// The ddrescue map text: what ddrescue writes reads back, what Brevid writes
// reads back to the same text, and damaged maps are refused with a line.
#include "format/rescue_map.h"

#include <gtest/gtest.h>

namespace brevid {
namespace {

TEST(RescueMap, ReadsDdrescueMapsWritesThemBackAndRefusesDamage) {
  const std::string ddrescue =
      "# Mapfile. Created by GNU ddrescue version 1.27\n"
      "# Command line: ddrescue -n in out map\n"
      "# current_pos  current_status  current_pass\n"
      "0x00497000     *               1\r\n"
      "#      pos        size  status\n"
      "0x00000000  0x0000C800  +\n"
      "0x0000C800  0x00000200  -\n"
      "51712  0x4C00  /\n"  // decimal, as C reads numbers
      "0x00011600  0x00000200  ?\n"
      "0x00011800  0x00000200  ?\n";
  std::string error;
  std::optional<RescueMap> map = ParseRescueMap(ddrescue, &error);
  ASSERT_TRUE(map) << error;
  EXPECT_EQ(map->currentPos, 0x497000u);
  EXPECT_EQ(map->currentStatus, '*');
  const std::vector<RescueBlock> blocks = {
      {0, 0xC800, '+'}, {0xC800, 0x200, '-'}, {0xCA00, 0x4C00, '/'}, {0x11600, 0x400, '?'}};
  EXPECT_EQ(map->blocks, blocks);  // neighbours of one status merged
  const std::string text = FormatRescueMap(*map);
  EXPECT_EQ(FormatRescueMap(*ParseRescueMap(text, &error)), text);

  // Marking splits and merges; marking past the end extends with non-tried.
  SetRescueStatus(*map, 0xC800, 0x4E00, '+');
  SetRescueStatus(*map, 0x20000, 0x200, '-');
  EXPECT_EQ(map->blocks, (std::vector<RescueBlock>{
                             {0, 0x11600, '+'}, {0x11600, 0xEA00, '?'}, {0x20000, 0x200, '-'}}));

  for (const char* damaged : {
           "",                                     // no status line
           "0x0 ?\n0x0 0x200 +\n0x400 0x200 +\n",  // a gap
           "0x0 ?\n0x0 0x200 x\n",                 // unknown status
           "0x0 ?\n0x0 0x0 +\n",                   // empty block
           "0x0 ?\n0x0 0xFFFFFFFFFFFFFFFF +\n",    // past the largest position
           "0x0 ?\n0x7FFFFFFFFFFFFE00 0x400 +\n",  // ends past it
           "0x0 Q 1\n",                            // unknown pass status
       })
    EXPECT_FALSE(ParseRescueMap(damaged, &error)) << damaged;
  EXPECT_EQ(error, "line 1: not a status line (current_pos current_status [current_pass])");
}

}  // namespace
}  // namespace brevid
