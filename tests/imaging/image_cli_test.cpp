// `brevid image` as a user runs it, on a file served through FUSE that fails
// chosen sectors with EIO the way a failing disk does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "support/file_bytes.h"
#include "support/image_under_test.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

std::string Brevid(const std::string& args) { return "'" + test::CliPath() + "' image " + args; }

// The system's Python, where python3-fusepy lives, before any other on the PATH.
std::string Python() {
  return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// Mounts eio_fuse.py over `backing` at `mountPoint`; unmounts when it ends.
class EioMount {
 public:
  EioMount(const std::string& backing, std::string mountPoint, const std::string& sectors)
      : mountPoint_(std::move(mountPoint)) {
    test::RunCommand(Python() + " '" + std::string(BREVID_TEST_SOURCE_DIR) +
                     "/imaging/eio_fuse.py' '" + backing + "' '" + mountPoint_ + "' " + sectors +
                     " >/dev/null 2>&1 &");
    for (int i = 0; i < 100 && !Ready(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ~EioMount() {
    test::RunCommand("fusermount -u '" + mountPoint_ + "' 2>/dev/null || umount -l '" +
                     mountPoint_ + "'");
  }
  bool Ready() const { return std::filesystem::exists(mountPoint_ + "/disk.img"); }

 private:
  std::string mountPoint_;
};

bool FuseUsable() {
  int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return test::HaveTool("fusermount") &&
         test::RunCommand(Python() + " -c 'import fusepy' 2>/dev/null || " + Python() +
                          " -c 'import fuse' 2>/dev/null")
                 .status == 0;
}

TEST(ImageCli, ListsTheSectorsAFailingDiskCannotReadAndCopiesTheRest) {
  if (!FuseUsable()) GTEST_SKIP() << "no /dev/fuse, fusermount or python3-fusepy";
  const std::string dir = test::ScratchDir("image_cli");
  std::mt19937 random(7);
  std::string bytes(3 * 1048576 + 1000, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  test::WriteFile(dir + "/backing.img", bytes);
  test::UnchangedImage unchanged(dir + "/backing.img");
  std::filesystem::create_directory(dir + "/mnt");
  const std::vector<uint64_t> bad = {5, 2100, 4100, 6145};
  {
    EioMount mount(dir + "/backing.img", dir + "/mnt", "5,2100,4100,6145");
    ASSERT_TRUE(mount.Ready());
    const std::string source = "'" + dir + "/mnt/disk.img'";
    test::CommandResult r = test::RunCommand(Brevid(
        source + " --to-file '" + dir + "/out.img' --json --bad-list '" + dir + "/bad.txt'"));
    ASSERT_EQ(r.status, 0) << r.err;
    nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["result"], "done");
    EXPECT_EQ(j["badSectors"], nlohmann::json(bad));
    EXPECT_EQ(j["bytesWritten"], bytes.size());
    std::string expected = bytes;
    for (uint64_t s : bad)
      expected.replace(s * 512, std::min<size_t>(512, bytes.size() - s * 512),
                       std::min<size_t>(512, bytes.size() - s * 512), ' ');
    EXPECT_TRUE(test::ReadFile(dir + "/out.img") == expected);
    EXPECT_EQ(test::ReadFile(dir + "/bad.txt"),
              "第1个坏扇区\t5\n第2个坏扇区\t2100\n第3个坏扇区\t4100\n第4个坏扇区\t6145\n");

    test::CommandResult text =
        test::RunCommand(Brevid(source + " --to-file '" + dir + "/out2.img'"));
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("镜像完毕"), std::string::npos);
    EXPECT_NE(text.out.find("第4个坏扇区  6145"), std::string::npos) << text.out;
  }

  // Onto the source itself: refused, exit 1; usage errors: exit 2.
  const std::string backing = "'" + dir + "/backing.img'";
  test::CommandResult self = test::RunCommand(Brevid(backing + " --to-disk " + backing));
  EXPECT_EQ(self.status, 1);
  EXPECT_NE(self.err.find("重叠"), std::string::npos) << self.err;
  EXPECT_EQ(test::RunCommand(Brevid(backing)).status, 2);
  EXPECT_EQ(test::RunCommand(Brevid(backing + " --to-file x --to-disk y")).status, 2);
  EXPECT_EQ(test::RunCommand(Brevid(backing + " --to-file x --at 3")).status, 2);
}

}  // namespace
}  // namespace brevid
