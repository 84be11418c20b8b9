// Where tests find their images.
#pragma once

#include <string>

namespace brevid::test {

// A fixture image made by tools/make_fixtures.sh in the build tree.
std::string FixturePath(const std::string& name);

// The third-party corpus (../shared/corpus); empty when absent.
std::string CorpusDir();

// A corpus image unpacked into the build tree's cache (gz, xz, tgz, zip
// members by name); empty when the corpus is absent or unpacking failed.
// `member` names the file inside an archive when it holds several.
std::string UnpackCorpus(const std::string& relativePath, const std::string& member = "");

// The brevid binary under test.
std::string CliPath();

// A fresh, empty folder under the build tree for one test.
std::string ScratchDir(const std::string& name);

}  // namespace brevid::test

// Skips the current test when the corpus is absent, as on a fresh clone.
#define BREVID_REQUIRE_CORPUS()                                           \
  do {                                                                    \
    if (::brevid::test::CorpusDir().empty()) GTEST_SKIP() << "no corpus"; \
  } while (0)
