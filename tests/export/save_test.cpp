// Saving recovered files: round trips on volumes that mkfs.fat, mtools and
// ntfs-3g made (checked against what was put in and against The Sleuth Kit's
// icat), volumes patched where those tools would not go (names, chains,
// sparse runs, sources that end early), and the checks of the save commands.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "common/text.h"
#include "device/disk_enumeration.h"
#include "export/fat_saver.h"
#include "export/ntfs_saver.h"
#include "export/output_files.h"
#include "fs/fat_volume.h"
#include "fs/mft_record_reader.h"
#include "fs/ntfs_volume.h"
#include "fs/volume_trees.h"
#include "partition/partition_walk.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "support/file_bytes.h"
#include "support/file_hash.h"
#include "support/run_command.h"
#include "support/test_paths.h"
#include "support/tool_fat.h"
#include "tasks/save_run.h"

namespace brevid {
namespace {

using test::FilesUnder;
using test::Le16;
using test::Le32;
using test::Poke16;
using test::Poke32;
using test::ReadAt;
using test::ReadFile;
using test::WriteAt;
using test::WriteFile;

namespace fs = std::filesystem;

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kDemoFatStart = 2048;
constexpr uint64_t kDemoFatSectors = 73728;
constexpr uint64_t kDemoNtfsStart = 75776;
const std::string kDel = "\xE5";  // first byte of a deleted short entry
const std::string kRoot = "根目录/";

// ---- bytes and files -------------------------------------------------------------

std::string U(const std::string& ansi) { return AnsiToUtf8(ansi); }

// The text make_fixtures.sh writes: every line names its file.
std::string Lines(const std::string& tag, int count) {
  std::string s;
  for (int i = 1; i <= count; ++i) s += Format("%s line %04d of %04d\n", tag.c_str(), i, count);
  return s;
}

// Bytes that differ from sector to sector, so a misplaced sector shows.
std::string Pattern(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return s;
}

::testing::AssertionResult Same(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  return ::testing::AssertionFailure()
         << "sizes " << got.size() << " and " << want.size() << ", first difference at byte " << i;
}

std::set<std::string> FoldersUnder(const std::string& dir) {
  std::set<std::string> folders;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return folders;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_directory()) folders.insert(fs::relative(e.path(), dir).generic_string());
  return folders;
}

template <class Map>
std::set<std::string> Keys(const Map& m) {
  std::set<std::string> keys;
  for (const auto& [k, v] : m) keys.insert(k);
  return keys;
}

std::string DemoNote() {
  std::ifstream in(test::FixturePath("manifest.txt"));
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("demo.img\t", 0) == 0) return line.substr(line.rfind('\t') + 1);
  return {};
}

// ---- disks as the file pane holds them ----------------------------------------------

using Opened = test::OpenedVolume;
using test::Expand;
using test::OpenWholeVolume;
using test::ToolFat;

// An image after the partition walk, with volume `index` expanded.
std::unique_ptr<Opened> OpenImage(const std::string& path, size_t index) {
  auto o = std::make_unique<Opened>();
  if (!OpenImageFile(o->disks, path, WalkPartitions)) {
    ADD_FAILURE() << "cannot open " << path;
    return nullptr;
  }
  o->disk = &o->disks.back();
  if (index >= o->disk->volumes.size()) {
    ADD_FAILURE() << path << " has no volume " << index;
    return nullptr;
  }
  o->volume = &o->disk->volumes[index];
  Expand(*o->disk, *o->volume);
  return o;
}

const FileEntry* Child(const FileEntry& folder, const std::string& ansiName) {
  for (const FileEntry& c : folder.children)
    if (c.name == ansiName) return &c;
  return nullptr;
}

const NtfsEntry* Child(const NtfsEntry& folder, const std::string& ansiName) {
  for (const NtfsEntry& c : folder.children)
    if (c.name == ansiName) return &c;
  return nullptr;
}

SaveItem ItemOf(const FileEntry& e) {
  return {e.firstCluster, e.name, FatTimeText(e.createDate, e.createTime)};
}
SaveItem ItemOf(const NtfsEntry& e) { return {e.recordNumber, e.name, NtfsTimeText(e.createTime)}; }
SaveItem ExtraFoundItem() { return {0, "Extra Found Files", "Extra Found Files"}; }

SaveCommand CommandFor(const Opened& o, const std::string& targetUtf8, SaveSwitches switches = {}) {
  return {o.disk->Key(), o.volume->name, Utf8ToAnsi(targetUtf8), switches};
}

// Records what a save sends its progress window and, when asked, presses the
// stop button at the n-th message of one kind.
class Recorder : public ProgressTarget {
 public:
  struct Message {
    uint32_t id;
    uint64_t wParam;
    uint64_t lParam;
  };
  void Send(uint32_t m, uint64_t w, uint64_t l) override { Note(m, w, l); }
  void Post(uint32_t m, uint64_t w, uint64_t l) override { Note(m, w, l); }

  size_t Count(uint32_t id) const {
    return static_cast<size_t>(std::count_if(messages.begin(), messages.end(),
                                             [&](const Message& m) { return m.id == id; }));
  }
  std::vector<uint64_t> Positions() const {
    std::vector<uint64_t> p;
    for (const Message& m : messages)
      if (m.id == kProgressSetPos) p.push_back(m.wParam);
    return p;
  }

  std::vector<Message> messages;
  ProgressRecord* record = nullptr;
  uint32_t stopOn = 0;
  int stopAt = 0;

 private:
  void Note(uint32_t m, uint64_t w, uint64_t l) {
    messages.push_back({m, w, l});
    if (m == stopOn && ++seen_ == stopAt && record) record->stop = 1;
  }
  int seen_ = 0;
};

struct Switches {
  bool useFat = true;
  bool deleted = true;
  bool normal = true;
  bool multi = false;
  bool direct = false;
  Recorder* recorder = nullptr;
  UsedClusterSet* used = nullptr;  // shared by several calls, as within one run
};

// Runs a saver on one tree node, the way the save worker does.
template <class Entry>
SaveStats SaveNode(Opened& o, const Entry& entry, const std::string& folderUtf8, Switches s = {}) {
  VolumeReader reader(*o.disk, *o.volume);
  EXPECT_TRUE(reader.Open());
  ProgressRecord progress;
  if (s.recorder) {
    progress.window = s.recorder;
    s.recorder->record = &progress;
  }
  NameRepair repair;
  UsedClusterSet own;
  SaveStats stats;
  uint64_t sinceStep = 0;
  SaveRequest r;
  r.reader = &reader;
  r.disk = o.disk;
  r.volume = o.volume;
  r.folder = Utf8ToAnsi(folderUtf8);
  r.useFat = s.useFat;
  r.includeDeleted = s.deleted;
  r.includeNormal = s.normal;
  r.direct = s.direct;
  r.multi = s.multi;
  r.progress = &progress;
  r.repair = &repair;
  r.used = s.used ? s.used : &own;
  r.stats = &stats;
  r.bytesSinceStep = &sinceStep;
  if constexpr (std::is_same_v<Entry, FileEntry>)
    SaveFatEntry(r, entry);
  else
    SaveNtfsEntry(r, entry);
  if (s.recorder) s.recorder->record = nullptr;
  return stats;
}

// "单选保存" of one item, through the command's checks and its worker.
SaveStats SaveItemNow(Opened& o, const SaveItem& item, const std::string& targetUtf8,
                      SaveSwitches switches = {}) {
  std::atomic<int> busy{0};
  SavePreparation prep =
      PrepareSingleSave(o.disks, CommandFor(o, targetUtf8, switches), item, busy);
  if (!prep.save) {
    ADD_FAILURE() << "not started: " << U(prep.refusal.statusText + prep.refusal.messageBox);
    return {};
  }
  ProgressRecord progress;
  SaveStats stats = RunSave(*prep.save, progress, busy);
  EXPECT_EQ(busy.load(), 0);
  return stats;
}

// ---- FAT volumes made by mkfs.fat and mtools ------------------------------------------

uint8_t ShortNameChecksum(std::string_view name11) {
  uint8_t sum = 0;
  for (char c : name11.substr(0, 11))
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<uint8_t>(c));
  return sum;
}

std::string ShortEntry(std::string_view name11, uint8_t attr, uint32_t cluster, uint32_t size) {
  std::string e(32, '\0');
  std::string name = std::string(name11) + std::string(11, ' ');
  e.replace(0, 11, name.substr(0, 11));
  e[11] = static_cast<char>(attr);
  Poke16(e, 14, 0x6000);  // 12:00:00
  Poke16(e, 16, 0x5021);  // 2020-01-01
  Poke16(e, 18, 0x5021);
  Poke16(e, 20, cluster >> 16);
  Poke16(e, 22, 0x6000);
  Poke16(e, 24, 0x5021);
  Poke16(e, 26, cluster & 0xFFFF);
  Poke32(e, 28, size);
  return e;
}

