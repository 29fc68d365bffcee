// vesmer-batch on many pairs: folders and lists, profiles, the checks before any pair runs, a
// pair that fails among others, a stop by signal, the rollup of separate runs, and the workbook
// as a real reader opens it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using nlohmann::json;
using testing::BatchProcess;
using testing::CrLf;
using testing::Exists;
using testing::FolderEntries;
using testing::ProcessResult;
using testing::ReadFile;
using testing::RunBatchExe;
using testing::RunProgram;
using testing::TempDir;
using testing::WriteFile;

namespace fs = std::filesystem;

class BatchJobsTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ / name; }
  void Write(const std::string& name, const std::string& bytes) const {
    fs::create_directories(fs::path(Path(name)).parent_path());
    WriteFile(Path(name), bytes);
  }
  // Old and new folders: a.txt differs in one pair, sub/deep/b.txt matches, c.log matches,
  // only-old.txt and sub/only-new.txt are on one side only.
  void WriteFolders() const {
    Write("old/a.txt", CrLf({"0001 aaa", "0002 bbb"}));
    Write("new/a.txt", CrLf({"0001 aaa", "0002 bbc"}));
    Write("old/sub/deep/b.txt", CrLf({"0001 x"}));
    Write("new/sub/deep/b.txt", CrLf({"0001 x"}));
    Write("old/c.log", CrLf({"l"}));
    Write("new/c.log", CrLf({"l"}));
    Write("old/only-old.txt", CrLf({"o"}));
    Write("new/sub/only-new.txt", CrLf({"n"}));
  }
  // The rows of summary.csv after its header, without the time taken (column 15).
  std::vector<std::string> CsvRows(const std::string& folder) const {
    const std::string csv = ReadFile(folder + "/summary.csv");
    std::vector<std::string> rows;
    std::size_t begin = csv.find("\r\n") + 2;
    while (begin < csv.size()) {
      const std::size_t end = csv.find("\r\n", begin);
      std::string row = csv.substr(begin, end - begin);
      // Columns never hold commas in these tests.
      std::vector<std::string> cells;
      std::size_t from = 0;
      for (std::size_t comma; (comma = row.find(',', from)) != std::string::npos;
           from = comma + 1) {
        cells.push_back(row.substr(from, comma - from));
      }
      cells.push_back(row.substr(from));
      cells.at(14) = "T";
      std::string joined;
      for (const std::string& c : cells) joined += (joined.empty() ? "" : ",") + c;
      rows.push_back(joined);
      begin = end + 2;
    }
    return rows;
  }
  TempDir dir_;
};

