#include "ui/settings_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "core/job.h"
#include "tests/support/test_util.h"
#include "tests/ui/fake_desktop.h"

namespace vesmer {
namespace {

using testing::FakeDesktop;

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.SpaceCompare = "0";
    store_.ArrangeLength = "1";
    store_.OpenResult = "0";
    store_.Editor = "1";
    store_.EditorName = "/usr/bin/mousepad";
    store_.Scale = kDefaultScale;
  }
  frmSetting& Open() {
    dialog_ = std::make_unique<frmSetting>(store_, desktop_);
    dialog_->show();  // shown modeless: the keys reach it, the test goes on
    return *dialog_;
  }
  template <typename T>
  T* Find(const char* name) {
    T* w = dialog_->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  void Click(QWidget* w) {
    if (qobject_cast<QAbstractButton*>(w) != nullptr && qobject_cast<QPushButton*>(w) == nullptr) {
      QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
    } else {
      QTest::mouseClick(w, Qt::LeftButton);
    }
  }
  std::array<std::string, 6> Values() const {
    return {store_.SpaceCompare, store_.ArrangeLength, store_.OpenResult,
            store_.Editor,       store_.EditorName,    store_.Scale};
  }

  SettingsStore store_;
  FakeDesktop desktop_;
  std::unique_ptr<frmSetting> dialog_;
};

TEST_F(SettingsDialogTest, OkWithoutChangesKeepsTheValues) {
  const auto before = Values();
  Open();
  EXPECT_EQ(dialog_->windowTitle(), "設定");
  EXPECT_EQ(dialog_->size(), QSize(642, 368));
  EXPECT_FALSE(Find<QCheckBox>("chkSpaceCompare")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>("chkArrangeLength")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("optEditor(1)")->isChecked());
  EXPECT_EQ(Find<QLineEdit>("txtScale")->maxLength(), 100);
  Click(Find<QPushButton>("cmdOK"));
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(Values(), before);
}

TEST_F(SettingsDialogTest, EnableRules) {
  Open();
  // OpenResult off: options, editor name and browse disabled.
  EXPECT_FALSE(Find<QRadioButton>("optEditor(0)")->isEnabled());
  EXPECT_FALSE(Find<QRadioButton>("optEditor(1)")->isEnabled());
  EXPECT_FALSE(Find<QLineEdit>("txtEditorName")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>("cmdFindEditor")->isEnabled());
  Click(Find<QCheckBox>("chkOpenResult"));  // with Editor "1": all four
  EXPECT_TRUE(Find<QRadioButton>("optEditor(0)")->isEnabled());
  EXPECT_TRUE(Find<QLineEdit>("txtEditorName")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>("cmdFindEditor")->isEnabled());
  Click(Find<QRadioButton>("optEditor(0)"));
  EXPECT_FALSE(Find<QLineEdit>("txtEditorName")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>("cmdFindEditor")->isEnabled());
  EXPECT_TRUE(Find<QRadioButton>("optEditor(1)")->isEnabled());

  store_.OpenResult = "1";
  store_.Editor = "0";
  Open();  // with Editor "0": only the options
  EXPECT_TRUE(Find<QRadioButton>("optEditor(1)")->isEnabled());
  EXPECT_FALSE(Find<QLineEdit>("txtEditorName")->isEnabled());

  store_.Editor = "2";  // hand-edited: shown as the run reads it, the named editor
  Open();
  EXPECT_TRUE(Find<QRadioButton>("optEditor(1)")->isChecked());
}

TEST_F(SettingsDialogTest, OkStoresWhatTheControlsShow) {
  Open();
  Click(Find<QCheckBox>("chkSpaceCompare"));
  Click(Find<QCheckBox>("chkOpenResult"));
  Click(Find<QRadioButton>("optEditor(0)"));
  Find<QLineEdit>("txtEditorName")->setText("");
  Find<QLineEdit>("txtScale")->setText("1234");
  QTest::keyClick(dialog_.get(), Qt::Key_Return);  // Enter is OK
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(Values(), (std::array<std::string, 6>{"1", "1", "1", "0", "", "1234"}));
}

TEST_F(SettingsDialogTest, BrowseThenCancelRestores) {
  store_.OpenResult = "1";
  Open();
  desktop_.answers.push_back("/opt/editor/bin/kate");
  Click(Find<QPushButton>("cmdFindEditor"));
  ASSERT_EQ(desktop_.choices.size(), 1);
  EXPECT_EQ(desktop_.choices[0].initial, "/usr/bin/mousepad");  // a full path starts there
  EXPECT_EQ(desktop_.choices[0].filters[0].caption, "アプリケーション (*.exe)");
  EXPECT_TRUE(desktop_.choices[0].filters[0].executables_only);
  EXPECT_EQ(desktop_.choices[0].filters[1].caption, "すべてのファイル (*.*)");
  EXPECT_EQ(Find<QLineEdit>("txtEditorName")->text(), "/opt/editor/bin/kate");
  EXPECT_EQ(store_.EditorName, "/opt/editor/bin/kate");
  QTest::keyClick(dialog_.get(), Qt::Key_Escape);  // Esc is Cancel
  EXPECT_EQ(dialog_->result(), QDialog::Rejected);
  EXPECT_EQ(store_.EditorName, "/usr/bin/mousepad");
}

TEST_F(SettingsDialogTest, BrowseThenCloseBoxKeepsThePick) {
  store_.OpenResult = "1";
  store_.EditorName = "Notepad.exe";
  store_.SpaceCompare = "0";
  Open();
  Click(Find<QCheckBox>("chkSpaceCompare"));  // not committed by the close box
  desktop_.answers.push_back("/usr/bin/gedit");
  Click(Find<QPushButton>("cmdFindEditor"));
  EXPECT_EQ(desktop_.choices[0].initial, "/usr/bin");  // the program-files folder
  dialog_->close();
  EXPECT_EQ(store_.EditorName, "/usr/bin/gedit");
  EXPECT_EQ(store_.SpaceCompare, "0");
}

TEST_F(SettingsDialogTest, CancelledBrowseTakesTheTextBox) {
  store_.OpenResult = "1";
  store_.EditorName = "";
  Open();
  Find<QLineEdit>("txtEditorName")->setText("/typed/editor");
  desktop_.answers.push_back("");
  Click(Find<QPushButton>("cmdFindEditor"));
  EXPECT_EQ(desktop_.choices[0].initial, "/usr/bin");
  EXPECT_EQ(store_.EditorName, "/typed/editor");
}

TEST_F(SettingsDialogTest, EmptyEditorNameLoadsAsNotepad) {
  testing::TempDir dir;
  store_.OpenResult = "1";
  Open();
  Find<QLineEdit>("txtEditorName")->setText("");
  Click(Find<QPushButton>("cmdOK"));
  SaveSettings(store_, SettingsLocationFor(dir / "vesmer"));
  SettingsStore loaded;
  LoadSettings(loaded, SettingsLocationFor(dir / "vesmer"));
  EXPECT_EQ(loaded.EditorName, "Notepad.exe");
}

}  // namespace
}  // namespace vesmer
