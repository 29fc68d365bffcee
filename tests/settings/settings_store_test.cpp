#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/forked_child.h"
#include "tests/support/sys_faults.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::FolderEntries;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// What happens to the names in a folder, as the kernel reports it: "create NAME",
// "modify NAME", "moved_to NAME", "moved_from NAME", "delete NAME". Events queue up as the file
// system changes, so all of them are there once the watched call has returned.
class FolderWatch {
 public:
  explicit FolderWatch(const std::string& folder) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0 &&
        ::inotify_add_watch(fd_, folder.c_str(),
                            IN_CREATE | IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FolderWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  [[nodiscard]] bool ok() const { return fd_ >= 0; }

  [[nodiscard]] std::vector<std::string> Events() {
    std::vector<std::string> events;
    alignas(inotify_event) char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, sizeof buffer);
      if (got <= 0) break;
      for (char* p = buffer; p < buffer + got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(p);
        const std::string name = event->len > 0 ? std::string(event->name) : std::string();
        if (event->mask & IN_CREATE) events.push_back("create " + name);
        if (event->mask & IN_MODIFY) events.push_back("modify " + name);
        if (event->mask & IN_MOVED_FROM) events.push_back("moved_from " + name);
        if (event->mask & IN_MOVED_TO) events.push_back("moved_to " + name);
        if (event->mask & IN_DELETE) events.push_back("delete " + name);
        p += sizeof(inotify_event) + event->len;
      }
    }
    return events;
  }

 private:
  int fd_;
};

