// vesmer-batch on records that are not CR lines: fixed-length and variable-length (RDW) records
// and LF lines, each written back into the result files exactly as read; padding left out
// across formats; input that does not fit its framing refused with nothing written.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "platform/sha256.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using nlohmann::json;
using testing::CrLf;
using testing::Ebcdic;
using testing::Exists;
using testing::ProcessResult;
using testing::ReadFile;
using testing::RunBatchExe;
using testing::TempDir;
using testing::WriteFile;

// A record behind its descriptor word: the length with the word, big-endian, then two zeros.
std::string Rdw(const std::string& record) {
  const std::size_t n = record.size() + 4;
  return std::string{static_cast<char>(n >> 8), static_cast<char>(n & 0xFF), '\0', '\0'} + record;
}

class BatchFormatsTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ / name; }
  ProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), "-q");
    return RunBatchExe(args);
  }
  json RunJson(std::vector<std::string> args, int expected_exit) {
    args.insert(args.begin(), "--json");
    const ProcessResult r = RunBatchExe(args);
    EXPECT_EQ(r.exit_code, expected_exit) << r.err << r.out;
    return r.out.empty() ? json() : json::parse(r.out);
  }
  TempDir dir_;
};

TEST_F(BatchFormatsTest, FixedRecordsAgainstLinesCompareWithoutTheirPaddingAndAreWrittenAsRead) {
  // The host's fixed-length file pads each record to 12 bytes, half-width and full-width
  // spaces alike; the new system's lines carry no padding. No record has a line end.
  WriteFile(Path("old.dat"),
            "A001 abc    "
            "B002 \x8a\xbf\x8e\x9a\x81\x40 "  // 漢字 and a full-width space
            "C003 xyz    "
            "E005 end    ");
  WriteFile(Path("new.txt"), CrLf({"A001 abc", "B002 \x8a\xbf\x8e\x9a", "C003 xyZ", "D004 new"}));
  const json j = RunJson(
      {"--source-format", "fixed=12", "-k", "1-4", "-o", "2345", Path("old.dat"), Path("new.txt")},
      1);
  EXPECT_EQ(j["inputs"][0]["format"], "fixed=12,cp932");
  EXPECT_EQ(j["inputs"][1]["format"], "lines,cp932");
  EXPECT_EQ(j["inputs"][0]["lines"], 4);
  // Fixed records go to the result files as read, with nothing after them.
  EXPECT_EQ(ReadFile(Path("old_0.TXT")), "E005 end    ");
  EXPECT_EQ(ReadFile(Path("old_1.TXT")), CrLf({"D004 new"}));
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), "C003 xyz    ");
  EXPECT_EQ(ReadFile(Path("old_3.TXT")), CrLf({"C003 xyZ"}));
  EXPECT_EQ(ReadFile(Path("old_4.TXT")),
            "A001 abc    "
            "B002 \x8a\xbf\x8e\x9a\x81\x40 ");
  // The list marks the differing byte, not the padding beside it.
  const std::string list = ReadFile(Path("old_5.TXT"));
  EXPECT_NE(list.find("0000003 000-R:       ?    \r\n"), std::string::npos) << list;

  // Asked to, padding is compared: every padded record differs.
  RunJson({"--source-format", "fixed=12", "--keep-padding", "-k", "1-4", Path("old.dat"),
           Path("new.txt")},
          1);
  EXPECT_EQ(ReadFile(Path("old_4.TXT")), "");
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), "A001 abc    B002 \x8a\xbf\x8e\x9a\x81\x40 C003 xyz    ");
}

TEST_F(BatchFormatsTest, OmittedColumnsPastTheEndOfAShorterRecordAreOmittedAcrossFormats) {
  // The fixed file pads its records, the lines end with their text: a line shorter than the
  // omitted columns 6-10 has them omitted all the same, as its padded record would.
  WriteFile(Path("old.dat"), "A001 abc    B002 def    C003 ghi   x");
  WriteFile(Path("new.txt"), CrLf({"A001 xyz", "B002 def", "C003"}));
  const json j = RunJson({"--source-format", "fixed=12", "-k", "1-4", "-x", "6-10", "-o", "2345",
                          Path("old.dat"), Path("new.txt")},
                         1);
  EXPECT_EQ(j["outputs"][4]["count"], 2);
  EXPECT_EQ(ReadFile(Path("old_4.TXT")), "A001 abc    B002 def    ");
  // Column 12 is no padding.
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), "C003 ghi   x");
  EXPECT_EQ(ReadFile(Path("old_3.TXT")), CrLf({"C003"}));
}

TEST_F(BatchFormatsTest, RdwRecordsCountColumnsAfterTheirWordAndKeepItInResultFiles) {
  WriteFile(Path("old.vb"), Rdw("K1 same") + Rdw("K2 old value") + Rdw("K4"));
  WriteFile(Path("new.vb"), Rdw("K1 same") + Rdw("K2 new value") + Rdw("K3 added"));
  const json j = RunJson({"--format", "rdw", "-k", "1-2", Path("old.vb"), Path("new.vb")}, 1);
  EXPECT_EQ(j["inputs"][1]["format"], "rdw,cp932");
  EXPECT_EQ(ReadFile(Path("old_0.TXT")), Rdw("K4"));
  EXPECT_EQ(ReadFile(Path("old_1.TXT")), Rdw("K3 added"));
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), Rdw("K2 old value"));
  EXPECT_EQ(ReadFile(Path("old_3.TXT")), Rdw("K2 new value"));
  // A result file of such records is itself a file of the format: compared with its input,
  // nothing differs.
  const json again = RunJson({"--format", "rdw", Path("old_2.TXT"), Path("old.vb"), "-o", "23"}, 1);
  EXPECT_EQ(again["inputs"][0]["lines"], 1);
}

TEST_F(BatchFormatsTest, LfLinesAgainstCrLfLinesAreEqualAndWrittenWithCrLf) {
  WriteFile(Path("new.txt"), "001 a\n002 b\n003 c\n");
  WriteFile(Path("old.txt"), CrLf({"001 a", "002 B", "003 c"}));
  RunJson({"--destination-format", "lf", "-o", "2345", Path("old.txt"), Path("new.txt")}, 1);
  EXPECT_EQ(ReadFile(Path("old_3.TXT")), CrLf({"002 b"}));
  EXPECT_EQ(ReadFile(Path("old_4.TXT")), CrLf({"001 a", "003 c"}));
}

TEST_F(BatchFormatsTest, SortedFixedRecordsAreReadInTheirFraming) {
  WriteFile(Path("old.dat"), "C3xB2xA1x");
  WriteFile(Path("new.dat"), "A1xC3yB2x");
  RunJson({"--format", "fixed=3", "--sort", "-k", "1-2", "-o", "2345", Path("old.dat"),
           Path("new.dat")},
          1);
  EXPECT_EQ(ReadFile(Path("old_4.TXT")), "A1xB2x");
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), "C3x");
  EXPECT_EQ(ReadFile(Path("old_3.TXT")), "C3y");
}

TEST_F(BatchFormatsTest, SortedRdwRecordsKeepTheirNumbersAndTheInputItsHash) {
  // Out of key order, so the sort holds the records: each goes through it without its word,
  // which its number and the bytes read must still account for.
  const std::string old_records = Rdw("K3 c") + Rdw("K1 X") + Rdw("K2 b") + Rdw("K2 b2");
  WriteFile(Path("old.vb"), old_records);
  WriteFile(Path("new.vb"), Rdw("K1 a") + Rdw("K2 b") + Rdw("K3 c"));
  const json j = RunJson({"--format", "rdw", "--sort", "-k", "1-2", "--report", Path("r.html"),
                          "--duplicates", Path("dup.txt"), Path("old.vb"), Path("new.vb")},
                         1);
  EXPECT_EQ(j["inputs"][0].value("sha256", ""), Sha256Hex(old_records)) << j.dump();
  const std::string list = ReadFile(Path("old_5.TXT"));
  EXPECT_NE(list.find("0000002 000-O:K1 X\r\n"), std::string::npos) << list;
  EXPECT_NE(ReadFile(Path("dup.txt")).find("\t4\tK2 b2\r\n"), std::string::npos);
  EXPECT_EQ(ReadFile(Path("old_0.TXT")), Rdw("K2 b2"));
}

