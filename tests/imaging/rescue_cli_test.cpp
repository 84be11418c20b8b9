// `brevid image --map` against GNU ddrescue on a failing disk served through
// FUSE: the same map and image as ddrescue's, each tool resuming the other's
// map, and a stopped run resumed without reading a finished area again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "support/file_bytes.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

std::string Python() {
  return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// The map's blocks, without the comments and status line that differ.
std::string Blocks(const std::string& map) { return map.substr(map.find("#      pos")); }

// Each read the FUSE server logged, as "offset size".
std::vector<std::pair<uint64_t, uint64_t>> Reads(const std::string& log) {
  std::vector<std::pair<uint64_t, uint64_t>> reads;
  std::istringstream in(test::ReadFile(log));
  for (uint64_t offset, size; in >> offset >> size;) reads.push_back({offset, size});
  return reads;
}

// Files of an image read from areas its map never rescued are not whole.
TEST(RescueCli, ABadMapMarksFilesReadFromUnrescuedAreas) {
  const std::string demo = "'" + test::FixturePath("demo.img") + "' ";
  const std::string dir = test::ScratchDir("bad_map"), map = dir + "/demo.map";
  // Partition0 (1 MiB to 37 MiB) unrescued past its boot sector.
  test::WriteFile(map,
                  "# Rescue Logfile\n0x00000000 +\n0x00000000 0x00100200 +\n"
                  "0x00100200 0x023FFE00 -\n0x02500000 0x01B00000 +\n");
  const std::string flag = " --bad-map '" + map + "' --json --to '" + dir;
  test::CommandResult fat =
      test::RunCommand("'" + test::CliPath() + "' save " + demo + "Partition0" + flag + "/fat'");
  EXPECT_EQ(fat.status, 1) << fat.err;
  EXPECT_FALSE(nlohmann::json::parse(fat.out)["notWhole"].empty());
  test::CommandResult ntfs =
      test::RunCommand("'" + test::CliPath() + "' save " + demo + "Partition1" + flag + "/ntfs'");
  EXPECT_EQ(ntfs.status, 0) << ntfs.err;
  // `tree --bad-map` marks exactly the files a save lists as not whole: two
  // FAT files (a live one's chain, a deleted one's clusters) and two NTFS
  // files whose records hold their content.
  auto marked = [&](const std::string& volume, const std::string& area) {
    test::WriteFile(map, "# Rescue Logfile\n0x00000000 +\n" + area + " -\n");
    const std::string cli = "'" + test::CliPath() + "' ";
    const nlohmann::json tree = nlohmann::json::parse(
        test::RunCommand(cli + "tree " + demo + volume + " --json --bad-map '" + map + "'").out);
    std::set<std::string> fromTree, fromSave;
    for (const auto& e : tree["entries"])
      if (e.value("unrescued", false)) fromTree.insert(e["path"].get<std::string>());
    std::filesystem::remove_all(dir + "/m");
    const nlohmann::json save =
        nlohmann::json::parse(test::RunCommand(cli + "save " + demo + volume + flag + "/m'").out);
    for (const auto& e : save["notWhole"])
      fromSave.insert(e["path"].get<std::string>().substr(dir.size() + 3));
    EXPECT_EQ(fromTree, fromSave) << volume;
    return fromTree.size();
  };
  EXPECT_EQ(marked("Partition0", "0x00193C00 0x00000E00"), 2u);
  EXPECT_EQ(marked("Partition1", "0x02500000 0x00100000"), 2u);
  test::WriteFile(map, "not a map\n");
  EXPECT_EQ(test::RunCommand("'" + test::CliPath() + "' save " + demo + "Partition1" + flag + "/x'")
                .status,
            1);
}

TEST(RescueCli, MatchesDdrescueAndResumesWithoutReadingFinishedAreas) {
  const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fuse >= 0) ::close(fuse);
  if (fuse < 0 || !test::HaveTool("fusermount") || !test::HaveTool("ddrescue") ||
      !test::HaveTool("ddrescuelog") ||
      test::RunCommand(Python() + " -c 'import fusepy' 2>/dev/null").status != 0)
    GTEST_SKIP() << "needs /dev/fuse, fusermount, python3-fusepy and gddrescue";
  const std::string dir = test::ScratchDir("rescue_cli"), mnt = dir + "/mnt", log = dir + "/reads";
  std::string bytes(6 * 1048576 + 1000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 >> 5);
  test::WriteFile(dir + "/backing.img", bytes);
  // Clustered bad areas, the first across a piece boundary; bad reads are slow.
  std::string bad;
  std::vector<uint64_t> badSectors;
  for (auto [from, to] :
       {std::pair<uint64_t, uint64_t>{2030, 2070}, {5000, 5003}, {7000, 7300}, {12287, 12289}})
    for (uint64_t s = from; s < to; ++s) {
      bad += (bad.empty() ? "" : ",") + std::to_string(s);
      badSectors.push_back(s);
    }
  std::filesystem::create_directory(mnt);
  test::RunCommand(Python() + " '" BREVID_TEST_SOURCE_DIR "/imaging/eio_fuse.py' '" + dir +
                   "/backing.img' '" + mnt + "' " + bad + " 0.005 '" + log + "' >/dev/null 2>&1 &");
  for (int i = 0; i < 100 && !std::filesystem::exists(mnt + "/disk.img"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string disk = "'" + mnt + "/disk.img'", brevid = "'" + test::CliPath() + "' ";
  const std::string image =
      brevid + "image " + disk + " --to-file '" + dir + "/b.img' --map '" + dir + "/b.map' --json";
  auto run = [&](const std::string& command) {
    test::WriteFile(log, "");
    return test::RunCommand(command);
  };

  test::CommandResult reference =
      run("ddrescue -d -q " + disk + " '" + dir + "/d.img' '" + dir + "/d.map'");
  // What opening the disk reads (its partition walk), apart from the rescue.
  run(brevid + "list " + disk + " >/dev/null");
  const auto walk = Reads(log);
  // Stopped with Ctrl-C after a few reads, then resumed.
  test::CommandResult stopped =
      run("sh -c '" + image + " >/dev/null & p=$!; while [ $(wc -l < " + log +
          ") -lt 30 ]; do sleep 0.02; done; kill -INT $p; wait $p'");
  const std::string stoppedMap = test::ReadFile(dir + "/b.map");
  test::CommandResult resumed = run(image);
  const auto resumedReads = Reads(log);
  const std::string map = test::ReadFile(dir + "/b.map");
  test::CommandResult listed = test::RunCommand("ddrescuelog -t '" + dir + "/b.map'");
  // ddrescue goes on from Brevid's finished map and finds nothing to do.
  test::RunCommand("cp '" + dir + "/b.img' '" + dir + "/c.img'; cp '" + dir + "/b.map' '" + dir +
                   "/c.map'");
  test::CommandResult accepted =
      run("ddrescue -d -q " + disk + " '" + dir + "/c.img' '" + dir + "/c.map'");
  const size_t ddrescueReads = Reads(log).size();
  // Brevid goes on from ddrescue's map of a copy pass alone.
  test::CommandResult partial =
      run("ddrescue -d -n -q " + disk + " '" + dir + "/p.img' '" + dir + "/p.map'");
  test::CommandResult fromDdrescue = run(brevid + "image " + disk + " --to-file '" + dir +
                                         "/p.img' --map '" + dir + "/p.map' --reverse");
  test::RunCommand("fusermount -u '" + mnt + "'");

  ASSERT_EQ(reference.status, 0) << reference.err;
  EXPECT_EQ(stopped.status, 130) << stoppedMap;
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(nlohmann::json::parse(resumed.out)["badSectors"], nlohmann::json(badSectors));
  EXPECT_TRUE(nlohmann::json::parse(resumed.out)["resumed"]);
  // Byte for byte the map and image ddrescue made, readable by ddrescuelog.
  EXPECT_EQ(Blocks(map), Blocks(test::ReadFile(dir + "/d.map")));
  EXPECT_TRUE(test::ReadFile(dir + "/b.img") == test::ReadFile(dir + "/d.img"));
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("bad-sector:   176640 B,  in      4 area(s)"), std::string::npos)
      << listed.out;
  EXPECT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_EQ(ddrescueReads, 0u);
  EXPECT_EQ(Blocks(test::ReadFile(dir + "/c.map")), Blocks(map));
  EXPECT_EQ(partial.status, 0) << partial.err;
  EXPECT_EQ(fromDdrescue.status, 0) << fromDdrescue.err;
  EXPECT_EQ(Blocks(test::ReadFile(dir + "/p.map")), Blocks(map));
  EXPECT_TRUE(test::ReadFile(dir + "/p.img") == test::ReadFile(dir + "/d.img"));

  // No read of the resumed run but the walk's touches what the stopped map
  // calls finished.
  std::istringstream blocks(Blocks(stoppedMap));
  std::string line;
  std::getline(blocks, line);
  std::vector<std::pair<uint64_t, uint64_t>> finished;
  for (std::string pos, size, status; blocks >> pos >> size >> status;)
    if (status == "+")
      finished.push_back({std::stoull(pos, nullptr, 0), std::stoull(size, nullptr, 0)});
  ASSERT_FALSE(finished.empty()) << stoppedMap;
  const std::set<std::pair<uint64_t, uint64_t>> walkReads(walk.begin(), walk.end());
  for (const auto& [offset, size] : resumedReads)
    for (const auto& [pos, length] : finished)
      EXPECT_TRUE(walkReads.count({offset, size}) || offset + size <= pos || pos + length <= offset)
          << "read " << offset << "+" << size << " in finished " << pos << "+" << length;
}

}  // namespace
}  // namespace brevid