// A file's long-name parts (the last part first, as stored) and its short
// entry, every one starting E5 when `deleted`.
std::string FileEntries(std::u16string_view longName, std::string_view name11, uint32_t cluster,
                        uint32_t size, bool deleted) {
  static constexpr size_t kCharAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  size_t parts = (longName.size() + 12) / 13;
  std::u16string units(parts * 13, u'\xFFFF');
  units.replace(0, longName.size(), longName);
  if (longName.size() < units.size()) units[longName.size()] = 0;
  std::string out;
  for (size_t p = parts; p >= 1; --p) {
    std::string e(32, '\0');
    e[0] = deleted ? kDel[0] : static_cast<char>(p | (p == parts ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = static_cast<char>(ShortNameChecksum(name11));
    for (size_t i = 0; i < 13; ++i) Poke16(e, kCharAt[i], units[(p - 1) * 13 + i]);
    out += e;
  }
  std::string s = ShortEntry(name11, 0x20, cluster, size);
  if (deleted) s[0] = kDel[0];
  return out + s;
}

// ---- NTFS patches ---------------------------------------------------------------------

// Renames every stored $FILE_NAME `from` (in MFT records and index entries
// alike: the UTF-16 name follows its length and namespace bytes) to `to`,
// which must not be longer. Returns how many it changed.
int RenameNtfs(const std::string& image, uint64_t begin, uint64_t size, std::u16string_view from,
               std::u16string_view to) {
  std::string area = ReadAt(image, begin, size);
  std::string f(reinterpret_cast<const char*>(from.data()), from.size() * 2);
  std::string t(reinterpret_cast<const char*>(to.data()), to.size() * 2);
  int changed = 0;
  for (size_t at = area.find(f); at != std::string::npos; at = area.find(f, at + 1)) {
    if (at < 2 || static_cast<uint8_t>(area[at - 2]) != from.size()) continue;
    std::string patch(1, static_cast<char>(to.size()));
    patch += area[at - 1];
    patch += t;
    WriteAt(image, begin + at - 2, patch);
    ++changed;
  }
  return changed;
}

// ---- the test fixture -----------------------------------------------------------------

// Each test works in a scratch folder of its own and checks at the end that
// every source it read is unchanged.
class SaveTest : public ::testing::Test {
 protected:
  const std::string& Dir() {
    if (dir_.empty()) {
      const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
      std::string name = std::string("export_save_") + info->name();
      for (char& c : name)
        if (c == '/') c = '_';
      dir_ = test::ScratchDir(name);
    }
    return dir_;
  }
  // An existing, empty target folder.
  std::string Target(const std::string& name) {
    std::string t = Dir() + "/" + name;
    fs::create_directories(t);
    return t;
  }
  std::string Source(const std::string& path) {
    hashes_[path] = test::Sha256OfFile(path);
    EXPECT_FALSE(hashes_[path].empty()) << path;
    return path;
  }
  void TearDown() override {
    for (const auto& [path, hash] : hashes_)
      EXPECT_EQ(test::Sha256OfFile(path), hash) << path << " was written";
  }

 private:
  std::string dir_;
  std::map<std::string, std::string> hashes_;
};

// ---- round trips on fixtures ------------------------------------------------------------

TEST_F(SaveTest, DemoFatVolumeComesBackByteForByte) {
  auto o = OpenImage(Source(test::FixturePath("demo.img")), 0);
  ASSERT_TRUE(o);
  std::string out = Target("out");
  SaveStats stats = SaveItemNow(*o, ItemOf(TreesOf(*o->volume).fatRoot), out);

  std::map<std::string, std::string> want = {
      {kRoot + "README.TXT", Lines("fat:/README.TXT", 20)},
      {kRoot + "Long file name example.txt", Lines("fat:/Long file name example.txt", 60)},
      {kRoot + "报告.txt", Lines("fat:/报告.txt", 100)},
      {kRoot + "Projects/Alpha/PLAN.TXT", Lines("fat:/Projects/Alpha/plan.txt", 40)},
      {kRoot + "Projects/Alpha/Notes/Meeting notes 2020.txt",
       Lines("fat:/Projects/Alpha/Notes/Meeting notes 2020.txt", 30)},
      {kRoot + "Photos/list of photos.txt", Lines("fat:/Photos/list of photos.txt", 25)},
      // A deleted short name shows its mark as "_".
      {kRoot + "_LDLOG.TXT", Lines("fat:/OLDLOG.TXT", 80)},
      {kRoot + "Deleted long name document.txt", Lines("fat:/Deleted long name document.txt", 120)},
      {kRoot + "已删除的报告.txt", Lines("fat:/已删除的报告.txt", 50)},
      {kRoot + "Projects/Alpha/old plan.txt", Lines("fat:/Projects/Alpha/old plan.txt", 45)},
      {kRoot + "Archive/summary 2019.txt", Lines("fat:/Archive/summary 2019.txt", 70)},
      {kRoot + "Archive/_ATA.CSV", Lines("fat:/Archive/DATA.CSV", 30)},
      {kRoot + "Archive/_018/Q4 report.txt", Lines("fat:/Archive/2018/Q4 report.txt", 55)},
      {kRoot + "Archive/_018/_MPTY.TXT", ""},
  };
  std::map<std::string, std::string> got = FilesUnder(out);
  EXPECT_EQ(Keys(got), Keys(want));
  uint64_t bytes = 0;
  for (const auto& [path, content] : want) {
    bytes += content.size();
    if (got.count(path)) {
      EXPECT_TRUE(Same(got[path], content)) << path;
    }
  }
  EXPECT_EQ(stats.files, want.size());
  EXPECT_EQ(stats.bytes, bytes);
  EXPECT_TRUE(stats.skipped.empty());
  // The scattered folder is empty and is not made; every folder holds a file.
  EXPECT_EQ(FoldersUnder(out),
            (std::set<std::string>{"根目录", "根目录/Archive", "根目录/Archive/_018",
                                   "根目录/Photos", "根目录/Projects", "根目录/Projects/Alpha",
                                   "根目录/Projects/Alpha/Notes"}));
}

TEST_F(SaveTest, DemoNtfsVolumeComesBackByteForByte) {
  auto o = OpenImage(Source(test::FixturePath("demo.img")), 1);
  ASSERT_TRUE(o);
  std::string out = Target("out");
  SaveItemNow(*o, ItemOf(TreesOf(*o->volume).ntfsRoot), out);

  std::map<std::string, std::string> want;
  if (DemoNote() == "ntfs=fuse") {
    want = {
        // Resident: 350 and 260 bytes, written without the record's padding to 8.
        {kRoot + "Readme.txt", Lines("ntfs:/Readme.txt", 10)},
        {kRoot + "Documents/small deleted.txt", Lines("ntfs:/Documents/small deleted.txt", 5)},
        {kRoot + "年度报告.txt", Lines("ntfs:/年度报告.txt", 400)},
        {kRoot + "Empty.txt", ""},
        {kRoot + "Documents/Letter to Bob.txt", Lines("ntfs:/Documents/Letter to Bob.txt", 60)},
        {kRoot + "Documents/Drafts/draft one.txt",
         Lines("ntfs:/Documents/Drafts/draft one.txt", 20)},
        {kRoot + "Old notes.txt", Lines("ntfs:/Old notes.txt", 150)},
        {kRoot + "删除的文件.txt", Lines("ntfs:/删除的文件.txt", 90)},
        {kRoot + "Temp/cache one.txt", Lines("ntfs:/Temp/cache one.txt", 40)},
        {kRoot + "Temp/Sub/cache two.txt", Lines("ntfs:/Temp/Sub/cache two.txt", 35)},
    };
  } else {
    want = {
        {kRoot + "Readme.txt", Lines("ntfs:/Readme.txt", 10)},
        {kRoot + "年度报告.txt", Lines("ntfs:/年度报告.txt", 400)},
        {kRoot + "Letter to Bob.txt", Lines("ntfs:/Letter to Bob.txt", 60)},
        {kRoot + "Empty.txt", ""},
    };
  }
  std::map<std::string, std::string> got = FilesUnder(out);
  EXPECT_EQ(Keys(got), Keys(want));
  for (const auto& [path, content] : want)
    if (got.count(path)) {
      EXPECT_TRUE(Same(got[path], content)) << path;
    }
}

struct PutFile {
  std::string path;
  int lines;
};

// The files of tools/make_fixtures.sh's fat_files that hold text, normal and
// deleted alike; every one is contiguous and untouched after deletion.
std::vector<PutFile> FatFilesWithText() {
  std::vector<PutFile> put = {
      {"/README.TXT", 20},
      {"/Long file name.txt", 60},
      {"/报告.txt", 100},
      {"/Thai ก name.txt", 10},
      {"/lower.txt", 5},
      {"/Docs/INDEX.TXT", 10},
      {"/Docs/Level2/Level3/Level4/deep file.txt", 15},
      {"/Docs/Level2/OLD.TXT", 30},
      {"/中文目录/文件一.txt", 12},
      {"/A.B/INSIDE.TXT", 8},
      {"/Trash/TRASH1.TXT", 10},
      {"/Trash/trash long file.txt", 20},
      {"/Trash/SUB/INNER.TXT", 5},
      {"/Old long folder/kept inside.txt", 10},
      {"/Old long folder/Inner folder/deep deleted.txt", 10},
      {"/MAIN.C", 25},
      {"/Deleted long name.txt", 40},
      {"/已删除.txt", 30},
  };
  for (int i = 1; i <= 40; ++i)
    put.push_back({Format("/Many/long entry name number %02d.txt", i), 1});
  return put;
}

TEST_F(SaveTest, FilesImagesGiveBackEveryFilePut) {
  static const std::regex kFirstLine("^fat:(.*) line 0001 of ([0-9]{4})$");
  for (const char* image : {"fat16_files.img", "fat32_files.img"}) {
    SCOPED_TRACE(image);
    auto o = OpenImage(Source(test::FixturePath(image)), 0);
    ASSERT_TRUE(o);
    std::string out = Target(image);
    SaveItemNow(*o, ItemOf(TreesOf(*o->volume).fatRoot), out);

    std::map<std::string, int> recovered;
    int empty = 0;
    std::map<std::string, std::string> got = FilesUnder(out);
    for (const auto& [path, content] : got) {
      if (content.empty()) {
        ++empty;
        continue;
      }
      std::string first = content.substr(0, content.find('\n'));
      std::smatch m;
      if (!std::regex_match(first, m, kFirstLine)) {
        ADD_FAILURE() << path << " starts with " << first.substr(0, 80);
        continue;
      }
      EXPECT_TRUE(Same(content, Lines("fat:" + m[1].str(), std::stoi(m[2].str())))) << path;
      recovered[m[1].str()]++;
    }
    std::map<std::string, int> want;
    for (const PutFile& p : FatFilesWithText()) want[p.path] = 1;
    EXPECT_EQ(recovered, want);
    // "empty long name.txt" and the deleted ZERO.DEL and "zero long deleted.txt"
    // (EMPTY.DAT, short-named without a cluster, has no tree entry).
    EXPECT_EQ(empty, 3);
    for (const char* kept :
         {"Deleted long name.txt", "已删除.txt", "Trash/trash long file.txt",
          "Old long folder/Inner folder/deep deleted.txt", "Many/long entry name number 40.txt",
          "中文目录/文件一.txt", "zero long deleted.txt"})
      EXPECT_TRUE(got.count(kRoot + kept)) << kept;
  }
}

// Deleted regular files as fls lists them: address and path. Orphans and
// reallocated names are left out: their content belongs to another file.
std::vector<std::pair<std::string, std::string>> DeletedByFls(const std::string& image,
                                                              uint64_t offset) {
  static const std::regex kLine("^[-r]/r \\* ([0-9-]+):\t(.*)$");
  std::vector<std::pair<std::string, std::string>> files;
  test::CommandResult r = test::RunCommand(
      Format("fls -r -d -p -o %llu '%s'", static_cast<unsigned long long>(offset), image.c_str()));
  std::stringstream ss(r.out);
  std::string line;
  while (std::getline(ss, line)) {
    std::smatch m;
    if (std::regex_match(line, m, kLine) && m[2].str().rfind("$OrphanFiles/", 0) != 0)
      files.emplace_back(m[1].str(), m[2].str());
  }
  return files;
}

TEST_F(SaveTest, DeletedFilesMatchTheSleuthKit) {
  if (!test::HaveTool("fls") || !test::HaveTool("icat"))
    GTEST_SKIP() << "The Sleuth Kit is not installed";
  struct Case {
    const char* image;
    size_t volume;
    uint64_t offset;
  };
  bool ntfsDeletions = DemoNote() == "ntfs=fuse";
  for (Case c : {Case{"demo.img", 0, kDemoFatStart}, Case{"demo.img", 1, kDemoNtfsStart},
                 Case{"fat16_files.img", 0, 2048}, Case{"fat32_files.img", 0, 2048}}) {
    SCOPED_TRACE(std::string(c.image) + " volume " + std::to_string(c.volume));
    std::string image = Source(test::FixturePath(c.image));
    auto o = OpenImage(image, c.volume);
    ASSERT_TRUE(o);
    std::string out = Target(std::string(c.image) + std::to_string(c.volume));
    VolumeTrees& trees = TreesOf(*o->volume);
    SaveSwitches deletedOnly{true, true, false};
    if (IsNtfsType(o->volume->fsType))
      SaveItemNow(*o, ItemOf(trees.ntfsRoot), out, deletedOnly);
    else
      SaveItemNow(*o, ItemOf(trees.fatRoot), out, deletedOnly);
    std::map<std::string, std::string> ours = FilesUnder(out);
    std::multiset<std::string> contents;
    for (const auto& [path, content] : ours) contents.insert(content);

    int compared = 0;
    for (const auto& [address, path] : DeletedByFls(image, c.offset)) {
      std::string theirs =
          test::RunCommand(Format("icat -o %llu '%s' %s", static_cast<unsigned long long>(c.offset),
                                  image.c_str(), address.c_str()))
              .out;
      if (theirs.find_first_not_of('\0') == std::string::npos) continue;  // nothing recovered
      ++compared;
      // Names TSK gives as they are stored must be ours too; short names of
      // deleted FAT entries differ in their first character, so those are
      // found by content.
      auto same = ours.find(kRoot + path);
      if (same != ours.end())
        EXPECT_TRUE(Same(same->second, theirs)) << path;
      else
        EXPECT_TRUE(contents.count(theirs))
            << path << " (" << address << ") has no match among our files";
    }
    if (c.volume == 0 || ntfsDeletions) {
      EXPECT_GE(compared, 4);
    }
  }
}

TEST_F(SaveTest, FoldersAreMadeOnlyWhereAFileIsWritten) {
  auto o = OpenImage(Source(test::FixturePath("demo.img")), 0);
  ASSERT_TRUE(o);
  VolumeTrees& trees = TreesOf(*o->volume);

  std::string scattered = Target("scattered");
  SaveItemNow(*o, ItemOf(trees.fatScattered), scattered);
  EXPECT_TRUE(FilesUnder(scattered).empty());
  EXPECT_TRUE(FoldersUnder(scattered).empty());

  // Without deleted files, the deleted folder Archive holds nothing to write.
  std::string normal = Target("normal");
  SaveItemNow(*o, ItemOf(trees.fatRoot), normal, {true, false, true});
  EXPECT_EQ(FilesUnder(normal).size(), 6u);
  EXPECT_EQ(FoldersUnder(normal),
            (std::set<std::string>{"根目录", "根目录/Photos", "根目录/Projects",
                                   "根目录/Projects/Alpha", "根目录/Projects/Alpha/Notes"}));

  std::string deleted = Target("deleted");
  SaveStats stats = SaveItemNow(*o, ItemOf(trees.fatRoot), deleted, {true, true, false});
  EXPECT_EQ(FilesUnder(deleted).size(), 8u);
  EXPECT_EQ(FoldersUnder(deleted),
            (std::set<std::string>{"根目录", "根目录/Archive", "根目录/Archive/_018",
                                   "根目录/Projects", "根目录/Projects/Alpha"}));
  EXPECT_EQ(stats.skipped, (std::map<std::string, uint64_t>{{"未选择恢复正常文件", 6}}));
}

// A file where a folder has to go: its entries are passed over, the rest
// of the run goes on.
TEST_F(SaveTest, EntriesThatCannotBeWrittenAreSkipped) {
  auto o = OpenImage(Source(test::FixturePath("demo.img")), 0);
  ASSERT_TRUE(o);
  std::string out = Target("out");
  fs::create_directories(out + "/根目录");
  WriteFile(out + "/根目录/Archive", "in the way");
  SaveStats stats = SaveItemNow(*o, ItemOf(TreesOf(*o->volume).fatRoot), out);
  EXPECT_EQ(stats.skipped, (std::map<std::string, uint64_t>{{"不能创建输出文件", 4}}));
  EXPECT_EQ(stats.files, 10u);
  std::map<std::string, std::string> got = FilesUnder(out);
  EXPECT_EQ(got.size(), 11u);
  EXPECT_EQ(got[kRoot + "Archive"], "in the way");
  EXPECT_TRUE(Same(got[kRoot + "Projects/Alpha/old plan.txt"],
                   Lines("fat:/Projects/Alpha/old plan.txt", 45)));
}

TEST_F(SaveTest, SavingAgainChoosesTheNextFreeName) {
  std::string image = Source(test::FixturePath("demo.img"));
  auto fat = OpenImage(image, 0);
  auto ntfs = OpenImage(image, 1);
  ASSERT_TRUE(fat && ntfs);
  const FileEntry* readme = Child(TreesOf(*fat->volume).fatRoot, "README.TXT");
  const NtfsEntry* ntfsReadme = Child(TreesOf(*ntfs->volume).ntfsRoot, "Readme.txt");
  ASSERT_TRUE(readme && ntfsReadme);

  std::string out = Target("out");
  for (int i = 0; i < 3; ++i) {
    SaveItemNow(*fat, ItemOf(*readme), out);
    SaveItemNow(*ntfs, ItemOf(*ntfsReadme), out);
  }
  std::string fatText = Lines("fat:/README.TXT", 20);
  std::string ntfsText = Lines("ntfs:/Readme.txt", 10);
  std::map<std::string, std::string> want = {
      {"README.TXT", fatText},  {"README.TXT0.TXT", fatText},  {"README.TXT1.TXT", fatText},
      {"Readme.txt", ntfsText}, {"Readme.txt0.txt", ntfsText}, {"Readme.txt1.txt", ntfsText},
  };
  EXPECT_EQ(FilesUnder(out), want);

  // Ticked NTFS items are written over in place, cut to their own length.
  std::string ticked = Target("ticked");
  WriteFile(ticked + "/Readme.txt", std::string(1000, 'x'));
  for (int i = 0; i < 2; ++i) {
    std::atomic<int> busy{0};
    SavePreparation prep = PrepareTickedSave(ntfs->disks, CommandFor(*ntfs, ticked),
                                             {ItemOf(*ntfsReadme)}, false, busy);
    ASSERT_TRUE(prep.save);
    ProgressRecord progress;
    RunSave(*prep.save, progress, busy);
  }
  EXPECT_EQ(FilesUnder(ticked), (std::map<std::string, std::string>{{"Readme.txt", ntfsText}}));
}

TEST_F(SaveTest, NtfsFilesImageMatchesIcat) {
  std::string image = test::FixturePath("ntfs_files.img");
  if (!fs::exists(image)) GTEST_SKIP() << "ntfs_files.img is not among the fixtures";
  if (!test::HaveTool("fls") || !test::HaveTool("icat"))
    GTEST_SKIP() << "The Sleuth Kit is not installed";
  Source(image);
  auto o = OpenImage(image, 0);
  ASSERT_TRUE(o);
  ASSERT_TRUE(IsNtfsType(o->volume->fsType));
  std::string out = Target("out");
  VolumeTrees& trees = TreesOf(*o->volume);
  SaveItemNow(*o, ItemOf(trees.ntfsRoot), out);
  SaveItemNow(*o, ItemOf(trees.ntfsScattered), out);
  std::map<std::string, std::string> ours = FilesUnder(out);
  std::map<std::string, std::string> oursByName;
  for (const auto& [path, content] : ours)
    if (path.rfind("零散目录/", 0) == 0) oursByName[path.substr(path.rfind('/') + 1)] = content;

  // Every name fls gives a record; a record with several names (hard links)
  // is in the tree under one of them. Names are ours after CP936, whose
  // missing characters become "?".
  static const std::regex kLine("^[-r]/r (\\* )?([0-9]+)(-[0-9]+-[0-9]+)?:\t(.*)$");
  uint64_t offset = o->volume->start;
  test::CommandResult listing = test::RunCommand(
      Format("fls -r -p -o %llu '%s'", static_cast<unsigned long long>(offset), image.c_str()));
  std::map<std::string, std::vector<std::string>> names;
  std::map<std::string, bool> deleted;
  std::stringstream ss(listing.out);
  std::string line;
  while (std::getline(ss, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, kLine)) continue;
    std::string path = m[4].str();
    // Metadata files and named streams are not saved.
    if (path.find(':') != std::string::npos ||
        (path[0] == '$' && path.rfind("$OrphanFiles/", 0) != 0))
      continue;
    names[m[2].str()].push_back(path);
    deleted[m[2].str()] = m[1].matched;
  }
  ASSERT_GT(names.size(), 300u);
  for (const auto& [record, paths] : names) {
    SCOPED_TRACE(paths.front());
    std::string theirs =
        test::RunCommand(Format("icat -o %llu '%s' %s", static_cast<unsigned long long>(offset),
                                image.c_str(), record.c_str()))
            .out;
    if (deleted[record] && theirs.find_first_not_of('\0') == std::string::npos) continue;
    const std::string* mine = nullptr;
    for (const std::string& path : paths) {
      std::string name = AnsiToUtf8(Utf8ToAnsi(path));
      if (name.rfind("$OrphanFiles/", 0) == 0) {
        auto it = oursByName.find(name.substr(name.rfind('/') + 1));
        if (it != oursByName.end()) mine = &it->second;
      } else if (auto it = ours.find(kRoot + name); it != ours.end()) {
        mine = &it->second;
      }
    }
    if (!mine) {
      ADD_FAILURE() << "record " << record << " was not saved";
      continue;
    }
    EXPECT_TRUE(Same(*mine, theirs));
  }
}

// ---- crafted volumes -------------------------------------------------------------------

TEST_F(SaveTest, TenMiBPlusOneConsecutiveFileIsWrittenExactly) {
  ToolFat img(Dir() + "/big.img", 32, 40 * 1024);
  ASSERT_TRUE(img.ok());
  std::string data = Pattern(10 * kMiB + 1, 7);
  img.Put("BIG.BIN", data);
  img.Put("NEXT.BIN", Pattern(3000, 8));
  img.Delete("BIG.BIN");
  Source(img.path());
  auto o = img.Open();
  const FileEntry* big = Child(TreesOf(*o->volume).fatRoot, "_IG.BIN");
  ASSERT_TRUE(big);
  ASSERT_EQ(big->Kind(), kDeletedFile);

  std::string out = Dir() + "/out";
  Recorder rec;
  SaveStats stats = SaveNode(*o, *big, out, {.recorder = &rec});
  std::map<std::string, std::string> got = FilesUnder(out);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got.begin()->second.size(), 10485761u);
  EXPECT_TRUE(Same(got.begin()->second, data));
  EXPECT_EQ(stats.bytes, 10485761u);
  // Two 10 MiB reads: 10 MiB of 10 MiB + 1 is 99 %, then the last byte.
  EXPECT_EQ(rec.Positions(), (std::vector<uint64_t>{99, 100, 100}));
}

