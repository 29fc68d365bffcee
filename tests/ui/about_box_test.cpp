#include "ui/about_box.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <string>

#include "tests/support/test_util.h"
#include "tests/ui/fake_desktop.h"
#include "ui/main_window.h"

namespace vesmer {
namespace {

using testing::FakeDesktop;
using testing::TempDir;
using testing::WriteFile;

// PATH set to `folder` (and a missing one) while the object lives.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& folder) {
    const char* old = std::getenv("PATH");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    ::setenv("PATH", ("/nonexistent:" + folder).c_str(), 1);
  }
  ~ScopedPath() {
    if (had_) {
      ::setenv("PATH", saved_.c_str(), 1);
    } else {
      ::unsetenv("PATH");
    }
  }
  ScopedPath(const ScopedPath&) = delete;
  ScopedPath& operator=(const ScopedPath&) = delete;

 private:
  bool had_ = false;
  std::string saved_;
};

void WriteProgram(const std::string& path) {
  WriteFile(path, "#!/bin/sh\n");
  ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

constexpr const char* kMsinfo = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr const char* kLocation = "SOFTWARE\\Microsoft\\Shared Tools Location";

TEST(AboutBoxTest, ShowsTheSameTextsEachTime) {
  FakeDesktop desktop;
  MemoryRegistry registry;
  for (int i = 0; i < 2; ++i) {
    frmAbout about(desktop, registry);
    about.Fill(VesmerIcon());
    EXPECT_EQ(about.windowTitle(), "VESMERのﾊﾞｰｼﾞｮﾝ情報");
    EXPECT_EQ(about.findChild<QLabel*>("lblTitle")->text(), "Vesmer（ゔぇすめる）");
    EXPECT_EQ(about.findChild<QLabel*>("lblVersion")->text(), "Version 2.0 (40)");
    EXPECT_FALSE(about.findChild<QLabel*>("lblDescription")->text().isEmpty());
    EXPECT_EQ(about.findChild<QLabel*>("lblDisclaimer")->text(), "");
    EXPECT_FALSE(about.findChild<QLabel*>("picIcon")->pixmap().isNull());
    EXPECT_EQ(about.findChild<QPushButton*>("cmdSysInfo")->text(), "ｼｽﾃﾑ情報(&S)...");
    EXPECT_EQ(about.findChild<QPushButton*>("cmdOK")->text(), "OK");
  }
}

TEST(AboutBoxTest, SystemInformationWithoutAProgram) {
  TempDir empty;
  ScopedPath path(empty.path());
  FakeDesktop desktop;
  MemoryRegistry registry;
  frmAbout about(desktop, registry);
  QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
  EXPECT_TRUE(desktop.started.isEmpty());
  EXPECT_EQ(desktop.messages, QStringList{"VESMER|現時点ではｼｽﾃﾑ情報を使用できません"});
  EXPECT_EQ(registry.open_keys(), 0);
}

TEST(AboutBoxTest, SystemInformationStartsTheRegisteredProgram) {
  TempDir empty;
  ScopedPath path(empty.path());
  FakeDesktop desktop;
  MemoryRegistry registry;
  registry.SetString(RegistryRoot::kLocalMachine, kMsinfo, "PATH", "/usr/bin/hardinfo");
  frmAbout about(desktop, registry);
  QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
  EXPECT_EQ(desktop.started, QList<QStringList>{{"/usr/bin/hardinfo"}});
  EXPECT_TRUE(desktop.messages.isEmpty());

  desktop.start_succeeds = false;  // a failing start says so too
  about.StartSysInfo();
  EXPECT_EQ(desktop.messages.size(), 1);
}

TEST(AboutBoxTest, SecondLookupNeedsTheProgramInTheFolder) {
  TempDir empty;
  ScopedPath path(empty.path());
  FakeDesktop desktop;
  MemoryRegistry registry;
  registry.SetString(RegistryRoot::kLocalMachine, kLocation, "MSINFO", "/nonexistent");
  frmAbout about(desktop, registry);
  about.StartSysInfo();
  EXPECT_TRUE(desktop.started.isEmpty());
  EXPECT_EQ(desktop.messages.size(), 1);
}

TEST(AboutBoxTest, SystemInformationStartsTheDesktopsProgramOnPath) {
  TempDir bin;
  WriteProgram(bin / "xfce4-taskmanager");
  WriteFile(bin / "gnome-system-monitor", "not a program\n");  // not executable: passed over
  ScopedPath path(bin.path());
  FakeDesktop desktop;
  MemoryRegistry registry;
  frmAbout about(desktop, registry);
  QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
  EXPECT_EQ(desktop.started,
            QList<QStringList>{{QString::fromStdString(bin / "xfce4-taskmanager")}});
  EXPECT_TRUE(desktop.messages.isEmpty());
}

TEST(AboutBoxTest, SystemInformationTriesEachProgramOnPathThenGivesUp) {
  TempDir bin;
  WriteProgram(bin / "kinfocenter");
  WriteProgram(bin / "gnome-system-monitor");
  ScopedPath path(bin.path());
  FakeDesktop desktop;
  desktop.start_succeeds = false;
  MemoryRegistry registry;
  registry.SetString(RegistryRoot::kLocalMachine, kMsinfo, "PATH", "/opt/broken/msinfo");
  frmAbout about(desktop, registry);
  about.StartSysInfo();
  EXPECT_EQ(desktop.started,
            (QList<QStringList>{{"/opt/broken/msinfo"},
                                {QString::fromStdString(bin / "kinfocenter")},
                                {QString::fromStdString(bin / "gnome-system-monitor")}}));
  EXPECT_EQ(desktop.messages, QStringList{"VESMER|現時点ではｼｽﾃﾑ情報を使用できません"});
}

TEST(AboutBoxTest, GetKeyValueReadsStringsAndNumbers) {
  MemoryRegistry registry;
  registry.SetString(RegistryRoot::kLocalMachine, "A\\B", "Text", "値");
  registry.SetDword(RegistryRoot::kLocalMachine, "A\\B", "Number", 0x0A0B0C0D);
  registry.SetDword(RegistryRoot::kLocalMachine, "A\\B", "Small", 0x00001F02);
  std::string value = "stale";
  EXPECT_TRUE(GetKeyValue(registry, RegistryRoot::kLocalMachine, "a\\b", "text", value));
  EXPECT_EQ(value, "値");
  EXPECT_TRUE(GetKeyValue(registry, RegistryRoot::kLocalMachine, "A\\B", "Number", value));
  EXPECT_EQ(value, "&hABCD");  // bytes last to first, each below 16 as one digit
  // One trailing NUL byte of the data is dropped before the digits are made.
  EXPECT_TRUE(GetKeyValue(registry, RegistryRoot::kLocalMachine, "A\\B", "Small", value));
  EXPECT_EQ(value, "&h01F2");
  EXPECT_FALSE(GetKeyValue(registry, RegistryRoot::kLocalMachine, "A\\B", "None", value));
  EXPECT_EQ(value, "");
  EXPECT_FALSE(GetKeyValue(registry, RegistryRoot::kCurrentUser, "A\\B", "Text", value));
  EXPECT_EQ(registry.open_keys(), 0);
}

}  // namespace
}  // namespace vesmer
