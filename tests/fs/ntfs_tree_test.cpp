// The placement rules of the NTFS tree on records built here byte by byte
// (reused, looping, broken and very deep parent chains), and the deep-scan
// path over the record runs of a fixture volume.
#include "fs/ntfs_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "fs/ntfs_volume.h"
#include "fs/volume_trees.h"
#include "partition/partition_walk.h"
#include "platform/codepage.h"
#include "support/file_hash.h"
#include "support/image_under_test.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

constexpr uint64_t kTime = 0x01D5C0A1B2C3D4E0;  // 2020-01-01, any fixed time will do

void PutLe(std::vector<uint8_t>& b, size_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// One MFT record as NTFS writes it: header, attributes, end marker and the
// update-sequence fix-up over both sector ends.
class RecordBuilder {
 public:
  // `oldFormat`: update sequence at 0x2A, so the record carries no number.
  RecordBuilder(uint32_t number, uint16_t flags, bool oldFormat = false)
      : bytes_(kMftRecordSize, 0) {
    std::copy_n("FILE", 4, bytes_.begin());
    usa_ = oldFormat ? 0x2A : 0x30;
    PutLe(bytes_, 0x04, usa_, 2);
    PutLe(bytes_, 0x06, 3, 2);
    PutLe(bytes_, 0x10, 1, 2);
    PutLe(bytes_, 0x12, 1, 2);
    at_ = oldFormat ? 0x30 : 0x38;
    PutLe(bytes_, 0x14, at_, 2);
    PutLe(bytes_, 0x16, flags, 2);
    PutLe(bytes_, 0x1C, kMftRecordSize, 4);
    if (!oldFormat) PutLe(bytes_, 0x2C, number, 4);
  }

  RecordBuilder& StandardInformation() {
    size_t v = Resident(0x10, 48);
    for (int i = 0; i < 4; ++i) PutLe(bytes_, v + 8 * i, kTime, 8);
    return *this;
  }

  RecordBuilder& FileName(uint32_t parent, const std::u16string& name, uint64_t size = 0,
                          uint8_t nameSpace = 1) {
    size_t v = Resident(0x30, 66 + 2 * name.size());
    PutLe(bytes_, v, (uint64_t{1} << 48) | parent, 8);
    for (int i = 0; i < 4; ++i) PutLe(bytes_, v + 8 + 8 * i, kTime, 8);
    PutLe(bytes_, v + 0x28, (size + 7) & ~uint64_t{7}, 8);
    PutLe(bytes_, v + 0x30, size, 8);
    bytes_[v + 0x40] = static_cast<uint8_t>(name.size());
    bytes_[v + 0x41] = nameSpace;
    for (size_t i = 0; i < name.size(); ++i) PutLe(bytes_, v + 0x42 + 2 * i, name[i], 2);
    return *this;
  }

  RecordBuilder& Sequence(uint16_t sequence) {
    PutLe(bytes_, 0x10, sequence, 2);
    return *this;
  }

  // A resident attribute list with one entry: attribute `type` in `record`.
  RecordBuilder& AttributeList(uint32_t type, uint32_t record) {
    size_t v = Resident(0x20, 0x20);
    PutLe(bytes_, v, type, 4);
    PutLe(bytes_, v + 4, 0x20, 2);
    PutLe(bytes_, v + 0x10, (uint64_t{1} << 48) | record, 8);
    return *this;
  }

  // An extension record: part of the file whose base record is `base`.
  RecordBuilder& Base(uint32_t base) {
    PutLe(bytes_, 0x20, (uint64_t{1} << 48) | base, 8);
    return *this;
  }

  // Unnamed $DATA in one run of `clusters` at `lcn` (both below 128).
  RecordBuilder& Data(uint8_t lcn, uint8_t clusters, uint64_t size) {
    size_t a = Header(0x80, 0x48);
    bytes_[a + 8] = 1;
    PutLe(bytes_, a + 0x0A, 0x40, 2);
    PutLe(bytes_, a + 0x18, clusters - 1u, 8);
    PutLe(bytes_, a + 0x20, 0x40, 2);
    PutLe(bytes_, a + 0x28, clusters * 4096u, 8);
    PutLe(bytes_, a + 0x30, size, 8);
    PutLe(bytes_, a + 0x38, size, 8);
    bytes_[a + 0x40] = 0x11;
    bytes_[a + 0x41] = clusters;
    bytes_[a + 0x42] = lcn;
    return *this;
  }

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> b = bytes_;
    PutLe(b, at_, 0xFFFFFFFF, 4);
    PutLe(b, 0x18, at_ + 8, 4);
    PutLe(b, usa_, 0x0007, 2);
    PutLe(b, usa_ + 2, LoadLe16(b, 510), 2);
    PutLe(b, usa_ + 4, LoadLe16(b, 1022), 2);
    PutLe(b, 510, 0x0007, 2);
    PutLe(b, 1022, 0x0007, 2);
    return b;
  }

 private:
  size_t Header(uint32_t type, size_t length) {
    length = (length + 7) & ~size_t{7};
    size_t a = at_;
    PutLe(bytes_, a, type, 4);
    PutLe(bytes_, a + 4, length, 4);
    at_ += length;
    return a;
  }
  size_t Resident(uint32_t type, size_t valueLength) {
    size_t a = Header(type, 0x18 + valueLength);
    PutLe(bytes_, a + 0x0A, 0x18, 2);
    PutLe(bytes_, a + 0x10, valueLength, 4);
    PutLe(bytes_, a + 0x14, 0x18, 2);
    return a + 0x18;
  }

  std::vector<uint8_t> bytes_;
  size_t usa_ = 0x30;
  size_t at_ = 0x38;
};

