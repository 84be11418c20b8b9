// The scans as a user runs them: a search and a deep scan that go on in a
// result file, a found volume expanded from it, carved files listed under
// their volume and saved byte for byte, also from a disk without volumes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

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

// A Windows-style GPT disk (EFI, MSR, C:, D:, E:) with both tables wiped, D:
// a FAT32 from mkfs.fat with hidden sectors 0, E: an NTFS whose primary boot
// sector is zeroed; then the same disk failing 1 MiB inside D:.
TEST(ScanCli, WipedWindowsGptDiskEvenWithAFailingMegabyte) {
  const std::string dir = test::ScratchDir("scan_cli_gpt");
  const std::string disk = test::FixturePath("lost_gpt.img");
  test::UnchangedImage unchanged(disk);
  auto starts = [](const nlohmann::json& out) {
    std::vector<uint64_t> found;
    for (const auto& v : out["volumes"]) found.push_back(v["startSector"]);
    return found;
  };
  auto run = [&](const std::string& args) {
    test::CommandResult r = test::RunCommand(Brevid(args + " --json"));
    EXPECT_EQ(r.status, 0) << args << r.err;
    return r.status == 0 ? nlohmann::json::parse(r.out) : nlohmann::json();
  };
  const std::vector<uint64_t> all = {2048, 51200, 83968, 153600};
  EXPECT_EQ(starts(run("find-partitions '" + disk + "'")),
            std::vector<uint64_t>(all.begin(), all.begin() + 3));
  const std::string results = dir + "/gpt.qel_scn";
  EXPECT_EQ(starts(run("find-partitions --precise '" + disk + "' --results '" + results + "'")),
            all);
  test::CommandResult tree =
      test::RunCommand(Brevid("tree '" + disk + "' Partition3 --results '" + results + "'"));
  EXPECT_NE(tree.out.find("e_notes.txt"), std::string::npos) << tree.out << tree.err;
  nlohmann::json deep = run("deep-scan '" + disk + "'");
  EXPECT_EQ(starts(deep), all);
  EXPECT_EQ(deep["volumes"][2]["type"], "FAT32");

  // Rebuilt traces of the volumes an intact disk lists are not new volumes.
  const std::string demoResults = dir + "/demo.qel_scn";
  const nlohmann::json demo =
      run("deep-scan '" + test::FixturePath("demo.img") + "' --results '" + demoResults + "'");
  for (const auto& v : demo["volumes"]) EXPECT_EQ(v["overlapsListed"], v["origin"] != 0) << v;
  // A rebuilt volume keeps its FAT's length in the result file, so it saves
  // as its tree shows it.
  test::CommandResult save = test::RunCommand(Brevid("save '" + test::FixturePath("demo.img") +
                                                     "' Partition3 --results '" + demoResults +
                                                     "' --to '" + dir + "/saved'"));
  EXPECT_EQ(save.status, 0) << save.err;
  EXPECT_TRUE(std::filesystem::exists(dir + "/saved/零散目录/2/README.TXT"));

  const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fuse >= 0) ::close(fuse);
  if (fuse < 0 || !test::HaveTool("fusermount") ||
      test::RunCommand("/usr/bin/python3 -c 'import fusepy' 2>/dev/null").status != 0)
    GTEST_SKIP() << "no /dev/fuse, fusermount or python3-fusepy";
  const std::string mnt = dir + "/mnt";
  std::filesystem::create_directory(mnt);
  test::RunCommand("/usr/bin/python3 '" BREVID_TEST_SOURCE_DIR "/imaging/eio_fuse.py' '" + disk +
                   "' '" + mnt + "' 120000-122047 >/dev/null 2>&1 &");
  for (int i = 0; i < 100 && !std::filesystem::exists(mnt + "/disk.img"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  nlohmann::json precise = run("find-partitions --precise '" + mnt + "/disk.img'");
  deep = run("deep-scan '" + mnt + "/disk.img'");
  test::RunCommand("fusermount -u '" + mnt + "'");
  for (const nlohmann::json& out : {precise, deep}) {
    EXPECT_EQ(starts(out), all);
    EXPECT_EQ(out["unreadableSectors"], 2048);
  }
}

}  // namespace
}  // namespace brevid