// The whole records at the start of a result file of `format`: a write cut short leaves the
// last one in part.
std::int64_t WholeRecords(const std::string& bytes, const std::string& format) {
  if (format == "lf") {
    std::int64_t n = 0;
    for (std::size_t at = 0; (at = bytes.find("\r\n", at)) != std::string::npos; at += 2) ++n;
    return n;
  }
  if (format == "rdw") {
    std::int64_t n = 0;
    for (std::size_t at = 0; at + 4 <= bytes.size(); ++n) {
      at +=
          static_cast<unsigned char>(bytes[at]) * 256u + static_cast<unsigned char>(bytes[at + 1]);
      if (at > bytes.size()) break;
    }
    return n;
  }
  return static_cast<std::int64_t>(bytes.size() / std::stoul(format.substr(6)));  // fixed=N
}

TEST_F(BatchFormatsTest, AFullDiskCountsOnlyTheRecordsThatReachedTheirFile) {
  // Every pair differs. The records hold CRs of their own, so the line ends among the bytes
  // that never reached a file do not tell how many records they were.
  struct Case {
    const char* source_format;
    const char* destination_format;
  } cases[] = {{"fixed=12", "rdw"}, {"lf", "fixed=9"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source_format);
    std::string old_records, new_records;
    for (int i = 100000; i < 130000; ++i) {
      const std::string key = std::to_string(i);
      old_records += c.source_format == std::string("lf") ? key + "\r\rA\n" : key + "\r\r old";
      new_records +=
          c.destination_format == std::string("rdw") ? Rdw(key + "\r\rnew") : key + "\r\rB";
    }
    WriteFile(Path("old.dat"), old_records);
    WriteFile(Path("new.dat"), new_records);
    const ProcessResult r = RunBatchExe(
        {"--json", "-k", "1-6", "--source-format", c.source_format, "--destination-format",
         c.destination_format, "-o", "23", Path("old.dat"), Path("new.dat")},
        {.file_size = 100000});
    EXPECT_EQ(r.exit_code, 2) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "failed");
    for (const int kind : {2, 3}) {
      const json& o = j["outputs"][kind];
      ASSERT_EQ(o["kind"], kind);
      const std::string format = kind == 2 ? c.source_format : c.destination_format;
      const std::string written = ReadFile(o["path"]);
      EXPECT_LT(written.size(), 200000u);
      EXPECT_EQ(o["count"].get<std::int64_t>(), WholeRecords(written, format)) << format;
    }
  }
}

// The same records on both sides, host records written as blocks: a full disk still counts
// only the whole records that reached the file.
TEST_F(BatchFormatsTest, AFullDiskCountsOnlyTheSameRecordsThatReachedTheirFile) {
  std::string records;
  for (int i = 100000; i < 130000; ++i) {
    for (const char c : std::to_string(i)) records += static_cast<char>(0xF0 + (c - '0'));
    records += "\x0E\x45\x41\x0F\xC1";  // 一A
  }
  WriteFile(Path("old.dat"), records);
  WriteFile(Path("new.dat"), records);
  const ProcessResult r = RunBatchExe({"--json", "-k", "1-6", "--format", "fixed=11,ibm-930", "-o",
                                       "4", Path("old.dat"), Path("new.dat")},
                                      {.file_size = 100000});
  EXPECT_EQ(r.exit_code, 2) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outcome"], "failed");
  json o;
  for (const json& out : j["outputs"]) {
    if (out["kind"] == 4) o = out;
  }
  ASSERT_TRUE(o.is_object()) << r.out;
  const std::string written = ReadFile(o["path"]);
  EXPECT_LT(written.size(), 110000u);
  EXPECT_EQ(o["count"].get<std::int64_t>(), WholeRecords(written, "fixed=11")) << written.size();
  EXPECT_EQ(written, records.substr(0, written.size()));
}

TEST_F(BatchFormatsTest, InputThatDoesNotFitItsFramingFailsNamingWhereAndWritesNothing) {
  WriteFile(Path("new.txt"), CrLf({"x"}));
  WriteFile(Path("old_2.TXT"), "kept");  // a result file of an earlier run
  struct Case {
    const char* format;
    std::string content;
    const char* says;
  } cases[] = {
      {"fixed=10", "0123456789012", "13 バイトは固定長 10 バイトの倍数ではありません"},
      {"rdw", Rdw("ok") + std::string("\x00\x30\x00\x00", 4) + "short",
       "オフセット 6 のレコード記述語が示す 48 バイトのレコードがファイルの終わりを越えています"},
      {"rdw", std::string("\x00\x08\x01\x00", 4) + "abcd",
       "オフセット 0 のレコード記述語の 3、4 バイト目が 0 ではありません"},
      {"lf", "a\r\nb\nc\r\n", "2 行目の行末（LF）が 1 行目の行末（CR LF）と違います"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    WriteFile(Path("old.dat"), c.content);
    const ProcessResult r = Run({"--source-format", c.format, Path("old.dat"), Path("new.txt")});
    EXPECT_EQ(r.exit_code, 2) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(Path("old.dat")), std::string::npos) << r.out << r.err;
    EXPECT_EQ(ReadFile(Path("old_2.TXT")), "kept");
    EXPECT_FALSE(Exists(Path("old_3.TXT")));
  }
}

TEST_F(BatchFormatsTest, FormatsTheRunCannotReadAreRefusedBeforeAnyFileIsTouched) {
  WriteFile(Path("old.dat"), "0123456789");
  WriteFile(Path("new.txt"), CrLf({"x"}));
  WriteFile(Path("layout.csv"), "番号,1,4\r\n名前,8,5\r\n");
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--format", "fixed=abc"}, "--format: 形式の指定「fixed=abc」が正しくありません"},
      {{"--source-format", "lf,lines"}, "形式の指定「lf」と「lines」は一緒に使えません"},
      {{"--format", "header"}, "形式の指定「header」は csv と一緒にしか使えません"},
      {{"--source-format", "lf", "--utf8-source"}, "--utf8-source は形式"},
      {{"--source-format", "fixed=10", "--layout", Path("layout.csv")},
       " 行目: 項目「名前」（8-12 桁）が比較元のレコード長 10 バイトを越えています"},
      // Every key would be cut: records would pair by their order, not their keys.
      {{"--source-format", "fixed=10", "-k", "1-2,9-12"},
       "★キーの領域 9-12 桁が比較元のレコード長 10 バイトを越えています"},
      {{"--format", "fixed=2", "-k", "3-4", "--sort"},
       "★キーの領域 3-4 桁が比較元のレコード長 2 バイトを越えています"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.says);
    c.args.push_back(Path("old.dat"));
    c.args.push_back(Path("new.txt"));
    const ProcessResult r = Run(c.args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err << r.out;
    EXPECT_FALSE(Exists(Path("old_2.TXT")));
  }
  // A key through the last column is whole.
  const ProcessResult r =
      Run({"--source-format", "fixed=10", "-k", "9-10", Path("old.dat"), Path("new.txt")});
  EXPECT_EQ(r.exit_code, 1) << r.err;
}

}  // namespace
}  // namespace vesmer

namespace vesmer {
namespace {

// Records in ibm-930 (EBCDIC, double-byte text between SO 0x0E and SI 0x0F), padded with
// EBCDIC blanks (0x40) to `width`.
std::string Host(std::string bytes, std::size_t width) {
  bytes.resize(width, '\x40');
  return bytes;
}
const std::string kHostA = "\xC1\xF0\xF0\xF1\x40\x0E\x45\x65\x45\x63\x40\x40\x45\xAB\x45\x6E\x0F";
const std::string kHostB = "\xC2\xF0\xF0\xF2\x40\x0E\x45\x76\x45\x68\x45\x97\x45\x6E\x0F";
const std::string kHostD = "\xC4\xF0\xF0\xF4\x40\x86\x91\x86\x96";  // D004 ｶﾀｶﾅ

class BatchCodePageTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ / name; }
  TempDir dir_;
};