std::vector<uint8_t> Folder(uint32_t number, uint32_t parent, const std::u16string& name,
                            uint16_t flags = 3) {
  return RecordBuilder(number, flags).StandardInformation().FileName(parent, name).Bytes();
}
std::vector<uint8_t> File(uint32_t number, uint32_t parent, const std::u16string& name,
                          uint16_t flags = 1) {
  return RecordBuilder(number, flags).StandardInformation().FileName(parent, name, 100).Bytes();
}

// A whole-disk NTFS volume of 2048 sectors written to a scratch file: boot
// sector, 8 sectors per cluster, $MFT at cluster 4 (sector 32) in one run of
// kMftClusters. Records not set stay zero and fail the record test.
class MiniVolume {
 public:
  static constexpr uint64_t kSectors = 4096;
  static constexpr uint64_t kMftSector = 32;
  static constexpr uint8_t kMftClusters = 125;  // 500 records

  explicit MiniVolume(const std::string& name) {
    path_ = test::ScratchDir("ntfs_tree_" + name) + "/mini.img";
    std::vector<uint8_t> boot(512, 0);
    boot[0] = 0xEB, boot[1] = 0x52, boot[2] = 0x90;
    std::copy_n("NTFS    ", 8, boot.begin() + 3);
    PutLe(boot, 0x0B, 512, 2);
    boot[0x0D] = 8;
    PutLe(boot, 0x28, kSectors - 1, 8);
    PutLe(boot, 0x30, 4, 8);
    PutLe(boot, 0x44, 1, 4);
    PutLe(boot, 510, 0xAA55, 2);
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(boot.data()), 512);
    std::filesystem::resize_file(path_, kSectors * 512);
    Put(0, RecordBuilder(0, 1)
               .StandardInformation()
               .FileName(5, u"$MFT")
               .Data(4, kMftClusters, kMftClusters * 4096u)
               .Bytes());

    disk.path = path_;
    disk.sizeBytes = kSectors * 512;
    VolumeInfo v;
    v.name = "Partition0";
    v.fsType = kFsNtfs;
    v.sectorCount = kSectors;
    v.sectorsPerCluster = 8;
    v.mftStart = kMftSector;
    disk.volumes.push_back(std::move(v));
  }

  void Put(uint32_t slot, const std::vector<uint8_t>& record) {
    std::fstream f(path_, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>((kMftSector + 2 * slot) * 512));
    f.write(reinterpret_cast<const char*>(record.data()),
            static_cast<std::streamsize>(record.size()));
  }

  VolumeInfo& volume() { return disk.volumes[0]; }

  // Trees set up as the MFT scan sets them up, with $MFT's run known.
  VolumeTrees& Trees() {
    VolumeTrees& trees = TreesOf(volume());
    if (trees.mftRuns.empty()) {
      trees.mftRuns[0] = DataRun{0, 4, kMftClusters};
      StartNtfsTree(trees, /*withExtended=*/false);
    }
    return trees;
  }

  const std::string& path() const { return path_; }

  DiskInfo disk;

 private:
  std::string path_;
};

NtfsEntry Node(uint32_t number, uint32_t parent, const char* name, uint8_t kind) {
  NtfsEntry e;
  e.SetKind(kind);
  e.recordNumber = number;
  e.parentNumber = parent;
  e.name = Ansi(name);
  return e;
}

std::string Utf8(const NtfsEntry& e) { return AnsiToUtf8(e.name); }

const NtfsEntry* Child(const NtfsEntry& folder, const std::string& name) {
  for (const NtfsEntry& c : folder.children)
    if (Utf8(c) == name) return &c;
  return nullptr;
}

// The node at "a/b/c" below `top`, or null.
const NtfsEntry* At(const NtfsEntry& top, const std::string& path) {
  const NtfsEntry* node = &top;
  size_t from = 0;
  while (node && from <= path.size()) {
    size_t slash = path.find('/', from);
    if (slash == std::string::npos) slash = path.size();
    node = Child(*node, path.substr(from, slash - from));
    from = slash + 1;
  }
  return node;
}

void Walk(const NtfsEntry& folder, const std::function<void(const NtfsEntry&, int)>& visit,
          int depth = 1) {
  for (const NtfsEntry& c : folder.children) {
    visit(c, depth);
    Walk(c, visit, depth + 1);
  }
}

std::multiset<uint64_t> Numbers(const NtfsEntry& top) {
  std::multiset<uint64_t> numbers;
  Walk(top, [&](const NtfsEntry& e, int) { numbers.insert(e.recordNumber); });
  return numbers;
}

std::vector<std::string> ChildNames(const NtfsEntry& folder) {
  std::vector<std::string> names;
  for (const NtfsEntry& c : folder.children) names.push_back(Utf8(c));
  return names;
}

// ---- placement rules --------------------------------------------------------

