#include "engine/utf8_input.h"

#include <gtest/gtest.h>

#include "tests/test_util.h"

namespace vesmer {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(Utf8InputTest, NamesComeFromThePathWithoutExtension) {
  EXPECT_EQ(MakeUtf8InputNames("/d/a.csv").converted, "/d/a_SJIS.TXT");
  EXPECT_EQ(MakeUtf8InputNames("/d/a").backup, "/d/a_UTF8.TXT");
  EXPECT_EQ(MakeUtf8InputNames("/d.x/a").backup, "/d.x/a_UTF8.TXT");
}

TEST(Utf8InputTest, DropsTheByteOrderMarkAndReplacesWhatHasNoForm) {
  TempDir dir;
  // BOM, a character with a best fit (¥ -> 5C), one without a form (한), malformed bytes,
  // a character outside the BMP (two '?'), line ends kept as they are.
  WriteFile(dir / "in.txt",
            "\xEF\xBB\xBF"
            "a¥한\xFF\n😀\r\n");
  ASSERT_TRUE(ConvertUtf8Input(dir / "in.txt").ok());
  EXPECT_EQ(ReadFile(dir / "in.txt"), "a\\??\n??\r\n");
}

TEST(Utf8InputTest, StreamsAcrossReadBoundaries) {
  TempDir dir;
  // Enough three-byte characters that several fall across the 1 MiB reads.
  std::string utf8, sjis;
  for (int i = 0; i < 400000; ++i) {
    utf8 += (i % 7 == 0) ? "\r\n" : "あ";
    sjis += (i % 7 == 0) ? "\r\n" : "\x82\xA0";
  }
  WriteFile(dir / "big.txt", utf8);
  ASSERT_TRUE(ConvertUtf8Input(dir / "big.txt").ok());
  EXPECT_EQ(ReadFile(dir / "big.txt"), sjis);
  EXPECT_EQ(ReadFile(dir / "big_UTF8.TXT"), utf8);
}

TEST(Utf8InputTest, MissingInputFails) {
  TempDir dir;
  EXPECT_FALSE(ConvertUtf8Input(dir / "none.txt").ok());
  EXPECT_FALSE(testing::Exists(dir / "none_SJIS.TXT"));
}

}  // namespace
}  // namespace vesmer
