// The FAT walk on volumes other people made, against the listings and answer
// keys that came with them. Skipped when the corpus is not beside the checkout.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fs/fat_volume.h"
#include "partition/partition_walk.h"
#include "platform/codepage.h"
#include "support/file_hash.h"
#include "support/image_under_test.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

// A whole-disk image and its expanded first volume; checks on destruction
// that the image was not written.
class Expanded {
 public:
  explicit Expanded(const std::string& image) : unchanged_(image), disk_(test::WalkImage(image)) {
    if (disk_.volumes.empty()) {
      ADD_FAILURE() << "no volume in " << image;
      return;
    }
    test::RunBounded("the walk of " + image, [&](ProgressRecord& progress) {
      ExpandFatVolume(disk_, disk_.volumes[0], progress);
    });
  }

  bool ok() const { return !disk_.volumes.empty() && disk_.volumes[0].trees; }
  const VolumeInfo& volume() const { return disk_.volumes[0]; }
  const FileEntry& root() const { return disk_.volumes[0].trees->fatRoot; }

  // "/a/b" for every node under the root (UTF-8), deleted or not.
  std::set<std::string> Paths(bool deletedOnly = false) const {
    std::set<std::string> out;
    Collect(root(), "", deletedOnly, out);
    return out;
  }

 private:
  static void Collect(const FileEntry& folder, const std::string& path, bool deletedOnly,
                      std::set<std::string>& out) {
    for (const FileEntry& c : folder.children) {
      std::string p = path + "/" + AnsiToUtf8(c.name);
      if (!deletedOnly || IsDeletedKind(c.Kind())) out.insert(p);
      Collect(c, p, deletedOnly, out);
    }
  }

  test::UnchangedImage unchanged_;
  DiskInfo disk_;
};

const FileEntry* Child(const FileEntry& folder, const std::string& ansiName) {
  for (const FileEntry& c : folder.children)
    if (c.name == ansiName) return &c;
  return nullptr;
}

std::vector<std::string> Names(const FileEntry& folder) {
  std::vector<std::string> names;
  for (const FileEntry& c : folder.children) names.push_back(AnsiToUtf8(c.name));
  return names;
}

// The paths of a ground-truth listing: "path<TAB>time" or "path time".
std::vector<std::string> ListedPaths(const std::string& listing) {
  std::ifstream in(listing);
  EXPECT_TRUE(in) << listing;
  std::vector<std::string> paths;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    size_t cut = line.find('\t');
    if (cut == std::string::npos) cut = line.rfind(' ');
    paths.push_back(line.substr(0, cut));
  }
  return paths;
}

void ExpectListedPathsPresent(const Expanded& walked, const std::string& listing,
                              size_t expectedCount) {
  std::vector<std::string> listed = ListedPaths(listing);
  EXPECT_EQ(listed.size(), expectedCount);
  std::set<std::string> ours = walked.Paths();
  for (const std::string& p : listed) EXPECT_TRUE(ours.count(p)) << p;
}

TEST(FatCorpus, Fat16ListingIsComplete) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dfir_ntfs/fat16.raw.gz");
  ASSERT_FALSE(image.empty());
  Expanded walked(image);
  ASSERT_TRUE(walked.ok());
  EXPECT_EQ(walked.volume().fsType, kFsFat16);
  ExpectListedPathsPresent(walked, test::CorpusDir() + "/images/dfir_ntfs/fat16_full_test.txt",
                           1025);
  EXPECT_TRUE(walked.Paths(true).empty());
}

TEST(FatCorpus, Fat32ListingIsCompleteAndDeletedEntriesFound) {
  BREVID_REQUIRE_CORPUS();
  std::string image =
      test::UnpackCorpus("images/dfir_ntfs/fat32_full_test.tgz", "fat32_full_test.raw");
  ASSERT_FALSE(image.empty());
  Expanded walked(image);
  ASSERT_TRUE(walked.ok());
  EXPECT_EQ(walked.volume().fsType, kFsFat32);
  std::string listing = test::CorpusDir() + "/images/dfir_ntfs/fat32_full_test.txt";
  ExpectListedPathsPresent(walked, listing, 269);
  // The three deleted entries fls finds (tsk-report.txt: 1 file, 2 folders);
  // the file is an editor's swap file beside the listed привет.txt.
  std::string swapFile;
  for (const std::string& p : ListedPaths(listing))
    if (p.ends_with("/привет.txt")) swapFile = p.substr(0, p.rfind('/')) + "/.привет.txt.swp";
  ASSERT_FALSE(swapFile.empty());
  EXPECT_EQ(walked.Paths(true), (std::set<std::string>{"/dd", "/111111/s1/s2/d3", swapFile}));
}

