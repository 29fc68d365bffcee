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

}  // namespace
}  // namespace vesmer
