#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "tests/test_util.h"

namespace vesmer {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(IniFileTest, FindsValuesLikeTheProfileFunctions) {
  const std::string text =
      "; comment\r\n[other]\r\nKey=no\r\n[ Vesmer ]\r\n  key  =  yes please  \r\nKey=second\n"
      "Empty=\r\nnoequals\r\n[vesmer]\r\nLate=x";
  EXPECT_EQ(FindProfileValue(text, "VESMER", "KEY"), "yes please");  // first of duplicates
  EXPECT_EQ(FindProfileValue(text, "vesmer", "Empty"), "");
  EXPECT_EQ(FindProfileValue(text, "vesmer", "Late"), "");  // only the first section is read
  EXPECT_EQ(FindProfileValue(text, "other", "key"), "no");
  EXPECT_EQ(FindProfileValue(text, "missing", "key"), "");
  EXPECT_EQ(FindProfileValue("Key=x", "vesmer", "Key"), "");  // no section at all
}

TEST(IniFileTest, SettingKeepsEverythingElse) {
  const std::string text = "; mine\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n";
  EXPECT_EQ(SetProfileValue(text, "a", "X", "9"), "; mine\r\n[A]\r\nX=9\r\n\r\n[B]\r\ny=2\r\n");
  EXPECT_EQ(SetProfileValue(text, "A", "z", "3"),
            "; mine\r\n[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n");
  EXPECT_EQ(SetProfileValue(text, "C", "k", "v"), text + "[C]\r\nk=v\r\n");
  EXPECT_EQ(SetProfileValue("[A]\nx=1", "A", "y", "2"), "[A]\nx=1\r\ny=2\r\n");
  EXPECT_EQ(SetProfileValue("", "A", "k", "a\r\nb"), "[A]\r\nk=a  b\r\n");
  // A lone CR at the end is no line end: the new section still starts a line of its own.
  const std::string updated = SetProfileValue("\n\r", "S", "K", "v");
  EXPECT_EQ(FindProfileValue(updated, "S", "K"), "v");
}

TEST(IniFileTest, WritesReachTheFileWhole) {
  TempDir dir;
  const std::string path = dir / "v.ini";
  EXPECT_EQ(ReadProfileString(path, "S", "k", 1023), "");
  ASSERT_TRUE(WriteProfileString(path, "S", "k", "v1"));
  ASSERT_TRUE(WriteProfileString(path, "S", "k2", std::string(2000, 'x')));
  EXPECT_EQ(ReadProfileString(path, "s", "K", 1023), "v1");
  EXPECT_EQ(ReadProfileString(path, "S", "k2", 1023), std::string(1023, 'x'));
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=v1\r\nk2=" + std::string(2000, 'x') + "\r\n");
}

TEST(IniFileTest, FailedWriteLeavesTheOldFile) {
  TempDir dir;
  const std::string path = dir / "v.ini";
  WriteFile(path, "[S]\r\nk=old\r\n");
  // A file size limit makes the write fail as a full disk would, for root too.
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 32;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteProfileString(path, "S", "k", std::string(100, 'n'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(written);
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=old\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator{}),
            1);  // no temporary file left behind
}

TEST(IniFileTest, WriteIntoAMissingFolderFails) {
  TempDir dir;
  EXPECT_FALSE(WriteProfileString(dir / "no/such/v.ini", "S", "k", "v"));
}

}  // namespace
}  // namespace vesmer
