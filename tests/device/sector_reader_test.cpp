#include "device/sector_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "common/endian.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

using ByteVector = std::vector<uint8_t>;

constexpr size_t kSector = 512;
constexpr uint8_t kUntouched = 0xEE;
constexpr uint8_t kLogicalTag = 0xA0;
constexpr uint8_t kFillerTag = 0xF0;

// Every 512 bytes carry a tag and a sector number, so a misplaced read says
// where its bytes came from.
ByteVector Stamped(uint8_t tag, uint64_t firstSector, uint64_t sectors) {
  ByteVector bytes(sectors * kSector);
  for (uint64_t s = 0; s < sectors; ++s) {
    uint8_t* p = bytes.data() + s * kSector;
    uint64_t number = firstSector + s;
    p[0] = tag;
    for (size_t i = 0; i < 8; ++i) p[1 + i] = static_cast<uint8_t>(number >> (8 * i));
    for (size_t j = 9; j < kSector; ++j) p[j] = static_cast<uint8_t>(tag * 37 + number * 11 + j);
  }
  return bytes;
}

struct Stamp {
  int tag;
  uint64_t sector;
  bool operator==(const Stamp&) const = default;
};
void PrintTo(const Stamp& s, std::ostream* os) {
  *os << "{tag " << s.tag << ", sector " << s.sector << "}";
}

Stamp StampAt(const ByteVector& bytes, size_t offset) {
  return {bytes.at(offset), LoadLe64(bytes, offset + 1)};
}

ByteVector Concat(ByteVector a, const ByteVector& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

ByteVector ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return ByteVector(std::istreambuf_iterator<char>(in), {});
}

struct ReadResult {
  bool ok = false;
  size_t got = 0;
  ByteVector bytes;  // exactly `length` long, so an overrun trips the sanitizer
  bool UntouchedAfterGot() const {
    for (size_t i = got; i < bytes.size(); ++i)
      if (bytes[i] != kUntouched) return false;
    return true;
  }
};

ReadResult Read(const VolumeInfo& volume, uint64_t position, size_t length) {
  ReadResult r;
  r.bytes.assign(length, kUntouched);
  r.ok = ReadVolume(&volume, nullptr, r.bytes.data(), length, position, &r.got);
  return r;
}

ByteVector Slice(const ByteVector& bytes, uint64_t from, size_t length) {
  return ByteVector(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                    bytes.begin() + static_cast<std::ptrdiff_t>(from + length));
}

// Writes member images into a fresh folder and checks at the end that the
// reader left every one of them as written.
class SectorReaderFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = test::ScratchDir(std::string("sector_reader_") + info->test_suite_name() + "_" +
                            info->name());
  }
  void TearDown() override {
    for (const auto& [path, bytes] : written_) EXPECT_TRUE(ReadAll(path) == bytes) << path;
  }

  std::string WriteImage(const std::string& name, const ByteVector& bytes) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    written_[path] = bytes;
    return path;
  }

  // A member image: `startBytes` of filler, the extent, two filler sectors.
  VolumeMember AddMember(VolumeInfo& volume, uint8_t key, uint64_t startSector,
                         const ByteVector& extent, uint64_t sectorCount) {
    uint64_t startBytes = startSector * volume.sectorSize;
    ByteVector image = Concat(Concat(Stamped(kFillerTag, 0, startBytes / kSector), extent),
                              Stamped(static_cast<uint8_t>(kFillerTag + 1), 0, 2));
    VolumeMember member;
    member.orderKey = key;
    member.devicePath = WriteImage("member" + std::to_string(key) + ".img", image);
    member.start = startSector;
    member.sectorCount = sectorCount;
    volume.members[key] = member;
    return member;
  }

  std::string Absent() const { return dir_ + "/absent.img"; }

  std::string dir_;
  std::map<std::string, ByteVector> written_;
};

// Keys out of step with positions, and starts that differ, so that a reader
// indexing by key or forgetting a start reads the wrong bytes.
const uint8_t kKeys[] = {3, 7, 200, 201};
const uint64_t kStarts[] = {2, 0, 5, 1};

