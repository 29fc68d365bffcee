#include "core/start_checks.h"

#include <gtest/gtest.h>

#include "core/messages.h"

namespace vesmer {
namespace {

class Recorder : public RangeTextListener {
 public:
  std::vector<std::string> calls;
  void KeyTextNormalised(const std::string& text) override { calls.push_back("key:" + text); }
  void OmitTextNormalised(const std::string& text) override { calls.push_back("omit:" + text); }
};

StartRequest Valid() {
  StartRequest r;
  r.source = "/d/a.prn";
  r.destination = "/d/b.prn";
  return r;
}

TEST(StartChecksTest, PathsAreCheckedFirst) {
  RangeList key, omit;
  StartRequest r = Valid();
  r.source.clear();
  r.destination.clear();
  auto result = RunStartChecks(r, key, omit, nullptr);
  EXPECT_EQ(result.message, messages::kNoSource);
  EXPECT_EQ(result.failed, StartItem::kSource);
  r.source = "/d/a.prn";
  result = RunStartChecks(r, key, omit, nullptr);
  EXPECT_EQ(result.message, messages::kNoDestination);
  EXPECT_EQ(result.failed, StartItem::kDestination);
  r.destination = "/d/a.prn";
  result = RunStartChecks(r, key, omit, nullptr);
  EXPECT_EQ(result.message, messages::kSameFile);
  EXPECT_EQ(result.failed, StartItem::kSource);
  r.destination = "/d/A.prn";  // letter case counts
  EXPECT_TRUE(RunStartChecks(r, key, omit, nullptr).passed);
}

TEST(StartChecksTest, EmptyKeyTextStopsBeforeTheOmitTextIsTouched) {
  RangeList key, omit;
  StartRequest r = Valid();
  r.use_key = true;
  r.key_text = " 　";
  r.omit_text = " １-2";
  Recorder host;
  const auto result = RunStartChecks(r, key, omit, &host);
  EXPECT_EQ(result.message, messages::kNoKeyRange);
  EXPECT_EQ(result.failed, StartItem::kKeyRange);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"key:"}));
  EXPECT_EQ(r.omit_text, " １-2");
}

TEST(StartChecksTest, RangeTextsAreNormalisedEvenWithTheirOptionOff) {
  RangeList key, omit;
  StartRequest r = Valid();
  r.key_text = "１－５，７－９";
  r.omit_text = "bogus ";
  Recorder host;
  EXPECT_TRUE(RunStartChecks(r, key, omit, &host).passed);  // invalid texts, options off
  EXPECT_EQ(host.calls, (std::vector<std::string>{"key:1-5,7-9", "omit:bogus"}));
  EXPECT_EQ(r.key_text, "1-5,7-9");
}

TEST(StartChecksTest, RangeChecksInOrder) {
  struct Case {
    bool use_key, use_omit;
    const char *key, *omit;
    std::string message;
    StartItem failed;
  };
  const Case cases[] = {
      {false, true, "", "", messages::kNoOmitRange, StartItem::kOmitRange},
      {true, true, "5-3", "", messages::kNoOmitRange, StartItem::kOmitRange},
      {true, true, "5-3", "x", messages::kBadKeyRange, StartItem::kKeyRange},
      {true, true,
       "1-1,2-2,3-3,4-4,5-5,6-6,7-7,8-8,9-9,10-10,11-11,12-12,13-13,14-14,15-15,"
       "16-16,17-17,18-18,19-19,20-20,21-21",
       "x", messages::kKeyRangeOverLimit, StartItem::kKeyRange},
      {true, true, "1-5", "x", messages::kBadOmitRange, StartItem::kOmitRange},
      {false, true, "", ",,,,,,,,,,,,,,,,,,,,", messages::kOmitRangeOverLimit,
       StartItem::kOmitRange},
      {true, true, "1-10", "10-12", messages::kRangesOverlap, StartItem::kOmitRange},
  };
  for (const Case& c : cases) {
    RangeList key, omit;
    StartRequest r = Valid();
    r.use_key = c.use_key;
    r.use_omit = c.use_omit;
    r.key_text = c.key;
    r.omit_text = c.omit;
    const auto result = RunStartChecks(r, key, omit, nullptr);
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.message, c.message) << c.key << " / " << c.omit;
    EXPECT_EQ(result.failed, c.failed) << c.key << " / " << c.omit;
  }
}

TEST(StartChecksTest, AListWhoseOptionIsOffKeepsItsEntries) {
  RangeList key, omit;
  (void)ParseRangeText("3-4", omit);
  StartRequest r = Valid();
  r.use_key = true;
  r.key_text = "1-2";
  r.omit_text = "7-9";
  EXPECT_TRUE(RunStartChecks(r, key, omit, nullptr).passed);
  EXPECT_EQ(key[0], (ColumnRange{1, 2}));
  EXPECT_EQ(omit[0], (ColumnRange{3, 4}));
}

}  // namespace
}  // namespace vesmer
