#include "platform/files.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/test_util.h"

namespace vesmer {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d) != nullptr) ++n;
    ::closedir(d);
  }
  return n;
}

TEST(FilesTest, FileExists) {
  TempDir dir;
  WriteFile(dir / "f.txt", "x");
  const int before = OpenDescriptors();
  EXPECT_TRUE(FileExists(dir / "f.txt"));
  EXPECT_TRUE(FileExists(dir / "f.txt/"));  // one trailing separator is dropped
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir / "missing"));
  if (::geteuid() != 0) {  // root reads everything
    ::chmod((dir / "f.txt").c_str(), 0);
    EXPECT_FALSE(FileExists(dir / "f.txt"));
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(FilesTest, CutNullAndExtensions) {
  EXPECT_EQ(CutNull("abc"), "abc");
  EXPECT_EQ(CutNull(std::string("\0abc", 4)), "");
  EXPECT_EQ(CutNull(std::string("ab\0c", 4)), "ab");
  EXPECT_EQ(RemoveExtension("/d/name"), "/d/name");
  EXPECT_EQ(RemoveExtension("/d/a.b.c"), "/d/a.b");
  EXPECT_EQ(RemoveExtension("/d.e/name"), "/d.e/name");
  EXPECT_EQ(RemoveExtension("name.txt"), "name");
}

TEST(FilesTest, RenameNoReplaceRefusesAnExistingName) {
  TempDir dir;
  WriteFile(dir / "a", "A");
  WriteFile(dir / "b", "B");
  EXPECT_FALSE(RenameNoReplace(dir / "a", dir / "b").ok());
  EXPECT_EQ(ReadFile(dir / "b"), "B");
  EXPECT_TRUE(RenameNoReplace(dir / "a", dir / "c").ok());
  EXPECT_EQ(ReadFile(dir / "c"), "A");
  EXPECT_FALSE(RenameNoReplace(dir / "a", dir / "d").ok());  // the old name is gone
}

std::vector<std::string> ReadAll(const std::string& path) {
  LineReader reader;
  EXPECT_TRUE(reader.Open(path).ok());
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.Next(line)) lines.emplace_back(line);
  EXPECT_TRUE(reader.status().ok());
  EXPECT_EQ(reader.consumed(), reader.size());
  return lines;
}

TEST(FilesTest, LineReaderSplitsAtCrAndCrLf) {
  TempDir dir;
  WriteFile(dir / "f", "a\r\nb\rc\nd\r\r\ne");
  EXPECT_EQ(ReadAll(dir / "f"), (std::vector<std::string>{"a", "b", "c\nd", "", "e"}));
  WriteFile(dir / "f", "");
  EXPECT_TRUE(ReadAll(dir / "f").empty());
  WriteFile(dir / "f", "a\r\n");
  EXPECT_EQ(ReadAll(dir / "f"), (std::vector<std::string>{"a"}));
}

TEST(FilesTest, LineReaderHandlesLinesLongerThanItsBuffer) {
  TempDir dir;
  // A CR LF split across the first 1 MiB read, then a line of 3 MiB.
  const std::string first((1 << 20) - 1, 'x');
  const std::string long_line(3 << 20, 'y');
  WriteFile(dir / "f", first + "\r\n" + long_line + "\r\nz");
  const auto lines = ReadAll(dir / "f");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], first);
  EXPECT_EQ(lines[1], long_line);
  EXPECT_EQ(lines[2], "z");
}

TEST(FilesTest, OutputFileReportsAFullDisk) {
  OutputFile out;
  ASSERT_TRUE(out.Create("/dev/full").ok());
  out.AppendLine("x");
  EXPECT_FALSE(out.Close().ok());
}

}  // namespace
}  // namespace vesmer
