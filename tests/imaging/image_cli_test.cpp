// `brevid image` as a user runs it, on a file served through FUSE that fails
// chosen sectors with EIO the way a failing disk does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/source_handle.h"
#include "support/file_bytes.h"
#include "support/image_under_test.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

std::string Brevid(const std::string& args) { return "'" + test::CliPath() + "' image " + args; }

// The system's Python first: python3-fusepy lives there.
std::string Python() {
  return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

TEST(ImageCli, ListsTheSectorsAFailingDiskCannotReadAndCopiesTheRest) {
  const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fuse >= 0) ::close(fuse);
  if (fuse < 0 || !test::HaveTool("fusermount") ||
      test::RunCommand(Python() + " -c 'import fusepy' 2>/dev/null").status != 0)
    GTEST_SKIP() << "no /dev/fuse, fusermount or python3-fusepy";
  const std::string dir = test::ScratchDir("image_cli"), mnt = dir + "/mnt";
  std::string bytes(3 * 1048576 + 1000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 >> 5);
  test::WriteFile(dir + "/backing.img", bytes);
  test::UnchangedImage unchanged(dir + "/backing.img");
  std::filesystem::create_directory(mnt);
  test::RunCommand(Python() + " '" BREVID_TEST_SOURCE_DIR "/imaging/eio_fuse.py' '" + dir +
                   "/backing.img' '" + mnt + "' 5,2100,4100,6145 >/dev/null 2>&1 &");
  for (int i = 0; i < 100 && !std::filesystem::exists(mnt + "/disk.img"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string source = "'" + mnt + "/disk.img' --to-file '" + dir + "/out.img'";
  test::CommandResult json =
      test::RunCommand(Brevid(source + " --json --bad-list '" + dir + "/bad.txt'"));
  test::CommandResult text = test::RunCommand(Brevid(source));
  test::RunCommand("fusermount -u '" + mnt + "'");

  ASSERT_EQ(json.status, 0) << json.err;
  nlohmann::json j = nlohmann::json::parse(json.out);
  EXPECT_EQ(j["result"], "done");
  EXPECT_EQ(j["badSectors"], nlohmann::json({5, 2100, 4100, 6145}));
  EXPECT_EQ(j["bytesWritten"], bytes.size());
  for (size_t s : {5, 2100, 4100, 6145})
    bytes.replace(s * 512, std::min<size_t>(512, bytes.size() - s * 512),
                  std::min<size_t>(512, bytes.size() - s * 512), ' ');
  EXPECT_TRUE(test::ReadFile(dir + "/out.img") == bytes);
  EXPECT_EQ(test::ReadFile(dir + "/bad.txt"),
            "第1个坏扇区\t5\n第2个坏扇区\t2100\n第3个坏扇区\t4100\n第4个坏扇区\t6145\n");
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("镜像完毕"), std::string::npos);
  EXPECT_NE(text.out.find("第4个坏扇区  6145"), std::string::npos) << text.out;

  // Onto the source itself: refused; bad usage: exit 2.
  const std::string backing = "'" + dir + "/backing.img'";
  test::CommandResult self = test::RunCommand(Brevid(backing + " --to-disk " + backing));
  EXPECT_EQ(self.status, 1);
  EXPECT_NE(self.err.find("重叠"), std::string::npos) << self.err;
  for (const char* usage : {"", " --to-file x --to-disk y", " --to-file x --at 3"})
    EXPECT_EQ(test::RunCommand(Brevid(backing + usage)).status, 2) << usage;
}

// A failing disk seen as a block device: a buffered read would lose the
// whole page around a bad sector; each readable sector must come through.
TEST(ImageCli, ABlockDeviceLosesOnlyItsBadSectors) {
  const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fuse >= 0) ::close(fuse);
  if (fuse < 0 || ::geteuid() != 0 || !test::HaveTool("losetup") || !test::HaveTool("fusermount") ||
      test::RunCommand(Python() + " -c 'import fusepy' 2>/dev/null").status != 0)
    GTEST_SKIP() << "needs root, losetup, /dev/fuse, fusermount and python3-fusepy";
  const std::string dir = test::ScratchDir("image_blockdev"), mnt = dir + "/mnt";
  std::string bytes(2 * 1048576, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 >> 5);
  test::WriteFile(dir + "/backing.img", bytes);
  std::filesystem::create_directory(mnt);
  test::RunCommand(Python() + " '" BREVID_TEST_SOURCE_DIR "/imaging/eio_fuse.py' '" + dir +
                   "/backing.img' '" + mnt + "' 2049 >/dev/null 2>&1 &");
  for (int i = 0; i < 100 && !std::filesystem::exists(mnt + "/disk.img"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  test::CommandResult loop = test::RunCommand("losetup -f --show -r '" + mnt + "/disk.img'");
  std::string device = loop.out.substr(0, loop.out.find('\n'));
  test::CommandResult json, rescue;
  size_t got = 0, gotAcross = 0;
  bool okAcross = true;
  std::vector<uint8_t> part(3000), across(2000);
  if (loop.status == 0 && !device.empty()) {
    json = test::RunCommand(Brevid("'" + device + "' --to-file '" + dir + "/out.img' --json"));
    rescue = test::RunCommand(Brevid("'" + device + "' --to-file '" + dir +
                                     "/rescued.img' --map '" + dir + "/rescued.map'"));
    // Unaligned reads: a good span whole; one across the bad sector gives
    // the bytes before it and fails.
    SourceHandle handle = SourceHandle::Open(device);
    handle.ReadAt(100, part, &got);
    okAcross = handle.ReadAt(2047 * 512 + 100, across, &gotAcross);
    handle.Close();
    test::RunCommand("losetup -d '" + device + "'");
  }
  test::RunCommand("fusermount -u '" + mnt + "'");
  ASSERT_EQ(loop.status, 0) << loop.err;

  ASSERT_EQ(json.status, 0) << json.err;
  nlohmann::json j = nlohmann::json::parse(json.out);
  EXPECT_EQ(j["badSectors"], nlohmann::json({2049}));
  // Over a map, only the bad sector is left out, as zeros.
  EXPECT_EQ(rescue.status, 0) << rescue.err;
  const std::string map = test::ReadFile(dir + "/rescued.map");
  EXPECT_NE(
      map.find("0x00000000  0x00100200  +\n0x00100200  0x00000200  -\n0x00100400  0x000FFC00  +"),
      std::string::npos)
      << map;
  EXPECT_TRUE(test::ReadFile(dir + "/rescued.img") ==
              std::string(bytes).replace(2049 * 512, 512, 512, '\0'));
  bytes.replace(2049 * 512, 512, 512, ' ');
  EXPECT_TRUE(test::ReadFile(dir + "/out.img") == bytes);
  EXPECT_EQ(got, part.size());
  EXPECT_EQ(std::string(part.begin(), part.end()), bytes.substr(100, part.size()));
  EXPECT_FALSE(okAcross);
  EXPECT_EQ(gotAcross, 2049u * 512 - (2047 * 512 + 100));
}

}  // namespace
}  // namespace brevid
