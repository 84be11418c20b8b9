// MFT records made by mkntfs, then records built here with one field broken
// at a time; the readers over the fixture and over an image held in memory.
#include "fs/mft_record.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "fs/volume_trees.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

// boot0_ntfs.img: 16384 sectors, 8 sectors per cluster, $MFT at cluster 4.
constexpr uint64_t kFixtureMftSector = 32;
constexpr uint64_t kFixtureTime = 0x019DB1DED53E8000;  // every time mkntfs -T wrote

using Record = std::vector<uint8_t>;

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Record FixtureRecord(uint32_t number) {
  SourceHandle h = SourceHandle::Open(test::FixturePath("boot0_ntfs.img"));
  EXPECT_TRUE(h.IsOpen());
  return ReadBytes(h, (kFixtureMftSector + 2 * number) * 512, kMftRecordSize);
}

VolumeInfo FixtureVolume() {
  VolumeInfo v;
  v.start = 0;
  v.sectorCount = 16384;
  v.sectorsPerCluster = 8;
  v.mftStart = kFixtureMftSector;
  v.fsType = kFsNtfs;
  return v;
}

MftRecordInfo Parse(Record r, uint32_t number, uint32_t nested = 0,
                    const MftRecordFetcher* fetcher = nullptr, bool expect = true) {
  MftRecordInfo info;
  EXPECT_EQ(ParseMftRecord(r, number, info, nested, fetcher), expect);
  return info;
}

// ---- records built here -----------------------------------------------------

std::vector<uint8_t> Utf16(std::u16string_view s) {
  std::vector<uint8_t> b;
  for (char16_t c : s) b.push_back(c & 0xFF), b.push_back(c >> 8);
  return b;
}

size_t Align8(size_t n) { return (n + 7) & ~size_t{7}; }

std::vector<uint8_t> Resident(uint32_t type, const std::vector<uint8_t>& value,
                              std::u16string_view name = u"") {
  size_t valueOffset = Align8(0x18 + 2 * name.size());
  std::vector<uint8_t> a(Align8(valueOffset + value.size()), 0);
  Put32(a, 0x00, type);
  Put32(a, 0x04, static_cast<uint32_t>(a.size()));
  a[0x09] = static_cast<uint8_t>(name.size());
  Put16(a, 0x0A, 0x18);
  Put32(a, 0x10, static_cast<uint32_t>(value.size()));
  Put16(a, 0x14, static_cast<uint16_t>(valueOffset));
  std::vector<uint8_t> n = Utf16(name);
  std::copy(n.begin(), n.end(), a.begin() + 0x18);
  std::copy(value.begin(), value.end(), a.begin() + valueOffset);
  return a;
}

std::vector<uint8_t> NonResident(uint32_t type, const std::vector<uint8_t>& pairs,
                                 uint64_t realSize, uint64_t lowestVcn = 0,
                                 std::u16string_view name = u"", uint16_t flags = 0) {
  size_t pairsOffset = Align8(0x40 + 2 * name.size());
  std::vector<uint8_t> a(Align8(pairsOffset + pairs.size() + 1), 0);
  Put32(a, 0x00, type);
  Put32(a, 0x04, static_cast<uint32_t>(a.size()));
  a[0x08] = 1;
  a[0x09] = static_cast<uint8_t>(name.size());
  Put16(a, 0x0A, 0x40);
  Put16(a, 0x0C, flags);
  Put64(a, 0x10, lowestVcn);
  Put16(a, 0x20, static_cast<uint16_t>(pairsOffset));
  Put64(a, 0x30, realSize);
  std::vector<uint8_t> n = Utf16(name);
  std::copy(n.begin(), n.end(), a.begin() + 0x40);
  std::copy(pairs.begin(), pairs.end(), a.begin() + pairsOffset);
  return a;
}

std::vector<uint8_t> StandardInfo(uint64_t t0, uint64_t t1, uint64_t t2, uint64_t t3) {
  std::vector<uint8_t> v(0x48, 0);
  Put64(v, 0, t0), Put64(v, 8, t1), Put64(v, 16, t2), Put64(v, 24, t3);
  return Resident(0x10, v);
}

std::vector<uint8_t> FileNameValue(std::u16string_view name, uint8_t nameSpace,
                                   uint64_t realSize = 0, uint64_t parent = 5,
                                   uint64_t created = 1) {
  std::vector<uint8_t> v(0x42, 0);
  Put64(v, 0x00, parent);
  Put64(v, 0x08, created);
  Put64(v, 0x30, realSize);
  Put32(v, 0x38, 0x20);
  v[0x40] = static_cast<uint8_t>(name.size());
  v[0x41] = nameSpace;
  std::vector<uint8_t> n = Utf16(name);
  v.insert(v.end(), n.begin(), n.end());
  return v;
}

std::vector<uint8_t> FileName(std::u16string_view name, uint8_t nameSpace, uint64_t realSize = 0) {
  return Resident(0x30, FileNameValue(name, nameSpace, realSize));
}

std::vector<uint8_t> IndexEntry(uint64_t fileRef, const std::vector<uint8_t>& key,
                                uint16_t flags = 0) {
  std::vector<uint8_t> e(Align8(0x10 + key.size()), 0);
  Put64(e, 0x00, fileRef);
  Put16(e, 0x08, static_cast<uint16_t>(e.size()));
  Put16(e, 0x0A, static_cast<uint16_t>(key.size()));
  Put16(e, 0x0C, flags);
  std::copy(key.begin(), key.end(), e.begin() + 0x10);
  return e;
}

// An index root over file names: the entries given, then the last entry
// (with a sub-node VCN when `subnodes`).
std::vector<uint8_t> IndexRoot(const std::vector<std::vector<uint8_t>>& entries, bool subnodes,
                               uint64_t lastVcn = 0, uint32_t indexedType = 0x30) {
  std::vector<uint8_t> body;
  for (const auto& e : entries) body.insert(body.end(), e.begin(), e.end());
  std::vector<uint8_t> last(subnodes ? 24 : 16, 0);
  Put16(last, 0x08, static_cast<uint16_t>(last.size()));
  Put16(last, 0x0C, subnodes ? 3 : 2);
  if (subnodes) Put64(last, 16, lastVcn);
  body.insert(body.end(), last.begin(), last.end());
  std::vector<uint8_t> v(0x20, 0);
  Put32(v, 0x00, indexedType);
  Put32(v, 0x08, 4096);
  Put32(v, 0x10, 0x10);
  Put32(v, 0x14, static_cast<uint32_t>(0x10 + body.size()));
  Put32(v, 0x18, static_cast<uint32_t>(0x10 + body.size()));
  v[0x1C] = subnodes ? 1 : 0;
  v.insert(v.end(), body.begin(), body.end());
  return Resident(0x90, v, u"$I30");
}

