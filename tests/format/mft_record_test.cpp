// MFT records made by mkntfs, records built here with one field broken at a
// time, and the readers over the fixture.
#include "format/mft_record.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "fs/mft_record_reader.h"
#include "fs/volume_trees.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

using Bytes8 = std::vector<uint8_t>;
constexpr uint64_t kMftSector = 32;  // boot0_ntfs.img: 8 sectors per cluster, $MFT at cluster 4

void Put(Bytes8& b, size_t at, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes8 FixtureRecord(uint32_t n) {
  SourceHandle h = SourceHandle::Open(test::FixturePath("boot0_ntfs.img"));
  return ReadBytes(h, (kMftSector + 2 * n) * 512, kMftRecordSize);
}

MftRecordInfo Parse(Bytes8 r, uint32_t n, const MftRecordFetcher* fetcher = nullptr) {
  MftRecordInfo info;
  EXPECT_TRUE(ParseMftRecord(r, n, info, 0, fetcher));
  return info;
}

// ---- records built here: attributes, then a record with its fix-up ----

Bytes8 Attr(uint32_t type, const Bytes8& body, bool nonResident, std::u16string_view name = u"") {
  size_t at = (nonResident ? 0x40 : 0x18) + 2 * name.size();
  at = (at + 7) & ~size_t{7};
  // Non-resident: room for the run list's end marker.
  Bytes8 a((at + body.size() + (nonResident ? 8 : 7)) & ~size_t{7}, 0);
  Put(a, 0, type, 4), Put(a, 4, a.size(), 4), a[8] = nonResident, a[9] = name.size();
  for (size_t i = 0; i < name.size(); ++i) Put(a, (nonResident ? 0x40 : 0x18) + 2 * i, name[i], 2);
  if (nonResident) Put(a, 0x20, at, 2);
  if (!nonResident) Put(a, 0x10, body.size(), 4), Put(a, 0x14, at, 2);
  std::copy(body.begin(), body.end(), a.begin() + at);
  return a;
}
Bytes8 Resident(uint32_t type, const Bytes8& value, std::u16string_view name = u"") {
  return Attr(type, value, false, name);
}
Bytes8 Runs(const Bytes8& pairs, uint64_t realSize = 0, uint64_t vcn = 0, uint32_t type = 0x80,
            std::u16string_view name = u"") {
  Bytes8 a = Attr(type, pairs, true, name);
  Put(a, 0x10, vcn, 8), Put(a, 0x30, realSize, 8);
  return a;
}
Bytes8 NameValue(std::u16string_view name, uint8_t space, uint64_t size = 0) {
  Bytes8 v(0x42 + 2 * name.size(), 0);
  Put(v, 0, 5, 8), Put(v, 8, 1, 8), Put(v, 0x30, size, 8), Put(v, 0x38, 0x20, 4);
  v[0x40] = name.size(), v[0x41] = space;
  for (size_t i = 0; i < name.size(); ++i) Put(v, 0x42 + 2 * i, name[i], 2);
  return v;
}
Bytes8 FileName(std::u16string_view name, uint8_t space, uint64_t size = 0) {
  return Resident(0x30, NameValue(name, space, size));
}
Bytes8 Entry(uint64_t ref, const Bytes8& key, uint16_t flags = 0) {
  Bytes8 e((0x10 + key.size() + 7) & ~size_t{7}, 0);
  Put(e, 0, ref, 8), Put(e, 8, e.size(), 2), Put(e, 10, key.size(), 2), Put(e, 12, flags, 2);
  std::copy(key.begin(), key.end(), e.begin() + 0x10);
  return e;
}
// An index root over `entries` and its last entry (with a VCN for sub-nodes).
Bytes8 IndexRoot(const std::vector<Bytes8>& entries, bool subnodes, uint32_t indexed = 0x30) {
  Bytes8 v(0x20, 0);
  for (const Bytes8& e : entries) v.insert(v.end(), e.begin(), e.end());
  Bytes8 last(subnodes ? 24 : 16, 0);
  Put(last, 8, last.size(), 2), Put(last, 12, subnodes ? 3 : 2, 2);
  if (subnodes) Put(last, 16, 0x1234, 8);
  v.insert(v.end(), last.begin(), last.end());
  Put(v, 0, indexed, 4), Put(v, 0x10, 0x10, 4), v[0x1C] = subnodes;
  return Resident(0x90, v, u"$I30");
}
Bytes8 ListEntries(std::initializer_list<std::tuple<uint32_t, uint32_t, uint64_t>> entries) {
  Bytes8 list;
  for (auto [type, record, vcn] : entries) {
    Bytes8 e(0x20, 0);
    Put(e, 0, type, 4), Put(e, 4, 0x20, 2), Put(e, 8, vcn, 8), Put(e, 0x10, record, 4);
    list.insert(list.end(), e.begin(), e.end());
  }
  return list;
}

Bytes8 Record(uint32_t number, std::initializer_list<Bytes8> attributes, uint16_t flags = 1,
              uint16_t usa = 0x30) {
  Bytes8 r(kMftRecordSize, 0);
  std::copy_n("FILE", 4, r.begin());
  Put(r, 4, usa, 2), Put(r, 6, 3, 2), Put(r, 0x14, 0x38, 2), Put(r, 0x16, flags, 2);
  if (usa == 0x30) Put(r, 0x2C, number, 4);
  size_t at = 0x38;
  for (const Bytes8& a : attributes) std::copy(a.begin(), a.end(), r.begin() + at), at += a.size();
  Put(r, at, 0xFFFFFFFF, 4);
  for (size_t end : {0x1FEu, 0x3FEu}) {
    std::copy_n(r.begin() + end, 2, r.begin() + usa + (end == 0x1FE ? 2 : 4));
    Put(r, end, 7, 2);
  }
  Put(r, usa, 7, 2);
  return r;
}

std::vector<std::pair<uint32_t, uint32_t>> StartsAndLengths(const MftRecordInfo& info) {
  std::vector<std::pair<uint32_t, uint32_t>> runs;
  for (const auto& [index, run] : info.runs) runs.push_back({run.startCluster, run.length});
  return runs;
}

// ---- the record test and the attribute lister ----

TEST(MftRecordCheck, FixUpAndEachBrokenField) {
  Bytes8 r = FixtureRecord(0);
  Put(r, 0x32, 0xABCD, 2), Put(r, 0x34, 0x1234, 2);
  ASSERT_TRUE(CheckMftRecord(r));
  EXPECT_EQ(LoadLe16(r, 0x1FE), 0xABCD);
  EXPECT_EQ(LoadLe16(r, 0x3FE), 0x1234);
  const Bytes8 good = FixtureRecord(5);
  std::vector<std::function<void(Bytes8&)>> breaks = {
      [](Bytes8& b) { b[0] = 'B'; },    [](Bytes8& b) { b[3] = 'D'; },
      [](Bytes8& b) { b[4] = 0x31; },   [](Bytes8& b) { Put(b, 4, 0x0430, 2); },
      [](Bytes8& b) { b[0x1FE] ^= 1; }, [](Bytes8& b) { b[0x3FF] ^= 1; },
      [](Bytes8& b) { b.resize(1023); }};
  for (size_t i = 0; i < breaks.size(); ++i) {
    Bytes8 bad = good;
    breaks[i](bad);
    Bytes8 before = bad;
    EXPECT_FALSE(CheckMftRecord(bad)) << i;
    EXPECT_EQ(bad, before) << i;
  }
  Bytes8 hold = good, high = good, old = Record(9, {}, 1, 0x2A);
  std::copy_n("FHLD", 4, hold.begin());
  Put(high, 4, 0x0130, 2),
      Put(high, 0x130, LoadLe16(high, 0x1FE), 2);  // only the low byte is tested
  EXPECT_TRUE(CheckMftRecord(hold) && CheckMftRecord(high) && CheckMftRecord(old));
}

TEST(MftAttributes, ListedInOrderAndEndedByDamage) {
  Bytes8 r = FixtureRecord(0);
  ASSERT_TRUE(CheckMftRecord(r));
  std::vector<AttributeRef> list;
  EXPECT_TRUE(ListAttributes(r, list));
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].offset, 0x38u);
  EXPECT_EQ(list[3].type, 0xB0u);
  for (uint32_t length : {0u, 0x400u}) {  // the file name's length: 0, past the record
    Bytes8 bad = r;
    Put(bad, 0x9C, length, 4);
    EXPECT_FALSE(ListAttributes(bad, list));
    EXPECT_EQ(list.size(), 1u);
  }
  Put(r, 0x14, 0x400, 2);
  EXPECT_FALSE(ListAttributes(r, list));
  EXPECT_TRUE(list.empty());
}