// A FAT chain that loops and a folder that lists its ancestor: the walk ends
// and lists what fls lists, but for two things by design: test_dir/4 is a
// deleted folder whose ".." names neither its parent nor 0, so the
// deleted-folder search refuses it; and the folder reached again through
// test_dir/n40/4/T1 is not read a second time.
TEST(FatCorpus, Fat32LoopEnds) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dfir_ntfs/fat32_loop.raw.gz");
  ASSERT_FALSE(image.empty());
  Expanded walked(image);
  ASSERT_TRUE(walked.ok());
  std::set<std::string> paths = walked.Paths();
  for (const char* p :
       {"/test_longfilename0.txt", "/test0.txt", "/test_dir", "/test_dir/1/11/111.txt",
        "/test_dir/n1", "/test_dir/n80", "/test_dir/n40/4/T1"})
    EXPECT_TRUE(paths.count(p)) << p;
  EXPECT_FALSE(paths.count("/test_dir/4"));
  for (const std::string& p : paths) EXPECT_FALSE(p.starts_with("/test_dir/n40/4/T1/")) << p;
  EXPECT_EQ(paths.size(), 91u);
}

// Two deleted folders; test_2 (with 1.txt and 2.txt) is the one fls misses.
TEST(FatCorpus, DeletedFoldersAndTheirFiles) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dfir_ntfs/fat_deleted_dir.raw.gz");
  ASSERT_FALSE(image.empty());
  Expanded walked(image);
  ASSERT_TRUE(walked.ok());
  const FileEntry* test2 = Child(walked.root(), "test_2");
  ASSERT_NE(test2, nullptr);
  EXPECT_EQ(test2->Kind(), kDeletedFolder);
  EXPECT_EQ(Names(*test2), (std::vector<std::string>{"1.txt", "2.txt"}));
  for (const FileEntry& f : test2->children) EXPECT_EQ(f.Kind(), kDeletedFile);
  const FileEntry* test = Child(walked.root(), "test");
  ASSERT_NE(test, nullptr);
  EXPECT_EQ(test->Kind(), kDeletedFolder);
  // Only the folder's first cluster is read (one sector here: 16 entries less
  // "." and ".."); fls follows it further and lists 502 files.
  EXPECT_EQ(test->children.size(), 14u);
  for (const FileEntry& f : test->children) EXPECT_EQ(f.Kind(), kDeletedFile);
}

TEST(FatCorpus, LongNamesAsFlsListsThem) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dfir_ntfs/fat_lfn_test.raw.gz");
  ASSERT_FALSE(image.empty());
  Expanded walked(image);
  ASSERT_TRUE(walked.ok());
  std::multiset<std::string> names;
  for (const std::string& n : Names(walked.root())) names.insert(n);
  // fls: long_name_test.txt and folders 1 to 16.
  std::multiset<std::string> expected = {"long_name_test.txt"};
  for (int i = 1; i <= 16; ++i) expected.insert(std::to_string(i));
  EXPECT_EQ(names, expected);
}

// DFTT image 6: the deleted names of its answer key
// (dftt/answer-keys/6-undel-fat.index.html), with their sizes and first
// sectors from the key's layout table. The files were made by Windows with
// lower-case names kept in their short entries; deleted short names keep
// 0xE5 in place of their first letter. Windows did not mark the entries
// inside dir1, so those keep their whole names and a normal kind (fls calls
// them deleted for their deleted parent). fls also lists a deleted _P1 in
// System Volume Information whose cluster dir2 already holds; the
// deleted-folder search passes over clusters already read.
TEST(FatCorpus, DfttUndeleteAnswerKey) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dftt/6-fat-undel.dd");
  ASSERT_FALSE(image.empty());
  Expanded walked(image);
  ASSERT_TRUE(walked.ok());
  const VolumeInfo& v = walked.volume();
  auto firstSector = [&](const FileEntry& e) {
    return e.firstCluster * uint64_t{v.sectorsPerCluster} + v.clusterBase;
  };
  struct Key {
    const FileEntry* folder;
    std::string name;
    uint8_t kind;
    uint32_t size;
    uint64_t sector;
  };
  const FileEntry& root = walked.root();
  const FileEntry* dir1 = Child(root, "_IR1");
  ASSERT_NE(dir1, nullptr);
  EXPECT_EQ(dir1->Kind(), kDeletedFolder);
  EXPECT_EQ(firstSector(*dir1), 110u);
  const FileEntry* dir2 = Child(*dir1, "DIR2");
  ASSERT_NE(dir2, nullptr);
  EXPECT_EQ(firstSector(*dir2), 116u);
  for (const Key& k : {Key{&root, "_RAG1.DAT", kDeletedFile, 1584, 88},
                       Key{&root, "_RAG2.DAT", kDeletedFile, 3873, 90},
                       Key{&root, "_ING.DAT", kDeletedFile, 780, 98},
                       Key{&root, "_ULT1.DAT", kDeletedFile, 3801, 100},
                       Key{dir1, "MULT2.DAT", kNormalFile, 1715, 120},
                       Key{dir2, "FRAG3.DAT", kNormalFile, 2027, 118}}) {
    SCOPED_TRACE(k.name);
    const FileEntry* e = Child(*k.folder, k.name);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Kind(), k.kind);
    EXPECT_EQ(e->size, k.size);
    EXPECT_EQ(firstSector(*e), k.sector);
  }
  const FileEntry* svi = Child(root, "System Volume Information");
  ASSERT_NE(svi, nullptr);
  ASSERT_EQ(svi->children.size(), 1u);
  EXPECT_TRUE(svi->children.front().children.empty());
}

}  // namespace
}  // namespace brevid
