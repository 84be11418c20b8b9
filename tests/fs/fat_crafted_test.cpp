// The FAT walk on small volumes built byte by byte: lost boot sectors,
// deleted folders far out, recovery walks over recorded clusters, and the
// guards that end a walk over loops, overlong names and deep nesting.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "format/fat_layout.h"
#include "fs/fat_volume.h"
#include "platform/codepage.h"
#include "support/file_hash.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

using namespace std::chrono_literals;
using Entry = std::array<uint8_t, 32>;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

constexpr uint16_t kDate2020 = 0x5021;  // 2020-01-01
constexpr uint16_t kTimeNoon = 0x6000;  // 12:00:00
constexpr uint32_t kFat32Eoc = 0x0FFFFFFF;

// A short entry; `name11` is the eleven name bytes as stored.
Entry Short(std::string_view name11, uint8_t attr, uint32_t cluster, uint32_t size = 0,
            uint16_t date = kDate2020, uint16_t time = kTimeNoon) {
  Entry e{};
  std::memset(e.data(), ' ', 11);
  std::memcpy(e.data(), name11.data(), std::min<size_t>(11, name11.size()));
  e[fat::kAttributes] = attr;
  Put16(&e[fat::kCreateTime], time);
  Put16(&e[fat::kCreateDate], date);
  Put16(&e[fat::kClusterHigh], cluster >> 16);
  Put16(&e[fat::kWriteTime], time);
  Put16(&e[fat::kWriteDate], date);
  Put16(&e[fat::kClusterLow], cluster & 0xFFFF);
  Put32(&e[fat::kSize], size);
  return e;
}
Entry File(std::string_view name11, uint32_t cluster, uint32_t size = 1) {
  return Short(name11, 0x20, cluster, size);
}
Entry Folder(std::string_view name11, uint32_t cluster) { return Short(name11, 0x10, cluster); }
Entry Dot(uint32_t self) { return Folder(".", self); }
Entry DotDot(uint32_t parent) { return Folder("..", parent); }
Entry Deleted(Entry e) {
  e[0] = fat::kDeletedMark;
  return e;
}

// The long-name parts of `name` (last part first, as on disk) followed by
// `shortEntry`; every entry marked deleted when `deleted`.
std::vector<Entry> LongNamed(std::u16string_view name, Entry shortEntry, bool deleted = false) {
  size_t parts = (name.size() + 12) / 13;
  std::vector<char16_t> units(parts * 13, 0xFFFF);
  std::copy(name.begin(), name.end(), units.begin());
  if (name.size() < units.size()) units[name.size()] = 0;
  std::vector<Entry> run;
  for (size_t p = parts; p >= 1; --p) {
    Entry e{};
    e[0] = static_cast<uint8_t>(p | (p == parts ? fat::kLfnFirstOnDisk : 0));
    e[fat::kAttributes] = fat::kLongNameAttribute;
    const char16_t* u = &units[(p - 1) * 13];
    for (int i = 0; i < 5; ++i) Put16(&e[fat::kLfnChars1 + 2 * i], u[i]);
    for (int i = 0; i < 6; ++i) Put16(&e[fat::kLfnChars2 + 2 * i], u[5 + i]);
    for (int i = 0; i < 2; ++i) Put16(&e[fat::kLfnChars3 + 2 * i], u[11 + i]);
    if (deleted) e[0] = fat::kDeletedMark;
    run.push_back(e);
  }
  run.push_back(deleted ? Deleted(shortEntry) : shortEntry);
  return run;
}

std::vector<Entry> Cat(std::initializer_list<std::vector<Entry>> parts) {
  std::vector<Entry> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct Layout {
  bool fat32 = false;
  uint32_t reserved = 1;
  uint32_t fatLength = 16;
  uint32_t sectorsPerCluster = 1;
  uint64_t sectors = 400;
  uint32_t rootCluster = 2;  // FAT32
};

Layout Small16() { return {false, 1, 16, 1, 400}; }
Layout Small32() { return {true, 32, 8, 1, 400}; }

// A FAT volume from sector 0, held sector by sector and written as a sparse
// file, so that clusters far out cost no space.
class FatBuilder {
 public:
  explicit FatBuilder(Layout l) : l_(l) {
    BootSector(l_);
    if (l_.fat32) {
      SetFat(0, 0x0FFFFFF8);
      SetFat(1, kFat32Eoc);
    } else {
      SetFat(0, 0xFFF8);
      SetFat(1, 0xFFFF);
    }
  }

  // A boot sector that claims `claimed`, which need not be the layout built.
  void BootSector(const Layout& claimed) {
    uint8_t* b = Sector(0);
    std::memset(b, 0, 512);
    b[0] = 0xEB;
    b[1] = 0x58;
    b[2] = 0x90;
    std::memcpy(b + 3, "BREVIDT ", 8);
    Put16(b + 11, 512);
    b[13] = static_cast<uint8_t>(claimed.sectorsPerCluster);
    Put16(b + 14, claimed.reserved);
    b[16] = 2;
    b[21] = 0xF8;
    if (claimed.fat32) {
      Put32(b + 32, static_cast<uint32_t>(claimed.sectors));
      Put32(b + 36, claimed.fatLength);
      Put32(b + 44, claimed.rootCluster);
      Put16(b + 48, 1);
      Put16(b + 50, 6);
      std::memcpy(b + 82, "FAT32   ", 8);
    } else {
      Put16(b + 17, 512);
      if (claimed.sectors < 65536)
        Put16(b + 19, static_cast<uint32_t>(claimed.sectors));
      else
        Put32(b + 32, static_cast<uint32_t>(claimed.sectors));
      Put16(b + 22, claimed.fatLength);
      std::memcpy(b + 54, "FAT16   ", 8);
    }
    b[510] = 0x55;
    b[511] = 0xAA;
  }
  void EraseBootSector() { std::memset(Sector(0), 0, 512); }

  // The same value in both FATs.
  void SetFat(uint32_t cn, uint32_t value) {
    size_t width = l_.fat32 ? 4 : 2;
    uint64_t byte = uint64_t{cn} * width;
    for (uint32_t copy = 0; copy < 2; ++copy) {
      uint8_t* s = Sector(l_.reserved + uint64_t{copy} * l_.fatLength + byte / 512);
      if (l_.fat32)
        Put32(s + byte % 512, value);
      else
        Put16(s + byte % 512, value);
    }
  }

  uint64_t ClusterBase() const {
    uint64_t base = l_.reserved + 2ull * l_.fatLength - 2ull * l_.sectorsPerCluster;
    return l_.fat32 ? base : base + 32;
  }
  uint64_t ClusterSector(uint32_t cn) const {
    return uint64_t{cn} * l_.sectorsPerCluster + ClusterBase();
  }
  uint64_t RootDirSector() const { return l_.reserved + 2ull * l_.fatLength; }

  void Entries(uint64_t sector, const std::vector<Entry>& entries, size_t firstIndex = 0) {
    for (size_t i = 0; i < entries.size(); ++i) {
      size_t at = (firstIndex + i) * 32;
      std::memcpy(Sector(sector + at / 512) + at % 512, entries[i].data(), 32);
    }
  }
  void Cluster(uint32_t cn, const std::vector<Entry>& entries) {
    Entries(ClusterSector(cn), entries);
  }
  void Root(const std::vector<Entry>& entries) {
    if (l_.fat32)
      Cluster(2, entries);
    else
      Entries(RootDirSector(), entries);
  }
  void Raw(uint64_t sector, std::string_view bytes) {
    std::memcpy(Sector(sector), bytes.data(), bytes.size());
  }

  void WriteTo(const std::string& path) const {
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      for (const auto& [n, data] : sectors_) {
        out.seekp(static_cast<std::streamoff>(n * 512));
        out.write(reinterpret_cast<const char*>(data.data()), 512);
      }
    }
    std::filesystem::resize_file(path, l_.sectors * 512);
  }

  const Layout& layout() const { return l_; }

 private:
  uint8_t* Sector(uint64_t n) { return sectors_[n].data(); }
  Layout l_;
  std::map<uint64_t, std::array<uint8_t, 512>> sectors_;
};