// ---- parsing ----

TEST(MftParse, FixtureRecords) {
  MftRecordInfo mft = Parse(FixtureRecord(0), 0);  // istat: $DATA 27648 bytes, clusters 4-10
  EXPECT_EQ(mft.kind, kNormalFile);
  EXPECT_EQ(mft.name, "$MFT");
  EXPECT_EQ(mft.nameSpace, 3);
  EXPECT_EQ(mft.size, 27648u);
  EXPECT_EQ(StartsAndLengths(mft), (std::vector<std::pair<uint32_t, uint32_t>>{{4, 7}}));
  EXPECT_EQ(ParentReference(mft), 0x0005000000000005u);
  EXPECT_EQ(mft.createTime, 0x019DB1DED53E8000u);
  EXPECT_EQ(mft.fileAttributes, 6u);
  MftRecordInfo root = Parse(FixtureRecord(5), 5);
  EXPECT_EQ(root.kind, kNormalFolder);
  EXPECT_EQ(root.name, Ansi("根目录"));
  EXPECT_EQ(root.indexFlags, 1);
  EXPECT_TRUE(root.indexEntries.empty());  // its only root entry is the last one
  EXPECT_TRUE(root.runs.empty());          // the $I30 allocation is named
  MftRecordInfo volume = Parse(FixtureRecord(3), 3);
  EXPECT_EQ(volume.name, "$Volume");
  EXPECT_FALSE(volume.residentContent.has_value());  // value offset = attribute length
}

