#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/sys_faults.h"
#include "tests/support/test_util.h"

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
  // A CR at the very end is not part of its line's value, and must not become part of it.
  EXPECT_EQ(SetProfileValue("[A]\r\nx=1\r", "A", "y", "2"), "[A]\r\nx=1\r\ny=2\r\n");
  EXPECT_EQ(SetProfileValue("[A]\r\nx=1\r", "B", "y", "2"), "[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
  EXPECT_EQ(FindProfileValue(SetProfileValue("[A]\r\nx=1\r", "A", "y", "2"), "A", "x"), "1");
}

TEST(IniFileTest, ListsSectionNamesOnceInTheirOrder) {
  EXPECT_EQ(ProfileSectionNames(""), std::vector<std::string>{});
  EXPECT_EQ(ProfileSectionNames("Key=1\r\n; [not]\r\n[open\r\n"), std::vector<std::string>{});
  const std::string text =
      "; c\r\n[ Beta ]\r\nk=[x]\r\n[alpha]junk\n[BETA]\r\n  [\x83\x41]\r\n[]\r\n[Alpha]";
  EXPECT_EQ(ProfileSectionNames(text), (std::vector<std::string>{"Beta", "alpha", "\x83\x41", ""}));
  // Only ASCII letters fold: the second byte of a double-byte character does not.
  EXPECT_EQ(ProfileSectionNames("[\x83\x61]\r\n[\x83\x41]\r\n"),
            (std::vector<std::string>{"\x83\x61", "\x83\x41"}));
  EXPECT_TRUE(SameProfileName("VesMer", "vESmER"));
  EXPECT_FALSE(SameProfileName("vesmer", "vesmer "));
  EXPECT_FALSE(SameProfileName("[", "{"));  // 0x5B and 0x7B are no letter pair
}

TEST(IniFileTest, SettingSeveralValuesIsSettingThemInTurn) {
  const std::string text = "; mine\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n";
  const ProfileEntry entries[] = {{"y", "7"}, {"x", "8"}, {"new", "n"}, {"Y", "9"}};
  EXPECT_EQ(SetProfileValues(text, "b", entries),
            "; mine\r\n[A]\r\nx=1\r\n\r\n[B]\r\nY=9\r\nx=8\r\nnew=n\r\n");
  // The later "Y" replaces the line the earlier "y" added.
  EXPECT_EQ(SetProfileValues("", "S", entries), "[S]\r\nY=9\r\nx=8\r\nnew=n\r\n");
  EXPECT_EQ(SetProfileValues(text, "A", {}), text);
}

TEST(IniFileTest, WritesReachTheFileWhole) {
  TempDir dir;
  const std::string path = dir / "v.ini";
  EXPECT_EQ(ReadProfileString(path, "S", "k", 1023), "");
  ASSERT_TRUE(WriteProfileString(path, "S", "k", "v1").ok());
  ASSERT_TRUE(WriteProfileString(path, "S", "k2", std::string(2000, 'x')).ok());
  EXPECT_EQ(ReadProfileString(path, "s", "K", 1023), "v1");
  EXPECT_EQ(ReadProfileString(path, "S", "k2", 1023), std::string(1023, 'x'));
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=v1\r\nk2=" + std::string(2000, 'x') + "\r\n");
}

TEST(IniFileTest, SeveralValuesGoInOneReplacement) {
  TempDir dir;
  const std::string path = dir / "v.ini";
  WriteFile(path, "; keep me\r\n[S]\r\na=1\r\n[T]\r\na=2\r\n");
  // A second name for the old file: it must keep the old bytes, so nothing wrote in place.
  ASSERT_EQ(::link(path.c_str(), (dir / "old").c_str()), 0);
  const ProfileEntry entries[] = {{"a", "x"}, {"b", "\x82\xa0"}};
  ASSERT_TRUE(WriteProfileStrings(path, "s", entries).ok());
  EXPECT_EQ(ReadFile(path), "; keep me\r\n[S]\r\na=x\r\nb=\x82\xa0\r\n[T]\r\na=2\r\n");
  EXPECT_EQ(ReadFile(dir / "old"), "; keep me\r\n[S]\r\na=1\r\n[T]\r\na=2\r\n");
}

TEST(IniFileTest, UnchangedTextIsNotWritten) {
  TempDir dir;
  const std::string path = dir / "v.ini";
  WriteFile(path, "[S]\r\nk = v\r\n");
  struct stat before, after;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  // "k = v" reads as "v" but is rewritten as "k=v": a change, so a new file.
  ASSERT_TRUE(WriteProfileString(path, "S", "k", "v").ok());
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=v\r\n");
  ASSERT_TRUE(WriteProfileString(path, "S", "k", "v").ok());
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);  // the second write found nothing to change
}

TEST(IniFileTest, FailedWriteLeavesTheOldFile) {
  TempDir dir;
  const std::string path = dir / "v.ini";
  WriteFile(path, "[S]\r\nk=old\r\n");
  testing::SysFaults faults;
  // A few bytes get through, then the disk is full.
  faults.Add({.call = testing::Call::kWrite, .at_most = 16});
  faults.Add({.call = testing::Call::kWrite, .error = ENOSPC, .nth = 2});
  const Status s = WriteProfileString(path, "S", "k", std::string(100, 'n'));
  EXPECT_EQ(s.error_number(), ENOSPC);
  EXPECT_EQ(s.path(), path);
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=old\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator{}),
            1);  // no temporary file left behind
}

TEST(IniFileTest, WhatCannotBeReadIsNotReplaced) {
  TempDir dir;
  Status s = WriteProfileString(dir / "no/such/v.ini", "S", "k", "v");
  EXPECT_EQ(s.error_number(), ENOENT);
  EXPECT_EQ(s.path(), dir / "no/such/v.ini");
  std::filesystem::create_directory(dir / "folder.ini");
  s = WriteProfileString(dir / "folder.ini", "S", "k", "v");
  EXPECT_EQ(s.error_number(), EISDIR);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.ini"));
  // A file too large to be a settings file is refused, not rewritten.
  const std::string big = std::string(kProfileFileLimit, 'x') + "\r\n[S]\r\nk=1\r\n";
  WriteFile(dir / "big.ini", big);
  s = WriteProfileString(dir / "big.ini", "S", "k", "2");
  EXPECT_EQ(s.error_number(), EFBIG);
  EXPECT_EQ(ReadFile(dir / "big.ini"), big);
  EXPECT_EQ(ReadProfileString(dir / "big.ini", "S", "k", 1023), "");
}

TEST(IniFileTest, SymlinkedFileIsWrittenThrough) {
  TempDir dir;
  WriteFile(dir / "real.ini", "[S]\r\nk=old\r\n");
  ASSERT_EQ(::symlink("real.ini", (dir / "link.ini").c_str()), 0);
  ASSERT_TRUE(WriteProfileString(dir / "link.ini", "S", "k", "new").ok());
  struct stat st;
  ASSERT_EQ(::lstat((dir / "link.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir / "real.ini"), "[S]\r\nk=new\r\n");
}

}  // namespace
}  // namespace vesmer