// Expands with a watchdog: a walk that has not ended in time fails the test
// and is asked to stop.
void ExpandWithin(DiskInfo& disk, VolumeInfo& volume, std::chrono::seconds limit = 60s) {
  ProgressRecord progress;
  auto done = std::async(std::launch::async, [&] { ExpandFatVolume(disk, volume, progress); });
  if (done.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << "the walk did not end within " << limit.count() << " s";
    progress.stop = 1;
  }
  done.wait();
}

const FileEntry* Child(const FileEntry& folder, const std::string& name) {
  for (const FileEntry& c : folder.children)
    if (c.name == name) return &c;
  return nullptr;
}

std::vector<std::string> Names(const FileEntry& folder) {
  std::vector<std::string> names;
  for (const FileEntry& c : folder.children) names.push_back(c.name);
  return names;
}

using NameList = std::vector<std::string>;

size_t CountNodes(const FileEntry& folder) {
  size_t n = folder.children.size();
  for (const FileEntry& c : folder.children) n += CountNodes(c);
  return n;
}

// Each test writes its images into its own scratch folder and checks at the
// end that the walk left them as they were.
class FatCrafted : public ::testing::Test {
 protected:
  std::string Write(const FatBuilder& image, const std::string& name) {
    if (dir_.empty()) {
      std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
      for (char& c : test)
        if (c == '/') c = '_';
      dir_ = test::ScratchDir("fat_crafted_" + test);
    }
    std::string path = dir_ + "/" + name;
    image.WriteTo(path);
    hashes_[path] = test::Sha256OfFile(path);
    return path;
  }

  std::unique_ptr<DiskInfo> Disk(const std::string& path, const Layout& l) {
    auto disk = std::make_unique<DiskInfo>();
    disk->path = path;
    disk->sizeBytes = l.sectors * 512;
    VolumeInfo v;
    v.name = "Partition0";
    v.start = 0;
    v.sectorCount = l.sectors;
    v.fsType = l.fat32 ? kFsFat32 : kFsFat16;
    disk->volumes.push_back(std::move(v));
    return disk;
  }

  VolumeTrees& Expand(DiskInfo& disk) {
    ExpandWithin(disk, disk.volumes[0]);
    return TreesOf(disk.volumes[0]);
  }

  void TearDown() override {
    for (const auto& [path, hash] : hashes_)
      EXPECT_EQ(test::Sha256OfFile(path), hash) << path << " was written";
  }

  std::string dir_;
  std::map<std::string, std::string> hashes_;
};

// ---- geometry -------------------------------------------------------------------

// Boot sector gone: the FATs are found at volume sector 4, 200 sectors long,
// the root directory at 404, and the cluster size from the first folder.
TEST_F(FatCrafted, DestroyedFat16BootSectorIsFoundBySearch) {
  for (uint32_t mark : {0xFFFFFFF8u, 0x7FFFFFF8u}) {
    SCOPED_TRACE(mark);
    Layout l{false, 4, 200, 4, 600};
    FatBuilder img(l);
    img.EraseBootSector();
    std::string head(4, '\0');
    Put32(reinterpret_cast<uint8_t*>(head.data()), mark);
    img.Raw(4, head);
    img.Raw(204, head);
    img.SetFat(3, 0xFFFF);
    img.SetFat(5, 0xFFFF);
    img.SetFat(6, 0xFFFF);
    img.Root({Folder("SUB", 3), File("README  TXT", 5, 10)});
    img.Cluster(3, {Dot(3), DotDot(0), File("INNER   TXT", 6, 20)});
    std::string path = Write(img, mark == 0xFFFFFFF8u ? "lost_boot.img" : "lost_boot_clean.img");

    std::unique_ptr<DiskInfo> probe = Disk(path, l);
    VolumeInfo& pv = probe->volumes[0];
    VolumeReader reader(*probe, pv);
    ASSERT_TRUE(reader.Open());
    FatGeometry geo;
    ASSERT_TRUE(FindFat16Geometry(reader, pv, &geo));
    EXPECT_EQ(geo.reservedSectors, 4u);
    EXPECT_EQ(geo.fatLength, 200u);
    EXPECT_EQ(geo.fatCount, 2u);
    EXPECT_EQ(geo.rootDirSector, 404u);
    EXPECT_EQ(geo.rootEntries, 512u);
    EXPECT_EQ(geo.sectorsPerCluster, 4u);
    EXPECT_EQ(pv.fatSectors, 200u);
    EXPECT_EQ(pv.sectorsPerCluster, 4u);

    std::unique_ptr<DiskInfo> disk = Disk(path, l);
    VolumeTrees& trees = Expand(*disk);
    EXPECT_EQ(disk->volumes[0].clusterBase, 4u + 400 + 32 - 8);
    EXPECT_EQ(Names(trees.fatRoot), (NameList{"SUB", "README.TXT"}));
    const FileEntry* sub = Child(trees.fatRoot, "SUB");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(Names(*sub), NameList{"INNER.TXT"});
    EXPECT_EQ(sub->children.front().size, 20u);
  }
}