TEST_F(BatchJobsTest, FoldersPairNestedFilesAndListOneSideAsDifferences) {
  WriteFolders();
  const ProcessResult r = RunBatchExe({"--folders", Path("old"), Path("new"), "--output-dir",
                                       Path("out"), "-k", "1-4", "--json", "--jobs", "2"});
  ASSERT_EQ(r.exit_code, 1) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outcome"], "differences");
  EXPECT_EQ(j["status"], "× 5 組中 3 組に差異があります");
  EXPECT_EQ(j["totals"]["pairs"], 5);
  EXPECT_EQ(j["totals"]["differences"], 1);
  EXPECT_EQ(j["totals"]["one_side"], 2);
  EXPECT_EQ(j["totals"]["no_differences"], 2);
  // Every pair's entry is the single run's object, in the dashboard's order.
  ASSERT_EQ(j["pairs"].size(), 5u);
  EXPECT_EQ(j["pairs"][0]["outcome"], "differences");
  EXPECT_EQ(j["pairs"][0]["pair"]["relative"], "a.txt");
  EXPECT_EQ(j["pairs"][0]["outputs"][2]["path"], Path("out") + "/a_2.TXT");
  EXPECT_EQ(j["pairs"][1]["outcome"], "only-in-source");
  EXPECT_EQ(j["pairs"][2]["outcome"], "only-in-destination");
  EXPECT_EQ(j["pairs"][2]["pair"]["relative"], "sub/only-new.txt");
  EXPECT_EQ(j["pairs"][3]["pair"]["relative"], "c.log");
  EXPECT_EQ(j["pairs"][4]["pair"]["relative"], "sub/deep/b.txt");
  // Results under the source's relative path, with the names a single run gives them.
  EXPECT_EQ(ReadFile(Path("out/a_2.TXT")), CrLf({"0002 bbb"}));
  EXPECT_EQ(ReadFile(Path("out/a_3.TXT")), CrLf({"0002 bbc"}));
  EXPECT_EQ(ReadFile(Path("out/sub/deep/b_4.TXT")).empty(), false);
  EXPECT_TRUE(Exists(Path("out/sub/deep/b_report.html")));
  EXPECT_TRUE(Exists(Path("out/sub/only-new_summary.json")));
  EXPECT_FALSE(Exists(Path("out/only-old_0.TXT")));
  // Nothing beside the inputs.
  EXPECT_EQ(FolderEntries(Path("old")),
            (std::vector<std::string>{"a.txt", "c.log", "only-old.txt", "sub"}));
  EXPECT_EQ(FolderEntries(Path("new/sub")), (std::vector<std::string>{"deep", "only-new.txt"}));
  EXPECT_EQ(FolderEntries(Path("new/sub/deep")), (std::vector<std::string>{"b.txt"}));
  const std::vector<std::string> rows = CsvRows(Path("out"));
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_TRUE(rows[0].starts_with("× 差異あり,differences,a.txt," + Path("old/a.txt") + "," +
                                  Path("new/a.txt") + ",,2,2,0,1,0,0,"))
      << rows[0];
  EXPECT_EQ(rows[1], "× 比較元のみ,only-in-source,only-old.txt," + Path("old/only-old.txt") + "," +
                         Path("new/only-old.txt") + ",,,,,,,,,,T,,☆比較元にだけあります");
  const std::string page = ReadFile(Path("out/index.html"));
  EXPECT_NE(page.find("× 5 組中 3 組に差異があります"), std::string::npos);
  EXPECT_NE(page.find(R"(<a href="sub/deep/b_report.html">)"), std::string::npos);
}

