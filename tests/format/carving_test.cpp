// Carving over sources held in memory: real files planted at a sector start
// in random bytes, the rules' edge cases, and hostile or endless structures.
#include "format/carving.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/file_bytes.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

using Buffer = std::string;
using namespace std::string_literals;
constexpr uint64_t kStart = 8;  // the sector each file is planted at

// `file` at sector kStart of random bytes, its last sector's slack zeroed.
Buffer Planted(const Buffer& file, size_t tail = 4096) {
  std::mt19937 rng(11);
  Buffer b(kStart * 512 + tail, 0);
  for (char& c : b) c = static_cast<char>(rng());
  return b.substr(tail) + file + Buffer((512 - file.size() % 512) % 512, 0) + b.substr(0, tail);
}

CarveResult Carve(const Buffer& disk) {
  Bytes file =
      Bytes(reinterpret_cast<const uint8_t*>(disk.data()), disk.size()).subspan(kStart * 512);
  return CarveFile(SubBytes(file, 0, 1024), kStart, [&](uint64_t at, std::span<uint8_t> out) {
    Bytes part = SubBytes(file, at, out.size());
    return static_cast<size_t>(std::copy(part.begin(), part.end(), out.begin()) - out.begin());
  });
}

// A source of 64 MiB: `prefix`, then `unit` repeated.
constexpr uint64_t kEndless = 64 << 20;
CarveResult CarveEndless(const Buffer& prefix, const Buffer& unit) {
  CarveReader read = [&](uint64_t at, std::span<uint8_t> out) {
    for (size_t i = 0; i < out.size(); ++i, ++at)
      out[i] = at < prefix.size() ? prefix[at] : unit[(at - prefix.size()) % unit.size()];
    return out.size();
  };
  uint8_t head[1024];
  return CarveFile(Bytes(head, read(0, head)), 0, read, kEndless);
}

TEST(Carving, CorpusSamplesAreRecordedWithTheirSizeAndName) {
  BREVID_REQUIRE_CORPUS();
  // Every file at its own size; then cut in half at the source's end.
  for (auto [path, suffix] : std::initializer_list<std::pair<const char*, Buffer>>{
           {"pdf/fs_a-text.pdf", ".pdf"},
           {"mpeg/fs_movie-hello.mpeg", ".mpeg"},
           {"avi/fs_movie-hello.avi", ".avi"},
           {"mp4/fs_movie-hello.mp4", ".mp4"},
           {"ooxml/msoff_example.docx", ".docx"},
           {"ooxml/h2non_sample.pptx", ".pptx"},
           {"rar/rarfile_rar3-subdirs.rar", ".rar"},
           {"ole/msoff_plain.doc", ".doc"},
           {"ole/msoff_plain.xls", ".xls"},
           {"ole/msoff_plain.ppt", ".ppt"},
           {"jpeg/fs_IMG_20200827_231612.jpg", ".jpg"},
           {"jpeg/fs_IMG_1054.JPG", ".jpg"},  // progressive (C2)
           {"mp3/howler_rave_digger_CC-BY-NC.mp3", ".mp3"}}) {
    Buffer file = test::ReadFile(test::CorpusDir() + "/samples/" + path);
    CarveResult r = Carve(Planted(file));
    EXPECT_TRUE(r.recorded && r.name == "8" + suffix) << path;
    EXPECT_EQ(r.size, file.size()) << path;
    Buffer cut = Planted(file, 0).substr(0, kStart * 512 + file.size() / 2);
    EXPECT_LE(Carve(cut).size, file.size()) << path;
  }
}

