// LZNT1 against a small reference compressor written here from the format
// (greedy matches, 4096-byte chunks, units stored raw when they do not save
// a cluster), hand-made token streams, and hostile streams.
#include "fs/lznt1.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <map>

#include "common/endian.h"
#include "fs/mft_record.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

using Buffer = std::vector<uint8_t>;

void Put16(Buffer& b, uint16_t v) {
  b.push_back(v & 0xFF);
  b.push_back(v >> 8);
}

// Tokens of one chunk: flag bytes, literals and 16-bit back-references whose
// offset field is max(4, bit width of (position - 1)) bits wide.
Buffer ChunkTokens(std::span<const uint8_t> chunk) {
  Buffer out;
  std::map<uint32_t, std::vector<size_t>> seen;  // 3-byte prefix -> positions
  auto key = [&](size_t i) { return chunk[i] | (chunk[i + 1] << 8) | (chunk[i + 2] << 16); };
  size_t pos = 0;
  while (pos < chunk.size()) {
    size_t flagAt = out.size();
    out.push_back(0);
    for (int bit = 0; bit < 8 && pos < chunk.size(); ++bit) {
      size_t bestLength = 0, bestOffset = 0;
      if (pos > 0 && pos + 3 <= chunk.size()) {
        unsigned offsetBits = std::max(4, static_cast<int>(std::bit_width(pos - 1)));
        size_t maxLength = (size_t{1} << (16 - offsetBits)) + 2;
        auto& candidates = seen[key(pos)];
        for (auto it = candidates.rbegin();
             it != candidates.rend() && it - candidates.rbegin() < 64; ++it) {
          size_t offset = pos - *it;
          if (offset > (size_t{1} << offsetBits)) break;
          size_t length = 0;
          while (pos + length < chunk.size() && length < maxLength &&
                 chunk[pos + length] == chunk[pos + length - offset]) {
            ++length;
          }
          if (length > bestLength) bestLength = length, bestOffset = offset;
        }
      }
      size_t step = 1;
      if (bestLength >= 3) {
        unsigned offsetBits = std::max(4, static_cast<int>(std::bit_width(pos - 1)));
        Put16(out,
              static_cast<uint16_t>(((bestOffset - 1) << (16 - offsetBits)) | (bestLength - 3)));
        out[flagAt] |= static_cast<uint8_t>(1u << bit);
        step = bestLength;
      } else {
        out.push_back(chunk[pos]);
      }
      for (size_t i = pos; i < pos + step; ++i) {
        if (i + 3 <= chunk.size()) seen[key(i)].push_back(i);
      }
      pos += step;
    }
  }
  return out;
}

// One chunk with its header: compressed when that is smaller, else stored.
Buffer Chunk(std::span<const uint8_t> data, bool forceStored = false) {
  Buffer tokens = ChunkTokens(data);
  Buffer out;
  if (!forceStored && tokens.size() < data.size()) {
    Put16(out, static_cast<uint16_t>(0xB000 | (tokens.size() + 2 - 3)));
    out.insert(out.end(), tokens.begin(), tokens.end());
  } else {
    Put16(out, static_cast<uint16_t>(0x3000 | (data.size() + 2 - 3)));
    out.insert(out.end(), data.begin(), data.end());
  }
  return out;
}

// A compression unit as stored: its chunks, or its raw bytes when the
// chunks would not save a 4096-byte cluster.
Buffer Unit(std::span<const uint8_t> data, bool* stored = nullptr) {
  Buffer out;
  for (size_t at = 0; at < data.size(); at += 4096) {
    Buffer c = Chunk(data.subspan(at, std::min<size_t>(4096, data.size() - at)));
    out.insert(out.end(), c.begin(), c.end());
  }
  bool raw = data.size() == kLznt1UnitBytes && out.size() > kLznt1UnitBytes - 4096;
  if (stored) *stored = raw;
  if (raw) return Buffer(data.begin(), data.end());
  return out;
}