// ---------------------------------------------------------------------------

class SectorReaderSimple : public SectorReaderFixture {};

TEST_F(SectorReaderSimple, ReadsAtTheHandlesPositionAndIgnoresPosition) {
  SourceHandle handle = SourceHandle::Open(WriteImage("disk.img", Stamped(0x51, 0, 8)));
  ASSERT_TRUE(handle.IsOpen());
  VolumeInfo simple;
  simple.start = 5;
  ASSERT_TRUE(handle.Seek(3 * kSector));
  ByteVector buffer(2 * kSector, kUntouched);
  size_t got = 99;
  ASSERT_TRUE(ReadVolume(&simple, &handle, buffer.data(), buffer.size(), 999999, &got));
  EXPECT_EQ(got, 2 * kSector);
  EXPECT_EQ(StampAt(buffer, 0), (Stamp{0x51, 3}));
  EXPECT_EQ(StampAt(buffer, kSector), (Stamp{0x51, 4}));
  EXPECT_EQ(handle.Position(), 5 * kSector);

  // Without a volume the handle is read the same way, from where it stands.
  ASSERT_TRUE(ReadVolume(nullptr, &handle, buffer.data(), buffer.size(), 0, &got));
  EXPECT_EQ(StampAt(buffer, 0), (Stamp{0x51, 5}));

  // At the end of the image: the handle's own answer, true with fewer bytes.
  ASSERT_TRUE(handle.Seek(7 * kSector));
  EXPECT_TRUE(ReadVolume(&simple, &handle, buffer.data(), buffer.size(), 0, &got));
  EXPECT_EQ(got, kSector);
}

TEST_F(SectorReaderSimple, MissingOrClosedHandleFailsWithNothingRead) {
  VolumeInfo simple;
  ByteVector buffer(kSector, kUntouched);
  size_t got = 99;
  EXPECT_FALSE(ReadVolume(&simple, nullptr, buffer.data(), buffer.size(), 0, &got));
  EXPECT_EQ(got, 0u);
  SourceHandle closed;
  got = 99;
  EXPECT_FALSE(ReadVolume(nullptr, &closed, buffer.data(), buffer.size(), 0, &got));
  EXPECT_EQ(got, 0u);
}

TEST_F(SectorReaderSimple, UnknownLayoutReadsNothing) {
  VolumeInfo volume;
  volume.layout = VolumeLayout::Striped;
  AddMember(volume, 1, 0, Stamped(0, 0, 8), 8);
  volume.layout = static_cast<VolumeLayout>(7);
  SourceHandle handle = SourceHandle::Open(volume.members[1].devicePath);
  ByteVector buffer(kSector, kUntouched);
  size_t got = 99;
  EXPECT_FALSE(ReadVolume(&volume, &handle, buffer.data(), buffer.size(), 0, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(buffer, ByteVector(kSector, kUntouched));
}

// ---------------------------------------------------------------------------

class SectorReaderStriped : public SectorReaderFixture {
 protected:
  // Three members, unit of 4 sectors, each extent 12 sectors (3 rows)
  // stamped with its member's place in key order.
  void SetUp() override {
    SectorReaderFixture::SetUp();
    volume_.layout = VolumeLayout::Striped;
    volume_.stripeSectors = 4;
    for (uint8_t i = 0; i < 3; ++i) AddMember(volume_, kKeys[i], kStarts[i], Stamped(i, 0, 12), 12);
  }
  static constexpr size_t kUnit = 4 * kSector;
  VolumeInfo volume_;
};

TEST_F(SectorReaderStriped, LastSectorOfAUnitContinuesOnTheNextMember) {
  ReadResult r = Read(volume_, kUnit - kSector, 3 * kSector);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.got, 3 * kSector);
  EXPECT_EQ(StampAt(r.bytes, 0), (Stamp{0, 3}));
  EXPECT_EQ(StampAt(r.bytes, kSector), (Stamp{1, 0}));
  EXPECT_EQ(StampAt(r.bytes, 2 * kSector), (Stamp{1, 1}));
}

TEST_F(SectorReaderStriped, AfterTheLastMemberWrapsToTheFirstOneRowFurther) {
  ReadResult r = Read(volume_, 3 * kUnit - kSector, 2 * kSector);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(StampAt(r.bytes, 0), (Stamp{2, 3}));
  EXPECT_EQ(StampAt(r.bytes, kSector), (Stamp{0, 4}));
}

TEST_F(SectorReaderStriped, RemainderBelowOneSectorIsIgnored) {
  ReadResult r = Read(volume_, 4 * kUnit + kSector + 100, kSector);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(StampAt(r.bytes, 0), (Stamp{1, 5}));
}

TEST_F(SectorReaderStriped, MemberThatCannotBeOpenedKeepsWhatWasPlaced) {
  volume_.members[kKeys[1]].devicePath = Absent();
  ReadResult r = Read(volume_, kUnit - kSector, 2 * kSector);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.got, kSector);
  EXPECT_EQ(StampAt(r.bytes, 0), (Stamp{0, 3}));
  EXPECT_TRUE(r.UntouchedAfterGot());
}