// A FAT length already known (an earlier walk set it) means no search: the
// walk has no geometry and reads nothing.
TEST_F(FatCrafted, NoSearchWhenTheFatLengthIsAlreadySet) {
  Layout l{false, 4, 200, 4, 600};
  FatBuilder img(l);
  img.EraseBootSector();
  img.Raw(204, std::string("\xF8\xFF\xFF\xFF", 4));
  img.Root({File("README  TXT", 5, 10)});
  std::string path = Write(img, "lost_boot.img");
  std::unique_ptr<DiskInfo> disk = Disk(path, l);
  disk->volumes[0].fatSectors = 200;
  VolumeTrees& trees = Expand(*disk);
  EXPECT_TRUE(trees.fatRoot.children.empty());
}

// Boot sectors whose numbers lie over a volume that holds real folders.
TEST_F(FatCrafted, HostileBootSectorsEndTheWalk) {
  struct Case {
    bool fat32;
    uint32_t spc;
    uint32_t fatLength;
    uint32_t rootCluster;
  };
  int n = 0;
  for (Case c : {Case{true, 0, 8, 2}, Case{true, 128, 0xFFFFFFFF, 2}, Case{true, 1, 8, 0xFFFFFFFF},
                 Case{true, 1, 8, 0}, Case{true, 255, 8, 2}, Case{false, 0, 16, 0},
                 Case{false, 255, 16, 0}, Case{false, 128, 0xFFFF, 0}}) {
    SCOPED_TRACE(testing::Message() << c.fat32 << " spc " << c.spc << " fat " << c.fatLength
                                    << " root " << c.rootCluster);
    Layout l = c.fat32 ? Small32() : Small16();
    FatBuilder img(l);
    img.SetFat(2, 3);
    img.SetFat(3, 2);
    img.Root({Folder("SUB", 3), File("A       TXT", 4)});
    img.Cluster(3, {Dot(3), DotDot(0), Folder("SUB2", 3), Deleted(Folder("OLD", 3))});
    Layout lie = l;
    lie.sectorsPerCluster = c.spc;
    lie.fatLength = c.fatLength;
    lie.rootCluster = c.rootCluster;
    img.BootSector(lie);
    std::string path = Write(img, "hostile" + std::to_string(n++) + ".img");
    std::unique_ptr<DiskInfo> disk = Disk(path, l);
    // At most the four entries the volume holds, each once.
    EXPECT_LE(CountNodes(Expand(*disk).fatRoot), 4u);
  }
}

// ---- deleted folders ----------------------------------------------------------

// FAT32: a deleted entry that kept its high word is read at that one cluster.
// Cluster 5 would pass every test for the same low word, and is what an
// entry with high word 0 finds.
TEST_F(FatCrafted, Fat32DeletedFolderWithHighWordIsReadAtItsStoredCluster) {
  Layout l{true, 32, 520, 1, 0};
  FatBuilder probe(l);
  l.sectors = probe.ClusterSector(0x10010);
  FatBuilder img(l);
  img.SetFat(2, kFat32Eoc);
  img.Root({Deleted(Folder("GONE", 0x20005)), Deleted(Folder("REAL", 0x10005)),
            Deleted(Folder("DECOY", 5))});
  img.Cluster(0x10005, {Dot(0x10005), DotDot(0), File("REAL    TXT", 0x10006, 3)});
  img.Cluster(5, {Dot(5), DotDot(0), File("DECOY   TXT", 6, 3)});
  std::string path = Write(img, "high_word.img");
  std::unique_ptr<DiskInfo> disk = Disk(path, l);
  VolumeTrees& trees = Expand(*disk);

  EXPECT_EQ(Names(trees.fatRoot), (NameList{"_ECOY", "_EAL"}));
  const FileEntry* real = Child(trees.fatRoot, "_EAL");
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(real->Kind(), kDeletedFolder);
  EXPECT_EQ(real->firstCluster, 0x10005u);
  EXPECT_EQ(Names(*real), NameList{"REAL.TXT"});
  const FileEntry* decoy = Child(trees.fatRoot, "_ECOY");
  ASSERT_NE(decoy, nullptr);
  EXPECT_EQ(decoy->firstCluster, 5u);
  EXPECT_EQ(Names(*decoy), NameList{"DECOY.TXT"});
}

// FAT16: the high word is not trusted; high words 0 to FAT bytes >> 17 are
// tried. With 256 FAT sectors that reaches 1, with 255 only 0.
TEST_F(FatCrafted, Fat16DeletedFolderIsFoundByTryingHighWords) {
  for (uint32_t fatLength : {256u, 255u}) {
    SCOPED_TRACE(fatLength);
    Layout l{false, 1, fatLength, 1, 0};
    FatBuilder probe(l);
    l.sectors = probe.ClusterSector(0x10010);
    FatBuilder img(l);
    img.Root({Deleted(Short("HIDDEN", 0x10, (7u << 16) | 5)), Deleted(Folder("NOWHERE", 9))});
    img.Raw(img.ClusterSector(5), "file data, not a folder");
    img.Cluster(0x10005, {Dot(0x10005), DotDot(0), File("HIDDEN  TXT", 6, 3)});
    std::string path = Write(img, "high_words" + std::to_string(fatLength) + ".img");
    std::unique_ptr<DiskInfo> disk = Disk(path, l);
    VolumeTrees& trees = Expand(*disk);
    const FileEntry* hidden = Child(trees.fatRoot, "_IDDEN");
    if (fatLength == 255) {
      EXPECT_TRUE(trees.fatRoot.children.empty());
      continue;
    }
    ASSERT_NE(hidden, nullptr);
    EXPECT_EQ(hidden->Kind(), kDeletedFolder);
    EXPECT_EQ(hidden->firstCluster, 0x10005u);
    EXPECT_EQ(Names(*hidden), NameList{"HIDDEN.TXT"});
    EXPECT_EQ(Child(trees.fatRoot, "_OWHERE"), nullptr);
  }
}