Buffer Text(size_t size, uint32_t seed = 1) {
  static const char* words[] = {"recover ", "sector ", "cluster ", "record ", "index ",
                                "volume ",  "\r\n",    "2024-",    "file ",   "data "};
  Buffer b;
  while (b.size() < size) {
    seed = seed * 1103515245 + 12345;
    const char* w = words[(seed >> 16) % 10];
    b.insert(b.end(), w, w + strlen(w));
    if ((seed >> 8) % 7 == 0) b.push_back(static_cast<uint8_t>('0' + seed % 10));
  }
  b.resize(size);
  return b;
}

Buffer Noise(size_t size, uint32_t seed = 7) {
  Buffer b(size);
  for (auto& x : b) x = static_cast<uint8_t>((seed = seed * 1664525 + 1013904223) >> 24);
  return b;
}

Buffer Join(std::initializer_list<Buffer> parts) {
  Buffer all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// ---- round trips -----------------------------------------------------------------

TEST(Lznt1RoundTrip, TextUnit) {
  Buffer data = Text(kLznt1UnitBytes);
  bool raw = true;
  Buffer packed = Unit(data, &raw);
  ASSERT_FALSE(raw);
  ASSERT_LT(packed.size(), data.size() / 2);
  Buffer out(kLznt1UnitBytes, 0xEE);
  EXPECT_EQ(DecompressLznt1(packed, out), kLznt1UnitBytes);
  EXPECT_EQ(out, data);
}

TEST(Lznt1RoundTrip, RawUnitThenCompressedUnit) {
  Buffer noise = Noise(kLznt1UnitBytes);
  Buffer text = Text(kLznt1UnitBytes, 9);
  bool raw = false;
  Buffer first = Unit(noise, &raw);
  ASSERT_TRUE(raw);
  Buffer in = Join({first, Unit(text)});
  Buffer out(2 * kLznt1UnitBytes);
  EXPECT_EQ(DecompressLznt1(in, out), 2 * kLznt1UnitBytes);
  EXPECT_EQ(Buffer(out.begin(), out.begin() + kLznt1UnitBytes), noise);
  EXPECT_EQ(Buffer(out.begin() + kLznt1UnitBytes, out.end()), text);
}

TEST(Lznt1RoundTrip, StoredChunksInsideACompressedUnit) {
  // An incompressible chunk first and one in the middle; the rest compresses.
  Buffer data = Join({Noise(4096, 3), Text(7 * 4096, 4), Noise(4096, 5), Text(7 * 4096, 6)});
  bool raw = true;
  Buffer packed = Unit(data, &raw);
  ASSERT_FALSE(raw);
  ASSERT_EQ(packed[0] | (packed[1] << 8), 0x3FFF);
  Buffer out(kLznt1UnitBytes);
  EXPECT_EQ(DecompressLznt1(packed, out), kLznt1UnitBytes);
  EXPECT_EQ(out, data);
}

TEST(Lznt1RoundTrip, ShortLastUnitIsPaddedToWholeChunks) {
  Buffer data = Text(10000, 11);
  Buffer packed = Unit(data);
  packed.resize(packed.size() + 300, 0);  // the rest of its cluster
  Buffer out(kLznt1UnitBytes, 0xEE);
  EXPECT_EQ(DecompressLznt1(packed, out), 3 * 4096u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
  EXPECT_TRUE(
      std::all_of(out.begin() + 10000, out.begin() + 3 * 4096, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(out[3 * 4096], 0xEE);
}

TEST(Lznt1RoundTrip, ManyShapes) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    // Runs of one byte, short periods and text: matches at every distance.
    Buffer data;
    for (size_t i = 0; data.size() < kLznt1UnitBytes; ++i) {
      size_t period = 1 + (seed * 7 + i) % 40;
      for (size_t j = 0; j < 50 + seed * 13 && data.size() < kLznt1UnitBytes; ++j) {
        data.push_back(static_cast<uint8_t>((j % period) * seed + i));
      }
    }
    Buffer packed = Unit(data);
    Buffer out(kLznt1UnitBytes);
    ASSERT_EQ(DecompressLznt1(packed, out), kLznt1UnitBytes) << seed;
    EXPECT_EQ(out, data) << seed;
  }
}

// ---- back-references around the moving split -------------------------------------------

unsigned OffsetBits(size_t pos) { return std::max(4, static_cast<int>(std::bit_width(pos - 1))); }
size_t MaxLength(size_t pos) { return (size_t{1} << (16 - OffsetBits(pos))) + 2; }

// A token: a literal byte, or a back-reference (offset, length).
struct Token {
  uint8_t literal = 0;
  size_t offset = 0;
  size_t length = 0;
};

// One compressed chunk holding exactly `tokens`.
Buffer EncodeChunk(const std::vector<Token>& tokens) {
  Buffer body;
  size_t flagAt = 0;
  int bit = 8;
  size_t pos = 0;
  for (const Token& t : tokens) {
    if (bit == 8) flagAt = body.size(), body.push_back(0), bit = 0;
    if (t.length == 0) {
      body.push_back(t.literal);
      ++pos;
    } else {
      body[flagAt] |= static_cast<uint8_t>(1u << bit);
      Put16(body,
            static_cast<uint16_t>(((t.offset - 1) << (16 - OffsetBits(pos))) | (t.length - 3)));
      pos += t.length;
    }
    ++bit;
  }
  Buffer chunk;
  Put16(chunk, static_cast<uint16_t>(0xB000 | (body.size() + 2 - 3)));
  chunk.insert(chunk.end(), body.begin(), body.end());
  return chunk;
}

// A chunk that reaches position `pos` (16 distinct literals, then copies of
// them) and there refers back `offset` bytes for `length` bytes.
Buffer ReferenceAt(size_t pos, size_t offset, size_t length) {
  std::vector<Token> tokens;
  size_t at = 0;
  for (; at < std::min<size_t>(pos, 16); ++at)
    tokens.push_back({static_cast<uint8_t>(at * 13 + 1)});
  while (at < pos) {
    size_t n = std::min(pos - at, MaxLength(at));
    if (n < 3) {
      tokens.push_back({static_cast<uint8_t>(at)});
      ++at;
      continue;
    }
    tokens.push_back({0, 16, n});
    at += n;
  }
  tokens.push_back({0, offset, length});
  return EncodeChunk(tokens);
}

TEST(Lznt1References, OffsetFieldWidensWithThePosition) {
  for (size_t pos : {1,   2,   15,  16,  17,  18,  31,   32,   33,   64,   65,
                     128, 129, 256, 257, 512, 513, 1024, 1025, 2048, 2049, 4000}) {
    size_t length = std::min({pos + 2, 4096 - pos, MaxLength(pos)});
    Buffer out(4096, 0xEE);
    ASSERT_EQ(DecompressLznt1(ReferenceAt(pos, pos, length), out), 4096u) << pos;
    for (size_t i = 0; i < length; ++i) ASSERT_EQ(out[pos + i], out[i]) << pos << " " << i;
    EXPECT_EQ(out[pos + length], 0) << pos;  // padding
  }
}

TEST(Lznt1References, BeforeTheChunkStartEndsTheStream) {
  // At 16 bytes done the 4-bit field reaches back 16 at most; at 17, 32.
  for (size_t pos : {1, 15, 17, 100, 2049}) {
    Buffer in = Join({Unit(Text(4096)), ReferenceAt(pos, pos + 1, 3)});
    Buffer out(kLznt1UnitBytes, 0xEE);
    EXPECT_EQ(DecompressLznt1(in, out), 4096u + pos) << pos;
    EXPECT_EQ(out[4096 + pos], 0xEE);
  }
}

TEST(Lznt1References, PastTheChunkEndEndsTheStream) {
  // 4095 literals, then a 3-byte copy that would end at 4098.
  Buffer out(8192, 0xEE);
  EXPECT_EQ(DecompressLznt1(ReferenceAt(4095, 1, 3), out), 4095u);
  EXPECT_EQ(out[4095], 0xEE);
}

TEST(Lznt1References, AtTheFirstPositionTheUnitIsRaw) {
  // Less than a unit of input: only the reference shows the data is raw.
  Buffer in = Noise(5000);
  in[0] = 0x10, in[1] = 0xB0, in[2] = 0x01;  // compressed header, a reference first
  Buffer out(kLznt1UnitBytes, 0xEE);
  EXPECT_EQ(DecompressLznt1(in, out), 5000u);
  EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin()));
}

