// LZNT1 against a reference compressor written here from the format (greedy
// matches, 4096-byte chunks, units stored raw when they save no cluster),
// hand-made and hostile token streams, and files compressed by ntfs-3g.
#include "format/lznt1.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <map>
#include <string_view>

#include "common/endian.h"
#include "export/compressed_copy.h"
#include "format/mft_record.h"
#include "fs/mft_record_reader.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

using Buffer = std::vector<uint8_t>;

void Put16(Buffer& b, size_t v) { b.push_back(v & 0xFF), b.push_back((v >> 8) & 0xFF); }
unsigned OffsetBits(size_t pos) { return std::max(4, static_cast<int>(std::bit_width(pos - 1))); }
size_t MaxLength(size_t pos) { return (size_t{1} << (16 - OffsetBits(pos))) + 2; }

// A token: a literal, or a back-reference when `length` is not 0.
struct Token {
  uint8_t literal = 0;
  size_t offset = 0, length = 0;
};

Buffer Chunk(const std::vector<Token>& tokens) {
  Buffer body;
  size_t flagAt = 0, pos = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (i % 8 == 0) flagAt = body.size(), body.push_back(0);
    const Token& t = tokens[i];
    if (t.length == 0) {
      body.push_back(t.literal), ++pos;
      continue;
    }
    body[flagAt] |= static_cast<uint8_t>(1u << (i % 8));
    Put16(body, ((t.offset - 1) << (16 - OffsetBits(pos))) | (t.length - 3));
    pos += t.length;
  }
  Buffer chunk;
  Put16(chunk, 0xB000 | (body.size() - 1));
  chunk.insert(chunk.end(), body.begin(), body.end());
  return chunk;
}

// Greedy longest matches over the last 64 places a 3-byte prefix was seen.
Buffer CompressChunk(std::span<const uint8_t> data) {
  std::vector<Token> tokens;
  std::map<uint32_t, std::vector<size_t>> seen;
  auto key = [&](size_t i) { return data[i] | (data[i + 1] << 8) | (data[i + 2] << 16); };
  for (size_t pos = 0; pos < data.size();) {
    Token best{data[pos]};
    if (pos > 0 && pos + 3 <= data.size()) {
      const std::vector<size_t>& places = seen[key(pos)];
      for (size_t k = places.size(); k-- > 0 && places.size() - k <= 64;) {
        size_t offset = pos - places[k], length = 0;
        if (offset > (size_t{1} << OffsetBits(pos))) break;
        while (pos + length < data.size() && length < MaxLength(pos) &&
               data[pos + length] == data[pos + length - offset]) {
          ++length;
        }
        if (length >= 3 && length > best.length) best = {0, offset, length};
      }
    }
    size_t step = best.length ? best.length : 1;
    for (size_t i = pos; i < pos + step; ++i) {
      if (i + 3 <= data.size()) seen[key(i)].push_back(i);
    }
    tokens.push_back(best);
    pos += step;
  }
  Buffer chunk = Chunk(tokens);
  if (chunk.size() - 2 < data.size()) return chunk;
  Buffer stored;
  Put16(stored, 0x3000 | (data.size() - 1));
  stored.insert(stored.end(), data.begin(), data.end());
  return stored;
}

Buffer Unit(std::span<const uint8_t> data) {
  Buffer out;
  for (size_t at = 0; at < data.size(); at += 4096) {
    Buffer c = CompressChunk(data.subspan(at, std::min<size_t>(4096, data.size() - at)));
    out.insert(out.end(), c.begin(), c.end());
  }
  if (data.size() == kLznt1UnitBytes && out.size() > kLznt1UnitBytes - 4096) {
    return Buffer(data.begin(), data.end());
  }
  return out;
}

