#include "core/comparison_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "core/messages.h"
#include "core/pair_diff.h"
#include "tests/core/recording_observer.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::CrLf;
using testing::Exists;
using testing::LinesRead;
using testing::MakeJob;
using testing::ReadFile;
using testing::RecordingObserver;
using testing::TempDir;
using testing::UseKey;
using testing::UseOmit;
using testing::WriteFile;
using testing::Written;

class ComparisonRunTest : public ::testing::Test {
 protected:
  // Writes the two inputs and prepares a job on them.
  void Inputs(const std::string& source, const std::string& destination) {
    WriteFile(dir_ / "a.prn", source);
    WriteFile(dir_ / "b.prn", destination);
    job_ = MakeJob(dir_ / "a.prn", dir_ / "b.prn");
  }
  RunSummary Run() { return RunComparison(job_, observer_); }
  std::string Result(int kind) { return ReadFile(dir_ / ("a_" + std::to_string(kind) + ".TXT")); }

  TempDir dir_;
  ComparisonJob job_;
  RecordingObserver observer_;
};

TEST_F(ComparisonRunTest, IdenticalFilesInBothModesHaveNoDifferences) {
  for (const bool key : {false, true}) {
    Inputs(CrLf({"K1 a", "K2 b"}), CrLf({"K1 a", "K2 b"}));
    if (key) UseKey(job_, "1-2");
    const RunSummary s = Run();
    EXPECT_EQ(s.outcome, RunOutcome::kNoDifferences);
    EXPECT_EQ(StatusText(s), messages::kCompletedNoDifferences);
    EXPECT_EQ(Result(4), CrLf({"K1 a", "K2 b"}));
    EXPECT_EQ(Written(s), (std::array<std::int64_t, 6>{0, 0, 0, 0, 2, 0}));
    EXPECT_EQ(Result(5), "");
  }
}

TEST_F(ComparisonRunTest, SummarySaysWhatWasReadFoundAndWritten) {
  Inputs(CrLf({"x"}), CrLf({"y"}));
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kDifferences);
  EXPECT_EQ(StatusText(s), messages::kCompleted);
  EXPECT_EQ(LinesRead(s), (std::array<std::int64_t, 2>{1, 1}));
  EXPECT_EQ(Written(s), (std::array<std::int64_t, 6>{0, 0, 1, 1, 0, 1}));
  EXPECT_EQ(s.outputs[OutputKind::kResultList].found, 1);
  EXPECT_EQ(s.inputs[0].path, dir_ / "a.prn");
  EXPECT_EQ(s.outputs[OutputKind::kSourceDiffers].path, dir_ / "a_2.TXT");
  EXPECT_TRUE(s.outputs[OutputKind::kSourceDiffers].created);
  EXPECT_FALSE(s.outputs[OutputKind::kSourceUnmatched].created);
  EXPECT_TRUE(s.error.ok());
}

TEST_F(ComparisonRunTest, LineModeClassifiesByLineNumber) {
  Inputs(CrLf({"one", "two", "three"}), CrLf({"one", "TWO", "three"}));
  const RunSummary s = Run();
  EXPECT_EQ(Result(4), CrLf({"one", "three"}));
  EXPECT_EQ(Result(2), CrLf({"two"}));
  EXPECT_EQ(Result(3), CrLf({"TWO"}));
  EXPECT_EQ(Written(s)[0] + Written(s)[1], 0);
}

TEST_F(ComparisonRunTest, LineModeListsLinesPastTheShorterFileAlone) {
  Inputs(CrLf({"a", "b", "c"}), CrLf({"a"}));
  RunSummary s = Run();
  EXPECT_EQ(Result(2), CrLf({"b", "c"}));
  EXPECT_EQ(Result(3), "");
  EXPECT_EQ(LinesRead(s), (std::array<std::int64_t, 2>{3, 1}));
  EXPECT_EQ(Written(s)[5], 2);
  // Each such line gets an entry against an empty partner, numbered with its own line number.
  const std::string list = Result(5);
  EXPECT_NE(list.find("0000002 000-O:b\r\n0000002 000-C: \r\n0000002 000-R:?\r\n"),
            std::string::npos);

  Inputs(CrLf({"a"}), CrLf({"a", "y", "z"}));
  s = Run();
  EXPECT_EQ(Result(2), "");
  EXPECT_EQ(Result(3), CrLf({"y", "z"}));
  EXPECT_EQ(s.outcome, RunOutcome::kDifferences);
  EXPECT_NE(Result(5).find("0000003 000-O: \r\n0000003 000-C:z\r\n"), std::string::npos);
}

TEST_F(ComparisonRunTest, EmptyLinePastTheShorterFileIsAnEntryTheListShows) {
  // The empty line 2 has no partner: it is a difference, written to the source's file, and the
  // result list entry the summary counts for it must be in the list.
  Inputs(CrLf({"a", ""}), CrLf({"a"}));
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kDifferences);
  EXPECT_EQ(Result(2), CrLf({""}));
  const std::string list = Result(5);
  std::int64_t listed = 0;
  for (std::size_t at = list.find(" 000-O:"); at != std::string::npos;
       at = list.find(" 000-O:", at + 1)) {
    ++listed;
  }
  EXPECT_EQ(Written(s)[5], listed);
}

