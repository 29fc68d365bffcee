#include "core/result_list.h"

#include <gtest/gtest.h>

#include "core/comparison_run.h"
#include "tests/core/recording_observer.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::CrLf;
using testing::MakeJob;
using testing::RecordingObserver;
using testing::TempDir;
using testing::WriteFile;

TEST(ResultListTest, CutCarriesOnlyWhenALeadByteWouldBeSplit) {
  // Columns are 1-based: column 2 holds a lead byte followed by a trail byte.
  EXPECT_TRUE(CutCarries("A\x82\xA0Z", 2));
  EXPECT_FALSE(CutCarries("A\x82\xA0Z", 3));
  EXPECT_FALSE(CutCarries("AB\xB1Z", 2));                   // half-width katakana is one byte
  EXPECT_FALSE(CutCarries(std::string("A\x82\0Z", 4), 2));  // lead before NUL is one char
  // Byte pairs, not character boundaries: 82 A0 | 82 A0 seen at column 2 as A0 82: no carry;
  // at column 3 the 82 A0 pair is split.
  EXPECT_FALSE(CutCarries("\x82\xA0\x82\xA0", 2));
  EXPECT_TRUE(CutCarries("\x82\xA0\x82\xA0", 3));
}

class ResultListDisplayTest : public ::testing::Test {
 protected:
  RunSummary Run(const std::string& source, const std::string& destination) {
    WriteFile(dir_ / "a.prn", source);
    WriteFile(dir_ / "b.prn", destination);
    ComparisonJob job = MakeJob(dir_ / "a.prn", dir_ / "b.prn");
    observer_.shows_listed_pairs = display_;
    return RunComparison(job, observer_);
  }
  TempDir dir_;
  RecordingObserver observer_;
  bool display_ = true;
};

TEST_F(ResultListDisplayTest, ShowsEachSegmentWithFullWidthSpacesAsSquares) {
  const std::string source = std::string(99, 'a') + "\x81\x40" + "b";
  const std::string destination = std::string(99, 'a') + "cc" + "b";
  Run(CrLf({source}), CrLf({destination}));
  ASSERT_EQ(observer_.shown_segments.size(), 2u);
  EXPECT_EQ(observer_.shown_segments[0][0], std::string(99, 'a') + "□");
  EXPECT_EQ(observer_.shown_segments[0][1], std::string(99, 'a') + "cc");
  EXPECT_EQ(observer_.shown_segments[0][2], std::string(99, ' ') + "??");
  EXPECT_EQ(observer_.shown_segments[1][0], " b");
  EXPECT_EQ(observer_.segments_written, 2);
}

TEST_F(ResultListDisplayTest, WithoutDisplayNothingIsShownButEachSegmentYields) {
  display_ = false;
  Run(CrLf({std::string(250, 'x')}), CrLf({std::string(250, 'y')}));
  EXPECT_TRUE(observer_.shown_segments.empty());
  EXPECT_EQ(observer_.segments_written, 3);
}

}  // namespace
}  // namespace vesmer
