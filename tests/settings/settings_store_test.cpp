#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include "engine/job.h"
#include "tests/test_util.h"

namespace vesmer {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(SettingsStoreTest, LocationFollowsTheExecutable) {
  const SettingsLocation where = SettingsLocationFor("/opt/vesmer/bin/vesmer");
  EXPECT_EQ(where.file, "/opt/vesmer/bin/vesmer.ini");
  EXPECT_EQ(where.section, "vesmer");
  EXPECT_EQ(SettingsLocationFor("/x/VESMER.exe").file, "/x/VESMER.ini");
  EXPECT_EQ(SettingsLocationFor("/x/VESMER.exe").section, "VESMER");
  EXPECT_EQ(SettingsLocationOfFile("/s/mine.ini").section, "mine");
}

TEST(SettingsStoreTest, DefaultsWithoutAFile) {
  TempDir dir;
  SettingsStore s;
  s.Left = 5;
  s.InputData[0] = "stale";
  LoadSettings(s, SettingsLocationFor(dir / "vesmer"));
  EXPECT_EQ(s.Left, 0);
  EXPECT_EQ(s.Top, 0);
  EXPECT_EQ(s.InputData[0], "");
  EXPECT_EQ(s.InputData[1], "");
  EXPECT_EQ(s.Utf8[0], "");
  EXPECT_EQ(s.OutputData, "111111");
  EXPECT_EQ(s.Key, "0");
  EXPECT_EQ(s.KeyRange, "");
  EXPECT_EQ(s.Omit, "0");
  EXPECT_EQ(s.OmitRange, "");
  EXPECT_EQ(s.Display, "1");
  EXPECT_EQ(s.SpaceCompare, "0");
  EXPECT_EQ(s.ArrangeLength, "0");
  EXPECT_EQ(s.OpenResult, "0");
  EXPECT_EQ(s.Editor, "0");
  EXPECT_EQ(s.EditorName, "Notepad.exe");
  EXPECT_EQ(s.Scale, kDefaultScale);
}

TEST(SettingsStoreTest, RoundTripWithJapaneseText) {
  TempDir dir;
  WriteFile(dir / "元データ.prn", "x");
  WriteFile(dir / "先.txt", "y");
  SettingsStore s;
  s.Left = -120;
  s.Top = 32767;
  s.InputData = {dir / "元データ.prn", dir / "先.txt"};
  s.Utf8 = {"1", "0"};
  s.OutputData = "101010";
  s.Key = "1";
  s.KeyRange = "1-5,12-20";
  s.Omit = "1";
  s.OmitRange = "30-31";
  s.Display = "0";
  s.SpaceCompare = "1";
  s.ArrangeLength = "1";
  s.OpenResult = "1";
  s.Editor = "1";
  s.EditorName = "/usr/bin/えでぃた";
  s.Scale = "１２３４５....+....";
  const SettingsLocation where = SettingsLocationFor(dir / "vesmer");
  SaveSettings(s, where);
  SettingsStore loaded;
  LoadSettings(loaded, where);
  EXPECT_EQ(loaded.Left, s.Left);
  EXPECT_EQ(loaded.Top, s.Top);
  EXPECT_EQ(loaded.InputData, s.InputData);
  EXPECT_EQ(loaded.Utf8, s.Utf8);
  EXPECT_EQ(loaded.OutputData, s.OutputData);
  EXPECT_EQ(loaded.Key, s.Key);
  EXPECT_EQ(loaded.KeyRange, s.KeyRange);
  EXPECT_EQ(loaded.Omit, s.Omit);
  EXPECT_EQ(loaded.OmitRange, s.OmitRange);
  EXPECT_EQ(loaded.Display, s.Display);
  EXPECT_EQ(loaded.SpaceCompare, s.SpaceCompare);
  EXPECT_EQ(loaded.ArrangeLength, s.ArrangeLength);
  EXPECT_EQ(loaded.OpenResult, s.OpenResult);
  EXPECT_EQ(loaded.Editor, s.Editor);
  EXPECT_EQ(loaded.EditorName, s.EditorName);
  EXPECT_EQ(loaded.Scale, s.Scale);
  // The file is code page 932, keys in their order, in one section named after the program.
  const std::string file = ReadFile(dir / "vesmer.ini");
  EXPECT_EQ(file.rfind("[vesmer]\r\nLeft=-120\r\nTop=32767\r\nInputData0=", 0), 0u);
  EXPECT_NE(file.find("EditorName=/usr/bin/\x82\xa6\x82\xc5\x82\xa1\x82\xbd\r\nScale="),
            std::string::npos);
  // Another executable name starts from defaults.
  SettingsStore other;
  LoadSettings(other, SettingsLocationFor(dir / "renamed"));
  EXPECT_EQ(other.OutputData, "111111");
}

TEST(SettingsStoreTest, LoadTimeChecks) {
  TempDir dir;
  WriteFile(dir / "real.txt", "x");
  const std::string long_range(1500, '1');
  WriteFile(dir / "vesmer.ini", "[vesmer]\r\nLeft=40000\r\nTop= 12.5 \r\nInputData0=" + dir.path() +
                                    "\r\nInputData1=" + (dir / "real.txt") +
                                    "\r\nOutputData=\r\nDisplay=\r\n"
                                    "EditorName=\r\nKeyRange=" +
                                    long_range + "\r\nUtf80=1");
  SettingsStore s;
  LoadSettings(s, SettingsLocationFor(dir / "vesmer"));
  EXPECT_EQ(s.Left, 0);           // beyond 16 bits
  EXPECT_EQ(s.Top, 12);           // rounded half to even
  EXPECT_EQ(s.InputData[0], "");  // a folder
  EXPECT_EQ(s.InputData[1], dir / "real.txt");
  EXPECT_EQ(s.OutputData, "111111");
  EXPECT_EQ(s.Display, "1");
  EXPECT_EQ(s.EditorName, "Notepad.exe");
  EXPECT_EQ(s.KeyRange, long_range.substr(0, 1023));
  EXPECT_EQ(s.Utf8[0], "1");  // no final line end is fine
  WriteFile(dir / "vesmer.ini", "[vesmer]\r\nLeft=abc\r\nTop=-32768\r\n");
  LoadSettings(s, SettingsLocationFor(dir / "vesmer"));
  EXPECT_EQ(s.Left, 0);
  EXPECT_EQ(s.Top, -32768);
}

TEST(SettingsStoreTest, CharactersWithoutAFormAreWrittenAsWindowsWritesThem) {
  TempDir dir;
  SettingsStore s;
  s.EditorName = "ゔ";  // best fit: ヴ
  SaveSettings(s, SettingsLocationFor(dir / "vesmer"));
  LoadSettings(s, SettingsLocationFor(dir / "vesmer"));
  EXPECT_EQ(s.EditorName, "ヴ");
}

TEST(SettingsStoreTest, PathOutsideTheCodePageIsClearedOnLoad) {
  TempDir dir;
  WriteFile(dir / "한.txt", "x");
  SettingsStore s;
  s.InputData[0] = dir / "한.txt";
  SaveSettings(s, SettingsLocationFor(dir / "vesmer"));
  EXPECT_NE(ReadFile(dir / "vesmer.ini").find("InputData0=" + dir.path() + "/?.txt"),
            std::string::npos);
  LoadSettings(s, SettingsLocationFor(dir / "vesmer"));
  EXPECT_EQ(s.InputData[0], "");
}

}  // namespace
}  // namespace vesmer
