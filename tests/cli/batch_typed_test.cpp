// vesmer-batch over typed fields: an old host file (fixed-length, EBCDIC, packed and zoned
// numbers, a copybook) against the new system's CSV or its own layout, fields matched by name
// and compared value against value.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using json = nlohmann::json;
using testing::Ebcdic;
using testing::FolderEntries;
using testing::ProcessResult;
using testing::ReadFile;
using testing::RunBatchExe;
using testing::TempDir;
using testing::WriteFile;

// `value` packed into `bytes` bytes, its sign half `sign` (C, F, D...), as a host writes it.
std::string Packed(long long value, std::size_t bytes, int sign = 0xC) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  digits.insert(0, bytes * 2 - 1 - digits.size(), '0');
  std::vector<int> halves;
  for (const char c : digits) halves.push_back(c - '0');
  halves.push_back(value < 0 ? 0xD : sign);
  std::string out;
  for (std::size_t i = 0; i < halves.size(); i += 2) {
    out += static_cast<char>((halves[i] << 4) | halves[i + 1]);
  }
  return out;
}

// `value` zoned in `digits` EBCDIC digits, its sign in the last byte's zone.
std::string Zoned(long long value, std::size_t digits) {
  std::string text = std::to_string(value < 0 ? -value : value);
  text.insert(0, digits - text.size(), '0');
  std::string out = Ebcdic(text);
  out.back() = static_cast<char>((value < 0 ? 0xD0 : 0xC0) | (out.back() & 0x0F));
  return out;
}

// The old system's staff record, 32 bytes: SHAIN-NO 9(6), SHIMEI X(10), KYUYO S9(7)V99 COMP-3,
// ZANDAKA S9(5), BUSHO X(4), FILLER X(2).
constexpr char kCopybook[] =
    "      * 社員レコード（旧）\n"
    "       01  SHAIN-REC.\n"
    "           05  SHAIN-NO      PIC 9(6).\n"
    "           05  SHIMEI        PIC X(10).\n"
    "           05  KYUYO         PIC S9(7)V99 COMP-3.\n"
    "           05  ZANDAKA       PIC S9(5).\n"
    "           05  BUSHO         PIC X(4).\n"
    "           05  FILLER        PIC X(2).\n";

std::string Staff(int number, std::string_view name, long long cents, long long balance,
                  std::string_view section, int sign = 0xC) {
  std::string padded(name);
  padded.resize(10, ' ');
  std::string record =
      Ebcdic(std::string(6 - std::to_string(number).size(), '0') + std::to_string(number)) +
      Ebcdic(padded) + Packed(cents, 5, sign) + Zoned(balance, 5) + Ebcdic(section) + Ebcdic("  ");
  EXPECT_EQ(record.size(), 32u);
  return record;
}

const std::string kSourceWord = "\x94\xe4\x8a\x72\x8c\xb3";       // 比較元
const std::string kDestinationWord = "\x94\xe4\x8a\x72\x90\xe6";  // 比較先
const std::string kKeyWord = "\x83\x4c\x81\x5b";                  // キー

std::string Quoted(const std::string& text) { return "\x81\x75" + text + "\x81\x76"; }

class BatchTypedTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ / name; }
  TempDir dir_;
};