// The ".." test: a deleted folder below the root is accepted only when its
// ".." names the parent (or 0).
TEST_F(FatCrafted, DeletedFolderMustNameItsParent) {
  Layout l = Small32();
  FatBuilder img(l);
  img.SetFat(2, kFat32Eoc);
  img.SetFat(3, kFat32Eoc);
  img.Root({Folder("TOP", 3)});
  img.Cluster(3, {Dot(3), DotDot(0), Deleted(Folder("MINE", 4)), Deleted(Folder("STRAY", 5)),
                  Deleted(Folder("ORPHAN", 6))});
  img.Cluster(4, {Dot(4), DotDot(3), File("A       TXT", 10)});
  img.Cluster(5, {Dot(5), DotDot(9), File("B       TXT", 11)});
  img.Cluster(6, {Dot(6), DotDot(0), File("C       TXT", 12)});
  std::string path = Write(img, "dotdot.img");
  std::unique_ptr<DiskInfo> disk = Disk(path, l);
  VolumeTrees& trees = Expand(*disk);
  const FileEntry* top = Child(trees.fatRoot, "TOP");
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(Names(*top), (NameList{"_RPHAN", "_INE"}));
}

// A deleted folder with a long name takes its times and size from the ".."
// entry of the cluster found; a short-named one keeps its own.
TEST_F(FatCrafted, DeletedLongNamedFolderTakesDotDotTimes) {
  Layout l = Small16();
  FatBuilder img(l);
  Entry own = Short("LONGFO~1", 0x10, 3, 0, 0x4EA5, 0x43C5);
  Entry ownShort = Short("SHORTDIR", 0x10, 4, 0, 0x4EA5, 0x43C5);
  img.Root(Cat({LongNamed(u"Long folder", own, true), {Deleted(ownShort)}}));
  img.Cluster(3, {Dot(3), Short("..", 0x10, 0, 77, 0x5021, 0x6000)});
  img.Cluster(4, {Dot(4), Short("..", 0x10, 0, 77, 0x5021, 0x6000)});
  std::string path = Write(img, "times.img");
  std::unique_ptr<DiskInfo> disk = Disk(path, l);
  VolumeTrees& trees = Expand(*disk);
  const FileEntry* longOne = Child(trees.fatRoot, "Long folder");
  ASSERT_NE(longOne, nullptr);
  EXPECT_EQ(FatTimeText(longOne->createDate, longOne->createTime), "2020-01-01 12:00:00");
  EXPECT_EQ(longOne->size, 77u);
  const FileEntry* shortOne = Child(trees.fatRoot, "_HORTDIR");
  ASSERT_NE(shortOne, nullptr);
  EXPECT_EQ(FatTimeText(shortOne->createDate, shortOne->createTime), "2019-05-05 08:30:10");
  EXPECT_EQ(shortOne->size, 0u);
}

// ---- recovery walks -------------------------------------------------------------

// A recovery walk ends its buffer at an entry whose attribute it does not
// know (0x09 here); the normal walk steps over it.
TEST_F(FatCrafted, RecoveryWalkStopsAtAnUnknownAttribute) {
  Layout l = Small32();
  FatBuilder img(l);
  img.SetFat(2, kFat32Eoc);
  img.Root({File("FIRST   TXT", 10), Short("CRAFTED", 0x09, 0), File("SECOND  TXT", 11)});
  std::string path = Write(img, "label32.img");

  std::unique_ptr<DiskInfo> normal = Disk(path, l);
  EXPECT_EQ(Names(Expand(*normal).fatRoot), (NameList{"FIRST.TXT", "SECOND.TXT"}));

  std::unique_ptr<DiskInfo> recovered = Disk(path, l);
  recovered->volumes[0].origin = 1;
  recovered->dirClusterSectors = {img.ClusterSector(2)};
  VolumeTrees& trees = Expand(*recovered);
  EXPECT_EQ(trees.fatRoot.firstCluster, 2u);
  EXPECT_EQ(Names(trees.fatRoot), NameList{"FIRST.TXT"});
}

TEST_F(FatCrafted, Fat16RecoveryWalkStopsAtAnUnknownAttribute) {
  Layout l = Small16();
  FatBuilder img(l);
  img.Cluster(3, {Dot(3), DotDot(0), File("FIRST   TXT", 10), Short("CRAFTED", 0x09, 0),
                  File("SECOND  TXT", 11)});
  std::string path = Write(img, "label16.img");
  std::unique_ptr<DiskInfo> disk = Disk(path, l);
  disk->volumes[0].origin = 1;
  disk->dirClusterSectors = {img.ClusterSector(3)};
  VolumeTrees& trees = Expand(*disk);
  EXPECT_EQ(trees.fatRoot.firstCluster, 1u);
  ASSERT_EQ(Names(trees.fatRoot), NameList{"3"});
  EXPECT_EQ(Names(trees.fatRoot.children.front()), NameList{"FIRST.TXT"});
}

// A labelled root: the recovery walk steps over the label as over 0x3F and 0x40.
TEST_F(FatCrafted, RecoveryWalkStepsOverTheVolumeLabel) {
  FatBuilder img(Small32());
  img.Root({Short("LABEL", 0x08, 0), File("FIRST   TXT", 10)});
  auto disk = Disk(Write(img, "label.img"), Small32());
  disk->dirClusterSectors = {img.ClusterSector(2)};
  EXPECT_EQ(Names(Expand(*disk).fatRoot), NameList{"FIRST.TXT"});
}

// Recorded sectors of the FAT16 root area, before cluster 2, go into the root.
TEST_F(FatCrafted, RecordedFat16RootAreaIsWalkedIntoTheRoot) {
  FatBuilder img(Small16());
  img.Root({File("ROOT    TXT", 20)});
  auto disk = Disk(Write(img, "root16.img"), Small16());
  disk->dirClusterSectors = {img.RootDirSector()};
  EXPECT_EQ(Names(Expand(*disk).fatRoot), NameList{"ROOT.TXT"});
}