TEST_F(ComparisonRunTest, EmptyFirstLineIsCheckedAndWritten) {
  // The reader hands out an empty first line as a view without data: the line end check and the
  // result file must take it without passing a null pointer on.
  Inputs("\r\n", CrLf({"x"}));
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kDifferences);
  EXPECT_EQ(LinesRead(s), (std::array<std::int64_t, 2>{1, 1}));
  EXPECT_FALSE(s.inputs[0].lf_line_ends);
  EXPECT_EQ(Result(2), CrLf({""}));
  EXPECT_EQ(Result(3), CrLf({"x"}));
}

TEST_F(ComparisonRunTest, KeyModeMergesOnTheKey) {
  Inputs(CrLf({"A1", "B1", "C1"}), CrLf({"A1", "B2", "C1", "D1", "E1"}));
  UseKey(job_, "1-1");
  const RunSummary s = Run();
  EXPECT_EQ(Result(0), "");
  EXPECT_EQ(Result(1), CrLf({"D1", "E1"}));
  EXPECT_EQ(Result(2), CrLf({"B1"}));
  EXPECT_EQ(Result(3), CrLf({"B2"}));
  EXPECT_EQ(Result(4), CrLf({"A1", "C1"}));
  EXPECT_EQ(LinesRead(s), (std::array<std::int64_t, 2>{3, 5}));
}

TEST_F(ComparisonRunTest, KeyModeUnmatchedOnBothSides) {
  Inputs(CrLf({"A", "C"}), CrLf({"B"}));
  UseKey(job_, "1-1");
  Run();
  EXPECT_EQ(Result(0), CrLf({"A", "C"}));
  EXPECT_EQ(Result(1), CrLf({"B"}));
}

TEST_F(ComparisonRunTest, KeyModeWithEmptyFiles) {
  Inputs("", CrLf({"A", "B"}));
  UseKey(job_, "1-1");
  RunSummary s = Run();
  EXPECT_EQ(Result(1), CrLf({"A", "B"}));
  EXPECT_EQ(s.outcome, RunOutcome::kDifferences);

  Inputs("", "");
  UseKey(job_, "1-1");
  s = Run();
  EXPECT_EQ(StatusText(s), messages::kCompletedNoDifferences);
  EXPECT_EQ(LinesRead(s), (std::array<std::int64_t, 2>{0, 0}));
}

TEST_F(ComparisonRunTest, RepeatedKeysPairInFileOrder) {
  Inputs(CrLf({"K1", "K2", "K3"}), CrLf({"K1"}));
  UseKey(job_, "1-1");
  Run();
  EXPECT_EQ(Result(4), CrLf({"K1"}));
  EXPECT_EQ(Result(0), CrLf({"K2", "K3"}));
}

TEST_F(ComparisonRunTest, DecreasingKeyStopsTheRun) {
  Inputs(CrLf({"A", "C", "B", "D"}), CrLf({"A", "B", "C", "D"}));
  UseKey(job_, "1-1");
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kOutOfOrder);
  EXPECT_EQ(StatusText(s), messages::kOutOfOrder);
  // A and C pair, B of the destination is unmatched; reading B after C stops the run before
  // the source's B is compared.
  EXPECT_EQ(Result(4), CrLf({"A", "C"}));
  EXPECT_EQ(Result(1), CrLf({"B"}));
  EXPECT_EQ(Result(0), "");
  EXPECT_EQ(Written(s)[4], 2);
  EXPECT_EQ(Written(s)[1], 1);
}

TEST_F(ComparisonRunTest, DecreaseInTheLastLineIsReported) {
  Inputs(CrLf({"A", "B"}), CrLf({"B", "A"}));
  UseKey(job_, "1-1");
  EXPECT_EQ(Run().outcome, RunOutcome::kOutOfOrder);
}

TEST_F(ComparisonRunTest, EqualKeysAreNotADecreaseAndRunsRepeat) {
  Inputs(CrLf({"K", "K", "L"}), CrLf({"K", "L"}));
  UseKey(job_, "1-1");
  EXPECT_EQ(Run().outcome, RunOutcome::kDifferences);
  EXPECT_EQ(Run().outcome, RunOutcome::kDifferences);  // nothing of the first run remains
  EXPECT_EQ(Result(0), CrLf({"K"}));
}

TEST_F(ComparisonRunTest, OnlyMatchingSelectedShowsNoDifference) {
  Inputs(CrLf({"a", "b"}), CrLf({"a", "x"}));
  job_.OutputSelected = {false, false, false, false, true, false};
  const RunSummary s = Run();
  EXPECT_EQ(StatusText(s), messages::kCompletedNoDifferences);
  EXPECT_EQ(Result(4), CrLf({"a"}));
  EXPECT_FALSE(Exists(dir_ / "a_2.TXT"));
}

TEST_F(ComparisonRunTest, SelectedResultsAreReplacedOthersLeftAlone) {
  WriteFile(dir_ / "a_2.TXT", "old 2");
  WriteFile(dir_ / "a_0.TXT", "old 0");
  Inputs(CrLf({"a"}), CrLf({"b"}));
  Run();
  EXPECT_EQ(Result(2), CrLf({"a"}));
  EXPECT_EQ(Result(0), "old 0");
}

TEST_F(ComparisonRunTest, ResultLinesAreTheBytesAsRead) {
  // A full-width space, a code Windows would rewrite (ED40) and a lone LF all stay as read.
  const std::string line =
      "K\x81\x40"
      "A\xED\x40"
      "b\nc";
  Inputs(line + "\r\n", "X\r\n");
  job_.SpaceCompare = true;
  UseKey(job_, "1-1");
  Run();
  EXPECT_EQ(Result(0), line + "\r\n");
}

