// vesmer-batch beyond the window: fields by name and their statistics, sorting unsorted inputs,
// repeated keys, expected differences.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/cp932.h"
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

std::string Sjis(const std::string& utf8) { return cp932::FromUtf8(utf8); }

class BatchFeaturesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ / name; }
  json RunJson(std::vector<std::string> args, int expected_exit) {
    args.insert(args.begin(), "--json");
    const ProcessResult r = RunBatchExe(args);
    EXPECT_EQ(r.exit_code, expected_exit) << r.err << r.out;
    return r.out.empty() ? json() : json::parse(r.out);
  }
  TempDir dir_;
};

// The layout of the records below: key 1-4, name 6-15, amount 17-24, date 26-33.
constexpr const char* kLayout =
    "項目名,開始桁,桁数,属性\r\n"
    "# 社員の記録\r\n"
    "社員番号,1,4\r\n"
    "氏名,6,10,N\r\n"
    "支給額,17,8,9\r\n"
    "更新日,26,8\r\n"
    "支給,17,17\r\n";  // a group item over the last two

TEST_F(BatchFeaturesTest, FieldsCountTheirDifferingPairs) {
  WriteFile(Path("layout.csv"), kLayout);
  WriteFile(Path("a.prn"),
            Sjis(CrLf({"0001 山田太郎   00010000 20260101", "0002 鈴木花子   00020000 20260101",
                       "0003 佐藤一郎   00030000 20260101"})));
  WriteFile(Path("b.prn"),
            Sjis(CrLf({"0001 山田太郎   00010500 20261231", "0002 鈴木花子   00020000 20260101",
                       "0003 佐藤二郎   00030000"})));
  const json j = RunJson(
      {"--layout", Path("layout.csv"), "--key-fields", "社員番号", Path("a.prn"), Path("b.prn")},
      1);
  const json& f = j["fields"];
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[0], (json{{"name", "社員番号"}, {"start", 1}, {"length", 4}, {"differing", 0}}));
  EXPECT_EQ(f[1]["differing"], 1);  // 一郎 -> 二郎
  EXPECT_EQ(f[2]["differing"], 1);  // the amount
  EXPECT_EQ(f[3]["differing"], 2);  // the date, and the record that ends before it
  EXPECT_EQ(f[4]["differing"], 2);  // the group item
  // Columns: 2 of the name (一 -> 二), 1 of the amount (00010000 -> 00010500), and the space
  // and the 8 of the date past the shorter third record, which hold the 3 of the first pair's
  // date (0101 -> 1231).
  EXPECT_EQ(j["differing_columns"], 2 + 1 + 9);
  EXPECT_EQ(j["outputs"][2]["found"], 2);
}

TEST_F(BatchFeaturesTest, FieldStatisticsFollowTheComparisonOptions) {
  WriteFile(Path("layout.csv"), "A,1,2\r\nB,3,2\r\nC,5,4\r\n");
  // -x blanks columns 3-4, -s makes a full-width space two spaces, -a cuts the longer record.
  WriteFile(Path("a.prn"), Sjis(CrLf({"k1xx　zz", "k2aaXY", "k3bb"})));
  WriteFile(Path("b.prn"), Sjis(CrLf({"k1yy  zz", "k2aaXYZZ", "k3cc"})));
  json j = RunJson(
      {"--layout", Path("layout.csv"), "-s", "-a", "-x", "3-4", Path("a.prn"), Path("b.prn")}, 0);
  EXPECT_EQ(j["differing_columns"], 0);
  j = RunJson({"--layout", Path("layout.csv"), Path("a.prn"), Path("b.prn")}, 1);
  EXPECT_EQ(j["fields"][0]["differing"], 0);
  EXPECT_EQ(j["fields"][1]["differing"], 2);  // xx/yy and bb/cc
  EXPECT_EQ(j["fields"][2]["differing"], 2);  // the full-width space, and ZZ past the shorter
}