// Recorded directory clusters inside the volume: the root cluster is walked
// into the root, clusters that start with "." become "%d" folders appended
// under the root, others "%d" folders under the scattered folder. Sectors off
// a cluster boundary or past the volume are left out.
TEST_F(FatCrafted, RecordedClustersBecomeNumberedFolders) {
  Layout l{true, 32, 8, 2, 400};
  FatBuilder img(l);
  img.SetFat(2, kFat32Eoc);
  img.Root({File("ROOT    TXT", 20)});
  img.Cluster(3, {Dot(3), DotDot(0), File("A       TXT", 21), Deleted(File("GONE    TXT", 24))});
  img.Cluster(4, {Dot(4), DotDot(3), File("B       TXT", 22)});
  img.Cluster(6, {File("C       TXT", 23)});
  img.Cluster(150, {Dot(150), DotDot(0), File("PAST    TXT", 25)});
  std::string path = Write(img, "recorded.img");
  std::unique_ptr<DiskInfo> disk = Disk(path, l);
  VolumeInfo& v = disk->volumes[0];
  v.origin = 1;
  v.sectorCount = 200;  // cluster 150 lies past the volume
  disk->dirClusterSectors = {img.ClusterSector(2), img.ClusterSector(3), img.ClusterSector(3) + 1,
                             img.ClusterSector(4), img.ClusterSector(6), img.ClusterSector(150)};
  // Carved files at the first sectors of A.TXT and GONE.TXT: the FAT32
  // recovery walker shows only the deleted file's as its own; the disk's
  // findings keep both.
  disk->extraFound.children[img.ClusterSector(21)] = CarvedFile{};
  disk->extraFound.children[img.ClusterSector(24)] = CarvedFile{};
  VolumeTrees& trees = Expand(*disk);

  EXPECT_EQ(Names(trees.fatRoot), (NameList{"ROOT.TXT", "3", "4"}));
  const FileEntry* three = Child(trees.fatRoot, "3");
  ASSERT_NE(three, nullptr);
  EXPECT_EQ(three->Kind(), kNormalFolder);
  EXPECT_EQ(three->firstCluster, 3u);
  EXPECT_EQ(Names(*three), (NameList{"A.TXT", "_ONE.TXT"}));
  EXPECT_EQ(Names(*Child(trees.fatRoot, "4")), NameList{"B.TXT"});
  ASSERT_EQ(Names(trees.fatScattered), NameList{"6"});
  EXPECT_EQ(Names(trees.fatScattered.children.front()), NameList{"C.TXT"});
  EXPECT_EQ(FindFatEntry(trees, 3, "3", "1980-00-00 00:00:00"), three);
  EXPECT_EQ(trees.fatDeletedIndex.count(6), 1u);
  EXPECT_EQ(trees.fatNormalIndex.count(6), 0u);
  EXPECT_EQ(disk->extraFound.children.size(), 2u);
  EXPECT_EQ(trees.carvedInTree, std::set<uint64_t>{img.ClusterSector(24)});
}

TEST_F(FatCrafted, Fat16RecoveryTakesBackCarvedFilesNormalAndDeleted) {
  Layout l = Small16();
  FatBuilder img(l);
  img.Cluster(3, {Dot(3), DotDot(0), File("A       TXT", 21), Deleted(File("GONE    TXT", 24))});
  std::string path = Write(img, "carved16.img");
  std::unique_ptr<DiskInfo> disk = Disk(path, l);
  disk->volumes[0].origin = 1;
  disk->dirClusterSectors = {img.ClusterSector(3)};
  disk->extraFound.children[img.ClusterSector(21)] = CarvedFile{};
  disk->extraFound.children[img.ClusterSector(24)] = CarvedFile{};
  disk->extraFound.children[img.ClusterSector(30)] = CarvedFile{};
  VolumeTrees& trees = Expand(*disk);
  EXPECT_EQ(disk->extraFound.children.size(), 3u);
  EXPECT_EQ(trees.carvedInTree, (std::set<uint64_t>{img.ClusterSector(21), img.ClusterSector(24)}));
}

// A scanned volume (origin 1) whose recorded sectors lie outside it: every
// recorded cluster that holds a clean "." and ".." pair becomes a "%d"
// folder under the root; the root itself is not walked.
TEST_F(FatCrafted, ScannedVolumeFoldersAreNumberedUnderTheRoot) {
  for (bool fat32 : {false, true}) {
    SCOPED_TRACE(fat32 ? "FAT32" : "FAT16");
    Layout l = fat32 ? Small32() : Small16();
    FatBuilder img(l);
    img.SetFat(2, kFat32Eoc);
    if (fat32) img.Root({File("ROOT    TXT", 20)});
    Entry dirtyDotDot = DotDot(0);
    Put32(&dirtyDotDot[fat::kSize], 1);
    Entry farDotDot = DotDot(0);
    Put16(&farDotDot[fat::kClusterHigh], 1);
    img.Cluster(3, {Dot(3), DotDot(0), File("A       TXT", 21)});
    img.Cluster(4, {Dot(4), dirtyDotDot, File("B       TXT", 22)});
    img.Cluster(5, {File("C       TXT", 23)});
    img.Cluster(6, {Dot(6), DotDot(3), File("D       TXT", 24)});
    img.Cluster(7, {Dot(7), farDotDot, File("E       TXT", 25)});
    std::string path = Write(img, fat32 ? "scanned32.img" : "scanned16.img");
    std::unique_ptr<DiskInfo> disk = Disk(path, l);
    VolumeInfo& v = disk->volumes[0];
    v.origin = 1;
    v.sectorCount = 40;  // ends before the clusters: no recorded sector lies inside
    for (uint32_t cn = 2; cn <= 7; ++cn) disk->dirClusterSectors.insert(img.ClusterSector(cn));
    VolumeTrees& trees = Expand(*disk);
    // FAT16 refuses a ".." with a high word; FAT32 reads the whole cluster
    // number there, and only the size field (bytes 60-63) spoils it.
    NameList expected = fat32 ? NameList{"3", "6", "7"} : NameList{"3", "6"};
    EXPECT_EQ(Names(trees.fatRoot), expected);
    for (const FileEntry& f : trees.fatRoot.children) {
      EXPECT_EQ(f.Kind(), kNormalFolder);
      EXPECT_EQ(f.firstCluster, static_cast<uint32_t>(std::stoul(f.name)));
      EXPECT_EQ(f.children.size(), 1u) << f.name;
    }
    EXPECT_TRUE(trees.fatScattered.children.empty());
  }
}

