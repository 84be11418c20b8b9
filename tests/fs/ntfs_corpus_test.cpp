// The MFT scan on NTFS volumes other people made, against their answer keys
// and The Sleuth Kit's fls. Skipped when the corpus is not beside the checkout.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "fs/ntfs_volume.h"
#include "fs/volume_trees.h"
#include "partition/partition_walk.h"
#include "platform/codepage.h"
#include "support/file_hash.h"
#include "support/image_under_test.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

// An image walked and its first volume scanned, with a bound on the time the
// scan may take; checks on destruction that the image was not written.
class Scanned {
 public:
  explicit Scanned(const std::string& image) : unchanged_(image), disk_(test::WalkImage(image)) {
    if (disk_.volumes.empty()) {
      ADD_FAILURE() << "no volume in " << image;
      return;
    }
    test::RunBounded("the scan of " + image, [&](ProgressRecord& progress) {
      result_ = ScanMft(disk_, disk_.volumes[0], progress);
    });
  }

  bool ok() const { return result_ == 1 && disk_.volumes[0].trees; }
  const VolumeInfo& volume() const { return disk_.volumes[0]; }
  const NtfsEntry& root() const { return disk_.volumes[0].trees->ntfsRoot; }
  const NtfsEntry& scattered() const { return disk_.volumes[0].trees->ntfsScattered; }

  // Every node below `top` by its path ("a/b", UTF-8).
  static std::multimap<std::string, const NtfsEntry*> Paths(const NtfsEntry& top) {
    std::multimap<std::string, const NtfsEntry*> out;
    std::function<void(const NtfsEntry&, const std::string&)> walk =
        [&](const NtfsEntry& folder, const std::string& prefix) {
          for (const NtfsEntry& c : folder.children) {
            std::string path = prefix + AnsiToUtf8(c.name);
            out.emplace(path, &c);
            walk(c, path + "/");
          }
        };
    walk(top, "");
    return out;
  }

  const NtfsEntry* At(const std::string& path) const {
    auto paths = Paths(root());
    auto it = paths.find(path);
    return it == paths.end() ? nullptr : it->second;
  }

 private:
  test::UnchangedImage unchanged_;
  DiskInfo disk_;
  int result_ = 0;
};

// The allocated user entries fls lists (no metafiles, streams, or TSK's
// virtual folders), by record number.
std::map<uint64_t, std::set<std::string>> FlsAllocated(const std::string& image, uint64_t offset) {
  std::map<uint64_t, std::set<std::string>> out;
  test::CommandResult r =
      test::RunCommand("fls -r -p -o " + std::to_string(offset) + " '" + image + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    size_t tab = line.find(":\t");
    if (tab == std::string::npos || line.find(" * ") < tab || line[2] == 'V') continue;
    std::string path = line.substr(tab + 2);
    if (path[0] == '$' || path.find(':') != std::string::npos) continue;
    out[std::stoull(line.substr(4))].insert(path);
  }
  return out;
}

// Records 0-11 are the file system's own; they are never shown under the root.
void ExpectNoSystemRecordUnderTheRoot(const Scanned& s) {
  for (const NtfsEntry& e : s.root().children)
    EXPECT_GE(e.recordNumber, 12u) << AnsiToUtf8(e.name) << " (record " << e.recordNumber << ")";
}

// Every allocated record fls lists is a live node here under one of its names.
void ExpectAllocatedAsFls(const Scanned& s, const std::string& image) {
  if (!test::HaveTool("fls")) return;
  std::map<uint64_t, std::string> ours;
  for (const auto& [path, node] : Scanned::Paths(s.root()))
    if (!IsDeletedKind(node->Kind())) ours.emplace(node->recordNumber, path);
  auto fls = FlsAllocated(image, s.volume().start);
  EXPECT_FALSE(fls.empty());
  for (const auto& [record, names] : fls) {
    auto it = ours.find(record);
    if (it == ours.end()) {
      ADD_FAILURE() << image << ": record " << record << " " << *names.begin() << " missing";
      continue;
    }
    EXPECT_EQ(names.count(it->second), 1u) << it->second << " vs " << *names.begin();
  }
}