TEST(MftParse, NumberAndKind) {
  MftRecordInfo info;
  Bytes8 record3 = FixtureRecord(3), again = record3;
  EXPECT_FALSE(ParseMftRecord(record3, 4, info));
  info.recordNumber = 77;
  ASSERT_TRUE(ParseMftRecord(again, 4, info, kNestedRead));
  EXPECT_EQ(info.recordNumber, 77u);
  EXPECT_EQ(Parse(Record(0, {}, 1, 0x2A), 4321).recordNumber, 4321u);  // older: no number field
  std::map<uint16_t, uint8_t> kinds = {{0, kDeletedFile},  {1, kNormalFile},   {2, kDeletedFolder},
                                       {3, kNormalFolder}, {7, kNormalFolder}, {5, kKindNone}};
  for (auto [flags, kind] : kinds) EXPECT_EQ(Parse(Record(40, {}, flags), 40).kind, kind) << flags;
}

TEST(MftParse, FileNames) {
  EXPECT_EQ(
      Parse(Record(40, {FileName(u"LONGNA~1.TXT", 2, 10), FileName(u"a.txt", 1, 30)}), 40).name,
      "a.txt");
  MftRecordInfo win32First =
      Parse(Record(40, {FileName(u"a.txt", 1, 30), FileName(u"A~1", 2, 50)}), 40);
  EXPECT_EQ(win32First.name, "a.txt");
  EXPECT_EQ(win32First.size, 30u);
  EXPECT_EQ(Parse(Record(40, {FileName(u"p:q", 0)}), 40).name, "p:q");
  EXPECT_EQ(Parse(Record(40, {FileName(u"报告ก", 1)}), 40).name, Ansi("报告") + "?");
  EXPECT_EQ(Parse(Record(5, {FileName(u"x", 1)}, 3), 5).name, Ansi("根目录"));
  Bytes8 tooLong = FileName(u"abc", 1), pastValue = FileName(u"abc", 1), nonResident = tooLong;
  tooLong[0x18 + 0x40] = 200;
  Put(pastValue, 0x10, 0x300, 4);
  nonResident[8] = 1;
  for (const Bytes8& bad : {tooLong, pastValue, nonResident}) {
    MftRecordInfo info = Parse(Record(40, {bad}), 40);
    EXPECT_TRUE(info.name.empty());
    EXPECT_EQ(FileNameCreateTime(info), 0u);
  }
}

