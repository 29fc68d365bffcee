// Rules and statistics on pairs compared as texts: records of code pages other than 932 and CSV
// records, run through the real comparison with their codings, judged and counted on the texts
// of their fields.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/comparison_run.h"
#include "formats/code_page_coding.h"
#include "formats/csv_coding.h"
#include "formats/format_framing.h"
#include "rules/rules.h"
#include "rules/rules_judge.h"
#include "stats/difference_stats.h"
#include "tests/core/recording_observer.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::CrLf;
using testing::MakeJob;
using testing::ReadFile;
using testing::RecordingObserver;
using testing::TempDir;
using testing::UseKey;
using testing::UseOmit;
using testing::WriteFile;

// A run of two inputs compared as texts, with rules (ranges only) and statistics of `fields`.
class TextPairsTest : public ::testing::Test {
 protected:
  // CR LF lines: the source in `source_code_page`, the destination in code page 932.
  void Lines(const std::string& source, const std::string& destination,
             const std::string& source_code_page = "utf-8") {
    WriteFile(dir_ / "a.txt", source);
    WriteFile(dir_ / "b.txt", destination);
    job_ = MakeJob(dir_ / "a.txt", dir_ / "b.txt");
    std::string message;
    codings_[0] = CodePageCoding::Open(source_code_page, message);
    codings_[1] = CodePageCoding::Open("cp932", message);
    ASSERT_NE(codings_[0], nullptr) << message;
    ASSERT_NE(codings_[1], nullptr) << message;
    // The formats differ: padding is no data.
    job_.TrimPadding = true;
  }
  // CSV records of code page 932 on both sides, fields by number.
  void Csv(const std::string& source, const std::string& destination) {
    WriteFile(dir_ / "a.csv", source);
    WriteFile(dir_ / "b.csv", destination);
    job_ = MakeJob(dir_ / "a.csv", dir_ / "b.csv");
    std::string problem;
    ASSERT_TRUE(ParseRecordFormat("csv", csv_format_, problem)) << problem;
    csv_framing_ = std::make_unique<FormatFraming>(csv_format_);
    for (auto& coding : codings_) {
      coding = CsvCoding::Open(csv_format_, 0, problem);
      ASSERT_NE(coding, nullptr) << problem;
    }
  }
  void Rules(const std::string& text) {
    std::string message;
    ASSERT_TRUE(ParseRulesText(text, "rules.csv", nullptr, rules_, message)) << message;
  }
  RunSummary Run(std::vector<FieldSpan> fields = {}) {
    RunExtensions extensions;
    for (std::size_t i = 0; i < 2; ++i) {
      extensions.codings[i] = codings_[i].get();
      extensions.framings[i] = csv_framing_.get();
    }
    if (!rules_.lines.empty()) {
      judge_ = std::make_unique<RulesJudge>(rules_);
      extensions.judge = judge_.get();
    }
    stats_ = std::make_unique<DifferenceStats>(std::move(fields), 200, 10);
    extensions.sinks.push_back(stats_.get());
    return RunComparison(job_, observer_, extensions);
  }
  std::string Result(const char* name, int kind) {
    return ReadFile(dir_ / (std::string(name) + "_" + std::to_string(kind) + ".TXT"));
  }

  TempDir dir_;
  ComparisonJob job_;
  RecordingObserver observer_;
  std::array<std::unique_ptr<RecordCoding>, 2> codings_;
  RecordFormat csv_format_;
  std::unique_ptr<FormatFraming> csv_framing_;
  RuleSet rules_;
  std::unique_ptr<RulesJudge> judge_;
  std::unique_ptr<DifferenceStats> stats_;
};

