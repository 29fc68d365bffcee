#include "rules/rules.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <random>

#include "platform/cp932.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

constexpr const char* kPath = "/x/r.csv";

RuleSet Rules(const std::string& text, const Layout* layout = nullptr) {
  RuleSet rules;
  std::string message;
  EXPECT_TRUE(ParseRulesText(text, kPath, layout, rules, message)) << message;
  return rules;
}

// The rules written for columns 1-20 in `rule_lines` ("全半角", "数値,0.5", ...), one a line.
FieldRules On(std::initializer_list<const char*> rule_lines) {
  std::string text;
  for (const char* line : rule_lines) text += std::string("1-20,") + line + "\n";
  RuleSet rules = Rules(text);
  EXPECT_EQ(rules.fields.size(), 1u);
  return rules.fields.empty() ? FieldRules{} : rules.fields[0];
}

void ExpectLineError(const std::string& text, int line, const std::string& problem,
                     const Layout* layout = nullptr) {
  RuleSet rules;
  std::string message;
  EXPECT_FALSE(ParseRulesText(text, kPath, layout, rules, message)) << text;
  EXPECT_EQ(message, "★規則ファイル /x/r.csv の " + std::to_string(line) + " 行目: " + problem)
      << text;
  EXPECT_TRUE(rules.fields.empty());
  EXPECT_TRUE(rules.lines.empty());
}

Layout StaffLayout() {
  Layout layout;
  std::string message;
  EXPECT_TRUE(ParseLayoutText("社員番号,1,8\n氏名,9,20,N\n1-5,30,5\n金額,40,12,9\n", "/x/a.csv",
                              layout, message))
      << message;
  return layout;
}

std::u16string Folded(void (*fold)(std::u16string&), std::u16string text) {
  fold(text);
  return text;
}

// ---------------------------------------------------------------------------------------------
// The rules file

TEST(RulesFileTest, RulesOfOneFieldGatherInFileOrder) {
  const Layout layout = StaffLayout();
  const RuleSet rules = Rules(
      "# expected differences\n"
      "氏名,全半角\r\n"
      "41-42,無視\r\n"
      "9-28,前後空白\r\n"
      "\r\n"
      "金額,数値,0.5\r\n"
      "氏名,かなカナ\r\n",
      &layout);
  EXPECT_EQ(rules.path, kPath);
  ASSERT_EQ(rules.fields.size(), 3u);
  const FieldRules& name = rules.fields[0];
  EXPECT_EQ(name.field, "氏名");
  EXPECT_EQ(name.start, 9);
  EXPECT_EQ(name.length, 20);
  ASSERT_EQ(name.rules.size(), 3u);
  EXPECT_EQ(name.rules[0].kind, Rule::Kind::kWidth);
  EXPECT_EQ(name.rules[1].kind, Rule::Kind::kTrim);
  EXPECT_EQ(name.rules[2].kind, Rule::Kind::kKana);
  EXPECT_EQ(name.rule_lines, (std::vector<int>{0, 2, 4}));
  // Columns inside another field's are a field of their own.
  EXPECT_EQ(rules.fields[1].field, "41-42");
  EXPECT_EQ(rules.fields[1].start, 41);
  EXPECT_EQ(rules.fields[1].length, 2);
  EXPECT_EQ(rules.fields[1].rule_lines, (std::vector<int>{1}));
  EXPECT_EQ(rules.fields[2].field, "金額");
  EXPECT_EQ(rules.fields[2].start, 40);
  EXPECT_EQ(rules.fields[2].length, 12);
  ASSERT_EQ(rules.fields[2].rules.size(), 1u);
  EXPECT_EQ(rules.fields[2].rules[0].kind, Rule::Kind::kNumber);
  EXPECT_EQ(rules.fields[2].rules[0].tolerance, "0.5");
  EXPECT_EQ(rules.fields[2].rule_lines, (std::vector<int>{3}));

  ASSERT_EQ(rules.lines.size(), 5u);
  const int numbers[] = {2, 3, 4, 6, 7};
  const char* fields[] = {"氏名", "41-42", "9-28", "金額", "氏名"};
  const char* names[] = {"全半角", "無視", "前後空白", "数値", "かなカナ"};
  const char* values[] = {"", "", "", "0.5", ""};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(rules.lines[i].line, numbers[i]) << i;
    EXPECT_EQ(rules.lines[i].field, fields[i]) << i;
    EXPECT_EQ(rules.lines[i].rule, names[i]) << i;
    EXPECT_EQ(rules.lines[i].value, values[i]) << i;
  }
}