TEST_F(BatchJobsTest, IncludeAndExcludeChooseTheFilesOfFolders) {
  WriteFolders();
  const ProcessResult r =
      RunBatchExe({"--folders", Path("old"), Path("new"), "--output-dir", Path("out"), "--include",
                   "*.txt", "--exclude", "only-*", "--exclude", "a.*", "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const json j = json::parse(r.out);
  ASSERT_EQ(j["pairs"].size(), 1u);
  EXPECT_EQ(j["pairs"][0]["pair"]["relative"], "sub/deep/b.txt");
  EXPECT_EQ(j["status"], "○ 1 組すべて一致しました");
  EXPECT_FALSE(Exists(Path("out/a_summary.json")));
}

// Lines compared in order differ; keyed on columns 1-4 they match (a record inserted on one
// side is then a record without a partner, not a shift of every line after it).
TEST_F(BatchJobsTest, ProfilesAreChosenByNameAndByGlob) {
  Write("old/K1.DAT", CrLf({"0001 a", "0003 c"}));
  Write("new/K1.DAT", CrLf({"0001 a", "0003 c"}));
  Write("old/plain.txt", CrLf({"0001 a", "0003 c"}));
  Write("new/plain.txt", CrLf({"0001 a", "0002 b", "0003 c"}));
  Write("old/named.txt", CrLf({"0001 a", "0003 c"}));
  Write("new/named.txt", CrLf({"0001 a", "0002 b", "0003 c"}));
  Write("pairs.txt",
        "# 比較元,比較先,プロファイル\n"
        "old/K1.DAT,new/K1.DAT\n"
        "old/plain.txt,new/plain.txt\n"
        "old/named.txt,new/named.txt,キー\n");
  Write("profiles.ini",
        "[キー]\n-k 1-4\n"
        "[K*.DAT]\n--key 1-4 -o 5\n"
        "[plain.txt]\n-k 1-4\n");
  const ProcessResult r =
      RunBatchExe({"--pairs", Path("pairs.txt"), "--profiles", Path("profiles.ini"), "--output-dir",
                   Path("out"), "--json"});
  ASSERT_EQ(r.exit_code, 1) << r.err;
  // A section named like a file is a name, not a pattern: no pair takes it, and that is said.
  EXPECT_EQ(r.err,
            "vesmer-batch: 警告: プロファイル [plain.txt] はどの組にも使われていません（組の一覧で"
            "名前を書いた組か、[*.DAT] のように * ? [ を含む名前のパターンに合う組が使います）\n");
  const json j = json::parse(r.out);
  ASSERT_EQ(j["pairs"].size(), 3u);
  std::map<std::string, json> by_path;
  for (const json& p : j["pairs"]) by_path[p["pair"]["relative"]] = p;
  // By glob: keyed, only result file 5 chosen (0 and 1 always go with a key).
  EXPECT_EQ(by_path["old/K1.DAT"]["pair"]["profile"], "K*.DAT");
  EXPECT_EQ(by_path["old/K1.DAT"]["outcome"], "no-differences");
  EXPECT_EQ(by_path["old/K1.DAT"]["outputs"][4]["selected"], false);
  EXPECT_EQ(by_path["old/K1.DAT"]["outputs"][0]["selected"], true);
  // No profile: line by line, the inserted line shifts the rest.
  EXPECT_EQ(by_path["old/plain.txt"].contains("profile"), false);
  EXPECT_EQ(by_path["old/plain.txt"]["outcome"], "differences");
  EXPECT_EQ(by_path["old/plain.txt"]["outputs"][0]["selected"], false);
  // By name: keyed, the inserted record is on one side only.
  EXPECT_EQ(by_path["old/named.txt"]["pair"]["profile"], "キー");
  EXPECT_EQ(by_path["old/named.txt"]["outputs"][1]["found"], 1);
  EXPECT_EQ(ReadFile(Path("out/old/named_1.TXT")), CrLf({"0002 b"}));
}

TEST_F(BatchJobsTest, AProfileErrorIsAUsageErrorBeforeAnyPairRuns) {
  WriteFolders();
  const std::pair<std::string, std::string> cases[] = {
      {"[ok]\n-k 1-4\n[bad]\n--ky 1-4\n",
       "vesmer-batch: プロファイル [bad]（" + Path("p.ini") +
           " の 3 行目）: 不明なオプションです: --ky（もしかして --key？）\n"},
      {"[*.txt]\n--output-dir x\n",
       "vesmer-batch: プロファイル [*.txt]（" + Path("p.ini") +
           " の 1 行目）: プロファイルにはジョブのオプション（--pairs、--folders、--output-dir、"
           "--jobs、--profiles、--include、--exclude、--summary-xlsx、--rollup）と --json、"
           "--quiet、--help、--version、--print-layout を書けません\n"},
      {"[*.txt]\n--report r.html\n",
       "vesmer-batch: プロファイル [*.txt]（" + Path("p.ini") +
           " の 1 行目）: --report は --pairs や --folders と一緒には使えません（各組の報告書と"
           "要約は --output-dir の下に書きます）\n"},
  };
  for (const auto& [profile, message] : cases) {
    Write("p.ini", profile);
    const ProcessResult r = RunBatchExe({"--folders", Path("old"), Path("new"), "--profiles",
                                         Path("p.ini"), "--output-dir", Path("out")});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, message);
    EXPECT_FALSE(Exists(Path("out")));
  }
  // A name the list gives that no section has.
  Write("pairs.txt", "old/a.txt,new/a.txt,給与\n");
  Write("p.ini", "[ok]\n-k 1-4\n");
  const ProcessResult r = RunBatchExe(
      {"--pairs", Path("pairs.txt"), "--profiles", Path("p.ini"), "--output-dir", Path("out")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "★プロファイル 給与 がありません（" + Path("pairs.txt") + " の 1 行目）\n");
  EXPECT_FALSE(Exists(Path("out")));
}

TEST_F(BatchJobsTest, APairThatFailsFailsAloneAndTheOthersRun) {
  WriteFolders();
  fs::create_directories(Path("lists"));
  // Relative paths count from the list's folder.
  Write("lists/pairs.txt",
        "../old/a.txt,../new/a.txt\n"
        "../old/missing.txt,../new/a.txt\n"
        "../old/sub/deep/b.txt,../new/sub/deep/b.txt\n");
  const ProcessResult r =
      RunBatchExe({"--pairs", Path("lists/pairs.txt"), "--output-dir", Path("out"), "--json"});
  ASSERT_EQ(r.exit_code, 2) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outcome"], "failed");
  EXPECT_EQ(j["status"], "！ 3 組中 1 組が失敗しました。1 組に差異があります");
  ASSERT_EQ(j["pairs"].size(), 3u);
  // The single run's own failure: the file it could not open.
  EXPECT_EQ(j["pairs"][0]["outcome"], "failed");
  EXPECT_EQ(j["pairs"][0]["error"]["path"], Path("old/missing.txt"));
  // Outside the list's folder: under the absolute path.
  const std::string under = fs::path(Path("old")).relative_path().string();
  EXPECT_EQ(j["pairs"][0]["pair"]["relative"], under + "/missing.txt");
  EXPECT_EQ(j["pairs"][1]["outcome"], "differences");
  EXPECT_EQ(j["pairs"][2]["outcome"], "no-differences");
  EXPECT_EQ(ReadFile(Path("out/" + under + "/a_2.TXT")), CrLf({"0002 bbb"}));
  EXPECT_NE(r.err.find("vesmer-batch: " + under + "/missing.txt: ★"), std::string::npos) << r.err;
  EXPECT_NE(ReadFile(Path("out/index.html")).find("！ 失敗"), std::string::npos);
}

TEST_F(BatchJobsTest, TwoPairsClaimingOneOutputAreRefusedBeforeAnyRuns) {
  WriteFolders();
  Write("old/a.csv", CrLf({"x"}));
  Write("pairs.txt", "old/a.txt,new/a.txt\nold/a.csv,new/a.txt\n");
  const ProcessResult r =
      RunBatchExe({"--pairs", Path("pairs.txt"), "--output-dir", Path("out"), "--json"});
  EXPECT_EQ(r.exit_code, 2);
  const std::string message = "★二つの出力が同じファイルになります: " + Path("out") +
                              "/old/a_summary.json（組 old/a.txt（" + Path("pairs.txt") +
                              " の 1 行目） と 組 old/a.csv（" + Path("pairs.txt") +
                              " の 2 行目））";
  EXPECT_EQ(json::parse(r.out), (json{{"outcome", "refused"}, {"status", message}}));
  EXPECT_EQ(r.err, message + "\n");
  EXPECT_FALSE(Exists(Path("out")));
  // An output folder inside a folder the job reads.
  const ProcessResult inside = RunBatchExe(
      {"--folders", Path("old"), Path("new"), "--output-dir", Path("new/sub/../results")});
  EXPECT_EQ(inside.exit_code, 2);
  EXPECT_NE(inside.err.find("★出力が比較するフォルダ " + Path("new") + " の中に書かれます"),
            std::string::npos)
      << inside.err;
  EXPECT_FALSE(Exists(Path("new/results")));
}

TEST_F(BatchJobsTest, NoPageOfAJobReplacesAFileItReads) {
  WriteFolders();
  Write("p.ini", "[*.txt]\n--layout lay.csv\n");
  Write("lay.csv", "番号,1,4,X\n");
  Write("pairs.txt", "old/a.txt,new/a.txt\n");
  const std::string profiles = ReadFile(Path("p.ini")), layout = ReadFile(Path("lay.csv"));
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"--folders", Path("old"), Path("new"), "--profiles", Path("p.ini"), "--summary-xlsx",
        Path("p.ini")},
       "（プロファイル）と同じになります: " + Path("p.ini")},
      {{"--pairs", Path("pairs.txt"), "--summary-xlsx", Path("pairs.txt")},
       "（組の一覧）と同じになります: " + Path("pairs.txt")},
      {{"--pairs", Path("pairs.txt"), "--layout", Path("lay.csv"), "--summary-xlsx",
        Path("lay.csv")},
       "（レイアウト）と同じになります: " + Path("lay.csv")},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--output-dir", Path("out")});
    const ProcessResult r = RunBatchExe(args);
    EXPECT_EQ(r.exit_code, 2) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(Path("out")));
  }
  EXPECT_EQ(ReadFile(Path("p.ini")), profiles);
  EXPECT_EQ(ReadFile(Path("lay.csv")), layout);
  // A rollup never writes over a summary it reads.
  ASSERT_EQ(RunBatchExe({"--pairs", Path("pairs.txt"), "--output-dir", Path("out")}).exit_code, 1);
  const std::string summary = ReadFile(Path("out/old/a_summary.json"));
  const ProcessResult r =
      RunBatchExe({"--rollup", Path("out"), "--summary-xlsx", Path("out/old/a_summary.json")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "★出力がまとめる要約の JSON と同じファイルになります: " +
                       Path("out/old/a_summary.json") + "\n");
  EXPECT_EQ(ReadFile(Path("out/old/a_summary.json")), summary);
}

