// End-to-end tests of vesmer-batch: the real executable on files the tests write.
#include "cli/batch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "core/messages.h"
#include "platform/cp932.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::CrLf;
using testing::Exists;
using testing::ReadFile;
using testing::RunBatchExe;
using testing::TempDir;
using testing::WriteFile;

class BatchTest : public ::testing::Test {
 protected:
  testing::ProcessResult Run(const std::string& source, const std::string& destination,
                             std::vector<std::string> options = {}) {
    WriteFile(dir_ / "a.prn", source);
    WriteFile(dir_ / "b.prn", destination);
    options.push_back(dir_ / "a.prn");
    options.push_back(dir_ / "b.prn");
    return RunBatchExe(options);
  }
  std::string Result(int kind) { return ReadFile(dir_ / ("a_" + std::to_string(kind) + ".TXT")); }
  // The summary --json printed, with what every summary has checked: the outcome, the
  // status, both inputs with their line counts, and each result file with its path, whether it
  // was selected and how many records it received.
  nlohmann::json Summary(const testing::ProcessResult& r, const std::string& outcome,
                         const std::string& status, const std::vector<long>& lines,
                         const std::string& selected, const std::vector<long>& counts) {
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["outcome"], outcome);
    EXPECT_EQ(j["status"], status);
    EXPECT_EQ(j["inputs"].size(), 2u);
    for (std::size_t side = 0; side < 2; ++side) {
      EXPECT_EQ(j["inputs"][side]["path"], dir_ / (side == 0 ? "a.prn" : "b.prn"));
      EXPECT_EQ(j["inputs"][side]["lines"], lines[side]);
    }
    EXPECT_EQ(j["outputs"].size(), 6u);
    for (std::size_t k = 0; k < j["outputs"].size(); ++k) {
      const nlohmann::json& o = j["outputs"][k];
      EXPECT_EQ(o["kind"], k);
      EXPECT_EQ(o["path"], dir_ / ("a_" + std::to_string(k) + ".TXT"));
      EXPECT_EQ(o["selected"], selected[k] == '1') << k;
      EXPECT_EQ(o["count"], counts[k]) << k;
    }
    return j;
  }
  TempDir dir_;
};

TEST_F(BatchTest, NoDifferencesExitsZero) {
  const auto r = Run(CrLf({"a", "b"}), CrLf({"a", "b"}), {"--json"});
  EXPECT_EQ(r.exit_code, 0);
  Summary(r, "no-differences", messages::kCompletedNoDifferences, {2, 2}, "001111",
          {0, 0, 0, 0, 2, 0});
}

TEST_F(BatchTest, KeyModeDifferencesExitOne) {
  const auto r =
      Run(CrLf({"A1", "B1", "C1"}), CrLf({"A1", "B2", "C1", "D1", "E1"}), {"--json", "-k", "1-1"});
  EXPECT_EQ(r.exit_code, 1);
  Summary(r, "differences", messages::kCompleted, {3, 5}, "111111", {0, 2, 1, 1, 2, 1});
  EXPECT_EQ(Result(1), CrLf({"D1", "E1"}));
}

TEST_F(BatchTest, OutOfOrderKeysExitTwo) {
  const auto r = Run(CrLf({"B", "A"}), CrLf({"A", "B"}), {"--json", "--key", "1-1"});
  EXPECT_EQ(r.exit_code, 2);
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["outcome"], "out-of-order");
  EXPECT_EQ(j["status"], messages::kOutOfOrder);
}

