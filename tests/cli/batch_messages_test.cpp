// vesmer-batch's messages about what the user gave it: arguments, layout and rules files, the
// sort's temporary folder. Each says what is wrong in Japanese, names what it is about, and
// shows no more of the user's text than a terminal can take.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/batch_options.h"
#include "core/messages.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {
using namespace std::string_literals;

using nlohmann::json;
using testing::ProcessResult;
using testing::RunBatchExe;
using testing::TempDir;
using testing::WriteFile;

constexpr const char* kUsageLines =
    "使い方: vesmer-batch [オプション] 比較元 比較先\n"
    "詳しくは vesmer-batch --help を見てください\n";

// What ParseBatchOptions says of `args` (after the program name); `options` gets the values.
std::string Parse(const std::vector<std::string>& args, BatchOptions& options) {
  std::vector<const char*> argv = {"vesmer-batch"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  return ParseBatchOptions(static_cast<int>(args.size() + 1), argv.data(), options);
}

std::string Parse(const std::vector<std::string>& args) {
  BatchOptions options;
  return Parse(args, options);
}

long long PhysicalMib() {
  return static_cast<long long>(static_cast<unsigned long long>(::sysconf(_SC_PHYS_PAGES)) *
                                    static_cast<unsigned long long>(::sysconf(_SC_PAGESIZE)) >>
                                20);
}

TEST(BatchArgumentMessagesTest, NumbersThatAreNotNumbersNameTheOptionAndTheValue) {
  EXPECT_EQ(Parse({"--sort-memory", "abc", "a", "b"}),
            "--sort-memory には数値を指定してください: abc");
  EXPECT_EQ(Parse({"--sort", "-k", "1-2", "--sort-memory=12x", "a", "b"}),
            "--sort-memory には数値を指定してください: 12x");
  EXPECT_EQ(Parse({"--report-pairs", "many", "a", "b"}),
            "--report-pairs には数値を指定してください: many");
  EXPECT_EQ(Parse({"--report-pairs", "-1", "a", "b"}),
            "--report-pairs には 0 以上の件数を指定してください: -1");
  EXPECT_EQ(Parse({"--sort", "--sort-memory", "0", "a", "b"}),
            "--sort-memory には 1 以上の MiB を指定してください: 0");
  // A value that is no text a terminal shows is shown by its bytes.
  EXPECT_EQ(Parse({"--report-pairs", "1\x1B[2J", "a", "b"}),
            "--report-pairs には数値を指定してください: 1\\x1B[2J");
  BatchOptions options;
  EXPECT_EQ(Parse({"--report-pairs", "20", "--sort", "--sort-memory", "64", "a", "b"}, options),
            "");
  EXPECT_EQ(options.report_pairs, 20);
  EXPECT_EQ(options.sort_memory_mib, 64);
}

TEST(BatchArgumentMessagesTest, AFlagGivenAValueIsRefused) {
  EXPECT_EQ(Parse({"--json=yes", "a", "b"}), "--json には値を指定できません: --json=yes");
  EXPECT_EQ(Parse({"a", "--quiet=true", "b"}), "--quiet には値を指定できません: --quiet=true");
  EXPECT_EQ(Parse({"--sort=", "a", "b"}), "--sort には値を指定できません: --sort=");
}

TEST(BatchArgumentMessagesTest, SortMemoryWithoutSortIsRefused) {
  EXPECT_EQ(Parse({"--sort-memory", "64", "-k", "1-2", "a", "b"}),
            "--sort-memory は --sort と一緒に指定してください");
  EXPECT_EQ(Parse({"--sort-memory", "64", "--sort", "-k", "1-2", "a", "b"}), "");
}

TEST(BatchArgumentMessagesTest, SortMemoryBeyondThisMachineNamesItsMemory) {
  const long long physical = PhysicalMib();
  ASSERT_GT(physical, 0);
  const std::string bound = "（この機械のメモリは " + std::to_string(physical) + " MiB です。1～" +
                            std::to_string(physical) + " の MiB を指定してください）";
  EXPECT_EQ(Parse({"--sort", "--sort-memory", "99999999999999999999", "a", "b"}),
            "--sort-memory の値が大きすぎます: 99999999999999999999" + bound);
  const std::string over = std::to_string(physical + 1);
  EXPECT_EQ(Parse({"--sort", "--sort-memory", over, "a", "b"}),
            "--sort-memory の値が大きすぎます: " + over + bound);
  EXPECT_EQ(Parse({"--sort", "--sort-memory", std::to_string(physical), "a", "b"}), "");
}

TEST(BatchArgumentMessagesTest, AnOptionGivenTwiceIsNamed) {
  EXPECT_EQ(Parse({"--key", "1-2", "--key", "3-4", "a", "b"}),
            "--key が 2 回指定されています（1 回だけ指定してください）");
  EXPECT_EQ(Parse({"-k", "1-2", "a", "--key=3-4", "b", "-k", "5-6"}),
            "--key が 3 回指定されています（1 回だけ指定してください）");
  EXPECT_EQ(Parse({"--report", "r1.html", "--report", "r2.html", "a", "b"}),
            "--report が 2 回指定されています（1 回だけ指定してください）");
  // A flag said twice says the same thing once more.
  EXPECT_EQ(Parse({"--json", "--json", "a", "b"}), "");
}

TEST(BatchArgumentMessagesTest, AThirdFileIsNamed) {
  EXPECT_EQ(Parse({"a", "b", "c.prn"}),
            "ファイルが多すぎます（比較元と比較先の 2 つだけを指定してください）: 3 つ目は c.prn");
  EXPECT_EQ(Parse({"-k", "1-2", "a", "b", "c", "d"}),
            "ファイルが多すぎます（比較元と比較先の 2 つだけを指定してください）: 3 つ目は c");
  EXPECT_EQ(Parse({"only-one"}), "比較元と比較先を指定してください");
}

TEST(BatchArgumentMessagesTest, AnUnknownOptionSuggestsTheNearestOne) {
  EXPECT_EQ(Parse({"--ky", "1-4", "a", "b"}), "不明なオプションです: --ky（もしかして --key？）");
  EXPECT_EQ(Parse({"--sort", "-k", "1-2", "--sort-memroy=64", "a", "b"}),
            "不明なオプションです: --sort-memroy=64（もしかして --sort-memory？）");
  EXPECT_EQ(Parse({"--jsno", "a", "b"}), "不明なオプションです: --jsno（もしかして --json？）");
  EXPECT_EQ(Parse({"--omit-field", "x", "a", "b"}),
            "不明なオプションです: --omit-field（もしかして --omit-fields？）");
  EXPECT_EQ(Parse({"--Report", "r.html", "a", "b"}),
            "不明なオプションです: --Report（もしかして --report？）");
}

TEST(BatchArgumentMessagesTest, AnUnknownOptionFarFromAnyGetsNoSuggestion) {
  EXPECT_EQ(Parse({"--bogus", "a", "b"}), "不明なオプションです: --bogus");
  EXPECT_EQ(Parse({"--frobnicate", "a", "b"}), "不明なオプションです: --frobnicate");
  // Two slips in a word of three letters are a different word.
  EXPECT_EQ(Parse({"--kez", "a", "b"}), "不明なオプションです: --kez（もしかして --key？）");
  EXPECT_EQ(Parse({"--kzz", "a", "b"}), "不明なオプションです: --kzz");
}

TEST(BatchArgumentMessagesTest, ASuggestionKeepsTheShapeOfAUsageError) {
  const ProcessResult r = RunBatchExe({"--json", "--ky", "1-4", "a", "b"});
  EXPECT_EQ(r.exit_code, 2);
  const std::string message = "不明なオプションです: --ky（もしかして --key？）";
  EXPECT_EQ(r.err, "vesmer-batch: " + message + "\n" + kUsageLines);
  EXPECT_EQ(json::parse(r.out), (json{{"outcome", "usage-error"}, {"status", message}}));
}

TEST(BatchArgumentMessagesTest, UsageErrorsEndWithAHintToHelp) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus", "a", "b"}, {"a", "b", "c"}, {"--sort-memory", "x", "a", "b"}}) {
    const ProcessResult r = RunBatchExe(args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "vesmer-batch: " + Parse(args) + "\n" + kUsageLines);
    EXPECT_EQ(r.out, "");
  }
}

