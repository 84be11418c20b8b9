// The MFT scan on volumes that mkntfs made and ntfs-3g filled
// (tools/make_fixtures.sh), with The Sleuth Kit's fls as the oracle for
// names and paths; a volume with only its backup boot sector, and one whose
// $MFT run list stops short of its records.
#include "fs/ntfs_volume.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "fs/volume_trees.h"
#include "partition/partition_walk.h"
#include "platform/codepage.h"
#include "support/file_hash.h"
#include "support/image_under_test.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

std::string ManifestNote(const std::string& image) {
  std::ifstream manifest(test::FixturePath("manifest.txt"));
  std::string line;
  while (std::getline(manifest, line))
    if (line.rfind(image + "\t", 0) == 0) return line.substr(line.rfind('\t') + 1);
  return {};
}

bool FilledThroughFuse() { return ManifestNote("ntfs_files.img").rfind("ntfs=fuse", 0) == 0; }

// The size of a file gen_text wrote: every line is "<text> line NNNN of TTTT".
uint64_t GenTextSize(const std::string& text, uint64_t lines) { return lines * (text.size() + 19); }

// One scanned disk; the image's hash is checked unchanged when it goes.
class Scanned {
  test::UnchangedImage unchanged_;  // first: the hash is taken before anything reads

 public:
  explicit Scanned(const std::string& path) : unchanged_(path), disk(test::WalkImage(path)) {}

  int Scan(size_t volume = 0) {
    ProgressRecord progress;
    return ScanMft(disk, disk.volumes.at(volume), progress);
  }
  VolumeTrees& trees(size_t volume = 0) { return TreesOf(disk.volumes.at(volume)); }

  DiskInfo disk;
};

std::string Utf8(const NtfsEntry& e) { return AnsiToUtf8(e.name); }

// Every node below `top` by its path from `top` ("a/b/c", UTF-8).
std::multimap<std::string, const NtfsEntry*> Paths(const NtfsEntry& top) {
  std::multimap<std::string, const NtfsEntry*> paths;
  std::function<void(const NtfsEntry&, const std::string&)> walk = [&](const NtfsEntry& folder,
                                                                       const std::string& prefix) {
    for (const NtfsEntry& c : folder.children) {
      std::string path = prefix + Utf8(c);
      paths.emplace(path, &c);
      walk(c, path + "/");
    }
  };
  walk(top, "");
  return paths;
}

const NtfsEntry* At(const NtfsEntry& top, const std::string& path) {
  auto paths = Paths(top);
  auto it = paths.find(path);
  return it == paths.end() ? nullptr : it->second;
}

// The kind of the node at `path`, or -1 when there is none.
int KindAt(const NtfsEntry& top, const std::string& path) {
  const NtfsEntry* node = At(top, path);
  return node ? node->Kind() : -1;
}

struct FlsEntry {
  bool deleted = false;
  char type = '-';  // from the record: 'd', 'r', 'V', or '-' when unknown
  uint64_t record = 0;
  std::string path;
};

// fls -r -p [-d] -o OFFSET, parsed.
std::vector<FlsEntry> Fls(const std::string& image, uint64_t offset, bool deletedOnly) {
  test::CommandResult r = test::RunCommand("fls -r -p " + std::string(deletedOnly ? "-d " : "") +
                                           "-o " + std::to_string(offset) + " '" + image + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<FlsEntry> entries;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    size_t tab = line.find(":\t");
    if (tab == std::string::npos) continue;
    std::istringstream head(line.substr(0, tab));
    std::string types, field;
    FlsEntry e;
    head >> types >> field;
    if (field == "*") {
      e.deleted = true;
      head >> field;
    }
    e.type = types.size() == 3 ? types[2] : '-';
    e.record = std::stoull(field);
    e.path = line.substr(tab + 2);
    entries.push_back(e);
  }
  return entries;
}

// What fls shows as a user's file or folder: no metafiles, streams or
// TSK's own virtual folder.
bool IsUserEntry(const FlsEntry& e) {
  return e.path[0] != '$' && e.path.find(':') == std::string::npos && e.type != 'V';
}

// A name as the scan can give it: through the ANSI code page.
std::string ThroughCodePage(const std::string& utf8) { return AnsiToUtf8(Utf8ToAnsi(utf8)); }

// ---- ntfs_files.img ----------------------------------------------------------

class MftScanFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FilledThroughFuse()) GTEST_SKIP() << "ntfs_files.img was made without FUSE";
    ASSERT_EQ(scanned_.disk.volumes.size(), 1u);
    ASSERT_EQ(scanned_.Scan(), 1);
  }
  const NtfsEntry& root() { return scanned_.trees().ntfsRoot; }
  const NtfsEntry& scattered() { return scanned_.trees().ntfsScattered; }

  Scanned scanned_{test::FixturePath("ntfs_files.img")};
};

TEST_F(MftScanFiles, FilesUnderTheirFolders) {
  struct Expected {
    const char* path;
    uint8_t kind;
    uint64_t size;
  };
  const Expected expected[] = {
      {"Nested", kNormalFolder, 0},
      {"Nested/Level 2/Level 3/deep.txt", kNormalFile,
       GenTextSize("ntfs:/Nested/Level 2/Level 3/deep.txt", 30)},
      {"Compressed/big.txt", kNormalFile, GenTextSize("ntfs:/Compressed/big.txt", 4000)},
      {"Compressed/Sub/inner.txt", kNormalFile, GenTextSize("ntfs:/Compressed/Sub/inner.txt", 200)},
      {"small.txt", kNormalFile, GenTextSize("ntfs:/small.txt", 1)},
      {"中文名称.txt", kNormalFile, GenTextSize("ntfs:/中文名称.txt", 20)},
      // CP936 has no Thai: the name comes through with "?".
      {"Thai ? name.txt", kNormalFile, GenTextSize("ntfs:/Thai ก name.txt", 5)},
      {"sparse.bin", kNormalFile, 4u << 20},
      {"reuser.txt", kNormalFile, GenTextSize("ntfs:/reuser.txt", 1)},
      {"Many/entry 001.txt", kNormalFile, 25},
      {"Many/entry 320.txt", kNormalFile, 25},
      // Records older than the folders they were moved into.
      {"Moved Here/moved.txt", kNormalFile, GenTextSize("ntfs:/moved.txt", 4)},
      {"Late/Early/child.txt", kNormalFile, GenTextSize("ntfs:/Early/child.txt", 4)},
      {"Z1/Z2/Z3/Deep start/leaf.txt", kNormalFile, GenTextSize("ntfs:/Deep start/leaf.txt", 2)},
  };
  for (const Expected& e : expected) {
    const NtfsEntry* node = At(root(), e.path);
    ASSERT_NE(node, nullptr) << e.path;
    EXPECT_EQ(node->Kind(), e.kind) << e.path;
    EXPECT_EQ(node->size, e.size) << e.path;
  }
  // The folder whose index outgrew its record.
  const NtfsEntry* many = At(root(), "Many");
  ASSERT_NE(many, nullptr);
  EXPECT_EQ(many->children.size(), 320u);
  // Three names, one record: one node, under one of its folders.
  size_t links = 0;
  for (const char* path : {"Links/original.txt", "Links/second name.txt", "Nested/third name.txt"})
    if (const NtfsEntry* node = At(root(), path)) {
      ++links;
      EXPECT_EQ(node->size, GenTextSize("ntfs:/Links/original.txt", 50));
    }
  EXPECT_EQ(links, 1u);
}

// A parent record read ahead of its turn is not placed a second time when
// the scan reaches it.
TEST_F(MftScanFiles, EveryRecordOnce) {
  std::map<uint64_t, std::vector<std::string>> byNumber;
  for (const auto& [path, node] : Paths(root())) byNumber[node->recordNumber].push_back(path);
  for (const auto& [path, node] : Paths(scattered()))
    if (Utf8(*node).rfind("$$$Folder", 0) != 0)
      byNumber[node->recordNumber].push_back("零散目录/" + path);
  for (const auto& [number, paths] : byNumber)
    EXPECT_EQ(paths.size(), 1u) << "record " << number << " at " << ::testing::PrintToString(paths);
  const NtfsEntry* z1 = At(root(), "Z1");
  ASSERT_NE(z1, nullptr);
  EXPECT_EQ(z1->children.size(), 1u);
}

TEST_F(MftScanFiles, DeletedRecordsAreDeleted) {
  const std::pair<const char*, uint8_t> deleted[] = {
      {"deleted big.txt", kDeletedFile},
      {"deleted small.txt", kDeletedFile},
      {"Nested/Level 2/gone.txt", kDeletedFile},
      {"Gone", kDeletedFolder},
      {"Gone/a.txt", kDeletedFile},
      {"Gone/Inner", kDeletedFolder},
      {"Gone/Inner/b.txt", kDeletedFile},
  };
  for (const auto& [path, kind] : deleted) {
    const NtfsEntry* node = At(root(), path);
    ASSERT_NE(node, nullptr) << path;
    EXPECT_EQ(node->Kind(), kind) << path;
  }
  EXPECT_EQ(At(root(), "deleted big.txt")->size, GenTextSize("ntfs:/deleted big.txt", 200));
  EXPECT_EQ(At(root(), "Gone/Inner/b.txt")->size, GenTextSize("ntfs:/Gone/Inner/b.txt", 3));
  EXPECT_EQ(At(root(), "Reused"), nullptr);  // its record now holds reuser.txt
}