TEST(Lznt1References, AWholeUnitOfInputIsRawWhateverItsHeader) {
  Buffer in = Noise(kLznt1UnitBytes + 100);
  in[0] = 0x10, in[1] = 0xB0, in[2] = 0x00;  // a compressed header, a literal first
  Buffer out(kLznt1UnitBytes);
  EXPECT_EQ(DecompressLznt1(in, out), kLznt1UnitBytes);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin()));
}

// ---- truncated and hostile input --------------------------------------------------------

TEST(Lznt1Hostile, TruncatedInputKeepsWholeChunksOnly) {
  Buffer packed = Unit(Text(kLznt1UnitBytes));
  size_t secondChunk = 2 + ((packed[0] | (packed[1] << 8)) & 0x0FFF) + 1;
  for (size_t cut :
       {size_t{0}, size_t{1}, size_t{2}, secondChunk - 1, secondChunk, secondChunk + 5}) {
    Buffer in(packed.begin(), packed.begin() + cut);
    Buffer out(kLznt1UnitBytes, 0xEE);
    size_t expected = cut >= secondChunk ? 4096 : 0;
    EXPECT_EQ(DecompressLznt1(in, out), expected) << cut;
  }
}

TEST(Lznt1Hostile, RawUnitIsClippedToInputAndOutput) {
  Buffer in = Noise(5000);
  in[1] = 0x12;  // no bit 15: a raw unit
  Buffer out(kLznt1UnitBytes, 0xEE);
  EXPECT_EQ(DecompressLznt1(in, out), 5000u);
  EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin()));
  EXPECT_EQ(out[5000], 0xEE);
  Buffer small(300);
  EXPECT_EQ(DecompressLznt1(Noise(kLznt1UnitBytes, 2), small), 300u);
}

