// What a run of vesmer-batch tells a script: no file the run reads is ever written, a file that
// changes under the run fails it, and the outcome, the status and every output's state say what
// happened, also when an extra output fails or a signal comes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/messages.h"
#include "platform/sha256.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using nlohmann::json;
using testing::CrLf;
using testing::Exists;
using testing::ProcessResult;
using testing::ReadFile;
using testing::RunBatchExe;
using testing::TempDir;
using testing::WriteFile;

class BatchOutcomeTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ / name; }

  // Two inputs keyed on columns 1-4 that differ in field 値 of one pair, with a layout that
  // names the fields and rules that accept every difference of 値.
  void WriteKeyedPair() {
    WriteFile(Path("a.prn"), CrLf({"0001 aaa", "0002 bbb", "0003 ccc"}));
    WriteFile(Path("b.prn"), CrLf({"0001 aaa", "0002 bbc", "0003 ccc"}));
    WriteFile(Path("lay.csv"), "キー,1,4\n値,6,3\n");
    WriteFile(Path("rules.csv"), "値,無視\n");
    WriteFile(Path("s.ini"), "[vesmer]\r\nOutputData=001111\r\n");
  }

  TempDir dir_;
};

// Every file the run reads is refused as an output of every kind, by its name as given, by
// another spelling of it, through a symbolic link and through a hard link, before any file is
// touched.
TEST_F(BatchOutcomeTest, NoOutputIsAFileTheRunReads) {
  WriteKeyedPair();
  ASSERT_EQ(::symlink(Path("lay.csv").c_str(), Path("lay.link").c_str()), 0);
  ASSERT_EQ(::link(Path("rules.csv").c_str(), Path("rules.hard").c_str()), 0);
  ASSERT_EQ(::link(Path("b.prn").c_str(), Path("b.hard").c_str()), 0);
  const std::vector<std::string> reads = {"--layout",        Path("lay.csv"), "--rules",
                                          Path("rules.csv"), "--settings",    Path("s.ini"),
                                          "--key-fields",    "キー"};
  struct Case {
    std::string option, path, read;
  };
  const std::string dot = dir_.path() + "/./";
  const std::vector<Case> cases = {
      {"--report", Path("lay.csv"), "lay.csv"},
      {"--summary-csv", dot + "lay.csv", "lay.csv"},
      {"--duplicates", Path("lay.link"), "lay.csv"},
      {"--expected", Path("rules.hard"), "rules.csv"},
      {"--report", Path("s.ini"), "s.ini"},
      {"--summary-csv", Path("rules.csv"), "rules.csv"},
      {"--duplicates", Path("s.ini"), "s.ini"},
      {"--report", Path("b.hard"), "b.prn"},
      {"--expected", Path("a.prn"), "a.prn"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = reads;
    args.insert(args.end(), {"--json", c.option, c.path, Path("a.prn"), Path("b.prn")});
    const std::string before = ReadFile(Path(c.read));
    const ProcessResult r = RunBatchExe(args);
    EXPECT_EQ(r.exit_code, 2) << c.option << " " << c.path;
    ASSERT_FALSE(r.out.empty()) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "failed");
    EXPECT_EQ(j["status"], messages::kCannotOpen);
    EXPECT_EQ(j["error"]["path"], c.path);
    EXPECT_EQ(r.err, std::string(messages::kCannotOpen) + "\n" + c.path + ": " +
                         j["error"]["reason"].get<std::string>() + "\n");
    EXPECT_EQ(ReadFile(Path(c.read)), before) << c.option << " " << c.path;
    EXPECT_FALSE(Exists(Path("a_2.TXT"))) << "a result file was touched";
  }
  // A layout or rules file that bears the name of a result file is no result file.
  WriteFile(Path("a_4.TXT"), "キー,1,4\n値,6,3\n");
  WriteFile(Path("a_5.TXT"), "値,無視\n");
  for (const auto& [layout, rules] : {std::pair{"a_4.TXT", "rules.csv"}, {"lay.csv", "a_5.TXT"}}) {
    const std::string named = std::string(layout) == "a_4.TXT" ? "a_4.TXT" : "a_5.TXT";
    const std::string before = ReadFile(Path(named));
    const ProcessResult r = RunBatchExe({"--json", "--layout", Path(layout), "--key-fields", "キー",
                                         "--rules", Path(rules), Path("a.prn"), Path("b.prn")});
    EXPECT_EQ(r.exit_code, 2) << named;
    ASSERT_FALSE(r.out.empty()) << r.err;
    EXPECT_EQ(json::parse(r.out)["error"]["path"], Path(named));
    EXPECT_EQ(ReadFile(Path(named)), before);
    EXPECT_FALSE(Exists(Path("a_2.TXT")));
  }
  // Two outputs of one file are refused too.
  const ProcessResult r = RunBatchExe({"--json", "--report", Path("r.html"), "--summary-csv",
                                       dot + "r.html", Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(json::parse(r.out)["error"]["reason"], "報告書と同じファイルです");
  EXPECT_FALSE(Exists(Path("r.html")));
}

// The destination is truncated while the source still comes through a pipe: what was compared
// is neither file, so the run fails, names it, and no hash of it is given.
TEST_F(BatchOutcomeTest, AnInputThatChangesDuringTheRunFailsIt) {
  std::string lines;
  for (int i = 0; i < 2000; ++i) lines += std::to_string(100000 + i) + " record\r\n";
  WriteFile(Path("b.prn"), lines);
  ASSERT_EQ(::mkfifo(Path("a.fifo").c_str(), 0600), 0);
  testing::BatchProcess batch(
      {"--json", "--report", Path("r.html"), Path("a.fifo"), Path("b.prn")});
  const int fifo = ::open(Path("a.fifo").c_str(), O_WRONLY);
  ASSERT_GE(fifo, 0);
  const std::string first = lines.substr(0, 1000);
  ASSERT_EQ(::write(fifo, first.data(), first.size()), static_cast<ssize_t>(first.size()));
  // Once the result files are there, the run has opened both inputs.
  for (int i = 0; i < 10000 && !Exists(Path("a_5.TXT")); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(Exists(Path("a_5.TXT")));
  ASSERT_EQ(::truncate(Path("b.prn").c_str(), 500), 0);
  const std::string rest = lines.substr(1000) + "999999 only in the source\r\n";
  ASSERT_EQ(::write(fifo, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
  ::close(fifo);
  const ProcessResult r = batch.Wait();
  EXPECT_EQ(r.exit_code, 2);
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outcome"], "failed");
  EXPECT_EQ(j["status"], messages::kInputChanged);
  EXPECT_EQ(j["error"]["path"], Path("b.prn"));
  EXPECT_FALSE(j["inputs"][1].contains("sha256"));
  EXPECT_NE(r.err.find(Path("b.prn") + ": "), std::string::npos) << r.err;
  // The report tells the failure and holds no hash of the changed file.
  const std::string report = ReadFile(Path("r.html"));
  EXPECT_NE(report.find(messages::kInputChanged), std::string::npos);
  EXPECT_EQ(report.find(Sha256Hex(lines)), std::string::npos);
  EXPECT_EQ(report.find(Sha256Hex(lines.substr(0, 500))), std::string::npos);
}

// A report or CSV that cannot be written fails the run in every word it says.
TEST_F(BatchOutcomeTest, AFailedExtraOutputIsAFailedRun) {
  WriteFile(Path("a.prn"), CrLf({"same"}));
  WriteFile(Path("b.prn"), CrLf({"same"}));
  ASSERT_EQ(::mkdir(Path("folder").c_str(), 0755), 0);
  for (const char* option : {"--report", "--summary-csv"}) {
    const ProcessResult r =
        RunBatchExe({"--json", option, Path("folder"), Path("a.prn"), Path("b.prn")});
    EXPECT_EQ(r.exit_code, 2) << option;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "failed") << option;
    EXPECT_EQ(j["error"]["path"], Path("folder"));
    EXPECT_EQ(j["error"]["reason"], "フォルダです");
    ASSERT_EQ(j["extra_outputs"].size(), 1u);
    EXPECT_FALSE(j["extra_outputs"][0]["written"].get<bool>());
  }
  // A full disk for the report: the result files are small enough, the page is not.
  const ProcessResult r = RunBatchExe({"--json", "--report", Path("r.html"), "--summary-csv",
                                       Path("s.csv"), Path("a.prn"), Path("b.prn")},
                                      {.file_size = 4000});
  EXPECT_EQ(r.exit_code, 2);
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outcome"], "failed");
  EXPECT_EQ(j["error"]["path"], Path("r.html"));
  EXPECT_FALSE(j["extra_outputs"][0]["written"].get<bool>());
  EXPECT_FALSE(j["extra_outputs"][1]["written"].get<bool>());  // not written after the failure
  EXPECT_FALSE(Exists(Path("r.html")));
  EXPECT_FALSE(Exists(Path("s.csv")));
  EXPECT_TRUE(j["outputs"][0]["written"].get<bool>());
}

// Stopped while it sorts, a run has written nothing: it says so, and the results of the run
// before are still there.
TEST_F(BatchOutcomeTest, ARunStoppedBeforeItWritesSaysSo) {
  WriteFile(Path("a.prn"), CrLf({"2", "1"}));
  WriteFile(Path("a_4.TXT"), "earlier results\r\n");
  ASSERT_EQ(::mkfifo(Path("b.fifo").c_str(), 0600), 0);
  for (const bool as_json : {true, false}) {
    std::vector<std::string> args = {"-k", "1-1", "--sort", Path("a.prn"), Path("b.fifo")};
    if (as_json) args.insert(args.begin(), "--json");
    testing::BatchProcess batch(args);
    const int fifo = ::open(Path("b.fifo").c_str(), O_WRONLY);
    ASSERT_GE(fifo, 0);
    ASSERT_EQ(::write(fifo, "1\r\n", 3), 3);
    ASSERT_TRUE(batch.WaitUntilCatching(SIGINT));
    batch.Signal(SIGINT);
    const ProcessResult r = batch.Wait();
    ::close(fifo);
    EXPECT_EQ(r.exit_code, 130);
    EXPECT_EQ(ReadFile(Path("a_4.TXT")), "earlier results\r\n");
    if (as_json) {
      const json j = json::parse(r.out);
      EXPECT_EQ(j["outcome"], "stopped");
      for (const json& o : j["outputs"]) {
        if (!o["selected"].get<bool>()) continue;
        EXPECT_FALSE(o["written"].get<bool>()) << o.dump();
        EXPECT_FALSE(o["complete"].get<bool>()) << o.dump();
      }
    } else {
      EXPECT_NE(r.out.find("結果ファイルには書き込んでいません（前のままです）"), std::string::npos)
          << r.out;
      EXPECT_EQ(r.out.find(" 0  " + Path("a_4.TXT")), std::string::npos) << r.out;
    }
  }
}

// A signal while the report is made stops the run as anywhere else. The report is then left as
// it was, or says itself that the run was stopped, or (the signal came as it was done) is whole
// and marked as not complete.
TEST_F(BatchOutcomeTest, ASignalWhileTheReportIsWrittenStopsTheRun) {
  std::string a, b;
  for (int i = 0; i < 60000; ++i) {
    const std::string key = std::to_string(1000000 + i);
    a += key + " left  some text to make the report long\r\n";
    b += key + " right some text to make the report long\r\n";
  }
  WriteFile(Path("a.prn"), a);
  WriteFile(Path("b.prn"), b);
  const std::vector<std::string> args = {"--json",   "-o",           "35",
                                         "--report", Path("r.html"), "--report-pairs",
                                         "60000",    Path("a.prn"),  Path("b.prn")};
  ASSERT_EQ(RunBatchExe(args).exit_code, 1);
  const off_t list_size = static_cast<off_t>(ReadFile(Path("a_5.TXT")).size());
  WriteFile(Path("r.html"), "the report before");
  for (const int sig : {SIGINT, SIGTERM}) {
    ASSERT_EQ(::unlink(Path("a_5.TXT").c_str()), 0);  // so that the new one is waited for
    testing::BatchProcess batch(args);
    ASSERT_TRUE(batch.WaitUntilCatching(sig));
    // Once the result list is whole, the run is at its end or making the report.
    struct stat st {};
    for (int i = 0; i < 20000; ++i) {
      if (::stat(Path("a_5.TXT").c_str(), &st) == 0 && st.st_size == list_size) break;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    batch.Signal(sig);
    const ProcessResult r = batch.Wait();
    EXPECT_EQ(r.exit_code, 128 + sig);
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "stopped");
    const std::string report = ReadFile(Path("r.html"));
    EXPECT_TRUE(report == "the report before" ||
                report.find("class=\"verdict v-halt\"") != std::string::npos);
    ASSERT_EQ(j.value("extra_outputs", json::array()).size(), 1u) << r.out;
    EXPECT_FALSE(j["extra_outputs"][0]["complete"].get<bool>());
  }
}

// Differences that the rules accept all are expected differences, not none; found and not
// written, they are named after the window's status.
TEST_F(BatchOutcomeTest, TheOutcomeSaysWhatWasFound) {
  WriteKeyedPair();
  ProcessResult r = RunBatchExe({"--json", "--layout", Path("lay.csv"), "--key-fields", "キー",
                                 "--rules", Path("rules.csv"), "--report", Path("r.html"),
                                 "--summary-csv", Path("s.csv"), Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 0);
  json j = json::parse(r.out);
  const std::string accepted = "☆差異は 1 組ありましたが、すべて規則で許容されました";
  EXPECT_EQ(j["outcome"], "expected-differences");
  EXPECT_EQ(j["status"], accepted);
  EXPECT_NE(ReadFile(Path("r.html")).find("<span class=\"sym\">△</span>許容された差異のみ"),
            std::string::npos);
  EXPECT_NE(ReadFile(Path("s.csv")).find("結果,expected-differences"), std::string::npos);
  r = RunBatchExe({"--layout", Path("lay.csv"), "--key-fields", "キー", "--rules",
                   Path("rules.csv"), Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.out.rfind(accepted + "\n", 0), 0u) << r.out;

  // -o 4: the window's status stands, and the line after it says what was not written.
  const std::string note = "差異のある組が 1 組ありましたが、その結果ファイルは出力しない設定です";
  r = RunBatchExe({"--json", "-o", "4", Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 1);
  j = json::parse(r.out);
  EXPECT_EQ(j["status"], messages::kCompletedNoDifferences);
  EXPECT_EQ(j["note"], note);
  r = RunBatchExe({"-o", "4", Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.out.rfind(std::string(messages::kCompletedNoDifferences) + "\n" + note + "\n", 0), 0u)
      << r.out;
  // Nothing to put right when everything found was written.
  r = RunBatchExe({"--json", "-o", "4", Path("a.prn"), Path("a.prn")});
  EXPECT_FALSE(json::parse(r.out).contains("note"));
}

// The report opens with its verdict and lists the records without a partner, numbered with
// their lines, as the result files hold them.
TEST_F(BatchOutcomeTest, TheReportListsRecordsWithoutAPartner) {
  WriteFile(Path("a.prn"), CrLf({"0001 aaa", "0002 only in the source", "0003 ccc"}));
  WriteFile(Path("b.prn"), CrLf({"0001 aaa", "0003 ccc", "0004 only in the destination"}));
  const ProcessResult r =
      RunBatchExe({"-k", "1-4", "--report", Path("r.html"), Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 1);
  const std::string report = ReadFile(Path("r.html"));
  EXPECT_NE(report.find("<span class=\"sym\">×</span>差異あり"), std::string::npos);
  const std::size_t listed = report.find("<section id=\"unmatched\">");
  ASSERT_NE(listed, std::string::npos);
  EXPECT_NE(
      report.find(">0000002 </span><span style=\"width:23ch\">0002 only in the source<", listed),
      std::string::npos);
  EXPECT_NE(report.find(">0000003 </span><span style=\"width:28ch\">0004 only in the "
                        "destination<",
                        listed),
            std::string::npos);
}

// A run that could not set itself up read and wrote nothing: it shows no counts.
TEST_F(BatchOutcomeTest, AFailedSetUpPrintsNoCounts) {
  WriteFile(Path("b.prn"), CrLf({"x"}));
  const ProcessResult r = RunBatchExe({Path("nosuch.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string(messages::kCannotOpen) + "\n" + Path("nosuch.prn") +
                       ": ファイルまたはフォルダがありません\n");
}

}  // namespace
}  // namespace vesmer
