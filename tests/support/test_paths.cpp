#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace brevid::test {

std::string FixturePath(const std::string& name) {
  return std::string(BREVID_FIXTURE_DIR) + "/" + name;
}

std::string CorpusDir() {
  std::error_code ec;
  return fs::is_directory(BREVID_CORPUS_DIR "/images", ec) ? BREVID_CORPUS_DIR : "";
}

static bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string UnpackCorpus(const std::string& relativePath, const std::string& member) {
  if (CorpusDir().empty()) return {};
  std::string source = CorpusDir() + "/" + relativePath;
  std::string cache =
      std::string(BREVID_CORPUS_CACHE) + "/" + fs::path(relativePath).parent_path().string();
  fs::create_directories(cache);
  std::string base = fs::path(relativePath).filename().string();
  std::string out;
  std::string command;
  if (EndsWith(base, ".gz") && !EndsWith(base, ".tar.gz")) {
    out = cache + "/" + base.substr(0, base.size() - 3);
    command =
        "gunzip -c '" + source + "' > '" + out + ".part' && mv '" + out + ".part' '" + out + "'";
  } else if (EndsWith(base, ".xz") && !EndsWith(base, ".tar.xz")) {
    out = cache + "/" + base.substr(0, base.size() - 3);
    command = "xz -dc '" + source + "' > '" + out + ".part' && mv '" + out + ".part' '" + out + "'";
  } else if (EndsWith(base, ".tgz") || EndsWith(base, ".tar.gz") || EndsWith(base, ".tar.xz")) {
    out = cache + "/" + member;
    command = "tar -xf '" + source + "' -C '" + cache + "' '" + member + "'";
  } else if (EndsWith(base, ".zip")) {
    out = cache + "/" + member;
    command = "unzip -o -q '" + source + "' '" + member + "' -d '" + cache + "'";
  } else {
    return source;
  }
  std::error_code ec;
  if (fs::exists(out, ec)) return out;
  if (std::system(command.c_str()) != 0 || !fs::exists(out, ec)) return {};
  return out;
}

std::string CliPath() { return BREVID_CLI; }

std::string ScratchDir(const std::string& name) {
  std::string dir = std::string(BREVID_CORPUS_CACHE) + "/../scratch/" + name;
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  return fs::canonical(dir).string();
}

}  // namespace brevid::test