TEST_F(BatchJobsTest, JobOptionsThatDoNotGoTogetherAreUsageErrors) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--folders", "a", "b"}, "--pairs と --folders には --output-dir が必要です"},
      {{"--folders", "a", "b", "--pairs", "p", "--output-dir", "o"},
       "--pairs、--folders、--rollup は、どれか一つだけを指定してください"},
      {{"--pairs", "p", "--output-dir", "o", "x.txt"},
       "--pairs、--folders、--rollup では比較元と比較先を指定しません: x.txt"},
      {{"--pairs", "p", "--output-dir", "o", "--jobs", "0"},
       "--jobs には 1～1024 の数を指定してください: 0"},
      {{"--jobs", "2", "a", "b"}, "--jobs は --pairs か --folders と一緒に指定してください"},
      {{"--include", "*.txt", "a", "b"},
       "--include と --exclude は --folders と一緒に指定してください"},
      {{"--folders", "a", "b", "--output-dir", "o", "--utf8-source"},
       "--utf8-source は --pairs や --folders と一緒には使えません（UTF-8 の入力は --format "
       "lines,utf-8 のように形式で指定してください）"},
  };
  for (const auto& [args, message] : cases) {
    const ProcessResult r = RunBatchExe(args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "vesmer-batch: " + message);
  }
}