std::vector<uint8_t> ListEntry(uint32_t type, uint32_t record, uint64_t vcn = 0) {
  std::vector<uint8_t> e(0x20, 0);
  Put32(e, 0x00, type);
  Put16(e, 0x04, 0x20);
  Put64(e, 0x08, vcn);
  Put32(e, 0x10, record);
  return e;
}

std::vector<uint8_t> Concat(const std::vector<std::vector<uint8_t>>& parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A record as written to disk: header, attributes, end marker, fix-up.
class RecordBuilder {
 public:
  explicit RecordBuilder(uint32_t number, uint16_t flags = 1, uint16_t usaOffset = 0x30)
      : r_(kMftRecordSize, 0), cursor_(0x38) {
    std::copy_n("FILE", 4, r_.begin());
    Put16(r_, 0x04, usaOffset);
    Put16(r_, 0x06, 3);
    Put16(r_, 0x14, 0x38);
    Put16(r_, 0x16, flags);
    if (usaOffset == 0x30) Put32(r_, 0x2C, number);
  }
  RecordBuilder& Add(const std::vector<uint8_t>& attribute) {
    std::copy(attribute.begin(), attribute.end(), r_.begin() + cursor_);
    cursor_ += attribute.size();
    return *this;
  }
  Record Build() const {
    Record r = r_;
    Put32(r, cursor_, 0xFFFFFFFF);
    size_t usa = LoadLe16(r, 0x04);
    Put16(r, usa, 0x0007);
    std::copy_n(r.begin() + 0x1FE, 2, r.begin() + usa + 2);
    std::copy_n(r.begin() + 0x3FE, 2, r.begin() + usa + 4);
    Put16(r, 0x1FE, 0x0007);
    Put16(r, 0x3FE, 0x0007);
    return r;
  }
  size_t cursor() const { return cursor_; }

 private:
  Record r_;
  size_t cursor_;
};

// ---- CheckMftRecord ---------------------------------------------------------

TEST(MftRecordCheck, FixtureRecordPassesAndIsFixedUp) {
  Record r = FixtureRecord(0);
  ASSERT_EQ(LoadLe16(r, 0x1FE), LoadLe16(r, 0x30));
  Put16(r, 0x32, 0xABCD);  // array elements: what the sector ends held
  Put16(r, 0x34, 0x1234);
  EXPECT_TRUE(CheckMftRecord(r));
  EXPECT_EQ(LoadLe16(r, 0x1FE), 0xABCD);
  EXPECT_EQ(LoadLe16(r, 0x3FE), 0x1234);
}

TEST(MftRecordCheck, EachBrokenFieldFailsAndLeavesTheRecordAlone) {
  const Record good = FixtureRecord(5);
  std::vector<std::function<void(Record&)>> breaks = {
      [](Record& b) { b[0] = 'B'; },  // signature
      [](Record& b) { b[3] = 'D'; },
      [](Record& b) { b[4] = 0x31; },             // update-sequence offset
      [](Record& b) { Put16(b, 0x04, 0x0430); },  // array past the record
      [](Record& b) { b[0x1FE] ^= 1; },           // first sector end
      [](Record& b) { b[0x3FF] ^= 1; },           // second sector end
      [](Record& b) { b[0x30] ^= 1; },            // the number itself
  };
  for (size_t i = 0; i < breaks.size(); ++i) {
    Record bad = good;
    breaks[i](bad);
    Record before = bad;
    EXPECT_FALSE(CheckMftRecord(bad)) << "breakage " << i;
    EXPECT_EQ(bad, before) << "breakage " << i;
  }
  Record shortRecord(good.begin(), good.begin() + 1023);
  EXPECT_FALSE(CheckMftRecord(shortRecord));
}

TEST(MftRecordCheck, HoldSignatureAndOlderOffsetAreAccepted) {
  Record hold = FixtureRecord(3);
  std::copy_n("FHLD", 4, hold.begin());
  EXPECT_TRUE(CheckMftRecord(hold));
  // Only the low byte of the offset is tested; the array then lies at 0x130.
  Record high = FixtureRecord(3);
  Put16(high, 0x04, 0x0130);
  Put16(high, 0x130, LoadLe16(high, 0x1FE));
  EXPECT_TRUE(CheckMftRecord(high));
  Record old = RecordBuilder(9, 1, 0x2A).Build();
  EXPECT_TRUE(CheckMftRecord(old));
}

// ---- ListAttributes -----------------------------------------------------------

TEST(MftAttributes, FixtureRecordZeroListsItsFourAttributes) {
  Record r = FixtureRecord(0);
  ASSERT_TRUE(CheckMftRecord(r));
  std::vector<AttributeRef> list;
  EXPECT_TRUE(ListAttributes(r, list));
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].type, 0x10u);
  EXPECT_EQ(list[0].offset, 0x38u);
  EXPECT_EQ(list[1].type, 0x30u);
  EXPECT_EQ(list[2].type, 0x80u);
  EXPECT_EQ(list[3].type, 0xB0u);
}

TEST(MftAttributes, ListEndsWithoutMarkerOnDamage) {
  Record r = FixtureRecord(0);
  ASSERT_TRUE(CheckMftRecord(r));
  std::vector<AttributeRef> list;
  Record zeroLength = r;
  Put32(zeroLength, 0x98 + 4, 0);  // the file name's length
  EXPECT_FALSE(ListAttributes(zeroLength, list));
  EXPECT_EQ(list.size(), 1u);
  Record pastEnd = r;
  Put32(pastEnd, 0x98 + 4, 0x400);  // runs past the record: not listed
  EXPECT_FALSE(ListAttributes(pastEnd, list));
  EXPECT_EQ(list.size(), 1u);
  Record firstOutside = r;
  Put16(firstOutside, 0x14, 0x400);
  EXPECT_FALSE(ListAttributes(firstOutside, list));
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(ListAttributes({}, list));
}

// ---- parsing the fixture's records ----------------------------------------------