TEST(NtfsTreeRules, PlaceholderForAParentNumber) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  StartNtfsTree(trees);
  NtfsEntry& p = MakePlaceholder(trees, 1234);
  EXPECT_EQ(Utf8(p), "$$$Folder1234");
  EXPECT_EQ(p.Kind(), kDeletedFolder);
  EXPECT_EQ(p.recordNumber, 1234u);
  EXPECT_EQ(p.parentNumber, 2u);
  EXPECT_TRUE(p.children.empty());
  ASSERT_EQ(trees.ntfsScattered.children.size(), 1u);
  EXPECT_EQ(&trees.ntfsScattered.children.back(), &p);
  // Spare-indexed even though the number is free in the main index.
  EXPECT_EQ(trees.ntfsIndex.count(1234), 0u);
  ASSERT_EQ(trees.ntfsSpareIndex.count(1234), 1u);
  EXPECT_EQ(trees.ntfsSpareIndex.find(1234)->second, &p);
}

TEST(NtfsTreeRules, FoldersPlacedLaterComeFirst) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  StartNtfsTree(trees);
  std::set<uint32_t> visited;
  PlaceNtfsEntry(trees, Node(30, 5, "first folder", kNormalFolder), nullptr, visited);
  PlaceNtfsEntry(trees, Node(31, 5, "a file", kNormalFile), nullptr, visited);
  PlaceNtfsEntry(trees, Node(32, 5, "deleted folder", kDeletedFolder), nullptr, visited);
  PlaceNtfsEntry(trees, Node(33, 5, "deleted file", kDeletedFile), nullptr, visited);
  PlaceNtfsEntry(trees, Node(34, 5, "last folder", kNormalFolder), nullptr, visited);
  PlaceNtfsEntry(trees, Node(35, 30, "inside", kNormalFile), nullptr, visited);
  EXPECT_EQ(ChildNames(trees.ntfsRoot),
            (std::vector<std::string>{"last folder", "deleted folder", "first folder", "a file",
                                      "deleted file"}));
  ASSERT_NE(At(trees.ntfsRoot, "first folder/inside"), nullptr);
  EXPECT_EQ(trees.ntfsIndex.Find(35), At(trees.ntfsRoot, "first folder/inside"));
  EXPECT_TRUE(visited.empty());  // no record had to be read
}

// dir3's record was reused for res1.dat: two files that still name it as
// their parent share one placeholder, the second finding it through the
// spare index.
TEST(NtfsTreeRules, ReusedParentRecordGivesOnePlaceholder) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  StartNtfsTree(trees);
  std::set<uint32_t> visited;
  PlaceNtfsEntry(trees, Node(37, 5, "res1.dat", kDeletedFile), nullptr, visited);
  PlaceNtfsEntry(trees, Node(38, 37, "sing2.dat", kDeletedFile), nullptr, visited);
  ASSERT_EQ(trees.ntfsSpareIndex.count(37), 1u);
  NtfsEntry* placeholder = trees.ntfsSpareIndex.find(37)->second;
  PlaceNtfsEntry(trees, Node(39, 37, "other.dat", kNormalFile), nullptr, visited);
  PlaceNtfsEntry(trees, Node(40, 37, "sub", kDeletedFolder), nullptr, visited);

  ASSERT_EQ(trees.ntfsScattered.children.size(), 1u);
  EXPECT_EQ(&trees.ntfsScattered.children.front(), placeholder);
  EXPECT_EQ(Utf8(*placeholder), "$$$Folder37");
  EXPECT_EQ(placeholder->Kind(), kDeletedFolder);
  EXPECT_EQ(ChildNames(*placeholder), (std::vector<std::string>{"sub", "sing2.dat", "other.dat"}));
  EXPECT_EQ(trees.ntfsSpareIndex.count(37), 1u);
  // Children of a stand-in go to the spare index only.
  for (uint32_t n : {38u, 39u, 40u}) {
    EXPECT_EQ(trees.ntfsIndex.count(n), 0u) << n;
    EXPECT_EQ(trees.ntfsSpareIndex.count(n), 1u) << n;
  }
  // The file that took the record stays where it is.
  EXPECT_EQ(ChildNames(trees.ntfsRoot), (std::vector<std::string>{"res1.dat"}));
  EXPECT_EQ(trees.ntfsIndex.Find(37), &trees.ntfsRoot.children.front());
}

TEST(NtfsTreeRules, ParentInSpareIndexOnly) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  StartNtfsTree(trees);
  std::set<uint32_t> visited;
  NtfsEntry& p = MakePlaceholder(trees, 77);
  PlaceNtfsEntry(trees, Node(78, 77, "lost.txt", kDeletedFile), nullptr, visited);
  ASSERT_EQ(p.children.size(), 1u);
  EXPECT_EQ(Utf8(p.children.front()), "lost.txt");
  EXPECT_EQ(trees.ntfsSpareIndex.count(78), 1u);
}