// A deleted entry may claim any size (here up to 0xFFFFFFFF bytes): the
// consecutive copy takes no more than lies before the volume's end.
TEST_F(SaveTest, ConsecutiveCopyEndsAtTheVolumeEnd) {
  ToolFat img(Dir() + "/short.img", 32, 40 * 1024);
  ASSERT_TRUE(img.ok());
  uint64_t end = fs::file_size(img.path());
  uint32_t cluster = img.ClusterAt(end - 5 * kMiB);
  img.AddEntries(FileEntries(u"long tail.bin", "LONGTA~1BIN", cluster, 0xFFFFFFFF, true) +
                 FileEntries(u"short tail.bin", "SHORTT~1BIN", cluster, 6 * kMiB, true));
  img.Write(end - 5 * kMiB, Pattern(5 * kMiB, 3));
  Source(img.path());
  auto o = img.Open();
  const FileEntry* root = &TreesOf(*o->volume).fatRoot;
  ASSERT_TRUE(Child(*root, "long tail.bin"));
  ASSERT_EQ(Child(*root, "long tail.bin")->firstCluster, cluster);

  std::string out = Dir() + "/out";
  SaveStats stats = SaveNode(*o, *root, out);
  std::string tail = Pattern(5 * kMiB, 3);
  std::map<std::string, std::string> got = FilesUnder(out);
  EXPECT_TRUE(Same(got[kRoot + "long tail.bin"], tail));
  EXPECT_TRUE(Same(got[kRoot + "short tail.bin"], tail));
  EXPECT_EQ(stats.cutAtEnd, 2u);
}

