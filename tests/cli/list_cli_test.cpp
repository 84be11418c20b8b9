// `brevid list` as a user runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/file_hash.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

std::string Brevid(const std::string& args) { return "'" + test::CliPath() + "' " + args; }

std::string ReadExpected(const std::string& name) {
  std::ifstream in(std::string(BREVID_TEST_SOURCE_DIR) + "/cli/expected/" + name);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(ListCli, PrintsTheDiskPaneList) {
  test::CommandResult r = test::RunCommand(Brevid("list '" + test::FixturePath("mbr_ext.img") +
                                                  "' '" + test::FixturePath("gpt.img") + "'"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, ReadExpected("list_mbr_ext_gpt.txt"));
}

TEST(ListCli, JsonForScripts) {
  test::CommandResult r =
      test::RunCommand(Brevid("list --json '" + test::FixturePath("demo.img") + "'"));
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j["disks"].size(), 1u);
  const auto& disk = j["disks"][0];
  EXPECT_EQ(disk["key"], "demo.img");
  EXPECT_EQ(disk["sizeBytes"], 64u << 20);
  EXPECT_EQ(disk["size"], "64.0 MB");
  ASSERT_EQ(disk["volumes"].size(), 2u);
  EXPECT_EQ(disk["volumes"][0]["item"], "Partition0");
  EXPECT_EQ(disk["volumes"][0]["type"], "FAT32");
  EXPECT_EQ(disk["volumes"][0]["label"], "DEMO_FAT32 ");
  EXPECT_EQ(disk["volumes"][0]["start"], 2048u * 512);
  EXPECT_EQ(disk["volumes"][1]["type"], "NTFS");
  EXPECT_EQ(disk["volumes"][1]["label"], "DemoNtfs");
}

TEST(ListCli, FailuresAndBadUsage) {
  test::CommandResult missing = test::RunCommand(Brevid("list /nonexistent/disk.img"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("/nonexistent/disk.img"), std::string::npos);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_EQ(test::RunCommand(Brevid("list --no-such-option")).status, 2);
  EXPECT_EQ(test::RunCommand(Brevid("")).status, 2);
  EXPECT_EQ(test::RunCommand(Brevid("frobnicate")).status, 2);
  test::CommandResult help = test::RunCommand(Brevid("list --help"));
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--json"), std::string::npos);

  // A named pipe would block the open for ever.
  const std::string dir = test::ScratchDir("list_odd");
  ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
  test::CommandResult pipe = test::RunCommand(Brevid("list '" + dir + "/pipe'"));
  EXPECT_EQ(pipe.status, 1);
  EXPECT_NE(pipe.err.find("不是普通文件或块设备"), std::string::npos) << pipe.err;

  // Names CP936 lacks are opened and written under their own names.
  std::filesystem::copy_file(test::FixturePath("fat32_files.img"), dir + "/disk-ß.img");
  EXPECT_EQ(test::RunCommand(Brevid("list '" + dir + "/disk-ß.img'")).status, 0);
  EXPECT_EQ(test::RunCommand(Brevid("find-partitions '" + dir + "/disk-ß.img' --results '" + dir +
                                    "/scan-ß.qel_scn'"))
                .status,
            0);
  EXPECT_TRUE(std::filesystem::exists(dir + "/scan-ß.qel_scn"));

  // GPT entries with neither a name nor a known file system are still named.
  const std::string gpt = dir + "/unnamed.img";
  ASSERT_EQ(
      test::RunCommand("truncate -s 8M '" + gpt + "' && sgdisk -n 1:2048:+1M -n 2:6144:+1M '" +
                       gpt + "' && sgdisk -c 1:'' -c 2:'' '" + gpt + "'")
          .status,
      0);
  nlohmann::json listed =
      nlohmann::json::parse(test::RunCommand(Brevid("list --json '" + gpt + "'")).out);
  EXPECT_EQ(listed["disks"][0]["volumes"][0]["item"], "Partition0");
  EXPECT_EQ(listed["disks"][0]["volumes"][1]["item"], "Partition1");
}

TEST(ListCli, HostileImagesAreListedWithoutHarm) {
  for (const char* name : {"empty.img", "truncated.img", "random0.img", "ebr_loop.img",
                           "ebr_loop2.img", "gpt_entryhuge.img", "gpt_129.img"}) {
    test::CommandResult r = test::RunCommand(Brevid("list '" + test::FixturePath(name) + "'"));
    EXPECT_EQ(r.status, 0) << name << r.err;
  }
}

TEST(ListCli, SourcesAreUnchanged) {
  for (const char* name :
       {"mbr_ext.img", "gpt.img", "demo.img", "boot0_ntfs.img", "ebr_loop.img"}) {
    std::string path = test::FixturePath(name);
    std::string before = test::Sha256OfFile(path);
    ASSERT_FALSE(before.empty());
    test::RunCommand(Brevid("list '" + path + "'"));
    test::RunCommand(Brevid("list --json '" + path + "'"));
    EXPECT_EQ(test::Sha256OfFile(path), before) << name;
  }
}

}  // namespace
}  // namespace brevid