TEST(NtfsTreeRules, ParentThatCannotBeReadLeavesTheNodeOut) {
  MiniVolume mini("unreadable_parent");
  std::vector<uint8_t> broken = Folder(30, 5, u"broken");
  broken[1022] ^= 0xFF;  // the second sector's update-sequence word
  mini.Put(30, broken);
  mini.Put(31, Folder(99, 5, u"another number"));
  VolumeTrees& trees = mini.Trees();
  VolumeReader handle(mini.disk, mini.volume());
  ASSERT_TRUE(handle.Open());
  std::set<uint32_t> visited;

  PlaceNtfsEntry(trees, Node(40, 30, "under broken", kNormalFile), &handle, visited);
  PlaceNtfsEntry(trees, Node(41, 31, "under renumbered", kNormalFile), &handle, visited);
  PlaceNtfsEntry(trees, Node(42, 32, "under empty slot", kNormalFile), &handle, visited);
  PlaceNtfsEntry(trees, Node(43, 900000, "beyond the volume", kNormalFile), &handle, visited);
  EXPECT_FALSE(ResolveParentChain(&handle, Node(44, 30, "direct", kNormalFile), trees, visited));

  EXPECT_TRUE(trees.ntfsRoot.children.empty());
  EXPECT_TRUE(trees.ntfsScattered.children.empty());
  EXPECT_EQ(trees.ntfsIndex.size(), 2u);  // the two pseudo folders
  EXPECT_TRUE(trees.ntfsSpareIndex.empty());
}

TEST(NtfsTreeRules, MissingParentsAreReadAndPlacedFirst) {
  MiniVolume mini("parent_chain");
  mini.Put(30, Folder(30, 5, u"top"));
  mini.Put(31, Folder(31, 30, u"middle", /*flags=*/2));
  mini.Put(32, Folder(32, 31, u"bottom", /*flags=*/7));
  VolumeTrees& trees = mini.Trees();
  VolumeReader handle(mini.disk, mini.volume());
  ASSERT_TRUE(handle.Open());
  std::set<uint32_t> visited;
  PlaceNtfsEntry(trees, Node(40, 32, "leaf.txt", kNormalFile), &handle, visited);
  PlaceNtfsEntry(trees, Node(41, 31, "second.txt", kNormalFile), &handle, visited);

  const NtfsEntry* bottom = At(trees.ntfsRoot, "top/middle/bottom");
  ASSERT_NE(bottom, nullptr);
  EXPECT_EQ(bottom->Kind(), kNormalFolder);  // flags 7
  EXPECT_EQ(At(trees.ntfsRoot, "top/middle")->Kind(), kDeletedFolder);
  EXPECT_NE(At(trees.ntfsRoot, "top/middle/bottom/leaf.txt"), nullptr);
  EXPECT_NE(At(trees.ntfsRoot, "top/middle/second.txt"), nullptr);
  EXPECT_EQ(visited, (std::set<uint32_t>{30, 31, 32}));
  EXPECT_EQ(trees.ntfsIndex.Find(32), bottom);
  EXPECT_TRUE(trees.ntfsScattered.children.empty());
}

TEST(NtfsTreeRules, ParentThatIsAFileOrTheNodeItself) {
  MiniVolume mini("file_parent");
  mini.Put(30, File(30, 5, u"plain file"));
  mini.Put(31, File(31, 31, u"own parent"));
  VolumeTrees& trees = mini.Trees();
  VolumeReader handle(mini.disk, mini.volume());
  ASSERT_TRUE(handle.Open());
  std::set<uint32_t> visited;
  PlaceNtfsEntry(trees, Node(40, 30, "under a file", kDeletedFile), &handle, visited);
  PlaceNtfsEntry(trees, Node(31, 31, "own parent", kNormalFile), &handle, visited);

  EXPECT_TRUE(trees.ntfsRoot.children.empty());
  EXPECT_EQ(ChildNames(trees.ntfsScattered),
            (std::vector<std::string>{"$$$Folder30", "$$$Folder31"}));
  EXPECT_NE(At(trees.ntfsScattered, "$$$Folder30/under a file"), nullptr);
  EXPECT_NE(At(trees.ntfsScattered, "$$$Folder31/own parent"), nullptr);
}

// A parent chain that closes on itself ends in a placeholder instead of
// recursing without end.
TEST(NtfsTreeRules, LoopingParentChainEndsInAPlaceholder) {
  MiniVolume mini("loop");
  mini.Put(30, Folder(30, 31, u"A"));
  mini.Put(31, Folder(31, 30, u"B"));
  mini.Put(32, Folder(32, 32, u"self"));
  VolumeTrees& trees = mini.Trees();
  VolumeReader handle(mini.disk, mini.volume());
  ASSERT_TRUE(handle.Open());
  std::set<uint32_t> visited;
  PlaceNtfsEntry(trees, Node(40, 30, "C", kNormalFile), &handle, visited);
  PlaceNtfsEntry(trees, Node(41, 32, "D", kNormalFile), &handle, visited);

  EXPECT_TRUE(trees.ntfsRoot.children.empty());
  std::multiset<uint64_t> numbers = Numbers(trees.ntfsScattered);
  EXPECT_EQ(numbers.count(40), 1u);
  EXPECT_EQ(numbers.count(41), 1u);
  bool placeholder = false;
  Walk(trees.ntfsScattered, [&](const NtfsEntry& e, int depth) {
    if (depth == 1) placeholder |= Utf8(e).rfind("$$$Folder", 0) == 0;
  });
  EXPECT_TRUE(placeholder);
}

