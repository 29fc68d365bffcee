// Before a job runs: two outputs that are one file, outputs inside the folders read. After it:
// the rows made of JSON summaries, their order, the job's verdict, the CSV and the dashboard.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "jobs/job_summary.h"
#include "jobs/output_check.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::TempDir;

JobPair Pair(const std::string& source, const std::string& destination,
             const std::string& relative) {
  JobPair p;
  p.source = source;
  p.destination = destination;
  p.relative = relative;
  return p;
}

TEST(PairFilesTest, NamesFollowTheSourceUnderItsRelativeFolder) {
  EXPECT_EQ(PairFolder("out", "sub/deep/SHAIN.DAT"), "out/sub/deep");
  EXPECT_EQ(PairFolder("out/", "SHAIN.DAT"), "out/");
  const PairFiles files = PairFilesIn("out/sub", "/old/sub/SHAIN.DAT");
  EXPECT_EQ(files.results[0], "out/sub/SHAIN_0.TXT");
  EXPECT_EQ(files.results[5], "out/sub/SHAIN_5.TXT");
  EXPECT_EQ(files.report, "out/sub/SHAIN_report.html");
  EXPECT_EQ(files.summary, "out/sub/SHAIN_summary.json");
}

class OutputCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / "old/sub");
    std::filesystem::create_directories(dir_ / "new/sub");
  }
  bool Check(const std::vector<JobPair>& pairs, const std::string& out,
             const std::vector<std::string>& folders = {},
             const std::vector<std::pair<std::string, std::string>>& read = {}) {
    problem_.clear();
    return CheckJobOutputs(out, pairs, {out + "/index.html", out + "/summary.csv"}, folders, read,
                           problem_);
  }
  TempDir dir_;
  std::string problem_;
};

TEST_F(OutputCheckTest, TwoPairsClaimingOneFileAreRefused) {
  const std::string out = dir_ / "out";
  // The same stem with two extensions: both would write SHAIN_0.TXT.
  std::vector<JobPair> pairs = {
      Pair(dir_ / "old/sub/SHAIN.DAT", dir_ / "new/sub/SHAIN.DAT", "sub/SHAIN.DAT"),
      Pair(dir_ / "old/sub/SHAIN.TXT", dir_ / "new/sub/SHAIN.TXT", "sub/SHAIN.TXT")};
  pairs[1].origin = "p.txt の 2 行目";
  EXPECT_FALSE(Check(pairs, out));
  EXPECT_EQ(problem_,
            "★二つの出力が同じファイルになります: " + out +
                "/sub/SHAIN_summary.json（組 sub/SHAIN.DAT と 組 sub/SHAIN.TXT（p.txt の 2 "
                "行目））");
  pairs[1] = Pair(dir_ / "old/sub/other.TXT", dir_ / "new/sub/SHAIN.TXT", "sub/other.TXT");
  EXPECT_TRUE(Check(pairs, out)) << problem_;
  EXPECT_FALSE(std::filesystem::exists(out));  // a check writes nothing
  // Another spelling of the output folder, through a link, is the same folder.
  ASSERT_EQ(::symlink(out.c_str(), (dir_ / "alias").c_str()), 0);
  std::filesystem::create_directories(out);
  pairs[1] = Pair(dir_ / "old/sub/SHAIN.TXT", dir_ / "new/sub/SHAIN.TXT", "sub/SHAIN.TXT");
  EXPECT_FALSE(
      CheckJobOutputs(out, pairs, {dir_ / "alias/sub/SHAIN_report.html"}, {}, {}, problem_));
  EXPECT_NE(problem_.find("ジョブの一覧 と 組 sub/SHAIN.DAT"), std::string::npos) << problem_;
}

TEST_F(OutputCheckTest, NoOutputIsAFileTheJobReads) {
  const std::string out = dir_ / "out";
  const std::vector<JobPair> pairs = {
      Pair(dir_ / "old/sub/SHAIN.DAT", dir_ / "new/sub/SHAIN.DAT", "sub/SHAIN.DAT")};
  // A layout a profile names, kept where the dashboard goes; a pair list where a result goes.
  EXPECT_FALSE(Check(pairs, out, {}, {{out + "/index.html", "レイアウト"}}));
  EXPECT_EQ(problem_, "★出力がこのジョブの読むファイル（レイアウト）と同じになります: " + out +
                          "/index.html（ジョブの一覧）");
  EXPECT_FALSE(Check(pairs, out, {}, {{out + "/sub/../sub/SHAIN_5.TXT", "組の一覧"}}));
  EXPECT_NE(problem_.find("（組の一覧）"), std::string::npos) << problem_;
  EXPECT_TRUE(Check(pairs, out, {}, {{dir_ / "shain.cpy", "レイアウト"}})) << problem_;
}