TEST(RulesFileTest, RangesWorkWithoutALayout) {
  const RuleSet rules = Rules("１－５,無視\n 7 - 7 ,前後空白\n1-2147483647,全半角\n");
  ASSERT_EQ(rules.fields.size(), 3u);
  EXPECT_EQ(rules.fields[0].field, "１－５");
  EXPECT_EQ(rules.fields[0].start, 1);
  EXPECT_EQ(rules.fields[0].length, 5);
  EXPECT_EQ(rules.fields[1].start, 7);
  EXPECT_EQ(rules.fields[1].length, 1);
  EXPECT_EQ(rules.fields[2].length, 2147483647);
}

TEST(RulesFileTest, ALayoutNameWinsOverTheSameTextAsARange) {
  const Layout layout = StaffLayout();
  const RuleSet rules = Rules("1-5,無視\n1-6,無視\n", &layout);
  ASSERT_EQ(rules.fields.size(), 2u);
  EXPECT_EQ(rules.fields[0].start, 30);
  EXPECT_EQ(rules.fields[1].start, 1);
  EXPECT_EQ(rules.fields[1].length, 6);
}

TEST(RulesFileTest, TolerancesAreKeptWithoutNeedlessZeros) {
  struct Case {
    const char* value;
    const char* tolerance;
  };
  const Case cases[] = {{"", "0"},      {"0", "0"},        {"0.000", "0"},       {"007.500", "7.5"},
                        {".5", "0.5"},  {"5.", "5"},       {"０．２５", "0.25"}, {" 10 ", "10"},
                        {"100", "100"}, {"0.001", "0.001"}};
  for (const Case& c : cases) {
    const RuleSet rules = Rules(std::string("1-5,数値,") + c.value + "\n");
    ASSERT_EQ(rules.fields.size(), 1u);
    EXPECT_EQ(rules.fields[0].rules[0].tolerance, c.tolerance) << c.value;
  }
  EXPECT_EQ(Rules("1-5,数値\n").fields[0].rules[0].tolerance, "0");
}

TEST(RulesFileTest, BadLinesNameTheProblem) {
  const Layout layout = StaffLayout();
  const std::string kinds = "（無視、全半角、かなカナ、前後空白、数値 のいずれかです）";
  struct Case {
    const char* line;
    std::string problem;
  };
  const Case cases[] = {
      {",無視", "項目名がありません"},
      {"1-5", "規則がありません"},
      {"1-5,", "規則がありません"},
      {"1-5, \u3000", "規則がありません"},
      {"1-5,無 視", "規則「無 視」はありません" + kinds},
      {"1-5,全角半角", "規則「全角半角」はありません" + kinds},
      {"1-5,ignore", "規則「ignore」はありません" + kinds},
      {"1-5,無視,1", "規則「無視」に値は書けません"},
      {"1-5,全半角,x", "規則「全半角」に値は書けません"},
      {"1-5,かなカナ,0", "規則「かなカナ」に値は書けません"},
      {"1-5,前後空白,はい", "規則「前後空白」に値は書けません"},
      {"1-5,数値,-1", "許容差「-1」が 0 以上の数値ではありません"},
      {"1-5,数値,+1", "許容差「+1」が 0 以上の数値ではありません"},
      {"1-5,数値,abc", "許容差「abc」が 0 以上の数値ではありません"},
      {"1-5,数値,1.2.3", "許容差「1.2.3」が 0 以上の数値ではありません"},
      {"1-5,数値,.", "許容差「.」が 0 以上の数値ではありません"},
      {"1-5,数値,1 0", "許容差「1 0」が 0 以上の数値ではありません"},
      {"1-5,数値,1e3", "許容差「1e3」が 0 以上の数値ではありません"},
      {"1-5,数値,1,2", "列が多すぎます（項目名,規則,値 の 3 列までです）"},
      {"1-5,無視,,x", "列が多すぎます（項目名,規則,値 の 3 列までです）"},
      {"5-3,無視", "範囲「5-3」が正しくありません（開始-終了 と書きます）"},
      {"0-4,無視", "範囲「0-4」が正しくありません（開始-終了 と書きます）"},
      {"1-2-3,無視", "範囲「1-2-3」が正しくありません（開始-終了 と書きます）"},
      {"5,無視", "範囲「5」が正しくありません（開始-終了 と書きます）"},
      {"-5,無視", "範囲「-5」が正しくありません（開始-終了 と書きます）"},
      {"5-,無視", "範囲「5-」が正しくありません（開始-終了 と書きます）"},
      {"1-2147483648,無視", "範囲「1-2147483648」が正しくありません（開始-終了 と書きます）"},
      {"部署,無視", "項目「部署」はレイアウトにありません"},
      {"氏名 カナ,無視", "項目「氏名 カナ」はレイアウトにありません"},
  };
  for (const Case& c : cases) {
    ExpectLineError(std::string("1-1,無視\n# c\n") + c.line + "\n1-1,無視\n", 3, c.problem,
                    &layout);
  }
}

