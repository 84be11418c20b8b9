// `brevid save` as a user runs it, on demo.img (tools/README.md lists what
// it holds; every line of a file names the file).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/codepage.h"
#include "support/file_bytes.h"
#include "support/file_hash.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

using test::FilesUnder;
using test::ReadAt;
using test::ReadFile;
using test::WriteAt;
using test::WriteFile;

namespace fs = std::filesystem;

const std::string kRoot = "根目录/";

std::string Brevid(const std::string& args) { return "'" + test::CliPath() + "' " + args; }

std::string Lines(const std::string& tag, int count) {
  std::string s;
  for (int i = 1; i <= count; ++i) s += Format("%s line %04d of %04d\n", tag.c_str(), i, count);
  return s;
}

bool NtfsHasDeletions() {
  std::ifstream in(test::FixturePath("manifest.txt"));
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("demo.img\t", 0) == 0) return line.substr(line.rfind('\t') + 1) == "ntfs=fuse";
  return false;
}

// The deleted files of demo.img's FAT volume, where the save puts them.
std::map<std::string, std::string> DeletedFat() {
  return {
      {kRoot + "_LDLOG.TXT", Lines("fat:/OLDLOG.TXT", 80)},
      {kRoot + "Deleted long name document.txt", Lines("fat:/Deleted long name document.txt", 120)},
      {kRoot + "已删除的报告.txt", Lines("fat:/已删除的报告.txt", 50)},
      {kRoot + "Projects/Alpha/old plan.txt", Lines("fat:/Projects/Alpha/old plan.txt", 45)},
      {kRoot + "Archive/summary 2019.txt", Lines("fat:/Archive/summary 2019.txt", 70)},
      {kRoot + "Archive/" + "_ATA.CSV", Lines("fat:/Archive/DATA.CSV", 30)},
      {kRoot + "Archive/_018/Q4 report.txt", Lines("fat:/Archive/2018/Q4 report.txt", 55)},
      {kRoot + "Archive/_018/_MPTY.TXT", ""},
  };
}

// Names first, then contents, so a failure does not print every file.
void ExpectFiles(const std::map<std::string, std::string>& got,
                 const std::map<std::string, std::string>& want) {
  std::vector<std::string> gotNames, wantNames;
  for (const auto& [path, content] : got) gotNames.push_back(path);
  for (const auto& [path, content] : want) wantNames.push_back(path);
  EXPECT_EQ(gotNames, wantNames);
  for (const auto& [path, content] : want) {
    auto it = got.find(path);
    if (it != got.end()) {
      EXPECT_TRUE(it->second == content) << path << ": " << it->second.size() << " bytes";
    }
  }
}

uint64_t Bytes(const std::map<std::string, std::string>& files) {
  uint64_t sum = 0;
  for (const auto& [path, content] : files) sum += content.size();
  return sum;
}

// Every test checks at its end that demo.img was only read.
class SaveCli : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = test::FixturePath("demo.img");
    hash_ = test::Sha256OfFile(image_);
    ASSERT_FALSE(hash_.empty());
    dir_ = test::ScratchDir(std::string("save_cli_") +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override {
    EXPECT_EQ(test::Sha256OfFile(image_), hash_) << "demo.img was written";
  }

  test::CommandResult Save(const std::string& args) {
    return test::RunCommand(Brevid("save '" + image_ + "' " + args));
  }

  std::string image_;
  std::string hash_;
  std::string dir_;
};

TEST_F(SaveCli, NoNormalRecoversExactlyTheDeletedFiles) {
  std::string out = dir_ + "/fat";
  test::CommandResult r = Save("Partition0 --to '" + out + "' --no-normal");
  ASSERT_EQ(r.status, 0) << r.err;
  std::map<std::string, std::string> want = DeletedFat();
  ExpectFiles(FilesUnder(out), want);
  EXPECT_EQ(r.out, Format("已写入 8 个文件, %llu 字节; 跳过 6 项 (未选择恢复正常文件: 6)\n",
                          static_cast<unsigned long long>(Bytes(want))));

  if (!NtfsHasDeletions()) return;
  out = dir_ + "/ntfs";
  r = Save("Partition1 --to '" + out + "' --no-normal");
  ASSERT_EQ(r.status, 0) << r.err;
  want = {
      {kRoot + "Old notes.txt", Lines("ntfs:/Old notes.txt", 150)},
      {kRoot + "删除的文件.txt", Lines("ntfs:/删除的文件.txt", 90)},
      {kRoot + "Documents/small deleted.txt", Lines("ntfs:/Documents/small deleted.txt", 5)},
      {kRoot + "Temp/cache one.txt", Lines("ntfs:/Temp/cache one.txt", 40)},
      {kRoot + "Temp/Sub/cache two.txt", Lines("ntfs:/Temp/Sub/cache two.txt", 35)},
  };
  ExpectFiles(FilesUnder(out), want);
  EXPECT_EQ(r.out, Format("已写入 5 个文件, %llu 字节; 跳过 5 项 (未选择恢复正常文件: 5)\n",
                          static_cast<unsigned long long>(Bytes(want))));
}

