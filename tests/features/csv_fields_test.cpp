#include "formats/csv_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesmer {
namespace {

struct Split {
  std::vector<std::string> values;
  std::vector<std::pair<std::size_t, std::size_t>> places;  // offset and length
};

Split SplitOf(CsvFields& fields, std::string_view record, char delimiter = ',',
              bool shift_jis = false) {
  Split s;
  EXPECT_TRUE(fields.Split(record, delimiter, shift_jis)) << record;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    s.values.emplace_back(fields.field(i));
    s.places.emplace_back(fields.offset(i), fields.length(i));
    // The fields tile the record, one delimiter between two.
    if (i + 1 < fields.size()) {
      EXPECT_EQ(fields.offset(i + 1), fields.offset(i) + fields.length(i) + 1) << record;
      EXPECT_EQ(record[fields.offset(i) + fields.length(i)], delimiter) << record;
    } else {
      EXPECT_EQ(fields.offset(i) + fields.length(i), record.size()) << record;
    }
  }
  return s;
}

using Values = std::vector<std::string>;
using Places = std::vector<std::pair<std::size_t, std::size_t>>;

TEST(CsvFieldsTest, UnquotedFields) {
  CsvFields fields;
  Split s = SplitOf(fields, "a,bc,");
  EXPECT_EQ(s.values, (Values{"a", "bc", ""}));
  EXPECT_EQ(s.places, (Places{{0, 1}, {2, 2}, {5, 0}}));
  EXPECT_EQ(SplitOf(fields, "").values, Values{""});
  EXPECT_EQ(SplitOf(fields, ",").values, (Values{"", ""}));
  // A line end in a record handed over is data.
  EXPECT_EQ(SplitOf(fields, "a\rb,c").values, (Values{"a\rb", "c"}));
}

TEST(CsvFieldsTest, QuotedFieldsLoseTheirQuotesAndKeepTheirPlace) {
  CsvFields fields;
  const std::string record = "\"a,b\",\"\",\"x\r\ny\",z";
  const Split s = SplitOf(fields, record);
  EXPECT_EQ(s.values, (Values{"a,b", "", "x\r\ny", "z"}));
  EXPECT_EQ(s.places, (Places{{0, 5}, {6, 2}, {9, 6}, {16, 1}}));
  // Without doubled quotes the values are views into the record itself.
  EXPECT_EQ(fields.field(0).data(), record.data() + 1);
  EXPECT_EQ(fields.field(3).data(), record.data() + 16);
}

TEST(CsvFieldsTest, DoubledQuotesBecomeOne) {
  CsvFields fields;
  const std::string record = "\"a\"\"b\",\"\"\"\",\"\"\"x\"\"\",plain";
  const Split s = SplitOf(fields, record);
  EXPECT_EQ(s.values, (Values{"a\"b", "\"", "\"x\"", "plain"}));
  EXPECT_EQ(s.places, (Places{{0, 6}, {7, 4}, {12, 7}, {20, 5}}));
  EXPECT_EQ(fields.field(3).data(), record.data() + 20);
  // The next split forgets the values of the last.
  EXPECT_EQ(SplitOf(fields, "\"q\"\"\"").values, Values{"q\""});
}

TEST(CsvFieldsTest, TheDelimiterGiven) {
  CsvFields fields;
  EXPECT_EQ(SplitOf(fields, "a,b\tc", '\t').values, (Values{"a,b", "c"}));
  EXPECT_EQ(SplitOf(fields, "\"a\t\";b", ';').values, (Values{"a\t", "b"}));
  EXPECT_FALSE(fields.Split("a\"b", '"'));
}

TEST(CsvFieldsTest, ShiftJisCharactersAreNeverSplit) {
  CsvFields fields;
  // 0x83 0x7C is one katakana in code page 932: its second byte is no delimiter.
  EXPECT_EQ(SplitOf(fields, "\x83\x7C|x", '|', true).values, (Values{"\x83\x7C", "x"}));
  EXPECT_EQ(SplitOf(fields, "\x83\x7C|x", '|', false).values, (Values{"\x83", "", "x"}));
  // Two lead bytes: the second is the first's second byte, and the '|' after them splits.
  EXPECT_EQ(SplitOf(fields, "\x81\x81|x", '|', true).values, (Values{"\x81\x81", "x"}));
  // A lead byte before a byte that cannot follow it, and one at the end.
  EXPECT_EQ(SplitOf(fields, "\x83,|\x83", '|', true).values, (Values{"\x83,", "\x83"}));
  // Half-width katakana are single bytes.
  EXPECT_EQ(SplitOf(fields, "\xB1|\xB2", '|', true).values, (Values{"\xB1", "\xB2"}));
  // Long enough for the block scan.
  const std::string kana = "\x83\x7C\x83\x7C\x83\x7C\x83\x7C\x83\x7C\x83\x7C\x83\x7C\x83\x7C";
  EXPECT_EQ(SplitOf(fields, kana + "|" + kana, '|', true).values, (Values{kana, kana}));
}

TEST(CsvFieldsTest, MalformedRecordsHaveNoFields) {
  CsvFields fields;
  for (const char* record : {"a\"b", "ab,c\"", "\"ab\"c", "\"ab\" ,x", "\"ab", "x,\"", "\"a\"\""}) {
    EXPECT_FALSE(fields.Split(record, ',')) << record;
    EXPECT_EQ(fields.size(), 0u) << record;
  }
}

}  // namespace
}  // namespace vesmer
