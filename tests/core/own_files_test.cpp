#include "core/own_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::TempDir;
using testing::WriteFile;

// Files that do not exist yet are one file by their names alone: a folder spelled otherwise,
// or a dangling link that a write would follow to create its target.
TEST(OwnFilesTest, NamesThatLeadToOneFileAreOneFile) {
  TempDir dir;
  EXPECT_TRUE(SameFile(dir / "new.html", dir / "./sub/../new.html"));
  ASSERT_EQ(::symlink("target.html", (dir / "dangling").c_str()), 0);
  EXPECT_TRUE(SameFile(dir / "dangling", dir / "target.html"));
  EXPECT_FALSE(SameFile(dir / "new.html", dir / "target.html"));
  // A new file in a folder reached through a link.
  ASSERT_EQ(::mkdir((dir / "d1").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("d1", (dir / "d2").c_str()), 0);
  EXPECT_TRUE(SameFile(dir / "d1/r.html", dir / "d2/r.html"));
  WriteFile(dir / "a", "x");
  ASSERT_EQ(::link((dir / "a").c_str(), (dir / "hard").c_str()), 0);
  EXPECT_TRUE(SameFile(dir / "a", dir / "hard"));
  WriteFile(dir / "b", "x");
  EXPECT_FALSE(SameFile(dir / "a", dir / "b"));  // equal bytes are not one file
}

TEST(OwnFilesTest, TheFirstClashIsNamedWithWhatItIs) {
  TempDir dir;
  WriteFile(dir / "lay.csv", "k,1,4\n");
  const std::vector<NamedFile> reads = {{dir / "a.prn", "比較元"}, {dir / "lay.csv", "レイアウト"}};
  Status s = CheckOwnFiles(reads, {{dir / "r.html", "報告書"}, {dir / "lay.csv", "集計の CSV"}});
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(s.path(), dir / "lay.csv");
  EXPECT_EQ(s.reason(), "この実行が読むレイアウトのファイルです");
  s = CheckOwnFiles(reads, {{dir / "r.html", "報告書"}, {dir / "r.html", "集計の CSV"}});
  EXPECT_EQ(s.reason(), "報告書と同じファイルです");
  EXPECT_TRUE(
      CheckOwnFiles(reads, {{dir / "r.html", "報告書"}, {dir / "s.csv", "集計の CSV"}}).ok());
}

}  // namespace
}  // namespace vesmer
