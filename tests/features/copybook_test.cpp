#include "layout/copybook.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <tuple>

#include "numbers/number_decoders.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

constexpr const char* kPath = "/x/a.cpy";

// A fixed-format line: sequence area, indicator, text area (columns 8-72) and identification.
std::string Fixed(const std::string& sequence, char indicator, const std::string& text,
                  const std::string& identification = "") {
  std::string line = sequence;
  line.resize(6, ' ');
  line += indicator;
  line += text;
  if (!identification.empty()) {
    line.resize(72, ' ');
    line += identification;
  }
  return line + "\r\n";
}

Layout Parse(const std::string& text) {
  Layout layout;
  std::string message;
  EXPECT_TRUE(ParseCopybookText(text, kPath, layout, message)) << message;
  EXPECT_TRUE(layout.copybook);
  return layout;
}

void ExpectError(const std::string& text, int line, const std::string& problem) {
  Layout layout;
  std::string message;
  EXPECT_FALSE(ParseCopybookText(text, kPath, layout, message)) << text;
  EXPECT_EQ(message,
            "★レイアウトファイル /x/a.cpy の " + std::to_string(line) + " 行目: " + problem)
      << text;
  EXPECT_TRUE(layout.fields.empty());
  EXPECT_TRUE(layout.groups.empty());
}

struct Expected {
  const char* name;
  int start, length;
  FieldType type;
  int places;
  NumberSign sign;
  FieldRole role;
};

void ExpectFields(const Layout& layout, const std::vector<Expected>& expected) {
  ASSERT_EQ(layout.fields.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Field& f = layout.fields[i];
    const Expected& e = expected[i];
    EXPECT_EQ(f.name, e.name) << i;
    EXPECT_EQ(f.start, e.start) << e.name;
    EXPECT_EQ(f.length, e.length) << e.name;
    EXPECT_EQ(f.type, e.type) << e.name;
    EXPECT_EQ(f.places, e.places) << e.name;
    if (f.type == FieldType::kZoned || f.type == FieldType::kPacked) {
      EXPECT_EQ(f.sign, e.sign) << e.name;
    }
    EXPECT_EQ(f.role, e.role) << e.name;
  }
}

void ExpectGroup(const Layout& layout, const std::string& name, int start, int length) {
  const FieldGroup* group = layout.FindGroup(name);
  ASSERT_NE(group, nullptr) << name;
  EXPECT_EQ(group->start, start) << name;
  EXPECT_EQ(group->length, length) << name;
}

constexpr auto X = FieldType::kText;
constexpr auto Z = FieldType::kZoned;
constexpr auto N = FieldType::kDoubleByte;
constexpr auto P = FieldType::kPacked;
constexpr auto B = FieldType::kBinary;
constexpr auto BU = FieldType::kUnsignedBinary;
constexpr auto kAny = NumberSign::kAny;
constexpr auto kUnsigned = NumberSign::kUnsigned;
constexpr auto kC = FieldRole::kCompared;

std::string ShainCopybook() {
  return Fixed("000100", '*', " 社員レコード") + Fixed("000200", ' ', " 01  SHAIN-REC.") +
         Fixed("000300", ' ', "     05  SHAIN-NO        PIC X(6).", "SHAIN001") +
         Fixed("000400", ' ', "     05  SHAIN-NAME      PIC N(10).") +
         Fixed("000500", ' ', "     05  KINGAKU         PIC S9(7)V99 COMP-3.") +
         Fixed("000600", ' ', "     05  SURYO           PIC S9(4) COMP.") +
         Fixed("000700", ' ', "     05  ZAN             PIC S9(5)V9(2).") +
         Fixed("000800", ' ', "     05  FILLER          PIC X(3).") +
         Fixed("000900", '/', " page") +
         Fixed("001000", ' ', "     05  BIKOU           PIC X(10).") +
         Fixed("001100", ' ', "     05  BIKOU-R REDEFINES BIKOU.") +
         Fixed("001200", ' ', "         10  BIKOU-CD    PIC 9(4).") +
         Fixed("001300", ' ', "         10  FILLER      PIC X(6).") +
         Fixed("001400", 'D', "     05  DEBUG-ONLY      PIC X(6).") +
         Fixed("001500", ' ', "     05  MEISAI OCCURS 3 TIMES.") +
         Fixed("001600", ' ', "         10  M-CD        PIC XX.") +
         Fixed("001700", ' ', "         10  M-AMT       PIC 9(3) PACKED-DECIMAL.") +
         Fixed("001800", ' ', "             88  M-ZERO  VALUE 0.");
}

