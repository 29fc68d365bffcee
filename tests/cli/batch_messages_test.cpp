// vesmer-batch's messages about what the user gave it in layout and rules files: each says
// what is wrong in Japanese, names what it is about, and shows no more of the user's text than a
// terminal can take.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_util.h"

namespace vesmer {
namespace {

using testing::ProcessResult;
using testing::RunBatchExe;
using testing::TempDir;
using testing::WriteFile;

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
  WriteFile(Path("layout.csv"), std::string("A\0B,1,2\r\nA\0B,3,2\r\n", 20));
  ProcessResult r = Refused({"--layout", Path("layout.csv")});
  EXPECT_EQ(r.err, "★レイアウトファイル " + Path("layout.csv") +
                       " の 2 行目: 項目名「A\\x00B」は 1 行目にもあります\n");
  WriteFile(Path("good.csv"), "AB,1,2\r\n");
  WriteFile(Path("rules.csv"), std::string("A\0B,無視\r\n", 13));
  r = Refused({"--layout", Path("good.csv"), "--rules", Path("rules.csv")});
  EXPECT_EQ(r.err, "★規則ファイル " + Path("rules.csv") +
                       " の 1 行目: 項目「A\\x00B」はレイアウトにありません\n");
}

TEST_F(BatchFileMessagesTest, AHugeTextIsCut) {
  const std::string huge(10 << 20, 'N');
  WriteFile(Path("layout.csv"), "AB,1,2," + huge + "\r\n");
  ProcessResult r = Refused({"--layout", Path("layout.csv")});
  EXPECT_EQ(r.err, "★レイアウトファイル " + Path("layout.csv") + " の 1 行目: 属性「" +
                       std::string(80, 'N') + "…」が正しくありません（X、9、N のいずれかです）\n");
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

}  // namespace
}  // namespace vesmer
