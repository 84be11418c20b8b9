// The FAT walk on volumes that mkfs.fat and mtools made (fat16_files.img,
// fat32_files.img; tools/README.md lists what each holds), checked against
// what was put in and against The Sleuth Kit's fls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include "common/endian.h"
#include "common/text.h"
#include "format/fat_layout.h"
#include "fs/fat_volume.h"
#include "partition/partition_walk.h"
#include "platform/codepage.h"
#include "support/file_hash.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

constexpr uint64_t kPartitionStart = 2048;

std::unique_ptr<DiskInfo> WalkImage(const std::string& path) {
  auto disk = std::make_unique<DiskInfo>();
  disk->path = path;
  SourceHandle handle = SourceHandle::Open(path);
  EXPECT_TRUE(handle.IsOpen()) << path;
  disk->sizeBytes = handle.Size();
  WalkPartitions(*disk, handle, path);
  return disk;
}

std::unique_ptr<DiskInfo> ExpandImage(const std::string& path, ProgressRecord& progress) {
  std::unique_ptr<DiskInfo> disk = WalkImage(path);
  if (!disk->volumes.empty()) ExpandFatVolume(*disk, disk->volumes[0], progress);
  return disk;
}

std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset, size_t size) {
  std::vector<uint8_t> bytes(size);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return {};
  if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0 ||
      std::fread(bytes.data(), 1, size, f) != size)
    bytes.clear();
  std::fclose(f);
  return bytes;
}

const FileEntry* Child(const FileEntry& folder, const std::string& ansiName) {
  for (const FileEntry& c : folder.children)
    if (c.name == ansiName) return &c;
  return nullptr;
}

const FileEntry* At(const FileEntry& root, const std::vector<std::string>& ansiPath) {
  const FileEntry* node = &root;
  for (const std::string& name : ansiPath) {
    node = Child(*node, name);
    if (!node) return nullptr;
  }
  return node;
}

std::string Join(const std::vector<std::string>& ansiPath) {
  std::string s;
  for (const std::string& n : ansiPath) s += "/" + n;
  return s;
}

template <typename F>
void ForEachNode(const FileEntry& folder, const std::string& path, F&& f) {
  for (const FileEntry& c : folder.children) {
    std::string p = path + "/" + c.name;
    f(c, p);
    ForEachNode(c, p, f);
  }
}

// What tools/make_fixtures.sh put into both volumes: the tree path (CP936,
// as the walk names it), the path mcopy wrote (UTF-8, which every line of
// the file names), the line count and the kind the walk must give it.
struct Put {
  std::vector<std::string> path;
  std::string source;
  int lines;
  uint8_t kind;
};

std::string Del(const std::string& rest) { return "_" + rest; }

