#include "core/record_reader.h"

#include <gtest/gtest.h>

#include "platform/cp932.h"
#include "tests/core/recording_observer.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::CrLf;
using testing::TempDir;
using testing::WriteFile;

class RecordReaderTest : public ::testing::Test {
 protected:
  InputSide& Open(const std::string& content) {
    WriteFile(dir_ / "in", content);
    EXPECT_TRUE(side_.file().Open(dir_ / "in", nullptr).ok());
    side_.ClearKeys();
    return side_;
  }
  void Read() { ReadRecord(side_, out_of_order_); }

  TempDir dir_;
  ComparisonJob job_;
  InputSide side_{Side::kSource, job_};
  bool out_of_order_ = false;
};

TEST_F(RecordReaderTest, KeyIsTakenFromLineBytes) {
  testing::UseKey(job_, "1-3,8-9");
  Open(CrLf({"ABCDEFGHIJ"}));
  Read();
  EXPECT_EQ(side_.record().key(), "ABCHI");
  EXPECT_EQ(side_.lines_read, 1);
}

TEST_F(RecordReaderTest, ShortLinesGiveShortOrEmptyKeys) {
  testing::UseKey(job_, "3-5");
  Open(CrLf({"ab", "abc", "abcdef", "a"}));
  Read();
  EXPECT_TRUE(side_.record().key().empty());
  Read();  // a key after an empty one is not checked
  EXPECT_EQ(side_.record().key(), "c");
  EXPECT_FALSE(out_of_order_);
  Read();
  EXPECT_EQ(side_.record().key(), "cde");
  Read();  // an empty key after a non-empty one is a decrease
  EXPECT_TRUE(out_of_order_);
}

TEST_F(RecordReaderTest, OrderCheck) {
  testing::UseKey(job_, "1-3");
  Open(CrLf({"001", "001", "002", "001"}));
  Read();
  Read();
  Read();
  EXPECT_FALSE(out_of_order_);
  Read();
  EXPECT_TRUE(out_of_order_);
}

TEST_F(RecordReaderTest, KeysOrderByCodeUnitNotByByte) {
  // Half-width katakana 0xB1 (U+FF71) sorts before the kanji 0x88 0x9F (U+4E9C) by bytes
  // only in reverse: as text the kanji is smaller, so this byte-sorted file is out of order.
  testing::UseKey(job_, "1-2");
  Open(CrLf({"\x88\x9F", "\xB1\xB1"}));
  Read();
  Read();
  EXPECT_FALSE(out_of_order_);
  Open(CrLf({"\xB1\xB1", "\x88\x9F"}));
  side_.ClearKeys();
  Read();
  Read();
  EXPECT_TRUE(out_of_order_);
  std::string kanji, katakana, ascii;
  BuildKey("\x88\x9F", job_.KeyColumns, kanji);
  BuildKey("\xB1", job_.KeyColumns, katakana);
  BuildKey("z", job_.KeyColumns, ascii);
  EXPECT_EQ(kanji, "\u4E9C");
  EXPECT_EQ(katakana, "\uFF71");
  EXPECT_LT(CompareKeys(kanji, katakana), 0);
  EXPECT_LT(CompareKeys(ascii, kanji), 0);
  EXPECT_EQ(CompareKeys(ascii, ascii), 0);
}

TEST_F(RecordReaderTest, ComparisonBytesApplyTheOptions) {
  job_.SpaceCompare = true;
  testing::UseOmit(job_, "3-4,5-10");
  Open(CrLf({"ABCDEF",
             "A\x81\x40"
             "B",
             "\x81\x81\x40"}));
  Read();
  EXPECT_EQ(side_.record().ComparisonBytes(),
            "AB  EF");  // 5-10 reaches past the end: skipped whole
  EXPECT_EQ(side_.record().raw(), "ABCDEF");
  Read();
  EXPECT_EQ(side_.record().ComparisonBytes(),
            "A   ");  // the space replaced, then columns 3-4 masked
  Read();
  // 0x81 0x81 is one character; the 0x81 0x40 inside it is no full-width space.
  EXPECT_EQ(side_.record().ComparisonBytes(), "\x81\x81\x40");
}