// The JSON names the window's control; standard error the option or argument to correct, and
// every refusal carries the error mark.
TEST_F(BatchTest, RefusedStartsNameTheMessageAndFocus) {
  struct Case {
    std::vector<std::string> args;
    std::string message, focus, argument;
  };
  WriteFile(dir_ / "a.prn", "x");
  const std::string a = dir_ / "a.prn";
  const std::vector<Case> cases = {
      {{"", a}, messages::kNoSource, "cmdSelInput(0)", "比較元"},
      {{a, ""}, messages::kNoDestination, "cmdSelInput(1)", "比較先"},
      {{a, a}, messages::kSameFile, "cmdSelInput(0)", "比較元"},
      {{"-k", "　", a, "b"}, messages::kNoKeyRange, "txtKeyRange", "--key"},
      {{"-x", "", a, "b"}, messages::kNoOmitRange, "txtOmitRange", "--omit"},
      {{"-k", "5-3", a, "b"}, messages::kBadKeyRange, "txtKeyRange", "--key"},
      {{"-x", "a-5", a, "b"}, messages::kBadOmitRange, "txtOmitRange", "--omit"},
      {{"-k",
        "1-1,2-2,3-3,4-4,5-5,6-6,7-7,8-8,9-9,10-10,11-11,12-12,13-13,14-14,15-15,16-16,"
        "17-17,18-18,19-19,20-20,21-21",
        a, "b"},
       std::string("★") + messages::kKeyRangeOverLimit,
       "txtKeyRange",
       "--key"},
      {{"-k", "1-10", "-x", "10-12", a, "b"}, messages::kRangesOverlap, "txtOmitRange", "--omit"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--json");
    const auto r = RunBatchExe(args);
    EXPECT_EQ(r.exit_code, 2) << c.message;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["outcome"], "refused");
    EXPECT_EQ(j["status"], c.message);
    EXPECT_EQ(j["focus"], c.focus);
    EXPECT_EQ(r.err, c.message + " (" + c.argument + ")\n");
  }
  EXPECT_FALSE(Exists(dir_ / "a_2.TXT"));
}

TEST_F(BatchTest, UsageErrors) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"only-one"},
                                             {"-o", "0", "a", "b"},
                                             {"-o", "29", "a", "b"},
                                             {"--bogus", "a", "b"},
                                             {"a", "b", "-k"}}) {
    const auto r = RunBatchExe(args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("使い方: vesmer-batch"), std::string::npos);
  }
}