TEST_F(BatchFeaturesTest, FieldNamesMustBeInTheLayout) {
  WriteFile(Path("layout.csv"), kLayout);
  WriteFile(Path("a.prn"), "x");
  WriteFile(Path("b.prn"), "y");
  ProcessResult r = RunBatchExe({"--layout", Path("layout.csv"), "--key-fields",
                                 "社員番号,部署コード,氏名カナ", Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("部署コード, 氏名カナ"), std::string::npos) << r.err;
  // Fields by name go through the start checks like typed ranges: overlap is refused.
  r = RunBatchExe({"--layout", Path("layout.csv"), "--key-fields", "支給額", "--omit-fields",
                   "支給", Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("重なっています"), std::string::npos) << r.err;
  // A bad layout names its file and line.
  WriteFile(Path("bad.csv"), "社員番号,1,4\r\n\r\n氏名,六,10\r\n");
  r = RunBatchExe({"--layout", Path("bad.csv"), Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find(Path("bad.csv") + " の 3 行目"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(Path("a_2.TXT")));
}

TEST_F(BatchFeaturesTest, ReportHashesTheInputsAsCompared) {
  const std::string a = CrLf({"1 x", "2 y"}), b = CrLf({"1 x", "2 z"});
  WriteFile(Path("a.prn"), a);
  WriteFile(Path("b.prn"), b);
  const json j = RunJson({"--report", Path("report.html"), "--summary-csv", Path("sum.csv"),
                          Path("a.prn"), Path("b.prn")},
                         1);
  EXPECT_EQ(j["inputs"][0]["sha256"], Sha256Hex(a));
  EXPECT_EQ(j["inputs"][1]["sha256"], Sha256Hex(b));
  EXPECT_TRUE(Exists(Path("report.html")));
  EXPECT_EQ(ReadFile(Path("sum.csv")).rfind("\xEF\xBB\xBF", 0), 0u);
  // A report over an input is refused before anything runs.
  const ProcessResult r = RunBatchExe({"--report", Path("b.prn"), Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(ReadFile(Path("b.prn")), b);
}

// A run that ends early has hashed what its readers read ahead, as much as happened to be read:
// no hash of the file, and not the same from one run to the next, nor for two equal files.
// The evidence gives no hash then rather than one that stands for nothing.
TEST_F(BatchFeaturesTest, ARunThatEndsEarlyGivesNoHashOfPartOfAnInput) {
  std::string lines = "00000002 second\r\n00000001 first\r\n";  // out of key order at once
  // Longer than all a reader reads ahead, so its hash can never reach the end.
  while (lines.size() < 12u << 20) lines += "99999999 a record that is never compared\r\n";
  WriteFile(Path("a.prn"), lines);
  WriteFile(Path("b.prn"), lines);
  const json j = RunJson({"-k", "1-8", "--report", Path("report.html"), "--summary-csv",
                          Path("sum.csv"), Path("a.prn"), Path("b.prn")},
                         2);
  ASSERT_EQ(j["outcome"], "out-of-order");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(j["inputs"][i]["lines"], 2) << i;
    EXPECT_FALSE(j["inputs"][i].contains("sha256")) << j["inputs"][i]["sha256"];
  }
  const std::string report = ReadFile(Path("report.html"));
  EXPECT_NE(report.find("<tr><th>SHA-256</th><td class=\"m\"></td><td class=\"m\"></td></tr>"),
            std::string::npos);
  const std::string csv = ReadFile(Path("sum.csv"));
  EXPECT_NE(csv.find("比較元," + Path("a.prn") + ",33,2,,"), std::string::npos) << csv;
  EXPECT_NE(csv.find("比較先," + Path("b.prn") + ",33,2,,"), std::string::npos) << csv;
}

// Keys shuffled: sorted by the run's own order they give the same results as a run on inputs
// sorted beforehand, numbered with the lines of the files as given.
TEST_F(BatchFeaturesTest, SortedRunMatchesARunOnSortedInputs) {
  std::vector<std::string> a, b;
  for (int i = 0; i < 3000; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "%05d", (i * 7919) % 4000);
    a.push_back(std::string(key) + " a" + std::to_string(i % 7));
    if (i % 11 != 0) b.push_back(std::string(key) + " a" + std::to_string(i % 13 == 0 ? 9 : i % 7));
  }
  b.push_back("99999 extra");
  b.push_back("00001 ｶﾅ");  // half-width katakana
  b.push_back("00001 漢字");
  auto shuffled = [](std::vector<std::string> v, unsigned seed) {
    for (std::size_t i = v.size(); i > 1; --i) {
      seed = seed * 1103515245u + 12345u;
      std::swap(v[i - 1], v[(seed >> 8) % i]);
    }
    return v;
  };
  auto sorted = [](std::vector<std::string> v) {
    std::stable_sort(v.begin(), v.end(), [](const std::string& x, const std::string& y) {
      return x.substr(0, 5) < y.substr(0, 5);
    });
    return v;
  };
  const std::vector<std::string> sa = shuffled(a, 1), sb = shuffled(b, 2);
  WriteFile(Path("sa.prn"), Sjis(CrLf(sa)));
  WriteFile(Path("sb.prn"), Sjis(CrLf(sb)));
  WriteFile(Path("oa.prn"), Sjis(CrLf(sorted(sa))));
  WriteFile(Path("ob.prn"), Sjis(CrLf(sorted(sb))));
  const std::string before = ReadFile(Path("sa.prn"));
  json s = RunJson(
      {"--sort", "-k", "1-5", "--temp-dir", dir_.path(), Path("sa.prn"), Path("sb.prn")}, 1);
  json o = RunJson({"-k", "1-5", Path("oa.prn"), Path("ob.prn")}, 1);
  EXPECT_EQ(ReadFile(Path("sa.prn")), before);  // the input is never changed
  EXPECT_EQ(s["inputs"][0]["lines"], 3000);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(ReadFile(Path("sa_" + std::to_string(k) + ".TXT")),
              ReadFile(Path("oa_" + std::to_string(k) + ".TXT")))
        << k;
    EXPECT_EQ(s["outputs"][k]["count"], o["outputs"][k]["count"]) << k;
  }
  // Each entry of the result list carries the source record's line in the shuffled file.
  const std::string list = ReadFile(Path("sa_5.TXT"));
  const std::size_t at = list.find("-O:");
  ASSERT_NE(at, std::string::npos);
  const std::string number = list.substr(at - 11, 7);
  const std::string record = list.substr(at + 3, 5);
  const auto line = static_cast<std::size_t>(std::stoi(number));
  ASSERT_GE(line, 1u);
  EXPECT_EQ(sa[line - 1].substr(0, 5), record);
  // No temporary file is left.
  std::size_t left = 0;
  if (DIR* d = ::opendir(dir_.path().c_str())) {
    while (const dirent* e = ::readdir(d))
      left += std::string(e->d_name).find("sort") != std::string::npos;
    ::closedir(d);
  }
  EXPECT_EQ(left, 0u);
}

TEST_F(BatchFeaturesTest, UnsortedInputWithoutSortHintsAtIt) {
  WriteFile(Path("a.prn"), CrLf({"2", "1"}));
  WriteFile(Path("b.prn"), CrLf({"1", "2"}));
  const ProcessResult r = RunBatchExe({"-k", "1-1", Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--sort"), std::string::npos);
  EXPECT_EQ(RunBatchExe({"-k", "1-1", "--sort", Path("a.prn"), Path("b.prn")}).exit_code, 0);
  // Sorting needs a key.
  EXPECT_EQ(RunBatchExe({"--sort", Path("a.prn"), Path("b.prn")}).exit_code, 2);
}

TEST_F(BatchFeaturesTest, FullTemporaryFolderFailsTheSortAndTouchesNoInput) {
  std::string lines;
  for (int i = 0; i < 60000; ++i) lines += std::to_string(100000 - i) + " record data\r\n";
  WriteFile(Path("a.prn"), lines);
  WriteFile(Path("b.prn"), lines);
  const ProcessResult r = RunBatchExe({"--json", "--sort", "--sort-memory", "1", "-k", "1-6",
                                       "--temp-dir", dir_.path(), Path("a.prn"), Path("b.prn")},
                                      {.file_size = 64 * 1024});
  EXPECT_EQ(r.exit_code, 2) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outcome"], "failed");
  EXPECT_EQ(j["error"]["path"], dir_.path());
  EXPECT_EQ(ReadFile(Path("a.prn")), lines);
  EXPECT_FALSE(Exists(Path("a_2.TXT")));  // refused before any result file was replaced
}

TEST_F(BatchFeaturesTest, InterruptedSortLeavesNothingBehind) {
  std::string lines;
  for (int i = 0; i < 100000; ++i) lines += std::to_string(1000000 - i) + " record data\r\n";
  WriteFile(Path("a.prn"), lines);
  // The destination comes through a pipe that gives part of its lines and then waits, so the
  // sort is surely under way when the signal comes.
  ASSERT_EQ(::mkfifo(Path("b.fifo").c_str(), 0600), 0);
  testing::BatchProcess batch({"--json", "--sort", "--sort-memory", "1", "-k", "1-7", "--temp-dir",
                               dir_.path(), Path("a.prn"), Path("b.fifo")});
  const int fifo = ::open(Path("b.fifo").c_str(), O_WRONLY);
  ASSERT_GE(fifo, 0);
  ASSERT_EQ(::write(fifo, lines.data(), 60000), 60000);
  ASSERT_TRUE(batch.WaitUntilCatching(SIGINT));
  int waiting = 1;
  for (int i = 0; i < 2000 && waiting > 0; ++i) {
    ASSERT_EQ(::ioctl(fifo, FIONREAD, &waiting), 0);
    ::usleep(2000);
  }
  batch.Signal(SIGINT);
  const ProcessResult r = batch.Wait();
  ::close(fifo);
  EXPECT_EQ(r.exit_code, 130) << r.err;
  EXPECT_EQ(json::parse(r.out)["outcome"], "stopped");
  EXPECT_EQ(ReadFile(Path("a.prn")), lines);
  // Nothing but the inputs: no temporary file, and no result file (none had been replaced).
  std::vector<std::string> entries;
  if (DIR* d = ::opendir(dir_.path().c_str())) {
    while (const dirent* e = ::readdir(d)) {
      if (e->d_name[0] != '.') entries.emplace_back(e->d_name);
    }
    ::closedir(d);
  }
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"a.prn", "b.fifo"}));
}

// A sorted input that comes through a FIFO can be read once only: every line and every byte
// of the hash must come from that one reading, and the writer must never find the FIFO without
// a reader before it is done.
TEST_F(BatchFeaturesTest, SortedFifoInputIsReadOnceAndWhole) {
  std::string a, b;
  for (int i = 0; i < 40000; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%05d record %d\r\n", (i * 7919) % 40000, i % 9);
    a += line;
    std::snprintf(line, sizeof line, "%05d record %d\r\n", (i * 7919) % 40000, i % 7);
    b += line;
  }
  WriteFile(Path("a.prn"), a);
  WriteFile(Path("b.prn"), b);
  const std::vector<std::string> options = {
      "--sort", "-k", "1-5", "--temp-dir", dir_.path(), "--report", Path("report.html")};
  auto with = [&](std::vector<std::string> args, const std::string& destination) {
    args.insert(args.begin(), options.begin(), options.end());
    args.push_back(Path("a.prn"));
    args.push_back(destination);
    return args;
  };
  const json expected = RunJson(with({}, Path("b.prn")), 1);
  std::map<int, std::string> expected_results;
  for (int k = 0; k < 6; ++k)
    expected_results[k] = ReadFile(Path("a_" + std::to_string(k) + ".TXT"));
  ASSERT_EQ(expected["inputs"][1]["lines"], 40000);

  ASSERT_EQ(::mkfifo(Path("b.fifo").c_str(), 0600), 0);
  const auto old_sigpipe = std::signal(SIGPIPE, SIG_IGN);  // a lost reader shows as EPIPE
  std::atomic<bool> finished{false};
  int write_error = 0;
  std::thread writer([&] {
    const int fifo = ::open(Path("b.fifo").c_str(), O_WRONLY);
    if (fifo < 0) {
      write_error = errno;
      return;
    }
    // A first part, drained before the rest comes: a reader that takes it and goes away loses it.
    std::string_view rest = b;
    for (bool first = true; !rest.empty(); first = false) {
      const ssize_t put = ::write(fifo, rest.data(), std::min<std::size_t>(rest.size(), 60000));
      if (put < 0) {
        write_error = errno;
        break;
      }
      rest.remove_prefix(static_cast<std::size_t>(put));
      int waiting = 1;
      for (int i = 0; first && i < 2000 && waiting > 0; ++i) {
        if (::ioctl(fifo, FIONREAD, &waiting) != 0) break;
        ::usleep(1000);
      }
    }
    ::close(fifo);
    // Whoever opens the FIFO again after this gets its end at once instead of waiting for ever.
    while (!finished) {
      const int again = ::open(Path("b.fifo").c_str(), O_WRONLY | O_NONBLOCK);
      if (again >= 0) ::close(again);
      ::usleep(1000);
    }
  });
  const ProcessResult r = RunBatchExe(with({"--json"}, Path("b.fifo")));
  finished = true;
  writer.join();
  std::signal(SIGPIPE, old_sigpipe);
  EXPECT_EQ(write_error, 0) << "the writer found no reader";
  ASSERT_EQ(r.exit_code, 1) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["inputs"][1]["lines"], 40000);
  EXPECT_EQ(j["inputs"][1]["sha256"], Sha256Hex(b));
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(j["outputs"][k]["count"], expected["outputs"][k]["count"]) << k;
    EXPECT_TRUE(ReadFile(Path("a_" + std::to_string(k) + ".TXT")) == expected_results[k]) << k;
  }
}

