#include "platform/unicode.h"

#include <gtest/gtest.h>

#include <string>

namespace vesmer {
namespace {

TEST(ShownTextTest, PrintableTextIsShownAsItIs) {
  EXPECT_EQ(ShownText("社員番号 A-1"), "社員番号 A-1");
  EXPECT_EQ(ShownText(""), "");
  // A replacement character written in the text is text.
  EXPECT_EQ(ShownText("a\xEF\xBF\xBD"), "a\xEF\xBF\xBD");
}

TEST(ShownTextTest, ControlCharactersAreShownAsTheirBytes) {
  EXPECT_EQ(ShownText(std::string("A\0B", 3)), "A\\x00B");
  EXPECT_EQ(ShownText("\t\r\n\x1B[2J\x7F"), "\\x09\\x0D\\x0A\\x1B[2J\\x7F");
  EXPECT_EQ(ShownText("x\xC2\x85y"), "x\\xC2\\x85y");  // U+0085, a C1 control
}

TEST(ShownTextTest, BytesThatAreNotUtf8AreShownAsTheirBytes) {
  EXPECT_EQ(ShownText("\xFF"), "\\xFF");
  EXPECT_EQ(ShownText("\x8E\x81\x88\xF5"), "\\x8E\\x81\\x88\\xF5");  // 社員 in code page 932
  EXPECT_EQ(ShownText("\xE3\x81"
                      "A"),
            "\\xE3\\x81A");                                 // a sequence cut short
  EXPECT_EQ(ShownText("\xED\xA0\x80"), "\\xED\\xA0\\x80");  // a surrogate
}

TEST(ShownTextTest, LongTextIsCutAtACharacter) {
  std::string eighty;
  for (int i = 0; i < 80; ++i) eighty += "あ";
  EXPECT_EQ(ShownText(eighty), eighty);
  std::string long_name;
  for (int i = 0; i < 5'000'000; ++i) long_name += "あ";
  EXPECT_EQ(ShownText(long_name), eighty + "…");
  // An escape is not split: it does not fit after 78 characters.
  const std::string seventy_eight(78, 'a');
  EXPECT_EQ(ShownText(seventy_eight + '\x01'), seventy_eight + "…");
  EXPECT_EQ(ShownText(std::string(76, 'a') + '\x01'), std::string(76, 'a') + "\\x01");
  EXPECT_EQ(ShownText("abcdef", 3), "abc…");
}

}  // namespace
}  // namespace vesmer
