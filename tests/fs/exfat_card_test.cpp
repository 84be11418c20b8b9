// An exFAT card made by mkfs.exfat and written through exfat-fuse
// (tools/make_exfat_card.sh): its listing against The Sleuth Kit's fls, every
// saved file against its md5 from before the deletions, the same card after
// a quick reformat and with its table and boot sector wiped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

std::string Brevid(const std::string& args) { return "'" + test::CliPath() + "' " + args; }

// md5sum's lines of every file under `dir`, paths from `dir`, sorted.
std::map<std::string, std::string> Md5Under(const std::string& dir) {
  test::CommandResult r =
      test::RunCommand("cd '" + dir + "' && find . -type f -print0 | xargs -0 -r md5sum");
  std::map<std::string, std::string> sums;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    if (line.size() > 36) sums[line.substr(34)] = line.substr(0, 32);
  return sums;
}

class ExfatCard : public ::testing::Test {
 protected:
  // ctest runs each test in a process of its own, side by side: each makes
  // its own card.
  static void SetUpTestSuite() {
    dir_ = new std::string(test::ScratchDir("exfat_card_" + std::to_string(getpid())));
    test::CommandResult r = test::RunCommand(std::string(BREVID_SOURCE_DIR) +
                                             "/tools/make_exfat_card.sh " + *dir_ + "/card.img");
    status_ = r.status;
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*dir_);
    delete dir_;
  }
  void SetUp() override {
    if (status_ == 77) GTEST_SKIP() << "needs root, a loop device and exfat-fuse";
    ASSERT_EQ(status_, 0);
  }
  static std::string* dir_;
  static int status_;
};
std::string* ExfatCard::dir_ = nullptr;
int ExfatCard::status_ = -1;

TEST_F(ExfatCard, ListsWhatFlsListsAndSavesEveryByte) {
  const std::string img = *dir_ + "/card.img";
  if (!test::HaveTool("fls")) GTEST_SKIP() << "needs The Sleuth Kit";
  // fls: "r/r * 405:\tpath"; its own metadata names start with "$".
  std::set<std::string> fls;
  std::istringstream flsOut(test::RunCommand("fls -r -p -o 2048 '" + img + "'").out);
  for (std::string line; std::getline(flsOut, line);) {
    size_t tab = line.find('\t');
    std::string path = line.substr(tab + 1);
    if (path[0] == '$' || line.find("Volume Label") != std::string::npos) continue;
    fls.insert((line.find(" * ") != std::string::npos ? "deleted " : "") + path);
  }
  test::CommandResult tree = test::RunCommand(Brevid("tree --json '" + img + "' Partition0"));
  ASSERT_EQ(tree.status, 0) << tree.err;
  std::set<std::string> ours;
  std::istringstream json(tree.out);
  std::string kind;
  for (std::string line; std::getline(json, line);) {
    if (line.find("\"kind\": ") != std::string::npos) kind = line.substr(line.find(':') + 2, 1);
    size_t at = line.find("\"path\": \"根目录/");
    if (at == std::string::npos) continue;
    std::string path = line.substr(at + 19, line.rfind('"') - at - 19);
    ours.insert((kind == "1" || kind == "2" ? "deleted " : "") + path);
  }
  EXPECT_EQ(ours, fls);

  const std::string out = *dir_ + "/saved";
  test::CommandResult save = test::RunCommand(Brevid("save '" + img + "' Partition0 --to " + out));
  // The deleted file written in turns with another had a chain: read as one
  // run, it is listed as not sure to be whole, so the run is not whole.
  EXPECT_EQ(save.status, 1);
  EXPECT_NE(save.err.find("frag_gone.bin"), std::string::npos) << save.err;
  std::map<std::string, std::string> saved = Md5Under(out + "/根目录");
  std::istringstream md5(test::RunCommand("cat '" + *dir_ + "/card.md5'").out);
  for (std::string line; std::getline(md5, line);) {
    std::string path = line.substr(34);
    if (path == "./frag_gone.bin") continue;
    EXPECT_EQ(saved[path], line.substr(0, 32)) << path;
  }
}

TEST_F(ExfatCard, QuickReformatKeepsTheOldFoldersFiles) {
  const std::string img = *dir_ + "/card-reformat.img";
  const std::string out = *dir_ + "/reformat";
  test::CommandResult save =
      test::RunCommand(Brevid("save '" + img + "' Partition0 --format --to " + out));
  ASSERT_EQ(save.status, 0) << save.err;
  // The new root took the old root's cluster; the folders below it remain.
  std::map<std::string, std::string> saved = Md5Under(out + "/零散目录");
  std::map<std::string, std::string> want = {
      {"./100CARD/IMG_0001.JPG", "DCIM/100CARD/IMG_0001.JPG"},
      {"./old/trip/day2.dat", "photos/old/trip/day2.dat"},
      {"./会议记录 二〇二六年.txt", "文档/会议记录 二〇二六年.txt"}};
  std::string md5 = test::RunCommand("cat '" + *dir_ + "/card.md5'").out;
  for (const auto& [got, was] : want) {
    size_t at = md5.find("  ./" + was + "\n");
    ASSERT_NE(at, std::string::npos) << was;
    EXPECT_EQ(saved[got], md5.substr(at - 32, 32)) << got;
  }
}

TEST_F(ExfatCard, WipedTableAndBootSectorFoundFromTheBackup) {
  const std::string img = *dir_ + "/card-wiped.img";
  const std::string results = *dir_ + "/wiped.qel_scn";
  for (const char* mode : {"", "--precise "}) {
    test::CommandResult found = test::RunCommand(
        Brevid(std::string("find-partitions ") + mode + "'" + img + "' --results " + results));
    ASSERT_EQ(found.status, 0) << found.err;
    EXPECT_NE(found.out.find("exFAT     1048576   45.0 MB"), std::string::npos) << found.out;
  }
  test::CommandResult tree =
      test::RunCommand(Brevid("tree '" + img + "' Partition0 --results " + results));
  EXPECT_NE(tree.out.find("IMG_0001.JPG"), std::string::npos) << tree.out << tree.err;
}

}  // namespace
}  // namespace brevid