// 400 folders, each the parent of the one before: the chain is cut at 256
// levels by a placeholder for the record it would have read next.
TEST(NtfsTreeRules, ParentChainDeeperThanAnyPath) {
  MiniVolume mini("deep_chain");
  constexpr uint32_t kFirst = 100, kCount = 398;
  for (uint32_t i = 0; i < kCount; ++i)
    mini.Put(kFirst + i, Folder(kFirst + i, i + 1 == kCount ? 5 : kFirst + i + 1, u"level"));
  VolumeTrees& trees = mini.Trees();
  VolumeReader handle(mini.disk, mini.volume());
  ASSERT_TRUE(handle.Open());
  std::set<uint32_t> visited;
  PlaceNtfsEntry(trees, Node(50, kFirst, "bottom.txt", kNormalFile), &handle, visited);

  EXPECT_TRUE(trees.ntfsRoot.children.empty());
  ASSERT_EQ(trees.ntfsScattered.children.size(), 1u);
  const NtfsEntry& cut = trees.ntfsScattered.children.front();
  EXPECT_EQ(Utf8(cut), "$$$Folder356");
  int deepest = 0;
  Walk(cut, [&](const NtfsEntry& e, int depth) {
    if (e.recordNumber == 50) deepest = depth;
  });
  EXPECT_EQ(deepest, 257);
}

// ---- the MFT scan over crafted volumes ---------------------------------------

TEST(NtfsTreeRules, ScanKeepsOnlyTheKindsItKnows) {
  MiniVolume mini("flags");
  const std::pair<uint16_t, const char16_t*> records[] = {
      {0, u"flags0"}, {1, u"flags1"}, {2, u"flags2"}, {3, u"flags3"}, {4, u"flags4"},
      {5, u"flags5"}, {6, u"flags6"}, {7, u"flags7"}, {9, u"flags9"}};
  uint32_t n = 30;
  for (const auto& [flags, name] : records) mini.Put(n, File(n, 5, name, flags)), ++n;
  // An older record without a number field takes its slot's number.
  mini.Put(60, RecordBuilder(0, 1, /*oldFormat=*/true)
                   .StandardInformation()
                   .FileName(5, u"old format")
                   .Bytes());
  // System records with the root as parent are never shown; from 12 on they are.
  mini.Put(3, File(3, 5, u"$Volume"));
  mini.Put(12, File(12, 5, u"record12"));
  std::string before = test::Sha256OfFile(mini.path());

  ProgressRecord progress;
  ASSERT_EQ(ScanMft(mini.disk, mini.volume(), progress), 1);
  VolumeTrees& trees = TreesOf(mini.volume());
  std::map<std::string, std::pair<uint8_t, uint64_t>> found;
  for (const NtfsEntry& e : trees.ntfsRoot.children) found[Utf8(e)] = {e.Kind(), e.recordNumber};
  EXPECT_EQ(found, (std::map<std::string, std::pair<uint8_t, uint64_t>>{
                       {"flags0", {kDeletedFile, 30}},
                       {"flags1", {kNormalFile, 31}},
                       {"flags2", {kDeletedFolder, 32}},
                       {"flags3", {kNormalFolder, 33}},
                       {"flags7", {kNormalFolder, 37}},
                       {"old format", {kNormalFile, 60}},
                       {"record12", {kNormalFile, 12}},
                   }));
  EXPECT_EQ(Utf8(trees.ntfsRoot), "根目录");
  EXPECT_EQ(test::Sha256OfFile(mini.path()), before);
}

TEST(NtfsTreeRules, ScanOfLoopsAndDeepChainsEnds) {
  MiniVolume mini("scan_hostile");
  mini.Put(30, Folder(30, 31, u"A"));
  mini.Put(31, Folder(31, 30, u"B"));
  mini.Put(32, File(32, 30, u"C"));
  for (uint32_t i = 0; i < 300; ++i) mini.Put(100 + i, Folder(100 + i, 101 + i, u"level"));
  mini.Put(40, File(40, 100, u"deep.txt"));
  // Records of garbage, and records whose attributes run off their end.
  for (uint32_t slot = 420; slot < 440; ++slot) {
    std::vector<uint8_t> r = File(slot, 5, u"garbage");
    for (size_t i = 0x38; i < 500; i += 7) r[i] = static_cast<uint8_t>(slot * i);
    mini.Put(slot, r);
  }
  std::vector<uint8_t> longAttr = File(441, 5, u"long attribute");
  PutLe(longAttr, 0x38 + 4, 0xFFFFFFF0, 4);
  mini.Put(441, longAttr);

  ProgressRecord progress;
  ASSERT_EQ(ScanMft(mini.disk, mini.volume(), progress), 1);
  VolumeTrees& trees = TreesOf(mini.volume());
  std::multiset<uint64_t> scattered = Numbers(trees.ntfsScattered);
  EXPECT_EQ(scattered.count(32), 1u);
  EXPECT_EQ(scattered.count(40), 1u);
  EXPECT_EQ(Numbers(trees.ntfsRoot).count(40), 0u);
}