TEST(MftParse, FixtureMft) {
  MftRecordInfo info = Parse(FixtureRecord(0), 0);
  EXPECT_EQ(info.recordNumber, 0u);
  EXPECT_EQ(info.baseReference, 0u);
  EXPECT_EQ(info.kind, kNormalFile);
  EXPECT_EQ(info.name, "$MFT");
  EXPECT_EQ(info.nameLength, 4);
  EXPECT_EQ(info.nameSpace, 3);
  EXPECT_EQ(info.size, 27648u);  // istat: $DATA size 27648, clusters 4-10
  EXPECT_EQ(info.nonResident, 1);
  ASSERT_EQ(info.runs.size(), 1u);
  EXPECT_EQ(info.runs.at(0).startCluster, 4u);
  EXPECT_EQ(info.runs.at(0).length, 7u);
  EXPECT_EQ(ParentReference(info), 0x0005000000000005u);
  EXPECT_EQ(info.createTime, kFixtureTime);
  EXPECT_EQ(info.accessTime, kFixtureTime);
  EXPECT_EQ(FileNameCreateTime(info), kFixtureTime);
  EXPECT_EQ(info.fileAttributes, 6u);  // hidden, system
  EXPECT_FALSE(info.residentContent.has_value());
  EXPECT_TRUE(info.indexEntries.empty());
}

TEST(MftParse, FixtureRootIsNamedAndHasSubnodes) {
  MftRecordInfo info = Parse(FixtureRecord(5), 5);
  EXPECT_EQ(info.kind, kNormalFolder);
  EXPECT_EQ(info.name, Ansi("根目录"));
  EXPECT_EQ(info.indexFlags, 1);
  EXPECT_EQ(info.lastSubnodeVcn, 0u);
  EXPECT_TRUE(info.indexEntries.empty());  // its only root entry is the last one
  EXPECT_TRUE(info.runs.empty());          // $I30 allocation is named
  EXPECT_EQ(info.size, 0u);
}

TEST(MftParse, FixtureVolumeHasEmptyResidentData) {
  MftRecordInfo info = Parse(FixtureRecord(3), 3);
  EXPECT_EQ(info.name, "$Volume");
  EXPECT_EQ(info.kind, kNormalFile);
  EXPECT_EQ(info.nonResident, 0);
  EXPECT_FALSE(info.residentContent.has_value());  // value offset = attribute length
  EXPECT_EQ(info.size, 0u);
}

TEST(MftParse, RecordNumberRules) {
  Parse(FixtureRecord(3), 4, 0, nullptr, false);
  MftRecordInfo nested;
  nested.recordNumber = 77;
  Record volume = FixtureRecord(3);
  ASSERT_TRUE(ParseMftRecord(volume, 4, nested, kNestedRead));
  EXPECT_EQ(nested.recordNumber, 77u);
  EXPECT_EQ(nested.name, "$Volume");
  // Older records have no number field: the requested one is taken.
  MftRecordInfo old = Parse(RecordBuilder(0, 1, 0x2A).Add(FileName(u"old.txt", 1)).Build(), 4321);
  EXPECT_EQ(old.recordNumber, 4321u);
  EXPECT_EQ(old.name, "old.txt");
  Record broken = FixtureRecord(0);
  broken[0x1FE] ^= 0xFF;
  Parse(broken, 0, 0, nullptr, false);
}

TEST(MftParse, KindFromFlags) {
  const std::map<uint16_t, uint8_t> expected = {
      {0, kDeletedFile},  {1, kNormalFile}, {2, kDeletedFolder}, {3, kNormalFolder},
      {7, kNormalFolder}, {5, kKindNone},   {4, kKindNone}};
  for (auto [flags, kind] : expected) {
    EXPECT_EQ(Parse(RecordBuilder(40, flags).Build(), 40).kind, kind) << flags;
  }
  MftRecordInfo kept;
  kept.kind = kDeletedFolder;
  Record flags5 = RecordBuilder(40, 5).Build();
  ASSERT_TRUE(ParseMftRecord(flags5, 40, kept));
  EXPECT_EQ(kept.kind, kDeletedFolder);
}

// ---- file names ---------------------------------------------------------------

TEST(MftFileName, NameSpaceRule) {
  MftRecordInfo dosThenWin32 = Parse(RecordBuilder(40)
                                         .Add(FileName(u"LONGNA~1.TXT", 2, 10))
                                         .Add(FileName(u"a.txt", 1, 30))
                                         .Build(),
                                     40);
  EXPECT_EQ(dosThenWin32.name, "a.txt");
  EXPECT_EQ(dosThenWin32.nameSpace, 1);
  EXPECT_EQ(dosThenWin32.size, 30u);
  MftRecordInfo win32ThenDos = Parse(
      RecordBuilder(40).Add(FileName(u"a.txt", 1, 30)).Add(FileName(u"A~1.TXT", 2, 50)).Build(),
      40);
  EXPECT_EQ(win32ThenDos.name, "a.txt");
  EXPECT_EQ(win32ThenDos.size, 30u);
  MftRecordInfo posix = Parse(RecordBuilder(40).Add(FileName(u"Posix:Name", 0)).Build(), 40);
  EXPECT_EQ(posix.name, "Posix:Name");
  EXPECT_EQ(posix.nameSpace, 0);
  MftRecordInfo chinese = Parse(RecordBuilder(40).Add(FileName(u"报告.txt", 3)).Build(), 40);
  EXPECT_EQ(chinese.name, Ansi("报告.txt"));
  MftRecordInfo thai = Parse(RecordBuilder(40).Add(FileName(u"ก.txt", 1)).Build(), 40);
  EXPECT_EQ(thai.name, "?.txt");
}

TEST(MftFileName, RootIsAlwaysNamedRoot) {
  MftRecordInfo root =
      Parse(RecordBuilder(5, 3).Add(FileName(u"anything", 1)).Add(FileName(u"", 3)).Build(), 5);
  EXPECT_EQ(root.name, Ansi("根目录"));
}

TEST(MftFileName, DamagedNamesAreNotTaken) {
  std::vector<uint8_t> nameTooLong = FileName(u"abc", 1);
  nameTooLong[0x18 + 0x40] = 200;  // units past the value
  MftRecordInfo a = Parse(RecordBuilder(40).Add(nameTooLong).Build(), 40);
  EXPECT_TRUE(a.name.empty());
  EXPECT_EQ(FileNameCreateTime(a), 0u);

  std::vector<uint8_t> valuePastAttribute = FileName(u"abc", 1);
  Put32(valuePastAttribute, 0x10, 0x300);
  EXPECT_TRUE(Parse(RecordBuilder(40).Add(valuePastAttribute).Build(), 40).name.empty());

  std::vector<uint8_t> shortValue = Resident(0x30, std::vector<uint8_t>(0x41, 0));
  EXPECT_EQ(Parse(RecordBuilder(40).Add(shortValue).Build(), 40).nameSpace, 0);

  std::vector<uint8_t> nonResidentName = FileName(u"abc", 1);
  nonResidentName[0x08] = 1;
  EXPECT_TRUE(Parse(RecordBuilder(40).Add(nonResidentName).Build(), 40).name.empty());
}