// A signal stops the pairs running as a single run stops, and the pairs waiting are listed as
// not run.
TEST_F(BatchJobsTest, ASignalStopsRunningPairsAndListsThoseWaiting) {
  // A first pair large enough to be running when the signal comes, then small ones waiting.
  std::string big;
  for (int i = 0; i < 2'000'000; ++i) big += "00000000 some record of the file\r\n";
  Write("old/a.txt", big);
  Write("new/a.txt", big);
  for (const char* name : {"b.txt", "c.txt", "d.txt"}) {
    Write(std::string("old/") + name, CrLf({"x"}));
    Write(std::string("new/") + name, CrLf({"x"}));
  }
  for (const int signal_number : {SIGINT, SIGTERM}) {
    fs::remove_all(Path("out"));
    BatchProcess batch({"--folders", Path("old"), Path("new"), "--output-dir", Path("out"),
                        "--jobs", "1", "--json"});
    ASSERT_TRUE(batch.WaitUntilCatching(signal_number));
    // The first pair has emptied its result files: it is comparing.
    for (int i = 0; i < 2000 && !Exists(Path("out/a_5.TXT")); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(Exists(Path("out/a_5.TXT")));
    batch.Signal(signal_number);
    const ProcessResult r = batch.Wait();
    EXPECT_EQ(r.exit_code, 128 + signal_number) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "stopped");
    ASSERT_EQ(j["pairs"].size(), 4u);
    EXPECT_EQ(j["pairs"][0]["outcome"], "stopped");
    EXPECT_EQ(j["pairs"][0]["outputs"][4]["complete"], false);
    for (std::size_t i = 1; i < 4; ++i) {
      EXPECT_EQ(j["pairs"][i]["outcome"], "not-run");
      EXPECT_EQ(j["pairs"][i]["status"], "未実行");
    }
    EXPECT_EQ(j["status"], "― 中止しました（4 組中 3 組は未実行）");
    EXPECT_FALSE(Exists(Path("out/b_0.TXT")));
    const std::string page = ReadFile(Path("out/index.html"));
    EXPECT_NE(page.find("― 未実行"), std::string::npos);
    EXPECT_NE(page.find("― 中止"), std::string::npos);
  }
}