TEST(RulesFileTest, NamesNeedALayout) {
  ExpectLineError("1-8,無視\n社員番号,無視\n", 2,
                  "項目名「社員番号」を使うにはレイアウトファイルが要ります");
  // There is no header line: a header is a field that is not there.
  const Layout layout = StaffLayout();
  ExpectLineError("項目名,規則,値\n氏名,無視\n", 1, "項目「項目名」はレイアウトにありません",
                  &layout);
}

TEST(RulesFileTest, EmptyColumnsAtTheEndAreAllowed) {
  const RuleSet rules = Rules("1-5,無視,,\n6-7,数値,1,,,\n");
  ASSERT_EQ(rules.fields.size(), 2u);
  EXPECT_EQ(rules.fields[1].rules[0].tolerance, "1");
}

TEST(RulesFileTest, LineNumbersCountEveryPhysicalLine) {
  ExpectLineError(
      "1-1,無視\r\n\r\n# c\r2-2,無視\n\n3-3,無効\r\n", 6,
      "規則「無効」はありません（無視、全半角、かなカナ、前後空白、数値 のいずれかです）");
}

TEST(RulesFileTest, CodePage932FileWithLayoutNames) {
  const Layout layout = StaffLayout();
  // "氏名,全半角" / "金額,数値,０．５" in code page 932.
  const RuleSet rules = Rules(
      "\x8E\x81\x96\xBC,\x91\x53\x94\xBC\x8A\x70\r\n"
      "\x8B\xE0\x8A\x7A,\x90\x94\x92\x6C,\x82\x4F\x81\x44\x82\x54\r\n",
      &layout);
  ASSERT_EQ(rules.fields.size(), 2u);
  EXPECT_EQ(rules.fields[0].field, "氏名");
  EXPECT_EQ(rules.fields[0].rules[0].kind, Rule::Kind::kWidth);
  EXPECT_EQ(rules.fields[1].field, "金額");
  EXPECT_EQ(rules.fields[1].rules[0].tolerance, "0.5");
  EXPECT_EQ(rules.lines[1].rule, "数値");
  EXPECT_EQ(rules.lines[1].value, "０．５");
}

TEST(RulesFileTest, ByteOrderMarkAndBytesThatAreNoUtf8) {
  EXPECT_EQ(Rules("\xEF\xBB\xBF"
                  "1-5,無視\n")
                .fields.size(),
            1u);
  ExpectLineError(
      "\xEF\xBB\xBF"
      "1-5,無視\n1-5,\xB1\n",
      2, "UTF-8 として正しくないバイトがあります");
}

TEST(RulesFileTest, AFileWithoutRulesIsRefused) {
  for (const std::string text : {"", "# nothing yet\n\n"}) {
    RuleSet rules;
    std::string message;
    EXPECT_FALSE(ParseRulesText(text, kPath, nullptr, rules, message));
    EXPECT_EQ(message, "★規則ファイル /x/r.csv に規則がありません");
  }
}

TEST(LoadRulesTest, ReadsTheFileOrSaysWhyNot) {
  testing::TempDir dir;
  const std::string path = dir / "rules.csv";
  RuleSet rules;
  std::string message;
  Status status = LoadRules(path, nullptr, rules, message);
  EXPECT_EQ(status.error_number(), ENOENT);
  EXPECT_EQ(message,
            "★規則ファイル " + path + " を読み込めません: ファイルまたはフォルダがありません");

  testing::WriteFile(path, "1-5,無視\r\n6-9,数値,2\r\n");
  status = LoadRules(path, nullptr, rules, message);
  ASSERT_TRUE(status.ok()) << message;
  EXPECT_EQ(rules.path, path);
  EXPECT_EQ(rules.fields.size(), 2u);

  testing::WriteFile(path, "1-5,無視\r\n6-9,数値,2,3\r\n");
  status = LoadRules(path, nullptr, rules, message);
  EXPECT_EQ(status.error_number(), EINVAL);
  EXPECT_EQ(message, "★規則ファイル " + path +
                         " の 2 行目: 列が多すぎます（項目名,規則,値 の 3 列までです）");
  EXPECT_TRUE(rules.fields.empty());
}