TEST_F(BatchCodePageTest, HostRecordsCompareWithShiftJisLinesByTheirText) {
  WriteFile(Path("old.dat"), Host(kHostA, 20) + Host(kHostB, 20) + Host(kHostD, 20));
  WriteFile(Path("new.txt"), CrLf({"A001 \x8eR\x93\x63\x81\x40\x91\xbe\x98\x59",  // 山田　太郎
                                   "B002 \x8d\xb2\x93\xa1",                       // 佐藤
                                   "D004 \xb6\xc0\xb6\xc5"}));                    // ｶﾀｶﾅ
  const ProcessResult r = RunBatchExe({"--json", "--source-format", "fixed=20,ibm-930", "-k", "1-4",
                                       Path("old.dat"), Path("new.txt")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["inputs"][0]["format"], "fixed=20,ibm-930");
  EXPECT_EQ(j["inputs"][0]["undecodable_records"], 0);
  EXPECT_EQ(j["outputs"][4]["found"], 2);
  // The host records go to the result files as read.
  EXPECT_EQ(ReadFile(Path("old_4.TXT")), Host(kHostA, 20) + Host(kHostD, 20));
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), Host(kHostB, 20));
  EXPECT_EQ(ReadFile(Path("old_3.TXT")), CrLf({"B002 \x8d\xb2\x93\xa1"}));
  // The list of a pair of texts names what differs, in code page 932.
  EXPECT_EQ(ReadFile(Path("old_5.TXT")),
            "0000002 \x94\xe4\x8a\x72\x8c\xb3 2 \x94\xe4\x8a\x72\x90\xe6 2 \x83\x4c\x81\x5b"
            "\x81\x75"
            "B002\x81\x76\r\n"
            "    \x83\x8c\x83\x52\x81\x5b\x83\x68 \x81\x75"
            "B002 \x8d\xb2\x93\xa1\x8e\x9f\x98\x59"
            "\x81\x76\x81\xa8\x81\x75"
            "B002 \x8d\xb2\x93\xa1\x81\x76\r\n");
}

TEST_F(BatchCodePageTest, FullWidthSpacesOfTextsEqualTwoBlanksOnlyWhenAsked) {
  // kHostA holds 山田　太郎, a DBCS space between the names; the line has two blanks there.
  WriteFile(Path("old.dat"), Host(kHostA, 20));
  WriteFile(Path("new.txt"), CrLf({"A001 \x8eR\x93\x63  \x91\xbe\x98\x59"}));
  const std::vector<std::string> args = {"-q",  "--source-format", "fixed=20,ibm-930", "-k",
                                         "1-4", Path("old.dat"),   Path("new.txt")};
  EXPECT_EQ(RunBatchExe(args).exit_code, 1);
  std::vector<std::string> spaces = args;
  spaces.insert(spaces.begin(), "-s");
  EXPECT_EQ(RunBatchExe(spaces).exit_code, 0);
}