TEST(CopybookTest, FixedFormatRecord) {
  const Layout layout = Parse(ShainCopybook());
  constexpr auto kF = FieldRole::kFiller;
  constexpr auto kR = FieldRole::kRedefining;
  ExpectFields(layout, {{"SHAIN-NO", 1, 6, X, 0, kAny, kC},
                        {"SHAIN-NAME", 7, 20, N, 0, kAny, kC},
                        {"KINGAKU", 27, 5, P, 2, kAny, kC},
                        {"SURYO", 32, 2, B, 0, kAny, kC},
                        {"ZAN", 34, 7, Z, 2, NumberSign::kTrailing, kC},
                        {"FILLER#1", 41, 3, X, 0, kAny, kF},
                        {"BIKOU", 44, 10, X, 0, kAny, kC},
                        {"BIKOU-CD", 44, 4, Z, 0, kUnsigned, kR},
                        {"FILLER#2", 48, 6, X, 0, kAny, kF},
                        {"M-CD(1)", 54, 2, X, 0, kAny, kC},
                        {"M-AMT(1)", 56, 2, P, 0, kUnsigned, kC},
                        {"M-CD(2)", 58, 2, X, 0, kAny, kC},
                        {"M-AMT(2)", 60, 2, P, 0, kUnsigned, kC},
                        {"M-CD(3)", 62, 2, X, 0, kAny, kC},
                        {"M-AMT(3)", 64, 2, P, 0, kUnsigned, kC}});
  EXPECT_EQ(layout.fields[0].line, 3);
  EXPECT_EQ(layout.fields[14].line, 17);
  EXPECT_EQ(layout.fields[2].attribute, '9');
  EXPECT_EQ(layout.fields[1].attribute, 'N');
  ASSERT_EQ(layout.groups.size(), 5u);
  ExpectGroup(layout, "SHAIN-REC", 1, 65);
  ExpectGroup(layout, "BIKOU-R", 44, 10);
  ExpectGroup(layout, "MEISAI(1)", 54, 4);
  ExpectGroup(layout, "MEISAI(2)", 58, 4);
  ExpectGroup(layout, "MEISAI(3)", 62, 4);
  std::string ranges, message;
  ASSERT_TRUE(FieldNamesToRangeText(layout, "MEISAI(2),SHAIN-NO,SHAIN-REC", ranges, message));
  EXPECT_EQ(ranges, "58-61,1-6,1-65");
}