TEST(Lznt1Hostile, OutputShorterThanTheData) {
  Buffer data = Text(kLznt1UnitBytes);
  Buffer packed = Unit(data);
  for (size_t size : {0, 1, 100, 4095, 4096, 4097, 10000}) {
    Buffer out(size);
    size_t got = DecompressLznt1(packed, out);
    EXPECT_LE(got, size);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + got, data.begin())) << size;
  }
}

TEST(Lznt1Hostile, ZeroHeaderInsideAUnitEnds) {
  Buffer in = Join({Unit(Text(4096)), Buffer{0, 0}, Unit(Text(4096, 3))});
  Buffer out(kLznt1UnitBytes);
  EXPECT_EQ(DecompressLznt1(in, out), 4096u);
  // At a unit start two zero bytes are raw data.
  Buffer zeros(kLznt1UnitBytes, 0);
  zeros[5] = 9;
  EXPECT_EQ(DecompressLznt1(zeros, out), kLznt1UnitBytes);
  EXPECT_EQ(out[5], 9);
}

TEST(Lznt1Hostile, StoredChunkPastItsInput) {
  Buffer in = Join({Unit(Text(4096)), Buffer{0xFF, 0x3F, 1, 2, 3}});
  Buffer out(kLznt1UnitBytes, 0xEE);
  EXPECT_EQ(DecompressLznt1(in, out), 4096u);
}