// A record read early as a parent is not placed again when the scan reaches
// it; a system record read as a parent stays out of the root; extension
// records are no files of their own.
TEST(NtfsTreeRules, ScanPlacesEachRecordOnce) {
  MiniVolume mini("scan_once");
  mini.Put(11, Folder(11, 5, u"$Extend"));
  mini.Put(27, Folder(27, 11, u"$RmMetadata"));
  mini.Put(28, File(28, 27, u"$Repair"));
  mini.Put(30, File(30, 42, u"early.txt"));
  mini.Put(40, Folder(40, 5, u"outer"));
  mini.Put(41, Folder(41, 40, u"inner"));
  mini.Put(42, Folder(42, 41, u"innermost"));
  mini.Put(43, RecordBuilder(43, 1).FileName(5, u"extension").Base(30).Bytes());

  ProgressRecord progress;
  ASSERT_EQ(ScanMft(mini.disk, mini.volume(), progress), 1);
  VolumeTrees& trees = TreesOf(mini.volume());
  EXPECT_EQ(ChildNames(trees.ntfsRoot), (std::vector<std::string>{"outer"}));
  EXPECT_NE(At(trees.ntfsRoot, "outer/inner/innermost/early.txt"), nullptr);
  std::multiset<uint64_t> numbers = Numbers(trees.ntfsRoot);
  for (uint64_t n : {30, 40, 41, 42}) EXPECT_EQ(numbers.count(n), 1u) << n;
  EXPECT_EQ(ChildNames(trees.ntfsScattered), (std::vector<std::string>{"$$$Folder11"}));
  EXPECT_NE(At(trees.ntfsScattered, "$$$Folder11/$RmMetadata/$Repair"), nullptr);
}

TEST(NtfsTreeRules, DamagedRecordZeroFallsBackToItsAttributesThenTheMirror) {
  MiniVolume mini("record0");
  mini.Put(30, File(30, 5, u"kept.txt"));
  std::vector<uint8_t> record0 = RecordBuilder(0, 1)
                                     .StandardInformation()
                                     .FileName(5, u"$MFT")
                                     .Data(4, MiniVolume::kMftClusters, 500 * 1024)
                                     .Bytes();
  auto scanned = [&] {
    ReleaseTrees(mini.volume());
    ProgressRecord progress;
    int result = ScanMft(mini.disk, mini.volume(), progress);
    return result == 1 && At(TreesOf(mini.volume()).ntfsRoot, "kept.txt") != nullptr;
  };
  std::vector<uint8_t> damaged = record0;
  damaged[0] = 'X';
  mini.Put(0, damaged);
  EXPECT_TRUE(scanned());

  // Record 0 gone: $MFTMirr at cluster 200 (boot sector 0x38) holds its copy.
  mini.Put(0, std::vector<uint8_t>(kMftRecordSize, 0));
  const uint32_t mirrorSlot = (200 * 8 - MiniVolume::kMftSector) / 2;
  mini.Put(mirrorSlot, record0);
  std::vector<uint8_t> cluster(8, 0);
  PutLe(cluster, 0, 200, 8);
  std::fstream(mini.path(), std::ios::binary | std::ios::in | std::ios::out)
      .seekp(0x38)
      .write(reinterpret_cast<const char*>(cluster.data()), 8);
  EXPECT_TRUE(scanned());

  mini.Put(mirrorSlot, std::vector<uint8_t>(kMftRecordSize, 0));
  EXPECT_FALSE(scanned());
}

TEST(NtfsTreeRules, FileNameInAnExtensionRecordNamesTheFile) {
  MiniVolume mini("fn_extension");
  mini.Put(30, RecordBuilder(30, 1).StandardInformation().AttributeList(0x30, 31).Bytes());
  mini.Put(31, RecordBuilder(31, 1).FileName(5, u"fragmented.bin", 100).Base(30).Bytes());
  ProgressRecord progress;
  ASSERT_EQ(ScanMft(mini.disk, mini.volume(), progress), 1);
  const NtfsEntry* file = At(TreesOf(mini.volume()).ntfsRoot, "fragmented.bin");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->recordNumber, 30u);
}

TEST(NtfsTreeRules, ExtendChildrenAreNoDeletedFiles) {
  MiniVolume mini("extend");
  mini.Put(11, Folder(11, 5, u"$Extend"));
  mini.Put(24, File(24, 11, u"$Quota"));
  ProgressRecord progress;
  ASSERT_EQ(ScanMft(mini.disk, mini.volume(), progress), 1);
  const NtfsEntry* holder = At(TreesOf(mini.volume()).ntfsScattered, "$$$Folder11");
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(holder->Kind(), kNormalFolder);
  EXPECT_NE(At(*holder, "$Quota"), nullptr);
}

// Deleting a record raises its sequence number; reusing it raises it again.
TEST(NtfsTreeRules, ParentRecordReusedByAnotherFolderIsNotTheParent) {
  MiniVolume mini("reused_parent");
  mini.Put(40, RecordBuilder(40, 3).Sequence(3).StandardInformation().FileName(5, u"new").Bytes());
  mini.Put(41, RecordBuilder(41, 2).Sequence(2).StandardInformation().FileName(5, u"old").Bytes());
  mini.Put(50, File(50, 40, u"orphan.txt", 0));
  mini.Put(51, File(51, 41, u"kept.txt", 0));
  ProgressRecord progress;
  ASSERT_EQ(ScanMft(mini.disk, mini.volume(), progress), 1);
  VolumeTrees& trees = TreesOf(mini.volume());
  EXPECT_EQ(At(trees.ntfsRoot, "new/orphan.txt"), nullptr);
  EXPECT_NE(At(trees.ntfsScattered, "$$$Folder40/orphan.txt"), nullptr);
  EXPECT_NE(At(trees.ntfsRoot, "old/kept.txt"), nullptr);
}

// ---- the deep-scan path --------------------------------------------------------