TEST_F(ComparisonRunTest, MissingInputCannotBeOpened) {
  WriteFile(dir_ / "b.prn", "x");
  job_ = MakeJob(dir_ / "missing.prn", dir_ / "b.prn");
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kSetupFailed);
  EXPECT_EQ(StatusText(s), messages::kCannotOpen);
  EXPECT_EQ(Written(s)[2], 0);
  EXPECT_EQ(s.error.path(), dir_ / "missing.prn");
  EXPECT_EQ(s.error.error_number(), ENOENT);
  EXPECT_FALSE(Exists(dir_ / "missing_2.TXT"));  // refused before any result file was made
}

TEST_F(ComparisonRunTest, ResultFileThatIsAnInputIsNeverTouched) {
  // The destination is the result list of an earlier run, reached through another name.
  WriteFile(dir_ / "a.prn", CrLf({"a"}));
  WriteFile(dir_ / "a_5.TXT", CrLf({"b"}));
  ASSERT_EQ(::symlink((dir_ / "a_5.TXT").c_str(), (dir_ / "link.prn").c_str()), 0);
  WriteFile(dir_ / "a_2.TXT", "earlier");
  job_ = MakeJob(dir_ / "a.prn", dir_ / "link.prn");
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kSetupFailed);
  EXPECT_EQ(StatusText(s), messages::kCannotOpen);
  EXPECT_EQ(ReadFile(dir_ / "a_5.TXT"), CrLf({"b"}));
  EXPECT_EQ(ReadFile(dir_ / "a_2.TXT"), "earlier");
  EXPECT_FALSE(Exists(dir_ / "a_3.TXT"));
}

TEST_F(ComparisonRunTest, WriteFailureIsNotReportedAsSuccess) {
  Inputs(CrLf({"a", "b"}), CrLf({"x", "y"}));
  ASSERT_EQ(::symlink("/dev/full", (dir_ / "a_2.TXT").c_str()), 0);
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kIoFailed);
  EXPECT_EQ(StatusText(s), messages::kReadWriteFailed);
  EXPECT_EQ(s.error.path(), dir_ / "a_2.TXT");
  EXPECT_EQ(s.error.error_number(), ENOSPC);
}

TEST_F(ComparisonRunTest, FullDiskEndsTheRunEarly) {
  std::string lines;
  for (int i = 0; i < 300000; ++i) lines += "record " + std::to_string(i) + "\r\n";
  Inputs(lines, lines);
  ASSERT_EQ(::symlink("/dev/full", (dir_ / "a_4.TXT").c_str()), 0);
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kIoFailed);
  EXPECT_LT(LinesRead(s)[0], 300000);  // stopped soon after the first failed write
}

TEST_F(ComparisonRunTest, ArrangedLengthComparesEachPairAfresh) {
  // The source record is cut to the length of A1 while paired with it; after A1 goes
  // unmatched, B1234567 must be compared in full against B1234599.
  Inputs(CrLf({"B1234567"}), CrLf({"A1", "B1234599"}));
  UseKey(job_, "1-1");
  job_.ArrangeLength = true;
  Run();
  EXPECT_EQ(Result(1), CrLf({"A1"}));
  EXPECT_EQ(Result(2), CrLf({"B1234567"}));
  EXPECT_EQ(Result(3), CrLf({"B1234599"}));
  EXPECT_EQ(Result(4), "");
}

TEST_F(ComparisonRunTest, ArrangedLengthComparesAtTheShorterLength) {
  for (const bool arrange : {true, false}) {
    Inputs(CrLf({"ABCDEF", "ABC"}), CrLf({"ABC", "ABCDEF"}));
    job_.ArrangeLength = arrange;
    const RunSummary s = Run();
    EXPECT_EQ(Written(s)[4], arrange ? 2 : 0);
    EXPECT_EQ(Written(s)[2], arrange ? 0 : 2);
  }
}

TEST_F(ComparisonRunTest, DifferentBytesThatDecodeAlikeAreEqual) {
  // Omitting column 2 cuts a double-byte character; both halves decode to the default character.
  Inputs(CrLf({"\x88\x9F"
               "Z"}),
         CrLf({"\x89\x9F"
               "Z"}));
  UseOmit(job_, "2-2");
  EXPECT_EQ(Written(Run())[4], 1);
}

TEST_F(ComparisonRunTest, StopRequestedByTheHostEndsAfterTheEntry) {
  Inputs(CrLf({"a", "b", "c"}), CrLf({"x", "y", "z"}));
  observer_.stop_after_segments = 1;
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kStopped);
  EXPECT_EQ(Result(2), CrLf({"a"}));  // flushed, nothing buffered lost
  EXPECT_EQ(Result(3), CrLf({"x"}));
  const std::string list = Result(5);
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 4);  // one whole entry
  EXPECT_EQ(Written(s)[5], 1);
}

// ---------------------------------------------------------------------------------------------
// Equal texts, other bytes

// Pairs of lines whose texts are the same and whose bytes are not.
struct OtherBytes {
  const char* what;
  std::string source;
  std::string destination;
};
const OtherBytes kOtherBytes[] = {
    // Two byte pairs that are no character: both decode to the default character.
    {"pairs that are no character", "0001 \x85\x40 100", "0001 \x81\x7F 100"},
    // A lead byte at the end of the line decodes alone to the default character.
    {"lone lead bytes", "A\x81", "A\x82"},
    // 纊 as the NEC-selected IBM extension and as the IBM extension.
    {"two codes of one character", "0002 \xED\x40", "0002 \xFA\x5C"},
};