TEST_F(BatchCodePageTest, FieldsOfALayoutNameWhatDiffers) {
  WriteFile(Path("layout.csv"), "番号,1,4\r\n名前,6,15\r\n");
  WriteFile(Path("old.dat"), Host(kHostB, 20));
  WriteFile(Path("new.txt"), CrLf({"B002 \x8d\xb2\x93\xa1"}));
  const ProcessResult r =
      RunBatchExe({"-q", "--source-format", "fixed=20,ibm-930", "--layout", Path("layout.csv"),
                   "--key-fields", "番号", Path("old.dat"), Path("new.txt")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const std::string list = ReadFile(Path("old_5.TXT"));
  EXPECT_NE(list.find("    \x96\xbc\x91\x4f \x81\x75\x8d\xb2\x93\xa1\x8e\x9f\x98\x59\x81\x76"
                      "\x81\xa8\x81\x75\x8d\xb2\x93\xa1\x81\x76\r\n"),
            std::string::npos)
      << list;
  EXPECT_EQ(list.find("\x94\xd4\x8d\x86 "), std::string::npos) << list;  // 番号 is equal
}

TEST_F(BatchCodePageTest, UnsortedHostRecordsSortByTextNotByEbcdicBytes) {
  // In EBCDIC digits (0xF0-0xF9) come after letters (0xC1-); as text they come first.
  WriteFile(Path("old.dat"), Host("\xC1\xC1", 4) + Host("\xF1\xF1", 4));  // AA, 11
  WriteFile(Path("new.txt"), CrLf({"11", "AA"}));
  const ProcessResult unsorted = RunBatchExe(
      {"-q", "--source-format", "fixed=4,ibm-930", "-k", "1-2", Path("old.dat"), Path("new.txt")});
  EXPECT_EQ(unsorted.exit_code, 2) << unsorted.err;  // out of key order
  const ProcessResult sorted = RunBatchExe({"-q", "--source-format", "fixed=4,ibm-930", "--sort",
                                            "-k", "1-2", Path("old.dat"), Path("new.txt")});
  EXPECT_EQ(sorted.exit_code, 0) << sorted.err << sorted.out;
  EXPECT_EQ(ReadFile(Path("old_4.TXT")), Host("\xF1\xF1", 4) + Host("\xC1\xC1", 4));
}

TEST_F(BatchCodePageTest, Utf8LfLinesWithAByteOrderMarkEqualShiftJisLines) {
  WriteFile(Path("new.txt"),
            "\xEF\xBB\xBF"
            "001 \xE5\xB1\xB1\n002 x\n");  // 山
  WriteFile(Path("old.txt"), CrLf({"001 \x8eR", "002 x"}));
  const ProcessResult r = RunBatchExe({"--json", "--destination-format", "lf,utf-8", "-k", "1-3",
                                       Path("old.txt"), Path("new.txt")});
  EXPECT_EQ(r.exit_code, 0) << r.err << r.out;
}

TEST_F(BatchCodePageTest, BytesThatAreNoCharacterAreCountedAndNeverEqualAnother) {
  // 0x85 0x40 is no character of code page 932: Windows shows it as the same "・" as 0x81 0x45.
  WriteFile(Path("old.txt"), CrLf({"1 \x85\x40", "2 ok"}));
  WriteFile(Path("new.txt"), "1 \xE3\x83\xBB\n2 ok\n");  // "・" in UTF-8
  const ProcessResult r = RunBatchExe({"--json", "--destination-format", "lf,utf-8", "-k", "1-1",
                                       Path("old.txt"), Path("new.txt")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["inputs"][0]["undecodable_records"], 1);
  EXPECT_EQ(j["inputs"][1]["undecodable_records"], 0);
  EXPECT_NE(ReadFile(Path("old_5.TXT")).find("\\x85\\x40"), std::string::npos);
}

// Of one code page on both sides, records equal byte for byte are never decoded whole: their
// keys come from the bytes that hold them (here kanji cut by the key's end), and each side still
// counts its records that hold no character and finds its keys out of order.
TEST_F(BatchCodePageTest, OneCodePageOnBothSidesKeepsKeysCountsAndOrderOfEqualRecords) {
  const std::string so = "\x0E", si = "\x0F";
  // Keys 一 一 (repeated), 二, then a record with a pair that is no character, then 山.
  const std::string one = so + "\x45\x41" + si, two = so + "\x45\x42" + si;
  const std::string yama = so + "\x45\x65" + si;
  const std::string bad = Host("\xC1" + so + "\xFF\xFF" + si, 12);
  const std::string records = Host(one + "\xC1" + so + "\x45\x42\x45\x41" + si, 12) +
                              Host(one + "\xC2", 12) + Host(two + "\xC1", 12) +
                              Host(two + "\xC2", 12).replace(4, 8, bad.substr(0, 8)) +
                              Host(yama + "\xC1", 12);
  WriteFile(Path("old.dat"), records);
  WriteFile(Path("new.dat"), records);
  // The key, bytes 1-3, ends inside the first pair of kanji: 一 alone.
  const std::vector<std::string> args = {"--json", "--format",     "fixed=12,ibm-930", "-k",
                                         "1-3",    "--duplicates", Path("dup.txt")};
  std::vector<std::string> same = args;
  same.insert(same.end(), {Path("old.dat"), Path("new.dat")});
  const ProcessResult r = RunBatchExe(same);
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  json j = json::parse(r.out);
  for (int side = 0; side < 2; ++side) {
    EXPECT_EQ(j["inputs"][side]["undecodable_records"], 1) << side;
    EXPECT_EQ(j["duplicates"][side]["records"], 2) << side;  // 一 and 二 twice each
  }
  EXPECT_EQ(j["outputs"][4]["found"], 5);
  EXPECT_EQ(ReadFile(Path("old_4.TXT")), records);

  // The same records with 山 first: out of order on the destination's side.
  WriteFile(Path("new.dat"), records.substr(48) + records.substr(0, 48));
  std::vector<std::string> disordered = args;
  disordered.insert(disordered.end(), {Path("old.dat"), Path("new.dat")});
  const ProcessResult o = RunBatchExe(disordered);
  EXPECT_EQ(o.exit_code, 2) << o.err << o.out;
  EXPECT_EQ(json::parse(o.out)["outcome"], "out-of-order") << o.out;
}

// Of one code page, records whose texts are equal and whose bytes are not (here a shift out and
// in with nothing between, moved) compare equal and are counted, as pairs of code page 932 lines
// are; across code pages every pair's bytes differ, and none is counted.
TEST_F(BatchCodePageTest, SameTextOfOtherBytesIsCountedWithinOneCodePage) {
  const std::string so = "\x0E", si = "\x0F";
  WriteFile(Path("old.dat"), "\xC1" + so + si + "\x40\xC2");
  WriteFile(Path("new.dat"), "\xC1\x40" + so + si + "\xC2");
  ProcessResult r =
      RunBatchExe({"--json", "--format", "fixed=5,ibm-930", Path("old.dat"), Path("new.dat")});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  json j = json::parse(r.out);
  EXPECT_EQ(j["same_text_other_bytes"], 1);
  ASSERT_EQ(j["warnings"].size(), 1u) << r.out;
  // No hint of --compare-bytes, which records of texts do not take.
  EXPECT_EQ(j["warnings"][0], "文字としては一致するがバイトが異なる組が 1 組あります");

  // A CSV field quoted on one side only.
  WriteFile(Path("old.csv"), "K,V\r\n1,\"ab\"\r\n");
  WriteFile(Path("new.csv"), "K,V\r\n1,ab\r\n");
  r = RunBatchExe(
      {"--json", "--format", "csv,header", "--key-fields", "K", Path("old.csv"), Path("new.csv")});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_EQ(json::parse(r.out)["same_text_other_bytes"], 1);

  WriteFile(Path("new.txt"), "A B\r\n");
  r = RunBatchExe(
      {"--json", "--source-format", "fixed=5,ibm-930", Path("old.dat"), Path("new.txt")});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  j = json::parse(r.out);
  EXPECT_EQ(j["same_text_other_bytes"], 0);
}

// Long stretches of the same fixed-length records on both sides, over many read chunks (7 bytes
// a record never fits a chunk whole): each record goes where the records' own path sends it,
// repeated and falling keys inside a stretch are found, and the counts stay right.
TEST_F(BatchCodePageTest, StretchesOfTheSameFixedRecordsGoWhereEachRecordGoes) {
  constexpr int kRecords = 600'000;
  const auto record = [](int key, char payload) {
    std::string r;
    for (int d = 100'000; d >= 1; d /= 10) r += static_cast<char>(0xF0 + key / d % 10);
    return r + payload;  // EBCDIC digits, then one byte
  };
  std::string old_file, new_file, matching, changed_old, changed_new, lone_old;
  for (int i = 0; i < kRecords; ++i) {
    // A key repeated at 250,000 on both sides.
    const std::string r = record(i == 250'000 ? i - 1 : i, '\xC1');
    old_file += r;
    if (i == 300'000) {
      lone_old += r;  // the destination lacks it
      continue;
    }
    if (i == 200'000 || i == 450'001) {
      const std::string other = record(i, '\xC2');
      new_file += other;
      changed_old += r;
      changed_new += other;
      continue;
    }
    new_file += r;
    matching += r;
  }
  WriteFile(Path("old.dat"), old_file);
  WriteFile(Path("new.dat"), new_file);
  const ProcessResult r = RunBatchExe(
      {"--json", "--format", "fixed=7,ibm-930", "-k", "1-6", Path("old.dat"), Path("new.dat")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outputs"][4]["found"], kRecords - 3);
  EXPECT_EQ(j["outputs"][4]["count"], kRecords - 3);
  EXPECT_EQ(j["outputs"][2]["found"], 2);
  EXPECT_EQ(j["duplicates"][0]["records"], 1);
  EXPECT_EQ(j["duplicates"][1]["records"], 1);
  EXPECT_EQ(j["inputs"][1]["lines"], kRecords - 1);
  EXPECT_TRUE(ReadFile(Path("old_4.TXT")) == matching);
  EXPECT_EQ(ReadFile(Path("old_0.TXT")), lone_old);
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), changed_old);
  EXPECT_EQ(ReadFile(Path("old_3.TXT")), changed_new);

  // Two records swapped deep in a stretch, on both sides: the keys fall there.
  std::string swapped = old_file;
  for (int b = 0; b < 7; ++b) std::swap(swapped[400'000 * 7 + b], swapped[400'001 * 7 + b]);
  WriteFile(Path("old.dat"), swapped);
  WriteFile(Path("new.dat"), swapped);
  const ProcessResult o = RunBatchExe(
      {"--json", "--format", "fixed=7,ibm-930", "-k", "1-6", Path("old.dat"), Path("new.dat")});
  EXPECT_EQ(o.exit_code, 2) << o.err << o.out;
  EXPECT_EQ(json::parse(o.out)["outcome"], "out-of-order") << o.out;
}

// Files of the same records big enough that the read-ahead looks at most of them before the
// run does (past the first read chunks): keys in the order of their characters, which in
// EBCDIC is not the order of their bytes (letters C1-E9 before digits F0-F9, as characters
// after them), a record with a pair that is no character deep in a stretch, keys of two ranges,
// and a last key with a kanji between shifts.
TEST_F(BatchCodePageTest, LongStretchesOfTheSameRecordsOrderKeysByTheirCharacters) {
  constexpr int kRecords = 1'000'000;
  constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";  // in the order of UTF-16
  const auto ebcdic = [](char c) {
    if (c <= '9') return static_cast<char>(0xF0 + (c - '0'));
    if (c <= 'I') return static_cast<char>(0xC1 + (c - 'A'));
    if (c <= 'R') return static_cast<char>(0xD1 + (c - 'J'));
    return static_cast<char>(0xE2 + (c - 'S'));
  };
  const auto digits = [&](int value, int count) {
    std::string out(static_cast<std::size_t>(count), ' ');
    for (int k = count - 1; k >= 0; --k, value /= 36) out[k] = ebcdic(kDigits[value % 36]);
    return out;
  };
  const std::string so = "\x0E", si = "\x0F";
  // Columns 1-6: the record's number in base 36; columns 4-6 then 1-3 of `split`: its high
  // digits then its low ones.
  std::string ordered, split;
  for (int i = 0; i < kRecords; ++i) {
    const std::string payload = i == 900'000 ? "\xC1" + so + "\xFF\xFF" + si + "\xC1"
                                             : std::string(6, static_cast<char>(0xC1 + i % 9));
    ordered +=
        (i == kRecords - 1 ? "\xF0" + so + "\x45\x41" + si + "\xF0" : digits(i, 6)) + payload;
    split += digits(i % (36 * 36 * 36), 3) + digits(i / (36 * 36 * 36), 3) + payload;
  }
  const auto run = [&](const std::string& file, const char* key) {
    WriteFile(Path("old.dat"), file);
    WriteFile(Path("new.dat"), file);
    return RunBatchExe({"--json", "--format", "fixed=12,ibm-930", "-k", key, "--duplicates",
                        Path("dup.txt"), Path("old.dat"), Path("new.dat")});
  };
  {
    const ProcessResult r = run(ordered, "1-6");
    ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outputs"][4]["found"], kRecords);
    EXPECT_EQ(j["duplicates"][0]["records"], 0);
    for (int side = 0; side < 2; ++side) EXPECT_EQ(j["inputs"][side]["undecodable_records"], 1);
    EXPECT_TRUE(ReadFile(Path("old_4.TXT")) == ordered);
  }
  {
    const ProcessResult r = run(split, "4-6,1-3");
    ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
    EXPECT_EQ(json::parse(r.out)["outputs"][4]["found"], kRecords);
  }
  // Without the last record, whose kanji would fall anyway.
  const std::string all_digits = ordered.substr(0, (kRecords - 1) * 12);
  for (const auto& [file, key] :
       {std::pair{&std::as_const(split), "1-6"}, std::pair{&all_digits, "4-6,1-3"}}) {
    // Keyed the other way: they fall where the low digits start again, though the bytes of
    // columns 1-6 go up.
    SCOPED_TRACE(key);
    const ProcessResult r = run(*file, key);
    EXPECT_EQ(r.exit_code, 2) << r.err << r.out;
    EXPECT_EQ(json::parse(r.out)["outcome"], "out-of-order") << r.out;
  }
  {
    // Two records swapped deep in the file, on both sides.
    std::string swapped = ordered;
    for (int b = 0; b < 12; ++b) std::swap(swapped[700'000 * 12 + b], swapped[700'001 * 12 + b]);
    const ProcessResult r = run(swapped, "1-6");
    EXPECT_EQ(r.exit_code, 2) << r.err << r.out;
    EXPECT_EQ(json::parse(r.out)["outcome"], "out-of-order") << r.out;
  }
  {
    // A key repeated deep in the file, on both sides.
    std::string repeated = ordered;
    repeated.replace(600'001 * 12, 6, ordered.substr(600'000 * 12, 6));
    const ProcessResult r = run(repeated, "1-6");
    ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["duplicates"][0]["records"], 1);
    EXPECT_EQ(j["duplicates"][1]["records"], 1);
    EXPECT_EQ(j["outputs"][4]["found"], kRecords);
  }
}

// Host records of 24 bytes against the new system's lines: an amount in columns 6-10, a name
// from column 12 (in the host record after a shift-out byte).
class BatchHostRulesTest : public BatchCodePageTest {
 protected:
  void SetUp() override {
    WriteFile(Path("old.dat"),
              Host(Ebcdic("K001 00100 ABC"), 24) + Host(Ebcdic("K002 00200 DEF"), 24) +
                  Host(Ebcdic("K003 00300 GHI"), 24) + Host(Ebcdic("K004 00400 JKL"), 24) +
                  Host(Ebcdic("K005 00500 ") + kSatoJiro, 24));
    WriteFile(Path("new.txt"), CrLf({"K001 00101 ABC",                  // amount within 1
                                     "K002 00200 XYZ",                  // name
                                     "K003 00301-GHI",                  // and column 11
                                     "K004 00500 JKL",                  // amount beyond 1
                                     "K005 00500 \x8d\xb2\x93\xa1"}));  // 佐藤次郎 -> 佐藤
    WriteFile(Path("layout.csv"), "番号,1,4\r\n金額,6,5\r\n名前,12,10\r\n");
    WriteFile(Path("rules.csv"), "金額,数値,1\r\n12-14,無視\r\n");
  }
  std::vector<std::string> Args(std::vector<std::string> more) {
    std::vector<std::string> args = {"--source-format",  "fixed=24,ibm-930", "--layout",
                                     Path("layout.csv"), "--key-fields",     "番号"};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(Path("old.dat"));
    args.push_back(Path("new.txt"));
    return args;
  }
  // 佐藤次郎 in ibm-930: shift-out, four double-byte characters, shift-in.
  const std::string kSatoJiro = "\x0E\x45\x76\x45\x68\x45\x97\x45\x6E\x0F";
};

TEST_F(BatchHostRulesTest, RulesAcceptDifferencesOfFieldsByTheirTextsAndNothingElse) {
  std::vector<std::string> args =
      Args({"--rules", Path("rules.csv"), "--expected", Path("expected.txt")});
  args.insert(args.begin(), "--json");
  const ProcessResult r = RunBatchExe(args);
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["expected"]["pairs"], 2) << j.dump();
  EXPECT_EQ(j["expected"]["rules"][0]["pairs"], 1);  // K001
  EXPECT_EQ(j["expected"]["rules"][1]["pairs"], 1);  // K002; 佐藤次郎 lies past 12-14
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), Host(Ebcdic("K003 00300 GHI"), 24) +
                                             Host(Ebcdic("K004 00400 JKL"), 24) +
                                             Host(Ebcdic("K005 00500 ") + kSatoJiro, 24));
  // Fields counted by their texts on the differing pairs; texts have no columns.
  EXPECT_EQ(j["fields"][1]["differing"], 2);
  EXPECT_EQ(j["fields"][2]["differing"], 1);
  EXPECT_FALSE(j.contains("differing_columns"));
  const std::string list = ReadFile(Path("old_5.TXT"));
  EXPECT_EQ(list.find("K001"), std::string::npos) << list;
  EXPECT_EQ(list.find("K002"), std::string::npos) << list;
  // The accepted pairs, listed as the field list lists pairs of texts.
  EXPECT_EQ(ReadFile(Path("expected.txt")),
            cp932::FromUtf8("0000001 比較元 1 比較先 1 キー「K001」\r\n"
                            "    金額 「00100」→「00101」\r\n"
                            "0000002 比較元 2 比較先 2 キー「K002」\r\n"
                            "    名前 「DEF」→「XYZ」\r\n"));
}