TEST(CopybookTest, FreeFormatClauses) {
  const Layout layout = Parse(
      "*> free format\n"
      "01 REC.\n"
      "  05 A PIC X(3).  *> a comment\n"
      "  05 B PIC S9(3) SIGN LEADING SEPARATE CHARACTER.\n"
      "  05 C PIC S9(3) SIGN IS TRAILING.\n"
      "  05 D pic 999V99 usage is display.\n"
      "  05 E PIC X(3)XX VALUE 'A. B'.\n"
      "  05 F PIC 9(9) BINARY.\n"
      "  05 G PIC S9(10) COMPUTATIONAL-5.\n"
      "  05 H PIC G(2) DISPLAY-1.\n"
      "  05 I PIC S9(18) COMP-4 VALUE ZERO.\n"
      "  05 J PIC S9 LEADING.\n"
      "  05 K PIC S99 TRAILING SEPARATE.\n"
      "  05 L PIC ZZ,ZZ9.99-.\n"
      "  05 M PIC S9(4)V9 COMP-3.\n"
      "  05 PICTURE IS X JUSTIFIED RIGHT.\n"
      "  05 O PIC 9(3) BLANK WHEN ZERO.\n");
  ExpectFields(layout, {{"A", 1, 3, X, 0, kAny, kC},
                        {"B", 4, 4, Z, 0, NumberSign::kLeadingSeparate, kC},
                        {"C", 8, 3, Z, 0, NumberSign::kTrailing, kC},
                        {"D", 11, 5, Z, 2, kUnsigned, kC},
                        {"E", 16, 5, X, 0, kAny, kC},
                        {"F", 21, 4, BU, 0, kAny, kC},
                        {"G", 25, 8, B, 0, kAny, kC},
                        {"H", 33, 4, N, 0, kAny, kC},
                        {"I", 37, 8, B, 0, kAny, kC},
                        {"J", 45, 1, Z, 0, NumberSign::kLeading, kC},
                        {"K", 46, 3, Z, 0, NumberSign::kTrailingSeparate, kC},
                        {"L", 49, 10, X, 0, kAny, kC},
                        {"M", 59, 3, P, 1, kAny, kC},
                        {"FILLER#1", 62, 1, X, 0, kAny, FieldRole::kFiller},
                        {"O", 63, 3, Z, 0, kUnsigned, kC}});
  ExpectGroup(layout, "REC", 1, 65);
}

TEST(CopybookTest, BinarySizesFollowTheDigits) {
  const Layout layout = Parse(
      "01 R.\n 05 A PIC 9 COMP.\n 05 B PIC S9(4) COMP.\n 05 C PIC 9(5) COMP.\n"
      " 05 D PIC S9(9) COMP.\n 05 E PIC 9(10) COMP.\n 05 F PIC S9(18) COMP.\n"
      " 05 G PIC S9(2) COMP-3.\n 05 H PIC S9(3) COMP-3.\n");
  const int lengths[] = {2, 2, 4, 4, 8, 8, 2, 2};
  ASSERT_EQ(layout.fields.size(), 8u);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(layout.fields[i].length, lengths[i]) << i;
}

TEST(CopybookTest, GroupUsageAndSignApplyToItsItems) {
  const Layout layout = Parse(
      "01 R.\n 05 AMOUNTS COMP-3.\n  10 A PIC S9(5).\n  10 B PIC 9(2)V9.\n"
      " 05 SIGNED SIGN LEADING SEPARATE.\n  10 C PIC S9(2).\n");
  ExpectFields(layout, {{"A", 1, 3, P, 0, kAny, kC},
                        {"B", 4, 2, P, 1, kUnsigned, kC},
                        {"C", 6, 3, Z, 0, NumberSign::kLeadingSeparate, kC}});
  ExpectError("01 R COMP-3.\n 05 A PIC X.\n", 2, "この PIC は USAGE COMP-3 に使えません");
  ExpectError("01 R COMP-3.\n 05 A PIC 9 BINARY.\n", 2,
              "USAGE が、集団項目の USAGE（1 行目）と異なります");
}

TEST(CopybookTest, ContinuationLinesAndIdentificationArea) {
  const Layout layout =
      Parse(Fixed("", ' ', " 01  REC.") + Fixed("", ' ', " 05  LONG-NA") +
            Fixed("", '-', "    ME PIC X(2).") + Fixed("", ' ', " 05  V PIC X(5) VALUE 'ABC") +
            Fixed("", '-', "    'DE. F'.") + Fixed("", ' ', " 05  W PIC 9.", "W PIC X(99)") +
            Fixed("", ' ', " 05  Y PIC X.") + Fixed("", '*', " 05  Z PIC X."));
  ExpectFields(layout, {{"LONG-NAME", 1, 2, X, 0, kAny, kC},
                        {"V", 3, 5, X, 0, kAny, kC},
                        {"W", 8, 1, Z, 0, kUnsigned, kC},
                        {"Y", 9, 1, X, 0, kAny, kC}});
  EXPECT_EQ(layout.fields[2].line, 6);
  ExpectError(Fixed("", ' ', " 01  REC.") + Fixed("", ' ', " 05  V PIC X(5) VALUE 'ABC") +
                  Fixed("", '-', "    DE'."),
              3, "継続行は定数を続ける引用符で始めてください");
  ExpectError(Fixed("", ' ', " 01  REC.") + Fixed("", ' ', " 05  V PIC X(5) VALUE 'ABC") +
                  Fixed("", ' ', " 05  W PIC X."),
              2, "引用符で始まる定数が閉じていません");
}