TEST_F(SectorReaderStriped, ChunkStartingBeyondItsMemberFails) {
  volume_.members[kKeys[0]].sectorCount = 4;  // one unit
  // Row 1 starts exactly at the member's end: still read, from what follows.
  ReadResult atEnd = Read(volume_, 3 * kUnit, kSector);
  EXPECT_TRUE(atEnd.ok);
  EXPECT_EQ(StampAt(atEnd.bytes, 0), (Stamp{0, 4}));
  // Row 2 lies beyond it; the unit before it on member 2 stays counted.
  ReadResult beyond = Read(volume_, 5 * kUnit, 2 * kUnit);
  EXPECT_FALSE(beyond.ok);
  EXPECT_EQ(beyond.got, kUnit);
  EXPECT_EQ(StampAt(beyond.bytes, 0), (Stamp{2, 4}));
  EXPECT_TRUE(beyond.UntouchedAfterGot());
}

TEST_F(SectorReaderStriped, MemberImagesShorterThanTheirExtentEndTheReadWithoutAGap) {
  // Member 1 holds one and a half units, the others nothing after row 0, yet
  // all claim far more: the read must stop, never skip to member 2. (Kept
  // small enough that a reader which goes on fails here instead of hanging.)
  for (auto& [key, member] : volume_.members) member.sectorCount = 4096;
  volume_.members[kKeys[1]].devicePath = WriteImage("short1.img", Stamped(1, 0, 6));
  ReadResult r = Read(volume_, 4 * kUnit, 2 * kUnit);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.got, 2 * kSector);
  EXPECT_EQ(StampAt(r.bytes, 0), (Stamp{1, 4}));
  EXPECT_TRUE(r.UntouchedAfterGot());

  volume_.members[kKeys[0]].devicePath = WriteImage("empty0.img", {});
  ReadResult empty = Read(volume_, 0, 64 * kUnit);
  EXPECT_TRUE(empty.ok);
  EXPECT_EQ(empty.got, 0u);
}

// ---------------------------------------------------------------------------

// Builds members from a known logical volume, laid out by the test's own
// reading of each layout, and checks reads against the logical bytes.
class SectorReaderLayouts : public SectorReaderFixture {
 protected:
  // Unit S goes to the (S mod n)-th member, row S / n.
  VolumeInfo Striped(const ByteVector& logical, size_t n, uint16_t stripeSectors,
                     uint32_t sectorSize) {
    VolumeInfo v;
    v.layout = VolumeLayout::Striped;
    v.stripeSectors = stripeSectors;
    v.sectorSize = sectorSize;
    size_t unit = size_t{stripeSectors} * sectorSize;
    size_t units = logical.size() / unit;
    std::vector<ByteVector> extents(n, ByteVector(units / n * unit));
    for (size_t s = 0; s < units; ++s)
      std::copy_n(logical.begin() + s * unit, unit, extents[s % n].begin() + s / n * unit);
    for (size_t i = 0; i < n; ++i)
      AddMember(v, kKeys[i], kStarts[i], extents[i], extents[i].size() / sectorSize);
    return v;
  }

