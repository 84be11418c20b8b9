#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/codepage.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

TEST(FileSystem, FoldersWithChineseNamesAreMadeInUtf8) {
  std::string dir = test::ScratchDir("folders");
  std::string ansi = JoinPath(dir, Ansi("恢复的文件"));
  EXPECT_FALSE(PathExists(ansi));
  EXPECT_TRUE(CreateFolder(ansi));
  EXPECT_TRUE(CreateFolder(ansi));  // already there counts as made
  EXPECT_TRUE(IsFolder(dir + "/" + Ansi("恢复的文件")));
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/恢复的文件"));  // stored as UTF-8
  EXPECT_FALSE(CreateFolder(JoinPath(dir, "missing/child")));
}

TEST(FileSystem, JoinsPathsAndAsksForFreeSpace) {
  EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
  EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(JoinPath("", "b"), "b");
  EXPECT_EQ(FileNameOf("/x/y/disk.img"), "disk.img");
  ASSERT_TRUE(FreeSpace("/tmp").has_value());
  EXPECT_GT(*FreeSpace("/tmp"), 0u);
  EXPECT_FALSE(FreeSpace("/nonexistent/brevid").has_value());
}

}  // namespace
}  // namespace brevid