TEST(Lznt1Hostile, RandomStreamsStayInBounds) {
  uint32_t seed = 99;
  for (int round = 0; round < 2000; ++round) {
    seed = seed * 1103515245 + 12345;
    Buffer in = Noise(seed % 9000, seed);
    if (in.size() >= 2 && round % 2 == 0) in[1] |= 0x80;  // mostly compressed headers
    Buffer out((seed >> 8) % 70000 + 1);
    EXPECT_LE(DecompressLznt1(in, out), out.size());
  }
}

// ---- CopyCompressedUnits ---------------------------------------------------------------

struct CompressedDisk {
  Buffer image = Buffer(1024 * 512, 0);
  VolumeInfo volume;
  CompressedDisk() {
    volume.sectorCount = image.size() / 512;
    volume.sectorsPerCluster = 8;
  }
  void Place(uint64_t sector, const Buffer& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + sector * 512);
  }
  Buffer Copy(const std::vector<SectorExtent>& extents, uint64_t dataSize, uint64_t* written) {
    std::string path = test::ScratchDir("lznt1_copy") + "/out.bin";
    TargetHandle out = TargetHandle::Open(path, TargetHandle::Mode::kCreateAlways);
    SourceHandle source(MakeMemorySource(image));
    *written = CopyCompressedUnits(&source, out, extents, dataSize, volume);
    out.Close();
    std::ifstream in(path, std::ios::binary);
    return Buffer(std::istreambuf_iterator<char>(in), {});
  }
};

TEST(Lznt1Copy, UnitsOfAFileAcrossExtents) {
  CompressedDisk disk;
  Buffer rawUnit = Noise(kLznt1UnitBytes, 21);
  Buffer textUnit = Text(kLznt1UnitBytes, 22);
  Buffer tail = Text(5000, 23);
  // Extent 1: a raw unit followed by a compressed one; extent 2: the last unit.
  Buffer packed = Unit(textUnit);
  disk.Place(100, rawUnit);
  disk.Place(228, packed);
  disk.Place(600, Unit(tail));
  uint64_t used = 128 + (packed.size() + 4095) / 4096 * 8;
  uint64_t written = 0;
  Buffer got = disk.Copy({{100, used}, {600, 8}}, 2 * kLznt1UnitBytes + 5000, &written);
  EXPECT_EQ(written, 2 * kLznt1UnitBytes + 5000);
  EXPECT_EQ(got, Join({rawUnit, textUnit, tail}));
}

TEST(Lznt1Copy, RawOnlyExtentAddsNoZeros) {
  CompressedDisk disk;
  Buffer units = Noise(2 * kLznt1UnitBytes, 31);
  disk.Place(0, units);
  uint64_t written = 0;
  Buffer got = disk.Copy({{0, 256}}, 1 << 20, &written);
  EXPECT_EQ(written, 2 * kLznt1UnitBytes);
  EXPECT_EQ(got, units);
}

TEST(Lznt1Copy, DataStartingWithZeroIsStillDecompressed) {
  CompressedDisk disk;
  Buffer data = Text(kLznt1UnitBytes);
  std::fill(data.begin(), data.begin() + 100, 0);
  Buffer packed = Unit(data);
  disk.Place(8, packed);
  uint64_t written = 0;
  EXPECT_EQ(disk.Copy({{8, (packed.size() + 511) / 512}}, kLznt1UnitBytes, &written), data);
}

TEST(Lznt1Copy, UndecodableExtentIsWrittenRaw) {
  CompressedDisk disk;
  Buffer odd = Noise(1024, 41);
  odd[0] = 0xFF, odd[1] = 0xBF;  // a compressed chunk longer than the extent
  disk.Place(16, odd);
  uint64_t written = 0;
  Buffer got = disk.Copy({{16, 2}}, 100000, &written);
  EXPECT_EQ(written, 1024u);
  EXPECT_EQ(got, odd);
}