TEST_F(MftScanFiles, RootSystemRecordsAndOrphans) {
  EXPECT_EQ(Utf8(root()), "根目录");
  EXPECT_EQ(root().recordNumber, 5u);
  EXPECT_EQ(root().Kind(), kNormalFolder);
  EXPECT_EQ(Utf8(scattered()), "零散目录");
  for (const NtfsEntry& e : root().children) {
    EXPECT_GE(e.recordNumber, 12u) << Utf8(e);
    EXPECT_NE(Utf8(e)[0], '$') << Utf8(e);
  }
  // orphan.txt's folder record was reused by reuser.txt.
  ASSERT_EQ(scattered().children.size(), 1u);
  const NtfsEntry& placeholder = scattered().children.front();
  EXPECT_EQ(Utf8(placeholder), "$$$Folder64");
  EXPECT_EQ(placeholder.Kind(), kDeletedFolder);
  ASSERT_EQ(placeholder.children.size(), 1u);
  EXPECT_EQ(Utf8(placeholder.children.front()), "orphan.txt");
  EXPECT_EQ(placeholder.children.front().Kind(), kDeletedFile);
  const NtfsEntry* reuser = At(root(), "reuser.txt");
  ASSERT_NE(reuser, nullptr);
  EXPECT_EQ(reuser->recordNumber, 64u);
}

// The Sleuth Kit reads the same volume through its directory indexes. By
// design the two differ in:
// - metafiles ($MFT ... $Extend and its children) and TSK's $OrphanFiles,
//   OrphanFile-16..23 (reserved records never used): not user files, skipped;
// - streams ("file:stream"): the scan lists files, not streams;
// - hard links: fls lists each name, the scan one node per record, under the
//   folder of the name it chose;
// - names with characters CP936 lacks: "?" here;
// - orphans: fls's "$OrphanFiles/x" is "零散目录/$$$FolderN/x" here.
TEST_F(MftScanFiles, AgreesWithTheSleuthKit) {
  if (!test::HaveTool("fls")) GTEST_SKIP() << "fls missing";
  uint64_t offset = scanned_.disk.volumes[0].start;
  std::string image = test::FixturePath("ntfs_files.img");

  std::map<uint64_t, std::set<std::string>> allocated;
  for (const FlsEntry& e : Fls(image, offset, false))
    if (!e.deleted && IsUserEntry(e)) allocated[e.record].insert(ThroughCodePage(e.path));
  ASSERT_GT(allocated.size(), 340u);
  std::map<uint64_t, std::string> ours;
  for (const auto& [path, node] : Paths(root()))
    if (!IsDeletedKind(node->Kind())) ours.emplace(node->recordNumber, path);
  for (const auto& [record, names] : allocated) {
    auto it = ours.find(record);
    if (it == ours.end()) {
      ADD_FAILURE() << "missing record " << record << " " << *names.begin();
      continue;
    }
    EXPECT_EQ(names.count(it->second), 1u) << it->second << " vs " << *names.begin();
  }
  for (const auto& [record, path] : ours)
    EXPECT_EQ(allocated.count(record), 1u) << "extra " << path;

  size_t deleted = 0;
  for (const FlsEntry& e : Fls(image, offset, true)) {
    if (!e.deleted || e.path.find("OrphanFile-") != std::string::npos) continue;
    ++deleted;
    std::string path = e.path;
    const NtfsEntry* node = nullptr;
    if (path.rfind("$OrphanFiles/", 0) == 0) {
      for (const auto& [p, n] : Paths(scattered()))
        if (n->recordNumber == e.record && p.substr(p.rfind('/') + 1) == path.substr(13)) node = n;
    } else {
      node = At(root(), ThroughCodePage(path));
    }
    ASSERT_NE(node, nullptr) << path;
    EXPECT_EQ(node->recordNumber, e.record) << path;
    EXPECT_TRUE(IsDeletedKind(node->Kind())) << path;
  }
  EXPECT_EQ(deleted, 8u);
}