TEST_F(ComparisonRunTest, EqualTextsOfOtherBytesAreEqualPairsAndCounted) {
  for (const bool key : {false, true}) {
    for (const OtherBytes& pair : kOtherBytes) {
      Inputs(CrLf({"0000 same", pair.source, "zzzz same"}),
             CrLf({"0000 same", pair.destination, "zzzz same"}));
      if (key) UseKey(job_, "1-1");
      const RunSummary s = Run();
      EXPECT_EQ(s.outcome, RunOutcome::kNoDifferences) << pair.what;
      EXPECT_EQ(Result(4), CrLf({"0000 same", pair.source, "zzzz same"})) << pair.what;
      EXPECT_EQ(s.same_text_other_bytes, 1) << pair.what << " key " << key;
    }
  }
}

TEST_F(ComparisonRunTest, SameBytesAndOtherTextsAreNotCounted) {
  Inputs(CrLf({"0001 \x85\x40", "A\x81"}), CrLf({"0001 \x85\x40", "B\x81"}));
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kDifferences);
  EXPECT_EQ(s.same_text_other_bytes, 0);
}

TEST_F(ComparisonRunTest, OtherBytesOnlyInOmittedColumnsAreNotCounted) {
  // Columns 6-7 hold the two pairs that are no character.
  Inputs(CrLf({"0001 \x85\x40 100"}), CrLf({"0001 \x81\x7F 100"}));
  UseOmit(job_, "6-7");
  RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kNoDifferences);
  EXPECT_EQ(s.same_text_other_bytes, 0);

  // The lone lead byte is column 2 of the line, columns 2-3 of its text.
  Inputs(CrLf({"A\x81"}), CrLf({"A\x82"}));
  UseOmit(job_, "2-3");
  s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kNoDifferences);
  EXPECT_EQ(s.same_text_other_bytes, 0);

  // Column 2 cuts the double-byte characters; their first bytes differ and are not omitted.
  Inputs(CrLf({"\x88\x9F"
               "Z"}),
         CrLf({"\x89\x9F"
               "Z"}));
  UseOmit(job_, "2-2");
  s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kNoDifferences);
  EXPECT_EQ(s.same_text_other_bytes, 1);
}

TEST_F(ComparisonRunTest, OmittedColumnsOfOtherBytesAreThoseOfTheText) {
  // A lead byte before NUL takes one column as read and two as text: C and X are column 5 of
  // the lines, column 6 of their texts, and the text's column is the one omitted.
  const auto line = [](const char* bytes) { return std::string(bytes, 5); };
  for (const bool compare_bytes : {false, true}) {
    Inputs(CrLf({line("A\x81\x00"
                      "BC")}),
           CrLf({line("A\x81\x00"
                      "BX")}));
    UseOmit(job_, "6-6");
    job_.CompareBytes = compare_bytes;
    const RunSummary s = Run();
    EXPECT_EQ(s.outcome, RunOutcome::kNoDifferences) << compare_bytes;
    EXPECT_EQ(s.same_text_other_bytes, 0) << compare_bytes;
  }
  // Against the whole default character, the lone lead byte is other bytes.
  Inputs(CrLf({line("A\x81\x00"
                    "BC")}),
         CrLf({std::string("A\x81\x45\x00"
                           "BX",
                           6)}));
  UseOmit(job_, "6-6");
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kNoDifferences);
  EXPECT_EQ(s.same_text_other_bytes, 1);
}

TEST_F(ComparisonRunTest, FullWidthSpaceAsTwoSpacesIsNoOtherBytes) {
  Inputs(CrLf({"AB\x81\x40"
               "CD",
               "AB\x81\x40\xED\x40"}),
         CrLf({"AB  CD", "AB  \xFA\x5C"}));
  job_.SpaceCompare = true;
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kNoDifferences);
  EXPECT_EQ(s.same_text_other_bytes, 1);  // the second pair only
}

TEST_F(ComparisonRunTest, OtherBytesPastTheShorterLengthAreNotCounted) {
  Inputs(CrLf({"0001", "0002\x85\x40"}), CrLf({"0001\x85\x40",
                                               "0002\x81\x7F"
                                               "9"}));
  job_.ArrangeLength = true;
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kNoDifferences);
  EXPECT_EQ(s.same_text_other_bytes, 1);  // the second pair only
}

TEST_F(ComparisonRunTest, ComparingBytesMakesEqualTextsOfOtherBytesDiffer) {
  for (const OtherBytes& pair : kOtherBytes) {
    Inputs(CrLf({"0000 same", pair.source}), CrLf({"0000 same", pair.destination}));
    job_.CompareBytes = true;
    const RunSummary s = Run();
    EXPECT_EQ(s.outcome, RunOutcome::kDifferences) << pair.what;
    EXPECT_EQ(Result(2), CrLf({pair.source})) << pair.what;
    EXPECT_EQ(Result(3), CrLf({pair.destination})) << pair.what;
    EXPECT_EQ(Result(4), CrLf({"0000 same"})) << pair.what;
    EXPECT_EQ(Written(s)[5], 1) << pair.what;
    EXPECT_EQ(s.same_text_other_bytes, 1) << pair.what;
  }
}