TEST(MftParse, RunLists) {
  MftRecordInfo info =
      Parse(Record(40, {Runs({0x14, 0x98, 0xBA, 0xDC, 0xFE, 0x10,            // 4-byte length
                              0x01, 0x05,                                    // no offset field
                              0x21, 0x08, 0x00, 0x01,                        // +0x100
                              0x11, 0x04, 0xF0,                              // -0x10
                              0x41, 0x02, 0xFF, 0xFF, 0xFF, 0xFF,            // -1 in 4 bytes
                              0x51, 0x03, 1,    2,    3,    4,    5,         // 5-byte offset
                              0x15, 1,    2,    3,    4,    5,    0x01})}),  // 5-byte length
            40);
  EXPECT_EQ(
      StartsAndLengths(info),
      (std::vector<std::pair<uint32_t, uint32_t>>{
          {0x10, 0xFEDCBA98}, {0, 5}, {0x110, 8}, {0x100, 4}, {0xFF, 2}, {0xFF, 3}, {0x100, 0}}));
  Bytes8 pastEnd = Runs({0x11, 2, 0x10});
  pastEnd[0x43] = 0x44;  // a header whose fields the attribute does not hold
  std::fill(pastEnd.begin() + 0x44, pastEnd.end(), 0x7F);
  EXPECT_EQ(Parse(Record(40, {pastEnd}), 40).runs.size(), 1u);
  Bytes8 noPairs = Runs({0x11, 1, 1}, 99), farPairs = noPairs,
         named = Runs({0x11, 9, 9}, 9, 0, 0x80, u"s");
  Put(noPairs, 0x20, 0, 2);
  Put(farPairs, 0x20, 0x3F0, 2);
  EXPECT_EQ(StartsAndLengths(Parse(Record(40, {noPairs}), 40)),
            (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0}}));
  EXPECT_TRUE(Parse(Record(40, {farPairs, named}), 40).runs.empty());
  MftRecordInfo full;
  for (uint32_t i = 0; i + 1 < kMaxRuns; ++i) full.runs[i] = DataRun{i, 1, 1};
  Bytes8 r = Record(40, {Runs({0x11, 1, 1, 0x11, 1, 1})});
  ASSERT_TRUE(CheckMftRecord(r));
  DecodeDataAttribute(Bytes(r).subspan(0x38), full);
  EXPECT_EQ(full.runs.size(), kMaxRuns);
}

TEST(MftParse, ResidentData) {
  Bytes8 value(700);
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i * 7 + 1);
  Bytes8 data = Resident(0x80, value);
  MftRecordInfo info = Parse(Record(40, {data}), 40);  // its value crosses the fix-up at 0x1FE
  EXPECT_EQ(info.size, 700u);
  ASSERT_EQ(info.residentContent->size(), data.size() - 0x18);  // to the attribute's end
  EXPECT_TRUE(std::equal(value.begin(), value.end(), info.residentContent->begin()));
  Bytes8 pastEnd = Resident(0x80, Bytes8(16, 9)), offsetPast = pastEnd;
  Put(pastEnd, 0x10, 0x200, 4);
  Put(offsetPast, 0x14, 0x60, 2);
  for (const Bytes8& bad : {pastEnd, offsetPast}) {
    EXPECT_FALSE(Parse(Record(40, {bad}), 40).residentContent.has_value());
  }
}

