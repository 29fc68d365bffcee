// The comparison result list and UTF-8 input conversion through vesmer-batch, bytes compared
// exactly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "core/messages.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::CrLf;
using testing::Exists;
using testing::ReadFile;
using testing::RunBatchExe;
using testing::TempDir;
using testing::WriteFile;

const std::string kRuler = std::string(14, ' ') +
                           "....+....*....+....*....+....*....+....*....+."
                           "...*....+....*....+....*....+....*....+....*....+....#";

class BatchResultListTest : public ::testing::Test {
 protected:
  int Run(const std::string& source, const std::string& destination,
          std::vector<std::string> options = {}) {
    WriteFile(dir_ / "a.prn", source);
    WriteFile(dir_ / "b.prn", destination);
    options.push_back(dir_ / "a.prn");
    options.push_back(dir_ / "b.prn");
    return RunBatchExe(options).exit_code;
  }
  std::string List() { return ReadFile(dir_ / "a_5.TXT"); }
  // The four lines of one segment.
  static std::vector<std::string> Segment(const std::string& number, const std::string& segment,
                                          const std::string& o, const std::string& c,
                                          const std::string& r) {
    const std::string prefix = number + " " + segment;
    return {kRuler, prefix + "-O:" + o, prefix + "-C:" + c, prefix + "-R:" + r};
  }
  TempDir dir_;
};

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(BatchResultListTest, OneEntryMarksEachDifferingByte) {
  std::vector<std::string> source(11, "same"), destination(11, "same");
  source.push_back("ABC123");
  destination.push_back("ABD12345");
  EXPECT_EQ(Run(CrLf(source), CrLf(destination), {"-o", "25"}), 1);
  EXPECT_EQ(List(), CrLf(Segment("0000012", "000", "ABC123  ", "ABD12345", "  ?   ??")));
}

TEST_F(BatchResultListTest, SegmentsOfOneHundredColumns) {
  const std::string a100(100, 'a'), b100(100, 'b');
  Run(CrLf({a100}), CrLf({b100}));
  EXPECT_EQ(List(), CrLf(Segment("0000001", "000", a100, b100, std::string(100, '?'))));

  Run(CrLf({a100 + "x"}), CrLf({a100 + "y"}));
  EXPECT_EQ(List(), CrLf(Concat({Segment("0000001", "000", a100, a100, std::string(100, ' ')),
                                 Segment("0000001", "001", "x", "y", "?")})));

  const std::string a250(250, 'a');
  std::string b250 = a250;
  b250[249] = 'b';
  Run(CrLf({a250}), CrLf({b250}));
  const std::string list = List();
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 12);
  EXPECT_NE(list.find("0000001 002-R:" + std::string(49, ' ') + "?\r\n"), std::string::npos);
  EXPECT_NE(list.find("0000001 001-O:"), std::string::npos);
}

TEST_F(BatchResultListTest, WhichKindsFeedTheList) {
  const std::string entry = CrLf(Segment("0000001", "000", "x", "y", "?"));
  Run(CrLf({"x"}), CrLf({"y"}), {"-o", "235"});
  EXPECT_EQ(List(), entry);  // one entry per pair, not two
  Run(CrLf({"x"}), CrLf({"y"}), {"-o", "35"});
  EXPECT_EQ(List(), entry);
  const auto r = RunBatchExe({"--json", "-o", "5", dir_ / "a.prn", dir_ / "b.prn"});
  EXPECT_EQ(List(), "");
  const nlohmann::json list = nlohmann::json::parse(r.out)["outputs"][5];
  EXPECT_EQ(list["path"], dir_ / "a_5.TXT");
  EXPECT_EQ(list["selected"], true);
  EXPECT_EQ(list["count"], 0);
  // The pair was found although nothing listed it: the files differ.
  EXPECT_EQ(list["found"], 1);
  EXPECT_EQ(r.exit_code, 1);
}

