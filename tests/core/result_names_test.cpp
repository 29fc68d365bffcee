#include "core/result_names.h"

#include <gtest/gtest.h>

namespace vesmer {
namespace {

TEST(ResultNamesTest, NamesFollowTheSourcePath) {
  const ResultPaths plain = MakeResultPaths("/data/list.prn");
  for (std::size_t k = 0; k < kOutputKinds; ++k) {
    EXPECT_EQ(plain[k], "/data/list_" + std::to_string(k) + ".TXT");
  }
  EXPECT_EQ(MakeResultPaths("/data/list")[0], "/data/list_0.TXT");
  EXPECT_EQ(MakeResultPaths("/data.bak/list.txt")[3], "/data.bak/list_3.TXT");
  EXPECT_EQ(MakeResultPaths("/data/list.old.txt")[5], "/data/list.old_5.TXT");
  EXPECT_EQ(MakeResultPaths("/data/LIST.CSV")[1], "/data/LIST_1.TXT");
  EXPECT_EQ(MakeResultPaths(""), ResultPaths{});
}

// Results kept apart from the inputs take the names the source would give them beside itself.
TEST(ResultNamesTest, NamesInAnotherFolderTakeTheSourceFileName) {
  EXPECT_EQ(MakeResultPathsIn("/out/a", "/data/list.prn")[0], "/out/a/list_0.TXT");
  EXPECT_EQ(MakeResultPathsIn("/out/a/", "/data/list.prn")[5], "/out/a/list_5.TXT");
  // A dot in the source's folder is no extension; a dot in the output folder neither.
  EXPECT_EQ(MakeResultPathsIn("/out.v2", "/d.bak/list")[2], "/out.v2/list_2.TXT");
  EXPECT_EQ(MakeResultPathsIn("rel", "list.old.txt")[4], "rel/list.old_4.TXT");
  EXPECT_EQ(MakeResultPathsIn("/out", "/data/"), ResultPaths{});
  EXPECT_EQ(MakeResultPathsIn("/out", ""), ResultPaths{});
  EXPECT_EQ(PathFileName("/a/b.c"), "b.c");
  EXPECT_EQ(PathFileName("b"), "b");
}

}  // namespace
}  // namespace vesmer