TEST_F(BatchFeaturesTest, RepeatedKeysAreCountedAndListed) {
  WriteFile(Path("a.prn"), Sjis(CrLf({"A1", "A2", "B1", "B2", "B3", "C1"})));
  WriteFile(Path("b.prn"), Sjis(CrLf({"A1", "B1", "C1"})));
  const ProcessResult r = RunBatchExe(
      {"--json", "-k", "1-1", "--duplicates", Path("dup.txt"), Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 1);
  const json j = json::parse(r.out);
  EXPECT_EQ(j["duplicates"][0], (json{{"records", 3}, {"keys", 2}}));
  EXPECT_EQ(j["duplicates"][1], (json{{"records", 0}, {"keys", 0}}));
  EXPECT_EQ(ReadFile(Path("dup.txt")), Sjis("比較元\t2\tA2\r\n比較元\t4\tB2\r\n比較元\t5\tB3\r\n"));
  const ProcessResult plain = RunBatchExe({"-k", "1-1", Path("a.prn"), Path("b.prn")});
  EXPECT_NE(plain.out.find("比較元：キー重複 3 件（2 キー）"), std::string::npos) << plain.out;
  EXPECT_EQ(plain.out.find("比較先：キー重複"), std::string::npos);
}

TEST_F(BatchFeaturesTest, RulesMakeAcceptedDifferencesExpectedNotDiffering) {
  WriteFile(Path("layout.csv"), "キー,1,4\r\n氏名,6,10\r\n金額,17,8\r\n日付,26,8\r\n");
  WriteFile(Path("rules.csv"),
            "# 現新比較で認める差異\r\n日付,無視\r\n氏名,全半角\r\n氏名,前後空白\r\n"
            "金額,数値,1\r\n");
  // ﾔﾏﾀﾞ is four half-width bytes, ヤマダ six: both names are padded to ten.
  WriteFile(Path("a.prn"),
            Sjis(CrLf({"0001 ﾔﾏﾀﾞ      00010000 20260101", "0002 スズキ    00020000 20260101",
                       "0003 サトウ    00030000 20260101"})));
  WriteFile(Path("b.prn"),
            Sjis(CrLf({"0001 ヤマダ    00010001 20261231", "0002 スズキ    00020000 20260102",
                       "0003 サトウ    00030002 20260109"})));
  const ProcessResult r =
      RunBatchExe({"--json", "--layout", Path("layout.csv"), "--rules", Path("rules.csv"),
                   "--expected", Path("expected.txt"), "-k", "1-4", Path("a.prn"), Path("b.prn")});
  // 0003 differs in its date (accepted) and its amount (a rounding of 2, beyond the tolerance of
  // 1): one real difference makes the pair a real difference, and the date's rule does not
  // count it.
  EXPECT_EQ(r.exit_code, 1) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["expected"]["pairs"], 2);
  EXPECT_EQ(j["expected"]["rules"], (json::parse(R"([{"field": "日付", "rule": "無視", "pairs": 2},
                               {"field": "氏名", "rule": "全半角", "pairs": 0},
                               {"field": "氏名", "rule": "前後空白", "pairs": 1},
                               {"field": "金額", "rule": "数値", "pairs": 1}])")));
  EXPECT_EQ(j["outputs"][4]["count"], 2);  // expected pairs go where matching pairs go
  EXPECT_EQ(j["outputs"][2]["count"], 1);
  EXPECT_EQ(ReadFile(Path("a_2.TXT")), Sjis(CrLf({"0003 サトウ    00030000 20260101"})));
  const std::string expected = ReadFile(Path("expected.txt"));
  EXPECT_NE(expected.find("0000001 000-O:"), std::string::npos);
  EXPECT_NE(expected.find("0000002 000-O:"), std::string::npos);
  EXPECT_EQ(expected.find("0000003 000-O:"), std::string::npos);
  // Only real differences count: accept everything that differs and the files "match".
  WriteFile(Path("all.csv"), "1-40,無視\r\n");
  EXPECT_EQ(RunBatchExe({"--rules", Path("all.csv"), Path("a.prn"), Path("b.prn")}).exit_code, 0);
}

TEST_F(BatchFeaturesTest, WithoutRulesEveryResultByteIsAsBefore) {
  WriteFile(Path("a.prn"), Sjis(CrLf({"0001 x 10", "0002 y 20", "0003 z 30"})));
  WriteFile(Path("b.prn"), Sjis(CrLf({"0001 x 11", "0002 Y 20", "0004 z 30"})));
  (void)RunBatchExe({"-k", "1-4", Path("a.prn"), Path("b.prn")});
  std::map<int, std::string> plain;
  for (int k = 0; k < 6; ++k) plain[k] = ReadFile(Path("a_" + std::to_string(k) + ".TXT"));
  WriteFile(Path("layout.csv"), "K,1,4\r\nV,8,2\r\n");
  (void)RunBatchExe({"-k", "1-4", "--layout", Path("layout.csv"), "--report", Path("r.html"),
                     "--duplicates", Path("d.txt"), Path("a.prn"), Path("b.prn")});
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(ReadFile(Path("a_" + std::to_string(k) + ".TXT")), plain[k]) << k;
  }
}

}  // namespace
}  // namespace vesmer