std::vector<Put> FilesPut() {
  std::vector<Put> puts = {
      {{"README.TXT"}, "/README.TXT", 20, kNormalFile},
      {{"Long file name.txt"}, "/Long file name.txt", 60, kNormalFile},
      {{Ansi("报告.txt")}, "/报告.txt", 100, kNormalFile},
      // Its long name holds a character CP936 lacks: kept under its short name.
      {{"THAI_N~1.TXT"}, "/Thai ก name.txt", 10, kNormalFile},
      // mtools stores an all-lower-case 8.3 name short, with case bits we do not apply.
      {{"LOWER.TXT"}, "/lower.txt", 5, kNormalFile},
      {{"empty long name.txt"}, "/empty long name.txt", 0, kNormalFile},
      {{"Docs", "INDEX.TXT"}, "/Docs/INDEX.TXT", 10, kNormalFile},
      {{"Docs", "Level2", "Level3", "Level4", "deep file.txt"},
       "/Docs/Level2/Level3/Level4/deep file.txt",
       15,
       kNormalFile},
      {{"Docs", "Level2", Del("LD.TXT")}, "/Docs/Level2/OLD.TXT", 30, kDeletedFile},
      {{Ansi("中文目录"), Ansi("文件一.txt")}, "/中文目录/文件一.txt", 12, kNormalFile},
      {{"A       B", "INSIDE.TXT"}, "/A.B/INSIDE.TXT", 8, kNormalFile},
      {{"Trash", Del("RASH1.TXT")}, "/Trash/TRASH1.TXT", 10, kDeletedFile},
      {{"Trash", "trash long file.txt"}, "/Trash/trash long file.txt", 20, kDeletedFile},
      {{"Trash", Del("UB"), Del("NNER.TXT")}, "/Trash/SUB/INNER.TXT", 5, kDeletedFile},
      {{"Old long folder", "kept inside.txt"},
       "/Old long folder/kept inside.txt",
       10,
       kDeletedFile},
      {{"Old long folder", "Inner folder", "deep deleted.txt"},
       "/Old long folder/Inner folder/deep deleted.txt",
       10,
       kDeletedFile},
      // Extension bytes are kept as stored, spaces included.
      {{Del("AIN.C  ")}, "/MAIN.C", 25, kDeletedFile},
      {{"Deleted long name.txt"}, "/Deleted long name.txt", 40, kDeletedFile},
      {{Ansi("已删除.txt")}, "/已删除.txt", 30, kDeletedFile},
      {{Del("ERO.DEL")}, "/ZERO.DEL", 0, kDeletedFile},
      {{"zero long deleted.txt"}, "/zero long deleted.txt", 0, kDeletedFile},
  };
  for (int i = 1; i <= 40; ++i) {
    std::string name = Format("long entry name number %02d.txt", i);
    puts.push_back({{"Many", name}, "/Many/" + name, 1, kNormalFile});
  }
  return puts;
}

std::vector<std::pair<std::vector<std::string>, uint8_t>> FoldersMade() {
  return {
      {{"Docs"}, kNormalFolder},
      {{"Docs", "Level2"}, kNormalFolder},
      {{"Docs", "Level2", "Level3"}, kNormalFolder},
      {{"Docs", "Level2", "Level3", "Level4"}, kNormalFolder},
      {{Ansi("中文目录")}, kNormalFolder},
      // Base A, extension B: eleven bytes with the spaces, no dot.
      {{"A       B"}, kNormalFolder},
      {{"Many"}, kNormalFolder},
      {{"Trash"}, kDeletedFolder},
      {{"Trash", Del("UB")}, kDeletedFolder},
      {{"Old long folder"}, kDeletedFolder},
      {{"Old long folder", "Inner folder"}, kDeletedFolder},
  };
}

struct FixtureCase {
  const char* image;
  FsType fsType;
  uint32_t rootCluster;
};

class FatFixtureWalk : public ::testing::TestWithParam<FixtureCase> {
 protected:
  void SetUp() override {
    path_ = test::FixturePath(GetParam().image);
    hashBefore_ = test::Sha256OfFile(path_);
    ASSERT_FALSE(hashBefore_.empty()) << path_;
    disk_ = ExpandImage(path_, progress_);
    ASSERT_EQ(disk_->volumes.size(), 1u);
    ASSERT_EQ(disk_->volumes[0].fsType, GetParam().fsType);
    ASSERT_TRUE(volume().trees);
  }
  void TearDown() override {
    EXPECT_EQ(test::Sha256OfFile(path_), hashBefore_) << "source written";
  }

  VolumeInfo& volume() { return disk_->volumes[0]; }
  VolumeTrees& trees() { return *volume().trees; }
  uint64_t ClusterByte(uint32_t cn) {
    return (uint64_t{cn} * volume().sectorsPerCluster + volume().clusterBase) * 512;
  }

  std::string path_;
  std::string hashBefore_;
  ProgressRecord progress_;
  std::unique_ptr<DiskInfo> disk_;
};

