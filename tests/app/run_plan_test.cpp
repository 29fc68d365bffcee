#include "app/run_plan.h"

#include <gtest/gtest.h>

#include "core/messages.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::CrLf;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class RunPlanTest : public ::testing::Test {
 protected:
  RunPlanTest() {
    WriteFile(dir_ / "a.prn", CrLf({"0001AAAA", "0002BBBB", "0003CCCC"}));
    WriteFile(dir_ / "b.prn", CrLf({"0001AAAA", "0002BXBB", "0004DDDD"}));
    WriteFile(dir_ / "layout.csv", "番号,1,4,9\n名前,5,4,X\n");
    request_.inputs = {dir_ / "a.prn", dir_ / "b.prn"};
    for (const OutputKind kind : kAllOutputKinds) request_.outputs[kind] = true;
  }

  TempDir dir_;
  RunRequest request_;
};

TEST(RunRequestTest, SettingsValuesBecomeTypedOptions) {
  SettingsStore values;
  values.InputData = {"/d/a.prn", "/d/b.prn"};
  values.Utf8 = {"0", "1"};
  values.Key = "1";
  values.KeyRange = "1-4";
  values.Omit = "0";
  values.OmitRange = "9-10";
  values.OutputData = "110101";
  values.SpaceCompare = "1";
  values.ArrangeLength = "0";
  values.Scale = "....+";
  const RunRequest r = RunRequestFromSettings(values);
  EXPECT_EQ(r.inputs[1], "/d/b.prn");
  EXPECT_EQ(r.utf8, (std::array<bool, 2>{false, true}));
  EXPECT_TRUE(r.use_key);
  EXPECT_EQ(r.key_text, "1-4");
  EXPECT_FALSE(r.use_omit);
  EXPECT_EQ(r.omit_text, "9-10");
  EXPECT_EQ(r.outputs.values,
            (std::array<bool, kOutputKinds>{true, true, false, true, false, true}));
  EXPECT_TRUE(r.space_compare);
  EXPECT_FALSE(r.arrange_length);
  EXPECT_EQ(r.scale, "....+");
  // A short OutputData leaves the kinds it does not name unchosen.
  values.OutputData = "0011";
  EXPECT_EQ(RunRequestFromSettings(values).outputs.values,
            (std::array<bool, kOutputKinds>{false, false, true, true, false, false}));
}

TEST_F(RunPlanTest, TheJobFollowsTheRequestWithTheKeyDecidingTheFirstTwoKinds) {
  request_.use_key = true;
  request_.key_text = "　１－４ ";
  request_.outputs[OutputKind::kSourceUnmatched] = false;
  request_.outputs[OutputKind::kMatching] = false;
  request_.arrange_length = true;
  request_.compare_bytes = true;
  RunPlan plan;
  ASSERT_FALSE(plan.Prepare(request_).has_value());
  const ComparisonJob& job = plan.job();
  EXPECT_TRUE(job.UseKey);
  EXPECT_EQ(job.KeyColumns.UsedPrefix(), 1u);
  EXPECT_EQ(job.KeyColumns[0].Start, 1);
  EXPECT_EQ(plan.request().key_text, "1-4");  // normalised by the start checks
  EXPECT_TRUE(job.OutputSelected[OutputKind::kSourceUnmatched]);
  EXPECT_FALSE(job.OutputSelected[OutputKind::kMatching]);
  EXPECT_TRUE(job.ArrangeLength);
  EXPECT_TRUE(job.CompareBytes);
  EXPECT_EQ(job.Result(OutputKind::kResultList), dir_ / "a_5.TXT");

  // Without the key, kinds 0 and 1 are off whatever was chosen.
  request_.use_key = false;
  RunPlan lineplan;
  ASSERT_FALSE(lineplan.Prepare(request_).has_value());
  EXPECT_FALSE(lineplan.job().OutputSelected[OutputKind::kSourceUnmatched]);
  EXPECT_FALSE(lineplan.job().OutputSelected[OutputKind::kDestinationUnmatched]);
}