TEST_F(SaveTest, ChainCopyEndsAtGapsEndMarksAndNumbersBeyondTheTable) {
  ToolFat img(Dir() + "/chains.img", 16, 8 * 1024);
  ASSERT_TRUE(img.ok());
  std::map<std::string, std::string> data;
  for (const char* name : {"WHOLE", "GAP", "EARLY", "FAR", "LOOP"}) {
    data[name] = Pattern(1536, static_cast<uint32_t>(data.size() + 20));
    img.Put(std::string(name) + ".TXT", data[name]);
  }
  auto cluster = [&](const std::string& name) {
    return img.FirstCluster((name + "     ").substr(0, 8) + "TXT");
  };
  img.SetFat(cluster("GAP") + 1, 0);                 // a free entry in the middle
  img.SetFat(cluster("EARLY"), 0xFFFF);              // the end mark after one cluster
  img.SetFat(cluster("FAR") + 1, 0xFFF0);            // beyond the table
  img.SetFat(cluster("LOOP") + 1, cluster("LOOP"));  // back to the start: the size ends it
  Source(img.path());
  auto o = img.Open();
  const FileEntry& root = TreesOf(*o->volume).fatRoot;

  std::string out = Dir() + "/fat";
  SaveNode(*o, root, out);
  std::map<std::string, std::string> got = FilesUnder(out);
  EXPECT_TRUE(Same(got[kRoot + "WHOLE.TXT"], data["WHOLE"]));
  EXPECT_TRUE(Same(got[kRoot + "GAP.TXT"], data["GAP"].substr(0, 1024)));
  EXPECT_TRUE(Same(got[kRoot + "EARLY.TXT"], data["EARLY"].substr(0, 512)));
  EXPECT_TRUE(Same(got[kRoot + "FAR.TXT"], data["FAR"].substr(0, 1024)));
  EXPECT_TRUE(
      Same(got[kRoot + "LOOP.TXT"], data["LOOP"].substr(0, 1024) + data["LOOP"].substr(0, 512)));

  // Without the FAT the clusters are read one after the other.
  std::string plain = Dir() + "/plain";
  SaveNode(*o, root, plain, {.useFat = false});
  got = FilesUnder(plain);
  for (const auto& [name, bytes] : data)
    EXPECT_TRUE(Same(got[kRoot + name + ".TXT"], bytes)) << name;
}