TEST(MftParse, IndexRoots) {
  Bytes8 win32 = Entry(0x0001000000000040, NameValue(u"Doc.txt", 1, 123));
  Bytes8 dos = Entry(0x41, NameValue(u"DOC~1.TXT", 2)), both = Entry(0x42, NameValue(u"B", 3));
  MftRecordInfo leaf = Parse(Record(60, {IndexRoot({win32, dos, both}, false)}, 3), 60);
  ASSERT_EQ(leaf.indexEntries.size(), 2u);
  const IndexEntryInfo& e = leaf.indexEntries[0];
  EXPECT_EQ(e.fileReferenceLow, 0x40u);
  EXPECT_EQ(e.fileReferenceHigh, 0x10000u);
  EXPECT_EQ(e.keyLength, 0x42 + 14);
  EXPECT_EQ(e.parentReference, 5u);
  EXPECT_EQ(e.realSize, 123u);
  EXPECT_EQ(e.name, "Doc.txt");
  EXPECT_EQ(leaf.indexEntries[1].name, "B");
  MftRecordInfo subnodes =
      Parse(Record(60, {IndexRoot({dos, Entry(0x43, NameValue(u"p", 0))}, true)}, 3), 60);
  EXPECT_EQ(subnodes.lastSubnodeVcn, 0x1234u);
  ASSERT_EQ(subnodes.indexEntries.size(), 1u);  // DOS names count here, POSIX not
  EXPECT_EQ(subnodes.indexEntries[0].name, "DOC~1.TXT");
  Bytes8 zeroLength = win32, nameTooLong = win32, longEntry = win32;
  Put(zeroLength, 8, 0, 2), nameTooLong[0x50] = 100, Put(longEntry, 8, 0x7FF0, 2);
  EXPECT_TRUE(
      Parse(Record(60, {IndexRoot({zeroLength, both}, false)}, 3), 60).indexEntries.empty());
  EXPECT_EQ(Parse(Record(60, {IndexRoot({nameTooLong, both}, false)}, 3), 60).indexEntries.size(),
            1u);
  EXPECT_TRUE(Parse(Record(60, {IndexRoot({longEntry, both}, false)}, 3), 60).indexEntries.empty());
  EXPECT_TRUE(Parse(Record(60, {IndexRoot({both}, false, 0)}, 3), 60).indexEntries.empty());
  Bytes8 firstPast = IndexRoot({both}, false);
  Put(firstPast, 0x30, 0x7FFFFFF0, 4);
  EXPECT_TRUE(Parse(Record(60, {firstPast}, 3), 60).indexEntries.empty());
}

// ---- attribute lists ----

struct FakeVolume {
  std::map<uint32_t, Bytes8> records, clusters;
  std::vector<uint32_t> reads;
  std::vector<uint32_t> clusterCounts;
  MftRecordFetcher Fetcher() {
    return {[this](uint32_t n, std::span<uint8_t> out) {
              reads.push_back(n);
              if (!records.count(n)) return false;
              std::copy(records[n].begin(), records[n].end(), out.begin());
              return true;
            },
            [this](uint32_t c, uint32_t count, std::span<uint8_t> out) {
              clusterCounts.push_back(count);
              if (!clusters.count(c)) return false;
              std::copy_n(clusters[c].begin(), std::min(out.size(), clusters[c].size()),
                          out.begin());
              return true;
            },
            4096};
  }
};

TEST(MftAttributeList, FollowedOnceInVcnOrderKeepingTheKind) {
  FakeVolume disk;
  disk.records[21] =
      Record(21, {Runs({0x11, 4, 0x50}, 0, 10), Resident(0x20, ListEntries({{0x80, 23, 0}})),
                  IndexRoot({Entry(0x44, NameValue(u"child", 1))}, false)});
  disk.records[22] = Record(22, {Runs({0x11, 3, 0x70}, 0, 14)});
  disk.records[24] = Record(99, {Runs({0x11, 1, 1})});  // not the record listed
  Bytes8 list = ListEntries({{0x30, 20, 0},
                             {0x80, 20, 0},
                             {0x80, 21, 10},
                             {0x90, 21, 0},
                             {0x80, 22, 14},
                             {0x80, 24, 20},
                             {0xA0, 21, 0}});
  MftRecordFetcher fetcher = disk.Fetcher();
  MftRecordInfo info = Parse(
      Record(20, {Resident(0x20, list), FileName(u"big", 1), Runs({0x21, 10, 0, 1}, 17 << 12)}, 3),
      20, &fetcher);
  EXPECT_EQ(disk.reads, (std::vector<uint32_t>{21, 22, 24}));  // not 20 itself, 21 once, not 23
  EXPECT_EQ(StartsAndLengths(info),
            (std::vector<std::pair<uint32_t, uint32_t>>{{0x100, 10}, {0x50, 4}, {0x70, 3}}));
  EXPECT_EQ(info.kind, kNormalFolder);  // record 21's flags are 1
  ASSERT_EQ(info.indexEntries.size(), 1u);
  EXPECT_EQ(info.name, "big");
  EXPECT_EQ(Parse(Record(20, {Resident(0x20, list)}), 20).runs.size(), 0u);  // no fetcher
}