TEST(NtfsDeepScan, RecordRunsOfACraftedVolume) {
  MiniVolume mini("deep_flags");
  mini.Put(26, File(26, 5, u"record26"));
  mini.Put(27, File(27, 5, u"record27"));
  mini.Put(30, File(30, 5, u"flags4", 4));
  mini.Put(31, File(31, 5, u"flags7", 7));
  mini.Put(32, File(32, 40, u"child first"));
  mini.Put(40, Folder(40, 5, u"parent later"));
  mini.Put(41, File(41, 5, u"reused parent"));
  mini.Put(42, File(42, 41, u"under reused"));
  mini.Put(43, File(43, 44, u"under a loop"));
  mini.Put(44, Folder(44, 45, u"loop A"));
  mini.Put(45, Folder(45, 44, u"loop B"));
  mini.Put(46, RecordBuilder(46, 1).FileName(5, u"extension").Base(27).Bytes());
  mini.disk.mftRecordRuns[MiniVolume::kMftSector] = 2 * 100;
  mini.disk.mftRecordRuns[MiniVolume::kSectors + 100] = 64;  // beyond the volume: ignored

  ProgressRecord progress;
  ASSERT_TRUE(BuildTreeFromMftHits(progress, mini.disk, mini.volume()));
  VolumeTrees& trees = TreesOf(mini.volume());
  EXPECT_EQ(At(trees.ntfsRoot, "record26"), nullptr);
  EXPECT_EQ(trees.recordFirstSector.count(26), 0u);
  ASSERT_NE(At(trees.ntfsRoot, "record27"), nullptr);
  EXPECT_EQ(trees.recordFirstSector.at(27), MiniVolume::kMftSector + 54);
  EXPECT_EQ(At(trees.ntfsRoot, "flags4"), nullptr);
  EXPECT_EQ(At(trees.ntfsRoot, "extension"), nullptr);
  ASSERT_NE(At(trees.ntfsRoot, "flags7"), nullptr);
  EXPECT_EQ(At(trees.ntfsRoot, "flags7")->Kind(), kNormalFolder);
  // Placed under the root first, moved under its parent afterwards.
  EXPECT_NE(At(trees.ntfsRoot, "parent later/child first"), nullptr);
  EXPECT_EQ(At(trees.ntfsRoot, "child first"), nullptr);
  EXPECT_NE(At(trees.ntfsScattered, "$$$Folder41/under reused"), nullptr);
  // Every node stays reachable once, loop or not.
  std::multiset<uint64_t> all = Numbers(trees.ntfsRoot);
  for (uint64_t n : Numbers(trees.ntfsScattered)) all.insert(n);
  for (uint64_t n : {27, 31, 32, 40, 41, 42, 43, 44, 45}) EXPECT_GE(all.count(n), 1u) << n;
  for (uint64_t n : {27, 31, 32, 40, 42, 43}) EXPECT_EQ(all.count(n), 1u) << n;
  for (const NtfsEntry& e : trees.ntfsRoot.children) EXPECT_EQ(e.parentNumber, 5u) << Utf8(e);
}

TEST(NtfsDeepScan, StopBeforeTheFirstRead) {
  MiniVolume mini("deep_stop");
  mini.Put(30, File(30, 5, u"a file"));
  mini.disk.mftRecordRuns[MiniVolume::kMftSector] = 200;
  ProgressRecord progress;
  progress.stop.store(1);
  EXPECT_FALSE(BuildTreeFromMftHits(progress, mini.disk, mini.volume()));
  EXPECT_TRUE(TreesOf(mini.volume()).ntfsRoot.children.empty());
}

// ntfs_files.img through the runs a deep scan would have recorded.
class NtfsDeepScanFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = test::FixturePath("ntfs_files.img");
    if (!Fuse()) GTEST_SKIP() << "ntfs_files.img was made without FUSE";
    disk_ = Open(image_);
    ASSERT_EQ(disk_.volumes.size(), 1u);
    // Where $MFT lies, as the MFT scan decodes it from record 0.
    DiskInfo probe = Open(image_);
    ProgressRecord progress;
    ASSERT_EQ(ScanMft(probe, probe.volumes[0], progress), 1);
    const VolumeInfo& v = probe.volumes[0];
    const DataRunMap& runs = TreesOf(probe.volumes[0]).mftRuns;
    ASSERT_EQ(runs.size(), 1u);
    mftSector_ = v.start + uint64_t{v.sectorsPerCluster} * runs.begin()->second.startCluster;
    mftSectors_ = uint64_t{v.sectorsPerCluster} * runs.begin()->second.length;
    disk_.volumes[0].sectorsPerCluster = v.sectorsPerCluster;
  }

  static bool Fuse() {
    std::ifstream manifest(test::FixturePath("manifest.txt"));
    std::string line;
    while (std::getline(manifest, line))
      if (line.rfind("ntfs_files.img\t", 0) == 0)
        return line.find("ntfs=fuse") != std::string::npos;
    return false;
  }

  static DiskInfo Open(const std::string& path) { return test::WalkImage(path); }

  std::string image_;
  DiskInfo disk_;
  uint64_t mftSector_ = 0;
  uint64_t mftSectors_ = 0;
};