TEST_F(ComparisonRunTest, ComparingBytesMarksTheBytesThatDiffer) {
  job_.CompareBytes = true;
  const auto marker = [&](const std::string& source, const std::string& destination) {
    Inputs(CrLf({source}), CrLf({destination}));
    job_.CompareBytes = true;
    (void)Run();
    const std::string list = Result(5);
    const std::size_t at = list.find("0000001 000-R:");
    if (at == std::string::npos) return std::string("(none)");
    return list.substr(at + 14, list.find("\r\n", at) - at - 14);
  };
  EXPECT_EQ(marker("0001 \x85\x40 100", "0001 \x81\x7F 100"), "     ??    ");
  // The line as read is two columns long, its text three.
  EXPECT_EQ(marker("A\x81", "A\x82"), " ?");
  EXPECT_EQ(marker("0002 \xED\x40", "0002 \xFA\x5C"), "     ??");
  EXPECT_EQ(marker("X\xED\x40", "Y\xFA\x5C"), "???");
  EXPECT_EQ(marker("AB", "AB\xFA\x5C"), "  ??");
}

TEST_F(ComparisonRunTest, ComparingBytesKeepsWhatTheOptionsLookAway) {
  job_.CompareBytes = true;
  const auto outcome = [&](const std::string& source, const std::string& destination,
                           auto options) {
    Inputs(CrLf({source}), CrLf({destination}));
    job_.CompareBytes = true;
    options(job_);
    return Run().outcome;
  };
  EXPECT_EQ(outcome("0001 \x85\x40 100", "0001 \x81\x7F 100",
                    [](ComparisonJob& job) { UseOmit(job, "6-7"); }),
            RunOutcome::kNoDifferences);
  EXPECT_EQ(outcome("AB\x81\x40"
                    "CD",
                    "AB  CD", [](ComparisonJob& job) { job.SpaceCompare = true; }),
            RunOutcome::kNoDifferences);
  EXPECT_EQ(outcome("0001", "0001\x85\x40", [](ComparisonJob& job) { job.ArrangeLength = true; }),
            RunOutcome::kNoDifferences);
  EXPECT_EQ(outcome("0001", "0001", [](ComparisonJob&) {}), RunOutcome::kNoDifferences);
  EXPECT_EQ(outcome("0001", "0002", [](ComparisonJob&) {}), RunOutcome::kDifferences);
}

// Accepts every pair it is asked about.
class AcceptingJudge : public PairJudge {
 public:
  bool Accepts(const PairDiff&) override {
    ++asked;
    return true;
  }
  int asked = 0;
};

TEST_F(ComparisonRunTest, ComparingBytesLeavesTheRulesOnlyDifferencesOfText) {
  Inputs(CrLf({"A\x81", "B"}), CrLf({"A\x82", "C"}));
  job_.CompareBytes = true;
  AcceptingJudge judge;
  RunExtensions extensions;
  extensions.judge = &judge;
  const RunSummary s = RunComparison(job_, observer_, extensions);
  EXPECT_EQ(judge.asked, 1);
  EXPECT_EQ(s.expected_pairs, 1);
  EXPECT_EQ(Result(2), CrLf({"A\x81"}));
  EXPECT_EQ(Result(4), CrLf({"B"}));
}

// Files that go on with the same bytes are read on one side only as far as both read chunks
// hold the same bytes; what comes out must be what reading both sides line by line gives,
// across chunk ends that fall in different places on the two sides.
class SameBytesTest : public ComparisonRunTest {
 protected:
  struct Record {
    std::string line;
    std::string end = "\r\n";
  };
  static std::string Join(const std::vector<Record>& records) {
    std::string bytes;
    for (const Record& r : records) bytes += r.line + r.end;
    return bytes;
  }
  // Lines of result files: each line as read and CR LF.
  static std::string Lines(const std::vector<const Record*>& records) {
    std::string bytes;
    for (const Record* r : records) bytes += r->line + "\r\n";
    return bytes;
  }
  // About 3 MiB of records keyed 0, 2, 4, ... in columns 1-8: some end with a CR alone, some
  // hold a lone LF, one's CR is the last byte of the first MiB (its LF starts the next read),
  // and the last has no line end.
  static std::vector<Record> Source() {
    std::vector<Record> records;
    std::size_t size = 0;
    for (int i = 0; size < (std::size_t{3} << 20); ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "%08d", 2 * i);
      Record r{std::string(key) + "payload" + std::to_string(i % 97)};
      if (i % 7 == 3) r.end = "\r";
      if (i % 11 == 5) r.line += "\nmore";
      const std::size_t mib = std::size_t{1} << 20;
      if (size < mib && size + r.line.size() + 40 >= mib) {
        r.line.append(mib - 1 - size - r.line.size(), 'x');  // the CR at byte 1 MiB - 1
        r.end = "\r\n";
      }
      size += r.line.size() + r.end.size();
      records.push_back(std::move(r));
    }
    records.back().end = "";
    return records;
  }
};

