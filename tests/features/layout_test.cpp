#include "layout/layout.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <tuple>

#include "core/ranges.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

constexpr const char* kPath = "/x/a.csv";

// Parses `text` and expects it to fail with `problem` on line `line`.
void ExpectLineError(const std::string& text, int line, const std::string& problem) {
  Layout layout;
  std::string message;
  EXPECT_FALSE(ParseLayoutText(text, kPath, layout, message)) << text;
  EXPECT_EQ(message,
            "★レイアウトファイル /x/a.csv の " + std::to_string(line) + " 行目: " + problem)
      << text;
  EXPECT_TRUE(layout.fields.empty()) << text;
}

Layout Parse(const std::string& text) {
  Layout layout;
  std::string message;
  EXPECT_TRUE(ParseLayoutText(text, kPath, layout, message)) << message;
  return layout;
}

void ExpectField(const Field& field, const std::string& name, int start, int length, char attribute,
                 int line) {
  EXPECT_EQ(field.name, name);
  EXPECT_EQ(field.start, start) << name;
  EXPECT_EQ(field.length, length) << name;
  EXPECT_EQ(field.attribute, attribute) << name;
  EXPECT_EQ(field.line, line) << name;
}

TEST(LayoutTest, FieldsWithTheirAttributes) {
  const Layout layout = Parse("社員番号,1,8,9\n氏名,9,20,N\n部署,29,5,X\n備考,34,10\n");
  EXPECT_EQ(layout.path, kPath);
  ASSERT_EQ(layout.fields.size(), 4u);
  ExpectField(layout.fields[0], "社員番号", 1, 8, '9', 1);
  ExpectField(layout.fields[1], "氏名", 9, 20, 'N', 2);
  ExpectField(layout.fields[2], "部署", 29, 5, 'X', 3);
  ExpectField(layout.fields[3], "備考", 34, 10, 'X', 4);
  EXPECT_EQ(layout.Find("氏名"), &layout.fields[1]);
  EXPECT_EQ(layout.Find("氏"), nullptr);
  EXPECT_EQ(layout.Find("氏名 "), nullptr);
}

TEST(LayoutTest, AttributeInEitherWidthAndCaseAndEmptyMeansText) {
  const Layout layout = Parse("a,1,1,x\nb,2,1,n\nc,3,1,Ｎ\nd,4,1,９\ne,5,1,\nf,6,1,ｘ\n");
  ASSERT_EQ(layout.fields.size(), 6u);
  const char expected[] = {'X', 'N', 'N', '9', 'X', 'X'};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(layout.fields[i].attribute, expected[i]) << i;
}

TEST(LayoutTest, GroupItemsMayOverlap) {
  const Layout layout = Parse("日付,1,8\n年,1,4,9\n月,5,2,9\n日,7,2,9\n");
  ASSERT_EQ(layout.fields.size(), 4u);
  ExpectField(layout.fields[2], "月", 5, 2, '9', 3);
}

TEST(LayoutTest, BlanksAroundColumnsAreTrimmedAndFullWidthDigitsRead) {
  const Layout layout = Parse(" \t社員 番号 \t,　１２　, ８ ,\t N\u3000\n");
  ASSERT_EQ(layout.fields.size(), 1u);
  ExpectField(layout.fields[0], "社員 番号", 12, 8, 'N', 1);
}

TEST(LayoutTest, CommentsAndBlankLinesArePassedOverButCounted) {
  const Layout layout = Parse(
      "# layout of the extract\n\n   \n  # indented comment\nA,1,2\n"
      "\u3000\nB#1,3,4\n");
  ASSERT_EQ(layout.fields.size(), 2u);
  ExpectField(layout.fields[0], "A", 1, 2, 'X', 5);
  ExpectField(layout.fields[1], "B#1", 3, 4, 'X', 7);
  // Only a line that starts with '#' is a comment; elsewhere '#' is data.
  ExpectLineError("A,1,2\nB,3,4 # note\n", 2, "桁数が数値ではありません");
}