// ---------------------------------------------------------------------------------------------
// The transformations

TEST(FoldWidthTest, HalfWidthKatakanaBecomeFullWidth) {
  std::u16string all;
  for (char16_t c = 0xFF61; c <= 0xFF9F; ++c) {
    all += c;
    all += u'x';  // keeps the sound marks apart from the kana before them
  }
  std::u16string expected;
  for (const char16_t c : std::u16string_view(
           u"。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテト"
           u"ナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜")) {
    expected += c;
    expected += u'x';
  }
  EXPECT_EQ(Folded(FoldWidth, all), expected);
}

TEST(FoldWidthTest, SoundMarksJoinTheKanaBefore) {
  EXPECT_EQ(Folded(FoldWidth, u"ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞﾊﾞﾋﾞﾌﾞﾍﾞﾎﾞｳﾞ"),
            u"ガギグゲゴザジズゼゾダヂヅデドバビブベボヴ");
  EXPECT_EQ(Folded(FoldWidth, u"ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ"), u"パピプペポ");
  // Where no joined form exists the mark stands alone.
  EXPECT_EQ(Folded(FoldWidth, u"ｱﾞﾅﾞｯﾞﾜﾞｦﾞｶﾟﾀﾟﾝﾟﾞﾟ"), u"ア゛ナ゛ッ゛ワ゛ヲ゛カ゜タ゜ン゜゛゜");
  // A mark joins only the half-width kana right before it, and one mark one kana.
  EXPECT_EQ(Folded(FoldWidth, u"カﾞかﾞ ﾞｶﾞﾞﾊﾟﾟ"), u"カ゛か゛ ゛ガ゛パ゜");
  EXPECT_EQ(Folded(FoldWidth, u"ｶ"), u"カ");
}

TEST(FoldWidthTest, FullWidthAsciiBecomesAscii) {
  EXPECT_EQ(Folded(FoldWidth, u"！ＡＺａｚ０９～＼　￥"), u"!AZaz09~\\ \\");
  // The neighbours of the block stay as they are.
  EXPECT_EQ(Folded(FoldWidth, u"\uFF00\uFF5F\uFF60\uFFE3\u3001ア"),
            u"\uFF00\uFF5F\uFF60\uFFE3\u3001ア");
  EXPECT_EQ(Folded(FoldWidth, u"abc あ"), u"abc あ");
  EXPECT_EQ(Folded(FoldWidth, u""), u"");
}

TEST(FoldKanaTest, HiraganaBecomeKatakana) {
  EXPECT_EQ(Folded(FoldKana, u"ぁあんゔゕゖゝゞ"), u"ァアンヴヵヶヽヾ");
  // The neighbours of the hiragana block stay as they are.
  EXPECT_EQ(Folded(FoldKana, u"\u3040\u3097\u3098゛゜ゟ\u30A0ｱア"),
            u"\u3040\u3097\u3098゛゜ゟ\u30A0ｱア");
}

TEST(TrimFieldBlanksTest, HalfAndFullWidthSpacesAtBothEnds) {
  EXPECT_EQ(Folded(TrimFieldBlanks, u" 　a b　 "), u"a b");
  EXPECT_EQ(Folded(TrimFieldBlanks, u"　 　"), u"");
  EXPECT_EQ(Folded(TrimFieldBlanks, u"\ta\t"), u"\ta\t");
  EXPECT_EQ(Folded(TrimFieldBlanks, u"ab"), u"ab");
}

// ---------------------------------------------------------------------------------------------
// Evaluating one rule