TEST_F(BatchHostRulesTest, TheReportListsDifferingFieldsAndTheSummaryCountsThem) {
  const ProcessResult r = RunBatchExe(Args({"-q", "--rules", Path("rules.csv"), "--report",
                                            Path("r.html"), "--summary-csv", Path("s.csv")}));
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const std::string html = ReadFile(Path("r.html"));
  EXPECT_NE(html.find("差異 1　比較元 3 行　比較先 3 行　キー「K003」"), std::string::npos);
  EXPECT_NE(html.find("<tr><th>金額</th><td class=\"tv\">0030<span class=\"q\">0</span></td>"
                      "<td class=\"tv\">0030<span class=\"q\">1</span></td></tr>"),
            std::string::npos)
      << html;
  // Decoded from the host's double-byte characters.
  EXPECT_NE(html.find("<tr><th>名前</th><td class=\"tv\">佐藤<span class=\"q\">次郎</span></td>"
                      "<td class=\"tv\">佐藤</td></tr>"),
            std::string::npos)
      << html;
  // The accepted pairs, their accepted fields marked alike.
  EXPECT_NE(html.find("<td class=\"tv\"><span class=\"q\">DEF</span></td>"
                      "<td class=\"tv\"><span class=\"q\">XYZ</span></td>"),
            std::string::npos)
      << html;
  EXPECT_EQ(html.find("-O:"), std::string::npos);
  const std::string csv = ReadFile(Path("s.csv"));
  EXPECT_NE(csv.find("\r\n差異のある組,3\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\r\n差異のある桁,\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\r\n番号,1-4,X,0,0.0\r\n金額,6-10,X,2,66.7\r\n名前,12-21,X,1,33.3\r\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\r\n桁,差異のある組\r\n\r\n"), std::string::npos) << csv;
}

TEST_F(BatchCodePageTest, ARuleNeverTakesCharactersCodePage932LacksForOneAnother) {
  // ☃ and ☄ are no characters of code page 932; written in it, both would be one stand-in.
  WriteFile(Path("old.txt"), "K001 x\xE2\x98\x83\nK002 x\xE2\x98\x83\nK003 x\xE2\x98\x83\n");
  WriteFile(Path("new.txt"),
            "K001 \xEF\xBD\x98\xE2\x98\x84\nK002 \xEF\xBD\x98\xE2\x98\x83\nK003 "
            "x\xE2\x98\x84\n");
  WriteFile(Path("rules.csv"), "6-11,全半角\r\n6-11,前後空白\r\n");
  const ProcessResult r = RunBatchExe({"--json", "--format", "lf,utf-8", "-k", "1-4", "--rules",
                                       Path("rules.csv"), Path("old.txt"), Path("new.txt")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["expected"]["pairs"], 1);  // K002: only x against a full-width x
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), CrLf({"K001 x\xE2\x98\x83", "K003 x\xE2\x98\x83"}));
  // The list shows them as what they are.
  EXPECT_NE(ReadFile(Path("old_5.TXT")).find("U+2604"), std::string::npos);
}

TEST_F(BatchCodePageTest, WhatCannotReadTextsIsRefused) {
  WriteFile(Path("old.dat"), Host(kHostA, 20));
  WriteFile(Path("new.txt"), CrLf({"x"}));
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--source-format", "fixed=20,ibm-9999"}, "コードページ「ibm-9999」はありません"},
      {{"--source-format", "fixed=20,ibm-930", "--compare-bytes"}, "--compare-bytes は"},
      // EBCDIC writes LF, quotes and commas as other bytes: such records cannot be cut so.
      {{"--source-format", "lf,ibm-930"}, "lf の区切りを読めません"},
      {{"--format", "csv,ibm-939"}, "csv の区切りを読めません"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(Path("old.dat"));
    args.push_back(Path("new.txt"));
    const ProcessResult r = RunBatchExe(args);
    EXPECT_EQ(r.exit_code, 2) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(Path("old_2.TXT")));
  }
}

}  // namespace
}  // namespace vesmer

namespace vesmer {
namespace {

class BatchCsvTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ / name; }
  TempDir dir_;
};