TEST_F(OutputCheckTest, AFileWhoseNameAnotherNeedsAsAFolderIsRefused) {
  const std::string out = dir_ / "out";
  // Results of a source under a folder called index.html would need out/index.html as a folder.
  EXPECT_FALSE(Check(
      {Pair(dir_ / "old/index.html/a.txt", dir_ / "new/index.html/a.txt", "index.html/a.txt")},
      out));
  EXPECT_EQ(problem_, "★出力のファイルが別の出力のフォルダと同じ名前になります: " + out +
                          "/index.html（ジョブの一覧）");
}

TEST_F(OutputCheckTest, NothingIsWrittenInsideAFolderReadOrBesideAnInput) {
  const std::vector<JobPair> pairs = {Pair(dir_ / "old/a.txt", dir_ / "new/a.txt", "a.txt")};
  const std::vector<std::string> folders = {dir_ / "old", dir_ / "new"};
  EXPECT_FALSE(Check(pairs, dir_ / "old/out", folders));
  EXPECT_NE(problem_.find("★出力が比較するフォルダ " + dir_ / "old" + " の中に書かれます"),
            std::string::npos)
      << problem_;
  // Through "..", and through a link in the output folder that leads into the new folder.
  EXPECT_FALSE(Check(pairs, dir_ / "x/../new", folders));
  std::filesystem::create_directories(dir_ / "out");
  ASSERT_EQ(::symlink((dir_ / "new/sub").c_str(), (dir_ / "out/sub").c_str()), 0);
  EXPECT_FALSE(Check({Pair(dir_ / "old/sub/b.txt", dir_ / "new/sub/b.txt", "sub/b.txt")},
                     dir_ / "out", folders));
  EXPECT_NE(problem_.find(dir_ / "new"), std::string::npos) << problem_;
  // A list's pairs: not into the folder of one of its inputs.
  EXPECT_FALSE(Check(pairs, dir_ / "old"));
  EXPECT_NE(problem_.find("★出力が入力ファイルと同じフォルダに書かれます"), std::string::npos)
      << problem_;
  EXPECT_TRUE(Check(pairs, dir_ / "elsewhere", folders)) << problem_;
}

std::string Summary(const std::string& outcome, const std::string& extra = "") {
  return R"({"outcome":")" + outcome +
         R"(","status":"s","inputs":[{"path":"o/a.txt","lines":7,"sha256":"aa"},)"
         R"({"path":"n/a.txt","lines":9,"sha256":"bb"}],"outputs":[)"
         R"({"kind":0,"found":2},{"kind":1,"found":3},{"kind":2,"found":4},{"kind":5,"found":4}],)"
         R"("duplicates":[{"records":1,"keys":1},{"records":5,"keys":2}],)"
         R"("expected":{"pairs":6,"rules":[]})" +
         extra + "}";
}

TEST(PairRowTest, FiguresComeFromTheSummary) {
  PairRow row;
  std::string problem;
  ASSERT_TRUE(PairRowFromJson(
      Summary(
          "differences",
          R"(,"pair":{"relative":"sub/a.txt","profile":"社員","seconds":1.5,"report":"a_report.html"})"),
      "/out/sub/a_summary.json", "/out", "/out", row, problem))
      << problem;
  EXPECT_EQ(row.relative, "sub/a.txt");
  EXPECT_EQ(row.source, "o/a.txt");
  EXPECT_EQ(row.profile, "社員");
  EXPECT_EQ(row.verdict, Verdict::kDifferences);
  EXPECT_EQ(row.lines, (std::array<std::int64_t, 2>{7, 9}));
  EXPECT_EQ(row.unmatched, 5);
  EXPECT_EQ(row.differing, 4);
  EXPECT_EQ(row.expected, 6);
  EXPECT_EQ(row.duplicates, 6);
  EXPECT_EQ(row.sha256[1], "bb");
  EXPECT_EQ(row.report_link, "sub/a_report.html");
  // A dashboard elsewhere links back; without a relative path the summary's place gives it.
  ASSERT_TRUE(PairRowFromJson(Summary("failed", R"(,"pair":{"report":"a_report.html"})"),
                              "/out/sub/a_summary.json", "/out", "/all", row, problem));
  EXPECT_EQ(row.report_link, "../out/sub/a_report.html");
  EXPECT_EQ(row.relative, "sub/a.txt");
  EXPECT_EQ(row.verdict, Verdict::kFailed);
  EXPECT_FALSE(PairRowFromJson("[1]", "/x_summary.json", "/", "/", row, problem));
  EXPECT_EQ(problem, "★比較の要約（JSON）ではありません: /x_summary.json");
}