TEST(CopybookTest, DoubleByteCharactersTakeTwoColumns) {
  // The name takes 8 columns, as its code page 932 bytes would: the text area still ends at 72.
  std::string line = "       05  社員番号 PIC X(4).";  // to column 29
  line.append(72 - 29, ' ');
  const Layout layout = Parse(Fixed("", ' ', " 01  R.") + line + "ABCDEFGH\n");
  ASSERT_EQ(layout.fields.size(), 1u);
  EXPECT_EQ(layout.fields[0].name, "社員番号");
  EXPECT_EQ(layout.fields[0].length, 4);
}

TEST(CopybookTest, NestedOccursNaming) {
  const Layout layout = Parse(
      "01 T.\n 05 O OCCURS 2.\n  10 I OCCURS 3 TIMES INDEXED BY IX.\n"
      "   15 V PIC X.\n 05 K PIC 9 OCCURS 2 ASCENDING KEY IS V.\n");
  std::vector<std::string> names;
  for (const Field& f : layout.fields) names.push_back(f.name + "@" + std::to_string(f.start));
  EXPECT_EQ(names, (std::vector<std::string>{"V(1 1)@1", "V(1 2)@2", "V(1 3)@3", "V(2 1)@4",
                                             "V(2 2)@5", "V(2 3)@6", "K(1)@7", "K(2)@8"}));
  ExpectGroup(layout, "T", 1, 8);
  ExpectGroup(layout, "O(2)", 4, 3);
  ExpectGroup(layout, "I(2 3)", 6, 1);
}

TEST(CopybookTest, RedefinesAndAlternativeRecords) {
  const Layout layout = Parse(
      "01 R.\n 05 A PIC X(4).\n 05 A1 REDEFINES A PIC 9(4).\n 05 A2 REDEFINES A.\n"
      "  10 A2-X PIC XX.\n 05 B PIC X.\n01 R2.\n 05 C PIC X(5).\n"
      "77 S PIC X(2).\n");
  constexpr auto kR = FieldRole::kRedefining;
  ExpectFields(layout, {{"A", 1, 4, X, 0, kAny, kC},
                        {"A1", 1, 4, Z, 0, kUnsigned, kR},
                        {"A2-X", 1, 2, X, 0, kAny, kR},
                        {"B", 5, 1, X, 0, kAny, kC},
                        {"C", 1, 5, X, 0, kAny, kR},
                        {"S", 1, 2, X, 0, kAny, kR}});
  ExpectGroup(layout, "R", 1, 5);
  ExpectGroup(layout, "R2", 1, 5);
}

TEST(CopybookTest, TopLevelItemsOfACopybookWithout01) {
  const Layout layout = Parse(
      "       05  A PIC X(2).\n       05  G.\n         10  B PIC 9.\n"
      "       05  C PIC X.\n");
  ExpectFields(
      layout,
      {{"A", 1, 2, X, 0, kAny, kC}, {"B", 3, 1, Z, 0, kUnsigned, kC}, {"C", 4, 1, X, 0, kAny, kC}});
}