TEST_F(SameBytesTest, KeyModeAcrossChunkEndsGivesWhatLineByLineReadingGives) {
  const std::vector<Record> source = Source();
  std::vector<Record> destination = source;
  // An extra record early on moves every later chunk end of the destination; one record is
  // missing, one changed.
  destination.insert(destination.begin() + 11, Record{"00000021extra"});
  destination.erase(destination.begin() + 100001);  // source record 100000
  destination[70001].line += "changed";             // source record 70000
  ASSERT_NE(source[100000].line.find("00200000"), std::string::npos);
  Inputs(Join(source), Join(destination));
  UseKey(job_, "1-8");
  const RunSummary s = Run();

  std::vector<const Record*> matching;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (i != 100000 && i != 70000) matching.push_back(&source[i]);
  }
  EXPECT_EQ(Result(4), Lines(matching));
  EXPECT_EQ(Result(0), Lines({&source[100000]}));
  EXPECT_EQ(Result(1), Lines({&destination[11]}));
  EXPECT_EQ(Result(2), Lines({&source[70000]}));
  EXPECT_EQ(Result(3), Lines({&destination[70001]}));
  EXPECT_EQ(Written(s)[4], static_cast<std::int64_t>(matching.size()));
  EXPECT_EQ(LinesRead(s), (std::array<std::int64_t, 2>{static_cast<std::int64_t>(source.size()),
                                                       static_cast<std::int64_t>(source.size())}));
  EXPECT_EQ(s.inputs[0].bytes, Join(source).size());
  EXPECT_EQ(s.inputs[1].bytes, Join(destination).size());
}

TEST_F(SameBytesTest, LineModeAcrossChunkEndsGivesWhatLineByLineReadingGives) {
  std::vector<Record> source = Source();
  // The same bytes from the start of a line on, on lines that differ: "...\r" + "\n" against
  // "...\r" + "x" in the same place.
  source[5000].end = "\r";
  source[5001].line = "xyz";
  std::vector<Record> destination = source;
  destination[5001].line = "\nxyz";
  destination[90000].line[3] = 'Z';
  Inputs(Join(source), Join(destination));
  const RunSummary s = Run();

  // Line 5001 is "xyz" on both sides: the destination's LF belongs to the line end before it.
  std::vector<const Record*> matching;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (i != 90000) matching.push_back(&source[i]);
  }
  EXPECT_EQ(Result(4), Lines(matching));
  EXPECT_EQ(Result(2), Lines({&source[90000]}));
  EXPECT_EQ(Result(3), Lines({&destination[90000]}));
  EXPECT_EQ(Written(s)[4], static_cast<std::int64_t>(source.size()) - 1);
}

// Sees every record the run hands to sinks.
class SeenRecords : public RecordSink {
 public:
  std::vector<std::string> seen;
  // A pair that is not equal comes with its marker, an equal one with none.
  void OnPair(const vesmer::Record& a, const vesmer::Record& b, PairVerdict verdict,
              const PairDiff* diff) override {
    seen.push_back("pair " + Describe(a) + " " + Describe(b) +
                   (verdict == PairVerdict::kEqual ? " equal" : " differs") +
                   (diff != nullptr ? " [" + std::string(diff->marker()) + "]" : ""));
  }
  void OnLoneLine(const vesmer::Record& r, const PairDiff& diff) override {
    seen.push_back("lone " + std::to_string(r.line_number()) + ":" + std::string(r.raw()) + " [" +
                   std::string(diff.marker()) + "]");
  }
  void OnRepeatedKey(const vesmer::Record& r) override {
    seen.push_back(std::string(r.side() == Side::kSource ? "repeat A " : "repeat B ") +
                   Describe(r));
  }
  [[nodiscard]] bool WantsEqualPairs() const override { return true; }

 private:
  static std::string Describe(const vesmer::Record& r) {
    return std::to_string(r.line_number()) + ":" + std::string(r.raw()) + "/" +
           std::string(r.key());
  }
};

TEST_F(SameBytesTest, SinksSeeEveryPairAndRepeatedKeyOnBothSides) {
  const std::vector<std::string> lines = {"1a", "1b", "2a", "3a", "3b", "3c", "4a"};
  Inputs(CrLf(lines), CrLf(lines) + "5a\r\n");
  UseKey(job_, "1-1");
  SeenRecords sink;
  RunExtensions extensions;
  extensions.sinks.push_back(&sink);
  const RunSummary s = RunComparison(job_, observer_, extensions);

  std::vector<std::string> expected;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    const std::string record = n + ":" + lines[i] + "/" + lines[i].substr(0, 1);
    if (i > 0 && lines[i][0] == lines[i - 1][0]) {
      expected.push_back("repeat A " + record);
      expected.push_back("repeat B " + record);
    }
    expected.push_back("pair " + record + " " + record + " equal");
  }
  EXPECT_EQ(sink.seen, expected);
  for (const InputSummary& input : s.inputs) {
    EXPECT_EQ(input.repeated_records, 3);
    EXPECT_EQ(input.repeated_keys, 2);
  }
  EXPECT_EQ(Result(1), CrLf({"5a"}));
}

TEST_F(SameBytesTest, DifferingPairsAndLoneLinesComeWithTheirMarkers) {
  Inputs(CrLf({"1abc", "2abc", "3abc"}), CrLf({"1abc", "2xbcd", "3abc", "4z"}));
  SeenRecords sink;
  RunExtensions extensions;
  extensions.sinks.push_back(&sink);
  (void)RunComparison(job_, observer_, extensions);
  EXPECT_EQ(sink.seen, (std::vector<std::string>{
                           "pair 1:1abc/ 1:1abc/ equal",
                           "pair 2:2abc/ 2:2xbcd/ differs [ ?  ?]",
                           "pair 3:3abc/ 3:3abc/ equal",
                           "lone 4:4z [??]",
                       }));
  // The result list marks the same columns.
  EXPECT_NE(Result(5).find("0000002 000-R: ?  ?\r\n"), std::string::npos) << Result(5);
}

