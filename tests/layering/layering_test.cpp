// Every #include between folders of src/ follows the layer table of the
// design: a layer uses only the layers below it, and the front ends only the
// tasks, the panes' model, the device records and the platform.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

// Layers in order, lowest first, each with what it may use besides itself.
const std::map<std::string, std::set<std::string>>& AllowedFolders() {
  static const std::map<std::string, std::set<std::string>> table = [] {
    std::map<std::string, std::set<std::string>> t;
    t["common"] = {};
    t["platform"] = {"common"};
    t["format"] = {"common"};  // and platform's code-page conversion, below
    t["device"] = {"common", "platform", "format"};
    t["partition"] = {"common", "platform", "format", "device"};
    t["fs"] = {"common", "platform", "format", "device", "partition"};
    t["scan"] = {"common", "platform", "format", "device", "partition", "fs"};
    t["export"] = {"common", "platform", "format", "device", "partition", "fs", "scan"};
    t["results"] = {"common", "platform", "format", "device", "partition", "fs", "scan", "export"};
    t["imaging"] = {"common", "platform", "format", "device"};
    t["tasks"] = {"common", "platform", "format", "device",  "partition",
                  "fs",     "scan",     "export", "results", "imaging"};
    t["view"] = t["tasks"];
    t["view"].insert("tasks");
    t["ui"] = {"common", "platform", "tasks", "view"};  // and the device records, below
    t["cli"] = t["ui"];
    return t;
  }();
  return table;
}

bool Allowed(const std::string& from, const std::string& header) {
  size_t slash = header.find('/');
  if (slash == std::string::npos) return true;  // a header of the same folder or a library's
  std::string to = header.substr(0, slash);
  const auto& table = AllowedFolders();
  if (!table.count(to) || to == from) return true;
  if (from == "format" && header == "platform/codepage.h") return true;
  if ((from == "ui" || from == "cli") &&
      (header == "device/disk_info.h" || header == "device/volume_info.h" ||
       header == "device/volume_names.h"))
    return true;
  return table.at(from).count(to) != 0;
}

TEST(Layering, IncludesOnlyGoDownTheLayerTable) {
  const fs::path src = fs::path(BREVID_SOURCE_DIR) / "src";
  ASSERT_TRUE(fs::is_directory(src));
  const std::regex include(R"re(^\s*#\s*include\s*"([^"]+)")re");
  std::set<std::string> folders;
  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(src)) {
    const fs::path path = entry.path();
    if (!entry.is_regular_file() || (path.extension() != ".h" && path.extension() != ".cpp"))
      continue;
    std::string from = fs::relative(path, src).begin()->string();
    ASSERT_TRUE(AllowedFolders().count(from)) << "src/" << from << " is no layer of the table";
    folders.insert(from);
    ++files;
    std::ifstream in(path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      std::smatch m;
      if (std::regex_search(line, m, include)) {
        EXPECT_TRUE(Allowed(from, m[1]))
            << fs::relative(path, src).string() << ":" << number << " includes " << m[1];
      }
    }
  }
  EXPECT_GT(files, 50u);
  EXPECT_TRUE(folders.count("format") && folders.count("tasks"));
}

TEST(Layering, TheRuleItselfRefusesAnUpwardInclude) {
  EXPECT_FALSE(Allowed("partition", "fs/volume_trees.h"));
  EXPECT_FALSE(Allowed("format", "platform/message_box.h"));
  EXPECT_FALSE(Allowed("cli", "fs/volume_trees.h"));
  EXPECT_FALSE(Allowed("imaging", "fs/file_entry.h"));
  EXPECT_TRUE(Allowed("cli", "device/disk_info.h"));
  EXPECT_TRUE(Allowed("tasks", "export/save_request.h"));
}

}  // namespace
