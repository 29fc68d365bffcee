// The pairs of a job: lists in UTF-8 and code page 932, relative paths, folders walked with
// files on one side only, globs, and profiles read from their file.
#include "jobs/pair_source.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "jobs/profiles.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::TempDir;
using testing::WriteFile;

TEST(PairListTest, PathsCountFromTheListsFolder) {
  TempDir dir;
  std::filesystem::create_directories(dir / "lists");
  // A byte order mark, a comment, a blank line, blanks around fields, a quoted field with a
  // comma, a profile, a path with ".." that stays under the list's folder, and a source
  // elsewhere.
  WriteFile(dir / "lists/p.txt",
            "\xEF\xBB\xBF# 比較する組\r\n"
            "\r\n"
            " old/社員.txt , new/社員.txt ,社員\r\n"
            "\"old/a,b.txt\",new/ab.txt\n"
            "sub/../old/c.txt,new/c.txt\n"
            "/srv/data/x.txt,../y.txt\n");
  std::vector<JobPair> pairs;
  std::string problem;
  ASSERT_TRUE(ReadPairList(dir / "lists/p.txt", pairs, problem)) << problem;
  ASSERT_EQ(pairs.size(), 4u);
  EXPECT_EQ(pairs[0].source, dir / "lists/old/社員.txt");
  EXPECT_EQ(pairs[0].destination, dir / "lists/new/社員.txt");
  EXPECT_EQ(pairs[0].relative, "old/社員.txt");
  EXPECT_EQ(pairs[0].profile, "社員");
  EXPECT_EQ(pairs[0].origin, dir / "lists/p.txt" + " の 3 行目");
  EXPECT_EQ(pairs[1].source, dir / "lists/old/a,b.txt");
  EXPECT_EQ(pairs[1].relative, "old/a,b.txt");
  EXPECT_EQ(pairs[1].profile, "");
  EXPECT_EQ(pairs[2].relative, "old/c.txt");
  // Outside the list's folder: its absolute path, without the leading "/".
  EXPECT_EQ(pairs[3].source, "/srv/data/x.txt");
  EXPECT_EQ(pairs[3].relative, "srv/data/x.txt");
  EXPECT_EQ(pairs[3].destination, dir / "y.txt");
}

TEST(PairListTest, CodePage932ListIsReadAsJapanese) {
  TempDir dir;
  // 社員.txt,新/社員.txt,給与 in code page 932.
  WriteFile(dir / "p.txt",
            "\x8E\xD0\x88\xF5.txt,\x90\x56/\x8E\xD0\x88\xF5.txt,\x8B\x8B\x97\x5E\r\n");
  std::vector<JobPair> pairs;
  std::string problem;
  ASSERT_TRUE(ReadPairList(dir / "p.txt", pairs, problem)) << problem;
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].relative, "社員.txt");
  EXPECT_EQ(pairs[0].destination, dir / "新/社員.txt");
  EXPECT_EQ(pairs[0].profile, "給与");
}

TEST(PairListTest, BadLinesAndFilesAreNamed) {
  TempDir dir;
  std::vector<JobPair> pairs;
  std::string problem;
  const struct {
    std::string text, shown;
  } cases[] = {
      {"a.txt,b.txt\nonly-one.txt\n",
       "2 行目 は 比較元,比較先[,プロファイル名] の形ではありません: only-one.txt"},
      {"a,b,c,d\n", "1 行目 は 比較元,比較先[,プロファイル名] の形ではありません: a,b,c,d"},
      {"a.txt,\n", "1 行目"},
      {"\"a.txt,b.txt\n", "1 行目"},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "p.txt", c.text);
    pairs.clear();
    EXPECT_FALSE(ReadPairList(dir / "p.txt", pairs, problem)) << c.text;
    EXPECT_NE(problem.find(dir / "p.txt"), std::string::npos) << problem;
    EXPECT_NE(problem.find(c.shown), std::string::npos) << problem;
  }
  EXPECT_FALSE(ReadPairList(dir / "missing.txt", pairs, problem));
  EXPECT_EQ(problem, "★比較する組の一覧を読めませんでした: " + dir / "missing.txt" +
                         ": ファイルまたはフォルダがありません");
}

TEST(GlobTest, PatternsWithoutASlashMatchTheFileName) {
  EXPECT_TRUE(GlobMatches("SHAIN*.DAT", "SHAIN01.DAT"));
  EXPECT_TRUE(GlobMatches("SHAIN*.DAT", "jinji/SHAIN01.DAT"));
  EXPECT_FALSE(GlobMatches("SHAIN*.DAT", "SHAIN01.TXT"));
  EXPECT_FALSE(GlobMatches("SHAIN*.DAT", "SHAIN/x.TXT"));
  EXPECT_TRUE(GlobMatches("jinji/*.DAT", "jinji/A.DAT"));
  EXPECT_FALSE(GlobMatches("jinji/*.DAT", "jinji/sub/A.DAT"));
  EXPECT_FALSE(GlobMatches("jinji/*.DAT", "A.DAT"));
  EXPECT_TRUE(GlobMatches("[ab]?.txt", "b1.txt"));
  EXPECT_TRUE(GlobMatches("*.txt", "給与.txt"));
}

class FolderPairsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* f :
         {"old/a.txt", "old/sub/deep/b.txt", "old/only-old.txt", "old/sub/c.log", "new/a.txt",
          "new/sub/deep/b.txt", "new/sub/only-new.txt", "new/sub/c.log"}) {
      std::filesystem::create_directories(std::filesystem::path(dir_ / f).parent_path());
      WriteFile(dir_ / f, "x\r\n");
    }
  }
  std::vector<JobPair> List(const std::vector<std::string>& include,
                            const std::vector<std::string>& exclude) {
    std::vector<JobPair> pairs;
    std::string problem;
    EXPECT_TRUE(ListFolderPairs(dir_ / "old", dir_ / "new", include, exclude, pairs, problem))
        << problem;
    return pairs;
  }
  static std::string Describe(const std::vector<JobPair>& pairs) {
    std::string text;
    for (const JobPair& p : pairs) {
      text += p.relative +
              (p.presence == Presence::kBoth         ? "="
               : p.presence == Presence::kSourceOnly ? "<"
                                                     : ">") +
              " ";
    }
    return text;
  }
  TempDir dir_;
};

TEST_F(FolderPairsTest, NestedFilesPairByRelativePathAndOneSideIsListed) {
  const std::vector<JobPair> pairs = List({}, {});
  EXPECT_EQ(Describe(pairs), "a.txt= only-old.txt< sub/c.log= sub/deep/b.txt= sub/only-new.txt> ");
  EXPECT_EQ(pairs[3].source, dir_ / "old/sub/deep/b.txt");
  EXPECT_EQ(pairs[3].destination, dir_ / "new/sub/deep/b.txt");
  EXPECT_EQ(pairs[4].source, dir_ / "old/sub/only-new.txt");  // named, though it is not there
}

TEST_F(FolderPairsTest, IncludeAndExcludeChooseFiles) {
  EXPECT_EQ(Describe(List({"*.txt"}, {})),
            "a.txt= only-old.txt< sub/deep/b.txt= sub/only-new.txt> ");
  EXPECT_EQ(Describe(List({"*.txt"}, {"only-*"})), "a.txt= sub/deep/b.txt= ");
  EXPECT_EQ(Describe(List({}, {"sub/*"})), "a.txt= only-old.txt< sub/deep/b.txt= ");
  EXPECT_EQ(Describe(List({"sub/*/*.txt", "*.log"}, {})), "sub/c.log= sub/deep/b.txt= ");
}

TEST_F(FolderPairsTest, LinksToFoldersAreNotFollowedAndAMissingFolderIsNamed) {
  // A link back up would list the folder again and again.
  ASSERT_EQ(::symlink((dir_ / "old").c_str(), (dir_ / "old/sub/loop").c_str()), 0);
  EXPECT_EQ(Describe(List({}, {})),
            "a.txt= only-old.txt< sub/c.log= sub/deep/b.txt= sub/only-new.txt> ");
  std::vector<JobPair> pairs;
  std::string problem;
  EXPECT_FALSE(ListFolderPairs(dir_ / "old", dir_ / "nope", {}, {}, pairs, problem));
  EXPECT_EQ(problem, "★フォルダがありません: " + dir_ / "nope");
}

TEST(ProfilesTest, SectionsHoldOptionsAsTheCommandLineWritesThem) {
  TempDir dir;
  WriteFile(dir / "p.ini",
            "# 種類ごとの設定\n"
            "[社員]\n"
            "--key-fields 社員番号 --layout 'shain layout.csv'\n"
            "  --format fixed=200,ibm-930\n"
            "; 注釈\n"
            "[SHAIN*.DAT]\r\n"
            "-k 1-4 --scale \"a \\\"b\\\" c\" x\\ y\r\n"
            "[空]\n");
  ProfileSet set;
  std::string problem;
  ASSERT_TRUE(LoadProfiles(dir / "p.ini", set, problem)) << problem;
  ASSERT_EQ(set.profiles.size(), 3u);
  EXPECT_EQ(set.profiles[0].args,
            (std::vector<std::string>{"--key-fields", "社員番号", "--layout", "shain layout.csv",
                                      "--format", "fixed=200,ibm-930"}));
  EXPECT_FALSE(set.profiles[0].glob);
  EXPECT_EQ(set.profiles[1].args,
            (std::vector<std::string>{"-k", "1-4", "--scale", "a \"b\" c", "x y"}));
  EXPECT_TRUE(set.profiles[1].glob);
  EXPECT_EQ(set.profiles[1].line, 6);
  EXPECT_TRUE(set.profiles[2].args.empty());
  EXPECT_EQ(set.Named("社員"), &set.profiles[0]);
  EXPECT_EQ(set.Named("SHAIN*.DAT"), &set.profiles[1]);
  EXPECT_EQ(set.Named("給与"), nullptr);
  EXPECT_EQ(set.ForPath("jinji/SHAIN01.DAT"), &set.profiles[1]);
  EXPECT_EQ(set.ForPath("SHAIN01.TXT"), nullptr);
  EXPECT_EQ(set.ForPath("社員"), nullptr);  // a name is no glob
}

TEST(ProfilesTest, ErrorsNameTheFileAndTheLine) {
  TempDir dir;
  const struct {
    std::string text, message;
  } cases[] = {
      {"-k 1-4\n[a]\n", " の 1 行目: オプションの前に [名前] の節の見出しが必要です"},
      {"[a]\n-k 1\n[a]\n", " の 3 行目: プロファイル a が二度あります"},
      {"[a]\n--scale 'abc\n", " の 2 行目: 引用符 ' が閉じていません"},
      {"[a\n", " の 1 行目: 節の見出しは [名前] と書いてください: [a"},
      {"[]\n", " の 1 行目: 節の見出しは [名前] と書いてください: []"},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "p.ini", c.text);
    ProfileSet set;
    std::string problem;
    EXPECT_FALSE(LoadProfiles(dir / "p.ini", set, problem)) << c.text;
    EXPECT_EQ(problem, "★プロファイルのファイル " + dir / "p.ini" + c.message);
  }
}

}  // namespace
}  // namespace vesmer