TEST_F(SameBytesTest, RepeatedKeysAreCountedOnBothSides) {
  // Keys 1 1 2 3 3 3 4 5 5 and so on: four repeated records of three keys in every nine.
  std::vector<std::string> lines;
  for (int block = 0; block < 1000; ++block) {
    for (const int k : {1, 1, 2, 3, 3, 3, 4, 5, 5}) {
      char line[32];
      std::snprintf(line, sizeof line, "%08d%d", block * 10 + k, k);
      lines.push_back(line);
    }
  }
  Inputs(CrLf(lines), CrLf(lines));
  // A key of short records, taken from the line's bytes; and one that is not.
  for (const char* key : {"1-8", "2-8"}) {
    SCOPED_TRACE(key);
    UseKey(job_, key);
    const RunSummary s = Run();
    for (const InputSummary& input : s.inputs) {
      EXPECT_EQ(input.repeated_records, 4000);
      EXPECT_EQ(input.repeated_keys, 3000);
    }
    EXPECT_EQ(Written(s)[4], 9000);
  }
}

TEST_F(SameBytesTest, DecreaseWithinTheSameBytesStopsBothSidesAtIt) {
  std::vector<std::string> lines;
  for (int i = 0; i < 50; ++i) lines.push_back(std::to_string(10000010 + i));
  lines[30] = "99999999";  // then "10000041": a decrease at line 32
  Inputs(CrLf(lines), CrLf(lines));
  // A key of short records, taken from the line's bytes; and one that is not.
  for (const char* key : {"1-8", "1-7"}) {
    SCOPED_TRACE(key);
    UseKey(job_, key);
    const RunSummary s = Run();
    EXPECT_EQ(s.outcome, RunOutcome::kOutOfOrder);
    EXPECT_EQ(Result(4), CrLf({lines.begin(), lines.begin() + 31}));
    EXPECT_EQ(Written(s)[4], 31);
    EXPECT_EQ(LinesRead(s), (std::array<std::int64_t, 2>{32, 32}));
  }
}

// Ten-byte records over several chunks, most of them same bytes on both sides: the source's
// read-ahead finds the stretches whose keys go up, and the run only counts their lines. Every
// line that is not such a line must still be seen for what it is, wherever it falls.
TEST_F(SameBytesTest, TenByteRecordsLookedAtAheadKeepEveryCheckAndCount) {
  std::vector<std::string> lines;
  for (int i = 0; i < 400000; ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "%08dab", i);
    lines.emplace_back(line);
  }
  lines[50000] = "00049999zz";   // a repeated key
  lines[120000] = "0012";        // shorter than the key, and still in order
  lines[300000] = "00200000ab";  // a decrease after "00299999ab"
  std::string source = CrLf(lines);
  source.erase(source.find("00100000ab\r\n") + 11, 1);  // a line ended by a CR alone
  std::vector<std::string> changed = lines;
  changed[200000] = "00200000xx";
  std::string destination = CrLf(changed);
  destination.erase(destination.find("00100000ab\r\n") + 11, 1);

  Inputs(source, destination);
  UseKey(job_, "1-8");
  const RunSummary s = Run();
  ASSERT_EQ(s.outcome, RunOutcome::kOutOfOrder);
  EXPECT_EQ(LinesRead(s), (std::array<std::int64_t, 2>{300001, 300001}));
  // The pairs before the decrease: all equal but one.
  EXPECT_EQ(Written(s), (std::array<std::int64_t, 6>{0, 0, 1, 1, 299999, 1}));
  std::vector<std::string> matching(lines.begin(), lines.begin() + 300000);
  matching.erase(matching.begin() + 200000);
  EXPECT_EQ(Result(4), CrLf(matching));
  EXPECT_EQ(Result(3), CrLf({"00200000xx"}));
  for (const InputSummary& input : s.inputs) {
    EXPECT_EQ(input.repeated_records, 1);
    EXPECT_EQ(input.repeated_keys, 1);
  }

  // Line by line, with no key to order: the same lines, every one of them paired.
  job_.UseKey = false;
  const RunSummary by_line = Run();
  EXPECT_EQ(LinesRead(by_line), (std::array<std::int64_t, 2>{400000, 400000}));
  EXPECT_EQ(Written(by_line)[4], 399999);
  EXPECT_EQ(Result(2), CrLf({"00200000ab"}));

  // An empty line, whose CR is the first byte after the lines in order: by key it is a
  // decrease; line by line, against a line that is not empty, the first byte that differs.
  lines[250000] = "";
  changed = lines;
  changed[250000] = "x";
  for (const bool key : {true, false}) {
    SCOPED_TRACE(key);
    Inputs(CrLf(lines), CrLf(key ? lines : changed));
    if (key) UseKey(job_, "1-8");
    const RunSummary empty = Run();
    EXPECT_EQ(empty.outcome, key ? RunOutcome::kOutOfOrder : RunOutcome::kDifferences);
    EXPECT_EQ(Written(empty)[4], key ? 250000 : 399999);
    if (!key) {
      EXPECT_EQ(Result(3), CrLf({"x"}));
    }
  }
}