// The recovery walkers' own rules, on a recorded folder cluster: attributes
// 0x3F and 0x40 are stepped over, a long-named folder past the FAT is left
// out, a folder naming its parent's cluster is left out, a folder whose
// cluster lacks "." and ".." (or whose "." names another cluster) is listed
// but not read, and a short-named folder past the FAT ends the buffer.
TEST_F(FatCrafted, RecoveryWalkerRules) {
  for (bool fat32 : {false, true}) {
    SCOPED_TRACE(fat32 ? "FAT32" : "FAT16");
    Layout l = fat32 ? Small32() : Small16();
    FatBuilder img(l);
    uint32_t far = fat32 ? 1024 + 5 : 4096 + 5;
    img.Cluster(
        3, Cat({{Dot(3), DotDot(0), File("A       TXT", 20), Short("SKIP40", 0x40, 0),
                 File("B       TXT", 21), Short("SKIP3F", 0x3F, 0), File("C       TXT", 22)},
                LongNamed(u"Far long folder", Folder("FARLON~1", far)),
                {Folder("SELF", 3), Folder("NODOT", 5), Folder("WRONGDOT", 6), Folder("GOOD", 7),
                 Folder("FARDIR", far), File("D       TXT", 23)}}));
    img.Cluster(5, {File("X       TXT", 30)});
    img.Cluster(6, {Dot(9), DotDot(3), File("Y       TXT", 31)});
    img.Cluster(7, {Dot(7), DotDot(3), File("G       TXT", 32)});
    img.Cluster(8, {Dot(8), DotDot(0), File("E       TXT", 24), Short("STOP41", 0x41, 0),
                    File("F       TXT", 25)});
    img.Cluster(9, {Dot(9), DotDot(0), Deleted(File("GG      TXT", 26)),
                    Deleted(Short("BADATTR", 0x37, 0)), Deleted(File("HH      TXT", 27))});
    std::string path = Write(img, fat32 ? "rules32.img" : "rules16.img");
    std::unique_ptr<DiskInfo> disk = Disk(path, l);
    disk->volumes[0].origin = 1;
    disk->dirClusterSectors = {img.ClusterSector(3), img.ClusterSector(8), img.ClusterSector(9)};
    VolumeTrees& trees = Expand(*disk);

    const FileEntry* three = Child(trees.fatRoot, "3");
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(Names(*three),
              (NameList{"FARDIR", "GOOD", "WRONGDOT", "NODOT", "A.TXT", "B.TXT", "C.TXT"}));
    EXPECT_EQ(Names(*Child(*three, "GOOD")), NameList{"G.TXT"});
    EXPECT_TRUE(Child(*three, "NODOT")->children.empty());
    EXPECT_TRUE(Child(*three, "WRONGDOT")->children.empty());
    const FileEntry* eight = Child(trees.fatRoot, "8");
    ASSERT_NE(eight, nullptr);
    EXPECT_EQ(Names(*eight), NameList{"E.TXT"});
    const FileEntry* nine = Child(trees.fatRoot, "9");
    ASSERT_NE(nine, nullptr);
    EXPECT_EQ(Names(*nine), NameList{"_G.TXT"});
  }
}

// A long name with a character CP936 lacks: the entry stays, under its
// short name, normal or deleted, file or folder.
TEST_F(FatCrafted, LongNameOutsideCp936KeepsTheShortName) {
  Layout l = Small16();
  FatBuilder img(l);
  img.SetFat(3, 0xFFFF);
  img.Root(Cat({LongNamed(u"\u0E01 folder", Folder("FOLDER~1", 3)),
                LongNamed(u"Thai \u0E01.txt", File("THAI~1  TXT", 5, 7), true),
                LongNamed(u"\u0E02.txt", File("FILE~1  TXT", 6, 8))}));
  // 0x05 in byte 0 stands for a name's real first byte 0xE5.
  img.Cluster(3, {Dot(3), DotDot(0), File("INSIDE  TXT", 10),
                  File("\x05"
                       "B8     TXT",
                       11)});
  std::string path = Write(img, "thai.img");
  std::unique_ptr<DiskInfo> disk = Disk(path, l);
  VolumeTrees& trees = Expand(*disk);
  EXPECT_EQ(Names(trees.fatRoot), (NameList{"FOLDER~1", "_HAI~1.TXT", "FILE~1.TXT"}));
  const FileEntry* folder = Child(trees.fatRoot, "FOLDER~1");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->Kind(), kNormalFolder);
  EXPECT_EQ(Names(*folder), (NameList{"INSIDE.TXT",
                                      "\xE5"
                                      "B8.TXT"}));
  EXPECT_EQ(Child(trees.fatRoot, "_HAI~1.TXT")->Kind(), kDeletedFile);
}

// A volume that the deep scan rebuilt (origin 1) has no boot sector; the
// scan set its FAT length, cluster size and cluster base. With those known
// no search is made, and the recorded clusters are walked with the
// volume's own numbers.
TEST_F(FatCrafted, RebuiltVolumeWithoutBootSectorWalksRecordedFolders) {
  for (bool fat32 : {false, true}) {
    SCOPED_TRACE(fat32 ? "FAT32" : "FAT16");
    Layout l = fat32 ? Small32() : Small16();
    FatBuilder img(l);
    img.EraseBootSector();
    img.Cluster(3, {Dot(3), DotDot(0), File("A       TXT", 20), Folder("SUB", 4)});
    img.Cluster(4, {Dot(4), DotDot(3), File("B       TXT", 21)});
    std::string path = Write(img, fat32 ? "rebuilt32.img" : "rebuilt16.img");
    std::unique_ptr<DiskInfo> disk = Disk(path, l);
    VolumeInfo& v = disk->volumes[0];
    v.origin = 1;
    v.fatSectors = l.fatLength;
    v.sectorsPerCluster = l.sectorsPerCluster;
    v.clusterBase = img.ClusterBase();
    disk->dirClusterSectors = {img.ClusterSector(3), img.ClusterSector(4)};
    VolumeTrees& trees = Expand(*disk);
    ASSERT_EQ(Names(trees.fatRoot), NameList{"3"});
    const FileEntry& three = trees.fatRoot.children.front();
    EXPECT_EQ(Names(three), (NameList{"SUB", "A.TXT"}));
    const FileEntry* sub = Child(three, "SUB");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(Names(*sub), NameList{"B.TXT"});
  }
}

// FAT32 boot sector gone: the first FAT is found at sector 32, the second
// 2100 sectors on (in the search's second block), and 8 sectors per cluster
// from the first folder after the root.
TEST_F(FatCrafted, DestroyedFat32BootSectorIsFoundBySearch) {
  Layout l{true, 32, 2100, 8, 0};
  FatBuilder probe(l);
  l.sectors = probe.ClusterSector(12);
  FatBuilder img(l);
  img.EraseBootSector();
  img.SetFat(2, kFat32Eoc);
  img.SetFat(3, kFat32Eoc);
  img.Root({Folder("SUB", 3), File("ROOT    TXT", 5)});
  img.Cluster(3, {Dot(3), DotDot(0), File("INNER   TXT", 6)});
  std::string path = Write(img, "lost_boot32.img");

  std::unique_ptr<DiskInfo> probeDisk = Disk(path, l);
  VolumeInfo& pv = probeDisk->volumes[0];
  VolumeReader reader(*probeDisk, pv);
  ASSERT_TRUE(reader.Open());
  FatGeometry geo;
  ASSERT_TRUE(FindFat32Geometry(reader, pv, &geo));
  EXPECT_EQ(geo.reservedSectors, 32u);
  EXPECT_EQ(geo.fatLength, 2100u);
  EXPECT_EQ(geo.fatCount, 2u);
  EXPECT_EQ(geo.rootCluster, 2u);
  EXPECT_EQ(geo.sectorsPerCluster, 8u);
  EXPECT_EQ(pv.fatSectors, 2100u);

  std::unique_ptr<DiskInfo> disk = Disk(path, l);
  VolumeTrees& trees = Expand(*disk);
  EXPECT_EQ(disk->volumes[0].clusterBase, 32u + 4200 - 16);
  EXPECT_EQ(Names(trees.fatRoot), (NameList{"SUB", "ROOT.TXT"}));
  const FileEntry* sub = Child(trees.fatRoot, "SUB");
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(Names(*sub), NameList{"INNER.TXT"});
}