Buffer Text(size_t size, uint32_t seed) {
  static const char* words[] = {"recover ", "sector ", "cluster ", "record\r\n", "index "};
  Buffer b;
  while (b.size() < size) {
    seed = seed * 1103515245 + 12345;
    std::string_view word = words[(seed >> 16) % 5];
    b.insert(b.end(), word.begin(), word.end());
    if ((seed >> 8) % 7 == 0) b.push_back('0' + seed % 10);
  }
  b.resize(size);
  return b;
}

Buffer Noise(size_t size, uint32_t seed) {
  Buffer b(size);
  for (auto& x : b) x = static_cast<uint8_t>((seed = seed * 1664525 + 1013904223) >> 24);
  return b;
}

Buffer Join(std::initializer_list<Buffer> parts) {
  Buffer all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Buffer Decompress(const Buffer& in, size_t outSize, size_t expectedCount) {
  Buffer out(outSize, 0xEE);
  EXPECT_EQ(DecompressLznt1(in, out), expectedCount);
  return out;
}

// ---- round trips ----

TEST(Lznt1RoundTrip, UnitsOfEveryShape) {
  Buffer text = Text(kLznt1UnitBytes, 1), noise = Noise(kLznt1UnitBytes, 2);
  // Stored chunks first and in the middle of a compressed unit.
  Buffer stored = Join({Noise(4096, 3), Text(28672, 4), Noise(4096, 5), Text(28672, 6)});
  ASSERT_EQ(Unit(stored)[1], 0x3F);
  EXPECT_EQ(Decompress(Unit(text), kLznt1UnitBytes, kLznt1UnitBytes), text);
  EXPECT_EQ(Decompress(Unit(stored), kLznt1UnitBytes, kLznt1UnitBytes), stored);
  EXPECT_EQ(Decompress(Join({Unit(noise), Unit(text)}), 2 * kLznt1UnitBytes, 2 * kLznt1UnitBytes),
            Join({noise, text}));
  // A short last unit: whole chunks, zero-padded.
  Buffer tail = Text(10000, 7);
  Buffer out = Decompress(Join({Unit(tail), Buffer(300, 0)}), kLznt1UnitBytes, 3 * 4096);
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), out.begin()));
  EXPECT_EQ(std::count(out.begin() + 10000, out.begin() + 3 * 4096, 0), 3 * 4096 - 10000);
  for (uint32_t seed = 1; seed <= 8; ++seed) {  // short periods: matches at every distance
    Buffer data(kLznt1UnitBytes);
    for (size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<uint8_t>((i % (seed * 5)) * seed + i / 999);
    EXPECT_EQ(Decompress(Unit(data), kLznt1UnitBytes, kLznt1UnitBytes), data) << seed;
  }
}

// A chunk that reaches `pos` (16 literals, then copies of them) and there
// refers back `offset` bytes for `length` bytes.
Buffer ReferenceAt(size_t pos, size_t offset, size_t length) {
  std::vector<Token> tokens;
  size_t at = 0;
  for (; at < std::min<size_t>(pos, 16); ++at)
    tokens.push_back({static_cast<uint8_t>(at * 13 + 1)});
  while (at < pos) {
    size_t n = std::min(pos - at, MaxLength(at));
    tokens.push_back(n < 3 ? Token{static_cast<uint8_t>(at)} : Token{0, 16, n});
    at += n < 3 ? 1 : n;
  }
  tokens.push_back({0, offset, length});
  return Chunk(tokens);
}