TEST_F(RecordReaderTest, PaddingLeftOutEndsAtTheLastCharacterThatIsNoBlank) {
  job_.TrimPadding = true;
  testing::UseKey(job_, "1-4");
  Open(CrLf(
      {"AB  X  \x81\x40 \x81\x40", "\x81\x81\x40", "\x88\x9F\x81\x40  ", "C \x81\x40", "   "}));
  Read();
  EXPECT_EQ(side_.record().ComparisonBytes(), "AB  X");  // blanks inside stay
  EXPECT_EQ(side_.record().key(), "AB");
  EXPECT_EQ(side_.record().raw(), "AB  X  \x81\x40 \x81\x40");  // written as read
  Read();
  // The 0x81 0x40 here is the end of one character and an '@': no blank.
  EXPECT_EQ(side_.record().ComparisonBytes(), "\x81\x81\x40");
  Read();
  EXPECT_EQ(side_.record().ComparisonBytes(), "\x88\x9F");
  EXPECT_EQ(side_.record().key(), "\xE4\xBA\x9C");  // the key form of 亜, its U+3000 left out
  Read();
  EXPECT_EQ(side_.record().ComparisonBytes(), "C");
  EXPECT_EQ(side_.record().key(), "C");
  Read();
  EXPECT_EQ(side_.record().ComparisonBytes(), "");
  EXPECT_EQ(side_.record().key(), "");
}

TEST_F(RecordReaderTest, PaddingLeftOutOmitsWhatARecordHasOfARangePastItsEnd) {
  // Across formats a record stands for itself padded with blanks: a range that reaches past
  // its end blanks the columns of it the record has, as it would in the padded record.
  job_.TrimPadding = true;
  testing::UseOmit(job_, "3-4,6-10");
  Open(CrLf({"ABCDEFG", "ABCD", "AB", "ABCDE\x82\xA0X", "ABCDE\x82"}));
  Read();
  EXPECT_EQ(side_.record().ComparisonBytes(), "AB  E");
  EXPECT_EQ(side_.record().raw(), "ABCDEFG");
  Read();
  EXPECT_EQ(side_.record().ComparisonBytes(), "AB");
  Read();
  EXPECT_EQ(side_.record().ComparisonBytes(), "AB");  // no column of either range
  Read();
  EXPECT_EQ(side_.record().ComparisonBytes(), "AB  E");
  Read();
  // A lone lead byte at the end: its column is blanked in the bytes too.
  EXPECT_EQ(side_.record().ComparisonBytes(), "AB  E");
  EXPECT_EQ(side_.record().RawComparisonBytes(), "AB  E");

  // Padding compared: a range past the end is skipped whole, as it always was.
  job_.TrimPadding = false;
  Open(CrLf({"ABCDEFG"}));
  Read();
  EXPECT_EQ(side_.record().ComparisonBytes(), "AB  EFG");
}

TEST_F(RecordReaderTest, ExhaustedSideStaysExhausted) {
  Open(CrLf({"x"}));
  Read();
  Read();
  EXPECT_FALSE(side_.has_record);
  Read();
  EXPECT_FALSE(side_.has_record);
  EXPECT_EQ(side_.lines_read, 1);
  EXPECT_FALSE(side_.read_failed);
}

TEST_F(RecordReaderTest, AlignmentCutsTheLongerOfEachPair) {
  TempDir other_dir;
  WriteFile(other_dir / "b", CrLf({"ABC", "ABCDEFGH", "ABCDEF"}));
  InputSide other(Side::kDestination, job_);
  ASSERT_TRUE(other.file().Open(other_dir / "b", nullptr).ok());
  bool flag = false;
  job_.ArrangeLength = true;
  Open(CrLf({"ABCDEF", "ABCDEF", "ABCDEFGH"}));
  Read();
  ReadRecord(other, flag);
  EXPECT_TRUE(ComparisonTextsEqual(side_.record(), other.record()));
  EXPECT_EQ(side_.record().ComparisonBytes(), "ABC");
  Read();
  ReadRecord(other, flag);
  EXPECT_TRUE(ComparisonTextsEqual(side_.record(), other.record()));
  EXPECT_EQ(other.record().ComparisonBytes(), "ABCDEF");
  job_.ArrangeLength = false;
  Read();
  ReadRecord(other, flag);
  EXPECT_FALSE(ComparisonTextsEqual(side_.record(), other.record()));
}

}  // namespace
}  // namespace vesmer

