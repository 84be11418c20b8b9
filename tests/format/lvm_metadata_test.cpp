// The LVM2 text metadata as LVM2 writes it to disk.
#include "format/lvm_metadata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace brevid {
namespace {

std::string Segment(int n, int start, int count, const std::string& pv, int at) {
  return "segment" + std::to_string(n) + " {\nstart_extent = " + std::to_string(start) +
         "\nextent_count = " + std::to_string(count) +
         "\ntype = \"striped\"\nstripe_count = 1\nstripes = [\n\"" + pv + "\", " +
         std::to_string(at) + "\n]\n}\n";
}

std::string Metadata(const std::string& vgName, const std::string& lvs) {
  return vgName +
         " {\nid = \"kZ4S06-lhFY-G4cB-8OQx-SWVg-GrI6-1jEYEf\"\nseqno = 2\n"
         "extent_size = 8192\n\nphysical_volumes {\n\npv0 {\n"
         "id = \"btEzLa-i0aL-sfS8-Ae9P-QKGU-IhtA-CkpWm7\"\ndevice = \"/dev/loop1\"\n"
         "dev_size = 32768\npe_start = 2048\npe_count = 3\n}\n}\n\nlogical_volumes {\n" +
         lvs + "}\n}\n";
}

TEST(LvmMetadata, ValuesAndBlocksAsWritten) {
  EXPECT_EQ(GetValue("a {\nextent_size = 8192\n", "extent_size"), "8192");
  EXPECT_EQ(GetValue("x\nstripes = [\n\"pv0\", 7\n]\n", "stripes"), "\n\"pv0\", 7\n");
  EXPECT_EQ(GetValue("key = 1", "key"), "");  // no line feed
  EXPECT_EQ(BlockAt("\n\npv0 {\na {\n}\n}\nrest"), "\n\npv0 {\na {\n}\n}");
  EXPECT_EQ(BlockAt("no braces"), "");
  EXPECT_EQ(BlockAt("open { only"), "");
  EXPECT_EQ(DecimalValue("  42abc"), 42u);
  EXPECT_EQ(DecimalValue("x"), 0u);
  EXPECT_EQ(DecimalValue("99999999999999999999999"), UINT64_MAX);
}

TEST(LvmMetadata, SegmentsTheirSizesAndPhysicalVolumes) {
  std::string many;
  for (int i = 1; i <= 11; ++i) many += Segment(i, 100 + i, i, "pv0", 1000 + i);
  std::string text =
      Metadata("vg_test", "\nlv_two {\nsegment_count = 2\n\n" + Segment(1, 0, 100, "pv0", 0) +
                              Segment(2, 100, 50, "pv9", 3) +
                              "}\n\nlv_many {\nsegment_count = 11\n\n" + many + "}\n");
  LvmMetadata md = ParseLvmMetadata(text);
  EXPECT_EQ(md.vgId, "\"kZ4S06-lhFY-G4cB-8OQx-SWVg-GrI6-1jEYEf\"");
  EXPECT_EQ(md.extentSize, 8192u);
  ASSERT_EQ(md.physicalVolumes.size(), 1u);
  // Written with dashes, matched against the label's dash-less UUID.
  EXPECT_EQ(md.physicalVolumes[0].id, "btEzLai0aLsfS8Ae9PQKGUIhtACkpWm7");
  EXPECT_EQ(md.physicalVolumes[0].name, "pv0");
  EXPECT_EQ(md.physicalVolumes[0].peStart, 2048u);
  ASSERT_EQ(md.logicalVolumes.size(), 2u);
  const LvmLogicalVolume& two = md.logicalVolumes[0];
  EXPECT_EQ(two.name, "\n\nlv_two");
  EXPECT_EQ(two.sizeSectors, 150u * 8192u);
  ASSERT_EQ(two.segments.size(), 2u);
  EXPECT_EQ(two.segments[0].pvId, "btEzLai0aLsfS8Ae9PQKGUIhtACkpWm7");
  EXPECT_EQ(two.segments[1].pvId, "");  // pv9 is not in the table
  EXPECT_EQ(two.segments[1].stripeStart, 3u);
  const LvmLogicalVolume& m = md.logicalVolumes[1];
  ASSERT_EQ(m.segments.size(), 11u);
  // "segment1" is found before "segment10", which shares its first letters.
  EXPECT_EQ(m.segments[0].startExtent, 101u);
  EXPECT_EQ(m.segments[9].startExtent, 110u);
  EXPECT_EQ(m.segments[10].stripeStart, 1011u);
}

TEST(LvmMetadata, GroupNameHoldingTheKeyLettersAndHostileCounts) {
  // GetValue itself stops on the name line, which has no "="; the group id is
  // looked up behind the group's brace so that it is still found.
  std::string text = Metadata(
      "vid_group", "\nlv_x {\nsegment_count = 4000000000\n\n" + Segment(1, 0, 1, "pv0", 0) + "}\n");
  EXPECT_EQ(GetValue(text, "id"), "");
  LvmMetadata md = ParseLvmMetadata(text);
  EXPECT_EQ(md.vgId, "\"kZ4S06-lhFY-G4cB-8OQx-SWVg-GrI6-1jEYEf\"");
  ASSERT_EQ(md.logicalVolumes.size(), 1u);
  EXPECT_EQ(md.logicalVolumes[0].segments.size(), 1u);
  EXPECT_TRUE(ParseLvmMetadata(std::string(100000, '{')).logicalVolumes.empty());
}

// Every stripe of a segment, and a label whose PV holds no metadata copy
// (its metadata-area list is empty behind the data area).
TEST(LvmMetadata, StripesAndALabelWithoutMetadataArea) {
  std::string striped =
      "segment1 {\nstart_extent = 0\nextent_count = 4\ntype = \"striped\"\n"
      "stripe_count = 2\nstripe_size = 128\nstripes = [\n\"pv0\", 6,\n\"pv9\", 2\n]\n}\n";
  LvmMetadata md =
      ParseLvmMetadata(Metadata("vg", "\nlv_s {\nsegment_count = 1\n\n" + striped + "}\n"));
  ASSERT_EQ(md.logicalVolumes.size(), 1u);
  const LvmSegment& seg = md.logicalVolumes[0].segments.at(0);
  EXPECT_EQ(seg.stripeSectors, 128u);
  ASSERT_EQ(seg.stripes.size(), 2u);
  EXPECT_EQ(seg.stripes[0].pvId, "btEzLai0aLsfS8Ae9PQKGUIhtACkpWm7");
  EXPECT_EQ(seg.stripes[1].startExtent, 2u);
  EXPECT_EQ(seg.stripes[1].pvId, "");

  std::vector<uint8_t> sector(512);
  std::copy_n("LABELONE", 8, sector.begin());
  sector[0x48 + 1] = 0x10;  // one data area from 4 KiB; nothing follows it
  LvmLabel label;
  ASSERT_TRUE(ParseLvmLabel(sector, &label));
  EXPECT_EQ(label.mdaOffset, 0u);
  sector[0x68 + 1] = 0x10;  // now a metadata area behind the list's end
  ASSERT_TRUE(ParseLvmLabel(sector, &label));
  EXPECT_EQ(label.mdaOffset, 0x1000u);
}

}  // namespace
}  // namespace brevid