TEST_F(BatchCsvTest, FieldsAreComparedOneByOneAndNamedByTheHeader) {
  WriteFile(Path("old.csv"),
            "id,name,amount\r\n"
            "1,\"Yamada, Taro\",100\r\n"
            "2,Sato,200\r\n"
            "3,\"two\nlines\",300\r\n"
            "4,short\r\n");
  WriteFile(Path("new.csv"),
            "id,name,amount\n"
            "1,\"Yamada, Taro\",100\n"
            "2,Sato,250\n"
            "3,\"two\nlines\",300\n"
            "4,short,\n"
            "5,new,1\n");
  const ProcessResult r = RunBatchExe(
      {"--json", "--format", "csv,header", "--key-fields", "id", Path("old.csv"), Path("new.csv")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["inputs"][0]["short_records"], 1);
  EXPECT_EQ(j["inputs"][1]["short_records"], 0);
  // Records as read, quotes and the line end inside a field kept, each ended by CR LF.
  EXPECT_EQ(ReadFile(Path("old_4.TXT")), "1,\"Yamada, Taro\",100\r\n3,\"two\nlines\",300\r\n");
  EXPECT_EQ(ReadFile(Path("old_1.TXT")), "5,new,1\r\n");
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), "2,Sato,200\r\n4,short\r\n");
  const std::string list = ReadFile(Path("old_5.TXT"));
  EXPECT_NE(list.find("    amount \x81\x75"
                      "200\x81\x76\x81\xa8\x81\x75"
                      "250\x81\x76\r\n"),
            std::string::npos)
      << list;
  EXPECT_EQ(list.find("    name "), std::string::npos) << list;  // equal, not listed

  // The field a record lacks, left out by number, no longer makes it differ.
  const json omitted =
      json::parse(RunBatchExe({"--json", "--format", "csv,header", "--key-fields", "id",
                               "--omit-fields", "3", Path("old.csv"), Path("new.csv")})
                      .out);
  EXPECT_EQ(omitted["outputs"][4]["found"], 4);
}

TEST_F(BatchCsvTest, PaddingOfFieldsIsLeftOutAcrossCodePages) {
  WriteFile(Path("old.csv"), "1,\x8eR\x93\x63  ,x\r\n");  // 山田 and two blanks, code page 932
  WriteFile(Path("new.csv"), "1,\xE5\xB1\xB1\xE7\x94\xB0,x\r\n");  // 山田 in UTF-8
  EXPECT_EQ(RunBatchExe({"-q", "--source-format", "csv", "--destination-format", "csv,utf-8",
                         "--key-fields", "1", Path("old.csv"), Path("new.csv")})
                .exit_code,
            0);
  EXPECT_EQ(RunBatchExe({"-q", "--source-format", "csv", "--destination-format", "csv,utf-8",
                         "--keep-padding", "--key-fields", "1", Path("old.csv"), Path("new.csv")})
                .exit_code,
            1);
}

TEST_F(BatchCsvTest, RulesAndTheReportNameFieldsByTheHeader) {
  WriteFile(Path("old.csv"),
            "id,name,amount\r\n"
            "1,Sato,100\r\n"
            "2,\x82\xe2\x82\xdc\x82\xbe,200\r\n"  // やまだ
            "3,x,300\r\n"
            "4,Ito,200\r\n");
  WriteFile(Path("new.csv"),
            "id,name,amount\n"
            "1,Sato,103\n"
            "2,\xE3\x83\xA4\xE3\x83\x9E\xE3\x83\x80,200\n"  // ヤマダ in UTF-8
            "3,y,300\n"
            "4,Ito,250\n");
  WriteFile(Path("rules.csv"), "amount,数値,5\r\nname,かなカナ\r\n");
  const ProcessResult r = RunBatchExe(
      {"--json", "--source-format", "csv,header", "--destination-format", "csv,header,utf-8",
       "--key-fields", "id", "--rules", Path("rules.csv"), "--report", Path("r.html"),
       "--summary-csv", Path("s.csv"), Path("old.csv"), Path("new.csv")});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["expected"]["pairs"], 2) << j.dump();
  EXPECT_EQ(j["expected"]["rules"][0]["pairs"], 1);
  EXPECT_EQ(j["expected"]["rules"][1]["pairs"], 1);
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), "3,x,300\r\n4,Ito,200\r\n");
  // The header's fields, each counted on the differing pairs.
  ASSERT_EQ(j["fields"].size(), 3u) << j.dump();
  EXPECT_EQ(j["fields"][1]["name"], "name");
  EXPECT_EQ(j["fields"][1]["differing"], 1);
  EXPECT_EQ(j["fields"][2]["start"], 3);
  EXPECT_EQ(j["fields"][2]["differing"], 1);
  const std::string html = ReadFile(Path("r.html"));
  EXPECT_NE(html.find("<tr><th>amount</th><td class=\"tv\">2<span class=\"q\">0</span>0</td>"
                      "<td class=\"tv\">2<span class=\"q\">5</span>0</td></tr>"),
            std::string::npos)
      << html;
  EXPECT_NE(html.find("<tr><th>name</th><td class=\"tv\"><span class=\"q\">やまだ</span></td>"),
            std::string::npos)
      << html;
  const std::string csv = ReadFile(Path("s.csv"));
  EXPECT_NE(csv.find("\r\nid,1-1,X,0,0.0\r\nname,2-2,X,1,50.0\r\namount,3-3,X,1,50.0\r\n"),
            std::string::npos)
      << csv;

  // A name the header does not have is refused, naming the rules file.
  WriteFile(Path("rules.csv"), "kingaku,無視\r\n");
  const ProcessResult unknown =
      RunBatchExe({"--format", "csv,header", "--key-fields", "id", "--rules", Path("rules.csv"),
                   Path("old.csv"), Path("old.csv")});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_NE(unknown.err.find(Path("rules.csv")), std::string::npos) << unknown.err;
}

TEST_F(BatchCsvTest, WhatCannotBeComparedIsRefusedAndNothingIsWritten) {
  WriteFile(Path("a.csv"), "id,v\r\n1,x\r\n");
  WriteFile(Path("b.csv"), "key,v\r\n1,x\r\n");
  WriteFile(Path("open.csv"), "id,v\r\n1,\"never closed\r\n");
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--format", "csv", "-k", "1-2", Path("a.csv"), Path("a.csv")}, "-k と -x は CSV"},
      {{"--format", "csv,header", "--key-fields", "id", Path("a.csv"), Path("b.csv")},
       "見出しが異なります"},
      {{"--format", "csv,header", "--key-fields", "nai", Path("a.csv"), Path("a.csv")}, "nai"},
      {{"--source-format", "csv", Path("a.csv"), Path("b.csv")}, "CSV と CSV でない形式"},
      {{"--format", "csv,header", Path("open.csv"), Path("a.csv")},
       "2 行目から始まるレコードの引用符が閉じていません"},
  };
  for (const auto& c : cases) {
    const ProcessResult r = RunBatchExe(c.args);
    EXPECT_EQ(r.exit_code, 2) << c.says << r.out;
    EXPECT_NE((r.err + r.out).find(c.says), std::string::npos) << r.err << r.out;
    EXPECT_FALSE(Exists(Path("a_2.TXT")));
    EXPECT_FALSE(Exists(Path("open_2.TXT")));
  }
}

}  // namespace
}  // namespace vesmer

namespace vesmer {
namespace {

TEST(BatchFieldListTest, ShiftJisLinesWithALayoutCanBeListedFieldByField) {
  TempDir dir;
  const std::string layout = dir / "layout.csv", a = dir / "a.txt", b = dir / "b.txt";
  WriteFile(layout, "番号,1,4\r\n名前,6,4\r\n金額,11,3\r\n");
  WriteFile(a, CrLf({"0001 abcd 100", "0002 efgh 200"}));
  WriteFile(b, CrLf({"0001 abcd 100", "0002 efgx 201"}));
  const ProcessResult r =
      RunBatchExe({"-q", "--list", "fields", "--layout", layout, "--key-fields", "番号", a, b});
  ASSERT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(ReadFile(dir / "a_5.TXT"),
            "0000002 \x94\xe4\x8a\x72\x8c\xb3 2 \x94\xe4\x8a\x72\x90\xe6 2 \x83\x4c\x81\x5b"
            "\x81\x75"
            "0002\x81\x76\r\n"
            "    \x96\xbc\x91\x4f \x81\x75"
            "efgh\x81\x76\x81\xa8\x81\x75"
            "efgx\x81\x76\r\n"
            "    \x8b\xe0\x8a\x7a \x81\x75"
            "200\x81\x76\x81\xa8\x81\x75"
            "201\x81\x76\r\n");
  EXPECT_EQ(RunBatchExe({"-q", "--list", "columns", a, b}).exit_code, 2);
}

}  // namespace
}  // namespace vesmer