TEST(BatchArgumentMessagesTest, UsageErrorsPrintJsonWhenItIsAskedFor) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--json", "--key", "1-2", "--key", "3-4", "a", "b"},
                                             {"--json=yes", "a", "b"},
                                             {"a", "b", "--sort-memory", "abc", "--json"},
                                             {"--json", "a", "b", "-k"}}) {
    const ProcessResult r = RunBatchExe(args);
    EXPECT_EQ(r.exit_code, 2);
    const std::string message = Parse(args);
    ASSERT_NE(message, "");
    EXPECT_EQ(r.err, "vesmer-batch: " + message + "\n" + kUsageLines);
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;  // one line
    EXPECT_EQ(json::parse(r.out), (json{{"outcome", "usage-error"}, {"status", message}}));
  }
}

class BatchFileMessagesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ / name; }
  // Runs a comparison with the `options` on two small files; it is refused.
  ProcessResult Refused(std::vector<std::string> options) {
    WriteFile(Path("a.prn"), "0001 x\r\n");
    WriteFile(Path("b.prn"), "0001 y\r\n");
    options.push_back(Path("a.prn"));
    options.push_back(Path("b.prn"));
    ProcessResult r = RunBatchExe(options);
    EXPECT_EQ(r.exit_code, 2);
    return r;
  }
  TempDir dir_;
};

