// Text laid out for a terminal: widths of Japanese text, and lines broken where Japanese allows.
#include "cli/terminal_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesmer {
namespace {

using Lines = std::vector<std::string>;

TEST(DisplayWidthTest, FullWidthCharactersTakeTwoColumns) {
  EXPECT_EQ(DisplayWidth("abc"), 3u);
  EXPECT_EQ(DisplayWidth("比較"), 4u);
  EXPECT_EQ(DisplayWidth("（例: 1-5）"), 11u);
  EXPECT_EQ(DisplayWidth("ｶﾞ"), 2u);  // half-width katakana and its mark
}

TEST(WrapTextTest, BreaksAtSpacesAndDropsThem) {
  EXPECT_EQ(WrapText("aaa bbb ccc", 7), (Lines{"aaa bbb", "ccc"}));
  EXPECT_EQ(WrapText("aaa bbb ccc", 11), (Lines{"aaa bbb ccc"}));
}

TEST(WrapTextTest, BreaksBetweenFullWidthCharacters) {
  EXPECT_EQ(WrapText("あいうえお", 6), (Lines{"あいう", "えお"}));
  // A full-width character never straddles the edge.
  EXPECT_EQ(WrapText("あいうえお", 5), (Lines{"あい", "うえ", "お"}));
}

TEST(WrapTextTest, ClosingPunctuationNeverStartsALine) {
  EXPECT_EQ(WrapText("あいう、えお", 6), (Lines{"あい", "う、え", "お"}));
  EXPECT_EQ(WrapText("あいう。", 6), (Lines{"あい", "う。"}));
}

TEST(WrapTextTest, OpeningBracketsNeverEndALine) {
  EXPECT_EQ(WrapText("あい（う）", 6), (Lines{"あい", "（う）"}));
  EXPECT_EQ(WrapText("あ「いう」", 4), (Lines{"あ", "「い", "う」"}));
}

TEST(WrapTextTest, HalfWidthTermsStayWhole) {
  EXPECT_EQ(WrapText("キーは --key-fields で", 14), (Lines{"キーは", "--key-fields", "で"}));
  // Full-width characters written against half-width ones are part of the term.
  EXPECT_EQ(WrapText("例 金額,数値,0.01", 14), (Lines{"例", "金額,数値,0.01"}));
  EXPECT_EQ(WrapText("あい名前,開始桁", 12), (Lines{"あい", "名前,開始桁"}));
}

TEST(WrapTextTest, ATermWiderThanALineIsCut) {
  EXPECT_EQ(WrapText("abcdefgh", 3), (Lines{"abc", "def", "gh"}));
  EXPECT_EQ(WrapText("名_UTF8", 4), (Lines{"名_U", "TF8"}));
  EXPECT_EQ(WrapText("ab名", 3), (Lines{"ab", "名"}));
}

TEST(WrapTextTest, NewlinesAlwaysEndALine) {
  EXPECT_EQ(WrapText("a\nb", 80), (Lines{"a", "b"}));
  EXPECT_EQ(WrapText("a\n\nb", 80), (Lines{"a", "", "b"}));
  EXPECT_EQ(WrapText("", 80), (Lines{""}));
}

TEST(WrapTextTest, IndentOfAParagraphIsKept) {
  EXPECT_EQ(WrapText("  あいう えお", 8), (Lines{"  あいう", "えお"}));
}

}  // namespace
}  // namespace vesmer