TEST(LayoutTest, EveryKindOfLineEndCountsOneLine) {
  // LF, CR LF, lone CR, CR LF, then a last line without an end.
  const Layout layout = Parse("A,1,2\nB,3,1\r\nC,4,1\rD,5,1\r\nE,6,1");
  ASSERT_EQ(layout.fields.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(layout.fields[i].line, i + 1);
  EXPECT_EQ(layout.fields[4].name, "E");
  // Empty lines in each form, including CR CR and LF CR.
  ExpectLineError("A,1,2\r\n\r\n\r\r\n\n\rB,x,1\r\n", 7, "開始桁が数値ではありません");
}

TEST(LayoutTest, HeaderIsSkippedWhenItsNumberColumnsAreNotNumbers) {
  Layout layout = Parse("項目名,開始桁,桁数,属性\n社員番号,1,8\n");
  ASSERT_EQ(layout.fields.size(), 1u);
  ExpectField(layout.fields[0], "社員番号", 1, 8, 'X', 2);
  // The header is the first line that carries data, after comments and blank lines.
  layout = Parse("# c\n\nname,start,length\nA,1,1\n");
  ASSERT_EQ(layout.fields.size(), 1u);
  EXPECT_EQ(layout.fields[0].line, 4);
  // A header may have any number of columns.
  layout = Parse("名前,開始\nA,1,1\n");
  ASSERT_EQ(layout.fields.size(), 1u);
  layout = Parse("名前,開始,桁数,属性,備考\nA,1,1\n");
  ASSERT_EQ(layout.fields.size(), 1u);
}

TEST(LayoutTest, OnlyTheFirstLineMayBeAHeader) {
  ExpectLineError("項目名,開始桁,桁数\n名前,開始桁,桁数\n", 2, "開始桁が数値ではありません");
  ExpectLineError("A,1,2\n項目名,開始桁,桁数\n", 2, "開始桁が数値ではありません");
  // A slip in the first field's start is reported, not taken for a header.
  ExpectLineError("社員番号,l,8\n氏名,9,20\n", 1, "開始桁が数値ではありません");
  ExpectLineError("社員番号,1,八\n", 1, "桁数が数値ではありません");
  // One column alone is no header either.
  ExpectLineError("社員番号\n", 1, "開始桁がありません");
}

TEST(LayoutTest, BadLinesNameTheProblem) {
  struct Case {
    const char* line;
    const char* problem;
  };
  const Case cases[] = {
      {",1,2", "項目名がありません"},
      {" \u3000 ,1,2", "項目名がありません"},
      {"B", "開始桁がありません"},
      {"B,", "開始桁がありません"},
      {"B, ,2", "開始桁がありません"},
      {"B,1", "桁数がありません"},
      {"B,1,", "桁数がありません"},
      {"B,x,2", "開始桁が数値ではありません"},
      {"B,1.5,2", "開始桁が数値ではありません"},
      {"B,1 0,2", "開始桁が数値ではありません"},
      {"B,--1,2", "開始桁が数値ではありません"},
      {"B,+,2", "開始桁が数値ではありません"},
      {"B,1,2a", "桁数が数値ではありません"},
      {"B,1,0x10", "桁数が数値ではありません"},
      {"B,0,2", "開始桁は 1 以上にしてください"},
      {"B,-3,2", "開始桁は 1 以上にしてください"},
      {"B,－３,2", "開始桁は 1 以上にしてください"},
      {"B,1,0", "桁数は 1 以上にしてください"},
      {"B,1,-1", "桁数は 1 以上にしてください"},
      {"B,1,2,Y", "属性「Y」が正しくありません（X、9、N、P、B、BU のいずれかです）"},
      {"B,1,2,XX", "属性「XX」が正しくありません（X、9、N、P、B、BU のいずれかです）"},
      {"B,1,2,漢", "属性「漢」が正しくありません（X、9、N、P、B、BU のいずれかです）"},
      {"B,1,2,X,備考", "小数桁は数値の項目（属性 9、P、B、BU）にだけ指定できます"},
      {"B,1,2,X,,備考", "列が多すぎます（名前,開始桁,桁数,属性,小数桁 の 5 列までです）"},
      {"B,1,2,9,1,x", "列が多すぎます（名前,開始桁,桁数,属性,小数桁 の 5 列までです）"},
      {"B,1,2,,x", "小数桁は数値の項目（属性 9、P、B、BU）にだけ指定できます"},
  };
  for (const Case& c : cases) {
    // A good first line, so that the bad one cannot pass for a header; a comment before it, so
    // that the line number counts it.
    ExpectLineError(std::string("A,1,2\n# c\n") + c.line + "\nC,9,9\n", 3, c.problem);
  }
}

TEST(LayoutTest, FieldsEndAtTheLastColumnAtMost) {
  Layout layout = Parse("A,2147483647,1\nB,1,2147483647\nC,1000000000,1147483648\n");
  ASSERT_EQ(layout.fields.size(), 3u);
  EXPECT_EQ(layout.fields[0].start, 2147483647);
  EXPECT_EQ(layout.fields[1].length, 2147483647);
  EXPECT_EQ(layout.fields[2].length, 1147483648);
  const std::string past = "項目が 2147483647 桁目を超えています";
  ExpectLineError("A,1,1\nB,2147483647,2\n", 2, past);
  ExpectLineError("A,1,1\nB,2,2147483647\n", 2, past);
  ExpectLineError("A,1,1\nB,2147483648,1\n", 2, past);
  ExpectLineError("A,1,1\nB,1000000000,1147483649\n", 2, past);
  // Far too many digits is still a number, just out of range.
  ExpectLineError("A,1,1\nB,99999999999999999999999999,1\n", 2, past);
  ExpectLineError("A,1,1\nB,1,99999999999999999999999999\n", 2, past);
}

TEST(LayoutTest, DuplicateNamesAreRefusedWithTheEarlierLine) {
  ExpectLineError("社員番号,1,8\n氏名,9,20\n\n 社員番号 ,30,2\n", 4,
                  "項目名「社員番号」は 1 行目にもあります");
  // Names are compared exactly: other widths are other names.
  const Layout layout = Parse("ｼｬｲﾝ,1,8\nシャイン,9,8\nA,17,1\nＡ,18,1\n");
  EXPECT_EQ(layout.fields.size(), 4u);
}

TEST(LayoutTest, ALayoutWithoutFieldsIsRefused) {
  for (const std::string text : {"", "\n\n", "# only a comment\n", "項目名,開始桁,桁数\n"}) {
    Layout layout;
    std::string message;
    EXPECT_FALSE(ParseLayoutText(text, kPath, layout, message)) << text;
    EXPECT_EQ(message, "★レイアウトファイル /x/a.csv に項目がありません") << text;
  }
}

TEST(LayoutTest, ParsingAgainClearsTheEarlierFields) {
  Layout layout;
  std::string message;
  ASSERT_TRUE(ParseLayoutText("A,1,1\nB,2,1\n", kPath, layout, message));
  ASSERT_TRUE(ParseLayoutText("C,3,1\n", "/y.csv", layout, message));
  ASSERT_EQ(layout.fields.size(), 1u);
  EXPECT_EQ(layout.fields[0].name, "C");
  EXPECT_EQ(layout.path, "/y.csv");
  EXPECT_FALSE(ParseLayoutText("D,4,1\nE,x,1\n", kPath, layout, message));
  EXPECT_TRUE(layout.fields.empty());
}

// ---------------------------------------------------------------------------------------------
// Layouts of CSV columns

TEST(CsvLayoutTest, ColumnsByNumberWithTheirAttributes) {
  const Layout layout = Parse("項目名,列番号,属性\n社員番号,1,9\n氏名,3,N\n部署,2\n備考,10,\n");
  EXPECT_EQ(layout.form, LayoutForm::kCsvColumns);
  EXPECT_EQ(layout.form_line, 3);  // 社員番号,1,9 could be bytes 1-9 as well
  ASSERT_EQ(layout.fields.size(), 4u);
  ExpectField(layout.fields[0], "社員番号", 1, 1, '9', 2);
  ExpectField(layout.fields[1], "氏名", 3, 1, 'N', 3);
  ExpectField(layout.fields[2], "部署", 2, 1, 'X', 4);
  ExpectField(layout.fields[3], "備考", 10, 1, 'X', 5);
  std::string range_text, message;
  ASSERT_TRUE(FieldNamesToRangeText(layout, "氏名,社員番号", range_text, message)) << message;
  EXPECT_EQ(range_text, "3-3,1-1");
}

TEST(CsvLayoutTest, TheFirstLineOfOneFormOnlyTellsTheForm) {
  // Byte columns: a length, or a fourth column.
  EXPECT_EQ(Parse("A,1,4\nB,5,2\n").form, LayoutForm::kBytes);
  // Its lines are then read as byte columns, whatever they look like.
  ExpectLineError("A,1,4\nB,5\n", 2, "桁数がありません");
  EXPECT_EQ(Parse("A,1,4,X\n").form, LayoutForm::kBytes);
  // "名前,数,9" alone is a field of nine bytes.
  Layout layout = Parse("A,1,9\nB,10,9\n");
  EXPECT_EQ(layout.form, LayoutForm::kBytes);
  EXPECT_EQ(layout.form_line, 0);
  EXPECT_EQ(layout.fields[1].length, 9);
  // Once a line tells, the lines before it are read in its form.
  layout = Parse("A,1,9\nB,2,ｎ\n");
  EXPECT_EQ(layout.form, LayoutForm::kCsvColumns);
  EXPECT_EQ(layout.form_line, 2);
  EXPECT_EQ(layout.fields[0].attribute, '9');
  EXPECT_EQ(layout.fields[1].attribute, 'N');
  // A slip in a length is a byte layout's slip, not an attribute.
  ExpectLineError("A,1,八\n", 1, "桁数が数値ではありません");
}

TEST(CsvLayoutTest, BadLinesNameTheProblemAndTheLineThatToldTheForm) {
  const std::string told =
      "（1 行目から、名前,列番号[,属性] の CSV の列のレイアウトとして読んでいます）";
  struct Case {
    const char* line;
    std::string problem;
  };
  const Case cases[] = {
      {",2", "項目名がありません"},
      {"B,0", "列番号は 1 以上にしてください"},
      {"B,2147483648", "列番号が 2147483647 を超えています"},
      // Lines that are no CSV column, as lines of byte columns are not.
      {"B,2,Y", "属性「Y」が正しくありません（X、9、N のいずれかです）" + told},
      {"B", "列番号がありません" + told},
      {"B,x", "列番号が数値ではありません" + told},
      {"B,2,4", "属性「4」が正しくありません（X、9、N のいずれかです）" + told},
      {"B,2,4,X", "列が多すぎます（名前,列番号,属性 の 3 列までです）" + told},
      {"A,5", "項目名「A」は 1 行目にもあります"},
      {"C,1", "列番号 1 は 1 行目の「A」にもあります"},
  };
  for (const Case& c : cases) {
    ExpectLineError(std::string("A,1\n# c\n") + c.line + "\nZ,9\n", 3, c.problem);
  }
}

// ---------------------------------------------------------------------------------------------
// Encodings

TEST(LayoutEncodingTest, CodePage932File) {
  // "項目名,開始桁,桁数" / "社員番号,１,8,9" / "表示,9,2" / "ソート,11,3" in code page 932;
  // 表 and ソ end in the byte 0x5C, half-width ｼｬｲﾝ is no UTF-8.
  const std::string text =
      "\x8D\x80\x96\xDA\x96\xBC,\x8A\x4A\x8E\x6E\x8C\x85,\x8C\x85\x90\x94\r\n"
      "\x8E\xD0\x88\xF5\x94\xD4\x8D\x86,\x82\x50,8,9\r\n"
      "\x95\x5C\x8E\xA6,9,2\r\n"
      "\x83\x5C\x81\x5B\x83\x67,11,3\r\n"
      "\xBC\xAC\xB2\xDD,14,4\r\n";
  const Layout layout = Parse(text);
  ASSERT_EQ(layout.fields.size(), 4u);
  ExpectField(layout.fields[0], "社員番号", 1, 8, '9', 2);
  ExpectField(layout.fields[1], "表示", 9, 2, 'X', 3);
  ExpectField(layout.fields[2], "ソート", 11, 3, 'X', 4);
  ExpectField(layout.fields[3], "ｼｬｲﾝ", 14, 4, 'X', 5);
}

TEST(LayoutEncodingTest, CodePage932ErrorsKeepTheirLineNumbers) {
  // A stray lead byte before a lone CR must not join the next line to the comment.
  ExpectLineError("A,1,1\r# note\x83\rB,x,1\r", 3, "開始桁が数値ではありません");
  ExpectLineError("A,1,1\n# note\x83\nB,x,1\n", 3, "開始桁が数値ではありません");
  // The message names the field in UTF-8.
  ExpectLineError("\x8E\x81\x96\xBC,1,1\n\x8E\x81\x96\xBC,2,1\n", 2,
                  "項目名「氏名」は 1 行目にもあります");
}

TEST(LayoutEncodingTest, Utf8WithAndWithoutByteOrderMark) {
  for (const std::string bom : {"", "\xEF\xBB\xBF"}) {
    const Layout layout = Parse(bom + "項目名,開始桁,桁数\r\n社員番号,1,8\r\nｼｬｲﾝ,9,4\r\n");
    ASSERT_EQ(layout.fields.size(), 2u);
    ExpectField(layout.fields[0], "社員番号", 1, 8, 'X', 2);
    ExpectField(layout.fields[1], "ｼｬｲﾝ", 9, 4, 'X', 3);
  }
  // The mark ahead of the first name is not part of it.
  const Layout layout = Parse(
      "\xEF\xBB\xBF"
      "A,1,1\n");
  ASSERT_EQ(layout.fields.size(), 1u);
  EXPECT_EQ(layout.fields[0].name, "A");
}

TEST(LayoutEncodingTest, OneBadByteMakesTheFileCodePage932) {
  // Valid UTF-8 up to a half-width katakana byte: the whole file is read as code page 932, so
  // the UTF-8 name comes out as other characters.
  const Layout layout = Parse("\xE3\x82\xA2,1,1\n\xB1,2,1\n");
  ASSERT_EQ(layout.fields.size(), 2u);
  EXPECT_EQ(layout.fields[0].name, "繧｢");  // not "ア"
  EXPECT_EQ(layout.fields[1].name, "ｱ");
}

TEST(LayoutEncodingTest, ByteOrderMarkWithBytesThatAreNoUtf8) {
  ExpectLineError(
      "\xEF\xBB\xBF"
      "A,1,1\n\nB\xB1,2,1\n",
      3, "UTF-8 として正しくないバイトがあります");
}

// ---------------------------------------------------------------------------------------------
// Files

TEST(LoadLayoutTest, ReadsTheFile) {
  testing::TempDir dir;
  const std::string path = dir / "layout.csv";
  testing::WriteFile(path, "社員番号,1,8\r\n部署,9,4\r\n");
  Layout layout;
  std::string message;
  const Status status = LoadLayout(path, layout, message);
  ASSERT_TRUE(status.ok()) << message;
  EXPECT_EQ(layout.path, path);
  ASSERT_EQ(layout.fields.size(), 2u);
  ExpectField(layout.fields[1], "部署", 9, 4, 'X', 2);
}

TEST(LoadLayoutTest, AMissingFileGivesTheSystemReason) {
  testing::TempDir dir;
  const std::string path = dir / "none.csv";
  Layout layout;
  std::string message;
  const Status status = LoadLayout(path, layout, message);
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(status.error_number(), ENOENT);
  EXPECT_EQ(message, "★レイアウトファイル " + path +
                         " を読み込めません: ファイルまたはフォルダがありません");
  EXPECT_TRUE(layout.fields.empty());
}

TEST(LoadLayoutTest, AFolderIsRefused) {
  testing::TempDir dir;
  Layout layout;
  std::string message;
  const Status status = LoadLayout(dir.path(), layout, message);
  EXPECT_EQ(status.error_number(), EISDIR);
  EXPECT_EQ(message, "★レイアウトファイル " + dir.path() + " を読み込めません: フォルダです");
}

TEST(LoadLayoutTest, AFileTooLargeForALayoutIsNotReadWhole) {
  testing::TempDir dir;
  const std::string path = dir / "records.txt";
  // Sparse: the size is what counts, and it is one byte over the limit.
  testing::WriteFile(path, "");
  ASSERT_EQ(::truncate(path.c_str(), (16 << 20) + 1), 0);
  Layout layout;
  std::string message;
  const Status status = LoadLayout(path, layout, message);
  EXPECT_EQ(status.error_number(), EFBIG);
  EXPECT_EQ(message, "★レイアウトファイル " + path + " を読み込めません: ファイルが大きすぎます");
}

TEST(LoadLayoutTest, BadContentFailsWithTheLineMessage) {
  testing::TempDir dir;
  const std::string path = dir / "layout.csv";
  testing::WriteFile(path, "A,1,1\nB,1\n");
  Layout layout;
  std::string message;
  const Status status = LoadLayout(path, layout, message);
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(status.error_number(), EINVAL);
  EXPECT_EQ(message, "★レイアウトファイル " + path + " の 2 行目: 桁数がありません");
}

// ---------------------------------------------------------------------------------------------
// Fields by name

Layout StaffLayout() {
  return Parse("部署,1,5\n社員番号,12,8\n氏名,20,20,N\n住所、番地,40,30\n区分,6,1\n");
}

std::string RangeText(const Layout& layout, std::string_view names) {
  std::string range_text = "stale", message;
  EXPECT_TRUE(FieldNamesToRangeText(layout, names, range_text, message)) << message;
  return range_text;
}

TEST(FieldNamesTest, RangesInTheOrderGiven) {
  const Layout layout = StaffLayout();
  EXPECT_EQ(RangeText(layout, "社員番号,部署"), "12-19,1-5");
  EXPECT_EQ(RangeText(layout, "部署,社員番号"), "1-5,12-19");
  EXPECT_EQ(RangeText(layout, "区分"), "6-6");
  // The ideographic comma belongs to the name.
  EXPECT_EQ(RangeText(layout, "住所、番地,氏名"), "40-69,20-39");
}

TEST(FieldNamesTest, SeparatorsBlanksAndEmptyItems) {
  const Layout layout = StaffLayout();
  EXPECT_EQ(RangeText(layout, " 社員番号 ，　部署\t"), "12-19,1-5");
  EXPECT_EQ(RangeText(layout, "社員番号，，部署,"), "12-19,1-5");
  EXPECT_EQ(RangeText(layout, ""), "");
  EXPECT_EQ(RangeText(layout, " , ，"), "");
  EXPECT_EQ(RangeText(layout, "部署,部署"), "1-5,1-5");
}

TEST(FieldNamesTest, TheTextIsWhatTheRangeParserTakes) {
  const Layout layout = StaffLayout();
  RangeList list;
  ASSERT_EQ(ParseRangeText(RangeText(layout, "社員番号,部署,区分"), list), ParseOutcome::kValid);
  EXPECT_EQ(list[0], (ColumnRange{12, 19}));
  EXPECT_EQ(list[1], (ColumnRange{1, 5}));
  EXPECT_EQ(list[2], (ColumnRange{6, 6}));
  EXPECT_EQ(list.UsedPrefix(), 3u);
  // The last column a field can reach.
  const Layout edge = Parse("末尾,2147483647,1\n全体,1,2147483647\n");
  ASSERT_EQ(ParseRangeText(RangeText(edge, "末尾,全体"), list), ParseOutcome::kValid);
  EXPECT_EQ(list[0], (ColumnRange{2147483647, 2147483647}));
  EXPECT_EQ(list[1], (ColumnRange{1, 2147483647}));
}

TEST(FieldNamesTest, UnknownNamesAreAllNamedOnce) {
  const Layout layout = StaffLayout();
  std::string range_text, message;
  EXPECT_FALSE(FieldNamesToRangeText(layout, "社員番号,部署コード,氏名 ,氏 名,部署コード",
                                     range_text, message));
  EXPECT_EQ(message, "★レイアウトにない項目です: 部署コード, 氏 名");
  EXPECT_EQ(range_text, "");
  EXPECT_FALSE(FieldNamesToRangeText(layout, "住所", range_text, message));
  EXPECT_EQ(message, "★レイアウトにない項目です: 住所");
}

TEST(FieldNamesTest, SplitAsTheRangesAre) {
  EXPECT_EQ(SplitFieldNames(" 社員番号 ,，部署,　"),
            (std::vector<std::string>{"社員番号", "部署"}));
  EXPECT_EQ(SplitFieldNames("住所、番地"), (std::vector<std::string>{"住所、番地"}));
  EXPECT_TRUE(SplitFieldNames("").empty());
}

TEST(FieldNamesTest, MoreThanTwentyNamesAreLeftToTheRangeCheck) {
  std::string text, names;
  for (int i = 1; i <= 21; ++i) {
    text += "F" + std::to_string(i) + "," + std::to_string(i * 2) + ",2\n";
    if (i > 1) names += ',';
    names += "F" + std::to_string(i);
  }
  const Layout layout = Parse(text);
  const std::string range_text = RangeText(layout, names);
  RangeList list;
  std::string message;
  EXPECT_EQ(ParseKeyRange(range_text, list, message), ParseOutcome::kOverLimit);
  EXPECT_EQ(message, "比較のキー領域の指定が、上限を超えています");
  // Twenty go through, each with its own range.
  const std::string twenty = RangeText(layout, names.substr(0, names.rfind(',')));
  ASSERT_EQ(ParseRangeText(twenty, list), ParseOutcome::kValid);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(list[i], (ColumnRange{(i + 1) * 2, (i + 1) * 2 + 1}));
}

TEST(TypedLayoutTest, TypesAndPlaces) {
  const Layout layout = Parse(
      "項目名,開始桁,桁数,属性,小数桁\n金額,1,8,9,2\n単価,9,5,P,3\n数量,14,4,B\n"
      "件数,18,8,bu,0\n名,26,10,N\n区分,36,1,X,\n率,37,2,ｐ,1\n");
  ASSERT_EQ(layout.fields.size(), 7u);
  const struct {
    FieldType type;
    char attribute;
    int places;
  } expected[] = {{FieldType::kZoned, '9', 2},      {FieldType::kPacked, '9', 3},
                  {FieldType::kBinary, '9', 0},     {FieldType::kUnsignedBinary, '9', 0},
                  {FieldType::kDoubleByte, 'N', 0}, {FieldType::kText, 'X', 0},
                  {FieldType::kPacked, '9', 1}};
  for (std::size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(layout.fields[i].type, expected[i].type) << i;
    EXPECT_EQ(layout.fields[i].attribute, expected[i].attribute) << i;
    EXPECT_EQ(layout.fields[i].places, expected[i].places) << i;
    EXPECT_EQ(layout.fields[i].sign, NumberSign::kAny) << i;
    EXPECT_TRUE(layout.fields[i].Compared()) << i;
  }
  EXPECT_EQ(layout.fields[1].length, 5);
}

TEST(TypedLayoutTest, TypesMustFitTheirLength) {
  const struct {
    const char* line;
    const char* problem;
  } cases[] = {
      {"B,1,3,B", "属性 B の桁数は 2、4、8 のいずれかです"},
      {"B,1,1,BU", "属性 BU の桁数は 2、4、8 のいずれかです"},
      {"B,1,16,B", "属性 B の桁数は 2、4、8 のいずれかです"},
      {"B,1,17,P", "属性 P の桁数は 16 までです"},
      {"B,1,4,9,5", "小数桁 5 が項目の桁数を超えています（4 までです）"},
      {"B,1,3,P,6", "小数桁 6 が項目の桁数を超えています（5 までです）"},
      {"B,1,2,B,6", "小数桁 6 が項目の桁数を超えています（5 までです）"},
      {"B,1,8,BU,21", "小数桁 21 が項目の桁数を超えています（20 までです）"},
      {"B,1,50,9,39", "小数桁 39 が項目の桁数を超えています（38 までです）"},
      {"B,1,4,9,x", "小数桁が数値ではありません"},
      {"B,1,4,9,-1", "小数桁は 0 以上にしてください"},
      {"B,1,4,N,1", "小数桁は数値の項目（属性 9、P、B、BU）にだけ指定できます"},
      {"B,1,4,BX", "属性「BX」が正しくありません（X、9、N、P、B、BU のいずれかです）"},
  };
  for (const auto& c : cases) ExpectLineError(std::string("A,1,2\n") + c.line + "\n", 2, c.problem);
  // The largest of each: every digit a place.
  const Layout layout = Parse("A,1,4,9,4\nB,1,16,P,31\nC,1,8,B,19\nD,1,8,BU,20\nE,1,2,B,5\n");
  EXPECT_EQ(layout.fields[1].places, 31);
  EXPECT_EQ(layout.fields[3].places, 20);
}

TEST(TypedLayoutTest, CsvLayoutsKeepTheirThreeAttributes) {
  // A column holds text: P, B and BU are no attribute of it.
  ExpectLineError("A,1\nB,2,P\n", 2,
                  "属性「P」が正しくありません（X、9、N のいずれかです）（1 行目から、名前,列番号"
                  "[,属性] の CSV の列のレイアウトとして読んでいます）");
  const Layout layout = Parse("A,1,9\nB,2,N\n");
  EXPECT_EQ(layout.form, LayoutForm::kCsvColumns);
  EXPECT_EQ(layout.fields[0].type, FieldType::kZoned);
}

TEST(TypedLayoutTest, LayoutTextReadsBackAsTheSameFields) {
  const Layout layout = Parse(
      "社員番号,1,4\n金額,5,8,9,2\n単価,13,5,P,3\n数量,18,4,B\n"
      "件数,22,8,BU\n氏名,30,10,N\n");
  const std::string text = LayoutText(layout);
  EXPECT_EQ(text,
            "項目名,開始桁,桁数,属性,小数桁\n社員番号,1,4,X\n金額,5,8,9,2\n単価,13,5,P,3\n"
            "数量,18,4,B\n件数,22,8,BU\n氏名,30,10,N\n");
  const Layout again = Parse(text);
  ASSERT_EQ(again.fields.size(), layout.fields.size());
  for (std::size_t i = 0; i < layout.fields.size(); ++i) {
    const Field& a = layout.fields[i];
    const Field& b = again.fields[i];
    EXPECT_EQ(std::tie(a.name, a.start, a.length, a.type, a.places, a.attribute),
              std::tie(b.name, b.start, b.length, b.type, b.places, b.attribute));
  }
  EXPECT_EQ(LayoutText(Parse("A,3\nB,1,N\n")), "項目名,列番号,属性\nA,3,X\nB,1,N\n");
}

}  // namespace
}  // namespace vesmer