TEST_F(SaveCli, NoDeletedAndNoUseFatGiveTheNormalFiles) {
  std::map<std::string, std::string> want = {
      {kRoot + "README.TXT", Lines("fat:/README.TXT", 20)},
      {kRoot + "Long file name example.txt", Lines("fat:/Long file name example.txt", 60)},
      {kRoot + "报告.txt", Lines("fat:/报告.txt", 100)},
      {kRoot + "Projects/Alpha/PLAN.TXT", Lines("fat:/Projects/Alpha/plan.txt", 40)},
      {kRoot + "Projects/Alpha/Notes/Meeting notes 2020.txt",
       Lines("fat:/Projects/Alpha/Notes/Meeting notes 2020.txt", 30)},
      {kRoot + "Photos/list of photos.txt", Lines("fat:/Photos/list of photos.txt", 25)},
  };
  for (const char* extra : {"", " --no-use-fat"}) {
    SCOPED_TRACE(extra);
    std::string out = dir_ + "/out" + extra;
    test::CommandResult r = Save("Partition0 --to '" + out + "' --no-deleted" + extra);
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectFiles(FilesUnder(out), want);
    EXPECT_EQ(r.out, Format("已写入 6 个文件, %llu 字节; 跳过 8 项 (未选择恢复删除文件: 8)\n",
                            static_cast<unsigned long long>(Bytes(want))));
  }
}

TEST_F(SaveCli, ItemsAreSavedStraightIntoTheTargetUnderFreeNames) {
  std::string out = dir_ + "/out";
  // The deleted "2018" as `brevid tree` prints it, its mark as "_".
  std::string items = "'根目录/Projects/Alpha/old plan.txt' '根目录/Archive/_018'";
  test::CommandResult r = Save("Partition0 --to '" + out + "' " + items);
  ASSERT_EQ(r.status, 0) << r.err;
  r = Save("Partition0 --to '" + out + "' " + items);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string plan = Lines("fat:/Projects/Alpha/old plan.txt", 45);
  std::string report = Lines("fat:/Archive/2018/Q4 report.txt", 55);
  ExpectFiles(FilesUnder(out), {
                                   {"old plan.txt", plan},
                                   {"old plan.txt0.txt", plan},
                                   {"_018/Q4 report.txt", report},
                                   {"_018/Q4 report.txt0.txt", report},
                                   {"_018/_MPTY.TXT", ""},
                                   {"_018/_MPTY.TXT0.TXT", ""},
                               });
}

TEST_F(SaveCli, UnknownItemsVolumesAndSourcesFail) {
  std::string out = dir_ + "/out";
  test::CommandResult r = Save("Partition0 --to '" + out + "' 根目录/README.TXT 根目录/nope.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("根目录/nope.txt"), std::string::npos) << r.err;
  EXPECT_TRUE(FilesUnder(out).empty());
  EXPECT_TRUE(r.out.empty());

  r = Save("Partition7 --to '" + out + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Partition7"), std::string::npos) << r.err;

  r = test::RunCommand(Brevid("save /nonexistent/disk.img Partition0 --to '" + out + "'"));
  EXPECT_EQ(r.status, 1);
  for (const char* hostile : {"truncated.img", "empty.img", "random0.img"}) {
    r = test::RunCommand(
        Brevid("save '" + test::FixturePath(hostile) + "' Partition0 --to '" + out + "'"));
    EXPECT_EQ(r.status, 1) << hostile;
  }
  EXPECT_TRUE(FilesUnder(out).empty());

  EXPECT_EQ(Save("Partition0").status, 2);  // --to is required
  EXPECT_EQ(Save("--to '" + out + "'").status, 2);
}

// A target CP936 cannot name is refused as such, before any folder is made.
TEST_F(SaveCli, TargetOutsideTheCodePageIsRefused) {
  std::string out = dir_ + "/\u0E01";
  test::CommandResult r = Save("Partition0 --to '" + out + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("代码页"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out));
}

// The main job leaves an earlier ./recovered as it was and writes beside it.
TEST_F(SaveCli, MainJobNeverRemovesAnEarlierRecoveredFolder) {
  std::string b = dir_ + "/build", w = dir_ + "/work";
  ASSERT_EQ(test::RunCommand(
                "mkdir -p " + b + "/src/cli " + b + "/demo " + w + "/recovered && ln -s '" +
                test::CliPath() + "' " + b + "/src/cli/brevid && cp --sparse=always '" + image_ +
                "' " + b + "/demo/ && echo mine >" + w + "/recovered/keep && cd " + w +
                " && env -u BREVID_RECOVERED " + BREVID_TEST_SOURCE_DIR "/../tools/demo.sh " + b)
                .status,
            0);
  EXPECT_EQ(FilesUnder(w + "/recovered"), (std::map<std::string, std::string>{{"keep", "mine\n"}}));
  EXPECT_FALSE(FilesUnder(w + "/recovered-1").empty());
}

}  // namespace
}  // namespace brevid