TEST(PairRowTest, RowsOrderByVerdictThenPath) {
  std::vector<PairRow> rows;
  const std::pair<const char*, const char*> made[] = {
      {"no-differences", "a"}, {"differences", "b"},         {"failed", "z"},
      {"not-run", "c"},        {"differences", "a"},         {"only-in-source", "0"},
      {"out-of-order", "y"},   {"expected-differences", "d"}};
  for (const auto& [outcome, path] : made) {
    PairRow row;
    row.outcome = outcome;
    row.verdict = VerdictOf(outcome);
    row.relative = path;
    rows.push_back(row);
  }
  SortRows(rows);
  std::string order;
  for (const PairRow& r : rows) order += r.relative + " ";
  EXPECT_EQ(order, "y z c a b 0 d a ");
  const JobTotals t = Totals(rows);
  EXPECT_EQ(JobOutcome(t), "stopped");
  EXPECT_EQ(JobVerdictText(t), "― 中止しました（8 組中 1 組は未実行）。3 組に差異があります");
  EXPECT_EQ(VerdictText("only-in-source"), "× 比較元のみ");
  EXPECT_EQ(VerdictText("refused"), "！ 失敗");
  EXPECT_EQ(VerdictText("expected-differences"), "△ 許容された差異のみ");
}

TEST(PairRowTest, JobVerdicts) {
  JobTotals t;
  t.pairs = 3;
  t.matching = 3;
  EXPECT_EQ(JobVerdictText(t), "○ 3 組すべて一致しました");
  EXPECT_EQ(JobOutcome(t), "no-differences");
  t.matching = 2;
  t.expected = 1;
  EXPECT_EQ(JobVerdictText(t), "○ 3 組すべて一致しました（うち 1 組は規則で許容された差異のみ）");
  t.expected = 0;
  t.one_side = 1;
  EXPECT_EQ(JobVerdictText(t), "× 3 組中 1 組に差異があります");
  EXPECT_EQ(JobOutcome(t), "differences");
  t.failed = 1;
  t.matching = 1;
  EXPECT_EQ(JobVerdictText(t), "！ 3 組中 1 組が失敗しました。1 組に差異があります");
  EXPECT_EQ(JobOutcome(t), "failed");
}

TEST(JobPagesTest, CsvKeepsTextsAsTextAndQuotesWhatItMust) {
  PairRow row;
  row.outcome = "differences";
  row.verdict = Verdict::kDifferences;
  row.relative = "=cmd,\"x\".txt";
  row.source = "-a";
  row.lines = {12, 3};
  row.seconds = 0.126;
  PairRow not_run;
  not_run.outcome = "not-run";
  not_run.verdict = Verdict::kNotRun;
  not_run.relative = "b";
  not_run.status = "未実行";
  const std::string csv = RenderJobCsv({row, not_run});
  ASSERT_TRUE(csv.starts_with("\xEF\xBB\xBF判定,結果,比較元の相対パス,"));
  const std::size_t second = csv.find("\r\n") + 2;
  EXPECT_EQ(csv.substr(second),
            "× 差異あり,differences,\"'=cmd,\"\"x\"\".txt\",'-a,,,12,3,0,0,0,0,,,0.13,,\r\n"
            "― 未実行,not-run,b,,,,,,,,,,,,,,未実行\r\n");
}

TEST(JobPagesTest, DashboardEscapesTextsAndLinksReports) {
  PairRow row;
  row.outcome = "differences";
  row.verdict = Verdict::kDifferences;
  row.relative = "<b>&.txt";
  row.report_link = "sub/a #1_report.html";
  const std::string page = RenderDashboardHtml({row}, DashboardInfo{});
  EXPECT_NE(page.find("&lt;b&gt;&amp;.txt"), std::string::npos);
  EXPECT_EQ(page.find("<b>&"), std::string::npos);
  EXPECT_NE(page.find(R"(<a href="sub/a%20%231_report.html">報告書</a>)"), std::string::npos);
  EXPECT_NE(page.find("× 1 組中 1 組に差異があります"), std::string::npos);
  EXPECT_NE(page.find(R"(<td class="v v-ng">× 差異あり</td>)"), std::string::npos);
  // Self-contained: nothing is loaded from anywhere.
  EXPECT_EQ(page.find("src="), std::string::npos);
  EXPECT_EQ(page.find("<link"), std::string::npos);
}

}  // namespace
}  // namespace vesmer