namespace vesmer {
namespace {

// Double-byte text of ibm-930 between SO and SI.
const std::string kYamadaTaro = "\x0E\x45\x65\x45\x63\x40\x40\x45\xAB\x45\x6E\x0F";  // 山田　太郎
const std::string kSatoJiro = "\x0E\x45\x76\x45\x68\x45\x97\x45\x6E\x0F";            // 佐藤次郎
// The same in UTF-8, and in code page 932.
const std::string kYamadaTaroUtf8 = "\xE5\xB1\xB1\xE7\x94\xB0\xE3\x80\x80\xE5\xA4\xAA\xE9\x83\x8E";
const std::string kSatoJiroUtf8 = "\xE4\xBD\x90\xE8\x97\xA4\xE6\xAC\xA1\xE9\x83\x8E";

// A record of the host's layout below: 番号 1-4, 氏名 6-17, 金額 19-23, 24 bytes, blanks
// between and after the fields.
std::string HostRecord(std::string_view number, const std::string& name, std::string_view amount) {
  std::string record = Ebcdic(number) + Ebcdic(" ") + name;
  record.resize(18, '\x40');
  record += Ebcdic(amount) + Ebcdic(" ");
  EXPECT_EQ(record.size(), 24u);
  return record;
}

// The result list's words in code page 932.
const std::string kSource = "\x94\xe4\x8a\x72\x8c\xb3";       // 比較元
const std::string kDestination = "\x94\xe4\x8a\x72\x90\xe6";  // 比較先
const std::string kKey = "\x83\x4c\x81\x5b";                  // キー
const std::string kAmount = "\x8b\xe0\x8a\x7a";               // 金額
const std::string kName = "\x8e\x81\x96\xbc";                 // 氏名

std::string Quoted(const std::string& cp932) { return "\x81\x75" + cp932 + "\x81\x76"; }

class BatchCsvAgainstOtherFormatsTest : public ::testing::Test {
 protected:
  BatchCsvAgainstOtherFormatsTest() {
    WriteFile(Path("host.csv"), "番号,1,4\r\n氏名,6,12,N\r\n金額,19,5,9\r\n");
    host_ = HostRecord("A001", kYamadaTaro, "00100") + HostRecord("B002", kSatoJiro, "00200") +
            HostRecord("C003", Ebcdic("XYZ"), "00300") + HostRecord("E005", kSatoJiro, "00500");
    WriteFile(Path("old.dat"), host_);
  }
  std::string Path(const std::string& name) const { return dir_ / name; }
  // The new system's CSV: the same fields in another order, UTF-8 with a header.
  void WriteCsv(const std::vector<std::string>& records) {
    std::vector<std::string> lines = {"金額,番号,氏名"};
    lines.insert(lines.end(), records.begin(), records.end());
    WriteFile(Path("new.csv"), CrLf(lines));
  }
  ProcessResult Run(std::vector<std::string> args) {
    std::vector<std::string> all = {
        "--json",           "--source-format", "fixed=24,ibm-930", "--destination-format",
        "csv,header,utf-8", "--layout",        Path("host.csv")};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(Path("old.dat"));
    all.push_back(Path("new.csv"));
    return RunBatchExe(all);
  }

  TempDir dir_;
  std::string host_;
};

TEST_F(BatchCsvAgainstOtherFormatsTest, HostRecordsAndCsvCompareFieldByFieldByName) {
  const std::string a = "00100,A001," + kYamadaTaroUtf8, b = "00200,B002," + kSatoJiroUtf8,
                    c = "00300,C003,XYZ", e = "00500,E005," + kSatoJiroUtf8;
  WriteCsv({a, b, c, e});
  ProcessResult r = Run({"--key-fields", "番号"});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  json j = json::parse(r.out);
  EXPECT_EQ(j["inputs"][0]["format"], "fixed=24,ibm-930");
  EXPECT_EQ(j["inputs"][1]["format"], "csv,header,utf-8");
  EXPECT_EQ(j["inputs"][1]["short_records"], 0);
  EXPECT_EQ(ReadFile(Path("old_4.TXT")), host_);
  for (const char* kind : {"0", "1", "2", "3", "5"}) {
    EXPECT_EQ(ReadFile(Path(std::string("old_") + kind + ".TXT")), "") << kind;
  }

  // One field changed, one key changed: that pair and those records, nothing else.
  const std::string b2 = "00250,B002," + kSatoJiroUtf8, c2 = "00300,C009,XYZ";
  WriteCsv({a, b2, c2, e});
  r = Run({"--key-fields", "番号"});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  j = json::parse(r.out);
  EXPECT_EQ(j["outputs"][5]["count"], 1);
  EXPECT_EQ(ReadFile(Path("old_0.TXT")), HostRecord("C003", Ebcdic("XYZ"), "00300"));
  EXPECT_EQ(ReadFile(Path("old_1.TXT")), CrLf({c2}));
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), HostRecord("B002", kSatoJiro, "00200"));
  EXPECT_EQ(ReadFile(Path("old_3.TXT")), CrLf({b2}));
  EXPECT_EQ(ReadFile(Path("old_4.TXT")),
            HostRecord("A001", kYamadaTaro, "00100") + HostRecord("E005", kSatoJiro, "00500"));
  EXPECT_EQ(ReadFile(Path("old_5.TXT")), "0000002 " + kSource + " 2 " + kDestination + " 3 " +
                                             kKey + Quoted("B002") + "\r\n    " + kAmount + " " +
                                             Quoted("200") + "\x81\xa8" + Quoted("250") + "\r\n");
}

TEST_F(BatchCsvAgainstOtherFormatsTest, SortedInputsGiveWhatInputsInKeyOrderGive) {
  // Both out of key order; the CSV's records keep the lines they were on.
  const std::string a = "00100,A001," + kYamadaTaroUtf8, b = "00250,B002," + kSatoJiroUtf8,
                    d = "00400,D004,NEW";
  WriteCsv({d, b, a});
  host_ = HostRecord("E005", kSatoJiro, "00500") + HostRecord("B002", kSatoJiro, "00200") +
          HostRecord("A001", kYamadaTaro, "00100");
  WriteFile(Path("old.dat"), host_);
  ASSERT_EQ(Run({"--key-fields", "番号"}).exit_code, 2);  // out of key order
  const ProcessResult r = Run({"--sort", "--key-fields", "番号,氏名"});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  EXPECT_EQ(ReadFile(Path("old_0.TXT")), HostRecord("E005", kSatoJiro, "00500"));
  EXPECT_EQ(ReadFile(Path("old_1.TXT")), CrLf({d}));
  EXPECT_EQ(ReadFile(Path("old_2.TXT")), HostRecord("B002", kSatoJiro, "00200"));
  EXPECT_EQ(ReadFile(Path("old_3.TXT")), CrLf({b}));
  EXPECT_EQ(ReadFile(Path("old_4.TXT")), HostRecord("A001", kYamadaTaro, "00100"));
  // The key of two fields, each without its padding.
  EXPECT_EQ(ReadFile(Path("old_5.TXT")), "0000002 " + kSource + " 2 " + kDestination + " 3 " +
                                             kKey + Quoted("B002\x8d\xb2\x93\xa1\x8e\x9f\x98\x59") +
                                             "\r\n    " + kAmount + " " + Quoted("200") +
                                             "\x81\xa8" + Quoted("250") + "\r\n");
}

// A CSV record without the column of a field is not a blank field: the pair differs there, and
// an omitted field it lacks is not compared.
TEST_F(BatchCsvAgainstOtherFormatsTest, AFieldTheCsvRecordLacksDiffersFromABlankOne) {
  const std::string blank_name(12, '\x40');
  WriteFile(Path("old.dat"), HostRecord("A001", blank_name, "00100"));
  WriteCsv({"00100,A001"});  // no 氏名
  ProcessResult r = Run({"--key-fields", "番号", "--list", "fields"});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  json j = json::parse(r.out);
  EXPECT_EQ(j["inputs"][1]["short_records"], 1);
  EXPECT_EQ(j["outputs"][2]["found"], 1);
  EXPECT_NE(ReadFile(Path("old_5.TXT")).find("\x8e\x81\x96\xbc"), std::string::npos);  // 氏名
  r = Run({"--key-fields", "番号", "--omit-fields", "氏名"});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_EQ(json::parse(r.out)["outputs"][4]["found"], 1);
}