TEST(MftAttributeList, NonResidentListsAndBounds) {
  FakeVolume disk;
  disk.records[30] = Record(30, {Runs({0x11, 2, 0x40})});
  disk.records[31] = Record(31, {Resident(0x80, {1, 2, 3, 4})});
  disk.clusters[0x900] = ListEntries({{0x80, 30, 0}});
  disk.clusters[0xA00] = ListEntries({{0x80, 31, 2}});
  MftRecordFetcher fetcher = disk.Fetcher();
  MftRecordInfo info =
      Parse(Record(20, {Runs({0x21, 1, 0x00, 0x09, 0x01, 1, 0x21, 1, 0x00, 0x01}, 64, 0, 0x20)}),
            20, &fetcher);
  EXPECT_EQ(disk.clusterCounts, (std::vector<uint32_t>{1, 1}));  // the sparse run is skipped
  EXPECT_EQ(StartsAndLengths(info), (std::vector<std::pair<uint32_t, uint32_t>>{{0x40, 2}}));
  EXPECT_FALSE(info.residentContent.has_value());  // released after the listed read
  // A run of 2^32 clusters is read only up to the list bound, and no more
  // distinct records than their bound are followed.
  FakeVolume many;
  Bytes8 entries;
  for (uint32_t n = 100; entries.size() < kMaxAttributeListBytes; ++n) {
    Bytes8 e = ListEntries({{0x80, n, 0}});
    entries.insert(entries.end(), e.begin(), e.end());
  }
  many.clusters[1] = entries;
  MftRecordFetcher manyFetcher = many.Fetcher();
  Parse(Record(20, {Runs({0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 0, 0, 0x20)}), 20, &manyFetcher);
  EXPECT_EQ(many.clusterCounts, (std::vector<uint32_t>{kMaxAttributeListBytes / 4096}));
  EXPECT_EQ(many.reads.size(), kMaxListedRecords);
  for (uint16_t length : {0, 8}) {  // entries too short to hold a record number end the walk
    Bytes8 bad = ListEntries({{0x80, 30, 0}, {0x80, 30, 0}});
    Put(bad, 4, length, 2);
    MftRecordFetcher f = disk.Fetcher();
    disk.reads.clear();
    Parse(Record(20, {Resident(0x20, bad)}), 20, &f);
    EXPECT_TRUE(disk.reads.empty());
  }
}

// ---- reading records from volumes ----

TEST(MftRead, LocationsFromRunsThenMftStart) {
  VolumeInfo v;
  v.start = 1000, v.sectorsPerCluster = 8, v.mftStart = 5000;
  DataRunMap runs = {{0, {0, 100, 2}}, {1, {1, 300, 4}}};
  uint64_t s = 0;
  EXPECT_TRUE(LocateMftRecord(7, v, runs, &s) && s == 1000 + 800 + 14);
  EXPECT_TRUE(LocateMftRecord(9, v, runs, &s) && s == 1000 + 2400 + 2);
  EXPECT_TRUE(LocateMftRecord(27, v, runs, &s) && s == 5006);
  v.sectorCount = 2000;  // now known: what lies outside is refused
  EXPECT_TRUE(LocateMftRecord(7, v, runs, &s));
  EXPECT_FALSE(LocateMftRecord(9, v, runs, &s));
  EXPECT_FALSE(LocateMftRecord(0xFFFFFFFF, v, {}, &s));
  EXPECT_FALSE(LocateMftRecord(1, v, {{0, {0, 0xFFFFFFF0, 0xFFFFFFFF}}}, &s));
}

VolumeInfo FixtureVolume() {
  VolumeInfo v;
  v.sectorCount = 16384, v.sectorsPerCluster = 8, v.mftStart = kMftSector;
  return v;
}

TEST(MftRead, FixtureThroughTheMftRuns) {
  VolumeInfo v = FixtureVolume();
  DiskInfo disk;
  disk.path = test::FixturePath("boot0_ntfs.img");
  VolumeReader h(disk, v);
  ASSERT_TRUE(h.Open());
  MftRecordInfo mft;
  ASSERT_TRUE(ReadMftRecord(h, 0, mft, {}, 0));
  for (uint32_t n : {3u, 5u}) {
    MftRecordInfo info;
    ASSERT_TRUE(ReadMftRecord(h, n, info, mft.runs, 0));
    EXPECT_EQ(info.name, Parse(FixtureRecord(n), n).name);
  }
  MftRecordInfo none;
  EXPECT_FALSE(ReadMftRecord(h, 100000, none, mft.runs, 0));
  VolumeReader notOpen(disk, v);
  EXPECT_FALSE(ReadMftRecord(notOpen, 3, none, mft.runs, 0));
}

TEST(MftRead, ForEntryTriesEveryCopyThenWarns) {
  std::vector<std::string> boxes;
  MessageBoxHandler old = SetMessageBoxHandler(
      [&](const std::string& text, const std::string& caption, unsigned style) {
        boxes.push_back(caption + ":" + text + ":" + std::to_string(style));
        return static_cast<int>(kIdOk);
      });
  VolumeInfo v = FixtureVolume();
  DiskInfo disk;
  disk.path = test::FixturePath("boot0_ntfs.img");
  VolumeReader h(disk, v);
  ASSERT_TRUE(h.Open());
  VolumeTrees& trees = TreesOf(v);
  trees.recordFirstSector[0] = kMftSector + 10;  // record 5, then 3, then 0 itself
  trees.recordSectors.insert({{0, kMftSector + 6}, {0, kMftSector}});
  NtfsEntry node;
  node.name = "$MFT", node.size = 27648;
  MftRecordInfo info;
  ASSERT_TRUE(ReadMftRecordForEntry(h, 0, info, node, 0));
  EXPECT_EQ(info.runs.size(), 1u);
  EXPECT_TRUE(boxes.empty());
  node.size = 1;
  MftRecordInfo cleared;
  EXPECT_FALSE(ReadMftRecordForEntry(h, 0, cleared, node, kNestedRead));
  EXPECT_TRUE(cleared.name.empty() && cleared.runs.empty());
  EXPECT_FALSE(ReadMftRecordForEntry(h, 12345, cleared, node, 0));  // no location: silent
  SetMessageBoxHandler(old);
  EXPECT_EQ(boxes, (std::vector<std::string>{Ansi("警告") + ":" + Ansi("mft错误") + ":0"}));
}

// ---- summary for the deep scan ----

TEST(MftSummary, NamesAndClustersOfAllDataAttributes) {
  Bytes8 r =
      Record(40, {FileName(u"DOS~1", 2), FileName(u"long name", 1),
                  Runs({0x01, 3, 0x11, 2, 0x30}, 0, 0, 0x80, u"ads"), Runs({0x11, 5, 0x10})});
  ASSERT_TRUE(CheckMftRecord(r));
  MftSummary s;
  ASSERT_TRUE(SummarizeMftRecord(r, s));
  EXPECT_EQ(s.name, "long name");
  EXPECT_EQ(s.totalClusters, 10u);
  EXPECT_EQ(s.firstCluster, 0x30u);
  Put(r, 0x38, 0, 8);  // first attribute of length 0: no end marker
  MftSummary untouched;
  EXPECT_FALSE(SummarizeMftRecord(r, untouched));
  EXPECT_TRUE(untouched.name.empty());
}

}  // namespace
}  // namespace brevid