TEST(WidthRuleTest, HalfWidthAndFullWidthFormsAreAccepted) {
  const FieldRules width = On({"全半角"});
  EXPECT_EQ(AcceptingRule(width, "\xB6\xDE", "\x83\x4B"), 0);  // ｶﾞ / ガ
  EXPECT_EQ(AcceptingRule(width, "\xCA\xDF", "\x83\x70"), 0);  // ﾊﾟ / パ
  EXPECT_EQ(AcceptingRule(width, "\xB3\xDE", "\x83\x94"), 0);  // ｳﾞ / ヴ
  EXPECT_EQ(AcceptingRule(width, "\xA1\xA2\xA3\xA4\xA5\xB0",
                          "\x81\x42\x81\x75\x81\x76\x81\x41\x81\x45\x81\x5B"),
            0);  // ｡｢｣､･ｰ / 。「」、・ー
  EXPECT_EQ(AcceptingRule(width, "AB12", "\x82\x60\x82\x61\x82\x50\x82\x51"), 0);  // ＡＢ１２
  EXPECT_EQ(AcceptingRule(width,
                          "\x81\x8F"
                          "1",
                          "\\1"),
            0);  // ￥1
  // The field's bytes differ in length when the widths do: the padding stays a difference.
  EXPECT_EQ(AcceptingRule(width, "\xB1 ", "\x83\x41"), kStillDifferent);  // "ｱ " / ア
  EXPECT_EQ(AcceptingRule(width, "\x81\x40", "  "), kStillDifferent);     // full-width space
  // Not what the rule is for.
  EXPECT_EQ(AcceptingRule(width, "\xB6\xDE", "\x82\xAA"), kStillDifferent);  // ｶﾞ / が
  EXPECT_EQ(AcceptingRule(width, "\xB6\xDE", "\x83\x4A"), kStillDifferent);  // ｶﾞ / カ
  EXPECT_EQ(AcceptingRule(width, "a", "A"), kStillDifferent);
}

TEST(KanaRuleTest, HiraganaAndKatakanaAreAccepted) {
  const FieldRules kana = On({"かなカナ"});
  EXPECT_EQ(AcceptingRule(kana, "\x82\xA0\x82\xA2\x82\xA4", "\x83\x41\x83\x43\x83\x45"), 0);
  EXPECT_EQ(AcceptingRule(kana, "\x82\x9F\x82\xF1", "\x83\x40\x83\x93"), 0);  // ぁん / ァン
  EXPECT_EQ(AcceptingRule(kana, "\x81\x54\x81\x55", "\x81\x52\x81\x53"), 0);  // ゝゞ / ヽヾ
  EXPECT_EQ(AcceptingRule(kana, "\x82\xA0", "\xB1 "), kStillDifferent);       // あ / ｱ
  EXPECT_EQ(AcceptingRule(kana, "\x82\xA0", "\x83\x43"), kStillDifferent);    // あ / イ
}

TEST(TrimRuleTest, BlanksAtBothEndsAreAccepted) {
  const FieldRules trim = On({"前後空白"});
  EXPECT_EQ(AcceptingRule(trim, "  abc", "abc  "), 0);
  EXPECT_EQ(AcceptingRule(trim,
                          "\x81\x40"
                          "abc",
                          "abc  "),
            0);
  EXPECT_EQ(AcceptingRule(trim, "", "     "), 0);  // a record that ends before the field
  EXPECT_EQ(AcceptingRule(trim, "abc", "abc  "), 0);
  EXPECT_EQ(AcceptingRule(trim, "a bc", "ab c"), kStillDifferent);
  EXPECT_EQ(AcceptingRule(trim, "\tabc", "abc "), kStillDifferent);
  EXPECT_EQ(AcceptingRule(trim, "abc", "abd"), kStillDifferent);
}

TEST(IgnoreRuleTest, AnyDifferenceIsAccepted) {
  const FieldRules ignore = On({"無視"});
  EXPECT_EQ(AcceptingRule(ignore, "abc", "xyz"), 0);
  EXPECT_EQ(AcceptingRule(ignore, "", "\x83"), 0);
  EXPECT_EQ(AcceptingRule(ignore, "\x81\x45", "\x85\x40"), 0);
}

TEST(NumberRuleTest, EqualNumbersInOtherWritings) {
  const FieldRules number = On({"数値"});
  EXPECT_EQ(AcceptingRule(number, "  123", "123  "), 0);
  EXPECT_EQ(AcceptingRule(number, "0123", "123.00"), 0);
  EXPECT_EQ(AcceptingRule(number, "-5", "5-"), 0);
  EXPECT_EQ(AcceptingRule(number, "+5", "5"), 0);
  EXPECT_EQ(AcceptingRule(number, "5+", "00005"), 0);
  EXPECT_EQ(AcceptingRule(number, "-0", "0"), 0);
  EXPECT_EQ(AcceptingRule(number, "-.0", "0."), 0);
  EXPECT_EQ(AcceptingRule(number, " 123-", "-123.0"), 0);
  EXPECT_EQ(AcceptingRule(number,
                          "\x81\x40"
                          "7"
                          "\x81\x40",
                          "7"),
            0);  // full-width blanks
  EXPECT_EQ(AcceptingRule(number, "-5", "5"), kStillDifferent);
  EXPECT_EQ(AcceptingRule(number, "1.01", "1.1"), kStillDifferent);
}