TEST_F(BatchTypedTest, AnOldHostFileAgainstTheNewCsvFindsExactlyThePlantedDifferences) {
  // Planted: 2's salary (500.00 against 500.5), 5's balance (7 against 8), 4 only in the old
  // file, 6 only in the new. Alike in value only: 1's salary packed with sign F, 3's zero
  // balance against "-0", numbers against text without their leading zeros, and key 10 after
  // 6 by value (before it as text).
  const std::vector<std::string> old = {Staff(1, "YAMADA", 1234567, 100, "SOUM", 0xF),
                                        Staff(2, "SATO", 50000, -25, "EIGY"),
                                        Staff(3, "SUZUKI", 0, 0, "SOUM"),
                                        Staff(4, "TANAKA", 100, 1, "KAIH"),
                                        Staff(5, "ITO", 200, 7, "EIGY"),
                                        Staff(10, "KATO", 99999, -1, "SOUM")};
  std::string old_bytes;
  for (const std::string& record : old) old_bytes += record;
  WriteFile(Path("OLD.DAT"), old_bytes);
  const std::string csv =
      "SHAIN-NO,NAME,KYUYO,ZANDAKA,BIKO\r\n"
      "1,YAMADA,12345.67,100,x\r\n"
      "2,SATO,500.5,-25,y\r\n"
      "3,SUZUKI,0.00,-0,z\r\n"
      "5,ITO,2.00,8,\r\n"
      "6,WATANABE,1,1,\r\n"
      "10,KATO,999.99,-1,\r\n";
  WriteFile(Path("new.csv"), csv);
  WriteFile(Path("shain.cpy"), kCopybook);
  WriteFile(Path("map.csv"), "SHIMEI,NAME\n");
  const ProcessResult r = RunBatchExe(
      {"--json", "--source-format", "fixed=32,ibm-930", "--destination-format", "csv,header,utf-8",
       "--source-layout", Path("shain.cpy"), "--field-map", Path("map.csv"), "--key-fields",
       "SHAIN-NO", "--summary-csv", Path("summary.csv.txt"), Path("OLD.DAT"), Path("new.csv")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  EXPECT_EQ(r.err,
            "vesmer-batch: 警告: 比較元にしかない項目は比較していません: BUSHO\n"
            "vesmer-batch: 警告: 比較先にしかない項目は比較していません: BIKO\n");
  EXPECT_EQ(ReadFile(Path("OLD_0.TXT")), old[3]);
  EXPECT_EQ(ReadFile(Path("OLD_1.TXT")), "6,WATANABE,1,1,\r\n");
  EXPECT_EQ(ReadFile(Path("OLD_2.TXT")), old[1] + old[4]);
  EXPECT_EQ(ReadFile(Path("OLD_3.TXT")), "2,SATO,500.5,-25,y\r\n5,ITO,2.00,8,\r\n");
  EXPECT_EQ(ReadFile(Path("OLD_4.TXT")), old[0] + old[2] + old[5]);
  EXPECT_EQ(ReadFile(Path("OLD_5.TXT")),
            "0000002 " + kSourceWord + " 2 " + kDestinationWord + " 3 " + kKeyWord + Quoted("2") +
                "\r\n    KYUYO " + Quoted("500") + "\x81\xa8" + Quoted("500.5") + "\r\n0000005 " +
                kSourceWord + " 5 " + kDestinationWord + " 5 " + kKeyWord + Quoted("5") +
                "\r\n    ZANDAKA " + Quoted("7") + "\x81\xa8" + Quoted("8") + "\r\n");
  EXPECT_EQ(ReadFile(Path("OLD.DAT")), old_bytes);

  const json j = json::parse(r.out);
  ASSERT_EQ(j["fields"].size(), 4u);
  EXPECT_EQ(j["fields"][2]["name"], "KYUYO");
  EXPECT_EQ(j["fields"][2]["differing"], 1);
  EXPECT_EQ(j["fields"][2]["number"], true);
  EXPECT_EQ(j["fields"][2]["source"],
            (json{{"name", "KYUYO"}, {"start", 17}, {"length", 5}, {"type", "P"}, {"places", 2}}));
  EXPECT_EQ(j["fields"][2]["destination"], (json{{"name", "KYUYO"}, {"column", 3}, {"type", "X"}}));
  EXPECT_EQ(j["fields"][2]["invalid_numbers"], (json{0, 0}));
  EXPECT_EQ(j["fields"][1]["destination"]["name"], "NAME");
  EXPECT_FALSE(j["fields"][1].contains("invalid_numbers"));
  EXPECT_EQ(j["unmatched_fields"]["source"],
            (json{{{"name", "BUSHO"}, {"start", 27}, {"length", 4}, {"type", "X"}}}));
  EXPECT_EQ(j["unmatched_fields"]["destination"],
            (json{{{"name", "BIKO"}, {"column", 5}, {"type", "X"}}}));
  // The CSV of the evidence says the same, field by field.
  const std::string summary = ReadFile(Path("summary.csv.txt"));
  EXPECT_NE(summary.find("\r\nKYUYO,KYUYO 17-21 P 小数 2,KYUYO CSV 3 列目 X,1,50.0,0,0\r\n"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("\r\n比較元にしかない項目（比較していません）,BUSHO 27-30 X\r\n"),
            std::string::npos);
}

// The new system's fixed-length Shift-JIS records, fields moved, widened, retyped, renamed.
TEST_F(BatchTypedTest, LayoutsMatchFieldsMovedWidenedRetypedAndRenamed) {
  // Old: NO 9(4) zoned, AMOUNT packed S9(5)V99 (4 bytes), NAME X(6). New (code page 932 lines):
  // NAME first and wider, AMOUNT as text with its point, NO renamed ID and binary.
  WriteFile(Path("old.csv"), "NO,1,4,9\nAMOUNT,5,4,P,2\nNAME,9,6,X\n");
  WriteFile(Path("new.csv"), "NAME,1,10,X\nAMOUNT,11,10,9,2\nID,21,4,B\n");
  WriteFile(Path("map.csv"), "NO,ID\n");
  const auto old_record = [](int no, long long cents, std::string_view name) {
    std::string padded(name);
    padded.resize(6, ' ');
    return Ebcdic("000" + std::to_string(no)) + Packed(cents, 4) + Ebcdic(padded);
  };
  const auto new_record = [](int no, std::string_view amount, std::string_view name) {
    std::string text(name);
    text.resize(10, ' ');
    std::string zoned(amount);
    zoned.insert(0, 10 - zoned.size(), '0');
    return text + zoned + std::string("\0\0\0", 3) + static_cast<char>(no) + "\r\n";
  };
  WriteFile(Path("old.dat"), old_record(1, 12345, "ABC") + old_record(2, -50, "DEF"));
  WriteFile(Path("new.prn"),
            new_record(1, "0000012345", "ABC") + new_record(2, "000000005}", "DEF"));
  const std::vector<std::string> args = {"--json",
                                         "--source-format",
                                         "fixed=14,ibm-930",
                                         "--source-layout",
                                         Path("old.csv"),
                                         "--destination-layout",
                                         Path("new.csv"),
                                         "--field-map",
                                         Path("map.csv"),
                                         "--key-fields",
                                         "NO"};
  std::vector<std::string> all = args;
  all.push_back(Path("old.dat"));
  all.push_back(Path("new.prn"));
  ProcessResult r = RunBatchExe(all);
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  json j = json::parse(r.out);
  EXPECT_EQ(j["fields"][0]["destination"]["name"], "ID");
  EXPECT_EQ(j["fields"][0]["destination"]["type"], "B");
  // What a line holds past the new layout's last field is said not to be compared.
  EXPECT_EQ(j["unmatched_fields"]["source"], json::array());
  EXPECT_EQ(j["unmatched_fields"]["destination"][0]["name"], "25-");
  // The binary P/B field on a line of the new file is said to be unsafe there.
  EXPECT_NE(r.err.find("比較先は lines の形式です。P、B、BU の項目"), std::string::npos) << r.err;

  // Columns of bytes name nothing on the other side.
  std::vector<std::string> ranges = args;
  ranges.erase(ranges.end() - 2, ranges.end());
  ranges.insert(ranges.end(), {"-k", "1-4", Path("old.dat"), Path("new.prn")});
  r = RunBatchExe(ranges);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err,
            "★二つのレイアウトで比較するときは、キーと比較しない項目を --key-fields と "
            "--omit-fields に項目の名前で指定してください\n");

  // One cent apart: the difference is found, shown as numbers.
  WriteFile(Path("new.prn"),
            new_record(1, "0000012345", "ABC") + new_record(2, "000000004}", "DEF"));
  r = RunBatchExe(all);
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  EXPECT_EQ(ReadFile(Path("old_5.TXT")), "0000002 " + kSourceWord + " 2 " + kDestinationWord +
                                             " 2 " + kKeyWord + Quoted("2") + "\r\n    AMOUNT " +
                                             Quoted("-0.5") + "\x81\xa8" + Quoted("-0.4") + "\r\n");
}

TEST_F(BatchTypedTest, AFieldThatIsNoNumberIsCountedShownAndEqualsNoNumber) {
  WriteFile(Path("lay.csv"), "NO,1,2,9\nAMOUNT,3,3,P\n");
  // Record 2's amount has a digit half of A on the old side; record 3's is alike invalid on both
  // sides, byte for byte, and so equal.
  const std::string bad = std::string("\x1A\x00\x0C", 3);
  WriteFile(Path("old.dat"), Ebcdic("01") + Packed(5, 3) + Ebcdic("02") + bad + Ebcdic("03") + bad);
  WriteFile(Path("new.dat"),
            Ebcdic("01") + Packed(5, 3, 0xF) + Ebcdic("02") + Packed(5, 3) + Ebcdic("03") + bad);
  const ProcessResult r =
      RunBatchExe({"--json", "--format", "fixed=5,ibm-930", "--layout", Path("lay.csv"),
                   "--key-fields", "NO", Path("old.dat"), Path("new.dat")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outputs"][4]["found"], 2);  // 1 by value, 3 byte for byte
  EXPECT_EQ(r.err, "vesmer-batch: 警告: 値としては一致するがバイトが異なる組が 1 組あります\n");
  EXPECT_EQ(j["fields"][1]["invalid_numbers"], (json{1, 0}));
  EXPECT_EQ(ReadFile(Path("old_5.TXT")),
            "0000002 " + kSourceWord + " 2 " + kDestinationWord + " 2 " + kKeyWord + Quoted("2") +
                "\r\n    AMOUNT " + Quoted("X'1A000C'") + "\x81\xa8" + Quoted("5") + "\r\n");
}

TEST_F(BatchTypedTest, OneLayoutComparesTheBytesItLeavesOutAndMapsRangesToItsFields) {
  // The layout names bytes 1-2 and 6-8 of 10: 3-5 and 9-10 are compared all the same.
  WriteFile(Path("lay.csv"), "NO,1,2,9\nAMOUNT,6,3,P\n");
  const auto record = [](std::string_view no, std::string_view middle, long long amount,
                         std::string_view tail) {
    return Ebcdic(no) + Ebcdic(middle) + Packed(amount, 3) + Ebcdic(tail);
  };
  WriteFile(Path("old.dat"), record("01", "AAA", 1, "XX") + record("02", "BBB", 2, "YY"));
  WriteFile(Path("new.dat"), record("01", "AAA", 1, "XZ") + record("02", "BCB", 2, "YY"));
  ProcessResult r = RunBatchExe({"--json", "--format", "fixed=10,ibm-930", "--layout",
                                 Path("lay.csv"), "-k", "1-2", Path("old.dat"), Path("new.dat")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  json j = json::parse(r.out);
  ASSERT_EQ(j["fields"].size(), 4u);
  EXPECT_EQ(j["fields"][1]["name"], "3-5");
  EXPECT_EQ(j["fields"][1]["differing"], 1);
  EXPECT_EQ(j["fields"][3]["name"], "9-10");
  EXPECT_EQ(j["fields"][3]["differing"], 1);
  // A range that is not a whole field's columns cannot be a key of fields.
  r = RunBatchExe({"--format", "fixed=10,ibm-930", "--layout", Path("lay.csv"), "-k", "1-3",
                   Path("old.dat"), Path("new.dat")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err,
            "★キーの領域 1-3 桁が、レイアウトの項目の境目に合っていません（項目の名前で指定"
            "できます）\n");
}

TEST_F(BatchTypedTest, LayoutsThatCannotBeComparedAreRefusedWithNothingWritten) {
  WriteFile(Path("old.dat"), Ebcdic("0001ABCD"));
  WriteFile(Path("new.csv"), "ID,NAME\r\n1,ABCD\r\n");
  WriteFile(Path("old.csv"), "NO,1,4,9\nNAME,5,4,X\n");
  WriteFile(Path("other.csv"), "A,1\nB,2\n");
  WriteFile(Path("map.csv"), "NO,ID\n");
  WriteFile(Path("badmap.csv"), "NO,ID\nNAME,ID\n");
  WriteFile(Path("unknown.csv"), "NUMBER,ID\n");
  const std::vector<std::string> files = FolderEntries(dir_.path());
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--destination-layout", Path("other.csv")},
       "★比較元と比較先に、比較する同じ名前の項目がありません"},
      {{"--key-fields", "NO"},
       "★キーの項目は、比較元と比較先の両方にある名前で指定してください: NO"},
      {{"--field-map", Path("badmap.csv")},
       "★項目の対応ファイル " + Path("badmap.csv") + " の 2 行目: 新名「ID」は 1 行目にもあります"},
      {{"--field-map", Path("unknown.csv")},
       "★項目の対応ファイル " + Path("unknown.csv") + " の「NUMBER」は比較元の項目にありません"},
      {{"--csv-layout", Path("other.csv")},
       "★--csv-layout は --source-layout、--destination-layout と一緒には指定できません（CSV "
       "の側のレイアウトも --source-layout か --destination-layout で指定してください）"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--source-format",  "fixed=8,ibm-930", "--destination-format",
                                     "csv,header,utf-8", "--source-layout", Path("old.csv")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(Path("old.dat"));
    args.push_back(Path("new.csv"));
    const ProcessResult r = RunBatchExe(args);
    EXPECT_EQ(r.exit_code, 2) << c.message;
    EXPECT_EQ(r.err, c.message + "\n");
    EXPECT_EQ(FolderEntries(dir_.path()), files);
  }
  // A field past its side's record length, named with the side.
  WriteFile(Path("long.csv"), "NO,1,4,9\nNAME,5,9,X\n");
  const ProcessResult r =
      RunBatchExe({"--source-format", "fixed=8,ibm-930", "--destination-format", "csv,header,utf-8",
                   "--source-layout", Path("long.csv"), Path("old.dat"), Path("new.csv")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err,
            "★レイアウトファイル " + Path("long.csv") +
                " の 2 行目: 項目「NAME」（5-13 桁）が比較元のレコード長 8 バイトを越えています\n");
  // A map needs two layouts.
  const ProcessResult usage = RunBatchExe({"--field-map", Path("map.csv"), "--layout",
                                           Path("old.csv"), Path("old.dat"), Path("new.csv")});
  EXPECT_EQ(usage.exit_code, 2);
  EXPECT_NE(usage.err.find("--field-map には --source-layout か --destination-layout が必要です"),
            std::string::npos)
      << usage.err;
}

// Runs of records of code page 932 bytes, 15 a record: KEY 9(4), NAME X(4), AMT packed (3),
// BIN binary (4).
std::string Record15(std::string_view key, std::string_view name, long long amount, int bin) {
  std::string record = std::string(key) + std::string(name) + Packed(amount, 3);
  for (int shift = 24; shift >= 0; shift -= 8) record += static_cast<char>((bin >> shift) & 0xFF);
  return record;
}

TEST_F(BatchTypedTest, RuleRangesNameTheFieldsWhoseColumnsTheyCover) {
  WriteFile(Path("lay.csv"), "KEY,1,4,9\nNAME,5,4,X\nAMT,9,3,P\nBIN,12,4,B\n");
  WriteFile(Path("a.dat"), Record15("0001", "NAME", 5, 10));
  WriteFile(Path("b.dat"), Record15("0001", "NAMX", 6, 10));
  const auto run = [&](const std::string& rules) {
    WriteFile(Path("rules.csv"), rules);
    return RunBatchExe({"--json", "--format", "fixed=15", "--layout", Path("lay.csv"), "--rules",
                        Path("rules.csv"), Path("a.dat"), Path("b.dat")});
  };
  // The bytes of NAME accept its difference only: AMT's stays.
  ProcessResult r = run("5-8,無視\n");
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  EXPECT_EQ(json::parse(r.out)["expected"]["pairs"], 0);
  r = run("5-11,無視\n");
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_EQ(json::parse(r.out)["expected"]["pairs"], 1);
  // Field numbers are no columns: 2-3 cuts KEY and NAME, and is refused.
  r = run("2-3,無視\n");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("の「2-3」: レイアウトの項目の境目に合っていません"), std::string::npos)
      << r.err;
}

TEST_F(BatchTypedTest, ANameIsTheSourcesWhenTheMapGivesItToAnotherDestinationField) {
  WriteFile(Path("ls.csv"), "K,1,4,9\nB,5,3,X\nC,8,3,X\n");
  WriteFile(Path("ld.csv"), "K,1,4,9\nC,5,3,X\nB,8,3,X\n");
  WriteFile(Path("map.csv"), "B,C\nC,B\n");
  WriteFile(Path("a.txt"), "0001bbbccc\r\n0002bbbccc\r\n");
  WriteFile(Path("b.txt"), "0001bbbccc\r\n0002bbbXXX\r\n");
  // Omitting B (the source's B, the destination's C) leaves the source's C compared.
  const ProcessResult r =
      RunBatchExe({"--json", "--source-layout", Path("ls.csv"), "--destination-layout",
                   Path("ld.csv"), "--field-map", Path("map.csv"), "--key-fields", "K",
                   "--omit-fields", "B", Path("a.txt"), Path("b.txt")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const json j = json::parse(r.out);
  // B stays in the records, left out of the comparison; what follows C pairs as "11-".
  ASSERT_EQ(j["fields"].size(), 4u);
  EXPECT_EQ(j["fields"][1]["name"], "B");
  EXPECT_EQ(j["fields"][1]["differing"], 0);
  EXPECT_EQ(j["fields"][2]["name"], "C");
  EXPECT_EQ(j["fields"][2]["differing"], 1);
}

TEST_F(BatchTypedTest, BytesOnlyAnotherViewOfTheRecordNamesAreComparedAndFillerIsNot) {
  WriteFile(Path("two.cpy"),
            "       01  REC-A.\n"
            "           05  KEY-NO     PIC 9(4).\n"
            "           05  FILLER     PIC X(2).\n"
            "           05  AMT        PIC S9(5) COMP-3.\n"
            "       01  REC-B.\n"
            "           05  KEY-NO2    PIC 9(4).\n"
            "           05  FILLER     PIC X(5).\n"
            "           05  TAIL       PIC X(5).\n");
  const auto record = [](std::string_view filler, std::string_view tail) {
    return Ebcdic("0001") + Ebcdic(filler) + Packed(123, 3) + Ebcdic(tail);
  };
  WriteFile(Path("e.dat"), record("AA", "XXXXX"));
  WriteFile(Path("f.dat"), record("BB", "XXXXX"));
  std::string other = record("AA", "XXXXX");
  other[8] = '\x4C';  // AMT +124
  WriteFile(Path("g.dat"), other);
  const std::vector<std::string> args = {"--json",     "--format",      "fixed=14,ibm-930",
                                         "--layout",   Path("two.cpy"), Path("e.dat"),
                                         Path("f.dat")};
  // The FILLER of REC-A differs: not compared, as a FILLER is not.
  ProcessResult r = RunBatchExe(args);
  EXPECT_EQ(r.exit_code, 0) << r.err << r.out;
  // A difference in what is left out alone is no pair equal in value with other bytes.
  r = RunBatchExe({"--format", "fixed=14,ibm-930", "--layout", Path("two.cpy"), "--omit-fields",
                   "AMT", "-q", Path("e.dat"), Path("g.dat")});
  EXPECT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_EQ(r.err, "");
  // Bytes 10-14 belong to REC-B's TAIL alone: compared.
  WriteFile(Path("f.dat"), record("AA", "XXXXY"));
  r = RunBatchExe(args);
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  EXPECT_EQ(json::parse(r.out)["fields"].back()["name"], "10-14");
}

TEST_F(BatchTypedTest, CopybookNamesMatchWhateverTheirCaseAndFieldsLeftOutAreSaid) {
  WriteFile(Path("up.cpy"),
            "       01  REC.\n           05  KEY-NO     PIC 9(4).\n"
            "           05  AMT        PIC S9(5) COMP-3.\n           05  OLD-X      PIC X(1).\n");
  WriteFile(Path("mix.cpy"),
            "       01  REC.\n           05  KEY-NO     PIC 9(6).\n"
            "           05  amt        PIC S9(7) COMP-3.\n");
  WriteFile(Path("c.dat"), Ebcdic("0001") + Packed(123, 3) + Ebcdic("Z"));
  WriteFile(Path("d.dat"), Ebcdic("000001") + Packed(999, 4));
  const ProcessResult r =
      RunBatchExe({"--source-layout", Path("up.cpy"), "--destination-layout", Path("mix.cpy"),
                   "--source-format", "fixed=8,ibm-930", "--destination-format", "fixed=10,ibm-930",
                   "--key-fields", "KEY-NO", "-q", Path("c.dat"), Path("d.dat")});
  EXPECT_EQ(r.exit_code, 1) << r.err << r.out;
  EXPECT_NE(r.err.find("比較元にしかない項目は比較していません: OLD-X"), std::string::npos)
      << r.err;
}

TEST_F(BatchTypedTest, OneLayoutOverTwoFramingsAndAListOfFieldsKeepTheirVerdicts) {
  // Zoned digits of code page 932 lines: a list of fields changes what is written, not what
  // is equal.
  WriteFile(Path("l.csv"), "N,1,4,9\nT,5,2,X\n");
  WriteFile(Path("a.txt"), "0012AB\r\n");
  WriteFile(Path("b.txt"), "  12AB\r\n");
  for (const bool list : {false, true}) {
    std::vector<std::string> args = {"--layout", Path("l.csv"), Path("a.txt"), Path("b.txt")};
    if (list) args.insert(args.begin(), {"--list", "fields"});
    EXPECT_EQ(RunBatchExe(args).exit_code, 1) << list;
  }
  // One layout of a packed field over fixed records and lines of the same bytes: what follows
  // the fields up to each record's end pairs as one field.
  WriteFile(Path("p.csv"), "K,1,4,9\nA,5,2,P\n");
  WriteFile(Path("f.dat"), "0001" + Packed(12, 2) + "xy");
  WriteFile(Path("g.txt"), "0001" + Packed(12, 2) + "xy\r\n");
  const std::vector<std::string> args = {"--json",      "--source-format", "fixed=8",    "--layout",
                                         Path("p.csv"), Path("f.dat"),     Path("g.txt")};
  ProcessResult r = RunBatchExe(args);
  EXPECT_EQ(r.exit_code, 0) << r.err << r.out;
  WriteFile(Path("g.txt"), "0001" + Packed(12, 2) + "xz\r\n");
  r = RunBatchExe(args);
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  EXPECT_EQ(json::parse(r.out)["fields"][2]["name"], "7-");
  EXPECT_EQ(json::parse(r.out)["fields"][2]["differing"], 1);
}

TEST_F(BatchTypedTest, ANumberOfNoValueNeverEqualsATextThatLooksLikeIt) {
  WriteFile(Path("l.csv"), "K,1,4,9\nAMT,5,4,9\n");
  WriteFile(Path("a.txt"), "0001    \r\n");
  WriteFile(Path("b.csv"), "K,AMT\r\n1,X'20202020'\r\n");
  const ProcessResult r =
      RunBatchExe({"--source-layout", Path("l.csv"), "--destination-format", "csv,header,utf-8",
                   "--key-fields", "K", "-q", Path("a.txt"), Path("b.csv")});
  EXPECT_EQ(r.exit_code, 1) << r.err << r.out;
}

TEST_F(BatchTypedTest, TwoLayoutsPairTheBytesTheyLeaveOutOrSaySo) {
  WriteFile(Path("f1.dat"), std::string("\x00\x1c", 2) + "AAAA1234XY");
  WriteFile(Path("f2.dat"), std::string("\x00\x1c", 2) + "AAAA1234XZ");
  WriteFile(Path("l.lay"), "P,1,2,P\nT,3,4,X\nZ,7,4,9\n");
  WriteFile(Path("short.lay"), "P,1,2,P\nT,3,4,X\n");
  // The same layout given twice: bytes 11-12 pair with themselves and differ.
  ProcessResult r =
      RunBatchExe({"--json", "--format", "fixed=12", "--source-layout", Path("l.lay"),
                   "--destination-layout", Path("l.lay"), Path("f1.dat"), Path("f2.dat")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  EXPECT_EQ(json::parse(r.out)["fields"].back()["name"], "11-12");
  // Layouts that leave out other bytes: what is not compared is said, by name and columns.
  r = RunBatchExe({"--json", "--format", "fixed=12", "--source-layout", Path("l.lay"),
                   "--destination-layout", Path("short.lay"), Path("f1.dat"), Path("f2.dat")});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_NE(r.err.find("比較元にしかない項目は比較していません: Z, 11-12"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("比較先にしかない項目は比較していません: 7-12"), std::string::npos) << r.err;
  EXPECT_EQ(json::parse(r.out)["unmatched_fields"]["destination"][0]["name"], "7-12");
}

TEST_F(BatchTypedTest, CsvColumnsOfAttribute9AreValuesAndCounted) {
  // A layout whose every line is 名前,数,9 names CSV columns of numbers.
  WriteFile(Path("l9.csv"), "ID,1,9\nAMT,2,9\n");
  WriteFile(Path("s.csv"), "ID,AMT\r\n1,1.50\r\n2,3\r\n");
  WriteFile(Path("d.csv"), "ID,AMT\r\n01,1.5\r\n2,abc\r\n");
  const ProcessResult r =
      RunBatchExe({"--json", "--format", "csv,header,utf-8", "--layout", Path("l9.csv"),
                   "--key-fields", "ID", Path("s.csv"), Path("d.csv")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outputs"][4]["found"], 1);
  EXPECT_EQ(j["fields"][1]["number"], true);
  EXPECT_EQ(j["fields"][1]["invalid_numbers"], (json{0, 1}));
  EXPECT_EQ(r.err, "vesmer-batch: 警告: 値としては一致するがバイトが異なる組が 1 組あります\n");
}

TEST_F(BatchTypedTest, RulesNameARenamedFieldByEitherNameAndLongZonedFieldsAreRefused) {
  WriteFile(Path("ls.csv"), "K,1,4,9\nOLD,5,3,P,2\n");
  WriteFile(Path("ld.csv"), "K,1,4,9\nNEW,5,3,P,2\n");
  WriteFile(Path("map.csv"), "OLD,NEW\n");
  WriteFile(Path("a.dat"), "0001" + Packed(100, 3));
  WriteFile(Path("b.dat"), "0001" + Packed(101, 3));
  for (const char* name : {"OLD", "NEW"}) {
    WriteFile(Path("rules.csv"), std::string(name) + ",数値,0.01\n");
    const ProcessResult r =
        RunBatchExe({"--format", "fixed=7", "--source-layout", Path("ls.csv"),
                     "--destination-layout", Path("ld.csv"), "--field-map", Path("map.csv"),
                     "--rules", Path("rules.csv"), "-q", Path("a.dat"), Path("b.dat")});
    EXPECT_EQ(r.exit_code, 0) << name << r.err;
  }
  WriteFile(Path("long.csv"), "K,1,4,9\nZ,5,40,9\n");
  const ProcessResult r = RunBatchExe(
      {"--format", "fixed=44,ibm-930", "--layout", Path("long.csv"), Path("a.dat"), Path("b.dat")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "★レイアウトファイル " + Path("long.csv") +
                       " の 2 行目: 項目「Z」は値で比べる数（38 桁まで）には長すぎます（文字と"
                       "して比べるなら属性を X にしてください）\n");
}

TEST_F(BatchTypedTest, ANameOfOtherFieldsOnTheTwoSidesIsRefused) {
  // KIN is renamed KIN_OLD; the new file has a KIN of its own. Omitting KIN would omit the pair
  // and the new field at once, and hide the difference between 200 and 999.
  WriteFile(Path("old.csv"), "ID,1,3,X\nKIN,4,5,9\n");
  WriteFile(Path("map.csv"), "KIN,KIN_OLD\n");
  WriteFile(Path("A.DAT"),
            "00100100"
            "00200200");
  WriteFile(Path("B.csv"), "ID,KIN_OLD,KIN\r\n001,100,7\r\n002,999,8\r\n");
  const std::vector<std::string> args = {
      "--source-format", "fixed=8",     "--destination-format", "csv,header",   "--source-layout",
      Path("old.csv"),   "--field-map", Path("map.csv"),        "--key-fields", "ID"};
  std::vector<std::string> omitting = args;
  omitting.insert(omitting.end(), {"--omit-fields", "KIN", Path("A.DAT"), Path("B.csv")});
  ProcessResult r = RunBatchExe(omitting);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err,
            "★項目名「KIN」は、比較元と比較先で別の項目の名前です（項目の対応で名前が変わって"
            "います）。名前を変えた項目は新しい名前でも指定できます\n");
  std::vector<std::string> plain = args;
  plain.insert(plain.end(), {"-q", Path("A.DAT"), Path("B.csv")});
  EXPECT_EQ(RunBatchExe(plain).exit_code, 1);
}

TEST_F(BatchTypedTest, VeryNamesPairBeforeNamesThatDifferInCase) {
  WriteFile(Path("S.csv"), "ID,amt,AMT\r\n1,5,7\r\n");
  WriteFile(Path("D.csv"), "ID,AMT\r\n1,7\r\n");
  WriteFile(Path("dl.csv"), "ID,1\nAMT,2\n");
  const ProcessResult r = RunBatchExe({"--json", "--format", "csv,header", "--destination-layout",
                                       Path("dl.csv"), Path("S.csv"), Path("D.csv")});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_EQ(json::parse(r.out)["unmatched_fields"]["source"][0]["name"], "amt");
}

TEST_F(BatchTypedTest, ArrangedLengthsAreRefusedAndOtherLayoutsCountNoBytesAlike) {
  WriteFile(Path("lay.csv"), "ID,1,3,X\nAMT,4,2,P\n");
  WriteFile(Path("a.dat"), "ABC" + Packed(12, 2) + "DE");
  WriteFile(Path("b.dat"), "ABC" + Packed(12, 2) + "DEXY");
  const ProcessResult a =
      RunBatchExe({"-a", "--format", "fixed=7", "--destination-format", "fixed=9", "--layout",
                   Path("lay.csv"), Path("a.dat"), Path("b.dat")});
  EXPECT_EQ(a.exit_code, 2);
  EXPECT_EQ(a.err, "★-a（短い方の長さで比較）は、項目ごとに値で比べるレコードには使えません\n");
  // Two layouts that read the same fields from records of other lengths: a pair whose bytes
  // differ where only the new layout reads is not "equal in value with other bytes".
  WriteFile(Path("old.cpy"),
            "       01  R.\n           05  ID   PIC X(3).\n"
            "           05  AMT  PIC S9(3) COMP-3.\n");
  WriteFile(Path("new.cpy"),
            "       01  R.\n           05  ID   PIC X(3).\n"
            "           05  AMT  PIC S9(3) COMP-3.\n"
            "           05  MEMO PIC X(2).\n");
  WriteFile(Path("o.dat"), "001" + Packed(100, 2));
  WriteFile(Path("n.dat"), "001" + Packed(100, 2) + "XX");
  const ProcessResult r = RunBatchExe(
      {"--json", "--source-format", "fixed=5", "--destination-format", "fixed=7", "--source-layout",
       Path("old.cpy"), "--destination-layout", Path("new.cpy"), Path("o.dat"), Path("n.dat")});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_EQ(json::parse(r.out)["same_text_other_bytes"], 0);
}

TEST_F(BatchTypedTest, AGroupOfEitherCopybookNamesItsFields) {
  WriteFile(Path("old.cpy"),
            "       01  R.\n           05  KEY-NO  PIC 9(4).\n"
            "           05  AMT     PIC S9(3) COMP-3.\n");
  WriteFile(Path("new.cpy"),
            "       01  R.\n           05  KEYS.\n"
            "               10  KEY-NO  PIC 9(6).\n"
            "           05  AMT     PIC S9(5) COMP-3.\n");
  WriteFile(Path("o.dat"), Ebcdic("0002") + Packed(5, 2) + Ebcdic("0001") + Packed(7, 2));
  WriteFile(Path("n.dat"), Ebcdic("000001") + Packed(7, 3) + Ebcdic("000002") + Packed(5, 3));
  const std::vector<std::string> args = {"--source-format",
                                         "fixed=6,ibm-930",
                                         "--destination-format",
                                         "fixed=9,ibm-930",
                                         "--source-layout",
                                         Path("old.cpy"),
                                         "--destination-layout",
                                         Path("new.cpy"),
                                         "--sort",
                                         "-q",
                                         "--key-fields",
                                         "KEYS",
                                         Path("o.dat"),
                                         Path("n.dat")};
  const ProcessResult r = RunBatchExe(args);
  EXPECT_EQ(r.exit_code, 0) << r.err << r.out;
}

}  // namespace
}  // namespace vesmer
