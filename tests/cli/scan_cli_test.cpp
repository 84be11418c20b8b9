// The scans as a user runs them: a search and a deep scan that go on in a
// result file, a found volume expanded from it, carved files listed under
// their volume and saved byte for byte, also from a disk without volumes.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/file_bytes.h"
#include "support/image_under_test.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

std::string Brevid(const std::string& args) { return "'" + test::CliPath() + "' " + args; }

TEST(ScanCli, FoundVolumesAndCarvedFilesTravelInTheResultFile) {
  const std::string dir = test::ScratchDir("scan_cli");
  const std::string lost = test::FixturePath("lost_cyl.img");
  test::UnchangedImage unchangedLost(lost);
  const std::string results = dir + "/lost.qel_scn";
  test::CommandResult found =
      test::RunCommand(Brevid("find-partitions --json '" + lost + "' --results '" + results + "'"));
  ASSERT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(nlohmann::json::parse(found.out)["found"], 4);
  // A second run reads the first one's finds and adds nothing.
  found = test::RunCommand(
      Brevid("find-partitions --json '" + lost + "' --precise --results '" + results + "'"));
  EXPECT_EQ(nlohmann::json::parse(found.out)["found"], 0);
  test::CommandResult tree =
      test::RunCommand(Brevid("tree '" + lost + "' Partition3 --results '" + results + "'"));
  ASSERT_EQ(tree.status, 0) << tree.err;
  EXPECT_NE(tree.out.find("根目录"), std::string::npos);

  // A PDF in noise, on a disk without any volume.
  if (test::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  const std::string pdf = test::ReadFile(test::CorpusDir() + "/samples/pdf/fs_a-text.pdf");
  std::string noise(4 << 20, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
  const std::string image = dir + "/carve.img";
  test::WriteFile(image, noise);
  test::WriteAt(image, 1000 * 512, pdf + std::string(4096 - pdf.size() % 4096, '\0'));
  test::UnchangedImage unchanged(image);
  const std::string carved = dir + "/carve.qel_scn";
  test::CommandResult deep =
      test::RunCommand(Brevid("deep-scan --json '" + image + "' --results '" + carved + "'"));
  ASSERT_EQ(deep.status, 0) << deep.err;
  EXPECT_EQ(nlohmann::json::parse(deep.out)["carvedByType"]["pdf"], 1);
  const std::string out = dir + "/out";
  test::CommandResult save = test::RunCommand(
      Brevid("save '" + image + "' --extra-found --results '" + carved + "' --to '" + out + "'"));
  ASSERT_EQ(save.status, 0) << save.err;
  EXPECT_EQ(test::ReadFile(out + "/Extra Found Files/1000.pdf"), pdf);

  // Nothing carved: nothing written, nothing reported saved.
  const std::string empty = dir + "/noise.img";
  test::WriteFile(empty, noise);
  test::RunCommand(Brevid("deep-scan '" + empty + "' --results '" + dir + "/none.qel_scn'"));
  save = test::RunCommand(Brevid("save '" + empty + "' --extra-found --results '" + dir +
                                 "/none.qel_scn' --to '" + dir + "/none'"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/none/Extra Found Files")) << save.out;
}

}  // namespace
}  // namespace brevid