TEST_F(TextPairsTest, AcceptedFieldsAreLeftOutAndWhatIsLeftMustBeEqual) {
  // Columns 6-10 an amount, 12-14 a name; the source is UTF-8, the destination code page 932.
  Lines(CrLf({"K001 00100 ABC", "K002 00100 ABC", "K003 00100 ABC", "K004 00100 ABC",
              "K005 00100 ABC"}),
        CrLf({"K001 00101 ABC",     // within the tolerance
              "K002 00101-ABC",     // and a difference outside the fields
              "K003 00200 ABC",     // beyond the tolerance
              "K004 00101 ABC  Z",  // a difference past every field
              "K005 00099 ABD"}));  // two fields, each accepted
  UseKey(job_, "1-4");
  Rules("6-10,数値,1\n12-14,全半角\n12-14,無視\n");
  const RunSummary s = Run({{6, 5}, {12, 3}});
  EXPECT_EQ(s.expected_pairs, 2);
  EXPECT_EQ(Result("a", 2), CrLf({"K002 00100 ABC", "K003 00100 ABC", "K004 00100 ABC"}));
  // 数値 accepted K001 and K005; 全半角 nothing (C and D stay apart), 無視 K005.
  EXPECT_EQ(judge_->rule_pairs(), (std::vector<std::int64_t>{2, 0, 1}));
  // Counted per field on the differing pairs only.
  EXPECT_EQ(stats_->pairs(), 3);
  EXPECT_EQ(stats_->field_counts(), (std::vector<std::int64_t>{3, 0}));
  EXPECT_TRUE(stats_->column_counts().empty());
  EXPECT_EQ(stats_->differing_columns(), 0);
  ASSERT_EQ(stats_->kept_expected().size(), 2u);
  EXPECT_TRUE(stats_->kept_expected()[0].texts);
}

TEST_F(TextPairsTest, ACharacterCodePage932LacksEqualsNothingButItself) {
  // ☃ and ☄ are both missing from code page 932: converted to it, both would be one stand-in,
  // and K001 would be x and a full-width x with the same character after them.
  Lines("K001 x\xE2\x98\x83\r\nK002 x\xE2\x98\x83\r\n",
        "K001 \xEF\xBD\x98\xE2\x98\x84\r\nK002 \xEF\xBD\x98\xE2\x98\x83\r\n");
  std::string message;
  codings_[1] = CodePageCoding::Open("utf-8", message);
  UseKey(job_, "1-4");
  Rules("6-11,前後空白\n6-11,全半角\n6-11,かなカナ\n");
  const RunSummary s = Run({{6, 6}});
  // K002: only x against a full-width x, which 全半角 accepts.
  EXPECT_EQ(s.expected_pairs, 1);
  EXPECT_EQ(Result("a", 2), CrLf({"K001 x\xE2\x98\x83"}));
  EXPECT_EQ(judge_->rule_pairs(), (std::vector<std::int64_t>{0, 1, 0}));
}

TEST_F(TextPairsTest, OnlyDifferencesThatAreComparedCountOrAreCredited) {
  // Columns 8-9 are omitted and a full-width space equals two blanks: where field 6-10 differs
  // only so, neither its rule nor its count sees a difference. Code page 932 on both sides,
  // decoded (as for a field list).
  Lines(CrLf({"K001 aaXXa ABC", "K002 \x81\x40xyz ABC", "K003 bbbbb ABC", "K004 \x81\x40xyz ABC"}),
        CrLf({"K001 aaYYa ABD", "K002   __z ABD", "K003 bbbbc ABC", "K004   xyz ABC Z"}), "cp932");
  UseKey(job_, "1-4");
  UseOmit(job_, "8-9");
  job_.SpaceCompare = true;
  Rules("6-10,無視\n12-14,無視\n");
  const RunSummary s = Run({{6, 5}, {12, 3}});
  EXPECT_EQ(s.expected_pairs, 3);
  EXPECT_EQ(Result("a", 2), CrLf({"K004 \x81\x40xyz ABC"}));
  EXPECT_EQ(judge_->rule_pairs(), (std::vector<std::int64_t>{1, 2}));
  // K004 differs past both fields only.
  EXPECT_EQ(stats_->pairs(), 1);
  EXPECT_EQ(stats_->field_counts(), (std::vector<std::int64_t>{0, 0}));
}