  // Each row: parity on member (n-1) - (row mod n), the row's data units on
  // the members after it, wrapping round; parity is their XOR.
  VolumeInfo Raid5(const ByteVector& logical, size_t n, uint16_t stripeSectors,
                   std::vector<ByteVector>* extentsOut = nullptr) {
    VolumeInfo v;
    v.layout = VolumeLayout::Raid5;
    v.stripeSectors = stripeSectors;
    size_t unit = size_t{stripeSectors} * kSector;
    size_t rows = logical.size() / unit / (n - 1);
    std::vector<ByteVector> extents(n, ByteVector(rows * unit));
    for (size_t row = 0; row < rows; ++row) {
      size_t parity = (n - 1) - row % n;
      for (size_t j = 0; j < n - 1; ++j) {
        auto from = logical.begin() + (row * (n - 1) + j) * unit;
        std::copy_n(from, unit, extents[(parity + 1 + j) % n].begin() + row * unit);
        for (size_t b = 0; b < unit; ++b) extents[parity][row * unit + b] ^= from[b];
      }
    }
    for (size_t i = 0; i < n; ++i)
      AddMember(v, kKeys[i], kStarts[i], extents[i], rows * unit / kSector);
    if (extentsOut) *extentsOut = extents;
    return v;
  }

  // Reads that start and end inside units, cross members and rows, and
  // cover the whole volume.
  void ExpectReadsOfLogical(const VolumeInfo& v, const ByteVector& logical) {
    const size_t sector = v.sectorSize;
    const size_t unit = v.stripeSectors * sector;
    const std::pair<size_t, size_t> cases[] = {
        {0, logical.size()},       {sector, unit},
        {unit - sector, 3 * unit}, {unit + 2 * sector, 5 * unit + sector},
        {4 * unit, unit},          {logical.size() - sector, sector},
    };
    for (const auto& [position, length] : cases) {
      ReadResult r = Read(v, position, length);
      EXPECT_TRUE(r.ok) << position << "+" << length;
      EXPECT_EQ(r.got, length) << position << "+" << length;
      EXPECT_TRUE(r.bytes == Slice(logical, position, length)) << position << "+" << length;
    }
  }
};

TEST_F(SectorReaderLayouts, StripedMatchesTheLogicalVolume) {
  ByteVector logical = Stamped(kLogicalTag, 0, 3 * 4 * 3);
  ExpectReadsOfLogical(Striped(logical, 3, 3, kSector), logical);
}

TEST_F(SectorReaderLayouts, StripedWithLargerSectorsUsesTheirSize) {
  ByteVector logical = Stamped(kLogicalTag, 0, 2 * 2 * 2 * 4);
  ExpectReadsOfLogical(Striped(logical, 2, 2, 1024), logical);
}

TEST_F(SectorReaderLayouts, Raid5OfThreeAndFourMembersMatchesTheLogicalVolume) {
  for (size_t n : {3u, 4u}) {
    SCOPED_TRACE(n);
    ByteVector logical = Stamped(kLogicalTag, 0, 5 * (n - 1) * 3);
    ExpectReadsOfLogical(Raid5(logical, n, 3), logical);
  }
}

TEST_F(SectorReaderLayouts, Raid5MissingMemberIsRebuiltFromParity) {
  for (size_t n : {3u, 4u}) {
    SCOPED_TRACE(n);
    ByteVector logical = Stamped(kLogicalTag, 0, 5 * (n - 1) * 3);
    std::vector<ByteVector> extents;
    VolumeInfo v = Raid5(logical, n, 3, &extents);
    for (size_t missing : {size_t{0}, n - 1}) {
      VolumeInfo degraded = v;
      degraded.members[kKeys[missing]].devicePath.clear();
      ExpectReadsOfLogical(degraded, logical);
      // Parity units as well as data units come back.
      ByteVector rebuilt(extents[missing].size(), kUntouched);
      EXPECT_TRUE(RebuildFromParity(degraded, kKeys[missing], 0, rebuilt.data(), rebuilt.size()));
      EXPECT_TRUE(rebuilt == extents[missing]);
    }
  }
}