TEST(NumberRuleTest, TextsThatAreNoNumbersStayDifferent) {
  const FieldRules number = On({"数値,1000"});
  EXPECT_EQ(AcceptingRule(number, "1", "2"), 0);  // the tolerance does accept
  for (const char* text : {"", "   ", "12a", "1.2.3", "+-1", "-1-", "1 2", ".", "-", "- 5", "5 -",
                           "1,000", "1e3", "\x82\x50\x82\x51",
                           "\x81\x7C"
                           "5",
                           "\t5"}) {
    EXPECT_EQ(AcceptingRule(number, text, "12"), kStillDifferent) << text;
    EXPECT_EQ(AcceptingRule(number, "12", text), kStillDifferent) << text;
  }
}

TEST(NumberRuleTest, ToleranceEdges) {
  EXPECT_EQ(AcceptingRule(On({"数値,0.1"}), "1.00", "1.10"), 0);
  EXPECT_EQ(AcceptingRule(On({"数値,0.1"}), "1.00", "1.11"), kStillDifferent);
  EXPECT_EQ(AcceptingRule(On({"数値,0.09"}), "1.00", "1.10"), kStillDifferent);
  EXPECT_EQ(AcceptingRule(On({"数値,10"}), "-5", "5"), 0);
  EXPECT_EQ(AcceptingRule(On({"数値,9.99"}), "-5", "5"), kStillDifferent);
  EXPECT_EQ(AcceptingRule(On({"数値,1"}), "100", "99"), 0);
  EXPECT_EQ(AcceptingRule(On({"数値,1"}), "100", "98.9999"), kStillDifferent);
  // Where binary floating point goes wrong: 1.1 - 1.0 > 0.1 and 0.1 + 0.2 > 0.3 there.
  EXPECT_EQ(AcceptingRule(On({"数値,0.1"}), "1.1", "1.0"), 0);
  EXPECT_EQ(AcceptingRule(On({"数値,0.3"}), "0.1", "-0.2"), 0);
  EXPECT_EQ(AcceptingRule(On({"数値,0.3"}), "0.2-", "0.1"), 0);
  // And where it rounds a difference down to the tolerance.
  EXPECT_EQ(AcceptingRule(On({"数値,0.3"}), "0.30000000000000000001", "0"), kStillDifferent);
  EXPECT_EQ(AcceptingRule(On({"数値,0.30000000000000000001"}), "0.3", "-0.00000000000000000001"),
            0);
  EXPECT_EQ(AcceptingRule(On({"数値,0.3"}), "0.3", "-0.00000000000000000001"), kStillDifferent);
}

TEST(NumberRuleTest, LongNumbers) {
  const std::string a = "1234567890123456789012345678901234567890";
  EXPECT_EQ(AcceptingRule(On({"数値,1"}), a, "1234567890123456789012345678901234567891"), 0);
  EXPECT_EQ(AcceptingRule(On({"数値,0.9"}), a, "1234567890123456789012345678901234567891"),
            kStillDifferent);
  EXPECT_EQ(AcceptingRule(On({"数値,0.5"}), "99999999999999999999.5", "100000000000000000000"), 0);
  EXPECT_EQ(AcceptingRule(On({"数値,0.49"}), "99999999999999999999.5", "100000000000000000000"),
            kStillDifferent);
  // Carries through every digit of a sum.
  EXPECT_EQ(AcceptingRule(On({"数値,100"}), "-99.99", "0.01"), 0);
  EXPECT_EQ(AcceptingRule(On({"数値,99.999"}), "-99.99", "0.01"), kStillDifferent);
  EXPECT_EQ(AcceptingRule(On({"数値,1000000000000000000000"}), "999999999999999999999-",
                          "0000000000000000000001"),
            0);
  EXPECT_EQ(AcceptingRule(On({"数値,999999999999999999999.9"}), "999999999999999999999-",
                          "0000000000000000000001"),
            kStillDifferent);
}