TEST(MftStandardInfo, TimesInOrder) {
  MftRecordInfo info = Parse(RecordBuilder(40).Add(StandardInfo(1, 2, 3, 4)).Build(), 40);
  EXPECT_EQ(info.createTime, 1u);
  EXPECT_EQ(info.modifyTime, 2u);
  EXPECT_EQ(info.mftChangeTime, 3u);
  EXPECT_EQ(info.accessTime, 4u);
  std::vector<uint8_t> shortValue = Resident(0x10, std::vector<uint8_t>(0x18, 0xEE));
  EXPECT_EQ(Parse(RecordBuilder(40).Add(shortValue).Build(), 40).createTime, 0u);
}

// ---- data attributes and run lists ------------------------------------------------

std::vector<DataRun> Runs(const MftRecordInfo& info) {
  std::vector<DataRun> runs;
  for (const auto& [index, run] : info.runs) {
    EXPECT_EQ(index, run.runIndex);
    runs.push_back(run);
  }
  return runs;
}

MftRecordInfo ParseRuns(const std::vector<uint8_t>& pairs, uint64_t realSize = 0) {
  return Parse(RecordBuilder(40).Add(NonResident(0x80, pairs, realSize)).Build(), 40);
}

TEST(MftRunList, FieldSizesAndSignedOffsets) {
  MftRecordInfo info = ParseRuns(
      {
          0x14, 0x98, 0xBA, 0xDC, 0xFE, 0x10,        // 4-byte length, offset +0x10
          0x01, 0x05,                                // no offset field: no location
          0x21, 0x08, 0x00, 0x01,                    // 2-byte offset: +0x100
          0x11, 0x04, 0xF0,                          // -0x10
          0x41, 0x02, 0xFF, 0xFF, 0xFF, 0xFF,        // -1 in four bytes
          0x51, 0x03, 1,    2,    3,    4,    5,     // 5-byte offset: start kept
          0x15, 1,    2,    3,    4,    5,    0x01,  // 5-byte length: 0
          0x31, 0x01, 0x00, 0x00, 0x80,              // 3-byte offset with sign bit
      },
      0x5000);
  std::vector<DataRun> runs = Runs(info);
  ASSERT_EQ(runs.size(), 8u);
  EXPECT_EQ(runs[0].length, 0xFEDCBA98u);
  EXPECT_EQ(runs[0].startCluster, 0x10u);
  EXPECT_EQ(runs[1].startCluster, 0u);
  EXPECT_EQ(runs[1].length, 5u);
  EXPECT_EQ(runs[2].startCluster, 0x110u);
  EXPECT_EQ(runs[3].startCluster, 0x100u);
  EXPECT_EQ(runs[4].startCluster, 0xFFu);
  EXPECT_EQ(runs[5].startCluster, 0xFFu);
  EXPECT_EQ(runs[5].length, 3u);
  EXPECT_EQ(runs[6].length, 0u);
  EXPECT_EQ(runs[6].startCluster, 0x100u);
  EXPECT_EQ(runs[7].startCluster, 0x100u - 0x800000u);
  EXPECT_EQ(info.size, 0x5000u);
  EXPECT_EQ(info.nonResident, 1);
}

TEST(MftRunList, NoMappingPairsGivesOneEmptyRun) {
  std::vector<uint8_t> a = NonResident(0x80, {0x11, 1, 1}, 99);
  Put16(a, 0x20, 0);
  MftRecordInfo info = Parse(RecordBuilder(40).Add(a).Build(), 40);
  ASSERT_EQ(info.runs.size(), 1u);
  EXPECT_EQ(info.runs.at(0).startCluster, 0u);
  EXPECT_EQ(info.runs.at(0).length, 0u);
  EXPECT_EQ(info.size, 0u);
  Put16(a, 0x20, 0xFFFF);
  EXPECT_EQ(Parse(RecordBuilder(40).Add(a).Build(), 40).runs.size(), 1u);
}

TEST(MftRunList, RunsStopAtTheAttributeEnd) {
  // The last header claims fields that the attribute does not hold.
  std::vector<uint8_t> a = NonResident(0x80, {0x11, 0x02, 0x10}, 0);
  size_t pairsEnd = 0x40 + 3;
  a[pairsEnd] = 0x44;
  std::fill(a.begin() + pairsEnd + 1, a.end(), 0x7F);
  EXPECT_EQ(Parse(RecordBuilder(40).Add(a).Build(), 40).runs.size(), 1u);
  // Mapping pairs offset beyond the record's end: no runs, no size.
  std::vector<uint8_t> far = NonResident(0x80, {0x11, 1, 1}, 77);
  Put16(far, 0x20, 0x3F0);
  MftRecordInfo info = Parse(RecordBuilder(40).Add(far).Build(), 40);
  EXPECT_TRUE(info.runs.empty());
  EXPECT_EQ(info.size, 0u);
}

TEST(MftRunList, NamedDataIsIgnoredAndCompressionFlagsKept) {
  MftRecordInfo info = Parse(RecordBuilder(40)
                                 .Add(NonResident(0x80, {0x11, 9, 9}, 1000, 0, u"stream"))
                                 .Add(NonResident(0x80, {0x11, 16, 0x20}, 2000, 0, u"", 0x0001))
                                 .Build(),
                             40);
  ASSERT_EQ(info.runs.size(), 1u);
  EXPECT_EQ(info.runs.at(0).startCluster, 0x20u);
  EXPECT_EQ(info.dataFlags, 1);
  EXPECT_EQ(info.size, 2000u);
}

TEST(MftRunList, RunCountIsBounded) {
  MftRecordInfo info;
  for (uint32_t i = 0; i + 1 < kMaxRuns; ++i) info.runs[i] = DataRun{i, 1, 1};
  std::vector<uint8_t> a = NonResident(0x80, {0x11, 1, 1, 0x11, 1, 1, 0x11, 1, 1}, 0);
  std::vector<uint8_t> record = RecordBuilder(40).Add(a).Build();
  ASSERT_TRUE(CheckMftRecord(record));
  DecodeDataAttribute(Bytes(record).subspan(0x38), info);
  EXPECT_EQ(info.runs.size(), kMaxRuns);
}

