// Deleted files of third-party images against their published hashes: the
// forensics-samples FAT32 and NTFS disks (original-files.md5.tsv) and DFTT
// tests 6 and 7 (their answer keys). Skipped when the corpus is absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "device/disk_enumeration.h"
#include "fs/fat_volume.h"
#include "fs/ntfs_volume.h"
#include "fs/volume_trees.h"
#include "partition/partition_walk.h"
#include "platform/codepage.h"
#include "support/file_hash.h"
#include "support/run_command.h"
#include "support/test_paths.h"
#include "tasks/save_run.h"

namespace brevid {
namespace {

namespace fs = std::filesystem;

const std::string kRoot = "根目录/";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Md5(const std::string& path) {
  test::CommandResult r = test::RunCommand("md5sum '" + path + "'");
  return r.status == 0 && r.out.size() >= 32 ? r.out.substr(0, 32) : "";
}

// Every file under `dir`: path relative to it (UTF-8) -> full path.
std::map<std::string, std::string> FilesUnder(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file())
      files[fs::relative(e.path(), dir).generic_string()] = e.path().string();
  return files;
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Saves the root and scattered folders of the image's volume `index`
// through "单选保存", as `brevid save` does without items.
std::string SaveVolume(const std::string& image, size_t index, const std::string& target,
                       SaveSwitches switches) {
  DiskList disks;
  if (!OpenImageFile(disks, image, WalkPartitions)) {
    ADD_FAILURE() << "cannot open " << image;
    return target;
  }
  DiskInfo& disk = disks.back();
  if (index >= disk.volumes.size()) {
    ADD_FAILURE() << image << " has no volume " << index;
    return target;
  }
  VolumeInfo& volume = disk.volumes[index];
  ProgressRecord expand;
  if (IsNtfsType(volume.fsType))
    ScanMft(disk, volume, expand);
  else
    ExpandFatVolume(disk, volume, expand);
  VolumeTrees& trees = TreesOf(volume);
  fs::create_directories(target);
  std::vector<SaveItem> items;
  if (IsNtfsType(volume.fsType)) {
    for (const NtfsEntry* e : {&trees.ntfsRoot, &trees.ntfsScattered})
      items.push_back({e->recordNumber, e->name, NtfsTimeText(e->createTime)});
  } else {
    for (const FileEntry* e : {&trees.fatRoot, &trees.fatScattered})
      items.push_back({e->firstCluster, e->name, FatTimeText(e->createDate, e->createTime)});
  }
  for (const SaveItem& item : items) {
    std::atomic<int> busy{0};
    SavePreparation prep = PrepareSingleSave(
        disks, {disk.Key(), volume.name, Utf8ToAnsi(target), switches}, item, busy);
    if (!prep.save) {
      ADD_FAILURE() << "not started: "
                    << AnsiToUtf8(prep.refusal.statusText + prep.refusal.messageBox);
      continue;
    }
    ProgressRecord progress;
    RunSave(*prep.save, progress, busy);
  }
  return target;
}

// Unpacks (once, into the build tree) and remembers the source's hash.
class SaveCorpus : public ::testing::Test {
 protected:
  std::string Image(const std::string& relative) {
    std::string path = test::UnpackCorpus(relative);
    if (!path.empty()) hashes_[path] = test::Sha256OfFile(path);
    return path;
  }
  std::string Target(const std::string& name) {
    return test::ScratchDir(
        "export_corpus_" +
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" + name);
  }
  void TearDown() override {
    for (const auto& [path, hash] : hashes_)
      EXPECT_EQ(test::Sha256OfFile(path), hash) << path << " was written";
  }

 private:
  std::map<std::string, std::string> hashes_;
};

struct Original {
  std::string md5;
  uint64_t size = 0;
};

// original-files.md5.tsv: md5, size, path, where it came from. The folders
// audio2, movie2, pic2 and text2 were deleted on both disks.
std::map<std::string, Original> DeletedOriginals() {
  std::map<std::string, Original> files;
  std::stringstream ss(
      ReadText(test::CorpusDir() + "/images/forensics-samples/original-files.md5.tsv"));
  std::string line;
  while (std::getline(ss, line)) {
    std::stringstream fields(line);
    std::string md5, size, path;
    std::getline(fields, md5, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, path, '\t');
    for (const char* folder : {"audio2/", "movie2/", "pic2/", "text2/"})
      if (path.rfind(folder, 0) == 0) files[path] = {md5, std::stoull(size)};
  }
  return files;
}

// What our tool gives where it cannot give the original, and why.
enum class Known { kEmpty, kAbsent };

void CheckForensicsSample(const std::string& image, const std::string& target,
                          const std::map<std::string, Known>& known) {
  std::map<std::string, Original> originals = DeletedOriginals();
  ASSERT_EQ(originals.size(), 18u);
  std::map<std::string, std::string> files = FilesUnder(target);
  size_t matched = 0;
  for (const auto& [path, original] : originals) {
    SCOPED_TRACE(path);
    auto it = files.find(kRoot + path);
    auto exception = known.find(path);
    if (exception != known.end()) {
      if (exception->second == Known::kAbsent) {
        EXPECT_EQ(it, files.end());
      } else {
        ASSERT_NE(it, files.end());
        EXPECT_EQ(fs::file_size(it->second), 0u);
      }
      continue;
    }
    ASSERT_NE(it, files.end()) << "not saved from " << image;
    EXPECT_EQ(fs::file_size(it->second), original.size);
    EXPECT_EQ(Md5(it->second), original.md5);
    ++matched;
  }
  EXPECT_EQ(matched + known.size(), originals.size());
}

TEST_F(SaveCorpus, ForensicsSamplesFat32DeletedFilesHaveTheirOriginalHashes) {
  BREVID_REQUIRE_CORPUS();
  std::string image = Image("images/forensics-samples/fs.vfat.xz");
  ASSERT_FALSE(image.empty());
  std::string target = SaveVolume(image, 0, Target("vfat"), {true, true, false});
  CheckForensicsSample(image, target,
                       {
                           // Their entries lie in a second cluster of the deleted folder pic2,
                           // which the walk cannot reach (TSK shows them as orphans).
                           {"pic2/d-debian.ppm", Known::kAbsent},
                           {"pic2/d-debian.xcf", Known::kAbsent},
                       });
}

TEST_F(SaveCorpus, ForensicsSamplesNtfsDeletedFilesHaveTheirOriginalHashes) {
  BREVID_REQUIRE_CORPUS();
  std::string image = Image("images/forensics-samples/fs.ntfs.xz");
  ASSERT_FALSE(image.empty());
  std::string target = SaveVolume(image, 0, Target("ntfs"), {true, true, false});
  CheckForensicsSample(image, target, {});
}

std::string Untagged(const std::string& html) {
  return std::regex_replace(html, std::regex("<[^>]*>"), " ");
}

// The answer key's table of recoverable files: name (with "\"), size, MD5.
std::map<std::string, Original> AnswerKey(const std::string& html) {
  static const std::regex kRow("\\\\([A-Za-z0-9_.:\\\\]+)\\s+([0-9]+)\\s+([0-9a-f]{32})");
  std::map<std::string, Original> key;
  std::string text = Untagged(html);
  for (std::sregex_iterator it(text.begin(), text.end(), kRow), end; it != end; ++it)
    key[(*it)[1].str()] = {(*it)[3].str(), std::stoull((*it)[2].str())};
  return key;
}

TEST_F(SaveCorpus, Dftt6FatUndeleteMatchesItsAnswerKey) {
  BREVID_REQUIRE_CORPUS();
  std::string image = Image("images/dftt/6-fat-undel.dd");
  ASSERT_FALSE(image.empty());
  std::string html =
      ReadText(test::CorpusDir() + "/images/dftt/answer-keys/6-undel-fat.index.html");
  std::map<std::string, Original> key = AnswerKey(html);
  ASSERT_EQ(key.size(), 6u);
  // The key also gives what a consecutive copy from the first cluster yields
  // for the fragmented files, which is what a deleted FAT file gets here.
  static const std::regex kConsecutive("\\\\([A-Za-z0-9_.]+)\\s+([0-9a-f]{32})");
  std::string rest = Untagged(html.substr(html.find("Incorrect MD5")));
  std::map<std::string, std::string> consecutive;
  for (std::sregex_iterator it(rest.begin(), rest.end(), kConsecutive), end; it != end; ++it)
    consecutive[(*it)[1].str()] = (*it)[2].str();
  ASSERT_EQ(consecutive.size(), 3u);

  const std::string del = "_";
  const std::string dir1 = AnsiToUtf8(del + "IR1");
  const std::map<std::string, std::string> ours = {
      {"sing.dat", AnsiToUtf8(del + "ING.DAT")},
      {"mult1.dat", AnsiToUtf8(del + "ULT1.DAT")},
      {"frag1.dat", AnsiToUtf8(del + "RAG1.DAT")},
      {"frag2.dat", AnsiToUtf8(del + "RAG2.DAT")},
      {"dir1\\mult2.dat", dir1 + "/MULT2.DAT"},
      {"dir1\\dir2\\frag3.dat", dir1 + "/DIR2/FRAG3.DAT"},
  };
  // The entries inside the deleted dir1 were not marked deleted themselves:
  // they are normal files, copied consecutively only with the FAT switch off.
  std::string target = SaveVolume(image, 0, Target("nofat"), {false, true, true});
  std::map<std::string, std::string> files = FilesUnder(target);
  for (const auto& [name, original] : key) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(ours.count(name));
    auto it = files.find(kRoot + ours.at(name));
    ASSERT_NE(it, files.end());
    EXPECT_EQ(fs::file_size(it->second), original.size);
    std::string base = name.substr(name.rfind('\\') + 1);
    EXPECT_EQ(Md5(it->second), consecutive.count(base) ? consecutive[base] : original.md5);
  }