TEST_F(RunPlanTest, RefusalsComeInTheirOrderAndSayWhatTheyAreAbout) {
  const auto refusal = [&](RunRequest r) {
    RunPlan plan;
    const std::optional<PlanRefusal> refused = plan.Prepare(std::move(r));
    return refused ? *refused : PlanRefusal{"(none)"};
  };
  RunRequest r = request_;
  r.inputs[0].clear();
  EXPECT_EQ(refusal(r).message, messages::kNoSource);
  EXPECT_EQ(refusal(r).item, StartItem::kSource);

  r = request_;
  r.use_key = true;
  r.key_text = "x";
  EXPECT_EQ(refusal(r).message, messages::kBadKeyRange);
  EXPECT_EQ(refusal(r).item, StartItem::kKeyRange);

  // Ranges given for this run and names for the same thing contradict each other; ranges that
  // came with the settings give way to the names.
  r = request_;
  r.layout = dir_ / "layout.csv";
  r.key_fields = "番号";
  r.use_key = true;
  r.key_text = "5-8";
  EXPECT_EQ(refusal(r).message, "(none)");
  r.key_given = true;
  EXPECT_EQ(refusal(r).message, "★--key と --key-fields は、どちらか一方だけを指定してください");
  // A layout that cannot be read is the first thing said, before the contradiction.
  r.layout = dir_ / "missing.csv";
  EXPECT_NE(refusal(r).message.find("missing.csv"), std::string::npos) << refusal(r).message;

  r = request_;
  r.sort = SortOptions{};
  EXPECT_EQ(refusal(r).message, "★--sort は、キーで比較するとき（--key）に指定してください");
  EXPECT_EQ(refusal(r).item, StartItem::kNone);
}

TEST_F(RunPlanTest, FieldNamesBecomeRangesAndTheFeaturesAskedForRun) {
  request_.layout = dir_ / "layout.csv";
  request_.key_fields = "番号";
  request_.statistics = true;
  request_.kept_pairs = 10;
  request_.hashes = true;
  request_.duplicates = dir_ / "dup.txt";
  RunPlan plan;
  ASSERT_FALSE(plan.Prepare(request_).has_value());
  EXPECT_TRUE(plan.job().UseKey);
  EXPECT_EQ(plan.request().key_text, "1-4");
  ASSERT_NE(plan.layout(), nullptr);
  EXPECT_EQ(plan.stats(), nullptr);  // made for the run

  RunObserver quiet;
  const RunSummary s = plan.Run(quiet);
  EXPECT_EQ(s.outcome, RunOutcome::kDifferences);
  ASSERT_NE(plan.stats(), nullptr);
  EXPECT_EQ(plan.stats()->pairs(), 1);
  // The pair 0002 differs in 名前 only.
  EXPECT_EQ(plan.stats()->field_counts(), (std::vector<std::int64_t>{0, 1}));
  ASSERT_NE(plan.hash(0), nullptr);
  EXPECT_EQ(plan.hash(0)->bytes(), ReadFile(dir_ / "a.prn").size());
  EXPECT_EQ(plan.judge(), nullptr);
  ASSERT_EQ(s.extra_outputs.size(), 1u);
  EXPECT_TRUE(s.extra_outputs[0].created);
  EXPECT_EQ(ReadFile(dir_ / "dup.txt"), "");
  EXPECT_EQ(ReadFile(dir_ / "a_0.TXT"), CrLf({"0003CCCC"}));
}

TEST_F(RunPlanTest, NoOutputMayBeAFileTheRunReads) {
  request_.layout = dir_ / "layout.csv";
  request_.duplicates = dir_ / "layout.csv";
  request_.use_key = true;
  request_.key_text = "1-4";
  RunPlan plan;
  ASSERT_FALSE(plan.Prepare(request_).has_value());
  RunObserver quiet;
  const RunSummary s = plan.Run(quiet);
  EXPECT_EQ(s.outcome, RunOutcome::kSetupFailed);
  EXPECT_EQ(ReadFile(dir_ / "layout.csv"), "番号,1,4,9\n名前,5,4,X\n");
}

