// The start-cluster search: the signature table on bytes, then deleted typed
// files on FAT volumes that mkfs.fat made, whose directory entries and
// cluster contents the tests write themselves.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "export/fat_saver.h"
#include "export/save_request.h"
#include "format/file_signatures.h"
#include "fs/fat_volume.h"
#include "fs/volume_trees.h"
#include "platform/codepage.h"
#include "support/file_bytes.h"
#include "support/file_hash.h"
#include "support/run_command.h"
#include "support/test_paths.h"
#include "support/tool_fat.h"

namespace brevid {
namespace {

using test::FilesUnder;
using test::Le16;
using test::Le32;
using test::Poke16;
using test::ReadAt;
using test::ReadFile;
using test::WriteAt;
using test::WriteFile;

namespace fs = std::filesystem;

// ---- the signature table on bytes -------------------------------------------------------

std::vector<uint8_t> Cluster(std::initializer_list<std::pair<size_t, std::string>> pieces,
                             size_t size = 512) {
  std::vector<uint8_t> c(size, 0);
  for (const auto& [at, bytes] : pieces)
    for (size_t i = 0; i < bytes.size() && at + i < c.size(); ++i)
      c[at + i] = static_cast<uint8_t>(bytes[i]);
  return c;
}

std::string Le32Bytes(uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}

const std::string kJfif("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11);
const std::string kExif(
    "\xFF\xD8\xFF\xE1\x12\x34"
    "Exif\x00\x00",
    12);
const std::string kOle("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
const std::string kMpegStart("\x00\x00\x01\xBA", 4);
const std::string kSystemHeader("\x00\x00\x01\xBB", 4);
const std::string kZip("PK\x03\x04", 4);

std::vector<uint8_t> Compound(uint32_t fatSectors) {
  return Cluster({{0, kOle}, {44, Le32Bytes(fatSectors)}});
}
std::vector<uint8_t> Mpeg(char byte4, size_t headerAt) {
  return Cluster({{0, kMpegStart}, {4, std::string(1, byte4)}, {headerAt, kSystemHeader}});
}
std::vector<uint8_t> Avi(uint32_t riffSize) {
  return Cluster({{0, "RIFF"}, {4, Le32Bytes(riffSize)}, {8, "AVI "}, {12, "LIST"}});
}
std::vector<uint8_t> ZipNaming(const std::string& name) {
  return Cluster({{0, kZip}, {26, "\x13"}, {30, name}});
}

bool Match(const std::vector<uint8_t>& c, const char* ext, uint32_t size = 1000,
           bool multi = false) {
  return MatchesSignature(c, ext, size, multi);
}

TEST(MatchesSignature, JpegNeedsASegmentAfterItsStart) {
  for (const std::string& head : {kJfif, kExif}) {
    std::vector<uint8_t> c = Cluster({{0, head}});
    EXPECT_TRUE(Match(c, "jpg"));
    EXPECT_TRUE(Match(c, "jpeg"));
    EXPECT_TRUE(Match(c, "jpg", 1000, true));
    for (const char* other : {"doc", "pdf", "zip", "rar", "mp4"})
      EXPECT_FALSE(Match(c, other)) << other;
  }
  EXPECT_TRUE(Match(Cluster({{0, "\xFF\xD8\xFF\xDB\x00\x43"}}), "jpg"));  // tables first
  EXPECT_FALSE(Match(Cluster({{0, "\xFF\xD8\xFF\x01\x00\x10JFIF"}}), "jpg"));
  EXPECT_FALSE(Match(Cluster({{0, "\xFF\xD8\x00\xE0\x00\x10JFIF"}}), "jpg"));
  EXPECT_FALSE(Match(Cluster({{6, "JFIF"}}), "jpg"));
}

TEST(MatchesSignature, CompoundDocumentSizeFollowsItsFatSectorCount) {
  for (const char* ext : {"doc", "ppt", "xls"}) {
    SCOPED_TRACE(ext);
    std::vector<uint8_t> four = Compound(4);
    EXPECT_FALSE(Match(four, ext, 196608));  // 3 × 65536
    EXPECT_TRUE(Match(four, ext, 196609));
    EXPECT_TRUE(Match(four, ext, 200000));
    EXPECT_TRUE(Match(four, ext, 262144));  // 4 × 65536
    EXPECT_FALSE(Match(four, ext, 262145));
    EXPECT_TRUE(Match(four, ext, 200000, true));
    EXPECT_FALSE(Match(Compound(3), ext, 200000));
    EXPECT_TRUE(Match(Compound(1), ext, 1));
    EXPECT_FALSE(Match(Compound(1), ext, 0));
    // A count of 0 or one near 2^32 gives no size at all, without wrapping.
    EXPECT_FALSE(Match(Compound(0), ext, 1));
    EXPECT_FALSE(Match(Compound(0), ext, 0));
    EXPECT_FALSE(Match(Compound(0xFFFFFFFF), ext, 0xFFFFFFFF));
    EXPECT_TRUE(Match(Compound(65536), ext, 0xFFFFFFFF));
  }
  EXPECT_FALSE(Match(Compound(4), "jpg", 200000));
  EXPECT_FALSE(Match(Compound(4), "docx", 200000));
}

TEST(MatchesSignature, PdfNeedsVersionOne) {
  EXPECT_TRUE(Match(Cluster({{0, "%PDF-1.7"}}), "pdf"));
  EXPECT_FALSE(Match(Cluster({{0, "%PDF-2.0"}}), "pdf"));
  EXPECT_FALSE(Match(Cluster({{0, "%PDF1.4"}}), "pdf"));
  EXPECT_FALSE(Match(Cluster({{1, "%PDF-1.7"}}), "pdf"));
  EXPECT_FALSE(Match(Cluster({{0, "%PDF-1.7"}}), "doc"));
}

TEST(MatchesSignature, MpegSystemHeaderFollowsThePackHeaderVariant) {
  EXPECT_TRUE(Match(Mpeg('\x44', 14), "mpeg"));
  EXPECT_TRUE(Match(Mpeg('\x21', 12), "mpeg"));
  EXPECT_FALSE(Match(Mpeg('\x44', 12), "mpeg"));
  EXPECT_FALSE(Match(Mpeg('\x21', 14), "mpeg"));
  EXPECT_FALSE(Match(Mpeg('\x22', 12), "mpeg"));
  EXPECT_FALSE(Match(Mpeg('\x00', 14), "mpeg"));
  EXPECT_FALSE(Match(Mpeg('\x44', 14), "mpg"));  // not a typed extension
  EXPECT_FALSE(Match(Mpeg('\x44', 14), "mp4"));
}

TEST(MatchesSignature, AviRiffSizeMustBeCloseToTheFileSize) {
  const uint32_t size = 1000000;
  EXPECT_TRUE(Match(Avi(size - 12), "avi", size));
  EXPECT_TRUE(Match(Avi(size - 12 + 511), "avi", size));
  EXPECT_FALSE(Match(Avi(size - 12 + 512), "avi", size));
  EXPECT_TRUE(Match(Avi(size - 12 - 511), "avi", size));
  EXPECT_FALSE(Match(Avi(size - 12 - 512), "avi", size));
  EXPECT_FALSE(Match(Avi(0xFFFFFFFF), "avi", 10));
  EXPECT_TRUE(Match(Cluster({{0, "RIFF"}, {4, Le32Bytes(size - 12)}, {8, "AVI "}}), "avi", size));
  EXPECT_FALSE(Match(Cluster({{0, "RIFF"}, {4, Le32Bytes(size - 12)}, {8, "WAVE"}, {12, "LIST"}}),
                     "avi", size));
}

TEST(MatchesSignature, Mp4AndRar) {
  std::vector<uint8_t> mp4 = Cluster({{0, std::string("\x00\x00\x00\x18", 4)}, {4, "ftypmp42"}});
  EXPECT_TRUE(Match(mp4, "mp4"));
  EXPECT_FALSE(Match(mp4, "avi"));
  EXPECT_FALSE(Match(mp4, "mp4", 1000, true));
  EXPECT_TRUE(Match(Cluster({{0, std::string("Rar!\x1A\x07\x00", 7)}}), "rar"));
  // The RAR 5 marker has 01 where the table wants 00.
  EXPECT_FALSE(Match(Cluster({{0, std::string("Rar!\x1A\x07\x01\x00", 8)}}), "rar"));
  EXPECT_FALSE(Match(Cluster({{0, std::string("Rar!\x1A\x07\x00", 7)}}), "zip"));
  EXPECT_FALSE(Match(Cluster({{0, std::string("Rar!\x1A\x07\x00", 7)}}), "rar", 1000, true));
}

TEST(MatchesSignature, ZipFilesAreNotOfficeDocumentsButDocumentsMayStartAnyZip) {
  std::vector<uint8_t> ooxml = ZipNaming("[Content_Types].xml");
  EXPECT_FALSE(Match(ooxml, "zip"));
  for (const char* ext : {"docx", "pptx", "xlsx"}) EXPECT_TRUE(Match(ooxml, ext)) << ext;
  for (const std::string& name :
       {std::string("mimetype"), std::string("_rels/.rels"), std::string("[Content_Types].xm_")}) {
    std::vector<uint8_t> zip = ZipNaming(name);
    EXPECT_TRUE(Match(zip, "zip")) << name;
    EXPECT_TRUE(Match(zip, "docx")) << name;  // some writers put other members first
  }
  EXPECT_FALSE(Match(ooxml, "docx", 1000, true));
  EXPECT_FALSE(Match(ZipNaming("mimetype"), "zip", 1000, true));
}

TEST(MatchesSignature, ShortOrEmptyClustersMatchNothing) {
  std::vector<uint8_t> empty;
  for (const char* ext : {"jpg", "doc", "pdf", "mpeg", "avi", "mp4", "zip", "docx", "rar", "txt"}) {
    EXPECT_FALSE(MatchesSignature(empty, ext, 1000, false)) << ext;
    EXPECT_FALSE(MatchesSignature(std::vector<uint8_t>{0xFF, 0xD8, 0xFF}, ext, 1000, false)) << ext;
  }
  // A compound header cut before its FAT sector count.
  std::vector<uint8_t> cut(kOle.begin(), kOle.end());
  cut.resize(40, 0);
  EXPECT_FALSE(MatchesSignature(cut, "doc", 1, false));
  EXPECT_FALSE(MatchesSignature(Cluster({{0, kJfif}}, 11), "txt", 1000, false));
  EXPECT_TRUE(MatchesSignature(Cluster({{0, kJfif}}, 10), "jpg", 1000, false));
}

// ---- the search on volumes -------------------------------------------------------------

constexpr uint32_t kHigh = 65536;

std::string Filler(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return s;
}

// A file of `size` bytes whose first bytes are `head`.
std::string Typed(const std::string& head, size_t size, uint32_t seed) {
  std::string s = Filler(size, seed);
  s.replace(0, head.size(), head);
  return s;
}

std::string AsString(const std::vector<uint8_t>& v) { return {v.begin(), v.end()}; }

// A deleted file as it is left on the disk: one long-name part (names of at
// most 13 characters) and the short entry, both starting E5; the stored
// high half of the first cluster is 0.
std::string DeletedFile(std::u16string_view longName, std::string_view name11, uint32_t cluster,
                        uint32_t size) {
  static constexpr size_t kCharAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  std::string part(32, '\0');
  part[0] = '\xE5';
  part[11] = 0x0F;
  for (size_t i = 0; i < 13; ++i)
    Poke16(part, kCharAt[i], i < longName.size() ? longName[i] : i == longName.size() ? 0 : 0xFFFF);
  std::string e(32, '\0');
  e.replace(0, 11, std::string(name11).append(11, ' ').substr(0, 11));
  e[0] = '\xE5';
  e[11] = 0x20;
  Poke16(e, 16, 0x5021);  // created 2020-01-01
  Poke16(e, 26, cluster & 0xFFFF);
  Poke16(e, 28, size & 0xFFFF);
  Poke16(e, 30, size >> 16);
  return part + e;
}

using Opened = test::OpenedVolume;
using SearchVolume = test::ToolFat;

const FileEntry* Child(const FileEntry& folder, const std::string& name) {
  for (const FileEntry& c : folder.children)
    if (c.name == name) return &c;
  return nullptr;
}

// Runs the FAT saver on one node the way the save worker does.
SaveStats Save(Opened& o, const FileEntry& entry, const std::string& folder, bool multi = false,
               UsedClusterSet* used = nullptr, bool useFat = true) {
  VolumeReader reader(*o.disk, *o.volume);
  EXPECT_TRUE(reader.Open());
  ProgressRecord progress;
  NameRepair repair;
  UsedClusterSet own;
  SaveStats stats;
  uint64_t sinceStep = 0;
  SaveRequest r;
  r.reader = &reader;
  r.disk = o.disk;
  r.volume = o.volume;
  r.folder = Utf8ToAnsi(folder);
  r.useFat = useFat;
  r.multi = multi;
  r.progress = &progress;
  r.repair = &repair;
  r.used = used ? used : &own;
  r.stats = &stats;
  r.bytesSinceStep = &sinceStep;
  SaveFatEntry(r, entry);
  return stats;
}

const std::string kRoot = "根目录/";
const char* const kNoMatch = "没有簇带有该类型的签名，留下空文件";

class SignatureSearch : public ::testing::Test {
 protected:
  const std::string& Dir() {
    if (dir_.empty())
      dir_ = test::ScratchDir(std::string("export_signature_") +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    return dir_;
  }
  // The image, remembered so that TearDown can check the saves left it alone.
  std::unique_ptr<Opened> Open(const SearchVolume& v) {
    hashes_[v.path()] = test::Sha256OfFile(v.path());
    return v.Open();
  }
  void TearDown() override {
    for (const auto& [path, hash] : hashes_)
      EXPECT_EQ(test::Sha256OfFile(path), hash) << path << " was written";
  }

 private:
  std::string dir_;
  std::map<std::string, std::string> hashes_;
};

TEST_F(SignatureSearch, Fat32FindsAPictureWhoseHighHalfWasLost) {
  SearchVolume v(Dir() + "/fat32.img", 32, 41000);
  ASSERT_TRUE(v.ok());
  ASSERT_EQ((uint64_t{v.fatSectors()} * 512) >> 18, 1u) << "one high half to try";
  std::string jpeg = Typed(kJfif, 3000, 1);
  v.WriteCluster(300, "not a picture");
  v.WriteCluster(kHigh + 300, jpeg);
  v.AddEntries(DeletedFile(u"photo.jpg", "PHOTO   JPG", 300, 3000));
  auto o = Open(v);
  const FileEntry& root = TreesOf(*o->volume).fatRoot;
  const FileEntry* photo = Child(root, "photo.jpg");
  ASSERT_TRUE(photo);
  EXPECT_EQ(photo->firstCluster, 300u);

  std::string out = Dir() + "/out";
  SaveStats stats = Save(*o, root, out);
  EXPECT_EQ(FilesUnder(out), (std::map<std::string, std::string>{{kRoot + "photo.jpg", jpeg}}));
  EXPECT_EQ(stats.files, 1u);
  EXPECT_EQ(stats.bytes, 3000u);
}

TEST_F(SignatureSearch, Fat16TriesAHighHalfOnlyWithAFatOf256Sectors) {
  std::string jpeg = Typed(kExif, 2000, 2);
  struct Case {
    uint64_t kib;
    bool found;
  };
  for (Case c : {Case{33000, true}, Case{31000, false}}) {
    SCOPED_TRACE(c.kib);
    SearchVolume v(Dir() + Format("/fat16_%llu.img", static_cast<unsigned long long>(c.kib)), 16,
                   c.kib);
    ASSERT_TRUE(v.ok());
    if (c.found)
      ASSERT_EQ(v.fatSectors(), 256u);
    else
      ASSERT_LT(v.fatSectors(), 256u);
    v.WriteCluster(300, "not a picture");
    // A 16-bit FAT has no cluster 65836: the candidate lies past the volume's
    // end, which the image is made long enough to hold.
    v.WriteCluster(kHigh + 300, jpeg);
    v.AddEntries(DeletedFile(u"photo.jpg", "PHOTO   JPG", 300, 2000));
    auto o = Open(v);
    std::string out = Dir() + Format("/out%llu", static_cast<unsigned long long>(c.kib));
    SaveStats stats = Save(*o, TreesOf(*o->volume).fatRoot, out);
    std::map<std::string, std::string> got = FilesUnder(out);
    // No candidate: the stored cluster is copied as it is.
    std::string stored = std::string("not a picture").append(2000 - 13, '\0');
    EXPECT_EQ(got,
              (std::map<std::string, std::string>{{kRoot + "photo.jpg", c.found ? jpeg : stored}}));
    EXPECT_EQ(stats.skipped.count(kNoMatch), 0u);
  }
}

// A JPEG without JFIF or Exif at byte 6 fails every candidate's test; its
// stored cluster is still readable and is copied consecutively.
TEST_F(SignatureSearch, NoMatchCopiesTheStoredCluster) {
  SearchVolume v(Dir() + "/fat32.img", 32, 41000);
  ASSERT_TRUE(v.ok());
  std::string plain = Typed(std::string("\xFF\xD8\xFF\xDB", 4), 3000, 7);
  v.WriteCluster(300, plain);
  v.AddEntries(DeletedFile(u"photo.jpg", "PHOTO   JPG", 300, 3000));
  auto o = Open(v);
  Save(*o, *Child(TreesOf(*o->volume).fatRoot, "photo.jpg"), Dir() + "/out");
  EXPECT_EQ(FilesUnder(Dir() + "/out"), (std::map<std::string, std::string>{{"photo.jpg", plain}}));
}

TEST_F(SignatureSearch, EveryMatchGetsAFileOfItsOwn) {
  SearchVolume v(Dir() + "/fat32.img", 32, 41000);
  ASSERT_TRUE(v.ok());
  std::string low = Typed(kJfif, 3000, 3);
  std::string high = Typed(kExif, 3000, 4);
  v.WriteCluster(300, low);
  v.WriteCluster(kHigh + 300, high);
  v.AddEntries(DeletedFile(u"photo.jpg", "PHOTO   JPG", 300, 3000));
  auto o = Open(v);
  const FileEntry* photo = Child(TreesOf(*o->volume).fatRoot, "photo.jpg");
  ASSERT_TRUE(photo);

  std::string out = Dir() + "/out";
  SaveStats stats = Save(*o, *photo, out);
  EXPECT_EQ(FilesUnder(out),
            (std::map<std::string, std::string>{{"photo.jpg", low}, {"photo.jpg0.jpg", high}}));
  EXPECT_EQ(stats.files, 2u);
  // A second run goes on from the names the first one took.
  Save(*o, *photo, out);
  EXPECT_EQ(FilesUnder(out), (std::map<std::string, std::string>{{"photo.jpg", low},
                                                                 {"photo.jpg0.jpg", high},
                                                                 {"photo.jpg1.jpg", low},
                                                                 {"photo.jpg2.jpg", high}}));
}

TEST_F(SignatureSearch, AClusterIsHandedOutOncePerRun) {
  SearchVolume v(Dir() + "/fat32.img", 32, 41000);
  ASSERT_TRUE(v.ok());
  std::string jpeg = Typed(kJfif, 1500, 5);
  v.WriteCluster(300, jpeg);
  // An empty file is written as such, without a search that would claim 300.
  v.AddEntries(DeletedFile(u"empty.jpg", "EMPTY   JPG", 300, 0) +
               DeletedFile(u"a.jpg", "A       JPG", 300, 1500) +
               DeletedFile(u"b.jpg", "B       JPG", 300, 1500));
  auto o = Open(v);
  const FileEntry& root = TreesOf(*o->volume).fatRoot;

  std::string out = Dir() + "/run";
  SaveStats stats = Save(*o, root, out);
  EXPECT_EQ(FilesUnder(out),
            (std::map<std::string, std::string>{
                {kRoot + "empty.jpg", ""}, {kRoot + "a.jpg", jpeg}, {kRoot + "b.jpg", ""}}));
  EXPECT_EQ(stats.skipped, (std::map<std::string, uint64_t>{{kNoMatch, 1}}));

  // b.jpg alone is a run of its own.
  std::string alone = Dir() + "/alone";
  Save(*o, *Child(root, "b.jpg"), alone);
  EXPECT_EQ(FilesUnder(alone), (std::map<std::string, std::string>{{"b.jpg", jpeg}}));

  // Ticked items give every entry a set of its own.
  std::string ticked = Dir() + "/ticked";
  Save(*o, root, ticked, true);
  EXPECT_EQ(FilesUnder(ticked),
            (std::map<std::string, std::string>{
                {kRoot + "empty.jpg", ""}, {kRoot + "a.jpg", jpeg}, {kRoot + "b.jpg", jpeg}}));

  // A set the run already holds.
  UsedClusterSet used{300};
  std::string claimed = Dir() + "/claimed";
  Save(*o, *Child(root, "a.jpg"), claimed, false, &used);
  EXPECT_EQ(FilesUnder(claimed), (std::map<std::string, std::string>{{"a.jpg", ""}}));
}

TEST_F(SignatureSearch, ANormalPictureCopiedAlongItsChainKeepsItsCluster) {
  SearchVolume v(Dir() + "/fat32.img", 32, 41000);
  ASSERT_TRUE(v.ok());
  std::string jpeg = Typed(kJfif, 700, 6);
  std::string src = Dir() + "/n.jpg";
  { std::ofstream(src, std::ios::binary) << jpeg; }
  test::CommandResult put =
      test::RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i '" + v.path() + "' '" + src + "' ::N.JPG");
  ASSERT_EQ(put.status, 0) << put.err;
  fs::remove(src);
  // A deleted d.jpg right after mcopy's entry, pointing at the same cluster.
  std::string root = ReadAt(v.path(), v.ClusterByte(2), 512);
  size_t shortAt = root.find("N       JPG");
  ASSERT_NE(shortAt, std::string::npos);
  uint32_t cluster = Le16(root, shortAt + 26) | Le16(root, shortAt + 20) << 16;
  ASSERT_EQ(ReadAt(v.path(), v.ClusterByte(cluster), 11), jpeg.substr(0, 11));
  ASSERT_EQ(root.find_first_not_of('\0', shortAt + 32), std::string::npos);
  WriteAt(v.path(), v.ClusterByte(2) + shortAt + 32,
          DeletedFile(u"d.jpg", "D       JPG", cluster, 700));
  auto o = Open(v);
  const FileEntry& tree = TreesOf(*o->volume).fatRoot;
  ASSERT_TRUE(Child(tree, "N.JPG"));
  ASSERT_EQ(tree.children.front().name, "N.JPG");

  for (bool useFat : {true, false}) {
    SCOPED_TRACE(useFat);
    std::string out = Dir() + (useFat ? "/chain" : "/search");
    Save(*o, tree, out, false, nullptr, useFat);
    EXPECT_EQ(FilesUnder(out),
              (std::map<std::string, std::string>{{kRoot + "N.JPG", jpeg}, {kRoot + "d.jpg", ""}}));
  }
}

// 200,000 bytes need 4 FAT sectors of a compound file; 150,000 need 3.
TEST_F(SignatureSearch, CompoundDocumentsMatchByTheirSize) {
  SearchVolume v(Dir() + "/fat32.img", 32, 41000);
  ASSERT_TRUE(v.ok());
  std::string four = Typed(AsString(Compound(4)).substr(0, 48), 200000, 7);
  std::string three = Typed(AsString(Compound(3)).substr(0, 48), 200000, 8);
  v.WriteCluster(400, four);
  v.WriteCluster(1000, three);
  v.AddEntries(DeletedFile(u"report.doc", "REPORT  DOC", 400, 200000) +
               DeletedFile(u"other.xls", "OTHER   XLS", 1000, 200000) +
               DeletedFile(u"slides.ppt", "SLIDES  PPT", 1000, 150000));
  auto o = Open(v);
  std::string out = Dir() + "/out";
  Save(*o, TreesOf(*o->volume).fatRoot, out);
  EXPECT_EQ(FilesUnder(out),
            (std::map<std::string, std::string>{{kRoot + "report.doc", four},
                                                {kRoot + "other.xls", three},
                                                {kRoot + "slides.ppt", three.substr(0, 150000)}}));
}

// A document may start with any member, a ZIP file must not start like a document.
TEST_F(SignatureSearch, ZipAndDocxAreToldApart) {
  SearchVolume v(Dir() + "/fat32.img", 32, 41000);
  ASSERT_TRUE(v.ok());
  std::string ooxml = Typed(AsString(ZipNaming("[Content_Types].xml")).substr(0, 49), 5000, 9);
  std::string zip = Typed(AsString(ZipNaming("mimetype")).substr(0, 38), 5000, 10);
  v.WriteCluster(2000, ooxml);
  v.WriteCluster(2100, zip);
  v.AddEntries(DeletedFile(u"a.zip", "A       ZIP", 2000, 5000) +
               DeletedFile(u"a.docx", "A~1     DOC", 2000, 5000) +
               DeletedFile(u"b.zip", "B       ZIP", 2100, 5000) +
               DeletedFile(u"b.xlsx", "B~1     XLS", 2100, 5000));
  auto o = Open(v);
  std::string out = Dir() + "/out";
  Save(*o, TreesOf(*o->volume).fatRoot, out, false);
  EXPECT_EQ(FilesUnder(out), (std::map<std::string, std::string>{{kRoot + "a.zip", ooxml},
                                                                 {kRoot + "a.docx", ooxml},
                                                                 {kRoot + "b.zip", zip},
                                                                 // b.zip claimed that cluster first
                                                                 {kRoot + "b.xlsx", ""}}));
}

TEST_F(SignatureSearch, MpegPackHeaderVariants) {
  SearchVolume v(Dir() + "/fat32.img", 32, 41000);
  ASSERT_TRUE(v.ok());
  std::string mpeg2 = Typed(AsString(Mpeg('\x44', 14)).substr(0, 18), 4000, 11);
  std::string mpeg1 = Typed(AsString(Mpeg('\x21', 12)).substr(0, 16), 4000, 12);
  std::string swapped = Typed(AsString(Mpeg('\x44', 12)).substr(0, 16), 4000, 13);
  std::string other = Typed(AsString(Mpeg('\x22', 12)).substr(0, 16), 4000, 14);
  v.WriteCluster(2400, mpeg2);
  v.WriteCluster(2500, mpeg1);
  v.WriteCluster(2600, swapped);
  v.WriteCluster(2700, other);
  v.AddEntries(DeletedFile(u"v44.mpeg", "V44     MPE", 2400, 4000) +
               DeletedFile(u"v21.mpeg", "V21     MPE", 2500, 4000) +
               DeletedFile(u"swapped.mpeg", "SWAPPED MPE", 2600, 4000) +
               DeletedFile(u"other.mpeg", "OTHER   MPE", 2700, 4000));
  auto o = Open(v);
  std::string out = Dir() + "/out";
  Save(*o, TreesOf(*o->volume).fatRoot, out);
  EXPECT_EQ(FilesUnder(out), (std::map<std::string, std::string>{{kRoot + "v44.mpeg", mpeg2},
                                                                 {kRoot + "v21.mpeg", mpeg1},
                                                                 {kRoot + "swapped.mpeg", swapped},
                                                                 {kRoot + "other.mpeg", other}}));
}

TEST_F(SignatureSearch, TickedItemsSearchOnlyForPicturesAndOfficeDocuments) {
  SearchVolume v(Dir() + "/fat32.img", 32, 41000);
  ASSERT_TRUE(v.ok());
  std::string text = Filler(4000, 15);
  std::string pdf = Typed("%PDF-1.4\n", 4000, 16);
  std::string jpeg = Typed(kJfif, 4000, 17);
  v.WriteCluster(3000, text);
  v.WriteCluster(kHigh + 3000, pdf);
  v.WriteCluster(3100, text);
  v.WriteCluster(kHigh + 3100, jpeg);
  v.AddEntries(DeletedFile(u"p.pdf", "P       PDF", 3000, 4000) +
               DeletedFile(u"q.jpg", "Q       JPG", 3100, 4000));
  auto o = Open(v);
  const FileEntry& root = TreesOf(*o->volume).fatRoot;

  std::string single = Dir() + "/single";
  Save(*o, root, single);
  EXPECT_EQ(FilesUnder(single),
            (std::map<std::string, std::string>{{kRoot + "p.pdf", pdf}, {kRoot + "q.jpg", jpeg}}));
  // The PDF is copied from its stored first cluster instead.
  std::string ticked = Dir() + "/ticked";
  Save(*o, root, ticked, true);
  EXPECT_EQ(FilesUnder(ticked),
            (std::map<std::string, std::string>{{kRoot + "p.pdf", text}, {kRoot + "q.jpg", jpeg}}));
}

}  // namespace
}  // namespace brevid
