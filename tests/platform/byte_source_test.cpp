#include "platform/byte_source.h"

#include <gtest/gtest.h>

#include <fstream>
#include <type_traits>

#include "platform/source_handle.h"
#include "platform/target_handle.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
  return v;
}

TEST(SourceHandle, ReadsAtItsPositionAndStopsShortAtTheEnd) {
  SourceHandle h(MakeMemorySource(Pattern(1000)));
  std::vector<uint8_t> buf(600, 0xEE);
  size_t got = 0;
  ASSERT_TRUE(h.ReadAt(512, buf, &got));
  EXPECT_EQ(got, 488u);
  EXPECT_EQ(buf[0], Pattern(1000)[512]);
  EXPECT_EQ(buf[488], 0xEE);  // short reads are not padded
  EXPECT_EQ(h.Position(), 1000u);
  ASSERT_TRUE(h.Read(buf, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(h.Size(), 1000u);
}

TEST(SourceHandle, ClosedHandleFailsEveryRead) {
  SourceHandle h = SourceHandle::Open("/nonexistent/brevid/image.img");
  EXPECT_FALSE(h.IsOpen());
  std::vector<uint8_t> buf(16);
  size_t got = 99;
  EXPECT_FALSE(h.ReadAt(0, buf, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(LastErrorText().empty());
  EXPECT_FALSE(SourceHandle::Open("/tmp").IsOpen());  // a folder is no source
}

TEST(SourceHandle, ZeroFilledReadBytesOnAShortSource) {
  SourceHandle h(MakeMemorySource({1, 2, 3}));
  std::vector<uint8_t> b = ReadBytes(h, 1, 8);
  EXPECT_EQ(b, (std::vector<uint8_t>{2, 3, 0, 0, 0, 0, 0, 0}));
}

// The source side has no write operation at all.
template <class T, class = void>
struct HasWrite : std::false_type {};
template <class T>
struct HasWrite<T, std::void_t<decltype(&T::Write)>> : std::true_type {};
static_assert(!HasWrite<SourceHandle>::value);
static_assert(HasWrite<TargetHandle>::value);

TEST(FaultySource, FailsReadsThatTouchABadSector) {
  auto source = MakeFaultySource(MakeMemorySource(Pattern(4096)), {3});
  std::vector<uint8_t> buf(1024);
  size_t got = 0;
  EXPECT_TRUE(source->ReadAt(0, buf, &got));
  EXPECT_EQ(got, 1024u);
  EXPECT_FALSE(source->ReadAt(1024, buf, &got));
  EXPECT_EQ(got, 512u);  // sector 2 came through before the bad one
  EXPECT_TRUE(source->ReadAt(2048, buf, &got));
}

TEST(FileSource, ReadsARealFileAndTargetsWriteOne) {
  std::string dir = test::ScratchDir("file_source");
  std::string path = dir + "/t.img";
  {
    TargetHandle out = TargetHandle::Open(path, TargetHandle::Mode::kCreateAlways);
    ASSERT_TRUE(out.IsOpen());
    size_t written = 0;
    ASSERT_TRUE(out.Seek(100));
    ASSERT_TRUE(out.Write(Pattern(50), &written));
    EXPECT_EQ(written, 50u);
  }
  SourceHandle in = SourceHandle::Open(path);
  ASSERT_TRUE(in.IsOpen());
  EXPECT_EQ(in.Size(), 150u);
  std::vector<uint8_t> b = ReadBytes(in, 100, 50);
  EXPECT_EQ(b, Pattern(50));
  EXPECT_EQ(ReadBytes(in, 0, 1)[0], 0);  // the hole before it reads as zeros
}

}  // namespace
}  // namespace brevid