// Integer arithmetic on values scaled by 1000 is exact: it checks the decimal comparison on
// numbers written in every way the rule reads.
TEST(NumberRuleTest, AgreesWithScaledIntegerArithmetic) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::int64_t> value(-5000000, 5000000);
  std::uniform_int_distribution<int> pick(0, 7);
  const auto write = [&](std::int64_t scaled) {
    const bool negative = scaled < 0;
    const std::int64_t magnitude = negative ? -scaled : scaled;
    std::string digits = std::to_string(magnitude / 1000);
    std::string fraction = std::to_string(1000 + magnitude % 1000).substr(1);
    switch (pick(random) % 4) {
      case 0:
        while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
        break;
      case 1:
        digits = "00" + digits;
        break;
      case 2:
        fraction += "00";
        break;
      default:
        break;
    }
    std::string text = fraction.empty() ? digits : digits + "." + fraction;
    if (negative) {
      text = pick(random) % 2 == 0 ? "-" + text : text + "-";
    } else if (pick(random) == 0) {
      text = "+" + text;
    }
    if (pick(random) == 0) text = "  " + text;
    if (pick(random) == 0) text += " ";
    return text;
  };
  RuleScratch scratch;
  int within = 0, beyond = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::int64_t a = value(random);
    const std::int64_t b = pick(random) == 0 ? a + value(random) % 3 : value(random);
    const std::int64_t difference = a > b ? a - b : b - a;
    std::int64_t tolerance =
        pick(random) < 4 ? difference + value(random) % 2 : std::abs(value(random));
    if (tolerance < 0) tolerance = 0;
    const std::string tolerance_text =
        std::to_string(tolerance / 1000) + "." + std::to_string(1000 + tolerance % 1000).substr(1);
    const RuleSet rules = Rules("1-40,数値," + tolerance_text + "\n");
    const std::string x = write(a), y = write(b);
    const bool expected = difference <= tolerance;
    const int got = AcceptingRule(rules.fields[0], x, y, scratch);
    if (x == y) {
      EXPECT_EQ(got, kNoDifference);
      continue;
    }
    EXPECT_EQ(got, expected ? 0 : kStillDifferent)
        << x << " / " << y << " within " << tolerance_text;
    (expected ? within : beyond) += 1;
  }
  // Both answers were exercised, near the edge as well.
  EXPECT_GT(within, 2000);
  EXPECT_GT(beyond, 2000);
}

TEST(CompareNumbersTest, ThreeAnswers) {
  RuleScratch scratch;
  EXPECT_EQ(CompareNumbers(u"1.5", u"2", "0.5", scratch), NumberComparison::kWithin);
  EXPECT_EQ(CompareNumbers(u"1.5", u"2.01", "0.5", scratch), NumberComparison::kBeyond);
  EXPECT_EQ(CompareNumbers(u"1.5", u"２", "0.5", scratch), NumberComparison::kNotNumbers);
  EXPECT_EQ(CompareNumbers(u"", u"", "0", scratch), NumberComparison::kNotNumbers);
  EXPECT_EQ(CompareNumbers(u"\u30003-\u3000", u" -3 ", "0", scratch), NumberComparison::kWithin);
}

// ---------------------------------------------------------------------------------------------
// Several rules on one field

TEST(RuleOrderTest, TheRuleThatEndsTheDifferenceIsCredited) {
  // ｱ and a space against ア: 全半角 only makes the widths alike, 前後空白 ends the difference.
  EXPECT_EQ(AcceptingRule(On({"全半角", "前後空白"}), "\xB1 ", "\x83\x41"), 1);
  // Both orders work for these two, the credit goes to whichever comes second.
  EXPECT_EQ(AcceptingRule(On({"前後空白", "全半角"}), "\xB1 ", "\x83\x41"), 1);
  // A full-width space is one blank after 全半角 and gone after 前後空白.
  EXPECT_EQ(AcceptingRule(On({"全半角", "前後空白"}), "\x81\x40", "  "), 1);
  // ｶﾞ against が needs both 全半角 and かなカナ, in either order.
  EXPECT_EQ(AcceptingRule(On({"全半角", "かなカナ"}), "\xB6\xDE", "\x82\xAA"), 1);
  EXPECT_EQ(AcceptingRule(On({"かなカナ", "全半角"}), "\xB6\xDE", "\x82\xAA"), 1);
  // Rules after the accepting one take no part.
  EXPECT_EQ(AcceptingRule(On({"全半角", "無視"}), "\xB6\xDE", "\x83\x4B"), 0);
  EXPECT_EQ(AcceptingRule(On({"全半角", "無視"}), "\xB6\xDE", "\x83\x4A"), 1);
  EXPECT_EQ(AcceptingRule(On({"無視", "全半角"}), "\xB6\xDE", "\x83\x4B"), 0);
  EXPECT_EQ(AcceptingRule(On({"全半角", "前後空白", "かなカナ", "無視"}), "a", "b"), 3);
}