TEST_P(FatFixtureWalk, EveryFileAppearsWithKindSizeAndFirstCluster) {
  for (const Put& put : FilesPut()) {
    SCOPED_TRACE(put.source);
    const FileEntry* e = At(trees().fatRoot, put.path);
    ASSERT_NE(e, nullptr) << Join(put.path);
    EXPECT_EQ(e->Kind(), put.kind);
    std::string firstLine = Format("fat:%s line 0001 of %04d\n", put.source.c_str(), put.lines);
    EXPECT_EQ(e->size, put.lines * (firstLine.size()));
    EXPECT_EQ(FatTimeText(e->writeDate, e->writeTime), "2020-01-01 12:00:00");
    if (put.lines == 0) {
      EXPECT_EQ(e->firstCluster, 0u);
      continue;
    }
    // Nothing was written after the deletions, so deleted files' clusters
    // still hold their content.
    std::vector<uint8_t> head = ReadBytes(path_, ClusterByte(e->firstCluster), firstLine.size());
    EXPECT_EQ(std::string(head.begin(), head.end()), firstLine) << "cluster " << e->firstCluster;
  }
}

TEST_P(FatFixtureWalk, FoldersAreFoundAtTheirOwnClusters) {
  EXPECT_EQ(trees().fatRoot.firstCluster, GetParam().rootCluster);
  for (const auto& [path, kind] : FoldersMade()) {
    SCOPED_TRACE(Join(path));
    const FileEntry* e = At(trees().fatRoot, path);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Kind(), kind);
    EXPECT_EQ(e->size, 0u);
    std::vector<uint8_t> dot = ReadBytes(path_, ClusterByte(e->firstCluster), 64);
    ASSERT_EQ(dot.size(), 64u);
    EXPECT_EQ(dot[0], '.');
    uint32_t self =
        (uint32_t{LoadLe16(dot, fat::kClusterHigh)} << 16) | LoadLe16(dot, fat::kClusterLow);
    EXPECT_EQ(self, e->firstCluster);
  }
}

// Nothing more than what was put in: the tree's paths are exactly the
// files and folders above (EMPTY.DAT is the one file left out).
TEST_P(FatFixtureWalk, TreeHoldsExactlyWhatWasPutIn) {
  std::multiset<std::string> expected, found;
  for (const Put& put : FilesPut()) expected.insert(Join(put.path));
  for (const auto& folder : FoldersMade()) expected.insert(Join(folder.first));
  ForEachNode(trees().fatRoot, "",
              [&](const FileEntry&, const std::string& p) { found.insert(p); });
  EXPECT_EQ(found, expected);
  EXPECT_TRUE(trees().fatScattered.children.empty());
}

TEST_P(FatFixtureWalk, ZeroLengthFiles) {
  // Short name only, both cluster words 0: the normal walker skips it.
  EXPECT_EQ(Child(trees().fatRoot, "EMPTY.DAT"), nullptr);
  // With a long name the cluster test is not made.
  const FileEntry* longEmpty = Child(trees().fatRoot, "empty long name.txt");
  ASSERT_NE(longEmpty, nullptr);
  EXPECT_EQ(longEmpty->Kind(), kNormalFile);
  for (const char* name : {"_ERO.DEL", "zero long deleted.txt"}) {
    const FileEntry* e = Child(trees().fatRoot, name);
    ASSERT_NE(e, nullptr) << name;
    EXPECT_EQ(e->Kind(), kDeletedFile);
    EXPECT_EQ(e->size, 0u);
    EXPECT_EQ(e->firstCluster, 0u);
  }
}

TEST_P(FatFixtureWalk, DeletedShortNamesShowTheirMarkAsAnUnderscore) {
  const FileEntry* mainC = Child(trees().fatRoot, std::string("_AIN.C  "));
  ASSERT_NE(mainC, nullptr);
  EXPECT_EQ(mainC->name.size(), 8u);
  EXPECT_EQ(mainC->name[0], '_');
  ForEachNode(trees().fatRoot, "", [&](const FileEntry& e, const std::string& p) {
    if (!IsDeletedKind(e.Kind())) {
      EXPECT_NE(static_cast<uint8_t>(e.name[0]), 0xE5) << p;
    }
  });
}