TEST_F(BatchFileMessagesTest, ANulInAFieldNameIsShownAsItsByte) {
  WriteFile(Path("layout.csv"), "A\0B,1,2\r\nA\0B,3,2\r\n"s);
  ProcessResult r = Refused({"--layout", Path("layout.csv")});
  EXPECT_EQ(r.err, "★レイアウトファイル " + Path("layout.csv") +
                       " の 2 行目: 項目名「A\\x00B」は 1 行目にもあります\n");
  WriteFile(Path("good.csv"), "AB,1,2\r\n");
  WriteFile(Path("rules.csv"), "A\0B,無視\r\n"s);
  r = Refused({"--layout", Path("good.csv"), "--rules", Path("rules.csv")});
  EXPECT_EQ(r.err, "★規則ファイル " + Path("rules.csv") +
                       " の 1 行目: 項目「A\\x00B」はレイアウトにありません\n");
}

TEST_F(BatchFileMessagesTest, AHugeTextIsCut) {
  const std::string huge(10 << 20, 'N');
  WriteFile(Path("layout.csv"), "AB,1,2," + huge + "\r\n");
  ProcessResult r = Refused({"--layout", Path("layout.csv")});
  EXPECT_EQ(r.err, "★レイアウトファイル " + Path("layout.csv") + " の 1 行目: 属性「" +
                       std::string(80, 'N') +
                       "…」が正しくありません（X、9、N、P、B、BU のいずれかです）\n");
  WriteFile(Path("good.csv"), "AB,1,2\r\n");
  WriteFile(Path("rules.csv"), huge + ",無視\r\n");
  r = Refused({"--layout", Path("good.csv"), "--rules", Path("rules.csv")});
  EXPECT_EQ(r.err, "★規則ファイル " + Path("rules.csv") + " の 1 行目: 項目「" +
                       std::string(80, 'N') + "…」はレイアウトにありません\n");
}

TEST_F(BatchFileMessagesTest, AFieldNameThatIsNotUtf8IsShownByItsBytes) {
  WriteFile(Path("layout.csv"), "社員番号,1,4\r\n");
  // キー as code page 932 bytes, typed where UTF-8 was expected.
  const ProcessResult r =
      Refused({"--layout", Path("layout.csv"), "--key-fields", "\x83\x4C\x81\x5B,社員番号"});
  EXPECT_EQ(r.err, "★レイアウトにない項目です: \\x83L\\x81[\n");
}

class BatchTempFolderTest : public BatchFileMessagesTest {
 protected:
  // Inputs the sort cannot hold in 1 MiB: it needs its temporary folder.
  void WriteUnsortedInputs() {
    std::string lines;
    for (int i = 0; i < 60000; ++i) lines += std::to_string(100000 - i) + " record data\r\n";
    WriteFile(Path("a.prn"), lines);
    WriteFile(Path("b.prn"), lines);
  }
  std::vector<std::string> SortArgs(const std::string& temp_dir, bool json) {
    std::vector<std::string> args = {"--sort", "--sort-memory", "1",
                                     "-k",     "1-6",           "--temp-dir",
                                     temp_dir, Path("a.prn"),   Path("b.prn")};
    if (json) args.insert(args.begin(), "--json");
    return args;
  }
};

TEST_F(BatchTempFolderTest, AMissingFolderIsNamed) {
  WriteUnsortedInputs();
  const std::string missing = Path("no-such-folder");
  ProcessResult r = RunBatchExe(SortArgs(missing, false));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, std::string(messages::kTempFolderFailed) + "\n一時フォルダ " + missing +
                       ": ファイルまたはフォルダがありません\n");
  r = RunBatchExe(SortArgs(missing, true));
  EXPECT_EQ(r.exit_code, 2);
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outcome"], "failed");
  EXPECT_EQ(j["status"], messages::kTempFolderFailed);
  EXPECT_EQ(j["error"],
            (json{{"path", missing}, {"reason", "ファイルまたはフォルダがありません"}}));
}

TEST_F(BatchTempFolderTest, AFullFolderIsNamed) {
  WriteUnsortedInputs();
  // A file size limit fails the writes as a full disk does (with EFBIG rather than ENOSPC).
  const ProcessResult r = RunBatchExe(SortArgs(dir_.path(), true), {.file_size = 64 * 1024});
  EXPECT_EQ(r.exit_code, 2);
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outcome"], "failed");
  EXPECT_EQ(j["status"], messages::kTempFolderFailed);
  EXPECT_EQ(j["error"], (json{{"path", dir_.path()}, {"reason", "ファイルが大きすぎます"}}));
  EXPECT_NE(r.err.find(std::string(messages::kTempFolderFailed) + "\n一時フォルダ " + dir_.path() +
                       ": ファイルが大きすぎます\n"),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace vesmer