// UTC calendar date of an NTFS time.
std::string UtcDate(uint64_t ntfsTime) {
  std::time_t t = static_cast<std::time_t>(ntfsTime / 10000000 - 11644473600ULL);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
  return text;
}

// DFTT #7: eight deleted files and two deleted folders, made on Windows XP
// on 2004-02-29. dir3's record went to res1.dat, so sing2.dat stands under a
// placeholder for it. mult1.dat:ADS is a stream, not a file.
TEST(NtfsCorpus, DfttUndeleteAnswerKey) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dftt/7-ntfs-undel.dd");
  ASSERT_FALSE(image.empty());
  Scanned s(image);
  ASSERT_TRUE(s.ok());
  struct Key {
    const char* path;
    uint64_t record;
    uint8_t kind;
    uint64_t size;
  };
  const Key keys[] = {
      {"res1.dat", 37, kDeletedFile, 101},
      {"sing1.dat", 31, kDeletedFile, 780},
      {"mult1.dat", 32, kDeletedFile, 3801},
      {"frag1.dat", 29, kDeletedFile, 1584},
      {"frag2.dat", 30, kDeletedFile, 3873},
      {"dir1", 33, kDeletedFolder, 0},
      {"dir1/mult2.dat", 36, kDeletedFile, 1715},
      {"dir1/dir2", 34, kDeletedFolder, 0},
      {"dir1/dir2/frag3.dat", 35, kDeletedFile, 2027},
  };
  for (const Key& k : keys) {
    const NtfsEntry* node = s.At(k.path);
    ASSERT_NE(node, nullptr) << k.path;
    EXPECT_EQ(node->recordNumber, k.record) << k.path;
    EXPECT_EQ(node->Kind(), k.kind) << k.path;
    if (k.kind == kDeletedFile) {
      EXPECT_EQ(node->size, k.size) << k.path;
    }
    EXPECT_EQ(UtcDate(node->createTime), "2004-02-29") << k.path;
  }
  const NtfsEntry* log = s.At("System Volume Information/tracking.log");
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->Kind(), kNormalFile);

  auto scattered = Scanned::Paths(s.scattered());
  ASSERT_EQ(scattered.count("$$$Folder37/sing2.dat"), 1u);
  const NtfsEntry* sing2 = scattered.find("$$$Folder37/sing2.dat")->second;
  EXPECT_EQ(sing2->recordNumber, 38u);
  EXPECT_EQ(sing2->Kind(), kDeletedFile);
  EXPECT_EQ(sing2->size, 1005u);
  ExpectNoSystemRecordUnderTheRoot(s);
  ExpectAllocatedAsFls(s, image);
}

// Record 27 holds 100 hard links; its names fill five extension records that
// its attribute list points at. Those records are parts of record 27, not
// files of their own.
TEST(NtfsCorpus, NamesSpilledIntoAnAttributeList) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dfir_ntfs/ntfs3_attrlist.raw.gz");
  ASSERT_FALSE(image.empty());
  Scanned s(image);
  ASSERT_TRUE(s.ok());
  std::vector<const NtfsEntry*> files;
  for (const NtfsEntry& e : s.root().children) files.push_back(&e);
  ASSERT_EQ(files.size(), 1u) << "extension records shown as files";
  const NtfsEntry& file = *files.front();
  EXPECT_EQ(file.recordNumber, 27u);
  EXPECT_EQ(file.Kind(), kNormalFile);
  EXPECT_EQ(file.size, 4u);
  EXPECT_EQ(UtcDate(file.createTime), "2023-02-23");
  auto fls = FlsAllocated(image, 0);
  if (!fls.empty()) {
    ASSERT_EQ(fls.count(27), 1u);
    EXPECT_EQ(fls.at(27).size(), 100u);
    EXPECT_EQ(fls.at(27).count(AnsiToUtf8(file.name)), 1u) << AnsiToUtf8(file.name);
  }
  EXPECT_TRUE(s.scattered().children.empty());
}