// Pairs run in separate jobs (as on several machines) and rolled up give the pages one job
// gives.
TEST_F(BatchJobsTest, RollupOfSeparateRunsEqualsTheDashboardOfOneJob) {
  WriteFolders();
  Write("all.txt",
        "old/a.txt,new/a.txt\nold/c.log,new/c.log\nold/sub/deep/b.txt,new/sub/deep/b.txt\n");
  Write("part1.txt", "old/a.txt,new/a.txt\n");
  Write("part2.txt", "old/c.log,new/c.log\nold/sub/deep/b.txt,new/sub/deep/b.txt\n");
  ASSERT_EQ(RunBatchExe({"--pairs", Path("all.txt"), "--output-dir", Path("one")}).exit_code, 1);
  ASSERT_EQ(RunBatchExe({"--pairs", Path("part1.txt"), "--output-dir", Path("parts")}).exit_code,
            1);
  ASSERT_EQ(RunBatchExe({"--pairs", Path("part2.txt"), "--output-dir", Path("parts")}).exit_code,
            0);
  const ProcessResult r = RunBatchExe({"--rollup", Path("parts"), "--json"});
  ASSERT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(json::parse(r.out)["totals"]["pairs"], 3);
  EXPECT_EQ(CsvRows(Path("parts")), CsvRows(Path("one")));
  // The pages, but for when and how each was made and the time each pair took.
  const auto page = [&](const std::string& folder) {
    std::string text = ReadFile(folder + "/index.html");
    text = std::regex_replace(text, std::regex("<div class=\"meta[^\n]*\n"), "");
    return std::regex_replace(text, std::regex("<td class=\"n\">[0-9]+\\.[0-9]{2}</td>"), "");
  };
  EXPECT_EQ(page(Path("parts")), page(Path("one")));
  // Rolled up elsewhere, the links lead back to the reports.
  ASSERT_EQ(RunBatchExe({"--rollup", Path("parts"), "--output-dir", Path("all")}).exit_code, 1);
  EXPECT_NE(ReadFile(Path("all/index.html")).find(R"(href="../parts/old/a_report.html")"),
            std::string::npos);
}