TEST_F(BatchTest, HelpAndVersion) {
  auto r = RunBatchExe({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("--key"), std::string::npos);
  EXPECT_NE(r.out.find("--compare-bytes"), std::string::npos);
  EXPECT_NE(r.out.find("終了コード"), std::string::npos);
  r = RunBatchExe({"--version"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "vesmer-batch 2.0.40\n");
}

// Terminal columns of a UTF-8 line, counted here without the program's own helper: every
// character from U+1100 on takes two, but for the half-width forms.
std::size_t Columns(const std::string& line) {
  std::size_t columns = 0;
  for (std::size_t i = 0; i < line.size();) {
    const auto lead = static_cast<unsigned char>(line[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t cp = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (std::size_t k = 1; k < length && i + k < line.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(line[i + k]) & 0x3F);
    }
    const bool half_width_form = cp >= 0xFF61 && cp <= 0xFFDC;
    columns += cp >= 0x1100 && !half_width_form ? 2 : 1;
    i += length;
  }
  return columns;
}

TEST_F(BatchTest, HelpFitsEightyColumns) {
  const auto r = RunBatchExe({"--help"});
  ASSERT_EQ(r.exit_code, 0);
  std::size_t start = 0;
  for (std::size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = r.out.substr(start, end - start);
    EXPECT_LE(Columns(line), 80u) << line;
  }
  EXPECT_EQ(start, r.out.size());  // the last line ends too
}

TEST_F(BatchTest, HelpEndsWithExamples) {
  const std::string help = RunBatchExe({"--help"}).out;
  const std::size_t examples = help.find("\n例:\n");
  ASSERT_NE(examples, std::string::npos);
  for (const char* example :
       {"\n  vesmer-batch -k 1-4 old/SHAIN.TXT new/SHAIN.TXT\n",
        "\n  vesmer-batch --layout shain.csv --key-fields 社員番号 --report shain.html \\\n"
        "    old/SHAIN.TXT new/SHAIN.TXT\n",
        "\n  vesmer-batch -k 1-4 --sort old/SHAIN.TXT new/SHAIN.TXT\n"}) {
    EXPECT_GT(help.find(example), examples) << example;
  }
  // Only the exit codes follow them.
  EXPECT_GT(help.find("\n終了コード:\n"), examples);
}

TEST_F(BatchTest, HelpExplainsEveryRule) {
  const std::string help = RunBatchExe({"--help"}).out;
  const std::size_t rules = help.find("\n--rules の規則:\n");
  ASSERT_NE(rules, std::string::npos);
  // Each rule starts a line of its own, the number rule with its tolerance.
  for (const char* rule :
       {"\n  無視 ", "\n  全半角 ", "\n  かなカナ ", "\n  前後空白 ", "\n  数値,許容差 "}) {
    EXPECT_GT(help.find(rule), rules) << rule;
  }
  EXPECT_NE(help.find("金額,数値,0.01"), std::string::npos);
}

// On a terminal a sorting run numbers its steps and clears its progress line before the summary.
TEST_F(BatchTest, ProgressOfASortingRunIsNumberedAndCleared) {
  WriteFile(dir_ / "a.prn", CrLf({"2b", "1a"}));
  WriteFile(dir_ / "b.prn", CrLf({"1a", "2b"}));
  const std::string a = dir_ / "a.prn", b = dir_ / "b.prn";
  const char* argv[] = {"vesmer-batch", "-k", "1-1", "--sort", a.c_str(), b.c_str(), nullptr};
  std::ostringstream out, err;
  EXPECT_EQ(RunBatch(6, argv, out, err, true), 0);
  const std::string shown = err.str();
  EXPECT_EQ(shown.rfind("\r整列 1/2 [", 0), 0u) << shown;
  EXPECT_EQ(shown.find("\r整列 ["), std::string::npos) << shown;
  const std::string clear = "\r\033[K";
  ASSERT_GE(shown.size(), clear.size());
  EXPECT_EQ(shown.substr(shown.size() - clear.size()), clear);
  EXPECT_EQ(out.str().rfind(messages::kCompleted, 0), 0u);
}

TEST_F(BatchTest, PlainSummaryShowsCountsAndPaths) {
  const auto r = Run(CrLf({"x"}), CrLf({"y"}), {"-o", "25"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, std::string(messages::kCompleted) + "\n比較元 1 行  " + (dir_ / "a.prn") +
                       "\n比較先 1 行  " + (dir_ / "b.prn") +
                       "\n2 比較元ファイル：キー一致・内容不一致  1  " + (dir_ / "a_2.TXT") +
                       "\n3 比較先ファイル：キー一致・内容不一致  1  （出力しない設定）" +
                       "\n5 比較結果リスト  1  " + (dir_ / "a_5.TXT") + "\n");
  EXPECT_FALSE(Exists(dir_ / "a_3.TXT"));
}

TEST_F(BatchTest, MissingInputFailsWithExitTwo) {
  WriteFile(dir_ / "b.prn", "x");
  const auto r = RunBatchExe({dir_ / "none.prn", dir_ / "b.prn"});
  EXPECT_EQ(r.exit_code, 2);
  // The message, then the file and the system's reason.
  EXPECT_EQ(r.err, std::string(messages::kCannotOpen) + "\n" + (dir_ / "none.prn") +
                       ": ファイルまたはフォルダがありません\n");
}

TEST_F(BatchTest, OptionsReachTheRecordReader) {
  // Space compare, omitted columns and arranged length, each on its own.
  auto r = Run(CrLf({"A\x81\x40"
                     "B"}),
               CrLf({"A  B"}), {"-s"});
  EXPECT_EQ(r.exit_code, 0);
  r = Run(CrLf({"A\x81\x40"
                "B"}),
          CrLf({"A  B"}));
  EXPECT_EQ(r.exit_code, 1);
  r = Run(CrLf({"ABCDEF"}), CrLf({"ABxyEF"}), {"-x", "3-4"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(Result(4), CrLf({"ABCDEF"}));
  r = Run(CrLf({"ABCDEF"}), CrLf({"ABC"}), {"-a"});
  EXPECT_EQ(r.exit_code, 0);
  r = Run(CrLf({"ABCDEF"}), CrLf({"ABC"}));
  EXPECT_EQ(r.exit_code, 1);
}

TEST_F(BatchTest, EqualTextsOfOtherBytesAreCountedAndWarnedAbout) {
  // Pairs that are no character, lone lead bytes, and two codes of one character: the texts are
  // equal, so the files have no differences, but the files are not the same.
  const std::vector<std::string> source = {"0001 \x85\x40 100", "A\x81", "0002 \xED\x40", "same"};
  const std::vector<std::string> destination = {"0001 \x81\x7F 100", "A\x82", "0002 \xFA\x5C",
                                                "same"};
  auto r = Run(CrLf(source), CrLf(destination), {"--json", "--summary-csv", dir_ / "s.csv"});
  EXPECT_EQ(r.exit_code, 0);
  nlohmann::json j = Summary(r, "no-differences", messages::kCompletedNoDifferences, {4, 4},
                             "001111", {0, 0, 0, 0, 4, 0});
  EXPECT_EQ(Result(4), CrLf(source));
  EXPECT_EQ(j["same_text_other_bytes"], 3);
  const std::string warning =
      "文字としては一致するがバイトが異なる組が 3 組あります（--compare-bytes "
      "でバイトを比較できます）";
  EXPECT_EQ(r.err, "vesmer-batch: 警告: " + warning + "\n");
  EXPECT_EQ(j["warnings"], nlohmann::json::array({warning}));
  EXPECT_NE(ReadFile(dir_ / "s.csv").find("\r\n文字としては一致するがバイトが異なる組,3\r\n"),
            std::string::npos);

  // Without --json the warning is the same.
  r = Run(CrLf(source), CrLf(destination));
  EXPECT_EQ(r.err, "vesmer-batch: 警告: " + warning + "\n");

  // Always there, 0 when the bytes are the same or differ only where the options look away.
  r = Run(CrLf({"0001 \x85\x40 100"}), CrLf({"0001 \x81\x7F 100"}), {"--json", "-x", "6-7"});
  EXPECT_EQ(r.exit_code, 0);
  j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["same_text_other_bytes"], 0);
  EXPECT_FALSE(j.contains("warnings"));
  EXPECT_EQ(r.err, "");
  r = Run(CrLf({"x"}), CrLf({"y"}), {"--json"});
  EXPECT_EQ(nlohmann::json::parse(r.out)["same_text_other_bytes"], 0);
}

TEST_F(BatchTest, LineEndsAsTheRecordReaderSplitsThem) {
  // CR, CR LF, a lone LF inside a line, 0x1A as an ordinary byte, a last line without an end.
  const auto r =
      Run("a\rb\r\nc\nd\r\x1A"
          "e",
          "a\r\nb\r\nX\r\n\x1A"
          "e\r\n",
          {"--json"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(Result(2), "c\nd\r\n");
  EXPECT_EQ(Result(3), "X\r\n");
  EXPECT_EQ(Result(4),
            "a\r\nb\r\n\x1A"
            "e\r\n");
  EXPECT_EQ(nlohmann::json::parse(r.out)["inputs"][0]["lines"], 4);
}

TEST_F(BatchTest, ScaleTextHeadsEverySegment) {
  Run(CrLf({"x"}), CrLf({"y"}), {"--scale", "1234567890"});
  EXPECT_EQ(Result(5), CrLf({std::string(14, ' ') + "1234567890", "0000001 000-O:x",
                             "0000001 000-C:y", "0000001 000-R:?"}));
}

}  // namespace
}  // namespace vesmer

namespace vesmer {
namespace {

TEST(BatchSettingsTest, RunsAComparisonSetUpOnlyByASettingsFile) {
  testing::TempDir dir;
  testing::WriteFile(dir / "a.prn", testing::CrLf({"K1 x", "K2 y", "K3 z"}));
  testing::WriteFile(dir / "b.prn", testing::CrLf({"K1 x", "K2 Y", "K4 z"}));
  testing::WriteFile(dir / "mine.ini",
                     cp932::FromUtf8("[mine]\r\nInputData0=" + (dir / "a.prn") +
                                     "\r\nInputData1=" + (dir / "b.prn") +
                                     "\r\nOutputData=000011\r\nKey=1\r\nKeyRange=１－２\r\n"
                                     "Omit=1\r\nOmitRange=4-4\r\n"));
  auto r = testing::RunBatchExe({"--json", "--settings", dir / "mine.ini"});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  // Key mode forces kinds 0 and 1; "K2 Y" matches because column 4 is omitted.
  EXPECT_EQ(testing::ReadFile(dir / "a_0.TXT"), testing::CrLf({"K3 z"}));
  EXPECT_EQ(testing::ReadFile(dir / "a_1.TXT"), testing::CrLf({"K4 z"}));
  EXPECT_EQ(testing::ReadFile(dir / "a_4.TXT"), testing::CrLf({"K1 x", "K2 y"}));
  EXPECT_FALSE(testing::Exists(dir / "a_2.TXT"));

  // The command line wins over the file.
  r = testing::RunBatchExe(
      {"--settings", dir / "mine.ini", "-x", "3-3", "-o", "2", dir / "b.prn", dir / "a.prn"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(testing::ReadFile(dir / "b_2.TXT"), testing::CrLf({"K2 Y"}));
}

}  // namespace
}  // namespace vesmer