TEST(Lznt1References, SplitMovesWithThePosition) {
  for (size_t pos :
       {1, 2, 15, 16, 17, 31, 32, 33, 64, 65, 128, 129, 1024, 1025, 2048, 2049, 4000}) {
    size_t length = std::min({pos + 2, 4096 - pos, MaxLength(pos)});
    Buffer out = Decompress(ReferenceAt(pos, pos, length), 4096, 4096);
    for (size_t i = 0; i < length; ++i) ASSERT_EQ(out[pos + i], out[i]) << pos << " " << i;
    EXPECT_EQ(out[pos + length], 0) << pos;
  }
  // Before the chunk's start (at 16 done the 4-bit field reaches back 16 only).
  for (size_t pos : {1, 15, 17, 100, 2049}) {
    Buffer out = Decompress(Join({Unit(Text(4096, 8)), ReferenceAt(pos, pos + 1, 3)}),
                            kLznt1UnitBytes, 4096 + pos);
    EXPECT_EQ(out[4096 + pos], 0xEE) << pos;
  }
  Decompress(ReferenceAt(4095, 1, 3), 8192, 4095);  // past the chunk's end
  // A reference first: raw data, copied as far as the input goes.
  Buffer raw = Noise(5000, 9);
  raw[0] = 0x10, raw[1] = 0xB0, raw[2] = 0x01;
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), Decompress(raw, kLznt1UnitBytes, 5000).begin()));
  // A whole unit of input is raw whatever its header says.
  raw = Noise(kLznt1UnitBytes + 9, 10);
  raw[0] = 0x10, raw[1] = 0xB0, raw[2] = 0x00;
  EXPECT_TRUE(std::equal(raw.begin(), raw.end() - 9,
                         Decompress(raw, kLznt1UnitBytes, kLznt1UnitBytes).begin()));
}

// ---- truncated and hostile streams ----

TEST(Lznt1Hostile, EndsWithinInputAndOutput) {
  Buffer data = Text(kLznt1UnitBytes, 11), packed = Unit(data);
  size_t second = 3 + ((packed[0] | (packed[1] << 8)) & 0x0FFF);
  for (size_t cut : {size_t{0}, size_t{1}, size_t{2}, second - 1, second, second + 5}) {
    Decompress(Buffer(packed.begin(), packed.begin() + cut), kLznt1UnitBytes,
               cut >= second ? 4096 : 0);
  }
  for (size_t size : {0, 1, 100, 4095, 4096, 4097, 10000}) {
    Buffer out(size);
    size_t got = DecompressLznt1(packed, out);
    EXPECT_LE(got, size);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + got, data.begin())) << size;
  }
  Buffer raw = Noise(5000, 12);
  raw[1] = 0x12;  // no bit 15 at a unit start: raw, clipped to the input
  EXPECT_EQ(Decompress(raw, kLznt1UnitBytes, 5000)[5000], 0xEE);
  Buffer small(300);
  EXPECT_EQ(DecompressLznt1(Noise(kLznt1UnitBytes, 13), small), 300u);
  Decompress(Join({Unit(Text(4096, 14)), {0, 0}, Unit(Text(4096, 15))}), kLznt1UnitBytes, 4096);
  Decompress(Join({Unit(Text(4096, 16)), {0xFF, 0x3F, 1, 2}}), kLznt1UnitBytes, 4096);
  uint32_t seed = 99;
  for (int round = 0; round < 2000; ++round) {
    seed = seed * 1103515245 + 12345;
    Buffer in = Noise(seed % 9000, seed), out((seed >> 8) % 70000 + 1);
    if (in.size() >= 2) in[1] |= 0x80;
    EXPECT_LE(DecompressLznt1(in, out), out.size());
  }
}

// ---- CopyCompressedUnits ----

struct Disk {
  Buffer image = Buffer(1024 * 512, 0);
  VolumeInfo volume;
  Disk() { volume.sectorCount = 1024, volume.sectorsPerCluster = 8; }
  uint64_t Place(uint64_t sector, const Buffer& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + sector * 512);
    return (bytes.size() + 511) / 512;
  }
  Buffer Copy(const std::vector<SectorExtent>& extents, uint64_t dataSize, uint64_t expectWritten) {
    std::string path = test::ScratchDir("lznt1_copy") + "/out";
    TargetHandle out = TargetHandle::Open(path, TargetHandle::Mode::kCreateAlways);
    MemorySourceOpener memory;
    memory.Add("disk", image);
    DiskInfo disk;
    disk.path = "disk";
    VolumeReader source(disk, volume, memory);
    EXPECT_TRUE(source.Open());
    EXPECT_EQ(CopyCompressedUnits(source, out, extents, dataSize), expectWritten);
    out.Close();
    std::ifstream in(path, std::ios::binary);
    return Buffer(std::istreambuf_iterator<char>(in), {});
  }
};

