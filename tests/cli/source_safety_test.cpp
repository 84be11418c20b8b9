// The source is never written, by any path that reaches it, and a save that
// lost anything never ends as a success. On loop devices, mounts and a full
// file system, as root; skipped elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/codepage.h"
#include "platform/target_handle.h"
#include "platform/write_guard.h"
#include "support/file_bytes.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

namespace fs = std::filesystem;

std::string Q(const std::string& path) { return "'" + path + "'"; }
std::string Brevid(const std::string& args) { return Q(test::CliPath()) + " " + args; }

// Runs `teardown` at the end of the scope, whatever the test did.
struct Undo {
  std::string teardown;
  ~Undo() { test::RunCommand(teardown + " 2>/dev/null"); }
};

TEST(SourceSafety, LoopDevicesMountsLinksAndListsNeverReachTheSource) {
  if (::geteuid() != 0 || !test::HaveTool("losetup")) GTEST_SKIP() << "needs root and losetup";
  const std::string dir = test::ScratchDir("source_safety"), src = dir + "/src.img";
  fs::copy_file(test::FixturePath("demo.img"), src);
  const std::string before = test::ReadFile(src);
  // A file system of its own past the demo disk, mounted from the same file.
  fs::resize_file(src, before.size() + (32 << 20));
  const std::string l0 = test::RunCommand("losetup -f --show " + Q(src)).out;
  ASSERT_FALSE(l0.empty());
  const std::string loop = l0.substr(0, l0.find('\n'));
  Undo detach{"losetup -d " + loop};
  const std::string l1 =
      test::RunCommand("losetup -f --show -o " + std::to_string(before.size()) + " " + Q(src)).out;
  ASSERT_FALSE(l1.empty());
  const std::string part = l1.substr(0, l1.find('\n'));
  Undo detachPart{"losetup -d " + part};
  fs::create_directory(dir + "/m");
  ASSERT_EQ(
      test::RunCommand("mkfs.ext4 -q " + part + " && mount " + part + " " + Q(dir + "/m")).status,
      0);
  Undo unmount{"umount " + Q(dir + "/m")};
  fs::create_symlink(src, dir + "/alias.qel_scn");
  fs::create_hard_link(src, dir + "/hard.img");

  const std::string s = Q(src), m = dir + "/m";
  for (const std::string& args :
       {"image " + loop + " --to-file " + s, "image " + s + " --to-disk " + loop,
        "image " + s + " --to-disk " + loop + ",Partition1",
        "image " + s + " --to-file " + Q(dir + "/hard.img"),
        "image " + s + " --to-file " + Q(dir + "/out.img") + " --bad-list " + s,
        "image " + s + " --to-file " + Q(dir + "/out.img") + " --bad-list " + Q(dir + "/out.img"),
        "find-partitions " + s + " --results " + s,
        "deep-scan " + s + " --results " + Q(dir + "/alias.qel_scn"),
        "save " + loop + " Partition0 --to " + Q(m + "/out"),
        "save " + s + " Partition1 --to " + Q(m + "/out"),
        "image " + loop + " --to-file " + Q(m + "/copy.img")}) {
    test::CommandResult r = test::RunCommand(Brevid(args));
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_TRUE(r.err.find("目标与源重叠") != std::string::npos ||
                r.err.find("不能写到镜像目标上") != std::string::npos)
        << args << "\n"
        << r.err;
  }
  // A folder cleared for new files is asked about again once the disk it
  // lies on comes into play.
  {
    NewFilesFolder held;
    EXPECT_TRUE(TargetHandle::Open(m + "/before", TargetHandle::Mode::kCreateNew).IsOpen());
    SourcesInPlay inPlay({src});
    TargetHandle late = TargetHandle::Open(m + "/late", TargetHandle::Mode::kCreateNew);
    EXPECT_FALSE(late.IsOpen());
    EXPECT_NE(AnsiToUtf8(late.Refusal()).find("目标与源重叠"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(m + "/late"));
  fs::remove(m + "/before");
  EXPECT_FALSE(fs::exists(dir + "/out.img"));
  EXPECT_FALSE(fs::exists(m + "/out"));
  EXPECT_FALSE(fs::exists(m + "/copy.img"));
  EXPECT_TRUE(test::ReadFile(src).substr(0, before.size()) == before);
  // Elsewhere the same save goes ahead.
  EXPECT_EQ(
      test::RunCommand(Brevid("save " + loop + " Partition0 --to " + Q(dir + "/fine"))).status, 0);
  EXPECT_TRUE(fs::exists(dir + "/fine/根目录/README.TXT"));
}

TEST(SourceSafety, AFullTargetEndsInASummaryWithNoShortFileUnderItsRealName) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs";
  const std::string dir = test::ScratchDir("full_target"), full = dir + "/full";
  const std::string demo = test::FixturePath("demo.img");
  fs::create_directory(full);
  // Room for the files' bytes, not for the pages they take: writes fail
  // after the free-space test has passed.
  ASSERT_EQ(test::RunCommand("mount -t tmpfs -o size=40k tmpfs " + Q(full)).status, 0);
  Undo unmount{"umount " + Q(full)};
  test::CommandResult r =
      test::RunCommand(Brevid("save " + Q(demo) + " Partition1 --json --to " + Q(full)));
  EXPECT_EQ(r.status, 1) << r.err;
  nlohmann::json summary = nlohmann::json::parse(r.out);
  EXPECT_FALSE(summary["whole"]);
  ASSERT_FALSE(summary["notWhole"].empty());
  for (const auto& lost : summary["notWhole"]) {
    const std::string path = lost["path"];
    EXPECT_TRUE(path.ends_with(".partial") || !fs::exists(path)) << path;
  }
  const nlohmann::json tree =
      nlohmann::json::parse(test::RunCommand(Brevid("tree --json " + Q(demo) + " Partition1")).out);
  std::map<std::string, uint64_t> sizes;
  for (const auto& e : tree["entries"]) sizes[e["path"]] = e["size"];
  int whole = 0;
  for (const auto& f : fs::recursive_directory_iterator(full)) {
    const std::string name = fs::relative(f.path(), full).string();
    if (!f.is_regular_file() || name.ends_with(".partial")) continue;
    EXPECT_EQ(f.file_size(), sizes[name]) << name;
    ++whole;
  }
  EXPECT_GT(whole, 0);
}

TEST(SourceSafety, ScansRefuseAResultFileTheyWouldOverwriteOrCouldNotWriteBeforeScanning) {
  const std::string dir = test::ScratchDir("results_refused"),
                    lost = Q(test::FixturePath("lost_cyl.img"));
  test::WriteFile(dir + "/notes.txt", "my notes\n");
  ASSERT_EQ(test::RunCommand(Brevid("find-partitions " + Q(test::FixturePath("demo.img")) +
                                    " --results " + Q(dir + "/demo.qel_scn")))
                .status,
            0);
  const std::string demoResults = test::ReadFile(dir + "/demo.qel_scn");
  ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
  for (const char* results : {"notes.txt", "demo.qel_scn", "pipe", "no/such/dir.qel_scn"})
    for (const char* scan : {"find-partitions ", "deep-scan "}) {
      test::CommandResult r =
          test::RunCommand(Brevid(scan + lost + " --results " + Q(dir + "/" + results)));
      EXPECT_EQ(r.status, 1) << scan << results;
      EXPECT_TRUE(r.out.empty()) << scan << results;  // refused before scanning
    }
  EXPECT_EQ(test::ReadFile(dir + "/notes.txt"), "my notes\n");
  EXPECT_EQ(test::ReadFile(dir + "/demo.qel_scn"), demoResults);
}

}  // namespace
}  // namespace brevid