std::size_t CountStartingWith(const std::vector<std::string>& events, const std::string& prefix) {
  return static_cast<std::size_t>(std::count_if(
      events.begin(), events.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
}

// A store whose every value differs from the defaults.
SettingsStore Filled() {
  SettingsStore s;
  s.Left = -3;
  s.Top = 7;
  s.Utf8 = {"1", "0"};
  s.OutputData = "101010";
  s.Key = "1";
  s.KeyRange = "1-5";
  s.Omit = "1";
  s.OmitRange = "9-9";
  s.Display = "0";
  s.SpaceCompare = "1";
  s.ArrangeLength = "1";
  s.OpenResult = "1";
  s.Editor = "1";
  s.EditorName = "エディタ";
  s.Scale = "+*";
  return s;
}

// The 18 lines SaveSettings writes for Filled(), in their order.
const char kFilledLines[] =
    "Left=-3\r\nTop=7\r\nInputData0=\r\nUtf80=1\r\nInputData1=\r\nUtf81=0\r\n"
    "OutputData=101010\r\nKey=1\r\nKeyRange=1-5\r\nOmit=1\r\nOmitRange=9-9\r\nDisplay=0\r\n"
    "SpaceCompare=1\r\nArrangeLength=1\r\nOpenResult=1\r\nEditor=1\r\n"
    "EditorName=\x83\x47\x83\x66\x83\x42\x83\x5e\r\nScale=+*\r\n";

// An environment in which only the listed paths may be written.
SettingsEnvironment Writable(std::vector<std::string> paths, std::string xdg = "",
                             std::string home = "/home/u") {
  SettingsEnvironment environment;
  environment.may_write = [paths](const std::string& path) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
  };
  environment.xdg_config_home = std::move(xdg);
  environment.home = std::move(home);
  return environment;
}

TEST(SettingsStoreTest, LocationFollowsTheExecutable) {
  const SettingsLocation where =
      SettingsLocationFor("/opt/vesmer/bin/vesmer", Writable({"/opt/vesmer/bin"}));
  EXPECT_EQ(where.file, "/opt/vesmer/bin/vesmer.ini");
  EXPECT_EQ(where.section, "vesmer");
  EXPECT_FALSE(where.create_folders);
  EXPECT_EQ(SettingsLocationFor("/x/VESMER.exe", Writable({"/x"})).file, "/x/VESMER.ini");
  EXPECT_EQ(SettingsLocationFor("/x/VESMER.exe", Writable({"/x"})).section, "VESMER");
  EXPECT_EQ(SettingsLocationOfFile("/s/mine.ini").section, "mine");
}

TEST(SettingsStoreTest, WritableFileBesideAReadOnlyFolderIsKept) {
  const SettingsLocation where =
      SettingsLocationFor("/usr/bin/vesmer", Writable({"/usr/bin/vesmer.ini"}, "/xdg"));
  EXPECT_EQ(where.file, "/usr/bin/vesmer.ini");
  EXPECT_EQ(where.section, "vesmer");
  EXPECT_FALSE(where.create_folders);
}

TEST(SettingsStoreTest, ReadOnlyProgramFolderMovesTheSettingsToTheUser) {
  SettingsLocation where = SettingsLocationFor("/usr/bin/vesmer", Writable({}, "/xdg/conf/"));
  EXPECT_EQ(where.file, "/xdg/conf/vesmer/vesmer.ini");
  EXPECT_EQ(where.section, "vesmer");
  EXPECT_TRUE(where.create_folders);
  // The section follows the name the program was started under, as beside the program.
  where = SettingsLocationFor("/usr/bin/nightly.sh", Writable({}, "", "/home/u"));
  EXPECT_EQ(where.file, "/home/u/.config/vesmer/nightly.ini");
  EXPECT_EQ(where.section, "nightly");
  EXPECT_TRUE(where.create_folders);
  // A relative $XDG_CONFIG_HOME is not to be used.
  EXPECT_EQ(SettingsLocationFor("/usr/bin/vesmer", Writable({}, "conf", "/root")).file,
            "/root/.config/vesmer/vesmer.ini");
  EXPECT_EQ(SettingsLocationFor("/usr/bin/vesmer", Writable({}, "", "/")).file,
            "/.config/vesmer/vesmer.ini");
  // With no folder of the user known, beside the program is all there is.
  where = SettingsLocationFor("/usr/bin/vesmer", Writable({}, "", ""));
  EXPECT_EQ(where.file, "/usr/bin/vesmer.ini");
  EXPECT_FALSE(where.create_folders);
}

TEST(SettingsStoreTest, LocationOnThisMachineAsksThePermissions) {
  TempDir dir;
  std::filesystem::create_directory(dir / "bin");
  EXPECT_EQ(SettingsLocationFor(dir / "bin/vesmer").file, dir / "bin/vesmer.ini");
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod((dir / "bin").c_str(), 0555), 0);
  // Another user cannot write the folder: the file moves to the user's configuration folder.
  const std::string config = dir / "config";
  const int code = testing::RunUnprivileged([&] {
    if (::geteuid() == 0) return 10;  // permissions would not apply
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    SettingsLocation where = SettingsLocationFor(dir / "bin/vesmer");
    if (where.file != config + "/vesmer/vesmer.ini" || !where.create_folders) return 1;
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", "/home/elsewhere", 1);
    where = SettingsLocationFor(dir / "bin/vesmer");
    if (where.file != "/home/elsewhere/.config/vesmer/vesmer.ini") return 2;
    return 0;
  });
  ASSERT_EQ(::chmod((dir / "bin").c_str(), 0755), 0);
  if (code == testing::kCannotDropPrivileges) GTEST_SKIP() << "cannot change user ids";
  EXPECT_EQ(code, 0);
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

// kFilledLines without the line `line` (given without its line end).
std::string FilledLinesWithout(const std::string& line) {
  std::string lines = kFilledLines;
  const std::size_t at = lines.find("\r\n" + line + "\r\n");
  EXPECT_NE(at, std::string::npos) << line;
  if (at != std::string::npos) lines.erase(at + 2, line.size() + 2);
  return lines;
}

TEST(SettingsStoreTest, SaveReplacesTheFileOnceWithAllKeys) {
  TempDir dir;
  const SettingsLocation where{dir / "vesmer.ini", "vesmer"};
  WriteFile(where.file, "; my notes\r\n[other]\r\nLeft=5\r\n[VESMER]\r\nKey=0\r\nUnknown=keep\r\n");
  FolderWatch watch(dir.path());
  ASSERT_TRUE(watch.ok());
  ASSERT_TRUE(SaveSettingsChecked(Filled(), where).ok());
  const std::vector<std::string> events = watch.Events();
  // One rename onto the file, of the one temporary file made; the file is never written in place.
  EXPECT_EQ(CountStartingWith(events, "moved_to "), 1u);
  EXPECT_EQ(CountStartingWith(events, "moved_to vesmer.ini"), 1u);
  EXPECT_EQ(CountStartingWith(events, "create "), 1u);
  EXPECT_EQ(CountStartingWith(events, "modify vesmer.ini"), 0u);
  EXPECT_EQ(CountStartingWith(events, "delete "), 0u);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"vesmer.ini"});
  // Every other line stays; a key already there is replaced where it stands, the others follow
  // the section's last line.
  EXPECT_EQ(ReadFile(where.file),
            "; my notes\r\n[other]\r\nLeft=5\r\n[VESMER]\r\nKey=1\r\nUnknown=keep\r\n" +
                FilledLinesWithout("Key=1"));
}