TEST(CopybookTest, RepeatedNamesAreQualified) {
  const Layout layout = Parse(
      "01 R.\n 05 START-DATE.\n  10 YY PIC 9(4).\n  10 MM PIC 99.\n"
      " 05 END-DATE.\n  10 YY PIC 9(4).\n  10 MM PIC 99.\n");
  std::vector<std::string> names;
  for (const Field& f : layout.fields) names.push_back(f.name);
  EXPECT_EQ(names, (std::vector<std::string>{"YY OF START-DATE", "MM OF START-DATE",
                                             "YY OF END-DATE", "MM OF END-DATE"}));
  ExpectError("01 R.\n 05 A PIC X.\n 05 a PIC X.\n", 3,
              "項目名「a OF R」は 2 行目にもあり、上位の集団項目でも区別できません");
  // An edited picture is text: a V in it gives no decimal places (found by the fuzzer).
  const Layout edited = Parse("01 R.\n 05 E PIC V+9.\n");
  ASSERT_EQ(edited.fields.size(), 1u);
  EXPECT_EQ(edited.fields[0].places, 0);
  // A group without a name (a FILLER) qualifies nothing: the names go by the named groups.
  const Layout unnamed = Parse("01 R.\n 05 FILLER.\n  10 A PIC X.\n 05 G.\n  10 A PIC X.\n");
  names.clear();
  for (const Field& f : unnamed.fields) names.push_back(f.name);
  EXPECT_EQ(names, (std::vector<std::string>{"A OF R", "A OF G"}));
  ExpectError("01.\n 05 A PIC X.\n01 A PIC X.\n", 3,
              "項目名「A」は 2 行目にもあり、上位の集団項目でも区別できません");
}

TEST(CopybookTest, BadInputNamesTheLine) {
  const struct {
    const char* text;
    int line;
    const char* problem;
  } cases[] = {
      {"01 R.\n 05 A PIC X FOO.\n", 2, "句「FOO」が分かりません"},
      // A byte order mark says UTF-8: a name of other bytes would not read back as itself.
      {"\xEF\xBB\xBF"
       "01 R.\n 05 \x8E\x81 PIC X.\n",
       2, "UTF-8 として正しくないバイトがあります"},
      {"01 R.\n 05 N PIC 9.\n 05 T OCCURS 1 TO 5 DEPENDING ON N.\n  10 X PIC X.\n", 3,
       "OCCURS DEPENDING ON はまだ扱えません"},
      {"01 R.\n 05 N PIC 9.\n 05 T OCCURS 5 TIMES DEPENDING ON N.\n  10 X PIC X.\n", 3,
       "OCCURS DEPENDING ON はまだ扱えません"},
      {"01 R.\n 05 A.\n  10 B PIC X.\n 07 C PIC X.\n", 4,
       "レベル番号 7 が上の項目のレベル番号と合いません（入れ子になっていません）"},
      {"05 A PIC X.\n03 B PIC X.\n", 2,
       "レベル番号 3 が上の項目のレベル番号と合いません（入れ子になっていません）"},
      {"01 R.\n 05 A PIC X COMP-3.\n", 2, "この PIC は USAGE COMP-3 に使えません"},
      {"01 R.\n 05 A PIC N(2) COMP.\n", 2, "この PIC は USAGE BINARY に使えません"},
      {"01 R.\n 05 A PIC 9 NATIONAL.\n", 2, "この PIC は USAGE NATIONAL に使えません"},
      {"01 R.\n 05 A PIC 9 SIGN LEADING.\n", 2,
       "SIGN 句は S のある PIC の USAGE DISPLAY の項目にだけ使えます"},
      {"01 R.\n 05 A PIC S9 COMP-3 SIGN LEADING.\n", 2,
       "SIGN 句は S のある PIC の USAGE DISPLAY の項目にだけ使えます"},
      {"01 R.\n 05 A PIC X.\n  10 B PIC X.\n", 3,
       "PIC のある項目「A」（2 行目）の下に項目があります"},
      {"01 R.\n 05 A.\n 05 B PIC X.\n", 2, "PIC がありません（下位の項目もありません）"},
      {"01 R.\n 05 A PIC X.\n 05 B PIC X.\n 05 C REDEFINES A PIC X.\n", 4,
       "REDEFINES の対象「A」が、直前の同じレベルの項目ではありません"},
      {"01 R.\n 05 A PIC X.\n 05 C REDEFINES A PIC XX.\n", 3,
       "REDEFINES する「C」（2 バイト）が、対象の「A」（1 バイト）より長くなっています"},
      {"01 R.\n 05 A PIC X OCCURS 2.\n 05 C REDEFINES A PIC XX.\n", 3,
       "OCCURS のある項目「A」は REDEFINES できません"},
      {"01 R.\n 05 A PIC S9(4) COMP SYNC.\n", 2,
       "SYNCHRONIZED は扱えません（境界合わせのすき間の大きさが決まりません）"},
      {"01 R.\n 05 A COMP-1.\n", 2, "USAGE COMP-1 は扱えません"},
      {"01 R.\n 05 A PIC 99PPP.\n", 2, "PIC の P（桁の位置合わせ）は扱えません"},
      {"01 R.\n 05 A PIC X(0).\n", 2, "PIC「X(0)」が正しくありません"},
      {"01 R.\n 05 A PIC 9S.\n", 2, "PIC「9S」が正しくありません"},
      {"01 R.\n 05 A PIC SX.\n", 2, "PIC「SX」が正しくありません"},
      {"01 R.\n 05 A PIC 9(39).\n", 2, "PIC「9(39)」の桁数は 38 までです"},
      {"01 R.\n 05 A PIC 9(19) COMP.\n", 2, "BINARY の項目の桁数は 18 までです"},
      {"01 R.\n 05 A PIC 9(32) COMP-3.\n", 2, "COMP-3 の項目の桁数は 31 までです"},
      {"01 R.\n 05 A PIC X PIC X.\n", 2, "PIC 句が二度あります"},
      {"01 R.\n 05 A PIC X.\n 05 B PIC X\n", 3, "記述の終わりの終止符（.）がありません"},
      {"01 R.\n COPY OTHER.\n", 2, "COPY 文は扱えません（取り込む写しを直接指定してください）"},
      {"01 R.\n 05 A PIC X.\n 55 B PIC X.\n", 3, "レベル番号 55 は使えません"},
      {"01 R.\n 05 A PIC X.\n B PIC X.\n", 3, "レベル番号がありません（「B」）"},
      {"01 R OCCURS 2.\n 05 A PIC X.\n", 1, "レベル 01 と 77 の項目には OCCURS を指定できません"},
      {"01 R.\n 05 A PIC X VALUE 'AB.\n", 2, "引用符で始まる定数が閉じていません"},
      {"01 R.\n >>IF X DEFINED\n 05 A PIC X.\n", 2, "コンパイラ指示「>>IF X DEFINED」は扱えません"},
      {"01 R.\n 05 A(1) PIC X.\n", 2, "項目名「A(1)」が正しくありません"},
      {"01 R.\n 05 A PIC X(2147483647).\n 05 B PIC X.\n", 3,
       "レコードが 2147483647 バイトを超えています"},
      {"01 R.\n 05 A OCCURS 3.\n  10 B PIC X(1000000000).\n", 2,
       "レコードが 2147483647 バイトを超えています"},
  };
  for (const auto& c : cases) ExpectError(c.text, c.line, c.problem);
}