TEST_P(FatFixtureWalk, NameWithCharacterOutsideCp936KeepsShortName) {
  const FileEntry* thai = Child(trees().fatRoot, "THAI_N~1.TXT");
  ASSERT_NE(thai, nullptr);
  EXPECT_EQ(thai->Kind(), kNormalFile);
  ForEachNode(trees().fatRoot, "", [](const FileEntry& e, const std::string& p) {
    EXPECT_EQ(e.name.find('?'), std::string::npos) << p;
  });
}

// /Many holds 40 names of four entries each; with 16 entries a cluster the
// runs at entries 14-17, 30-33, ... straddle two clusters.
TEST_P(FatFixtureWalk, LongNamesCrossingClusterBoundariesStayWhole) {
  const FileEntry* many = Child(trees().fatRoot, "Many");
  ASSERT_NE(many, nullptr);
  ASSERT_EQ(volume().sectorsPerCluster, 1u);
  // The fixture really splits a run: the first cluster ends inside one and
  // the next cluster of the chain goes on with it.
  std::vector<uint8_t> first = ReadBytes(path_, ClusterByte(many->firstCluster), 512);
  ASSERT_EQ(first.size(), 512u);
  EXPECT_EQ(first[15 * 32 + fat::kAttributes], fat::kLongNameAttribute);
  const std::vector<uint8_t>& table = trees().fatTable;
  uint32_t next = GetParam().fsType == kFsFat16
                      ? LoadLe16(table, many->firstCluster * 2)
                      : LoadLe32(table, many->firstCluster * 4) & 0x0FFFFFFF;
  std::vector<uint8_t> second = ReadBytes(path_, ClusterByte(next), 32);
  ASSERT_EQ(second.size(), 32u);
  EXPECT_EQ(second[fat::kAttributes], fat::kLongNameAttribute);

  std::vector<std::string> names;
  for (const FileEntry& c : many->children) names.push_back(c.name);
  std::vector<std::string> expected;
  for (int i = 1; i <= 40; ++i) expected.push_back(Format("long entry name number %02d.txt", i));
  EXPECT_EQ(names, expected);
}

TEST_P(FatFixtureWalk, FoldersFirstNewestOnTopThenFilesInOrderFound) {
  std::vector<std::string> names;
  for (const FileEntry& c : trees().fatRoot.children) names.push_back(c.name);
  std::vector<std::string> expected = {"Old long folder",
                                       "Trash",
                                       "Many",
                                       "A       B",
                                       Ansi("中文目录"),
                                       "Docs",
                                       "README.TXT",
                                       "Long file name.txt",
                                       Ansi("报告.txt"),
                                       "THAI_N~1.TXT",
                                       "LOWER.TXT",
                                       "empty long name.txt",
                                       Del("AIN.C  "),
                                       "Deleted long name.txt",
                                       Ansi("已删除.txt"),
                                       Del("ERO.DEL"),
                                       "zero long deleted.txt"};
  EXPECT_EQ(names, expected);
}

TEST_P(FatFixtureWalk, EveryNodeIsIndexedAndFoundAgain) {
  IndexFatNodes(trees());
  ForEachNode(trees().fatRoot, "", [&](const FileEntry& e, const std::string& p) {
    const auto& index = IsDeletedKind(e.Kind()) ? trees().fatDeletedIndex : trees().fatNormalIndex;
    auto [lo, hi] = index.equal_range(e.firstCluster);
    EXPECT_EQ(std::count_if(lo, hi, [&](const auto& kv) { return kv.second == &e; }), 1) << p;
    auto [nlo, nhi] = NameIndexOf(trees()).equal_range(e.name);
    EXPECT_EQ(std::count_if(nlo, nhi,
                            [&](const auto& kv) { return std::get<FileEntry*>(kv.second) == &e; }),
              1)
        << p;
    EXPECT_EQ(
        FindFatEntry(trees(), e.firstCluster, e.name, FatTimeText(e.createDate, e.createTime)), &e)
        << p;
  });
  EXPECT_FALSE(trees().fatTable.empty());
}