TEST_F(TextPairsTest, AFieldARecordLacksIsAcceptedOnlyByIgnoring) {
  Csv("1,a,\r\n2,a,\r\n3,a,5\r\n", "1,a\r\n2,b\r\n3,a,6\r\n");
  UseKey(job_, "1-1");
  Rules("3-3,数値,10\n3-3,前後空白\n");
  Run({{2, 1}, {3, 1}});
  // Records 1 and 2 lack field 3 in the destination: no number, no text, not accepted.
  EXPECT_EQ(Result("a", 2), "1,a,\r\n2,a,\r\n");
  EXPECT_EQ(judge_->rule_pairs(), (std::vector<std::int64_t>{1, 0}));
  EXPECT_EQ(stats_->field_counts(), (std::vector<std::int64_t>{1, 2}));

  Csv("1,a,\r\n2,a,\r\n3,a,5\r\n", "1,a\r\n2,b\r\n3,a,6\r\n");
  UseKey(job_, "1-1");
  rules_ = {};
  Rules("3-3,無視\n");
  const RunSummary s = Run();
  // Record 2 differs in field 2 too.
  EXPECT_EQ(Result("a", 2), "2,a,\r\n");
  EXPECT_EQ(s.expected_pairs, 2);
  EXPECT_EQ(judge_->rule_pairs(), (std::vector<std::int64_t>{2}));
}

TEST_F(TextPairsTest, PairsAndRecordsAreKeptAsTexts) {
  // The source in EUC-JP, whose bytes are no text of code page 932: kept as texts.
  Lines("K001 \xBB\xB3\xC5\xC4 9\r\nK003 \x01x\r\n", CrLf({"K001 \x8eR\x93\xe0 9", "K002"}),
        "euc-jp");  // 山田 against 山内
  UseKey(job_, "1-4");
  job_.ListFields = {{"名前", 6, 4}};
  Run({{6, 4}});
  ASSERT_EQ(stats_->kept().size(), 1u);
  const KeptPair& pair = stats_->kept()[0];
  EXPECT_TRUE(pair.texts);
  EXPECT_TRUE(pair.source_line.empty());
  EXPECT_TRUE(pair.marker.empty());
  EXPECT_EQ(pair.source_number, 1);
  EXPECT_EQ(pair.destination_number, 1);
  EXPECT_EQ(pair.key, "K001");
  EXPECT_EQ(pair.differing_fields, std::vector<int>{0});
  ASSERT_EQ(pair.fields.size(), 1u);
  const KeptField& field = pair.fields[0];
  EXPECT_EQ(field.name, "名前");
  EXPECT_EQ(field.source, "山田");
  EXPECT_EQ(field.destination, "山内");
  EXPECT_EQ(field.source.substr(field.source_begin, field.source_end - field.source_begin), "田");
  EXPECT_EQ(field.destination.substr(field.destination_begin,
                                     field.destination_end - field.destination_begin),
            "内");
  // Records without a partner: their text, control bytes as \xNN; the bytes as read besides.
  ASSERT_EQ(stats_->kept_unmatched()[0].size(), 1u);
  EXPECT_TRUE(stats_->kept_unmatched()[0][0].texts);
  EXPECT_EQ(stats_->kept_unmatched()[0][0].text, "K003 \\x01x");
  EXPECT_EQ(stats_->kept_unmatched()[0][0].line, "K003 \x01x");
  EXPECT_EQ(stats_->kept_unmatched()[1][0].text, "K002");
}

TEST(KeptFieldTest, WhatDiffersIsCutAtWholeCharacters) {
  const auto middle = [](const std::string& text, std::size_t begin, std::size_t end) {
    return text.substr(begin, end - begin);
  };
  struct Case {
    std::u16string source, destination;
    std::string source_middle, destination_middle;
  } cases[] = {
      {u"abcXdef", u"abcYdef", "X", "Y"},
      {u"abc", u"abXc", "", "X"},
      {u"same", u"same", "", ""},
      {u"", u"new", "", "new"},
      // 𠮷 and 𠮟 share their first unit, 𠀋 and 𡈽 their last is no common end either.
      {u"a\U00020BB7b", u"a\U00020B9Fb", "\U00020BB7", "\U00020B9F"},
      {u"a\U0002000Bb", u"a\U0002123Db", "\U0002000B", "\U0002123D"},
      // A byte that was no character is one character, shown as \xNN whole.
      {u"x\xDC85y", u"x\xDC86y", "\\x85", "\\x86"},
      // A repeated character: the common beginning takes what it can.
      {u"aaa", u"aa", "a", ""},
  };
  for (const Case& c : cases) {
    const KeptField f = MakeKeptField("f", c.source, c.destination);
    EXPECT_EQ(middle(f.source, f.source_begin, f.source_end), c.source_middle) << f.source;
    EXPECT_EQ(middle(f.destination, f.destination_begin, f.destination_end), c.destination_middle)
        << f.destination;
  }
}

}  // namespace
}  // namespace vesmer