TEST_F(SaveTest, StopDuringALargeCopyLeavesAPartialFileAndStartsNothingMore) {
  ToolFat img(Dir() + "/stop.img", 32, 64 * 1024);
  ASSERT_TRUE(img.ok());
  std::string big = Pattern(25 * kMiB, 11);
  img.Put("BIG.BIN", big);
  img.Put("AFTER.TXT", "after");
  Source(img.path());
  auto o = img.Open();
  const FileEntry& root = TreesOf(*o->volume).fatRoot;
  ASSERT_EQ(root.children.size(), 2u);
  ASSERT_EQ(root.children.front().name, "BIG.BIN");

  // Consecutive copy: stopped after the first 10 MiB piece.
  std::string consecutive = Dir() + "/consecutive";
  Recorder first;
  first.stopOn = kProgressSetPos;
  first.stopAt = 1;
  SaveNode(*o, root, consecutive, {.useFat = false, .recorder = &first});
  std::map<std::string, std::string> got = FilesUnder(consecutive);
  // A file cut short never keeps its real name.
  EXPECT_EQ(Keys(got), std::set<std::string>{kRoot + "BIG.BIN.partial"});
  EXPECT_TRUE(Same(got[kRoot + "BIG.BIN.partial"], big.substr(0, 10 * kMiB)));

  // Along the chain: stopped after the first read, however much it took.
  std::string chain = Dir() + "/chain";
  Recorder once;
  once.stopOn = kProgressSetPos;
  once.stopAt = 1;
  SaveNode(*o, root, chain, {.recorder = &once});
  got = FilesUnder(chain);
  EXPECT_EQ(Keys(got), std::set<std::string>{kRoot + "BIG.BIN.partial"});
  size_t kept = got[kRoot + "BIG.BIN.partial"].size();
  EXPECT_GT(kept, 0u);
  EXPECT_LT(kept, big.size());
  EXPECT_TRUE(Same(got[kRoot + "BIG.BIN.partial"], big.substr(0, kept)));

  // Ticked items: a stop in the first job starts no further job.
  std::string ticked = Target("ticked");
  std::atomic<int> busy{0};
  SavePreparation prep =
      PrepareTickedSave(o->disks, CommandFor(*o, ticked, {false, true, true}),
                        {ItemOf(root.children.front()), ItemOf(root.children.back())}, false, busy);
  ASSERT_TRUE(prep.save);
  Recorder step;
  step.stopOn = kProgressStep;
  step.stopAt = 1;
  ProgressRecord progress;
  progress.window = &step;
  step.record = &progress;
  SaveStats stats = RunSave(*prep.save, progress, busy);
  got = FilesUnder(ticked);
  EXPECT_EQ(Keys(got), std::set<std::string>{"BIG.BIN.partial"});
  EXPECT_TRUE(Same(got["BIG.BIN.partial"], big.substr(0, 10 * kMiB)));
  EXPECT_TRUE(stats.stopped);
  ASSERT_EQ(stats.notWhole.size(), 1u);
  EXPECT_EQ(stats.notWhole[0].path, ticked + "/BIG.BIN.partial");
}

TEST_F(SaveTest, FatNamesAreRepairedWithDollar) {
  ToolFat img(Dir() + "/names.img", 16, 8 * 1024);
  ASSERT_TRUE(img.ok());
  const std::vector<std::pair<std::string, std::string>> renames = {
      {"A:B*C   TXT", "A$B$C.TXT"},     {"AB\xFF     TXT", "AB$.TXT"},  // 0xFF is no CP936 byte
      {"\x81\x5CX     TXT", "乗X.TXT"},  // 0x5C here is the second byte of a character
      {"Q?\"<>|  TXT", "Q$$$$$.TXT"},   {"D/E\\F   TXT", "D$E$F.TXT"},
  };
  for (size_t i = 0; i < renames.size(); ++i) {
    std::string name = Format("N%zu.TXT", i);
    img.Put(name, "content " + name);
    img.Rename(Format("N%zu      TXT", i), renames[i].first);
  }
  Source(img.path());
  auto o = img.Open();
  std::string out = Dir() + "/out";
  SaveNode(*o, TreesOf(*o->volume).fatRoot, out);
  std::map<std::string, std::string> want;
  for (size_t i = 0; i < renames.size(); ++i)
    want[kRoot + renames[i].second] = Format("content N%zu.TXT", i);
  EXPECT_EQ(FilesUnder(out), want);
}

TEST_F(SaveTest, HostileNamesCannotLeaveTheTarget) {
  // FAT: long names "..", "../../escape.txt" and "." over files mtools wrote.
  ToolFat img(Dir() + "/dots.img", 16, 8 * 1024);
  ASSERT_TRUE(img.ok());
  img.Put("ONE.TXT", "one");
  img.Put("TWO.TXT", "two");
  img.Put("THREE.TXT", "three");
  img.AddEntries(
      FileEntries(u"..", "DOTDOT  TXT", img.FirstCluster("ONE     TXT"), 3, false) +
      FileEntries(u"../../escape.txt", "ESCAPE  TXT", img.FirstCluster("TWO     TXT"), 3, false) +
      FileEntries(u".", "DOT     TXT", img.FirstCluster("THREE   TXT"), 5, false));
  Source(img.path());
  auto o = img.Open();
  std::string fatOut = Dir() + "/fat/out";
  SaveNode(*o, TreesOf(*o->volume).fatRoot, fatOut);
  std::map<std::string, std::string> got = FilesUnder(fatOut);
  EXPECT_EQ(got[kRoot + "$$$"], "one");
  EXPECT_EQ(got[kRoot + "..$..$escape.txt"], "two");
  EXPECT_EQ(got[kRoot + "$$"], "three");
  EXPECT_EQ(got.size(), 6u);

  // NTFS: a copy of demo.img whose Readme.txt is called "../dme.txt" and
  // whose Documents folder is called "..".
  std::string copy = Dir() + "/ntfs.img";
  fs::copy_file(test::FixturePath("demo.img"), copy);
  uint64_t begin = kDemoNtfsStart * 512;
  uint64_t size = fs::file_size(copy) - begin;
  ASSERT_GE(RenameNtfs(copy, begin, size, u"Readme.txt", u"../dme.txt"), 1);
  bool folders = DemoNote() == "ntfs=fuse";
  if (folders) {
    ASSERT_GE(RenameNtfs(copy, begin, size, u"Documents", u".."), 1);
  }
  Source(copy);
  auto n = OpenImage(copy, 1);
  ASSERT_TRUE(n);
  std::string ntfsOut = Dir() + "/ntfs/out";
  SaveNode(*n, TreesOf(*n->volume).ntfsRoot, ntfsOut);
  got = FilesUnder(ntfsOut);
  EXPECT_TRUE(Same(got[kRoot + "..$dme.txt"], Lines("ntfs:/Readme.txt", 10)));
  if (folders) {
    EXPECT_TRUE(
        Same(got[kRoot + "$$$/Letter to Bob.txt"], Lines("ntfs:/Documents/Letter to Bob.txt", 60)));
  }

  // Nothing was written beside the two targets.
  std::set<std::string> written;
  for (const auto& [path, content] : FilesUnder(Dir()))
    if (path.rfind("fat/out/", 0) != 0 && path.rfind("ntfs/out/", 0) != 0) written.insert(path);
  EXPECT_EQ(written, (std::set<std::string>{"dots.img", "ntfs.img"}));
}

