#include "core/ranges.h"

#include <gtest/gtest.h>

namespace vesmer {
namespace {

// "1-1,2-2,...,n-n"
std::string Ranges(int n) {
  std::string text;
  for (int i = 1; i <= n; ++i) {
    if (i > 1) text += ',';
    text += std::to_string(i);
    text += '-';
    text += std::to_string(i);
  }
  return text;
}

TEST(RangesTest, AnEmptyEntryEndsTheList) {
  RangeList list;
  EXPECT_EQ(ParseRangeText("1-5,,7-9", list), ParseOutcome::kValid);
  EXPECT_EQ(list[0], (ColumnRange{1, 5}));
  EXPECT_EQ(list[1], (ColumnRange{0, 0}));
  EXPECT_EQ(ParseRangeText("1-5,", list), ParseOutcome::kValid);
  EXPECT_EQ(list.UsedPrefix(), 1u);
  EXPECT_EQ(ParseRangeText(",", list), ParseOutcome::kValid);
  EXPECT_EQ(list.UsedPrefix(), 0u);
}

TEST(RangesTest, TwentyRangesAtMost) {
  RangeList list;
  EXPECT_EQ(ParseRangeText(Ranges(20), list), ParseOutcome::kValid);
  EXPECT_EQ(list[19], (ColumnRange{20, 20}));
  EXPECT_EQ(ParseRangeText(Ranges(21), list), ParseOutcome::kOverLimit);
  EXPECT_EQ(ParseRangeText(Ranges(20) + ",", list), ParseOutcome::kOverLimit);
  std::string message;
  EXPECT_EQ(ParseKeyRange(Ranges(21), list, message), ParseOutcome::kOverLimit);
  EXPECT_EQ(message, "比較のキー領域の指定が、上限を超えています");
  EXPECT_EQ(ParseOmitRange(Ranges(21), list, message), ParseOutcome::kOverLimit);
  EXPECT_EQ(message, "比較から除外する領域の指定が、上限を超えています");
}

TEST(RangesTest, InvalidEntries) {
  RangeList list;
  for (const char* text : {"5-3", "3", "1-2-3", "-5", "5-", "a-5", "1-5,x", "1e2-3", "+1-3",
                           "2147483648-2147483649", "1 2-3", "１-2"}) {
    EXPECT_EQ(ParseRangeText(text, list), ParseOutcome::kInvalid) << text;
  }
  EXPECT_EQ(ParseRangeText("3-3", list), ParseOutcome::kValid);
  EXPECT_EQ(ParseRangeText("1-2147483647", list), ParseOutcome::kValid);
}

TEST(RangesTest, NumbersAllowBlanksAndRoundHalfToEven) {
  RangeList list;
  EXPECT_EQ(ParseRangeText(" 1 - 5 ", list), ParseOutcome::kValid);
  EXPECT_EQ(list[0], (ColumnRange{1, 5}));
  EXPECT_EQ(ParseRangeText("2.5-3.5,1.6-4.49,.5-0.51", list), ParseOutcome::kValid);
  EXPECT_EQ(list[0], (ColumnRange{2, 4}));
  EXPECT_EQ(list[1], (ColumnRange{2, 4}));
  EXPECT_EQ(list[2], (ColumnRange{0, 1}));
  EXPECT_EQ(ParseRangeText("0-5,3-8", list), ParseOutcome::kValid);
  EXPECT_EQ(list.UsedPrefix(), 0u);  // the first entry is free
}

TEST(RangesTest, NormalisingMakesFullWidthHalfWidth) {
  EXPECT_EQ(NormaliseRangeText("　１－５，７－９ "), "1-5,7-9");
  EXPECT_EQ(NormaliseRangeText("　 　"), "");
  EXPECT_EQ(NormaliseRangeText("ａ～"), "a~");
  EXPECT_EQ(NormaliseRangeText("1-5 ,あ"), "1-5 ,あ");
}

TEST(RangesTest, OverlapOfKeyAndOmittedColumns) {
  RangeList key, omit;
  (void)ParseRangeText("1-10", key);
  (void)ParseRangeText("10-12", omit);
  EXPECT_FALSE(CheckRangeOverlap(key, omit));
  (void)ParseRangeText("11-12", omit);
  EXPECT_TRUE(CheckRangeOverlap(key, omit));
  // Free entries take no part, wherever used ones stand.
  (void)ParseRangeText("0-5,3-8", key);
  (void)ParseRangeText("4-4", omit);
  EXPECT_FALSE(CheckRangeOverlap(key, omit));
  (void)ParseRangeText("1-2", omit);
  EXPECT_TRUE(CheckRangeOverlap(key, omit));
}

}  // namespace
}  // namespace vesmer