// ---- two nodes, one cluster -----------------------------------------------------

// A live folder reusing the first cluster of a deleted one keeps its files.
TEST_F(FatCrafted, LiveFolderKeepsTheClusterItsDeletedTwinHad) {
  FatBuilder img(Small16());
  img.Root({Deleted(Folder("OLD", 3)), Folder("NEW", 3)});
  img.Cluster(3, {Dot(3), DotDot(0), File("IN      TXT", 10)});
  auto disk = Disk(Write(img, "twin.img"), Small16());
  const FileEntry* live = Child(Expand(*disk).fatRoot, "NEW");
  EXPECT_TRUE(live && Names(*live) == NameList{"IN.TXT"});
}

// Only a deleted one-letter folder, which lost its letter, is shown as "?".
TEST_F(FatCrafted, OneLetterFolderKeepsItsLetter) {
  FatBuilder img(Small16());
  img.Root({Folder("A", 3), Deleted(Folder("B", 4))});
  img.Cluster(4, {Dot(4), DotDot(0)});
  auto disk = Disk(Write(img, "one_letter.img"), Small16());
  EXPECT_EQ(Names(Expand(*disk).fatRoot), (NameList{"?", "A"}));
}

TEST_F(FatCrafted, SameFirstClusterToldApartByNameAndTime) {
  Layout l = Small32();
  FatBuilder img(l);
  img.SetFat(2, kFat32Eoc);
  Entry now = Short("REPORT  TXT", 0x20, 5, 100, 0x5021, 0x6000);
  Entry before = Short("REPORT~1TXT", 0x20, 5, 200, 0x4EA5, 0x43C5);
  img.Root(Cat(
      {LongNamed(u"report.txt", now), LongNamed(u"report.txt", before, true), {Deleted(before)}}));
  std::string path = Write(img, "same_cluster.img");
  std::unique_ptr<DiskInfo> disk = Disk(path, l);
  VolumeTrees& trees = Expand(*disk);
  ASSERT_EQ(trees.fatRoot.children.size(), 3u);
  const FileEntry* normal = FindFatEntry(trees, 5, "report.txt", "2020-01-01 12:00:00");
  ASSERT_NE(normal, nullptr);
  EXPECT_EQ(normal->Kind(), kNormalFile);
  EXPECT_EQ(normal->size, 100u);
  const FileEntry* deleted = FindFatEntry(trees, 5, "report.txt", "2019-05-05 08:30:10");
  ASSERT_NE(deleted, nullptr);
  EXPECT_EQ(deleted->Kind(), kDeletedFile);
  EXPECT_EQ(deleted->size, 200u);
  const FileEntry* shortOnly = FindFatEntry(trees, 5, "_EPORT~1.TXT", "2019-05-05 08:30:10");
  ASSERT_NE(shortOnly, nullptr);
  EXPECT_NE(shortOnly, deleted);
  EXPECT_EQ(FindFatEntry(trees, 5, "report.txt", "2019-05-05 08:30:12"), nullptr);
}

// ---- loop guards ----------------------------------------------------------------

class FatCraftedLoops : public FatCrafted, public ::testing::WithParamInterface<bool> {
 protected:
  bool fat32() const { return GetParam(); }
  Layout Small() const { return fat32() ? Small32() : Small16(); }
  uint32_t End() const { return fat32() ? kFat32Eoc : 0xFFFF; }
  uint32_t RootCluster() const { return fat32() ? 2 : 0; }
};

TEST_P(FatCraftedLoops, FatChainThatLoopsEnds) {
  FatBuilder img(Small());
  img.SetFat(2, End());
  img.SetFat(3, 4);
  img.SetFat(4, 3);
  img.SetFat(5, 5);
  img.Root({Folder("LOOP", 3), Folder("SELF", 5)});
  img.Cluster(3, {Dot(3), DotDot(0), File("A       TXT", 10)});
  img.Cluster(4, {File("B       TXT", 11)});
  img.Cluster(5, {Dot(5), DotDot(0), File("C       TXT", 12)});
  std::string path = Write(img, "chain_loop.img");
  std::unique_ptr<DiskInfo> disk = Disk(path, Small());
  VolumeTrees& trees = Expand(*disk);
  const FileEntry* loop = Child(trees.fatRoot, "LOOP");
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(Names(*loop), (NameList{"A.TXT", "B.TXT"}));
  const FileEntry* self = Child(trees.fatRoot, "SELF");
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(Names(*self), NameList{"C.TXT"});
}

TEST_F(FatCrafted, Fat32RootChainThatLoopsEnds) {
  FatBuilder img(Small32());
  img.SetFat(2, 3);
  img.SetFat(3, 2);
  img.Cluster(2, {File("R1      TXT", 10)});
  img.Cluster(3, {File("R2      TXT", 11)});
  std::string path = Write(img, "root_loop.img");
  std::unique_ptr<DiskInfo> disk = Disk(path, Small32());
  VolumeTrees& trees = Expand(*disk);
  EXPECT_EQ(Names(trees.fatRoot), (NameList{"R1.TXT", "R2.TXT"}));
}