TEST(MftResidentData, SevenHundredBytes) {
  std::vector<uint8_t> value(700);
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i * 7 + 1);
  std::vector<uint8_t> a = Resident(0x80, value);
  MftRecordInfo info = Parse(RecordBuilder(40).Add(FileName(u"r.bin", 1, 0)).Add(a).Build(), 40);
  EXPECT_EQ(info.size, 700u);
  EXPECT_EQ(info.nonResident, 0);
  ASSERT_TRUE(info.residentContent.has_value());
  ASSERT_EQ(info.residentContent->size(), a.size() - 0x18);  // to the attribute's end
  EXPECT_TRUE(std::equal(value.begin(), value.end(), info.residentContent->begin()));
}

TEST(MftResidentData, SizeRuleAndDamagedValues) {
  // A larger size from the file name stays.
  MftRecordInfo larger = Parse(
      RecordBuilder(40).Add(FileName(u"r", 1, 5000)).Add(Resident(0x80, {1, 2, 3})).Build(), 40);
  EXPECT_EQ(larger.size, 5000u);
  std::vector<uint8_t> pastEnd = Resident(0x80, std::vector<uint8_t>(16, 9));
  Put32(pastEnd, 0x10, 0x200);  // value length past the attribute
  MftRecordInfo a = Parse(RecordBuilder(40).Add(pastEnd).Build(), 40);
  EXPECT_FALSE(a.residentContent.has_value());
  EXPECT_EQ(a.size, 0u);
  std::vector<uint8_t> offsetPast = Resident(0x80, std::vector<uint8_t>(16, 9));
  Put16(offsetPast, 0x14, 0x60);
  EXPECT_FALSE(Parse(RecordBuilder(40).Add(offsetPast).Build(), 40).residentContent.has_value());
}

// ---- index roots ---------------------------------------------------------------

TEST(MftIndexRoot, LeafEntriesTakeWin32Names) {
  std::vector<uint8_t> win32 = IndexEntry(0x0001000000000040, FileNameValue(u"Doc.txt", 1, 123));
  std::vector<uint8_t> dos = IndexEntry(0x41, FileNameValue(u"DOC~1.TXT", 2));
  std::vector<uint8_t> both = IndexEntry(0x42, FileNameValue(u"B.TXT", 3));
  MftRecordInfo info =
      Parse(RecordBuilder(60, 3).Add(IndexRoot({win32, dos, both}, false)).Build(), 60);
  EXPECT_EQ(info.indexFlags, 0);
  ASSERT_EQ(info.indexEntries.size(), 2u);
  const IndexEntryInfo& e = info.indexEntries[0];
  EXPECT_EQ(e.fileReferenceLow, 0x40u);
  EXPECT_EQ(e.fileReferenceHigh, 0x10000u);  // sequence number 1
  EXPECT_EQ(e.entryLength, win32.size());
  EXPECT_EQ(e.keyLength, 0x42 + 14);
  EXPECT_EQ(e.parentReference, 5u);
  EXPECT_EQ(e.createTime, 1u);
  EXPECT_EQ(e.realSize, 123u);
  EXPECT_EQ(e.fileAttributes, 0x20u);
  EXPECT_EQ(e.nameLength, 7);
  EXPECT_EQ(e.nameSpace, 1);
  EXPECT_EQ(e.name, "Doc.txt");
  EXPECT_EQ(info.indexEntries[1].name, "B.TXT");
}

TEST(MftIndexRoot, SubnodeEntriesTakeDosNamesAndTheLastVcn) {
  std::vector<uint8_t> dos = IndexEntry(0x41, FileNameValue(u"DOC~1.TXT", 2), 1);
  std::vector<uint8_t> posix = IndexEntry(0x43, FileNameValue(u"p", 0), 1);
  MftRecordInfo info =
      Parse(RecordBuilder(60, 3).Add(IndexRoot({dos, posix}, true, 0x1234)).Build(), 60);
  EXPECT_EQ(info.indexFlags, 1);
  EXPECT_EQ(info.lastSubnodeVcn, 0x1234u);
  ASSERT_EQ(info.indexEntries.size(), 1u);
  EXPECT_EQ(info.indexEntries[0].name, "DOC~1.TXT");
}

TEST(MftIndexRoot, DamagedEntriesEndTheWalk) {
  std::vector<uint8_t> good = IndexEntry(0x40, FileNameValue(u"good", 1));
  std::vector<uint8_t> zeroLength = good;
  Put16(zeroLength, 0x08, 0);
  MftRecordInfo a =
      Parse(RecordBuilder(60, 3).Add(IndexRoot({zeroLength, good}, false)).Build(), 60);
  EXPECT_EQ(a.indexEntries.size(), 0u);  // too short to hold a key, and nothing to step by

  std::vector<uint8_t> nameTooLong = good;
  nameTooLong[0x10 + 0x40] = 100;
  MftRecordInfo b =
      Parse(RecordBuilder(60, 3).Add(IndexRoot({nameTooLong, good}, false)).Build(), 60);
  ASSERT_EQ(b.indexEntries.size(), 1u);
  EXPECT_EQ(b.indexEntries[0].name, "good");

  std::vector<uint8_t> longEntry = good;
  Put16(longEntry, 0x08, 0x7FF0);
  EXPECT_EQ(Parse(RecordBuilder(60, 3).Add(IndexRoot({longEntry}, false)).Build(), 60)
                .indexEntries.size(),
            0u);

  std::vector<uint8_t> firstPast = IndexRoot({good}, false);
  Put32(firstPast, 0x20 + 0x10, 0x7FFFFFF0);
  EXPECT_TRUE(Parse(RecordBuilder(60, 3).Add(firstPast).Build(), 60).indexEntries.empty());

  // Indexes over other keys ($SDH, $O, ...) hold no file names.
  EXPECT_TRUE(Parse(RecordBuilder(60, 3).Add(IndexRoot({good}, false, 0, 0)).Build(), 60)
                  .indexEntries.empty());
}

// ---- attribute lists --------------------------------------------------------------

struct FakeDisk {
  std::map<uint32_t, Record> records;
  std::map<uint32_t, std::vector<uint8_t>> clusters;  // first cluster -> bytes
  std::vector<uint32_t> recordReads;
  std::vector<std::pair<uint32_t, uint32_t>> clusterReads;

  MftRecordFetcher Fetcher() {
    MftRecordFetcher f;
    f.clusterBytes = 4096;
    f.readRecord = [this](uint32_t n, std::span<uint8_t> out) {
      recordReads.push_back(n);
      auto it = records.find(n);
      if (it == records.end()) return false;
      std::copy_n(it->second.begin(), out.size(), out.begin());
      return true;
    };
    f.readClusters = [this](uint32_t c, uint32_t count, std::span<uint8_t> out) {
      clusterReads.push_back({c, count});
      auto it = clusters.find(c);
      if (it == clusters.end()) return false;
      std::copy_n(it->second.begin(), std::min(out.size(), it->second.size()), out.begin());
      return true;
    };
    return f;
  }
};