TEST_P(FatFixtureWalk, ParentPointersLeadBackToTheRoot) {
  ForEachNode(trees().fatRoot, "", [&](const FileEntry& e, const std::string& p) {
    const FileEntry* up = &e;
    int steps = 0;
    while (up->parent && steps < 10) {
      EXPECT_NE(std::find_if(up->parent->children.begin(), up->parent->children.end(),
                             [&](const FileEntry& c) { return &c == up; }),
                up->parent->children.end())
          << p;
      up = up->parent;
      ++steps;
    }
    EXPECT_EQ(up, &trees().fatRoot) << p;
  });
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FatFixtureWalk,
                         ::testing::Values(FixtureCase{"fat16_files.img", kFsFat16, 0},
                                           FixtureCase{"fat32_files.img", kFsFat32, 2}),
                         [](const auto& info) {
                           return info.param.fsType == kFsFat16 ? "Fat16" : "Fat32";
                         });

class Recorder : public ProgressTarget {
 public:
  explicit Recorder(ProgressRecord& record, size_t stopAfterSteps)
      : record_(record), stopAfter_(stopAfterSteps) {}
  void Send(uint32_t m, uint64_t w, uint64_t l) override { Note(m, w, l, true); }
  void Post(uint32_t m, uint64_t w, uint64_t l) override { Note(m, w, l, false); }
  struct Message {
    uint32_t message;
    uint64_t wParam, lParam;
    bool sent;
  };
  std::vector<Message> messages;
  size_t steps = 0;

 private:
  void Note(uint32_t m, uint64_t w, uint64_t l, bool sent) {
    messages.push_back({m, w, l, sent});
    if (m == kProgressStep && ++steps >= stopAfter_) record_.stop = 1;
  }
  ProgressRecord& record_;
  size_t stopAfter_;
};

size_t CountNodes(const FileEntry& folder) {
  size_t n = folder.children.size();
  for (const FileEntry& c : folder.children) n += CountNodes(c);
  return n;
}

// The range message first, one step per folder, FAT32 sent and FAT16 posted;
// a stop request ends the walk at the next step.
TEST(FatWalkProgress, RangeThenStepsAndAStopEndsTheWalk) {
  for (bool fat32 : {false, true}) {
    SCOPED_TRACE(fat32 ? "FAT32" : "FAT16");
    std::string path = test::FixturePath(fat32 ? "fat32_files.img" : "fat16_files.img");
    ProgressRecord full;
    Recorder all(full, SIZE_MAX);
    full.window = &all;
    std::unique_ptr<DiskInfo> whole = ExpandImage(path, full);
    ASSERT_FALSE(all.messages.empty());
    const VolumeInfo& v = whole->volumes[0];
    EXPECT_EQ(all.messages[0].message, kProgressSetRange);
    EXPECT_EQ(all.messages[0].wParam, fat32 ? uint64_t{v.fatSectors} * 512 / 4 : v.fatSectors / 2);
    EXPECT_EQ(all.messages[0].lParam, 1u);
    for (size_t i = 1; i < all.messages.size(); ++i) {
      EXPECT_EQ(all.messages[i].message, kProgressStep);
      EXPECT_EQ(all.messages[i].sent, fat32);
    }
    EXPECT_GE(all.steps, 11u);  // at least one per folder

    ProgressRecord stopped;
    Recorder few(stopped, 2);
    stopped.window = &few;
    std::unique_ptr<DiskInfo> part = ExpandImage(path, stopped);
    EXPECT_EQ(few.steps, 2u);
    EXPECT_LT(CountNodes(part->volumes[0].trees->fatRoot),
              CountNodes(whole->volumes[0].trees->fatRoot));
  }
}

// ---- The Sleuth Kit as an oracle -------------------------------------------

// "d path" / "r path" of fls -r -p over the partition, without TSK's
// metafiles and the volume label entry.
std::set<std::string> FlsPaths(const std::string& image, const char* which) {
  test::CommandResult r =
      test::RunCommand(Format("fls -r -p %s -o %llu '%s'", which,
                              static_cast<unsigned long long>(kPartitionStart), image.c_str()));
  EXPECT_EQ(r.status, 0) << r.err;
  std::set<std::string> paths;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    size_t tab = line.find('\t');
    size_t slash = line.find('/');
    if (tab == std::string::npos || slash == std::string::npos || slash + 1 >= tab) continue;
    std::string p = line.substr(tab + 1);
    if (p.starts_with("$") || p.find("(Volume Label Entry)") != std::string::npos) continue;
    paths.insert(std::string(1, line[slash + 1]) + " " + p);
  }
  return paths;
}