  // With the FAT switch on, their chains (freed at deletion) end after the
  // first cluster.
  std::string withFat = SaveVolume(image, 0, Target("fat"), {true, true, true});
  files = FilesUnder(withFat);
  for (const char* name : {"dir1\\mult2.dat", "dir1\\dir2\\frag3.dat"}) {
    auto it = files.find(kRoot + ours.at(name));
    ASSERT_NE(it, files.end()) << name;
    EXPECT_EQ(fs::file_size(it->second), 1024u) << name;
  }
  EXPECT_EQ(Md5(files[kRoot + ours.at("sing.dat")]), key["sing.dat"].md5);
  EXPECT_EQ(Md5(files[kRoot + ours.at("mult1.dat")]), key["mult1.dat"].md5);
}

TEST_F(SaveCorpus, Dftt7NtfsUndeleteMatchesItsAnswerKey) {
  BREVID_REQUIRE_CORPUS();
  std::string image = Image("images/dftt/7-ntfs-undel.dd");
  ASSERT_FALSE(image.empty());
  std::map<std::string, Original> key =
      AnswerKey(ReadText(test::CorpusDir() + "/images/dftt/answer-keys/7-undel-ntfs.index.html"));
  ASSERT_EQ(key.size(), 9u);
  std::string target = SaveVolume(image, 0, Target("ntfs"), {true, true, false});
  std::map<std::string, std::string> byName;
  for (const auto& [path, full] : FilesUnder(target)) byName[BaseName(path)] = full;
  int matched = 0;
  for (const auto& [name, original] : key) {
    SCOPED_TRACE(name);
    std::string base = name.substr(name.rfind('\\') + 1);
    if (base.find(':') != std::string::npos) {
      // Only a file's unnamed data is saved; a named stream has no output.
      EXPECT_FALSE(byName.count(base));
      continue;
    }
    // sing2.dat's folder record was reused, so it is found under the
    // scattered folder; every other file under its own path.
    auto it = byName.find(base);
    ASSERT_NE(it, byName.end());
    if (base != "sing2.dat") {
      std::string path = name;
      std::replace(path.begin(), path.end(), '\\', '/');
      EXPECT_EQ(it->second, target + "/" + kRoot + path);
    }
    EXPECT_EQ(fs::file_size(it->second), original.size);
    EXPECT_EQ(Md5(it->second), original.md5);
    ++matched;
  }
  EXPECT_EQ(matched, 8);
}

}  // namespace
}  // namespace brevid