// Extents are whole clusters (8 sectors here); a hole is sector 0.
TEST(Lznt1Copy, UnitsStoredCompressedAndHoles) {
  Disk disk;
  Buffer raw = Noise(kLznt1UnitBytes, 21), text = Text(kLznt1UnitBytes, 22), tail = Text(5000, 23);
  std::fill(text.begin(), text.begin() + 100, 0);  // a first byte of 0 is still data
  disk.Place(100, raw);
  uint64_t textClusters = (disk.Place(228, Unit(text)) + 7) / 8;
  disk.Place(600, Unit(tail));
  uint64_t size = 3 * kLznt1UnitBytes + 5000;
  // raw unit, compressed unit, a whole unit of hole, a compressed short last unit
  std::vector<SectorExtent> extents = {
      {100, 128 + textClusters * 8}, {0, (16 - textClusters) * 8 + 128}, {600, 8}, {0, 15 * 8}};
  EXPECT_EQ(disk.Copy(extents, size, size), Join({raw, text, Buffer(kLznt1UnitBytes, 0), tail}));
  EXPECT_EQ(disk.Copy({{100, 128}}, 1 << 20, kLznt1UnitBytes), raw);  // no padding unit added
  EXPECT_EQ(disk.Copy({{600, 8}, {0, 120}}, 1000, 1000), Buffer(tail.begin(), tail.begin() + 1000));
  Buffer odd = Noise(1024, 24);
  odd[0] = 0xFF,
  odd[1] = 0xBF;  // a chunk longer than the stored bytes: nothing decodes, raw is written
  disk.Place(16, odd);
  EXPECT_EQ(disk.Copy({{16, 8}, {0, 120}}, 100000, 4096), Join({odd, Buffer(3072, 0)}));
}

TEST(Lznt1Copy, BoundsOnVolumeAndGeometry) {
  Disk disk;
  Buffer edge = Noise(kLznt1UnitBytes, 25);
  disk.Place(1024 - 128, edge);
  EXPECT_EQ(disk.Copy({{5000, 8}, {1ull << 40, 1ull << 32}}, 1 << 20, 0).size(), 0u);
  // A unit inside the volume, then extents far past it: the copy ends at the volume's end.
  EXPECT_EQ(disk.Copy({{1024 - 128, 0xFFFFFFFFull * 8}}, 1ull << 40, kLznt1UnitBytes), edge);
  // A hole of 2^32 clusters is passed over in one step, not unit by unit.
  EXPECT_EQ(disk.Copy({{0, 0xFFFFFFFFull * 8}, {1024 - 128, 128}}, 1ull << 20, 1ull << 20).size(),
            0u);
  disk.volume.sectorsPerCluster = 0;
  disk.Copy({{1024 - 128, 128}}, 1000, 0);
  disk.volume.sectorsPerCluster = 4096;  // 2 MiB clusters: no volume compresses those
  disk.Copy({{0, 4096}, {1024 - 128, 128}}, 1000, 0);
}

// ---- files compressed by ntfs-3g ----

