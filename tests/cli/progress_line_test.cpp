// The progress line of vesmer-batch: the step, the bar, the pace, the time left, and a width a
// terminal of 80 columns takes on one line.
#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "cli/terminal_text.h"

namespace vesmer {
namespace {

// A bar of 30 columns, `filled` of them done.
std::string Bar(std::size_t filled) {
  return "[" + std::string(filled, '#') + std::string(30 - filled, ' ') + "]";
}

TEST(ProgressLineTest, ShowsStepBarPercentPaceAndTimeLeft) {
  // A quarter done in 10 s: 30 s to go; 5,000 lines in 10 s.
  EXPECT_EQ(ProgressLine(RunStep::kCompare, false, 250, 1000, 5000, 10.0),
            "比較 " + Bar(7) + "  25%  500 行/秒  残り 0:30");
  EXPECT_EQ(ProgressLine(RunStep::kCompare, false, 1000, 1000, 12'345'678, 1.0),
            "比較 " + Bar(30) + " 100%  12,345,678 行/秒  残り 0:00");
}

TEST(ProgressLineTest, StepsAreNumberedWhenTheRunSorts) {
  EXPECT_EQ(ProgressLine(RunStep::kSort, true, 500, 1000, -1, 2.0).substr(0, 12), "整列 1/2 [");
  EXPECT_EQ(ProgressLine(RunStep::kCompare, true, 500, 1000, 10, 2.0).substr(0, 12), "比較 2/2 [");
  EXPECT_EQ(ProgressLine(RunStep::kCompare, false, 500, 1000, 10, 2.0).substr(0, 8), "比較 [");
}

TEST(ProgressLineTest, TimeLeftGoesAtThePaceSoFarRoundedUp) {
  const auto left = [](std::uint64_t done, std::uint64_t total, double elapsed) {
    const std::string line = ProgressLine(RunStep::kCompare, false, done, total, 0, elapsed);
    return line.substr(line.rfind("残り "));
  };
  EXPECT_EQ(left(600, 1000, 90.0), "残り 1:00");          // 400 bytes at 600 per 90 s
  EXPECT_EQ(left(3, 10, 1.0), "残り 0:03");               // 2.33 s
  EXPECT_EQ(left(1, 4, 1200.0), "残り 1:00:00");          // 3 x 1,200 s
  EXPECT_EQ(left(1, 2, 4000.5), "残り 1:06:41");          // 4,000.5 s
  EXPECT_EQ(left(1, 1000, 3600.0), "残り 100 時間以上");  // 999 hours
  EXPECT_EQ(left(0, 1000, 5.0), "残り --:--");            // nothing done, no pace yet
  EXPECT_EQ(left(2000, 1000, 5.0), "残り 0:00");          // more than the total is the total
}

TEST(ProgressLineTest, PaceCountsOnlyWhatWasDoneSinceTimingBegan) {
  // 400 bytes and 1,000 lines in the 40 s since: 10 bytes a second, 400 bytes to go.
  EXPECT_EQ(ProgressLine(RunStep::kCompare, false, 600, 1000, 1500, 40.0, {200, 500}),
            "比較 " + Bar(18) + "  60%  25 行/秒  残り 0:40");
  EXPECT_EQ(ProgressLine(RunStep::kSort, true, 3'000'000, 4'000'000, -1, 2.0, {1'000'000, 0}),
            "整列 1/2 " + Bar(22) + "  75%  1.0 MB/秒  残り 0:01");
  // Nothing done since: no pace yet.
  EXPECT_EQ(ProgressLine(RunStep::kCompare, false, 600, 1000, 1500, 3.0, {600, 1500}),
            "比較 " + Bar(18) + "  60%  0 行/秒  残り --:--");
}

TEST(ProgressLineTest, TheSortShowsBytesPerSecond) {
  EXPECT_EQ(ProgressLine(RunStep::kSort, true, 50'000'000, 200'000'000, -1, 2.0),
            "整列 1/2 " + Bar(7) + "  25%  25.0 MB/秒  残り 0:06");
}

TEST(ProgressLineTest, NoPaceBeforeTimeHasPassed) {
  EXPECT_EQ(ProgressLine(RunStep::kCompare, false, 0, 1000, 0, 0.0),
            "比較 " + Bar(0) + "   0%  -- 行/秒  残り --:--");
}

TEST(ProgressLineTest, FormatsFollowTheStepAndAreCutBeforeTheLineIsTooWide) {
  const std::string line =
      ProgressLine(RunStep::kCompare, false, 250, 1000, 5000, 10.0, {}, "fixed=200,ibm-930 → csv");
  EXPECT_EQ(line.substr(0, line.find(" [")), "比較 fixed=200,ibm-930 → csv") << line;
  EXPECT_NE(line.find("500 件/秒"), std::string::npos) << line;
  EXPECT_LE(DisplayWidth(line), 79u) << line;
  const std::string cut =
      ProgressLine(RunStep::kCompare, true, 1, 1000, 123'456'789, 1e-3, {},
                   "csv,delimiter=;,header,ibm-1399 → fixed=32760,ibm-37_P100-1995,keep");
  EXPECT_EQ(DisplayWidth(cut), 79u) << cut;
  EXPECT_EQ(cut.rfind("比較 2/2 csv,delimiter=;,", 0), 0u) << cut;
  EXPECT_NE(cut.find("… ["), std::string::npos) << cut;  // the bar is still there
}

TEST(ProgressLineTest, StaysWithinEightyColumns) {
  constexpr std::uint64_t kMostBytes = std::numeric_limits<std::uint64_t>::max();
  constexpr std::int64_t kMostLines = std::numeric_limits<std::int64_t>::max();
  for (const std::string& line : {
           ProgressLine(RunStep::kCompare, true, kMostBytes, kMostBytes, kMostLines, 1e-9),
           ProgressLine(RunStep::kCompare, true, 1, kMostBytes, kMostLines, 1e9),
           ProgressLine(RunStep::kSort, true, kMostBytes - 1, kMostBytes, -1, 1e-9),
           ProgressLine(RunStep::kCompare, false, 123'456'789, 987'654'321, 98'765'432, 7.5),
       }) {
    EXPECT_LE(DisplayWidth(line), 79u) << line;
  }
  // A long pace takes columns from the bar, not from the line.
  const std::string busy =
      ProgressLine(RunStep::kCompare, true, 500, 1000, 123'456'789'012'345, 1.0);
  EXPECT_EQ(DisplayWidth(busy), 79u) << busy;
  EXPECT_NE(busy.find("123,456,789,012,345 行/秒"), std::string::npos) << busy;
}

}  // namespace
}  // namespace vesmer

namespace vesmer {
namespace {

TEST(JobProgressLineTest, PairsBytesAndThePairsRunningWithinAColumnsLimit) {
  EXPECT_EQ(JobProgressLine(12, 2000, 35'250'000, {}), "ジョブ 12/2,000 組  35.2 MB");
  EXPECT_EQ(JobProgressLine(0, 3, 0, {"a.txt", "sub/社員.txt"}),
            "ジョブ 0/3 組  0.0 MB  実行中: a.txt, sub/社員.txt");
  // Too many to show: cut at a character, with "…", never past 79 columns.
  const std::string line =
      JobProgressLine(1, 9, 0, {std::string(30, 'a'), "社員社員社員社員社員社員社員社員社員社員"});
  EXPECT_EQ(line, "ジョブ 1/9 組  0.0 MB  実行中: " + std::string(30, 'a') + ", 社員社員社員社…");
  EXPECT_LE(DisplayWidth(line), 79u);
}

}  // namespace
}  // namespace vesmer