TEST_F(RunPlanTest, CsvAgainstBytesComparesTheSharedFieldsInTheLayoutsOrder) {
  // The CSV's columns in another order, one of them on its side only and left out; the CSV's
  // own layout names them, and is a file the run reads.
  WriteFile(dir_ / "b.csv", CrLf({"x,AAAA,0001", "y,BXBB,0002"}));
  WriteFile(dir_ / "columns.csv", "備考,1\n名前,2\n番号,3\n");
  request_.inputs[1] = dir_ / "b.csv";
  request_.formats[1].framing = Framing::kCsv;
  request_.layout = dir_ / "layout.csv";
  request_.csv_layout = dir_ / "columns.csv";
  request_.key_fields = "番号";
  request_.omit_fields = "備考";
  request_.duplicates = dir_ / "columns.csv";
  RunPlan plan;
  ASSERT_FALSE(plan.Prepare(request_).has_value());
  ASSERT_EQ(plan.job().ListFields.size(), 2u);
  EXPECT_EQ(plan.job().ListFields[0].name, "番号");
  EXPECT_EQ(plan.job().ListFields[0].start, 1);
  EXPECT_EQ(plan.job().ListFields[1].name, "名前");
  EXPECT_EQ(plan.job().ListFields[1].start, 2);
  EXPECT_EQ(plan.request().key_text, "1-1");
  EXPECT_FALSE(plan.job().UseOmit);  // 備考 is not among the fields compared at all
  EXPECT_TRUE(plan.job().TrimPadding);
  ASSERT_NE(plan.layout(), nullptr);
  ASSERT_NE(plan.csv_layout(), nullptr);
  RunObserver quiet;
  EXPECT_EQ(plan.Run(quiet).outcome, RunOutcome::kSetupFailed);
  EXPECT_EQ(ReadFile(dir_ / "columns.csv"), "備考,1\n名前,2\n番号,3\n");

  request_.duplicates.reset();
  RunPlan runs;
  ASSERT_FALSE(runs.Prepare(request_).has_value());
  EXPECT_EQ(runs.Run(quiet).outcome, RunOutcome::kDifferences);
  EXPECT_EQ(ReadFile(dir_ / "a_0.TXT"), CrLf({"0003CCCC"}));
  EXPECT_EQ(ReadFile(dir_ / "a_3.TXT"), CrLf({"y,BXBB,0002"}));
  EXPECT_EQ(ReadFile(dir_ / "a_4.TXT"), CrLf({"0001AAAA"}));

  // A key that is also omitted contradicts itself, as ranges that overlap do.
  request_.omit_fields = "備考,番号";
  RunPlan omitted;
  const std::optional<PlanRefusal> refusal = omitted.Prepare(request_);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->message, messages::kRangesOverlap);
}

TEST_F(RunPlanTest, AKeyFieldsNumberIsNoColumnOfAFixedRecord) {
  // Five fields of a 4-byte record, the key the fifth: field 5, not column 5.
  WriteFile(dir_ / "f.dat", "A001");
  WriteFile(dir_ / "f.csv", CrLf({"a,b,c,d,e", "A,A,0,0,1"}));
  WriteFile(dir_ / "overlapping.csv", "a,1,1\nb,1,1\nc,2,1\nd,3,1\ne,4,1\n");
  request_.inputs = {dir_ / "f.dat", dir_ / "f.csv"};
  std::string message;
  ASSERT_TRUE(ParseRecordFormat("fixed=4", request_.formats[0], message));
  ASSERT_TRUE(ParseRecordFormat("csv,header", request_.formats[1], message));
  request_.layout = dir_ / "overlapping.csv";
  request_.key_fields = "e";
  RunPlan plan;
  const std::optional<PlanRefusal> refusal = plan.Prepare(request_);
  ASSERT_FALSE(refusal.has_value()) << refusal->message;
  EXPECT_EQ(plan.request().key_text, "5-5");
  RunObserver quiet;
  EXPECT_EQ(plan.Run(quiet).outcome, RunOutcome::kNoDifferences);
}

}  // namespace
}  // namespace vesmer
