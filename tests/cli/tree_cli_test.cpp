// `brevid tree` as a user runs it.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "support/file_bytes.h"
#include "support/image_under_test.h"
#include "support/run_command.h"
#include "support/test_paths.h"
#include "support/tool_fat.h"

namespace brevid {
namespace {

std::string Brevid(const std::string& args) { return "'" + test::CliPath() + "' " + args; }

std::string Expected(const std::string& name) {
  return test::ReadFile(std::string(BREVID_TEST_SOURCE_DIR) + "/cli/expected/" + name);
}

// The demo's NTFS half holds folders and deletions only when the generator
// could mount it through FUSE.
bool DemoNtfsFilled() {
  return test::ReadFile(test::FixturePath("manifest.txt")).find("ntfs=fuse") != std::string::npos;
}

TEST(TreeCli, PrintsTheFilePaneViewOfAFatVolume) {
  std::string demo = test::FixturePath("demo.img");
  test::UnchangedImage unchanged(demo);
  test::CommandResult r = test::RunCommand(Brevid("tree '" + demo + "' Partition0"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Expected("tree_demo_fat32.txt"));
}

TEST(TreeCli, DeletedEntriesOfAnNtfsVolumeWithTheirPaths) {
  if (!DemoNtfsFilled()) GTEST_SKIP() << "demo NTFS volume made without FUSE";
  std::string demo = test::FixturePath("demo.img");
  test::UnchangedImage unchanged(demo);
  test::CommandResult r = test::RunCommand(Brevid("tree '" + demo + "' Partition1 --deleted"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Expected("tree_demo_ntfs_deleted.txt"));
}

TEST(TreeCli, JsonListsEveryEntryWithItsPathAndNumbers) {
  if (!DemoNtfsFilled()) GTEST_SKIP() << "demo NTFS volume made without FUSE";
  test::CommandResult r =
      test::RunCommand(Brevid("tree --json '" + test::FixturePath("demo.img") + "' Partition1"));
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json j = nlohmann::json::parse(r.out);
  std::map<std::string, nlohmann::json> byPath;
  for (const auto& e : j["entries"]) byPath[e["path"]] = e;
  ASSERT_TRUE(byPath.count("根目录"));
  EXPECT_EQ(byPath["根目录"]["number"], 5);
  ASSERT_TRUE(byPath.count("根目录/Documents/Drafts/draft one.txt"));
  const auto& draft = byPath["根目录/Documents/Drafts/draft one.txt"];
  EXPECT_EQ(draft["status"], "正常文件");
  EXPECT_EQ(draft["parentNumber"], byPath["根目录/Documents/Drafts"]["number"]);
  EXPECT_EQ(byPath["根目录/Temp/Sub/cache two.txt"]["kind"], 2);
  EXPECT_TRUE(byPath.count("零散目录"));
}

TEST(TreeCli, VolumesWithoutAReaderAndUnknownVolumesFail) {
  std::string mbr = test::FixturePath("mbr_ext.img");
  test::CommandResult ext = test::RunCommand(Brevid("tree '" + mbr + "' Partition4"));
  EXPECT_EQ(ext.status, 1);
  EXPECT_NE(ext.err.find("FAT16"), std::string::npos);
  test::CommandResult none = test::RunCommand(Brevid("tree '" + mbr + "' Partition9"));
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("Partition6"), std::string::npos);  // the choices are listed
  EXPECT_EQ(test::RunCommand(Brevid("tree '" + mbr + "'")).status, 2);
}

TEST(TreeCli, HostileImagesExpandWithoutHarm) {
  for (const char* name : {"random0.img", "truncated.img", "ebr_loop.img"}) {
    test::CommandResult r =
        test::RunCommand(Brevid("list --json '" + test::FixturePath(name) + "'"));
    ASSERT_EQ(r.status, 0) << name;
    nlohmann::json listed = nlohmann::json::parse(r.out);
    for (const auto& v : listed["disks"][0]["volumes"]) {
      std::string item = v["item"];
      int status =
          test::RunCommand(Brevid("tree '" + test::FixturePath(name) + "' '" + item + "'")).status;
      EXPECT_TRUE(status == 0 || status == 1) << name << " " << item;
    }
  }
}

TEST(TreeCli, FiltersNarrowTreeAndSaveAndCatWritesWhatASaveWrites) {
  const std::string demo = "'" + test::FixturePath("demo.img") + "' Partition1";
  test::UnchangedImage unchanged(test::FixturePath("demo.img"));
  test::CommandResult r =
      test::RunCommand(Brevid("tree --json " + demo + " --name '*.TXT' --min-size 3000"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::set<std::string> paths;
  const nlohmann::json listed = nlohmann::json::parse(r.out);
  for (const auto& e : listed["entries"]) paths.insert(e["path"]);
  const std::set<std::string> big = {"根目录/Documents/Letter to Bob.txt", "根目录/年度报告.txt",
                                     "根目录/Old notes.txt", "根目录/删除的文件.txt"};
  if (DemoNtfsFilled()) {
    EXPECT_EQ(paths, big);
  }
  r = test::RunCommand(Brevid("tree --json " + demo + " --modified-after 2030-01-01"));
  EXPECT_TRUE(nlohmann::json::parse(r.out)["entries"].empty());
  r = test::RunCommand(Brevid("tree --json " + demo + " --type picture"));
  EXPECT_TRUE(nlohmann::json::parse(r.out)["entries"].empty());
  EXPECT_EQ(test::RunCommand(Brevid("tree " + demo + " --modified-before 2020-13-01")).status, 2);

  // Saved into their folders under the target; cat gives a save's bytes.
  const std::string dir = test::ScratchDir("tree_filters");
  r = test::RunCommand(
      Brevid("save " + demo + " --to '" + dir + "' --name '*.txt' --min-size 3000"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::set<std::string> saved;
  for (const auto& [path, bytes] : test::FilesUnder(dir)) saved.insert(path);
  EXPECT_EQ(saved, paths);
  r = test::RunCommand(Brevid("cat " + demo + " '根目录/年度报告.txt'"));
  EXPECT_EQ(r.status, 0) << r.err;
  if (DemoNtfsFilled()) {
    EXPECT_TRUE(r.out == test::ReadFile(dir + "/根目录/年度报告.txt"));
  }
}

// The chance each deleted file's entry gives, by name, from `tree --json`.
std::map<std::string, std::string> ChancesOf(const std::string& image, const std::string& flags) {
  test::CommandResult r =
      test::RunCommand(Brevid("tree --json '" + image + "' Partition0 " + flags));
  EXPECT_EQ(r.status, 0) << r.err;
  std::map<std::string, std::string> chances;
  const nlohmann::json listed = nlohmann::json::parse(r.out);
  for (const auto& e : listed["entries"])
    if (e["kind"] == 2) chances[e["path"]] = e["recovery"].is_null() ? "" : e["recovery"];
  return chances;
}

// A file deleted before a live file was written over its clusters, and one
// deleted afterwards, on volumes the real tools wrote: mtools (told to look
// for free clusters from the start) and ntfs-3g (with the volume filled up).
TEST(TreeCli, RecoveryChanceTellsOverwrittenFromIntactDeletedFiles) {
  const std::string dir = test::ScratchDir("recovery_chance");
  const std::string fat = dir + "/fat32.img";
  test::CommandResult r = test::RunCommand(
      "cd '" + dir +
      "' && rm -f fat32.img && head -c 4096 /dev/urandom > data && "
      "mkfs.fat -C -F 32 -s 1 -S 512 fat32.img 40000 >/dev/null && export MTOOLS_SKIP_CHECK=1 && "
      "mmd -i fat32.img ::DIR && mcopy -i fat32.img data ::OLD.BIN && "
      "mcopy -i fat32.img data ::KEPT.BIN && mdel -i fat32.img ::OLD.BIN && "
      "printf '\\377\\377\\377\\377' | dd of=fat32.img bs=1 seek=1004 conv=notrunc 2>/dev/null && "
      "mcopy -i fat32.img data ::DIR/NEW.BIN && mdel -i fat32.img ::KEPT.BIN");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::map<std::string, std::string> fatWant = {{"根目录/_LD.BIN", "overwritten"},
                                                      {"根目录/_EPT.BIN", "good"}};
  EXPECT_EQ(ChancesOf(fat, ""), fatWant);
  EXPECT_EQ(ChancesOf(fat, "--recovery good").size(), 1u);

  r = test::RunCommand(
      "cd '" + dir +
      "' && rm -rf ntfs.img mnt && mkdir mnt && truncate -s 16M ntfs.img && "
      "mkntfs -F -Q -q ntfs.img 2>/dev/null && ntfs-3g ntfs.img mnt && "
      "head -c 40960 /dev/urandom > mnt/old.bin && head -c 40960 /dev/urandom > mnt/kept.bin && "
      "touch mnt/fill && sync && rm mnt/old.bin && "
      "(dd if=/dev/zero of=mnt/fill bs=64k 2>/dev/null; true) && rm mnt/kept.bin && umount mnt");
  if (r.status != 0) GTEST_SKIP() << "no ntfs-3g mount here: " << r.err;
  const std::map<std::string, std::string> ntfsWant = {{"根目录/old.bin", "overwritten"},
                                                       {"根目录/kept.bin", "good"}};
  EXPECT_EQ(ChancesOf(dir + "/ntfs.img", ""), ntfsWant);
  EXPECT_EQ(ChancesOf(dir + "/ntfs.img", "--recovery overwritten").size(), 1u);
}

TEST(TreeCli, ControlCharactersInNamesCannotForgeLinesOrDriveTheTerminal) {
  test::ToolFat img(test::ScratchDir("tree_controls") + "/names.img", 16, 4096);
  ASSERT_TRUE(img.ok());
  img.Put("EVILNAME.TXT", "x");
  const size_t at = test::ReadFile(img.path()).find("EVILNAMETXT");
  ASSERT_NE(at, std::string::npos);
  test::WriteAt(img.path(), at, std::string("\x1b[2J\r\nAATXT", 11));
  test::CommandResult r = test::RunCommand(Brevid("tree '" + img.path() + "' Partition0"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find_first_of("\x1b\r"), std::string::npos);
  EXPECT_NE(r.out.find("?[2J??AA.TXT"), std::string::npos) << r.out;
  // JSON escapes them, and gives the name back as it stands.
  r = test::RunCommand(Brevid("tree '" + img.path() + "' Partition0 --json"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find_first_of("\x1b\r"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(r.out)["entries"][1]["name"], "\x1b[2J\r\nAA.TXT") << r.out;
}

}  // namespace
}  // namespace brevid