TEST(CopybookTest, TellsACopybookFromALayoutFile) {
  EXPECT_TRUE(LooksLikeCopybook(ShainCopybook()));
  EXPECT_TRUE(LooksLikeCopybook("01 R.\n 05 A PIC X.\n"));
  EXPECT_TRUE(
      LooksLikeCopybook("\xEF\xBB\xBF      * comment\n       01  R.\n       05 A\n"
                        "           PIC\n           X.\n"));
  EXPECT_FALSE(LooksLikeCopybook("項目名,開始桁,桁数,属性\n社員番号,1,4,X\n"));
  EXPECT_FALSE(LooksLikeCopybook("01,1,2\n02,3,4\n"));
  EXPECT_FALSE(LooksLikeCopybook("PIC 区分,1,2\n"));
  EXPECT_FALSE(LooksLikeCopybook("01 R.\n 05 A.\n"));  // no PIC: nothing to lay out anyway
}

TEST(CopybookTest, LoadLayoutReadsEitherKind) {
  testing::TempDir dir;
  testing::WriteFile(dir / "shain.cpy", ShainCopybook());
  Layout layout;
  std::string message;
  ASSERT_TRUE(LoadLayout(dir / "shain.cpy", layout, message).ok()) << message;
  EXPECT_TRUE(layout.copybook);
  EXPECT_EQ(layout.fields.size(), 15u);
  testing::WriteFile(dir / "bad.cpy", "01 R.\n 05 A PIC X FOO.\n");
  const Status s = LoadLayout(dir / "bad.cpy", layout, message);
  EXPECT_EQ(s.error_number(), EINVAL);
  EXPECT_EQ(message,
            "★レイアウトファイル " + (dir / "bad.cpy") + " の 2 行目: 句「FOO」が分かりません");
  testing::WriteFile(dir / "a.csv", "A,1,2,P,1\n");
  ASSERT_TRUE(LoadLayout(dir / "a.csv", layout, message).ok()) << message;
  EXPECT_FALSE(layout.copybook);
  EXPECT_EQ(layout.fields[0].type, FieldType::kPacked);
}