TEST_F(BatchResultListTest, ComparingBytesListsEqualTextsOfOtherBytes) {
  // Pairs that are no character, lone lead bytes, and two codes of one character.
  const std::string source = CrLf({"0001 \x85\x40 100", "A\x81", "0002 \xED\x40", "same"});
  const std::string destination = CrLf({"0001 \x81\x7F 100", "A\x82", "0002 \xFA\x5C", "same"});
  WriteFile(dir_ / "a.prn", source);
  WriteFile(dir_ / "b.prn", destination);
  auto r = RunBatchExe(
      {"--json", "--compare-bytes", "--report", dir_ / "r.html", dir_ / "a.prn", dir_ / "b.prn"});
  EXPECT_EQ(r.exit_code, 1);
  nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["outcome"], "differences");
  EXPECT_EQ(j["same_text_other_bytes"], 3);
  // They are differences: nothing is left to warn about.
  EXPECT_EQ(r.err, "");
  const std::string report = ReadFile(dir_ / "r.html");
  EXPECT_NE(report.find("<th>文字ではなくバイトで比較</th><td class=\"m\">する</td>"),
            std::string::npos);
  EXPECT_NE(report.find("<th>文字としては一致するがバイトが異なる組</th><td>3 組</td>"),
            std::string::npos);
  EXPECT_EQ(ReadFile(dir_ / "a_2.TXT"), CrLf({"0001 \x85\x40 100", "A\x81", "0002 \xED\x40"}));
  EXPECT_EQ(ReadFile(dir_ / "a_3.TXT"), CrLf({"0001 \x81\x7F 100", "A\x82", "0002 \xFA\x5C"}));
  EXPECT_EQ(ReadFile(dir_ / "a_4.TXT"), CrLf({"same"}));
  EXPECT_EQ(List(),
            CrLf(Concat(
                {Segment("0000001", "000", "0001 \x85\x40 100", "0001 \x81\x7F 100", "     ??    "),
                 Segment("0000002", "000", "A\x81", "A\x82", " ?"),
                 Segment("0000003", "000", "0002 \xED\x40", "0002 \xFA\x5C", "     ??")})));

  // The options apply to the bytes: the first and third pairs differ only in omitted columns.
  r = RunBatchExe({"--json", "--compare-bytes", "-x", "6-7", dir_ / "a.prn", dir_ / "b.prn"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(ReadFile(dir_ / "a_4.TXT"), CrLf({"0001 \x85\x40 100", "0002 \xED\x40", "same"}));
  EXPECT_EQ(List(), CrLf(Segment("0000002", "000", "A\x81", "A\x82", " ?")));

  // Without the option they are equal pairs.
  r = RunBatchExe({dir_ / "a.prn", dir_ / "b.prn"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(ReadFile(dir_ / "a_4.TXT"), source);
  EXPECT_EQ(List(), "");
}

TEST_F(BatchResultListTest, KeyModeNumbersWithTheSourceLine) {
  Run(CrLf({"1", "2", "3", "4", "5", "6", "7x"}), CrLf({"1", "3", "7y"}), {"-k", "1-1"});
  EXPECT_EQ(List(), CrLf(Segment("0000007", "000", "7x", "7y", " ?")));
}

TEST_F(BatchResultListTest, DoubleByteCharacterAcrossTheCutCarries) {
  // A kanji (0x88 0x9F) in columns 100 and 101 of the source.
  const std::string source = std::string(99, 'a') + "\x88\x9F" + "bc";
  const std::string destination = std::string(99, 'a') + "XYbc";
  Run(CrLf({source}), CrLf({destination}));
  EXPECT_EQ(List(), CrLf(Concat({Segment("0000001", "000", std::string(99, 'a') + "\x88\x9F",
                                         std::string(99, 'a') + "XY", std::string(99, ' ') + "??"),
                                 Segment("0000001", "001", " bc", " bc", "   ")})));
}

TEST_F(BatchResultListTest, CutTestLooksAtBytePairs) {
  // Columns 99-100 hold 0x82 0x81; 0x81 with column 101 (0x40) is a valid pair, so the cut
  // carries although it falls between two characters.
  const std::string source = std::string(98, 'a') + "\x82\x81" + "\x40" + "z";
  const std::string destination = std::string(98, 'a') + "\x82\x81" + "\x40" + "y";
  Run(CrLf({source}), CrLf({destination}));
  EXPECT_EQ(List(),
            CrLf(Concat({Segment("0000001", "000", std::string(98, 'a') + "\x82\x81\x40",
                                 std::string(98, 'a') + "\x82\x81\x40", std::string(101, ' ')),
                         Segment("0000001", "001", " z", " y", " ?")})));
}

TEST_F(BatchResultListTest, MarkersFollowTheComparisonBytes) {
  // A full-width space stays in the list; an omitted range shows its bytes without markers.
  Run(CrLf({"\x81\x40"
            "AB12"}),
      CrLf({"\x81\x40"
            "CD13"}),
      {"-x", "3-4"});
  EXPECT_EQ(List(), CrLf(Segment("0000001", "000",
                                 "\x81\x40"
                                 "AB12",
                                 "\x81\x40"
                                 "CD13",
                                 "     ?")));
  // Arranged length: the shorter record is padded and every column past it carries "?".
  Run(CrLf({"ABCDEF"}), CrLf({"AXC"}), {"-a"});
  EXPECT_EQ(List(), CrLf(Segment("0000001", "000", "ABCDEF", "AXC   ", " ? ???")));
  // A double-byte character differing only in its second byte: one "?", under that byte.
  Run(CrLf({"\x88\x9F"}), CrLf({"\x88\xA0"}));
  EXPECT_EQ(List(), CrLf(Segment("0000001", "000", "\x88\x9F", "\x88\xA0", " ?")));
}

class BatchUtf8Test : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::string utf8_ = "キー,値\r\n1,あいう\r\n";
  const std::string sjis_ = "\x83\x4c\x81\x5b,\x92\x6c\r\n1,\x82\xa0\x82\xa2\x82\xa4\r\n";
};

TEST_F(BatchUtf8Test, ConvertsTheSourceOnDiskAndKeepsTheOriginal) {
  WriteFile(dir_ / "a.csv", utf8_);
  WriteFile(dir_ / "b.csv", sjis_);
  const auto r = RunBatchExe({"--json", "--utf8-source", dir_ / "a.csv", dir_ / "b.csv"});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(dir_ / "a.csv"), sjis_);
  EXPECT_EQ(ReadFile(dir_ / "a_UTF8.TXT"), utf8_);
  EXPECT_FALSE(Exists(dir_ / "a_SJIS.TXT"));
  EXPECT_NE(r.out.find(dir_ / "a_4.TXT"), std::string::npos);  // names follow the source path

  // A second run with the option still set: the backup exists, so nothing is renamed.
  const auto again = RunBatchExe({"--utf8-source", dir_ / "a.csv", dir_ / "b.csv"});
  EXPECT_EQ(again.exit_code, 2);
  EXPECT_EQ(again.err.rfind(std::string(messages::kCannotOpen) + "\n", 0), 0u) << again.err;
  EXPECT_EQ(ReadFile(dir_ / "a.csv"), sjis_);
  EXPECT_EQ(ReadFile(dir_ / "a_UTF8.TXT"), utf8_);
  EXPECT_TRUE(Exists(dir_ / "a_SJIS.TXT"));
}

TEST_F(BatchUtf8Test, DestinationFailureAfterTheSourceWasConverted) {
  WriteFile(dir_ / "a", utf8_);
  WriteFile(dir_ / "b.txt", utf8_);
  WriteFile(dir_ / "b_UTF8.TXT", "earlier backup");
  const auto r = RunBatchExe({"--utf8-source", "--utf8-destination", dir_ / "a", dir_ / "b.txt"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(ReadFile(dir_ / "a"), sjis_);  // no extension: a_UTF8.TXT beside it
  EXPECT_EQ(ReadFile(dir_ / "a_UTF8.TXT"), utf8_);
  EXPECT_EQ(ReadFile(dir_ / "b.txt"), utf8_);
  EXPECT_EQ(ReadFile(dir_ / "b_UTF8.TXT"), "earlier backup");
}

TEST_F(BatchUtf8Test, FullDiskLeavesTheInputUntouched) {
  std::string big;
  while (big.size() < 100000) big += utf8_;
  WriteFile(dir_ / "a.csv", big);
  WriteFile(dir_ / "b.csv", sjis_);
  const auto r =
      RunBatchExe({"--utf8-source", dir_ / "a.csv", dir_ / "b.csv"}, {.file_size = 50000});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_FALSE(Exists(dir_ / "a_SJIS.TXT"));  // the half-written conversion is gone
  EXPECT_EQ(r.err.rfind(std::string(messages::kCannotOpen) + "\n", 0), 0u) << r.err;
  EXPECT_EQ(ReadFile(dir_ / "a.csv"), big);
  EXPECT_FALSE(Exists(dir_ / "a_UTF8.TXT"));
}

// The conversion's intermediate name P_SJIS.TXT is never written when it is the other input,
// or a link leading elsewhere.
TEST_F(BatchUtf8Test, ConversionNeverWritesThroughTheOtherInputOrALink) {
  WriteFile(dir_ / "b_SJIS.TXT", sjis_);  // the source
  WriteFile(dir_ / "b.txt", utf8_);       // the destination, UTF-8
  auto r = RunBatchExe({"--utf8-destination", dir_ / "b_SJIS.TXT", dir_ / "b.txt"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(ReadFile(dir_ / "b_SJIS.TXT"), sjis_);
  EXPECT_EQ(ReadFile(dir_ / "b.txt"), utf8_);
  EXPECT_FALSE(Exists(dir_ / "b_UTF8.TXT"));
  EXPECT_NE(r.err.find(dir_ / "b_SJIS.TXT"), std::string::npos) << r.err;

  WriteFile(dir_ / "elsewhere.txt", "precious");
  WriteFile(dir_ / "a.csv", utf8_);
  WriteFile(dir_ / "c.csv", sjis_);
  ASSERT_EQ(::symlink((dir_ / "elsewhere.txt").c_str(), (dir_ / "a_SJIS.TXT").c_str()), 0);
  r = RunBatchExe({"--utf8-source", dir_ / "a.csv", dir_ / "c.csv"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(ReadFile(dir_ / "elsewhere.txt"), "precious");
  EXPECT_EQ(ReadFile(dir_ / "a.csv"), utf8_);
}

}  // namespace
}  // namespace vesmer