namespace vesmer {
namespace {

// Keys compared as BuildKey makes them order exactly as their decoded texts by UTF-16 code unit,
// whatever the bytes: ASCII, kana, kanji, invalid pairs, lone lead bytes and NULs mixed.
TEST(RecordKeyTest, ByteOrderOfKeysIsCodeUnitOrderOfTheirTexts) {
  RangeList ranges;
  ASSERT_EQ(ParseRangeText("1-3,5-6", ranges), ParseOutcome::kValid);
  const char alphabet[] = {'A',    'z',    '\0',   '\x7F', '\x80', '\xA0', '\xB1', '\xDF', '\xFD',
                           '\x81', '\x40', '\x88', '\x9F', '\xE0', '\xFC', '\xEF', '\xFF'};
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  auto line = [&] {
    std::string s;
    for (std::size_t n = next() % 8; n > 0; --n) s += alphabet[(next() >> 8) % sizeof alphabet];
    return s;
  };
  auto text = [&](const std::string& l) {
    std::u16string t;
    for (std::size_t i = 0; i < ranges.UsedPrefix(); ++i) {
      const auto first = static_cast<std::size_t>(ranges[i].Start - 1);
      if (first < l.size()) {
        cp932::DecodeAppend(std::string_view(l).substr(first, ranges[i].End - ranges[i].Start + 1u),
                            t);
      }
    }
    return t;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string a = line(), b = line();
    std::string ka, kb;
    BuildKey(a, ranges, ka);
    BuildKey(b, ranges, kb);
    const std::u16string ta = text(a), tb = text(b);
    const int expected = ta < tb ? -1 : (ta > tb ? 1 : 0);
    ASSERT_EQ(CompareKeys(ka, kb), expected) << i;
  }
}

}  // namespace
}  // namespace vesmer

namespace vesmer {
namespace {

// Keys held inline and compared as machine words order as their bytes do, NUL bytes, a proper
// prefix and lengths at the word edges included.
TEST(RecordKeyTest, KeyTextsCompareAsTheirBytes) {
  std::uint32_t seed = 99;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  auto bytes = [&] {
    std::string s;
    for (std::size_t n = next() % 40; n > 0; --n)
      s += "\0\x01"
           "az\x7f\xff"[(next() >> 8) % 6];
    return s;
  };
  KeyText a, b;
  for (int i = 0; i < 100000; ++i) {
    const std::string x = bytes();
    const std::string y = (next() & 1) != 0 ? x.substr(0, next() % (x.size() + 1)) : bytes();
    a.Assign(x);
    b.Assign(y);
    ASSERT_EQ(a.view(), x);
    ASSERT_EQ(Compare(a, b), CompareKeys(x, y)) << i;
    ASSERT_EQ(Compare(b, a), CompareKeys(y, x)) << i;
  }
}

}  // namespace
}  // namespace vesmer

namespace vesmer {
namespace {

// The run's KeyBuilder, with its shortcuts for ASCII keys near the start of a line, gives the
// key BuildKey gives for the line bytes: at every edge of the first 16 bytes, for lines that end
// before, inside and after the key, with non-ASCII bytes anywhere before the key's end.
TEST(RecordKeyTest, KeyBuilderGivesBuildKeysKey) {
  std::uint32_t seed = 7;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  const char alphabet[] = {'0',    '9',    'A',    ' ',    '\0',  '\x81',
                           '\x40', '\x88', '\x9F', '\xB1', '\xFD'};
  for (const char* text :
       {"1-8", "1-16", "5-12", "9-16", "3-10", "1-7", "1-17", "2-2", "1-4,9-12", "10-20"}) {
    RangeList ranges;
    ASSERT_EQ(ParseRangeText(text, ranges), ParseOutcome::kValid) << text;
    const KeyBuilder builder(ranges);
    KeyText built;
    std::string scratch, expected, line_scratch;
    for (int i = 0; i < 4000; ++i) {
      std::string line(next() % 24, 'a');
      for (char& c : line)
        c = (next() >> 8) % 4 == 0 ? alphabet[(next() >> 8) % sizeof alphabet] : 'k';
      builder.Build(line, built, scratch);
      BuildKey(KeyLineBytes(line, ranges, line_scratch), ranges, expected);
      ASSERT_EQ(built.view(), expected) << text << " line " << i;
    }
  }
}

}  // namespace
}  // namespace vesmer