TEST(Lznt1Copy, BoundsOnSizeVolumeAndGeometry) {
  CompressedDisk disk;
  Buffer data = Text(kLznt1UnitBytes);
  Buffer packed = Unit(data);
  disk.Place(8, packed);
  uint64_t sectors = (packed.size() + 511) / 512;
  uint64_t written = 0;
  EXPECT_EQ(disk.Copy({{8, sectors}}, 1000, &written), Buffer(data.begin(), data.begin() + 1000));
  EXPECT_EQ(disk.Copy({{8, sectors}}, 0, &written).size(), 0u);
  // Extents beyond the volume's end are not read; one crossing it is cut.
  EXPECT_EQ(disk.Copy({{5000, 8}, {0xFFFFFFFFFFull, 0xFFFFFFFFull}}, 1 << 20, &written).size(), 0u);
  Buffer edge = Noise(kLznt1UnitBytes, 5);
  edge[1] = 0x11;
  disk.Place(1024 - 128, edge);
  EXPECT_EQ(disk.Copy({{1024 - 128, 0xFFFFFFFFull * 8}}, 1ull << 40, &written), edge);
  disk.volume.sectorsPerCluster = 0;
  EXPECT_EQ(disk.Copy({{8, 40}}, 1000, &written).size(), 0u);
  EXPECT_EQ(written, 0u);
}

TEST(Lznt1Copy, LongExtentsGoInSlices) {
  CompressedDisk disk;
  disk.image.resize((kCompressedSliceSectors + 256) * 512);
  disk.volume.sectorCount = disk.image.size() / 512;
  Buffer units = Noise(disk.image.size(), 51);
  disk.Place(0, units);
  uint64_t written = 0;
  Buffer got = disk.Copy({{0, disk.volume.sectorCount}}, units.size(), &written);
  EXPECT_EQ(written, units.size());
  EXPECT_EQ(got, units);
}

// ---- files compressed by ntfs-3g ---------------------------------------------------