// /ANC/BELOW lists ANC again, as a normal folder and as a deleted one.
TEST_P(FatCraftedLoops, FolderListingItsAncestorEnds) {
  for (bool recovery : {false, true}) {
    SCOPED_TRACE(recovery ? "recovery walk" : "normal walk");
    FatBuilder img(Small());
    img.SetFat(2, End());
    img.SetFat(3, End());
    img.SetFat(4, End());
    img.Root({Folder("ANC", 3)});
    img.Cluster(3, {Dot(3), DotDot(0), Folder("BELOW", 4)});
    img.Cluster(4, Cat({{Dot(4), DotDot(3), Folder("UP", 3), Deleted(Folder("BACK", 3))},
                        LongNamed(u"Back again", Folder("BACKAG~1", 3), true)}));
    std::string path = Write(img, recovery ? "ancestor_rec.img" : "ancestor.img");
    std::unique_ptr<DiskInfo> disk = Disk(path, Small());
    if (recovery) {
      disk->volumes[0].origin = 1;
      disk->dirClusterSectors = {img.ClusterSector(3), img.ClusterSector(4)};
    }
    VolumeTrees& trees = Expand(*disk);
    const FileEntry* a = Child(trees.fatRoot, recovery ? "3" : "ANC");
    ASSERT_NE(a, nullptr);
    const FileEntry* b = Child(*a, "BELOW");
    ASSERT_NE(b, nullptr);
    const FileEntry* up = Child(*b, "UP");
    ASSERT_NE(up, nullptr);
    EXPECT_TRUE(up->children.empty());
    for (const FileEntry& c : b->children) EXPECT_TRUE(c.children.empty()) << c.name;
  }
}

// A run whose count (0x7F: 63 parts) reaches past the directory names
// nothing, and neither does a deleted run that reaches the end; the entries
// before them stay.
TEST_P(FatCraftedLoops, LongNameRunPastTheBufferNamesNothing) {
  FatBuilder img(Small());
  img.SetFat(2, End());
  img.SetFat(3, End());
  img.SetFat(4, End());
  std::vector<Entry> run = LongNamed(u"BAD", File("BAD     TXT", 12));
  run.front()[0] = 0x7F;
  std::vector<Entry> gone = LongNamed(u"GONE", File("GONE    TXT", 13), true);
  gone.pop_back();

  // The first directory: FAT32 one cluster of 16 entries, FAT16 the
  // 512-entry root. The run starts four entries before its end.
  size_t slots = fat32() ? 16 : 512;
  std::vector<Entry> first(slots, Entry{});
  size_t at = 0;
  if (fat32()) {
    first[at++] = Dot(3);
    first[at++] = DotDot(0);
  }
  first[at++] = File("KEEP    TXT", 10);
  if (!fat32()) first[at++] = Folder("DIR2", 4);
  std::copy(run.begin(), run.end(), first.end() - 4);
  if (fat32()) {
    img.Root({Folder("DIR", 3), Folder("DIR2", 4)});
    img.Cluster(3, first);
  } else {
    img.Entries(img.RootDirSector(), first);
  }
  std::vector<Entry> second(16, Entry{});
  second[0] = Dot(4);
  second[1] = DotDot(0);
  std::copy(gone.begin(), gone.end(), second.end() - static_cast<long>(gone.size()));
  img.Cluster(4, second);

  std::string path = Write(img, "lfn_past.img");
  std::unique_ptr<DiskInfo> disk = Disk(path, Small());
  VolumeTrees& trees = Expand(*disk);
  const FileEntry* holder = fat32() ? Child(trees.fatRoot, "DIR") : &trees.fatRoot;
  ASSERT_NE(holder, nullptr);
  EXPECT_NE(Child(*holder, "KEEP.TXT"), nullptr);
  for (const FileEntry& c : holder->children)
    EXPECT_EQ(c.name.find("BAD"), std::string::npos) << c.name;
  const FileEntry* dir2 = Child(trees.fatRoot, "DIR2");
  ASSERT_NE(dir2, nullptr);
  EXPECT_TRUE(dir2->children.empty());
}

size_t NestingDepth(const FileEntry& folder) {
  size_t deepest = 0;
  for (const FileEntry& c : folder.children) deepest = std::max(deepest, 1 + NestingDepth(c));
  return deepest;
}

// 140 folders each inside the one before: the walk reads 130 levels below
// the root and lists the folders there, without going into them.
TEST_P(FatCraftedLoops, NestingDeeperThanTheBoundEnds) {
  for (bool deleted : {false, true}) {
    SCOPED_TRACE(deleted ? "deleted folders" : "normal folders");
    FatBuilder img(Small());
    img.SetFat(2, End());
    constexpr uint32_t kLevels = 140;
    auto name = [](uint32_t i) { return "D" + std::to_string(1000 + i).substr(1); };
    uint32_t first = 3;
    auto link = [&](uint32_t cn) {
      Entry e = Folder(name(cn - first + 1), cn);
      return deleted ? Deleted(e) : e;
    };
    img.Root({link(first)});
    for (uint32_t cn = first; cn < first + kLevels; ++cn) {
      img.SetFat(cn, End());
      std::vector<Entry> entries = {Dot(cn), DotDot(cn == first ? 0 : cn - 1)};
      if (cn + 1 < first + kLevels) entries.push_back(link(cn + 1));
      img.Cluster(cn, entries);
    }
    std::string path = Write(img, deleted ? "deep_deleted.img" : "deep.img");
    std::unique_ptr<DiskInfo> disk = Disk(path, Small());
    VolumeTrees& trees = Expand(*disk);
    EXPECT_EQ(NestingDepth(trees.fatRoot), 131u);
  }
}

INSTANTIATE_TEST_SUITE_P(FatTypes, FatCraftedLoops, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Fat32" : "Fat16"; });

// FAT16 chain values 0xFFF7 (bad cluster) and 0xFFF8-0xFFFF (end) all end a
// folder's chain; 0xFFF7 and above are never read as clusters.
TEST_F(FatCrafted, Fat16ChainEndsAtAnyMarkerFromFFF7) {
  for (uint32_t next : {4u, 0xFFF7u, 0xFFF8u, 0xFFFEu}) {
    SCOPED_TRACE(next);
    Layout l{false, 1, 256, 1, 0};
    FatBuilder probe(l);
    l.sectors = probe.ClusterSector(0x10000);
    FatBuilder img(l);
    img.SetFat(3, next);
    img.SetFat(4, 0xFFFF);
    img.Root({Folder("DIR", 3)});
    img.Cluster(3, {Dot(3), DotDot(0), File("IN      TXT", 10)});
    img.Cluster(4, {File("NEXT    TXT", 11)});
    for (uint32_t cn : {0xFFF7u, 0xFFF8u, 0xFFFEu}) img.Cluster(cn, {File("BOGUS   TXT", 12)});
    std::string path = Write(img, "chain_end_" + std::to_string(next) + ".img");
    std::unique_ptr<DiskInfo> disk = Disk(path, l);
    VolumeTrees& trees = Expand(*disk);
    const FileEntry* dir = Child(trees.fatRoot, "DIR");
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(Names(*dir), next == 4 ? (NameList{"IN.TXT", "NEXT.TXT"}) : NameList{"IN.TXT"});
  }
}

}  // namespace
}  // namespace brevid