// Links left in the target, to a file or a folder outside, are never
// written through: the file takes a free name, the folder is skipped.
TEST_F(SaveTest, LinksInTheTargetAreNotFollowed) {
  ToolFat img(Dir() + "/one.img", 16, 8 * 1024);
  img.Put("ONE.TXT", "one");
  auto o = img.Open();
  std::string outside = Target("outside"), in = Target("in/根目录");
  WriteFile(outside + "/mine", "mine");
  fs::create_symlink(outside + "/mine", in + "/ONE.TXT");
  fs::create_symlink(outside, Target("link") + "/根目录");
  for (const char* t : {"/in", "/link"}) SaveNode(*o, TreesOf(*o->volume).fatRoot, Dir() + t);
  EXPECT_EQ(FilesUnder(outside), (std::map<std::string, std::string>{{"mine", "mine"}}));
  EXPECT_EQ(ReadFile(in + "/ONE.TXT0.TXT"), "one");
}

TEST_F(SaveTest, SparseNtfsRunIsWrittenAsZerosInItsPlace) {
  std::string copy = Dir() + "/sparse.img";
  fs::copy_file(test::FixturePath("demo.img"), copy);
  // Find 年度报告.txt's record (16400 bytes in one run of five 4 KiB
  // clusters) and make its last three clusters a hole.
  uint64_t begin = kDemoNtfsStart * 512;
  std::string area = ReadAt(copy, begin, fs::file_size(copy) - begin);
  std::u16string name = u"年度报告.txt";
  std::string pattern(reinterpret_cast<const char*>(name.data()), name.size() * 2);
  size_t record = std::string::npos;
  for (size_t at = area.find(pattern); at != std::string::npos; at = area.find(pattern, at + 1))
    if (area.compare(at / 1024 * 1024, 4, "FILE") == 0) record = at / 1024 * 1024;
  ASSERT_NE(record, std::string::npos);
  std::string rec = area.substr(record, 1024);
  size_t attr = Le16(rec, 0x14);
  while (attr + 8 < rec.size() && Le32(rec, attr) != 0x80 && Le32(rec, attr) != 0xFFFFFFFF)
    attr += Le32(rec, attr + 4);
  ASSERT_EQ(Le32(rec, attr), 0x80u);
  ASSERT_EQ(rec[attr + 8], 1) << "the data is resident";
  size_t runs = attr + Le16(rec, attr + 0x20);
  uint8_t header = static_cast<uint8_t>(rec[runs]);
  ASSERT_EQ(header & 0x0F, 1);
  ASSERT_EQ(static_cast<uint8_t>(rec[runs + 1]), 5);
  size_t offsetBytes = header >> 4;
  std::string patched = rec.substr(runs, 2 + offsetBytes);
  patched[1] = 2;
  patched += std::string("\x01\x03\x00", 3);  // three clusters without a location
  ASSERT_LE(runs + patched.size(), attr + Le32(rec, attr + 4));
  ASSERT_LT(runs + patched.size(), 510u) << "the patch would meet the record's fixup";
  WriteAt(copy, begin + record + runs, patched);
  Source(copy);

  auto o = OpenImage(copy, 1);
  ASSERT_TRUE(o);
  const NtfsEntry* report = Child(TreesOf(*o->volume).ntfsRoot, Ansi("年度报告.txt"));
  ASSERT_TRUE(report);
  std::string out = Dir() + "/out";
  SaveNode(*o, *report, out);
  std::string got = ReadFile(out + "/年度报告.txt");
  std::string text = Lines("ntfs:/年度报告.txt", 400);
  EXPECT_TRUE(Same(got, text.substr(0, 8192) + std::string(16400 - 8192, '\0')));
  if (test::HaveTool("icat")) {
    std::string theirs =
        test::RunCommand(Format("icat -o %llu '%s' %llu",
                                static_cast<unsigned long long>(kDemoNtfsStart), copy.c_str(),
                                static_cast<unsigned long long>(report->recordNumber)))
            .out;
    EXPECT_TRUE(Same(got, theirs)) << "icat";
  }
}

// Byte offset in `image` of the demo NTFS volume's MFT record named `name`.
uint64_t DemoNtfsRecord(const std::string& image, std::u16string_view name) {
  uint64_t begin = kDemoNtfsStart * 512;
  std::string area = ReadAt(image, begin, fs::file_size(image) - begin);
  std::string pattern(reinterpret_cast<const char*>(name.data()), name.size() * 2);
  for (size_t at = area.find(pattern); at != std::string::npos; at = area.find(pattern, at + 1))
    if (area.compare(at / 1024 * 1024, 4, "FILE") == 0) return begin + at / 1024 * 1024;
  return 0;
}

TEST_F(SaveTest, NtfsFileNameSizeBeyondTheDataAddsNothing) {
  std::string copy = Dir() + "/fn_size.img";
  fs::copy_file(test::FixturePath("demo.img"), copy);
  uint64_t record = DemoNtfsRecord(copy, u"年度报告.txt");
  ASSERT_NE(record, 0u);
  std::string rec = ReadAt(copy, record, 1024);
  size_t attr = Le16(rec, 0x14);
  while (attr + 8 < rec.size() && Le32(rec, attr) != 0x30) attr += Le32(rec, attr + 4);
  size_t realSize = attr + Le16(rec, attr + 0x14) + 0x30;
  ASSERT_LT(realSize + 8, 510u);
  WriteAt(copy, record + realSize, std::string("\x20\x4E\0\0\0\0\0\0", 8));  // 20000
  Source(copy);
  auto o = OpenImage(copy, 1);
  ASSERT_TRUE(o);
  const NtfsEntry* report = Child(TreesOf(*o->volume).ntfsRoot, Ansi("年度报告.txt"));
  ASSERT_TRUE(report);
  SaveNode(*o, *report, Dir() + "/out");
  EXPECT_TRUE(Same(ReadFile(Dir() + "/out/年度报告.txt"), Lines("ntfs:/年度报告.txt", 400)));
}

TEST_F(SaveTest, NtfsRunPastTheVolumeEndIsNotCopied) {
  auto o = OpenImage(Source(test::FixturePath("demo.img")), 1);
  ASSERT_TRUE(o);
  const NtfsEntry* report = Child(TreesOf(*o->volume).ntfsRoot, Ansi("年度报告.txt"));
  ASSERT_TRUE(report);
  VolumeReader reader(*o->disk, *o->volume);
  ASSERT_TRUE(reader.Open());
  MftRecordInfo info;
  ASSERT_TRUE(ReadMftRecord(reader, static_cast<uint32_t>(report->recordNumber), info,
                            TreesOf(*o->volume).mftRuns, 0));
  ASSERT_FALSE(info.runs.empty());
  // The volume now ends two clusters into the file's five.
  o->volume->sectorCount =
      (uint64_t{info.runs.begin()->second.startCluster} + 2) * o->volume->sectorsPerCluster;
  SaveNode(*o, *report, Dir() + "/out");
  std::string text = Lines("ntfs:/年度报告.txt", 400);
  EXPECT_TRUE(Same(ReadFile(Dir() + "/out/年度报告.txt"),
                   text.substr(0, 8192) + std::string(16400 - 8192, '\0')));
}

TEST_F(SaveTest, DirectModeCopiesOneExtentFromItsSector) {
  std::string image = Source(test::FixturePath("demo.img"));
  auto o = OpenImage(image, 1);
  ASSERT_TRUE(o);
  uint64_t imageSectors = fs::file_size(image) / 512;
  struct Case {
    uint64_t sector;
    uint64_t size;
  };
  for (Case c : {Case{kDemoNtfsStart + 16, 1000}, Case{kDemoNtfsStart + 16, 2 * kMiB},
                 Case{kDemoNtfsStart + 16, 5 * kMiB + 3}, Case{imageSectors - 4, 2 * kMiB + 1}}) {
    SCOPED_TRACE(Format("sector %llu size %llu", static_cast<unsigned long long>(c.sector),
                        static_cast<unsigned long long>(c.size)));
    NtfsEntry e;
    e.SetKind(kNormalFile);
    e.name = "direct.bin";
    e.recordNumber = c.sector;
    e.size = c.size;
    std::string out = Dir() + Format("/%llu_%llu", static_cast<unsigned long long>(c.sector),
                                     static_cast<unsigned long long>(c.size));
    SaveNode(*o, e, out, {.direct = true});
    std::string want = ReadAt(image, c.sector * 512, c.size);
    want.resize(c.size, '\0');  // past the image's end: zeros
    EXPECT_TRUE(Same(ReadFile(out + "/direct.bin"), want));
  }
}