namespace vesmer {
namespace {

// A decoder that gives one fixed record of fields, whatever it is handed.
class FixedFields final : public RecordDecoder {
 public:
  FixedFields(std::u16string text, std::vector<std::uint32_t> fields)
      : text_(std::move(text)), offsets_(std::move(fields)) {}
  DecodedRecord Decode(std::string_view, bool) override {
    return DecodedRecord{text_, offsets_, 0, offsets_.empty() ? 1 : offsets_.back() + 1,
                         false, {},       {}};
  }

 private:
  std::u16string text_;
  std::vector<std::uint32_t> offsets_;
};

std::string KeyOfFields(const char* ranges_text, bool trim, std::u16string text,
                        std::vector<std::uint32_t> fields) {
  RangeList ranges;
  EXPECT_EQ(ParseRangeText(ranges_text, ranges), ParseOutcome::kValid);
  FixedFields decoder(std::move(text), std::move(fields));
  KeyBuilder builder(ranges, trim);
  builder.SetDecoder(&decoder);
  KeyText key;
  std::string scratch;
  builder.Build("", key, scratch);
  return std::string(key.view());
}

TEST(RecordKeyTest, KeysOfSeveralFieldsLeaveOutThePaddingOfEach) {
  // 部署 padded with a blank and a full-width blank, then 番号: a fixed-length record's fields
  // against the same CSV fields, which have no padding. Each field ends with 00 00.
  const std::u16string padded =
      u"A1 \u3000"
      u"007";
  const std::vector<std::uint32_t> fields = {0, 0, 0, 0, 1, 1, 1};
  using namespace std::string_literals;
  EXPECT_EQ(KeyOfFields("1-2", true, padded, fields),
            "A1\0\0"
            "007\0\0"s);
  EXPECT_EQ(KeyOfFields("1-1,2-2", true, padded, fields),
            "A1\0\0"
            "007\0\0"s);
  EXPECT_EQ(KeyOfFields("2-2,1-1", true, padded, fields),
            "007\0\0"
            "A1\0\0"s);
  EXPECT_EQ(KeyOfFields("1-2", true,
                        u"A1"
                        u"007",
                        {0, 0, 1, 1, 1}),
            "A1\0\0"
            "007\0\0"s);
  // Blanks inside and before a field are data.
  EXPECT_EQ(KeyOfFields("1-2", true,
                        u" A 1"
                        u"7",
                        {0, 0, 0, 0, 1}),
            " A 1\0\0"
            "7\0\0"s);
  // Padding kept, it is part of the key.
  EXPECT_EQ(KeyOfFields("1-2", false, padded, fields),
            "A1 \xE3\x80\x80\0\0"
            "007\0\0"s);
}

// Fields of any length: where one ends is part of the key, so that no two keys of other
// fields are one, and keys order field after field, as a file sorted by its fields is.
TEST(RecordKeyTest, KeysOfSeveralFieldsAreToldApartAndOrderFieldByField) {
  using namespace std::string_literals;
  const auto key = [](std::u16string text, std::vector<std::uint32_t> fields) {
    return KeyOfFields("1-2", false, std::move(text), std::move(fields));
  };
  EXPECT_NE(key(u"ABC", {0, 0, 1}), key(u"ABC", {0, 1, 1}));      // (AB, C) and (A, BC)
  EXPECT_LT(key(u"AZ", {0, 1}), key(u"ABC", {0, 0, 1}));          // (A, Z) before (AB, C)
  EXPECT_LT(key(u"A", {1}), key(u"\0A"s, {0, 1}));                // ("", A) before (NUL, A)
  EXPECT_LT(key(u"A\0B"s, {0, 0, 1}), key(u"AB", {0, 0}));        // (A NUL, B) before (AB, "")
  EXPECT_NE(key(u"A\0B"s, {0, 0, 1}), key(u"A\0B"s, {0, 1, 1}));  // NUL where a field ends
}

}  // namespace
}  // namespace vesmer