TEST_F(BatchCsvAgainstOtherFormatsTest, ANamelessCsvIsNamedByItsOwnLayout) {
  WriteFile(Path("new.csv"),
            CrLf({"A001,00100," + kYamadaTaroUtf8 + ",x", "B002,00200," + kSatoJiroUtf8 + ",y",
                  "C003,00300,XYZ,z", "E005,00500," + kSatoJiroUtf8}));
  WriteFile(Path("columns.csv"), "番号,1\r\n金額,2,9\r\n氏名,3,N\r\n");
  const std::vector<std::string> args = {
      "--source-format", "fixed=24,ibm-930", "--destination-format", "csv,utf-8",
      "--layout",        Path("host.csv"),   "--key-fields",         "番号",
      Path("old.dat"),   Path("new.csv")};
  ProcessResult r = RunBatchExe(args);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("★比較先の CSV の列に名前がありません"), std::string::npos) << r.err;
  std::vector<std::string> named = args;
  named.insert(named.begin(), {"--json", "--csv-layout", Path("columns.csv")});
  r = RunBatchExe(named);
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_EQ(json::parse(r.out)["inputs"][1]["short_records"], 1);  // fewer fields than the first
  EXPECT_EQ(ReadFile(Path("old_4.TXT")), host_);
}

TEST_F(BatchCsvAgainstOtherFormatsTest, ShiftJisLinesAgainstCsvNeedEveryNameOnBothSides) {
  // 名前 is padded in the lines, not in the CSV; 更新日 and 備考 are each on one side only.
  WriteFile(Path("lines.csv"), "番号,1,4\r\n名前,6,6\r\n金額,13,3\r\n更新日,17,8\r\n");
  WriteFile(Path("old.txt"),
            CrLf({"0001 ABC    100 20240101", "0002 \x8eR\x93\x63   200 20240102"}));
  // 備考,金額,名前,番号 in code page 932.
  WriteFile(Path("new.csv"),
            CrLf({"\x94\xf5\x8d\x6c,\x8b\xe0\x8a\x7a,\x96\xbc\x91\x4f,\x94\xd4\x8d\x86",
                  "x,100,ABC,0001", "y,200,\x8eR\x93\x63,0002"}));  // 山田, code page 932
  WriteFile(Path("old_2.TXT"), "kept");
  const auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(),
                {"--json", "--destination-format", "csv,header", "--layout", Path("lines.csv")});
    args.push_back(Path("old.txt"));
    args.push_back(Path("new.csv"));
    return RunBatchExe(args);
  };
  const struct {
    std::vector<std::string> args;
    const char* says;
  } refused[] = {
      {{"--key-fields", "番号"},
       "★比較元にしかない項目があります: 更新日。比較先にしかない項目があります: 備考"
       "（比較しない項目は --omit-fields で指定してください）"},
      {{"--key-fields", "番号", "--omit-fields", "更新日"},
       "★比較先にしかない項目があります: 備考"},
      {{"--key-fields", "更新日", "--omit-fields", "更新日,備考"},
       "★キーの項目は、比較元と比較先の両方にある名前で指定してください: 更新日"},
      {{"--key-fields", "番号", "--omit-fields", "更新日,備考,作成者"},
       "★比較元にも比較先にもない項目です: 作成者"},
  };
  for (const auto& c : refused) {
    const ProcessResult r = run(c.args);
    EXPECT_EQ(r.exit_code, 2) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(Path("old_2.TXT")), "kept");
    EXPECT_FALSE(Exists(Path("old_4.TXT")));
  }
  // Omitted, they are not compared; the padding of 名前 is no difference, in its key either.
  ProcessResult r = run({"--key-fields", "名前,番号", "--omit-fields", "更新日,備考"});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_EQ(ReadFile(Path("old_4.TXT")),
            CrLf({"0001 ABC    100 20240101", "0002 \x8eR\x93\x63   200 20240102"}));
  // Kept, the padding differs.
  r = run({"--keep-padding", "--key-fields", "番号", "--omit-fields", "更新日,備考"});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const std::string list = ReadFile(Path("old_5.TXT"));
  EXPECT_NE(
      list.find("    \x96\xbc\x91\x4f " + Quoted("ABC   ") + "\x81\xa8" + Quoted("ABC") + "\r\n"),
      std::string::npos)
      << list;
  EXPECT_NE(list.find(Quoted("\x8eR\x93\x63  ") + "\x81\xa8" + Quoted("\x8eR\x93\x63")),
            std::string::npos)
      << list;
  EXPECT_EQ(list.find(kAmount), std::string::npos) << list;
}

TEST(BatchCsvLayoutTest, ALayoutNamesTheColumnsOfCsvWithoutAHeader) {
  TempDir dir;
  const std::string a = dir / "a.csv", b = dir / "b.csv", columns = dir / "columns.csv";
  WriteFile(columns, "項目名,列番号,属性\r\n番号,1,9\r\n金額,3\r\n更新日,4\r\n予備,5\r\n");
  WriteFile(a, CrLf({"1,Sato,200,20240101", "2,Suzuki,300,20240101", "3,Tanaka,400,20240101"}));
  WriteFile(b, CrLf({"1,Sato,250,20240301", "2,Suzuki,300,20240302", "3,Tanaka,400,20240303"}));
  const ProcessResult r = RunBatchExe({"--json", "--format", "csv", "--layout", columns,
                                       "--key-fields", "番号", "--omit-fields", "更新日", a, b});
  ASSERT_EQ(r.exit_code, 1) << r.err << r.out;
  const json j = json::parse(r.out);
  // Column 5 is past every record: empty, and each record short.
  EXPECT_EQ(j["inputs"][0]["short_records"], 3);
  EXPECT_EQ(ReadFile(dir / "a_4.TXT"), CrLf({"2,Suzuki,300,20240101", "3,Tanaka,400,20240101"}));
  EXPECT_EQ(ReadFile(dir / "a_5.TXT"), "0000001 " + kSource + " 1 " + kDestination + " 1 " + kKey +
                                           Quoted("1") + "\r\n    " + kAmount + " " +
                                           Quoted("200") + "\x81\xa8" + Quoted("250") + "\r\n");

  // With headers too, the layout's names win and the headers are no record; headers that
  // differ no longer matter.
  WriteFile(a, CrLf({"id,name,amount,date", "1,Sato,200,20240101"}));
  WriteFile(b, CrLf({"ID,NAME,AMOUNT,DATE", "1,Sato,250,20240101"}));
  const ProcessResult headed = RunBatchExe(
      {"-q", "--format", "csv,header", "--layout", columns, "--key-fields", "番号", a, b});
  ASSERT_EQ(headed.exit_code, 1) << headed.err;
  EXPECT_NE(ReadFile(dir / "a_5.TXT").find("    " + kAmount + " "), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "a_2.TXT"), CrLf({"1,Sato,200,20240101"}));
}

TEST(BatchCsvLayoutTest, ALayoutOfTheOtherFormIsRefusedAndNothingIsWritten) {
  TempDir dir;
  const std::string columns = dir / "columns.csv", bytes = dir / "bytes.csv";
  WriteFile(columns, "番号,1\r\n金額,3\r\n");
  WriteFile(bytes, "番号,1,4\r\n金額,6,3\r\n");
  WriteFile(dir / "a.csv", CrLf({"1,x"}));
  WriteFile(dir / "b.txt", CrLf({"0001 100"}));
  WriteFile(dir / "a_2.TXT", "kept");
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"--layout", columns, dir / "a.csv", dir / "b.txt"},
       "★レイアウトファイル " + columns +
           " は CSV の列のレイアウト（1 行目が 名前,列番号 の形）です。CSV でない入力には "
           "名前,開始桁,桁数[,属性] のレイアウトを指定してください"},
      {{"--format", "csv", "--layout", bytes, dir / "a.csv", dir / "a.csv"},
       "★レイアウトファイル " + bytes +
           " は 名前,開始桁,桁数 のレイアウトです。CSV の列には 名前,列番号[,属性] のレイアウトを"
           "指定してください"},
      {{"--source-format", "csv", "--layout", columns, dir / "a.csv", dir / "b.txt"},
       "（CSV の列の名前は --csv-layout で指定します）"},
      {{"--source-format", "csv", dir / "a.csv", dir / "b.txt"},
       "★CSV と CSV でない形式を比較するには、CSV でない比較先の項目を --layout"},
      {{"--source-format", "csv", "--layout", bytes, "--csv-layout", bytes, dir / "a.csv",
        dir / "b.txt"},
       "は 名前,開始桁,桁数 のレイアウトです"},
      {{"--csv-layout", columns, dir / "a.csv", dir / "b.txt"}, "★--csv-layout は、CSV の入力"},
  };
  for (const auto& c : cases) {
    const ProcessResult r = RunBatchExe(c.args);
    EXPECT_EQ(r.exit_code, 2) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(dir / "a_2.TXT"), "kept");
    EXPECT_FALSE(Exists(dir / "a_4.TXT"));
  }
}

}  // namespace
}  // namespace vesmer