Record Extension(uint32_t number, const std::vector<uint8_t>& attribute, uint16_t flags = 1) {
  return RecordBuilder(number, flags).Add(attribute).Build();
}

TEST(MftAttributeList, PiecesAreReadOnceAndPutInVcnOrder) {
  FakeDisk disk;
  disk.records[21] = Extension(21, NonResident(0x80, {0x11, 4, 0x50}, 0, 10));
  disk.records[22] = Extension(22, NonResident(0x80, {0x11, 3, 0x70}, 0, 14));
  std::vector<uint8_t> list =
      Concat({ListEntry(0x10, 20), ListEntry(0x30, 20), ListEntry(0x80, 20, 0),
              ListEntry(0x80, 21, 10), ListEntry(0x80, 22, 14), ListEntry(0x80, 21, 12)});
  Record base = RecordBuilder(20)
                    .Add(Resident(0x20, list))
                    .Add(FileName(u"big.bin", 1, 100))
                    .Add(NonResident(0x80, {0x21, 10, 0x00, 0x01}, 17 * 4096, 0))
                    .Build();
  MftRecordFetcher fetcher = disk.Fetcher();
  MftRecordInfo info = Parse(base, 20, 0, &fetcher);
  EXPECT_EQ(disk.recordReads, (std::vector<uint32_t>{21, 22}));
  std::vector<DataRun> runs = Runs(info);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].startCluster, 0x100u);
  EXPECT_EQ(runs[0].length, 10u);
  EXPECT_EQ(runs[1].startCluster, 0x50u);
  EXPECT_EQ(runs[2].startCluster, 0x70u);
  EXPECT_EQ(info.size, 17u * 4096);
  EXPECT_EQ(info.name, "big.bin");
  EXPECT_EQ(info.recordNumber, 20u);
}

TEST(MftAttributeList, WithoutFetcherOnlyTheBaseIsParsed) {
  std::vector<uint8_t> list = ListEntry(0x80, 21, 0);
  Record base = RecordBuilder(20).Add(Resident(0x20, list)).Add(FileName(u"x", 1)).Build();
  MftRecordInfo info = Parse(base, 20);
  EXPECT_EQ(info.name, "x");
  EXPECT_TRUE(info.runs.empty());
}

TEST(MftAttributeList, SelfAndWrongRecordsAreNotFollowed) {
  FakeDisk disk;
  disk.records[21] = Extension(99, NonResident(0x80, {0x11, 4, 0x50}, 0));  // carries 99
  disk.records[22] = Extension(22, FileName(u"ignored", 1));
  std::vector<uint8_t> list = Concat({ListEntry(0x80, 20), ListEntry(0x90, 20), ListEntry(0x80, 21),
                                      ListEntry(0x30, 22), ListEntry(0xB0, 22)});
  Record base = RecordBuilder(20).Add(Resident(0x20, list)).Add(FileName(u"x", 1)).Build();
  MftRecordFetcher fetcher = disk.Fetcher();
  MftRecordInfo info = Parse(base, 20, 0, &fetcher);
  EXPECT_EQ(disk.recordReads, (std::vector<uint32_t>{21}));
  EXPECT_TRUE(info.runs.empty());
  EXPECT_EQ(info.name, "x");
}

TEST(MftAttributeList, ListedRecordsKeepTheKindAndDoNotNest) {
  FakeDisk disk;
  // The extension's own list would lead on to 23; lists are followed one level.
  disk.records[21] = RecordBuilder(21, 1)
                         .Add(Resident(0x20, ListEntry(0x80, 23)))
                         .Add(IndexRoot({IndexEntry(0x40, FileNameValue(u"child", 1))}, false))
                         .Build();
  disk.records[23] = Extension(23, NonResident(0x80, {0x11, 1, 1}, 0));
  Record base = RecordBuilder(20, 3)
                    .Add(Resident(0x20, Concat({ListEntry(0x90, 21), ListEntry(0xA0, 21)})))
                    .Build();
  MftRecordFetcher fetcher = disk.Fetcher();
  MftRecordInfo info = Parse(base, 20, 0, &fetcher);
  EXPECT_EQ(info.kind, kNormalFolder);
  EXPECT_EQ(disk.recordReads, (std::vector<uint32_t>{21}));
  ASSERT_EQ(info.indexEntries.size(), 1u);  // not twice
  EXPECT_EQ(info.indexEntries[0].name, "child");
}

TEST(MftAttributeList, ResidentContentOfListedRecordsIsReleased) {
  FakeDisk disk;
  disk.records[21] = Extension(21, Resident(0x80, {1, 2, 3, 4}));
  Record base = RecordBuilder(20).Add(Resident(0x20, ListEntry(0x80, 21))).Build();
  MftRecordFetcher fetcher = disk.Fetcher();
  MftRecordInfo info = Parse(base, 20, 0, &fetcher);
  EXPECT_FALSE(info.residentContent.has_value());
  EXPECT_EQ(info.size, 4u);
}

TEST(MftAttributeList, NonResidentListIsReadRunByRun) {
  FakeDisk disk;
  disk.records[30] = Extension(30, NonResident(0x80, {0x11, 2, 0x40}, 0, 0));
  disk.records[31] = Extension(31, NonResident(0x80, {0x11, 3, 0x60}, 0, 2));
  std::vector<uint8_t> first = Concat({ListEntry(0x80, 30, 0)});
  first.resize(4096, 0);
  disk.clusters[0x900] = first;
  disk.clusters[0xA00] = ListEntry(0x80, 31, 2);
  Record base = RecordBuilder(20)
                    .Add(NonResident(0x20, {0x21, 1, 0x00, 0x09, 0x01, 1, 0x21, 1, 0x00, 0x01}, 64))
                    .Build();
  MftRecordFetcher fetcher = disk.Fetcher();
  MftRecordInfo info = Parse(base, 20, 0, &fetcher);
  // The sparse run (no offset field) is skipped; the others are read.
  EXPECT_EQ(disk.clusterReads,
            (std::vector<std::pair<uint32_t, uint32_t>>{{0x900, 1}, {0xA00, 1}}));
  std::vector<DataRun> runs = Runs(info);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].startCluster, 0x40u);
  EXPECT_EQ(runs[1].startCluster, 0x60u);
}