// Writes `files` into a folder marked compressed on a fresh volume mounted
// through ntfs-3g with the compression option; empty when that cannot be
// done here (it needs /dev/fuse).
std::string MakeNtfs3gVolume(const std::map<std::string, Buffer>& files) {
  if (::access("/dev/fuse", R_OK | W_OK) != 0 || !test::HaveTool("ntfs-3g") ||
      !test::HaveTool("mkntfs")) {
    return "";
  }
  std::string dir = test::ScratchDir("lznt1_ntfs3g"), image = dir + "/v.img", mnt = dir + "/m";
  std::filesystem::create_directories(mnt);
  if (test::RunCommand("truncate -s 16M " + image + " && mkntfs -F -Q -T -s 512 -c 4096 " + image)
          .status) {
    return "";
  }
  std::string pid = test::RunCommand("ntfs-3g -o compression,no_detach " + image + " " + mnt +
                                     " >" + dir + "/log 2>&1 & echo $!")
                        .out;
  pid = pid.substr(0, pid.find('\n'));
  int tries = 0;
  while (test::RunCommand("mountpoint -q " + mnt).status != 0 && ++tries < 100) ::usleep(100000);
  if (tries == 100) {
    test::RunCommand("kill " + pid);
    return "";
  }
  std::filesystem::create_directories(mnt + "/c");
  test::RunCommand("setfattr -n system.ntfs_attrib_be -v 0x00000800 " + mnt + "/c");
  for (const auto& [name, bytes] : files) {
    std::ofstream(mnt + "/c/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  test::RunCommand("fusermount -u " + mnt);
  // The volume is complete once ntfs-3g has closed it and ended.
  for (tries = 0; test::RunCommand("kill -0 " + pid).status == 0 && ++tries < 100;)
    ::usleep(100000);
  return image;
}

TEST(Lznt1Ntfs3g, CompressedFilesReadBackThroughTheirRecords) {
  Buffer text = Text(300000, 61);
  // Two raw units, a unit starting with a stored chunk, a unit of zeros (a
  // hole on disk), a short last unit.
  Buffer mixed = Join({Noise(140000, 62), Text(100000, 63), Buffer(100000, 0), Text(7000, 64)});
  std::map<std::string, Buffer> files = {{"text.txt", text}, {"mixed.bin", mixed}};
  std::string image = MakeNtfs3gVolume(files);
  if (image.empty()) GTEST_SKIP() << "ntfs-3g with /dev/fuse is not available";

  DiskInfo disk;
  disk.path = image;
  VolumeInfo volume;
  VolumeReader h(disk, volume);
  ASSERT_TRUE(h.Open());
  Buffer boot = h.Read(0, 512);
  volume.sectorCount = h.SourceBytes() / 512, volume.sectorsPerCluster = boot[0x0D];
  volume.mftStart = LoadLe64(boot, 0x30) * volume.sectorsPerCluster;
  MftRecordInfo mft;
  ASSERT_TRUE(ReadMftRecord(h, 0, mft, {}, 0));
  size_t found = 0;
  for (uint32_t n = 16; n < 128; ++n) {
    MftRecordInfo info;
    if (!ReadMftRecord(h, n, info, mft.runs, 0) || !files.count(info.name)) continue;
    ++found;
    EXPECT_EQ(info.dataFlags & 0xFF, 1) << info.name;  // compressed
    std::vector<SectorExtent> extents;
    for (const auto& [index, run] : info.runs) {
      uint64_t spc = volume.sectorsPerCluster;
      extents.push_back({run.startCluster * spc, run.length * spc});
    }
    std::string path = test::ScratchDir("lznt1_ntfs3g_" + std::to_string(n)) + "/out";
    TargetHandle out = TargetHandle::Open(path, TargetHandle::Mode::kCreateAlways);
    out.SetLength(info.size);  // holes are skipped over, as the saver sizes its output first
    EXPECT_EQ(CopyCompressedUnits(h, out, extents, info.size), files[info.name].size());
    out.Close();
    std::ifstream back(path, std::ios::binary);
    EXPECT_TRUE(Buffer(std::istreambuf_iterator<char>(back), {}) == files[info.name]) << info.name;
  }
  EXPECT_EQ(found, files.size());
}

}  // namespace
}  // namespace brevid