TEST(Carving, ZipIsNamedByItsFirstMemberAndTopFolders) {
  std::string dir = test::ScratchDir("carving_zip");
  test::WriteFile(
      dir + "/make.py",
      "import zipfile\n"
      "for n, names in [('a', '[Content_Types].xml word/a'), ('b', 'word/a x'),\n"
      "                 ('c', '[Content_Types].xml xl/a docProps/b')]:\n"
      "  with zipfile.ZipFile(n, 'w') as f:\n"
      "    f.comment, _ = n.encode() * 5, [f.writestr(m, m * 99) for m in names.split()]\n");
  ASSERT_EQ(test::RunCommand("cd " + dir + " && python3 make.py").status, 0);
  for (auto [file, suffix] :
       {std::pair<Buffer, Buffer>{"a", ".docx"}, {"b", ".zip"}, {"c", ".xlsx"}}) {
    Buffer zip = test::ReadFile(dir + "/" + file);
    CarveResult r = Carve(Planted(zip));
    EXPECT_TRUE(r.recorded && r.size == zip.size() && r.name == "8" + suffix) << file;
  }
}

TEST(Carving, JpegEndsAtTheEndOfImageAfterItsScans) {
  // Any table may come first; the scan holds stuffed FF 00, a restart and
  // fill; a second scan follows a table; junk that is not zero follows the end.
  Buffer dqt = "\xFF\xDB\x00\x04\x01\x02"s, sos = "\xFF\xDA\x00\x03\x01"s;
  Buffer jpeg = "\xFF\xD8"s + dqt + sos + Buffer(600, 0x55) + "\xFF\x00\xFF\xD3\xFF\xFF\xD4"s +
                "\xFF\xC4\x00\x03\x07"s + sos + "\x12\xFF\x00"s + "\xFF\xD9"s;
  CarveResult r = Carve(Planted(jpeg + "\xFF\xD9\x11\x22"s));
  EXPECT_TRUE(r.recorded && r.size == jpeg.size() && r.name == "8.jpg");
  EXPECT_FALSE(Carve(Planted("\xFF\xD8"s + dqt + "\xFF\xD9"s)).recorded);  // no scan
  EXPECT_FALSE(Carve(Planted("\xFF\xD8"s + dqt + sos + "\xFF\xD8"s)).recorded);
}

TEST(Carving, RiffAndMp3AreSizedByTheirStructure) {
  Buffer wav =
      "RIFF\x24\x04\0\0WAVEfmt \x10\0\0\0"s + Buffer(16, 1) + "data\0\4\0\0"s + Buffer(1024, 2);
  EXPECT_EQ(Carve(Planted(wav)).size, wav.size());
  EXPECT_FALSE(Carve(Planted(wav.replace(4, 1, "\x26"))).recorded);  // chunks fall short
  // MPEG-1 layer I, 128 kbit/s, 48 kHz: 128-byte frames; MPEG-2.5 layer III, 8 kbit/s, 8 kHz: 72.
  auto mp3 = [](size_t frames, Buffer header = "\xFF\xFF\x44", size_t length = 128) {
    Buffer f;
    for (size_t i = 0; i < frames; ++i) f += header + Buffer(length - 3, 0);
    return Carve(Planted(f + "TAG" + Buffer(125, 0), 0));
  };
  EXPECT_FALSE(mp3(15).recorded);
  EXPECT_EQ(mp3(16).size, 16u * 128 + 128);
  EXPECT_EQ(mp3(14564, "\xFF\xE3\x18", 72).size, 14564u * 72 + 128);
}

// A compound document: root, summary information with title, author, application.
Buffer Ole(const Buffer& title, const Buffer& author, const Buffer& app, uint32_t count = 3) {
  Buffer f(2048, 0);
  f += Buffer(512, '\xFF');  // sector 3: the allocation table, sectors 0 to 3 in use
  f.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
  f[0x1E] = 9, test::Poke32(f, 0x4C, 3), f.replace(2048, 16, Buffer(16, '\xFE'));
  f.replace(512, 8, "R\0o\0o\0t\0"s), f.replace(640, 8, "\5\0S\0u\0m\0"s);
  test::Poke32(f, 512 + 116, 5), test::Poke32(f, 640 + 116, 2);
  test::Poke32(f, 44, 1), test::Poke32(f, 1536 + 52, count);
  const Buffer values[] = {title, author, app};
  for (uint32_t i = 0, id[] = {2, 4, 18}; i < 3; ++i) {
    size_t at = 1536 + 96 + 32 * i;
    test::Poke32(f, 1536 + 56 + 8 * i, id[i]), test::Poke32(f, 1536 + 60 + 8 * i, 48 + 32 * i);
    test::Poke32(f, at, 0x1E), test::Poke32(f, at + 4, values[i].size() + 1);
    f.replace(at + 8, values[i].size(), values[i]);
  }
  return f;
}