// ---------------------------------------------------------------------------

class SectorReaderRaid5 : public SectorReaderFixture {
 protected:
  // Three members, unit of 2 sectors, extents of 4 rows stamped with their
  // member's place in key order.
  void SetUp() override {
    SectorReaderFixture::SetUp();
    volume_.layout = VolumeLayout::Raid5;
    volume_.stripeSectors = 2;
    for (uint8_t i = 0; i < 3; ++i) AddMember(volume_, kKeys[i], kStarts[i], Stamped(i, 0, 8), 8);
  }
  static constexpr size_t kUnit = 2 * kSector;
  VolumeInfo volume_;
};

TEST_F(SectorReaderRaid5, StripesLandLeftSymmetric) {
  // Parity rows 0..3 on members 2, 1, 0, 2.
  const Stamp expected[] = {{0, 0}, {1, 0}, {2, 2}, {0, 2}, {1, 4}, {2, 4}, {0, 6}, {1, 6}};
  for (size_t s = 0; s < std::size(expected); ++s) {
    ReadResult r = Read(volume_, s * kUnit, kUnit);
    ASSERT_TRUE(r.ok) << s;
    EXPECT_EQ(StampAt(r.bytes, 0), expected[s]) << "stripe " << s;
    EXPECT_EQ(StampAt(r.bytes, kSector), (Stamp{expected[s].tag, expected[s].sector + 1})) << s;
  }
}

TEST_F(SectorReaderRaid5, MissingUnitIsTheXorOfTheOthers) {
  // Stripe 3 is member 0's unit in row 1; the stamps make no real parity
  // set, so only the XOR of members 1 and 2 there can come back.
  ByteVector expected = Stamped(1, 2, 2);
  const ByteVector other = Stamped(2, 2, 2);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] ^= other[i];
  volume_.members[kKeys[0]].devicePath.clear();
  ReadResult r = Read(volume_, 3 * kUnit, kUnit);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.got, kUnit);
  EXPECT_TRUE(r.bytes == expected);
}

TEST_F(SectorReaderRaid5, RebuildFailsWhenAnotherMemberCannotGiveItsBytes) {
  volume_.members[kKeys[0]].devicePath.clear();
  VolumeMember& second = volume_.members[kKeys[1]];
  second.devicePath = WriteImage("row0only.img", Stamped(1, 0, 2));
  second.start = 0;
  // Stripe 2 is read from member 2; stripe 3 needs member 1's row 1, absent.
  ReadResult r = Read(volume_, 2 * kUnit, 2 * kUnit);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.got, kUnit);
  EXPECT_EQ(StampAt(r.bytes, 0), (Stamp{2, 2}));
  EXPECT_TRUE(Slice(r.bytes, kUnit, kUnit) == ByteVector(kUnit, 0));  // the failed unit

  ByteVector buffer(kUnit, kUntouched);
  EXPECT_FALSE(RebuildFromParity(volume_, 99, 0, buffer.data(), buffer.size()));  // not a member
  // Member 1 is taken in before member 2 fails: nothing of it may remain.
  volume_.members[kKeys[2]].devicePath = Absent();
  EXPECT_FALSE(RebuildFromParity(volume_, kKeys[0], 0, buffer.data(), buffer.size()));
  EXPECT_EQ(buffer, ByteVector(kUnit, 0));
}

// ---------------------------------------------------------------------------

class SectorReaderSpanned : public SectorReaderFixture {
 protected:
  // Extents of 4 and 3 sectors with an empty one between them.
  void SetUp() override {
    SectorReaderFixture::SetUp();
    volume_.layout = VolumeLayout::Spanned;
    AddMember(volume_, 9, 1, Stamped(1, 0, 3), 3);
    AddMember(volume_, 4, 3, Stamped(0, 0, 4), 4);
    AddMember(volume_, 5, 0, Stamped(7, 0, 2), 0);
  }
  VolumeInfo volume_;
};