TEST(CopybookTest, LayoutTextKeepsTheComparedFields) {
  const Layout layout = Parse(ShainCopybook());
  const std::string text = LayoutText(layout);
  EXPECT_EQ(text,
            "項目名,開始桁,桁数,属性,小数桁\n"
            "# 集団項目: SHAIN-REC,1,65\n"
            "SHAIN-NO,1,6,X\n"
            "SHAIN-NAME,7,20,N\n"
            "KINGAKU,27,5,P,2\n"
            "SURYO,32,2,B\n"
            "ZAN,34,7,9,2\n"
            "# 比較しない（FILLER）: FILLER#1,41,3,X\n"
            "BIKOU,44,10,X\n"
            "# 集団項目: BIKOU-R,44,10\n"
            "# 比較しない（REDEFINES）: BIKOU-CD,44,4,9\n"
            "# 比較しない（FILLER）: FILLER#2,48,6,X\n"
            "# 集団項目: MEISAI(1),54,4\n"
            "M-CD(1),54,2,X\n"
            "M-AMT(1),56,2,P\n"
            "# 集団項目: MEISAI(2),58,4\n"
            "M-CD(2),58,2,X\n"
            "M-AMT(2),60,2,P\n"
            "# 集団項目: MEISAI(3),62,4\n"
            "M-CD(3),62,2,X\n"
            "M-AMT(3),64,2,P\n");
  Layout again;
  std::string message;
  ASSERT_TRUE(ParseLayoutText(text, "/x/b.csv", again, message)) << message;
  std::vector<const Field*> compared;
  for (const Field& f : layout.fields) {
    if (f.Compared()) compared.push_back(&f);
  }
  ASSERT_EQ(again.fields.size(), compared.size());
  for (std::size_t i = 0; i < compared.size(); ++i) {
    const Field& a = *compared[i];
    const Field& b = again.fields[i];
    EXPECT_EQ(std::tie(a.name, a.start, a.length, a.type, a.places),
              std::tie(b.name, b.start, b.length, b.type, b.places));
  }
}

TEST(CopybookTest, BlankWhenZeroReadsBlanksAsZero) {
  const Layout layout = Parse(
      "       01  R.\n"
      "           05  A  PIC 9(4) BLANK WHEN ZERO.\n"
      "           05  B  PIC 9(4).\n");
  ASSERT_EQ(layout.fields.size(), 2u);
  EXPECT_TRUE(layout.fields[0].blank_when_zero);
  EXPECT_FALSE(layout.fields[1].blank_when_zero);
  Decimal value = Decimal::FromInteger(7);
  EXPECT_TRUE(DecodeNumber(NumberFormatOf(layout.fields[0], DigitFamily::kAscii), "    ", value));
  EXPECT_TRUE(value.IsZero());
  EXPECT_TRUE(DecodeNumber(NumberFormatOf(layout.fields[0], DigitFamily::kEbcdic),
                           "\x40\x40\x40\x40", value));
  EXPECT_FALSE(DecodeNumber(NumberFormatOf(layout.fields[1], DigitFamily::kAscii), "    ", value));
  EXPECT_FALSE(DecodeNumber(NumberFormatOf(layout.fields[0], DigitFamily::kAscii), " 1 ", value));
}

}  // namespace
}  // namespace vesmer