TEST_F(SaveTest, ExtraFoundFilesAreWrittenAtTheirExactSize) {
  std::string image = Source(test::FixturePath("demo.img"));
  auto o = OpenImage(image, 0);
  ASSERT_TRUE(o);
  const FileEntry* readme = Child(TreesOf(*o->volume).fatRoot, "README.TXT");
  ASSERT_TRUE(readme);
  uint64_t readmeSector =
      uint64_t{readme->firstCluster} * o->volume->sectorsPerCluster + o->volume->clusterBase;
  CarvedFile& found = o->disk->extraFound;
  found.name = "Extra Found Files";
  found.children[1000] = {0, 700, "before.jpg", {}};
  found.children[readmeSector] = {0, 1000, "x.jpg", {}};
  found.children[readmeSector + 8] = {0, 512, "y.doc", {}};
  // The first sector after the volume belongs to the next one.
  found.children[kDemoFatStart + kDemoFatSectors] = {0, 100, "edge.jpg", {}};
  found.children[kDemoFatStart + kDemoFatSectors + 10] = {0, 100, "after.jpg", {}};

  std::string out = Target("out");
  std::atomic<int> busy{0};
  SavePreparation prep = PrepareSingleSave(o->disks, CommandFor(*o, out), ExtraFoundItem(), busy);
  ASSERT_TRUE(prep.save);
  EXPECT_EQ(prep.totalBytes, 1512u);
  ProgressRecord progress;
  RunSave(*prep.save, progress, busy);
  std::map<std::string, std::string> want = {
      {"Extra Found Files/x.jpg", ReadAt(image, readmeSector * 512, 1000)},
      {"Extra Found Files/y.doc", ReadAt(image, (readmeSector + 8) * 512, 512)},
  };
  ASSERT_EQ(want["Extra Found Files/x.jpg"].rfind("fat:/README.TXT line 0001", 0), 0u);
  std::map<std::string, std::string> got = FilesUnder(out);
  EXPECT_EQ(Keys(got), Keys(want));
  for (const auto& [path, content] : want) EXPECT_TRUE(Same(got[path], content)) << path;
}

// ---- output names ----------------------------------------------------------------------

TEST(SaveOutputNames, RepairReplacesTheNineCharactersAndNonCharacters) {
  NameRepair repair;
  std::string name = "a?b/c:d*e\\f\"g<h>i|j.txt";
  EXPECT_TRUE(RepairFileName(&name, repair));
  EXPECT_EQ(name, "a$b$c$d$e$f$g$h$i$j.txt");

  name = Ansi("乗報告.txt");  // trail bytes 0x5C and 0x7C belong to their characters
  std::string before = name;
  EXPECT_TRUE(RepairFileName(&name, repair));
  EXPECT_EQ(name, before);

  name = "x\xFFy";
  RepairFileName(&name, repair);
  EXPECT_EQ(name, "x$y");

  name = "end\x81";  // a lead byte without its second byte
  RepairFileName(&name, repair);
  EXPECT_EQ(name, "end$");

  NameRepair other{0, "_", 1};
  name = "a:b";
  RepairFileName(&name, other);
  EXPECT_EQ(name, "a_b");
  NameRepair manual{0, "$", 0};
  name = "a:b\xFF";
  RepairFileName(&name, manual);
  EXPECT_EQ(name, "a:b?");
}

TEST(SaveOutputNames, SafeComponentKeepsEveryNameInsideItsFolder) {
  EXPECT_EQ(SafeComponent(""), "$");
  EXPECT_EQ(SafeComponent("."), "$$");
  EXPECT_EQ(SafeComponent(".."), "$$$");
  EXPECT_EQ(SafeComponent("..."), "...");
  EXPECT_EQ(SafeComponent("../x"), "..$x");
  EXPECT_EQ(SafeComponent("/"), "$");
  EXPECT_EQ(SafeComponent(std::string("a\0b", 3)), "a$b");
  EXPECT_EQ(SafeComponent(Ansi("乗.txt")), Ansi("乗.txt"));
  EXPECT_EQ(SafeComponent("a\\b"), "a\\b");
}

TEST(SaveOutputNames, ExtensionsAndTypedExtensions) {
  EXPECT_EQ(FileExtension("PHOTO.JPG"), "jpg");
  EXPECT_EQ(FileExtension("a.tar.GZ"), "gz");
  EXPECT_EQ(FileExtension("README"), "readme");
  EXPECT_EQ(FileExtension("x."), "");
  EXPECT_EQ(FileExtension(Ansi("报告.DOC")), "doc");
  int single = 0;
  int multi = 0;
  for (const char* e : {"jpg", "jpeg", "doc", "ppt", "xls", "pdf", "mpeg", "avi", "mp4", "zip",
                        "docx", "pptx", "xlsx", "rar"}) {
    single += IsTypedExtension(e, false);
    multi += IsTypedExtension(e, true);
  }
  EXPECT_EQ(single, 14);
  EXPECT_EQ(multi, 5);
  EXPECT_TRUE(IsTypedExtension("xls", true));
  EXPECT_FALSE(IsTypedExtension("pdf", true));
  EXPECT_FALSE(IsTypedExtension("JPG", false));
  EXPECT_FALSE(IsTypedExtension("txt", false));
  EXPECT_FALSE(IsTypedExtension("", false));
}

TEST(SaveOutputNames, ANameWhoseOnlyDotLeadsHasNoExtension) {
  EXPECT_EQ(FileExtension(".jpg"), "");
  EXPECT_FALSE(IsTypedExtension(FileExtension(".jpg"), false));
}

TEST(SaveOutputNames, FreeNamesCountOnAndFoldersAreMadeOnDemand) {
  std::string dir = test::ScratchDir("export_save_free_names");
  WriteFile(dir + "/a.txt", "x");
  WriteFile(dir + "/a.txt0.txt", "x");
  int counter = 0;
  EXPECT_EQ(NextFreeName(dir + "/a.txt", &counter), dir + "/a.txt1.txt");
  EXPECT_EQ(counter, 2);
  EXPECT_EQ(NextFreeName(dir + "/a.txt", &counter), dir + "/a.txt2.txt");
  counter = 0;
  WriteFile(dir + "/noext", "x");
  EXPECT_EQ(NextFreeName(dir + "/noext", &counter), dir + "/noext0");
  // A dot in a folder name is not the file's extension.
  fs::create_directories(dir + "/v1.2");
  WriteFile(dir + "/v1.2/plain", "x");
  counter = 0;
  EXPECT_EQ(NextFreeName(dir + "/v1.2/plain", &counter), dir + "/v1.2/plain0");

  TargetHandle out;
  std::string path = dir + "/new/deeper/b.bin";
  ASSERT_TRUE(OpenOutputFile(&out, &path, &counter));
  EXPECT_EQ(path, dir + "/new/deeper/b.bin");
  EXPECT_EQ(counter, 0);
  out.Close();
  path = dir + "/a.txt";
  ASSERT_TRUE(OpenOutputFile(&out, &path, &counter));
  EXPECT_EQ(path, dir + "/a.txt1.txt");
  EXPECT_EQ(counter, 2);
  out.Close();
  EXPECT_EQ(ReadFile(dir + "/a.txt"), "x");  // the existing file is left alone

  // A file where a folder should be: nothing can be opened.
  path = dir + "/a.txt/inner.bin";
  EXPECT_FALSE(OpenOutputFile(&out, &path));
  EXPECT_FALSE(CreateDirectoryChain(dir + "/a.txt/sub"));
  EXPECT_FALSE(CreateDirectoryChain(""));
  EXPECT_TRUE(CreateDirectoryChain(dir + "/c/d/e"));
  EXPECT_TRUE(IsFolder(dir + "/c/d/e"));
}

// ---- the save commands -----------------------------------------------------------------

TEST_F(SaveTest, RefusalsComeInTheOrderTheyAreChecked) {
  auto o = OpenImage(Source(test::FixturePath("demo.img")), 0);
  ASSERT_TRUE(o);
  const FileEntry* readme = Child(TreesOf(*o->volume).fatRoot, "README.TXT");
  ASSERT_TRUE(readme);
  std::string out = Target("out");
  std::atomic<int> busy{1};
  for (const std::string& target : {out, std::string()}) {
    SavePreparation single =
        PrepareSingleSave(o->disks, CommandFor(*o, target), ItemOf(*readme), busy);
    EXPECT_FALSE(single.save);
    EXPECT_EQ(single.refusal.statusText, Ansi("警告: 请等待当前操作完成!"));
    EXPECT_EQ(single.refusal.messageBox, "");
    for (bool left : {true, false}) {
      SavePreparation ticked =
          PrepareTickedSave(o->disks, CommandFor(*o, target), {ItemOf(*readme)}, left, busy);
      EXPECT_FALSE(ticked.save);
      EXPECT_EQ(ticked.refusal.statusText, Ansi("警告: 请等待当前操作完成!"));
    }
  }
  busy = 0;
  SavePreparation single = PrepareSingleSave(o->disks, CommandFor(*o, ""), ItemOf(*readme), busy);
  EXPECT_FALSE(single.save);
  EXPECT_EQ(single.refusal.statusText, Ansi("警告: 请选择保存路径!"));
  SavePreparation ticked =
      PrepareTickedSave(o->disks, CommandFor(*o, ""), {ItemOf(*readme)}, false, busy);
  EXPECT_FALSE(ticked.save);
  EXPECT_EQ(ticked.refusal.statusText, Ansi("警告: 请选择保存路径!"));

  // Item, volume or disk not found: silently nothing.
  SaveItem missing{readme->firstCluster, readme->name, "2001-01-01 00:00:00"};
  SaveCommand wrongVolume = CommandFor(*o, out);
  wrongVolume.volumeName = "Partition9";
  SaveCommand wrongDisk = CommandFor(*o, out);
  wrongDisk.diskKey = "no such disk";
  for (const auto& [command, item] :
       {std::pair{CommandFor(*o, out), missing}, std::pair{wrongVolume, ItemOf(*readme)},
        std::pair{wrongDisk, ItemOf(*readme)}}) {
    SavePreparation p = PrepareSingleSave(o->disks, command, item, busy);
    EXPECT_FALSE(p.save);
    EXPECT_EQ(p.refusal.statusText + p.refusal.messageBox, "");
    p = PrepareTickedSave(o->disks, command, {item}, false, busy);
    EXPECT_FALSE(p.save);
    EXPECT_EQ(p.refusal.statusText + p.refusal.messageBox, "");
  }
  EXPECT_TRUE(FilesUnder(out).empty());
}