TEST(SettingsStoreTest, SaveThatChangesNothingWritesNothing) {
  TempDir dir;
  const SettingsLocation where{dir / "vesmer.ini", "vesmer"};
  ASSERT_TRUE(SaveSettingsChecked(Filled(), where).ok());
  EXPECT_EQ(ReadFile(where.file), std::string("[vesmer]\r\n") + kFilledLines);
  FolderWatch watch(dir.path());
  ASSERT_TRUE(watch.ok());
  ASSERT_TRUE(SaveSettingsChecked(Filled(), where).ok());
  EXPECT_EQ(watch.Events(), std::vector<std::string>{});
}

TEST(SettingsStoreTest, FailedSaveLeavesTheFileAsItWas) {
  TempDir dir;
  const SettingsLocation where{dir / "vesmer.ini", "vesmer"};
  const std::string old = "[vesmer]\r\nLeft=1\r\n";
  WriteFile(where.file, old);
  testing::SysFaults faults;
  // Room for the first 40 bytes, then the disk is full: saved key by key, the first keys would
  // get through.
  faults.Add({.call = testing::Call::kWrite, .at_most = 40});
  faults.Add(
      {.call = testing::Call::kWrite, .error = ENOSPC, .nth = 2, .times = testing::kEveryCall});
  const Status s = SaveSettingsChecked(Filled(), where);
  EXPECT_EQ(s.error_number(), ENOSPC);
  EXPECT_EQ(s.path(), where.file);
  EXPECT_EQ(SaveSettingsMessage(s),
            "★設定ファイルを保存できません: " + where.file + "（ディスクの空き容量が足りません）");
  SaveSettings(Filled(), where);  // the window's save: the same failure, dropped
  EXPECT_EQ(ReadFile(where.file), old);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"vesmer.ini"});
}

TEST(SettingsStoreTest, SaveIntoAFolderThatCannotBeWrittenFails) {
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  std::filesystem::create_directory(dir / "bin");
  const SettingsLocation where{dir / "bin/vesmer.ini", "vesmer"};
  const std::string old = "[vesmer]\r\nKey=0\r\n";
  WriteFile(where.file, old);
  ASSERT_EQ(::chmod(where.file.c_str(), 0666), 0);
  ASSERT_EQ(::chmod((dir / "bin").c_str(), 0555), 0);
  const int code = testing::RunUnprivileged([&] {
    const Status s = SaveSettingsChecked(Filled(), where);
    if (s.ok()) return 1;
    if (s.error_number() != EACCES || s.path() != where.file) return 2;
    if (SaveSettingsMessage(s) !=
        "★設定ファイルを保存できません: " + where.file + "（アクセスが許可されていません）") {
      return 3;
    }
    return 0;
  });
  ASSERT_EQ(::chmod((dir / "bin").c_str(), 0755), 0);
  if (code == testing::kCannotDropPrivileges) GTEST_SKIP() << "cannot change user ids";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(where.file), old);
  EXPECT_EQ(FolderEntries(dir / "bin"), std::vector<std::string>{"vesmer.ini"});
}

