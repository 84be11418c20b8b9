// `--results FILE` and `results show` as a user runs them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/codepage.h"
#include "results/scan_result_file.h"
#include "support/image_under_test.h"
#include "support/run_command.h"
#include "support/test_paths.h"
#include "tasks/disk_list.h"

namespace brevid {
namespace {

std::string Brevid(const std::string& args) { return "'" + test::CliPath() + "' " + args; }

TEST(ResultsCli, AFoundVolumeIsListedExpandedAndShown) {
  const std::string demo = test::FixturePath("demo.img");
  test::UnchangedImage unchanged(demo);
  const std::string dir = test::ScratchDir("results_cli");
  DiskList list;
  ASSERT_TRUE(AddImageFile(list, Utf8ToAnsi(demo)));
  DiskInfo& disk = list.front();
  VolumeInfo found = disk.volumes.at(0);
  found.name = "Partition9";
  found.origin = kOriginBootSearch;
  disk.volumes.push_back(found);
  disk.extraFound.children[4096] = {0, 10, "a,b.jpg", {}};
  ASSERT_TRUE(WriteScanResultFile(disk, dir + "/demo.qel_scn"));
  DiskInfo other;
  other.vendor = "other";
  ASSERT_TRUE(WriteScanResultFile(other, dir + "/other.qel_scn"));
  const std::string img = " '" + demo + "' --results '" + dir;

  test::CommandResult list9 = test::RunCommand(Brevid("list --json" + img + "/demo.qel_scn'"));
  ASSERT_EQ(list9.status, 0) << list9.err;
  EXPECT_EQ(nlohmann::json::parse(list9.out)["disks"][0]["volumes"].back()["name"], "Partition9");
  test::CommandResult tree9 = test::RunCommand(Brevid("tree" + img + "/demo.qel_scn' Partition9"));
  ASSERT_EQ(tree9.status, 0) << tree9.err;
  // The same tree as the table's volume, and the carved file inside it.
  std::string tree0 = test::RunCommand(Brevid("tree '" + demo + "' Partition0")).out;
  EXPECT_EQ(tree9.out.substr(0, tree0.size()), tree0);
  EXPECT_NE(tree9.out.find("a,b.jpg"), std::string::npos);

  test::CommandResult wrong = test::RunCommand(Brevid("list" + img + "/other.qel_scn'"));
  EXPECT_EQ(wrong.status, 0);
  EXPECT_NE(wrong.err.find("警告: 不是该磁盘的信息"), std::string::npos);
  EXPECT_EQ(test::RunCommand(Brevid("tree" + img + "' Partition0")).status, 1);  // a folder

  test::CommandResult show =
      test::RunCommand(Brevid("results show --json '" + dir + "/demo.qel_scn'"));
  ASSERT_EQ(show.status, 0) << show.err;
  nlohmann::json j = nlohmann::json::parse(show.out);
  EXPECT_EQ(j["key"], AnsiToUtf8(disk.Key()));
  EXPECT_EQ(j["volumes"].back()["origin"], 2);
  EXPECT_EQ(j["carved"][0]["name"], "a,b.jpg");
}

}  // namespace
}  // namespace brevid