TEST_F(SectorReaderSpanned, CrossingMembersGivesTailThenHead) {
  ReadResult r = Read(volume_, 3 * kSector, 2 * kSector);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.got, 2 * kSector);
  EXPECT_EQ(StampAt(r.bytes, 0), (Stamp{0, 3}));
  EXPECT_EQ(StampAt(r.bytes, kSector), (Stamp{1, 0}));
}

TEST_F(SectorReaderSpanned, MembersRunningOutEndTheReadWithTrue) {
  ReadResult past = Read(volume_, 7 * kSector, kSector);
  EXPECT_TRUE(past.ok);
  EXPECT_EQ(past.got, 0u);
  EXPECT_TRUE(past.UntouchedAfterGot());
  ReadResult tail = Read(volume_, 6 * kSector, 4 * kSector);
  EXPECT_TRUE(tail.ok);
  EXPECT_EQ(tail.got, kSector);
  EXPECT_EQ(StampAt(tail.bytes, 0), (Stamp{1, 2}));
  EXPECT_TRUE(tail.UntouchedAfterGot());
}

TEST_F(SectorReaderSpanned, MemberThatCannotBeOpenedKeepsWhatWasPlaced) {
  volume_.members[9].devicePath = Absent();
  ReadResult r = Read(volume_, 2 * kSector, 4 * kSector);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.got, 2 * kSector);
  EXPECT_EQ(StampAt(r.bytes, kSector), (Stamp{0, 3}));
  EXPECT_TRUE(r.UntouchedAfterGot());
}

// ---------------------------------------------------------------------------

class SectorReaderHostile : public SectorReaderFixture {};

TEST_F(SectorReaderHostile, ShapesTheArithmeticCannotServeReadNothing) {
  auto expectNothing = [](const VolumeInfo& v, const char* what) {
    ReadResult r = Read(v, 4096, 4096);
    EXPECT_FALSE(r.ok) << what;
    EXPECT_EQ(r.got, 0u) << what;
    EXPECT_TRUE(r.UntouchedAfterGot()) << what;
  };
  VolumeInfo v;
  v.layout = VolumeLayout::Striped;
  expectNothing(v, "striped without members");
  v.layout = VolumeLayout::Raid5;
  expectNothing(v, "raid5 without members");
  AddMember(v, 1, 0, Stamped(0, 0, 16), 16);
  expectNothing(v, "raid5 of one member");
  AddMember(v, 2, 0, Stamped(1, 0, 16), 16);
  for (VolumeLayout layout : {VolumeLayout::Striped, VolumeLayout::Raid5}) {
    v.layout = layout;
    v.stripeSectors = 0;
    expectNothing(v, "stripe unit 0");
    v.stripeSectors = 2;
    v.sectorSize = 0;
    expectNothing(v, "sector size 0");
    v.sectorSize = 512;
  }
  v.layout = VolumeLayout::Spanned;
  v.sectorSize = 0;
  expectNothing(v, "spanned, sector size 0");
}

TEST_F(SectorReaderHostile, HugeFieldsNeitherWrapNorHang) {
  for (VolumeLayout layout : {VolumeLayout::Striped, VolumeLayout::Spanned, VolumeLayout::Raid5}) {
    VolumeInfo v;
    v.layout = layout;
    v.stripeSectors = std::numeric_limits<uint16_t>::max();
    AddMember(v, 1, 0, Stamped(0, 0, 4), 4);
    AddMember(v, 2, 0, Stamped(1, 0, 4), 4);
    for (auto& [key, member] : v.members) {
      member.start = std::numeric_limits<uint64_t>::max() / 3;
      member.sectorCount = std::numeric_limits<uint64_t>::max();
    }
    v.members[2].devicePath.clear();
    for (uint32_t sectorSize : {512u, std::numeric_limits<uint32_t>::max()}) {
      v.sectorSize = sectorSize;
      for (uint64_t position : {uint64_t{0}, std::numeric_limits<uint64_t>::max() - 100}) {
        ReadResult r = Read(v, position, 8 * kSector);
        EXPECT_LE(r.got, 8 * kSector);
      }
    }
  }
}

}  // namespace
}  // namespace brevid