TEST(SettingsStoreTest, SymlinkedSettingsFileStaysALink) {
  TempDir dir;
  std::filesystem::create_directory(dir / "bin");
  std::filesystem::create_directory(dir / "conf");
  WriteFile(dir / "conf/shared.ini", "; shared\r\n[vesmer]\r\nKey=0\r\n");
  ASSERT_EQ(::chmod((dir / "conf/shared.ini").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("../conf/shared.ini", (dir / "bin/vesmer.ini").c_str()), 0);
  const SettingsLocation where{dir / "bin/vesmer.ini", "vesmer"};
  FolderWatch watch(dir / "conf");
  ASSERT_TRUE(watch.ok());
  ASSERT_TRUE(SaveSettingsChecked(Filled(), where).ok());
  EXPECT_EQ(CountStartingWith(watch.Events(), "moved_to shared.ini"), 1u);
  struct stat st;
  ASSERT_EQ(::lstat(where.file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(std::filesystem::read_symlink(where.file).string(), "../conf/shared.ini");
  EXPECT_EQ(ReadFile(dir / "conf/shared.ini"),
            "; shared\r\n[vesmer]\r\nKey=1\r\n" + FilledLinesWithout("Key=1"));
  ASSERT_EQ(::stat((dir / "conf/shared.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(FolderEntries(dir / "bin"), std::vector<std::string>{"vesmer.ini"});
  EXPECT_EQ(FolderEntries(dir / "conf"), std::vector<std::string>{"shared.ini"});
  // One key through WriteIni goes the same way.
  EXPECT_TRUE(WriteIni("vesmer", "Key", "0", where.file));
  ASSERT_EQ(::lstat(where.file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  SettingsStore loaded;
  LoadSettings(loaded, where);
  EXPECT_EQ(loaded.Key, "0");
  EXPECT_EQ(loaded.EditorName, "エディタ");
}

TEST(SettingsStoreTest, DanglingLinkGetsItsTargetMade) {
  TempDir dir;
  ASSERT_EQ(::symlink((dir / "real.ini").c_str(), (dir / "vesmer.ini").c_str()), 0);
  const SettingsLocation where{dir / "vesmer.ini", "vesmer"};
  ASSERT_TRUE(SaveSettingsChecked(Filled(), where).ok());
  struct stat st;
  ASSERT_EQ(::lstat(where.file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir / "real.ini"), std::string("[vesmer]\r\n") + kFilledLines);
}

TEST(SettingsStoreTest, PerUserLocationGetsItsFoldersMade) {
  TempDir dir;
  SettingsLocation where{dir / "home/.config/vesmer/vesmer.ini", "vesmer", false};
  // Elsewhere a missing folder is a failure, and nothing is made.
  const Status refused = SaveSettingsChecked(Filled(), where);
  EXPECT_EQ(refused.error_number(), ENOENT);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{});
  where.create_folders = true;
  ASSERT_TRUE(SaveSettingsChecked(Filled(), where).ok());
  EXPECT_EQ(ReadFile(where.file), std::string("[vesmer]\r\n") + kFilledLines);
  for (const char* folder : {"home", "home/.config", "home/.config/vesmer"}) {
    struct stat st;
    ASSERT_EQ(::stat((dir / folder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u) << folder;
  }
  SettingsStore loaded;
  LoadSettings(loaded, where);
  EXPECT_EQ(loaded.KeyRange, "1-5");
  // A file where a folder should be: the failure names it.
  WriteFile(dir / "blocked", "");
  const Status blocked =
      SaveSettingsChecked(Filled(), {dir / "blocked/vesmer/vesmer.ini", "vesmer", true});
  EXPECT_EQ(blocked.error_number(), ENOTDIR);
  EXPECT_EQ(SaveSettingsMessage(blocked), "★設定ファイルを保存できません: " + (dir / "blocked") +
                                              "（パスの途中がフォルダではありません）");
}

TEST(SettingsFileTest, SectionNamedAfterTheFileIsRead) {
  TempDir dir;
  const std::string path = dir / "nightly.ini";
  WriteFile(path, "[vesmer]\r\nKey=0\r\nOmit=1\r\n[NIGHTLY]\r\nKey=1\r\nKeyRange=1-5\r\n");
  SettingsStore s;
  std::string message = "stale";
  ASSERT_TRUE(LoadSettingsFile(path, s, message).ok());
  EXPECT_EQ(message, "");
  EXPECT_EQ(s.Key, "1");
  EXPECT_EQ(s.KeyRange, "1-5");
  EXPECT_EQ(s.Omit, "0");  // the other section is not read
  EXPECT_EQ(s.OutputData, "111111");
  EXPECT_EQ(s.Scale, kDefaultScale);
}

TEST(SettingsFileTest, CopyOfTheProgramsFileUnderAnotherNameLoads) {
  TempDir dir;
  WriteFile(dir / "a.prn", "x");
  SettingsStore saved = Filled();
  saved.InputData = {dir / "a.prn", dir.path()};  // a folder is cleared at load
  ASSERT_TRUE(SaveSettingsChecked(saved, {dir / "vesmer.ini", "vesmer"}).ok());
  std::filesystem::copy_file(dir / "vesmer.ini", dir / "nightly.ini");
  SettingsStore s;
  std::string message;
  ASSERT_TRUE(LoadSettingsFile(dir / "nightly.ini", s, message).ok()) << message;
  EXPECT_EQ(s.Left, -3);
  EXPECT_EQ(s.Top, 7);
  EXPECT_EQ(s.InputData[0], dir / "a.prn");
  EXPECT_EQ(s.InputData[1], "");
  EXPECT_EQ(s.Utf8, saved.Utf8);
  EXPECT_EQ(s.OutputData, "101010");
  EXPECT_EQ(s.KeyRange, "1-5");
  EXPECT_EQ(s.OmitRange, "9-9");
  EXPECT_EQ(s.EditorName, "エディタ");
  EXPECT_EQ(s.Scale, "+*");
  // Empty values get their defaults, as at the program's start.
  WriteFile(dir / "other.ini", "; c\r\n[whatever]\r\nDisplay=\r\nLeft=abc\r\n");
  ASSERT_TRUE(LoadSettingsFile(dir / "other.ini", s, message).ok());
  EXPECT_EQ(s.Display, "1");
  EXPECT_EQ(s.Left, 0);
  EXPECT_EQ(s.Key, "0");
}

TEST(SettingsFileTest, JapaneseFileAndSectionNames) {
  TempDir dir;
  const std::string path = dir / "夜間.ini";
  WriteFile(path, "[x]\r\nKey=0\r\n[\x96\xe9\x8a\xd4]\r\nKey=1\r\n");
  SettingsStore s;
  std::string message;
  ASSERT_TRUE(LoadSettingsFile(path, s, message).ok()) << message;
  EXPECT_EQ(s.Key, "1");
  WriteFile(dir / "n.ini", "[\x83\x41]\r\n[\x83\x61]\r\n");
  EXPECT_FALSE(LoadSettingsFile(dir / "n.ini", s, message).ok());
  EXPECT_EQ(message, "★設定ファイルにセクション [n] がありません（[ア]、[ヂ] があります）: " +
                         (dir / "n.ini"));
}

TEST(SettingsFileTest, FileThatCannotBeUsedIsReported) {
  TempDir dir;
  SettingsStore s;
  s.Key = "kept";
  std::string message;
  const auto load = [&](const std::string& path) {
    const Status status = LoadSettingsFile(path, s, message);
    EXPECT_FALSE(status.ok()) << path;
    EXPECT_EQ(s.Key, "kept") << path;
    return status;
  };
  Status status = load(dir / "nightly.ini");
  EXPECT_EQ(status.error_number(), ENOENT);
  EXPECT_EQ(message, "★設定ファイルを読めません: " + (dir / "nightly.ini") +
                         "（ファイルまたはフォルダがありません）");
  std::filesystem::create_directory(dir / "folder.ini");
  status = load(dir / "folder.ini");
  EXPECT_EQ(status.error_number(), EISDIR);
  EXPECT_EQ(message, "★設定ファイルを読めません: " + (dir / "folder.ini") + "（フォルダです）");
  WriteFile(dir / "garbage.ini", "Key=1\r\n\x83\x41\x00\xff junk [\r\n");
  status = load(dir / "garbage.ini");
  EXPECT_EQ(status.error_number(), EINVAL);
  EXPECT_EQ(message, "★設定ファイルにセクションがありません: " + (dir / "garbage.ini"));
  WriteFile(dir / "empty.ini", "");
  status = load(dir / "empty.ini");
  EXPECT_EQ(message, "★設定ファイルにセクションがありません: " + (dir / "empty.ini"));
  WriteFile(dir / "nightly.ini", "[a]\r\nKey=1\r\n[b]\r\nKey=1\r\n[A]\r\n");
  status = load(dir / "nightly.ini");
  EXPECT_EQ(status.error_number(), EINVAL);
  EXPECT_EQ(message, "★設定ファイルにセクション [nightly] がありません（[a]、[b] があります）: " +
                         (dir / "nightly.ini"));
  // A record file named by mistake: the list stops after ten.
  std::string many;
  for (int i = 1; i <= 12; ++i) many += "[" + std::to_string(i) + "]\r\n";
  WriteFile(dir / "data.ini", many);
  status = load(dir / "data.ini");
  EXPECT_EQ(
      message,
      "★設定ファイルにセクション [data] がありません（[1]、[2]、[3]、[4]、[5]、[6]、[7]、[8]、"
      "[9]、[10]、… があります）: " +
          (dir / "data.ini"));
}

TEST(SettingsFileTest, FileWithoutReadPermissionIsReported) {
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string path = dir / "nightly.ini";
  WriteFile(path, "[nightly]\r\nKey=1\r\n");
  ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
  const int code = testing::RunUnprivileged([&] {
    SettingsStore s;
    std::string message;
    const Status status = LoadSettingsFile(path, s, message);
    if (status.ok() || status.error_number() != EACCES) return 1;
    if (message != "★設定ファイルを読めません: " + path + "（アクセスが許可されていません）") {
      return 2;
    }
    return s.Key.empty() ? 0 : 3;
  });
  if (code == testing::kCannotDropPrivileges) GTEST_SKIP() << "cannot change user ids";
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace vesmer