// Our name as TSK would print it: TSK trims the extension, whose bytes
// (spaces too) we keep as stored.
std::string AsFlsName(std::string ansi) {
  while (!ansi.empty() && ansi.back() == ' ') ansi.pop_back();
  return AnsiToUtf8(ansi);
}

void OurPaths(const FileEntry& folder, const std::string& path, bool deleted,
              std::set<std::string>& out) {
  for (const FileEntry& c : folder.children) {
    std::string p = path.empty() ? AsFlsName(c.name) : path + "/" + AsFlsName(c.name);
    if (IsDeletedKind(c.Kind()) == deleted) out.insert(std::string(c.IsFolder() ? "d " : "r ") + p);
    OurPaths(c, p, deleted, out);
  }
}

// Names that differ from TSK's by design:
// - "A.B": a folder's short name is its eleven bytes with the spaces, no dot.
// - "lower.txt": TSK applies the lower-case bits of byte 12; we take the
//   bytes as stored.
// - "Thai ก name.txt": a long name with a character CP936 lacks is not the
//   file's name in our code page, so the short name stands.
// And "EMPTY.DAT", a zero-length file with a short name only, which the
// normal walker does not list.
std::string TskToOurs(const std::string& flsPath) {
  static const std::map<std::string, std::string> kRenamed = {
      {"A.B", "A       B"}, {"lower.txt", "LOWER.TXT"}, {"Thai ก name.txt", "THAI_N~1.TXT"}};
  std::string out = flsPath.substr(0, 2);
  std::string rest = flsPath.substr(2);
  size_t from = 0;
  while (true) {
    size_t slash = rest.find('/', from);
    std::string seg =
        rest.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
    auto it = kRenamed.find(seg);
    out += it == kRenamed.end() ? seg : it->second;
    if (slash == std::string::npos) break;
    out += "/";
    from = slash + 1;
  }
  return out;
}

class FatVersusFls : public ::testing::TestWithParam<const char*> {};

TEST_P(FatVersusFls, SameAllocatedNames) {
  if (!test::HaveTool("fls")) GTEST_SKIP() << "fls missing";
  std::string image = test::FixturePath(GetParam());
  ProgressRecord progress;
  std::unique_ptr<DiskInfo> disk = ExpandImage(image, progress);
  std::set<std::string> ours;
  OurPaths(disk->volumes[0].trees->fatRoot, "", false, ours);

  std::set<std::string> tsk;
  for (const std::string& p : FlsPaths(image, "-u")) tsk.insert(TskToOurs(p));
  EXPECT_EQ(tsk.erase("r EMPTY.DAT"), 1u);
  EXPECT_EQ(ours, tsk);
}

// Everything TSK lists as deleted we list as deleted under the same path;
// the deleted folders are found by our deleted-folder search (their first
// cluster's "." and ".." entries), which agrees with TSK on these volumes.
TEST_P(FatVersusFls, SameDeletedNames) {
  if (!test::HaveTool("fls")) GTEST_SKIP() << "fls missing";
  std::string image = test::FixturePath(GetParam());
  ProgressRecord progress;
  std::unique_ptr<DiskInfo> disk = ExpandImage(image, progress);
  std::set<std::string> ours;
  OurPaths(disk->volumes[0].trees->fatRoot, "", true, ours);
  EXPECT_EQ(ours, FlsPaths(image, "-d"));
  EXPECT_EQ(ours.size(), 15u);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FatVersusFls,
                         ::testing::Values("fat16_files.img", "fat32_files.img"),
                         [](const auto& info) {
                           return std::string(info.param).substr(0, 5) == "fat16" ? "Fat16"
                                                                                  : "Fat32";
                         });

}  // namespace
}  // namespace brevid