TEST(MftAttributeList, HostileListsAreBounded) {
  FakeDisk disk;
  // A huge list run: the read is cut to the list bound.
  Record huge =
      RecordBuilder(20).Add(NonResident(0x20, {0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 0)).Build();
  MftRecordFetcher fetcher = disk.Fetcher();
  Parse(huge, 20, 0, &fetcher);
  ASSERT_EQ(disk.clusterReads.size(), 1u);
  EXPECT_EQ(disk.clusterReads[0].second, kMaxAttributeListBytes / 4096);

  // A list naming thousands of distinct records: no more than the bound are read.
  FakeDisk many;
  std::vector<uint8_t> entries;
  for (uint32_t n = 100; entries.size() < kMaxAttributeListBytes; ++n) {
    std::vector<uint8_t> e = ListEntry(0x80, n);
    entries.insert(entries.end(), e.begin(), e.end());
  }
  many.clusters[0x10] = entries;
  Record lister = RecordBuilder(20).Add(NonResident(0x20, {0x11, 0x40, 0x10}, 0)).Build();
  MftRecordFetcher manyFetcher = many.Fetcher();
  Parse(lister, 20, 0, &manyFetcher);
  EXPECT_EQ(many.recordReads.size(), kMaxListedRecords);

  // Entries with a length of 0 or too short end the walk.
  FakeDisk stop;
  stop.records[21] = Extension(21, NonResident(0x80, {0x11, 1, 1}, 0));
  std::vector<uint8_t> zero = ListEntry(0x80, 21);
  Put16(zero, 0x04, 0);
  std::vector<uint8_t> tiny = ListEntry(0x80, 21);
  Put16(tiny, 0x04, 8);
  for (const auto& bad : {zero, tiny}) {
    Record r = RecordBuilder(20).Add(Resident(0x20, Concat({bad, ListEntry(0x80, 21)}))).Build();
    MftRecordFetcher f = stop.Fetcher();
    Parse(r, 20, 0, &f);
  }
  EXPECT_TRUE(stop.recordReads.empty());
}

// ---- locating and reading records --------------------------------------------------

TEST(MftLocate, RunsThenMftStart) {
  VolumeInfo v;
  v.start = 1000;
  v.sectorsPerCluster = 8;
  v.mftStart = 5000;
  DataRunMap runs = {{0, {0, 100, 2}}, {1, {1, 300, 4}}};
  uint64_t sector = 0;
  ASSERT_TRUE(LocateMftRecord(7, v, runs, &sector));
  EXPECT_EQ(sector, 1000u + 800 + 14);
  ASSERT_TRUE(LocateMftRecord(9, v, runs, &sector));
  EXPECT_EQ(sector, 1000u + 2400 + 2);
  ASSERT_TRUE(LocateMftRecord(24 + 3, v, runs, &sector));
  EXPECT_EQ(sector, 5000u + 6);
  ASSERT_TRUE(LocateMftRecord(3, v, {}, &sector));
  EXPECT_EQ(sector, 5006u);
  VolumeInfo noClusters = v;
  noClusters.sectorsPerCluster = 0;  // no run holds anything
  ASSERT_TRUE(LocateMftRecord(1, noClusters, runs, &sector));
  EXPECT_EQ(sector, 5002u);
  // With the volume's size known, locations outside it are refused.
  v.sectorCount = 2000;
  EXPECT_TRUE(LocateMftRecord(7, v, runs, &sector));
  EXPECT_FALSE(LocateMftRecord(9, v, runs, &sector));
  EXPECT_FALSE(LocateMftRecord(0xFFFFFFFF, v, {}, &sector));
  DataRunMap wild = {{0, {0, 0xFFFFFFF0, 0xFFFFFFFF}}};
  EXPECT_FALSE(LocateMftRecord(1, v, wild, &sector));
}

TEST(MftRead, FixtureRecordsThroughTheMftRuns) {
  VolumeInfo v = FixtureVolume();
  SourceHandle h = SourceHandle::Open(test::FixturePath("boot0_ntfs.img"));
  ASSERT_TRUE(h.IsOpen());
  MftRecordInfo mft;
  ASSERT_TRUE(ReadMftRecord(&h, 0, mft, v, {}, 0));
  DataRunMap mftRuns = mft.runs;
  for (uint32_t n : {0u, 3u, 5u}) {
    MftRecordInfo viaRead;
    ASSERT_TRUE(ReadMftRecord(&h, n, viaRead, v, mftRuns, 0)) << n;
    MftRecordInfo direct = Parse(FixtureRecord(n), n);
    EXPECT_EQ(viaRead.name, direct.name);
    EXPECT_EQ(viaRead.size, direct.size);
    EXPECT_EQ(viaRead.kind, direct.kind);
  }
  MftRecordInfo beyond;
  EXPECT_FALSE(ReadMftRecord(&h, 100000, beyond, v, mftRuns, 0));
  EXPECT_FALSE(ReadMftRecord(nullptr, 3, beyond, v, mftRuns, 0));
}

// An in-memory volume: 8 sectors per cluster, $MFT in clusters 1-4.
struct MemoryVolume {
  std::vector<uint8_t> image = std::vector<uint8_t>(16 * 4096, 0);
  VolumeInfo volume;
  DataRunMap runs = {{0, {0, 1, 4}}};
  MemoryVolume() {
    volume.sectorCount = image.size() / 512;
    volume.sectorsPerCluster = 8;
    volume.mftStart = 8;
  }
  void Put(uint32_t number, const Record& r) {
    std::copy(r.begin(), r.end(), image.begin() + 4096 + number * 1024);
  }
  SourceHandle Handle() const { return SourceHandle(MakeMemorySource(image)); }
};

TEST(MftRead, AttributeListsThroughTheVolume) {
  MemoryVolume m;
  m.Put(10, RecordBuilder(10)
                .Add(Resident(0x20, Concat({ListEntry(0x80, 10), ListEntry(0x80, 12, 0)})))
                .Add(FileName(u"listed.bin", 1))
                .Build());
  m.Put(12, Extension(12, NonResident(0x80, {0x11, 5, 0x0C}, 20480)));
  m.Put(11, RecordBuilder(11).Add(NonResident(0x20, {0x11, 1, 0x08}, 32)).Build());
  std::vector<uint8_t> list = ListEntry(0x80, 13);
  std::copy(list.begin(), list.end(), m.image.begin() + 8 * 4096);
  m.Put(13, Extension(13, NonResident(0x80, {0x11, 2, 0x0D}, 8192)));
  SourceHandle h = m.Handle();
  MftRecordInfo a;
  ASSERT_TRUE(ReadMftRecord(&h, 10, a, m.volume, m.runs, 0));
  EXPECT_EQ(a.name, "listed.bin");
  ASSERT_EQ(a.runs.size(), 1u);
  EXPECT_EQ(a.runs.at(0).startCluster, 0x0Cu);
  EXPECT_EQ(a.size, 20480u);
  MftRecordInfo b;
  ASSERT_TRUE(ReadMftRecord(&h, 11, b, m.volume, m.runs, 0));
  ASSERT_EQ(b.runs.size(), 1u);
  EXPECT_EQ(b.runs.at(0).startCluster, 0x0Du);
  // A list run outside the volume is not read.
  m.Put(14, RecordBuilder(14).Add(NonResident(0x20, {0x31, 1, 0, 0, 0x10}, 32)).Build());
  SourceHandle h2 = m.Handle();
  MftRecordInfo c;
  ASSERT_TRUE(ReadMftRecord(&h2, 14, c, m.volume, m.runs, 0));
  EXPECT_TRUE(c.runs.empty());
}

class MessageBoxRecorder {
 public:
  MessageBoxRecorder() {
    old_ = SetMessageBoxHandler(
        [this](const std::string& text, const std::string& caption, unsigned style) {
          shown.push_back({text, caption});
          EXPECT_EQ(style, static_cast<unsigned>(kMbOk));
          return static_cast<int>(kIdOk);
        });
  }
  ~MessageBoxRecorder() { SetMessageBoxHandler(old_); }
  std::vector<std::pair<std::string, std::string>> shown;

 private:
  MessageBoxHandler old_;
};

TEST(MftReadForEntry, TriesEveryCopyThenWarns) {
  VolumeInfo v = FixtureVolume();
  VolumeTrees& trees = TreesOf(v);
  SourceHandle h = SourceHandle::Open(test::FixturePath("boot0_ntfs.img"));
  NtfsEntry mftNode;
  mftNode.name = "$MFT";
  mftNode.size = 27648;
  // First copy: another record; then record 3 (wrong name), then the right one.
  trees.recordFirstSector[0] = kFixtureMftSector + 2 * 5;
  trees.recordSectors.insert({0, kFixtureMftSector + 2 * 3});
  trees.recordSectors.insert({0, kFixtureMftSector});
  MessageBoxRecorder boxes;
  MftRecordInfo info;
  ASSERT_TRUE(ReadMftRecordForEntry(&h, 0, info, v, mftNode, kNestedRead));
  EXPECT_EQ(info.name, "$MFT");
  EXPECT_EQ(info.runs.size(), 1u);
  EXPECT_TRUE(boxes.shown.empty());

  NtfsEntry wrongSize = mftNode;
  wrongSize.size = 1;
  MftRecordInfo none;
  EXPECT_FALSE(ReadMftRecordForEntry(&h, 0, none, v, wrongSize, kNestedRead));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].first, Ansi("mft错误"));
  EXPECT_EQ(boxes.shown[0].second, Ansi("警告"));
  EXPECT_TRUE(none.name.empty());
  EXPECT_TRUE(none.runs.empty());

  MftRecordInfo unknown;
  EXPECT_FALSE(ReadMftRecordForEntry(&h, 12345, unknown, v, mftNode, 0));
  VolumeInfo noTrees = FixtureVolume();
  EXPECT_FALSE(ReadMftRecordForEntry(&h, 0, unknown, noTrees, mftNode, 0));
  EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST(MftReadForEntry, PlainReadChecksTheNumber) {
  VolumeInfo v = FixtureVolume();
  TreesOf(v).recordFirstSector[0] = kFixtureMftSector + 2 * 3;  // holds record 3
  SourceHandle h = SourceHandle::Open(test::FixturePath("boot0_ntfs.img"));
  NtfsEntry node;
  node.name = "$Volume";
  MessageBoxRecorder boxes;
  MftRecordInfo info;
  EXPECT_FALSE(ReadMftRecordForEntry(&h, 0, info, v, node, 0));
  EXPECT_EQ(boxes.shown.size(), 1u);
}