TEST(RuleOrderTest, NumbersAreComparedAsTransformedSoFar) {
  // Full-width digits in 4 bytes against half-width ones with blanks.
  const std::string wide = "\x82\x50\x82\x51";  // １２
  EXPECT_EQ(AcceptingRule(On({"全半角", "数値"}), wide, "  12"), 1);
  EXPECT_EQ(AcceptingRule(On({"数値", "全半角"}), wide, "  12"), kStillDifferent);
  EXPECT_EQ(AcceptingRule(On({"数値"}), wide, "  12"), kStillDifferent);
  // A full-width minus counts as a sign after 全半角 too.
  EXPECT_EQ(AcceptingRule(On({"全半角", "数値"}), "\x81\x7C\x82\x54", " -5 "), 1);
  // A failed number comparison leaves the texts to the rules after it.
  EXPECT_EQ(AcceptingRule(On({"数値", "前後空白"}), "abc ", " abc"), 1);
  EXPECT_EQ(AcceptingRule(On({"数値,1", "無視"}), "1", "5"), 1);
  EXPECT_EQ(AcceptingRule(On({"数値,1", "無視"}), "1", "2"), 0);
  // The same rule twice: the first one does the work.
  EXPECT_EQ(AcceptingRule(On({"前後空白", "前後空白"}), " a", "a "), 0);
}

TEST(RuleOrderTest, EqualBytesAreNoDifference) {
  EXPECT_EQ(AcceptingRule(On({"無視"}), "abc", "abc"), kNoDifference);
  EXPECT_EQ(AcceptingRule(On({"数値"}), "", ""), kNoDifference);
  EXPECT_EQ(AcceptingRule(FieldRules{}, "a", "a"), kNoDifference);
  EXPECT_EQ(AcceptingRule(FieldRules{}, "a", "b"), kStillDifferent);
}

TEST(RuleOrderTest, BytesThatDecodeAlike) {
  // 0x85 0x40 is not in the table and decodes to U+30FB, as ・ (0x81 0x45) does.
  ASSERT_EQ(cp932::Decode("\x85\x40"), cp932::Decode("\x81\x45"));
  // No transformation made them equal: still a difference, unless ignored.
  EXPECT_EQ(AcceptingRule(On({"前後空白", "全半角"}), "\x81\x45", "\x85\x40"), kStillDifferent);
  EXPECT_EQ(AcceptingRule(On({"前後空白", "無視"}), "\x81\x45", "\x85\x40"), 1);
  // A field cut inside a double-byte character: the cut halves decode alike whatever their
  // lead bytes, so the rest of the field decides.
  EXPECT_EQ(AcceptingRule(On({"全半角"}), "\xB6\xDE\x83", "\x83\x4B\x88"), 0);
  EXPECT_EQ(AcceptingRule(On({"全半角"}), "\xB6\xDE\x83", "\x83\x4A\x88"), kStillDifferent);
}

TEST(RuleOrderTest, TheAnswerDoesNotDependOnWhichSideIsWhich) {
  const FieldRules rules[] = {On({"全半角"}), On({"かなカナ", "前後空白"}),
                              On({"全半角", "数値,1"}), On({"数値,0.5"}),
                              On({"前後空白", "全半角", "かなカナ"})};
  const char* texts[] = {
      "\xB6\xDE", "\x83\x4B", "\x82\xAA", "  12",     "\x82\x50\x82\x51", "13 ",
      "12.5",     "\xB1 ",    "\x83\x41", "\x82\xA0", "\x81\x40\x82\xA0", "\x85\x40",
      "\x81\x45", "",         "-12"};
  for (const FieldRules& field : rules) {
    for (const char* a : texts) {
      for (const char* b : texts) {
        EXPECT_EQ(AcceptingRule(field, a, b), AcceptingRule(field, b, a)) << a << " / " << b;
      }
    }
  }
}

TEST(RuleOrderTest, AnOwnScratchGivesTheSameAnswers) {
  const FieldRules field = On({"全半角", "前後空白", "数値,0.5"});
  RuleScratch scratch;
  // A long pair first grows the buffers; shorter pairs after it must not see its remains.
  EXPECT_EQ(AcceptingRule(field, std::string(200, '1'), std::string(199, '1') + "2", scratch),
            kStillDifferent);
  EXPECT_EQ(AcceptingRule(field, "\xB1 ", "\x83\x41", scratch), 1);
  EXPECT_EQ(AcceptingRule(field, "1.5", "2", scratch), 2);
  EXPECT_EQ(AcceptingRule(field, "1", "2", scratch), kStillDifferent);
  EXPECT_EQ(AcceptingRule(field, "1", "2"), kStillDifferent);
}

}  // namespace
}  // namespace vesmer