TEST(Carving, OleNamesComeFromTheDirectoryOrTheSummaryInformation) {
  EXPECT_EQ(Carve(Planted(Ole("Budget", "Li", "Microsoft Excel"))).name, "Budget.xls");
  CarveResult r = Carve(Planted(Ole("", "Li", "Microsoft Office Word")));
  EXPECT_TRUE(r.recorded && r.size == 2560 && r.name == "Li8.doc");
  // A title unfit for a file name is made fit.
  EXPECT_EQ(Carve(Planted(Ole("a\r\n/b:c", "", "Microsoft Excel"))).name, "a___b_c.xls");
  EXPECT_FALSE(Carve(Planted(Ole("Budget", "Li", "LibreOffice"))).recorded ||
               Carve(Planted(Ole("Budget", "Li", "Microsoft Excel", 121))).recorded);
  EXPECT_EQ(Carve(Planted(Ole("", "", "LibreOffice").replace(768, 8, "P\0o\0w\0e"s))).name,
            "8.ppt");
}

TEST(Carving, EndlessOrLoopingStructuresEndAtTheirBounds) {
  auto padded = [](Buffer b, size_t size) { return b + Buffer(size - b.size(), 0); };
  CarveResult mpeg =
      CarveEndless(padded("\0\0\1\xBA\x44"s, 14), padded("\0\0\1\xBB\xFF\xFF"s, 65541));
  EXPECT_TRUE(mpeg.recorded && mpeg.size == kEndless);  // a stream cut by the source's end
  EXPECT_FALSE(CarveEndless("\0\0\0\x08ftyp"s, padded("\0\x10\0\0free"s, 1 << 20)).recorded);
  Buffer local = padded("PK\3\4"s, 30);
  test::Poke32(local, 18, (1 << 20) - 30);
  EXPECT_FALSE(CarveEndless("", padded(local, 1 << 20)).recorded);
  test::Poke32(local, 18, 0xFFFFFFE2);  // at 32 bits, back to this header
  EXPECT_FALSE(Carve(Planted(local + "PK\5\6"s + Buffer(18, 0))).recorded);
  Buffer block = "\0\0\x7A\0\x80\7\0\xF9\xFF\x0F\0"s;  // 7 + 0xFFFF9 bytes
  EXPECT_FALSE(CarveEndless("Rar!\x1A\7\0"s, padded(block, 1 << 20)).recorded);
  EXPECT_FALSE(CarveEndless("\xFF\xD8", padded("\xFF\xE0\xFF\xFFJFIF", 0x10001)).recorded);
  EXPECT_EQ(CarveEndless("", padded("\xFF\xFF\x44", 128)).size, kEndless);
}

// Real files of every format, made by the tools that write them, each planted
// in random bytes with a random tail that is not zero.
TEST(Carving, RealFilesOfEveryFormatComeBackAtTheirExactSize) {
  std::string dir = test::ScratchDir("carving_samples");
  ASSERT_EQ(test::RunCommand(std::string(BREVID_TEST_SOURCE_DIR) +
                             "/format/make_carving_samples.sh " + dir)
                .status,
            0);
  std::istringstream list(test::ReadFile(dir + "/list.txt"));
  std::mt19937 rng(5);
  size_t files = 0;
  for (std::string name, extension; list >> name >> extension; ++files) {
    Buffer file = test::ReadFile(dir + "/" + name);
    Buffer disk = Planted(file, 512 + rng() % 4096);
    for (size_t i = kStart * 512 + file.size(); i < disk.size(); ++i)
      disk[i] = static_cast<char>(rng() | 1);
    CarveResult r = Carve(disk);
    EXPECT_TRUE(r.recorded && r.name == "8." + extension) << name << " " << r.name;
    EXPECT_EQ(r.size, file.size()) << name;
  }
  EXPECT_GE(files, 20u);  // the tools ran
}

}  // namespace
}  // namespace brevid