// A fresh NTFS volume with files written through an ntfs-3g mount with the
// compression option, in a folder marked compressed. Needs /dev/fuse (root).
class Ntfs3gVolume {
 public:
  explicit Ntfs3gVolume(const std::map<std::string, Buffer>& files) {
    if (::access("/dev/fuse", R_OK | W_OK) != 0 || !test::HaveTool("mkntfs") ||
        !test::HaveTool("ntfs-3g") || !test::HaveTool("fusermount")) {
      why_ = "no ntfs-3g or /dev/fuse";
      return;
    }
    std::string dir = test::ScratchDir("lznt1_ntfs3g");
    image_ = dir + "/v.img";
    std::string mnt = dir + "/m";
    std::filesystem::create_directories(mnt);
    if (test::RunCommand("truncate -s 16M '" + image_ + "' && mkntfs -F -Q -T -s 512 -c 4096 '" +
                         image_ + "' >/dev/null")
            .status != 0) {
      why_ = "mkntfs failed";
      return;
    }
    test::CommandResult started =
        test::RunCommand("ntfs-3g -o compression,no_detach '" + image_ + "' '" + mnt + "' >'" +
                         dir + "/log' 2>&1 & echo $!");
    std::string pid = started.out.substr(0, started.out.find('\n'));
    bool mounted = false;
    for (int i = 0; i < 100 && !mounted; ++i) {
      mounted = test::RunCommand("mountpoint -q '" + mnt + "'").status == 0;
      if (!mounted) ::usleep(100000);
    }
    if (!mounted) {
      test::RunCommand("kill " + pid + " 2>/dev/null");
      why_ = "ntfs-3g did not mount";
      return;
    }
    std::filesystem::create_directories(mnt + "/c");
    test::RunCommand("setfattr -n system.ntfs_attrib_be -v 0x00000800 '" + mnt + "/c'");
    for (const auto& [name, bytes] : files) {
      std::ofstream out(mnt + "/c/" + name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
    }
    test::RunCommand("fusermount -u '" + mnt + "'");
    // The volume is complete only when ntfs-3g has closed it and ended.
    for (int i = 0; i < 100 && test::RunCommand("kill -0 " + pid + " 2>/dev/null").status == 0;
         ++i) {
      ::usleep(100000);
    }
    ready_ = true;
  }
  bool ready() const { return ready_; }
  const std::string& why() const { return why_; }
  const std::string& image() const { return image_; }

 private:
  bool ready_ = false;
  std::string why_;
  std::string image_;
};

TEST(Lznt1Ntfs3g, CompressedFilesReadBackThroughTheirRecords) {
  Buffer text = Text(300000, 61);
  // A unit stored raw, a unit starting with a stored chunk, stored chunks
  // inside compressed units, a unit of zeros, a short last unit.
  Buffer mixed = Join({Noise(140000, 62), Text(100000, 63), Buffer(100000, 0), Text(7000, 64)});
  const std::map<std::string, Buffer> files = {{"text.txt", text}, {"mixed.bin", mixed}};
  Ntfs3gVolume made(files);
  if (!made.ready()) GTEST_SKIP() << made.why();

  SourceHandle h = SourceHandle::Open(made.image());
  ASSERT_TRUE(h.IsOpen());
  Buffer boot = ReadBytes(h, 0, 512);
  VolumeInfo volume;
  volume.sectorCount = h.Size() / 512;
  volume.sectorsPerCluster = boot[0x0D];
  volume.mftStart = LoadLe64(boot, 0x30) * volume.sectorsPerCluster;
  MftRecordInfo mft;
  ASSERT_TRUE(ReadMftRecord(&h, 0, mft, volume, {}, 0));

  std::map<std::string, bool> found;
  for (uint32_t n = 16; n < 128; ++n) {
    MftRecordInfo info;
    if (!ReadMftRecord(&h, n, info, volume, mft.runs, 0)) continue;
    auto file = files.find(info.name);
    if (file == files.end()) continue;
    found[info.name] = true;
    EXPECT_EQ(info.dataFlags & 0x00FF, 0x0001) << info.name;  // compressed
    EXPECT_EQ(info.size, file->second.size());
    std::vector<SectorExtent> extents;
    for (const auto& [index, run] : info.runs) {
      if (run.startCluster == 0) continue;
      extents.push_back({uint64_t{run.startCluster} * volume.sectorsPerCluster,
                         uint64_t{run.length} * volume.sectorsPerCluster});
    }
    // A unit of zeros is stored as no cluster at all, so it is not written:
    // the output is short by that unit, and the last unit's chunk padding
    // shows at its end.
    Buffer expected = file->second;
    if (info.name == "mixed.bin") {
      expected = Join({Buffer(mixed.begin(), mixed.begin() + 4 * kLznt1UnitBytes),
                       Buffer(mixed.begin() + 5 * kLznt1UnitBytes, mixed.end())});
      expected.resize((expected.size() + 4095) / 4096 * 4096, 0);
    }
    std::string path = test::ScratchDir("lznt1_ntfs3g_" + std::to_string(n)) + "/out";
    TargetHandle out = TargetHandle::Open(path, TargetHandle::Mode::kCreateAlways);
    EXPECT_EQ(CopyCompressedUnits(&h, out, extents, info.size, volume), expected.size());
    out.Close();
    std::ifstream back(path, std::ios::binary);
    Buffer got((std::istreambuf_iterator<char>(back)), {});
    EXPECT_TRUE(got == expected) << info.name << " differs";
  }
  EXPECT_EQ(found.size(), files.size());
}

}  // namespace
}  // namespace brevid