// After a pair that is not equal, the lines that go on with the same bytes are taken from the
// source as after an equal pair. The pair's keys are equal even where their bytes are not (two
// encodings of one character), so what repeats or falls after them does so on both sides.
TEST_F(SameBytesTest, LinesAfterAPairThatIsNotEqualRepeatAndFallOnBothSides) {
  // Columns 1-2: U+7E8A as 0xED40 on the source and 0xFA5C on the destination.
  const std::vector<std::string> tail = {
      "\xFA\x5C"
      "b",
      "\xFA\x5C"
      "c",
      "00d", "00e"};
  std::vector<std::string> source = {
      "\xED\x40"
      "a1"};
  std::vector<std::string> destination = {
      "\xFA\x5C"
      "a2"};
  source.insert(source.end(), tail.begin(), tail.end());
  destination.insert(destination.end(), tail.begin(), tail.end());
  Inputs(CrLf(source), CrLf(destination));
  UseKey(job_, "1-2");
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kOutOfOrder);
  EXPECT_EQ(LinesRead(s), (std::array<std::int64_t, 2>{4, 4}));
  EXPECT_EQ(Written(s), (std::array<std::int64_t, 6>{0, 0, 1, 1, 2, 1}));
  EXPECT_EQ(Result(4), CrLf({tail[0], tail[1]}));
  for (const InputSummary& input : s.inputs) {
    EXPECT_EQ(input.repeated_records, 2);
    EXPECT_EQ(input.repeated_keys, 1);
  }

  // Line by line: many pairs that differ one after another, then the same lines, with one pair
  // that differs among them.
  std::vector<std::string> lines, changed;
  for (int i = 0; i < 20000; ++i) {
    lines.push_back(std::to_string(10000000 + i));
    changed.push_back(i < 40 || i == 9000 ? lines.back() + "x" : lines.back());
  }
  Inputs(CrLf(lines), CrLf(changed));
  job_.UseKey = false;
  const RunSummary by_line = Run();
  EXPECT_EQ(Written(by_line), (std::array<std::int64_t, 6>{0, 0, 41, 41, 19959, 41}));
  std::vector<std::string> differing(lines.begin(), lines.begin() + 40);
  differing.push_back(lines[9000]);
  EXPECT_EQ(Result(2), CrLf(differing));
  std::vector<std::string> matching(lines.begin() + 40, lines.end());
  matching.erase(matching.begin() + (9000 - 40));
  EXPECT_EQ(Result(4), CrLf(matching));
}

// Asks the run to stop the first time it is asked.
class StopAtOnce : public RecordingObserver {
 public:
  bool StopRequested() override { return true; }
};

TEST_F(SameBytesTest, StopWithinTheSameBytesKeepsEveryPairMadeWritten) {
  std::vector<std::string> lines;
  for (int i = 0; i < 20000; ++i) lines.push_back(std::to_string(10000000 + i));
  Inputs(CrLf(lines), CrLf(lines));
  for (const char* key : {"", "1-8", "1-7"}) {
    SCOPED_TRACE(key);
    if (*key != '\0') UseKey(job_, key);
    StopAtOnce stop;
    const RunSummary s = RunComparison(job_, stop);
    EXPECT_EQ(s.outcome, RunOutcome::kStopped);
    // The run looks for a stop every few thousand records, with the next records read but not
    // yet paired: every pair made by then is written, no more and no less.
    const std::int64_t written = Written(s)[4];
    EXPECT_GT(written, 0);
    EXPECT_LT(written, 20000);
    EXPECT_EQ(s.outputs[OutputKind::kMatching].found, written);
    EXPECT_EQ(LinesRead(s), (std::array<std::int64_t, 2>{written + 1, written + 1}));
    EXPECT_EQ(Result(4), CrLf({lines.begin(), lines.begin() + written}));
  }
}

TEST_F(SameBytesTest, KeysThatAreNotShortBetweenShortOnesAreBuiltAndOrderedAsEver) {
  // Key columns 1-8: lines too short to hold them, double-byte characters in them, and lines
  // after each that order after them only by the whole key.
  const std::vector<std::string> lines = {"00000001aa",
                                          "00000002aa",
                                          "0000001",
                                          "00000010aa",
                                          "0000\x82\xa0"
                                          "05aa",
                                          "0000\x82\xa0"
                                          "06aa",
                                          "00010000aa",
                                          "00010001aa",
                                          "0001001",
                                          "00010010aa"};
  std::vector<std::string> destination = lines;
  destination.push_back("00020000zz");
  Inputs(CrLf(lines), CrLf(destination));
  UseKey(job_, "1-8");
  const RunSummary s = Run();
  EXPECT_EQ(s.outcome, RunOutcome::kDifferences);
  EXPECT_EQ(Result(4), CrLf(lines));
  EXPECT_EQ(Result(1), CrLf({"00020000zz"}));
  EXPECT_EQ(LinesRead(s), (std::array<std::int64_t, 2>{10, 11}));

  // "00000005" orders after "00000002" but before the short key "0000001" between them.
  const std::vector<std::string> decreasing = {"00000001aa", "00000002aa", "0000001", "00000005aa",
                                               "00000006aa"};
  Inputs(CrLf(decreasing), CrLf(decreasing));
  UseKey(job_, "1-8");
  EXPECT_EQ(Run().outcome, RunOutcome::kOutOfOrder);
  EXPECT_EQ(Result(4), CrLf({"00000001aa", "00000002aa", "0000001"}));
}

}  // namespace
}  // namespace vesmer
