// vesmer-batch --print-layout: the layout a layout file or a COBOL copybook makes, printed in the
// layout-file form without comparing anything.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/cp932.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::FolderEntries;
using testing::ProcessResult;
using testing::RunBatchExe;
using testing::TempDir;
using testing::WriteFile;

constexpr const char* kCopybook =
    "      * 受注レコード\n"
    "       01  JUCHU-REC.\n"
    "           05  JUCHU-NO      PIC X(6).\n"
    "           05  KINGAKU       PIC S9(7)V99 COMP-3.\n"
    "           05  SURYO         PIC S9(4) BINARY.\n"
    "           05  TANKA         PIC 9(5)V9.\n"
    "           05  FILLER        PIC X(2).\n";

constexpr const char* kPrinted =
    "項目名,開始桁,桁数,属性,小数桁\n"
    "# 集団項目: JUCHU-REC,1,21\n"
    "JUCHU-NO,1,6,X\n"
    "KINGAKU,7,5,P,2\n"
    "SURYO,12,2,B\n"
    "TANKA,14,6,9,1\n"
    "# 比較しない（FILLER）: FILLER#1,20,2,X\n";

TEST(BatchPrintLayoutTest, PrintsACopybookAsALayoutAndComparesNothing) {
  TempDir dir;
  WriteFile(dir / "juchu.cpy", kCopybook);
  const ProcessResult r = RunBatchExe({"--print-layout", "--layout", dir / "juchu.cpy"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kPrinted);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"juchu.cpy"});
}

TEST(BatchPrintLayoutTest, WhatItPrintsReadsBackTheSame) {
  TempDir dir;
  WriteFile(dir / "juchu.cpy", kCopybook);
  WriteFile(dir / "printed.csv", kPrinted);
  ProcessResult r = RunBatchExe({"--layout", dir / "printed.csv", "--print-layout"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  // The FILLER and the group were comments: what remains are the compared fields.
  EXPECT_EQ(r.out,
            "項目名,開始桁,桁数,属性,小数桁\nJUCHU-NO,1,6,X\nKINGAKU,7,5,P,2\nSURYO,12,2,B\n"
            "TANKA,14,6,9,1\n");
  // A layout file of code page 932 prints as UTF-8; paths given besides are not compared.
  WriteFile(dir / "sjis.csv", cp932::FromUtf8("金額,1,8,9,2\r\n氏名,9,10,N\r\n"));
  r = RunBatchExe({"--print-layout", "--layout", dir / "sjis.csv", dir / "a", dir / "b"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "項目名,開始桁,桁数,属性,小数桁\n金額,1,8,9,2\n氏名,9,10,N\n");
}

TEST(BatchPrintLayoutTest, ABadLayoutExitsTwoWithItsMessage) {
  TempDir dir;
  WriteFile(dir / "bad.cpy", "       01  R.\n           05  A PIC X OCCURS 2 DEPENDING ON N.\n");
  ProcessResult r = RunBatchExe({"--print-layout", "--layout", dir / "bad.cpy"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "★レイアウトファイル " + (dir / "bad.cpy") +
                       " の 2 行目: OCCURS DEPENDING ON はまだ扱えません\n");
  r = RunBatchExe({"--json", "--print-layout", "--layout", dir / "bad.cpy"});
  EXPECT_EQ(r.exit_code, 2);
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["outcome"], "refused");
  EXPECT_EQ(j["status"], "★レイアウトファイル " + (dir / "bad.cpy") +
                             " の 2 行目: OCCURS DEPENDING ON はまだ扱えません");
  WriteFile(dir / "bad.csv", "A,1,3,B\n");
  r = RunBatchExe({"--print-layout", "--layout", dir / "bad.csv"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "★レイアウトファイル " + (dir / "bad.csv") +
                       " の 1 行目: 属性 B の桁数は 2、4、8 のいずれかです\n");
  r = RunBatchExe({"--print-layout", "--layout", dir / "none.cpy"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err.rfind("★レイアウトファイル " + (dir / "none.cpy") + " を読み込めません: ", 0), 0u)
      << r.err;
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"bad.cpy", "bad.csv"}));
}

TEST(BatchPrintLayoutTest, NeedsALayout) {
  const ProcessResult r = RunBatchExe({"--print-layout"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "vesmer-batch: --print-layout には --layout が必要です\n"
            "使い方: vesmer-batch [オプション] 比較元 比較先\n"
            "詳しくは vesmer-batch --help を見てください\n");
}

// A job compares many pairs: printing the layout instead is asked of a single run only.
TEST(BatchPrintLayoutTest, IsNoJobOption) {
  TempDir dir;
  WriteFile(dir / "l.csv", "A,1,3\n");
  std::filesystem::create_directory(dir / "old");
  std::filesystem::create_directory(dir / "new");
  const ProcessResult r = RunBatchExe({"--print-layout", "--layout", dir / "l.csv", "--folders",
                                       dir / "old", dir / "new", "--output-dir", dir / "out"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("--print-layout は --pairs、--folders、--rollup と一緒には指定できません"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

}  // namespace
}  // namespace vesmer