// Made by Windows 10: $Extend holds folders of its own ($RmMetadata,
// $Deleted). Two entries fls finds only in index slack (record 0) have no
// record to scan.
TEST(NtfsCorpus, WindowsVolumeWithAnIndex) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dfir_ntfs/ntfs_index.raw.gz");
  ASSERT_FALSE(image.empty());
  Scanned s(image);
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(s.volume().start, 128u);
  const NtfsEntry* dir = s.At("test_dir");
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir->children.size(), 9u);
  EXPECT_NE(s.At("test_dir/999999999999999.txt"), nullptr);
  EXPECT_EQ(s.At("test_dir/BBBBBBBBBBBBB-del.txt"), nullptr);
  ExpectNoSystemRecordUnderTheRoot(s);
  EXPECT_EQ(s.At("$Extend"), nullptr);
  ExpectAllocatedAsFls(s, image);
}

TEST(NtfsCorpus, WindowsVolumeWithOneFolder) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/ntfs-samples/ntfs-lastaccess.raw.gz");
  ASSERT_FALSE(image.empty());
  Scanned s(image);
  ASSERT_TRUE(s.ok());
  const NtfsEntry* file = s.At("test/1.txt");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Kind(), kNormalFile);
  ExpectNoSystemRecordUnderTheRoot(s);
  ExpectAllocatedAsFls(s, image);
}

// 2 MiB clusters: the boot sector gives sectors per cluster as a power of
// two (byte 0xF4: 2^12 sectors). fls cannot read this volume.
TEST(NtfsCorpus, TwoMegabyteClusters) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/ntfs-samples/ntfs-2m.raw.gz");
  ASSERT_FALSE(image.empty());
  Scanned s(image);
  ASSERT_TRUE(s.ok());
  const NtfsEntry* settings = s.At("System Volume Information/WPSettings.dat");
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(settings->size, 12u);
  const NtfsEntry* guid = s.At("System Volume Information/IndexerVolumeGuid");
  ASSERT_NE(guid, nullptr);
  EXPECT_EQ(guid->size, 76u);
  ExpectNoSystemRecordUnderTheRoot(s);
}

// Linux-made NTFS from which four folders were deleted: the 18 deleted files
// of original-files.md5.tsv are found as deleted with their sizes, the rest
// as present.
TEST(NtfsCorpus, ForensicsSamplesDeletedFolders) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/forensics-samples/fs.ntfs.xz");
  ASSERT_FALSE(image.empty());
  Scanned s(image);
  ASSERT_TRUE(s.ok());
  std::ifstream tsv(test::CorpusDir() + "/images/forensics-samples/original-files.md5.tsv");
  std::string line;
  int deleted = 0, present = 0;
  const std::set<std::string> deletedFolders = {"audio2", "movie2", "pic2", "text2"};
  while (std::getline(tsv, line)) {
    std::istringstream fields(line);
    std::string md5, path;
    uint64_t size = 0;
    if (!(fields >> md5 >> size) || !std::getline(fields >> std::ws, path)) continue;
    path = path.substr(0, path.find('\t'));
    bool gone = deletedFolders.count(path.substr(0, path.find('/'))) > 0;
    const NtfsEntry* node = s.At(path);
    ASSERT_NE(node, nullptr) << path;
    EXPECT_EQ(node->size, size) << path;
    EXPECT_EQ(node->Kind(), gone ? kDeletedFile : kNormalFile) << path;
    (gone ? deleted : present)++;
  }
  EXPECT_EQ(deleted, 18);
  EXPECT_EQ(present, 18);
  for (const std::string& folder : deletedFolders) {
    const NtfsEntry* node = s.At(folder);
    ASSERT_NE(node, nullptr) << folder;
    EXPECT_EQ(node->Kind(), kDeletedFolder) << folder;
  }
  EXPECT_TRUE(s.scattered().children.empty());
  ExpectNoSystemRecordUnderTheRoot(s);
  ExpectAllocatedAsFls(s, image);
}

}  // namespace
}  // namespace brevid