TEST(SaveSpace, NotEnoughSpaceTextShowsTheSumWithItsUnit) {
  auto text = [](const char* amount) {
    return Ansi(std::string("即将保存 ") + amount + ",磁盘空间不够！");
  };
  EXPECT_EQ(NotEnoughSpaceText(3000000), text("2.9 MB"));
  EXPECT_EQ(NotEnoughSpaceText(0), text("0.0 KB"));
  EXPECT_EQ(NotEnoughSpaceText(1000), text("1.0 KB"));
  EXPECT_EQ(NotEnoughSpaceText(107374), text("104.9 KB"));     // just under 0.0001 GB
  EXPECT_EQ(NotEnoughSpaceText(107375), text("0.1 MB"));       // just over
  EXPECT_EQ(NotEnoughSpaceText(107374182), text("102.4 MB"));  // just under 0.1 GB
  EXPECT_EQ(NotEnoughSpaceText(107374183), text("0.1 GB"));
  EXPECT_EQ(NotEnoughSpaceText(3ull << 30), text("3.0 GB"));
  EXPECT_EQ(NotEnoughSpaceText(5000ull << 30), text("5000.0 GB"));
}

TEST_F(SaveTest, ASelectionLargerThanTheFreeSpaceIsRefused) {
  auto o = OpenImage(Source(test::FixturePath("demo.img")), 0);
  ASSERT_TRUE(o);
  CarvedFile& found = o->disk->extraFound;
  found.name = "Extra Found Files";
  for (uint64_t i = 0; i < 2000; ++i)
    found.children[kDemoFatStart + 10 + i * 30] = {0, 0xFFFFFFFF, "huge.bin", {}};
  uint64_t total = 2000 * uint64_t{0xFFFFFFFF};
  std::string out = Target("out");
  std::optional<uint64_t> free = FreeSpace(out);
  ASSERT_TRUE(free);
  if (*free >= total) GTEST_SKIP() << "the target has more than 8 TB free";

  std::atomic<int> busy{0};
  SavePreparation single = PrepareSingleSave(o->disks, CommandFor(*o, out), ExtraFoundItem(), busy);
  EXPECT_FALSE(single.save);
  EXPECT_EQ(single.totalBytes, total);
  EXPECT_EQ(single.refusal.messageBox, NotEnoughSpaceText(total));
  EXPECT_EQ(single.refusal.statusText, "");
  SavePreparation ticked =
      PrepareTickedSave(o->disks, CommandFor(*o, out), {ExtraFoundItem()}, false, busy);
  EXPECT_FALSE(ticked.save);
  EXPECT_EQ(ticked.refusal.statusText, Ansi("目标盘空间不足，请重新选择盘!"));
  EXPECT_TRUE(FilesUnder(out).empty());
}

// One damaged entry claiming 4 GiB once asked for more space than any target
// had; a file can give at most its volume's length.
TEST_F(SaveTest, ADamagedSizeCountsOnlyUpToItsVolumesEnd) {
  ToolFat img(Dir() + "/huge.img", 16, 4 * 1024);
  ASSERT_TRUE(img.ok());
  img.Put("HUGE.TXT", "x");
  img.Write(img.Entry("HUGE    TXT") + 28, std::string(4, '\xFF'));
  Source(img.path());
  auto o = img.Open();
  std::atomic<int> busy{0};
  SavePreparation prep = PrepareSingleSave(o->disks, CommandFor(*o, Target("out")),
                                           ItemOf(TreesOf(*o->volume).fatRoot), busy);
  EXPECT_TRUE(prep.save) << AnsiToUtf8(prep.refusal.messageBox);
  EXPECT_LE(prep.totalBytes, uint64_t{4} << 20);
}

// On a tmpfs of known size: exactly the free space is too much for one item
// (the sum must be below it) and enough for ticked items.
TEST_F(SaveTest, ExactlyTheFreeSpaceIsRefusedForOneItemOnly) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  std::string mount = Target("tiny");
  if (test::RunCommand("mount -t tmpfs -o size=256k brevid-test '" + mount + "'").status != 0)
    GTEST_SKIP() << "no tmpfs mount here";
  struct Unmount {
    std::string dir;
    ~Unmount() { test::RunCommand("umount '" + dir + "'"); }
  } unmount{mount};
  std::optional<uint64_t> free = FreeSpace(mount);
  ASSERT_TRUE(free);
  ASSERT_GT(*free, 1u);

  auto o = OpenImage(Source(test::FixturePath("demo.img")), 0);
  ASSERT_TRUE(o);
  CarvedFile& found = o->disk->extraFound;
  found.name = "Extra Found Files";
  CarvedFile& file =
      found.children[kDemoFatStart + 10] = {0, static_cast<uint32_t>(*free), "all.bin", {}};
  std::atomic<int> busy{0};

  SavePreparation single =
      PrepareSingleSave(o->disks, CommandFor(*o, mount), ExtraFoundItem(), busy);
  EXPECT_FALSE(single.save);
  EXPECT_EQ(single.refusal.messageBox, NotEnoughSpaceText(*free));
  SavePreparation ticked =
      PrepareTickedSave(o->disks, CommandFor(*o, mount), {ExtraFoundItem()}, false, busy);
  EXPECT_TRUE(ticked.save);

  file.size = static_cast<uint32_t>(*free - 1);
  EXPECT_TRUE(PrepareSingleSave(o->disks, CommandFor(*o, mount), ExtraFoundItem(), busy).save);
  file.size = static_cast<uint32_t>(*free + 1);
  ticked = PrepareTickedSave(o->disks, CommandFor(*o, mount), {ExtraFoundItem()}, false, busy);
  EXPECT_FALSE(ticked.save);
  EXPECT_EQ(ticked.refusal.statusText, Ansi("目标盘空间不足，请重新选择盘!"));
}

TEST_F(SaveTest, TickedItemsUnder100BytesAreSavedFromEitherList) {
  ToolFat img(Dir() + "/small.img", 16, 8 * 1024);
  ASSERT_TRUE(img.ok());
  img.Put("A.TXT", std::string(50, 'a'));
  img.Put("B.TXT", std::string(49, 'b'));
  Source(img.path());
  auto o = img.Open();
  const FileEntry& root = TreesOf(*o->volume).fatRoot;
  const FileEntry* a = Child(root, "A.TXT");
  const FileEntry* b = Child(root, "B.TXT");
  ASSERT_TRUE(a && b);
  std::string out = Target("out");
  std::atomic<int> busy{0};

  // A step unit of 0 once ended a left-list save without a word.
  SavePreparation left =
      PrepareTickedSave(o->disks, CommandFor(*o, out), {ItemOf(*a), ItemOf(*b)}, true, busy);
  EXPECT_TRUE(left.save);
  EXPECT_EQ(left.totalBytes, 99u);

  SavePreparation right =
      PrepareTickedSave(o->disks, CommandFor(*o, out), {ItemOf(*a), ItemOf(*b)}, false, busy);
  ASSERT_TRUE(right.save);
  Recorder rec;
  ProgressRecord progress;
  progress.window = &rec;
  SaveStats stats = RunSave(*right.save, progress, busy);
  EXPECT_EQ(busy.load(), 0);
  EXPECT_EQ(FilesUnder(out), (std::map<std::string, std::string>{{"A.TXT", std::string(50, 'a')},
                                                                 {"B.TXT", std::string(49, 'b')}}));
  EXPECT_EQ(stats.files, 2u);
  EXPECT_EQ(stats.bytes, 99u);
  // A step unit of 0: one step after every write; the range once, first.
  ASSERT_FALSE(rec.messages.empty());
  EXPECT_EQ(rec.messages.front().id, kProgressSetRange);
  EXPECT_EQ(rec.messages.front().wParam, 100u);
  EXPECT_EQ(rec.Count(kProgressSetRange), 1u);
  EXPECT_EQ(rec.Count(kProgressStep), 2u);
  EXPECT_EQ(rec.Count(kProgressSetPos), 0u);
  EXPECT_EQ(rec.messages.back().id, kProgressClose);
}

}  // namespace
}  // namespace brevid
