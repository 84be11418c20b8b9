#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace brevid {
namespace {

TEST(Codepage, ChineseRoundTripsThroughCp936) {
  std::string ansi = Utf8ToAnsi("根目录");
  EXPECT_EQ(ansi, "\xB8\xF9\xC4\xBF\xC2\xBC");
  EXPECT_EQ(AnsiToUtf8(ansi), "根目录");
  EXPECT_EQ(AnsiToWide(ansi), u"根目录");
  EXPECT_EQ(WideToAnsi(u"根目录"), ansi);
}

TEST(Codepage, CharactersCp936LacksBecomeTheDefaultCharacter) {
  bool usedDefault = false;
  // Thai and an emoji (a surrogate pair) have no CP936 form.
  EXPECT_EQ(WideToAnsi(u"a\u0E01b\U0001F600c", &usedDefault), "a?b?c");
  EXPECT_TRUE(usedDefault);
  usedDefault = false;
  EXPECT_EQ(WideToAnsi(u"plain", &usedDefault), "plain");
  EXPECT_FALSE(usedDefault);
  // A lone surrogate is not a character at all.
  EXPECT_EQ(WideToAnsi(std::u16string(1, char16_t(0xD800)) + u"x"), "?x");
  EXPECT_EQ(Utf8ToAnsi("é"), "\xA8\xA6");  // CP936 has it
  EXPECT_EQ(Utf8ToAnsi("\xE0\xB8\x81z"), "?z");
}

TEST(Codepage, PathsKeepWhatCp936Lacks) {
  for (const char* path : {"scan-ß.qel_scn", "/tmp/ß日本/x\xE9y.img", "根目录/a.img", "a\xFF"})
    EXPECT_EQ(AnsiToUtf8(PathToAnsi(path)), path);
  EXPECT_NE(PathToAnsi("scan-ß"), PathToAnsi("scan-ä"));
  EXPECT_EQ(PathToAnsi("根目录/a"), Utf8ToAnsi("根目录/a"));
}

TEST(Codepage, InvalidAnsiBytesDoNotStopTheConversion) {
  EXPECT_EQ(AnsiToUtf8(std::string("a\xFF"
                                   "b",
                                   3)),
            "a?b");
  EXPECT_EQ(AnsiToUtf8(std::string("x\xB8", 2)), "x?");  // lead byte cut off at the end
  EXPECT_EQ(AnsiToWide(std::string("\0z", 2)), std::u16string(u"\0z", 2));
}

}  // namespace
}  // namespace brevid