TEST(MftScan, DemoVolumeAndEmptyVolume) {
  Scanned demo(test::FixturePath("demo.img"));
  ASSERT_EQ(demo.disk.volumes.size(), 2u);
  ASSERT_EQ(demo.Scan(1), 1);
  const NtfsEntry& root = demo.trees(1).ntfsRoot;
  EXPECT_NE(At(root, "Readme.txt"), nullptr);
  EXPECT_NE(At(root, "年度报告.txt"), nullptr);
  if (ManifestNote("demo.img") == "ntfs=fuse") {
    EXPECT_EQ(KindAt(root, "Temp/Sub/cache two.txt"), kDeletedFile);
    EXPECT_EQ(KindAt(root, "Documents/small deleted.txt"), kDeletedFile);
    EXPECT_EQ(KindAt(root, "Documents/Drafts/draft one.txt"), kNormalFile);
  }

  Scanned empty(test::FixturePath("boot0_ntfs.img"));
  ASSERT_EQ(empty.Scan(), 1);
  EXPECT_TRUE(empty.trees().ntfsRoot.children.empty());
  EXPECT_TRUE(empty.trees().ntfsScattered.children.empty());
  EXPECT_EQ(empty.disk.volumes[0].mftStart, 32u);
  EXPECT_EQ(empty.disk.volumes[0].sectorsPerCluster, 8u);
}

TEST(MftScan, NothingToScan) {
  // The FAT32 half of the demo: no NTFS boot sector at either end, no MFT.
  Scanned fat(test::FixturePath("demo.img"));
  VolumeInfo& volume = fat.disk.volumes.at(0);
  volume.mftStart = 0;
  EXPECT_EQ(fat.Scan(0), 0);
  EXPECT_TRUE(fat.trees(0).ntfsRoot.children.empty());

  DiskInfo missing;
  missing.path = test::FixturePath("no such image.img");
  missing.volumes.emplace_back();
  missing.volumes[0].sectorCount = 100;
  ProgressRecord progress;
  EXPECT_EQ(ScanMft(missing, missing.volumes[0], progress), 0);
}

TEST(MftScan, StopRequested) {
  Scanned demo(test::FixturePath("demo.img"));
  ProgressRecord progress;
  progress.stop.store(1);
  EXPECT_EQ(ScanMft(demo.disk, demo.disk.volumes.at(1), progress), 0);
  EXPECT_TRUE(demo.trees(1).ntfsRoot.children.empty());
}

// ---- format recovery -----------------------------------------------------------

TEST(MftFormatRecovery, BackupBootSectorStillScanned) {
  Scanned scanned(test::FixturePath("ntfs_backup_boot.img"));
  ASSERT_EQ(scanned.disk.volumes.size(), 1u);
  VolumeInfo& volume = scanned.disk.volumes[0];
  EXPECT_EQ(volume.fsType, kFsNtfs);
  volume.sectorsPerCluster = 0;  // only the backup can say
  ASSERT_EQ(scanned.Scan(), 1);
  EXPECT_EQ(volume.sectorsPerCluster, 8u);
  EXPECT_EQ(volume.mftStart, volume.start + 32);
  const NtfsEntry& root = scanned.trees().ntfsRoot;
  for (const char* name : {"file 01.txt", "file 02.txt", "file 03.txt"}) {
    const NtfsEntry* node = At(root, name);
    ASSERT_NE(node, nullptr) << name;
    EXPECT_EQ(node->Kind(), kNormalFile);
    EXPECT_EQ(node->size, GenTextSize(std::string("ntfs:/") + name, 1));
  }
  EXPECT_EQ(root.children.size(), 3u);
}

TEST(MftFormatRecovery, StaleMftRunReadToItsRealEnd) {
  Scanned scanned(test::FixturePath("ntfs_stale_mft.img"));
  ASSERT_EQ(scanned.disk.volumes.size(), 1u);
  ASSERT_EQ(scanned.Scan(), 1);
  const DataRunMap& runs = scanned.trees().mftRuns;
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs.at(0).length, 16u);  // as patched: records 0-63
  EXPECT_EQ(runs.at(1).startCluster, runs.at(0).startCluster + 16);
  EXPECT_EQ(runs.at(1).length, 15u);  // the clusters behind it that hold records 64-123
  const NtfsEntry& root = scanned.trees().ntfsRoot;
  EXPECT_EQ(root.children.size(), 60u);
  for (int i = 1; i <= 60; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "file %02d.txt", i);
    const NtfsEntry* node = At(root, name);
    ASSERT_NE(node, nullptr) << name;
    EXPECT_EQ(node->recordNumber, 63u + i) << name;
  }
}

}  // namespace
}  // namespace brevid