TEST_F(NtfsDeepScanFixture, SecondPassMovesNodesToTheirParents) {
  std::string before = test::Sha256OfFile(image_);
  disk_.mftRecordRuns[mftSector_] = static_cast<uint32_t>(mftSectors_);
  VolumeInfo& volume = disk_.volumes[0];
  ProgressRecord progress;
  // The MFT scan hands over to the deep-scan path when record runs are known.
  ASSERT_EQ(ScanMft(disk_, volume, progress), 1);
  VolumeTrees& trees = TreesOf(volume);

  for (const char* path :
       {"Moved Here/moved.txt", "Late/Early/child.txt", "Z1/Z2/Z3/Deep start/leaf.txt",
        "Nested/Level 2/Level 3/deep.txt", "Compressed/Sub/inner.txt", "Many/entry 320.txt",
        "sparse.bin", "reuser.txt"})
    EXPECT_NE(At(trees.ntfsRoot, path), nullptr) << path;
  for (const char* path : {"moved.txt", "Early", "Deep start", "child.txt", "leaf.txt"})
    EXPECT_EQ(At(trees.ntfsRoot, path), nullptr) << path;
  const NtfsEntry* many = At(trees.ntfsRoot, "Many");
  ASSERT_NE(many, nullptr);
  EXPECT_EQ(many->children.size(), 320u);
  const NtfsEntry* deleted = At(trees.ntfsRoot, "Gone/Inner/b.txt");
  ASSERT_NE(deleted, nullptr);
  EXPECT_EQ(deleted->Kind(), kDeletedFile);
  EXPECT_NE(At(trees.ntfsScattered, "$$$Folder64/orphan.txt"), nullptr);
  for (const NtfsEntry& e : trees.ntfsRoot.children) {
    EXPECT_EQ(e.parentNumber, 5u) << Utf8(e);
    EXPECT_GT(e.recordNumber, 26u) << Utf8(e);
  }
  // A node moved with its subtree is still what the index points at.
  const NtfsEntry* early = At(trees.ntfsRoot, "Late/Early");
  ASSERT_NE(early, nullptr);
  ASSERT_FALSE(early->children.empty());
  EXPECT_EQ(trees.ntfsIndex.Find(static_cast<uint32_t>(early->recordNumber)), early);
  EXPECT_EQ(trees.ntfsIndex.Find(static_cast<uint32_t>(early->children.front().recordNumber)),
            &early->children.front());
  // Each record once, with its sector.
  std::multiset<uint64_t> numbers = Numbers(trees.ntfsRoot);
  for (uint64_t n : numbers) EXPECT_EQ(numbers.count(n), 1u) << n;
  EXPECT_TRUE(trees.recordSectors.empty());
  for (const auto& [number, sector] : trees.recordFirstSector) {
    EXPECT_GT(number, 26u);
    EXPECT_EQ(sector, mftSector_ + 2 * number);
  }
  EXPECT_EQ(test::Sha256OfFile(image_), before);
}

// A second copy of a record elsewhere in the volume: the MFT's sector stays
// the first, the copy's goes to the list of further copies.
TEST_F(NtfsDeepScanFixture, TwoCopiesOfARecord) {
  std::string copy = test::ScratchDir("ntfs_two_copies") + "/two_copies.img";
  std::filesystem::copy_file(image_, copy);
  VolumeInfo& volume = disk_.volumes[0];
  uint64_t spare = volume.start + volume.sectorCount - 4096;  // 2 MiB before the end: unused
  constexpr uint32_t kSmall = 402;                            // small.txt
  std::vector<uint8_t> record(kMftRecordSize), empty(kMftRecordSize);
  {
    std::fstream f(copy, std::ios::binary | std::ios::in | std::ios::out);
    f.seekg(static_cast<std::streamoff>(spare * 512));
    f.read(reinterpret_cast<char*>(empty.data()), kMftRecordSize);
    f.seekg(static_cast<std::streamoff>((mftSector_ + 2 * kSmall) * 512));
    f.read(reinterpret_cast<char*>(record.data()), kMftRecordSize);
    ASSERT_TRUE(std::all_of(empty.begin(), empty.end(), [](uint8_t b) { return b == 0; }));
    f.seekp(static_cast<std::streamoff>(spare * 512));
    f.write(reinterpret_cast<const char*>(record.data()), kMftRecordSize);
  }
  disk_.path = copy;
  disk_.mftRecordRuns[mftSector_] = static_cast<uint32_t>(mftSectors_);
  disk_.mftRecordRuns[spare] = 2;
  ProgressRecord progress;
  ASSERT_TRUE(BuildTreeFromMftHits(progress, disk_, volume));
  VolumeTrees& trees = TreesOf(volume);
  EXPECT_EQ(trees.recordFirstSector.at(kSmall), mftSector_ + 2 * kSmall);
  ASSERT_EQ(trees.recordSectors.count(kSmall), 1u);
  EXPECT_EQ(trees.recordSectors.find(kSmall)->second, spare);
  EXPECT_EQ(trees.recordSectors.size(), 1u);
  // Each copy is a node of its own; the second is spare-indexed.
  size_t copies = 0;
  for (const NtfsEntry& e : trees.ntfsRoot.children) copies += Utf8(e) == "small.txt";
  EXPECT_EQ(copies, 2u);
  EXPECT_EQ(trees.ntfsSpareIndex.count(kSmall), 1u);
}

}  // namespace
}  // namespace brevid