// The workbook read back by openpyxl: sheets, cells, fills, frozen headers, and texts that look
// like numbers or dates kept as texts.
TEST_F(BatchJobsTest, WorkbookOpensInARealReader) {
  const std::string python = "/usr/bin/python3";
  if (RunProgram(python, {"-c", "import openpyxl"}).exit_code != 0) {
    GTEST_SKIP() << "python3-openpyxl is not installed (scripts/install-deps.sh installs it)";
  }
  Write("lay.csv", "番号,1,3,X\n日付,5,10,X\n氏名,16,4,N\n");
  // 山田 and 佐藤 in code page 932.
  const std::string yamada = "\x8E\x52\x93\x63", sato = "\x8D\xB2\x93\xA1";
  Write("old/s.txt", CrLf({"001 2024-01-01 " + yamada, "002 2024-02-01 " + sato}));
  Write("new/s.txt", CrLf({"001 2024-01-02 " + yamada, "002 2024-02-01 " + sato}));
  Write("old/t.txt", CrLf({"001 2024-01-01 " + yamada}));
  Write("new/t.txt", CrLf({"001 2024-01-01 " + yamada}));
  const ProcessResult r =
      RunBatchExe({"--folders", Path("old"), Path("new"), "--output-dir", Path("out"), "--layout",
                   Path("lay.csv"), "--key-fields", "番号", "--summary-xlsx", Path("book.xlsx")});
  ASSERT_EQ(r.exit_code, 1) << r.err;
  const std::string script = R"(
import json, sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
out = {"sheets": wb.sheetnames}
for ws in wb.worksheets:
    out[ws.title] = {"freeze": ws.freeze_panes, "width_b": ws.column_dimensions["B"].width,
        "cells": [[[c.value, c.data_type, c.fill.fgColor.rgb if c.fill.fill_type else None]
                   for c in row] for row in ws.iter_rows()]}
print(json.dumps(out, ensure_ascii=False))
)";
  const ProcessResult read = RunProgram(python, {"-c", script, Path("book.xlsx")});
  ASSERT_EQ(read.exit_code, 0) << read.err;
  const json book = json::parse(read.out);
  ASSERT_EQ(book["sheets"], (json{"一覧", "1 s.txt"}));
  const json& list = book["一覧"];
  EXPECT_EQ(list["freeze"], "A2");
  EXPECT_GT(list["width_b"].get<double>(), 20);
  EXPECT_EQ(list["cells"][0][0][0], "判定");
  EXPECT_EQ(list["cells"][0][0][2], "FFE8EDF3");
  // Rows in the dashboard's order: the differing pair first, red; the matching one green.
  EXPECT_EQ(list["cells"][1][0], (json{"× 差異あり", "s", "FFFDECEA"}));
  EXPECT_EQ(list["cells"][1][1][0], "s.txt");
  EXPECT_EQ(list["cells"][1][5], (json{2, "n", nullptr}));  // a count is a number
  EXPECT_EQ(list["cells"][1][15][0], "1 s.txt");
  EXPECT_EQ(list["cells"][2][0], (json{"○ 一致", "s", "FFE8F5E9"}));
  const json& detail = book["1 s.txt"];
  EXPECT_EQ(detail["freeze"], "A3");
  EXPECT_EQ(detail["cells"][0][1][0], "s.txt");
  ASSERT_EQ(detail["cells"].size(), 5u);  // the path, the header, three fields of one pair
  const json& number = detail["cells"][2];
  EXPECT_EQ(number[3], (json{"001", "s", nullptr}));  // the key, a text
  EXPECT_EQ(number[4], (json{"番号", "s", nullptr}));
  EXPECT_EQ(number[5], (json{"001", "s", nullptr}));
  const json& date = detail["cells"][3];
  EXPECT_EQ(date[4], (json{"日付", "s", "FFFFD54F"}));  // the differing field, shaded
  EXPECT_EQ(date[5], (json{"2024-01-01", "s", "FFFFD54F"}));
  EXPECT_EQ(date[6], (json{"2024-01-02", "s", "FFFFD54F"}));
  EXPECT_EQ(detail["cells"][4][5], (json{"山田", "s", nullptr}));
}

}  // namespace
}  // namespace vesmer