// ---- summary for the deep scan ---------------------------------------------------------

TEST(MftSummary, FixtureMftAndDamage) {
  Record r = FixtureRecord(0);
  ASSERT_TRUE(CheckMftRecord(r));
  MftSummary s;
  ASSERT_TRUE(SummarizeMftRecord(r, s));
  EXPECT_EQ(s.name, "$MFT");
  EXPECT_EQ(s.totalClusters, 7u);
  EXPECT_EQ(s.firstCluster, 4u);
  Record noMarker = r;
  Put32(noMarker, 0x190, 0);
  MftSummary untouched;
  EXPECT_FALSE(SummarizeMftRecord(noMarker, untouched));
  EXPECT_TRUE(untouched.name.empty());
}

TEST(MftSummary, NamedStreamsCountAndLaterNamesWin) {
  Record r = RecordBuilder(40)
                 .Add(FileName(u"DOS~1", 2))
                 .Add(FileName(u"long name", 1))
                 .Add(NonResident(0x80, {0x01, 3, 0x11, 2, 0x30}, 0, 0, u"ads"))
                 .Add(NonResident(0x80, {0x11, 5, 0x10}, 0))
                 .Build();
  ASSERT_TRUE(CheckMftRecord(r));
  MftSummary s;
  ASSERT_TRUE(SummarizeMftRecord(r, s));
  EXPECT_EQ(s.name, "long name");
  EXPECT_EQ(s.totalClusters, 10u);
  EXPECT_EQ(s.firstCluster, 0x30u);
}

// Random damage to real records: no parse may crash, hang or grow past the bounds.
TEST(MftParse, RandomDamageIsSurvived) {
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245 + 12345; };
  FakeDisk disk;
  for (uint32_t n : {0u, 3u, 5u}) disk.records[n] = FixtureRecord(n);
  for (int round = 0; round < 3000; ++round) {
    Record r = FixtureRecord(round % 2 == 0 ? 0 : 5);
    int flips = 1 + next() % 8;
    for (int i = 0; i < flips; ++i)
      r[0x38 + next() % (0x3C0 - 0x38)] = static_cast<uint8_t>(next() >> 16);
    MftRecordFetcher fetcher = disk.Fetcher();
    MftRecordInfo info;
    ParseMftRecord(r, round % 2 == 0 ? 0 : 5, info, 0, &fetcher);
    EXPECT_LE(info.runs.size(), kMaxRuns);
    EXPECT_LE(info.name.size(), 519u);
    MftSummary s;
    SummarizeMftRecord(r, s);
  }
}

}  // namespace
}  // namespace brevid
