#include "ui/main_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/messages.h"
#include "platform/registry.h"
#include "tests/support/test_util.h"
#include "tests/ui/fake_desktop.h"
#include "ui/comparison_controller.h"
#include "ui/form_support.h"
#include "ui/main_window_layout.h"

namespace vesmer {
namespace {

using testing::CrLf;
using testing::FakeDesktop;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(); }

  void Open() {
    window_.reset();
    store_ = SettingsStore{};
    window_ = std::make_unique<frmVESMER>(store_, SettingsLocationFor(dir_ / "vesmer"), desktop_,
                                          registry_);
  }
  template <typename T>
  T* Find(const QString& name) {
    T* w = window_->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name.toStdString();
    return w;
  }
  QCheckBox* Check(const QString& name) { return Find<QCheckBox>(name); }
  QPushButton* Button(const QString& name) { return Find<QPushButton>(name); }
  QLabel* Label(const QString& name) { return Find<QLabel>(name); }
  // Clicks a button, or a check box on its indicator (a check box answers only there and on
  // its caption).
  static void Click(QWidget* w) {
    if (qobject_cast<QCheckBox*>(w) != nullptr) {
      QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
    } else {
      QTest::mouseClick(w, Qt::LeftButton);
    }
  }
  // Runs `look` once from inside the next run, while it lets the window's events run.
  void DuringRun(std::function<void()> look) {
    auto* timer = new QTimer(window_.get());
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, window_.get(), [this, timer, look] {
      if (!window_->running()) return;
      timer->stop();
      timer->deleteLater();
      look();
    });
    timer->start();
  }
  QString Status() { return window_->StatusText(); }

  // Chooses a file through the source or destination button.
  void Choose(int index, const QString& path) {
    desktop_.answers.push_back(path);
    Click(Button(QString("cmdSelInput(%1)").arg(index)));
  }
  // Writes two inputs and chooses them.
  void Inputs(const std::string& source, const std::string& destination) {
    WriteFile(dir_ / "a.prn", source);
    WriteFile(dir_ / "b.prn", destination);
    Choose(0, QString::fromStdString(dir_ / "a.prn"));
    Choose(1, QString::fromStdString(dir_ / "b.prn"));
  }

  TempDir dir_;
  SettingsStore store_;
  FakeDesktop desktop_;
  MemoryRegistry registry_;
  std::unique_ptr<frmVESMER> window_;
};

TEST_F(MainWindowTest, OpensWithDefaultsWithoutASettingsFile) {
  EXPECT_EQ(window_->windowTitle(), "Vesmer");
  const QRect screen = window_->screen()->geometry();
  EXPECT_EQ(window_->x(), (screen.width() - window_->width()) / 2);
  EXPECT_EQ(window_->y(), (screen.height() - window_->height()) / 2);
  EXPECT_EQ(Label("lblInputData(0)")->text(), "");
  EXPECT_EQ(Label("lblInputData(1)")->text(), "");
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(Check(QString("chkOutput(%1)").arg(k))->isChecked(), k >= 2) << k;
    EXPECT_EQ(Check(QString("chkOutput(%1)").arg(k))->isEnabled(), k >= 2) << k;
  }
  EXPECT_FALSE(Check("chkKey")->isChecked());
  EXPECT_FALSE(Check("chkOmit")->isChecked());
  EXPECT_TRUE(Check("chkDisplay")->isChecked());
  EXPECT_EQ(Label("lblDisplay1")->text(),
            "....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*"
            "....+....*....+....#");
  // Client area of 10590 x 9450 twips, fixed.
  EXPECT_EQ(window_->centralWidget()->size(), QSize(706, 630));
  EXPECT_EQ(window_->minimumSize(), window_->maximumSize());
  EXPECT_EQ(Button("cmdStart")->geometry(), QRect(456, 491, 233, 25));
  // Every control at its place in twips, 15 to a pixel, with its caption.
  int named = 0;
  for (const ControlSpec& spec : kMainWindowControls) {
    if (spec.name.empty()) continue;
    ++named;
    const QString name = QString::fromUtf8(spec.name.data(), static_cast<int>(spec.name.size()));
    auto* w = Find<QWidget>(name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), TwipsRect(spec.left, spec.top, spec.width, spec.height)) << spec.name;
    const QString caption =
        QString::fromUtf8(spec.caption.data(), static_cast<int>(spec.caption.size()));
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      EXPECT_EQ(b->text(), caption) << spec.name;
    }
  }
  EXPECT_EQ(named, 48);
  EXPECT_EQ(Check("chkKey")->geometry(), TwipsRect(360, 6105, 3495, 255));
  EXPECT_EQ(Find<QWidget>("cmdInputChange(3)")->geometry(), TwipsRect(7515, 640, 295, 220));
}

TEST_F(MainWindowTest, KeyRuleFollowsTheKeyOption) {
  Check("chkOutput(0)")->setChecked(false);
  Click(Check("chkKey"));
  EXPECT_TRUE(Check("chkOutput(0)")->isChecked());
  EXPECT_TRUE(Check("chkOutput(1)")->isEnabled());
  EXPECT_TRUE(Label("lblOutputData(0)")->isEnabled());
  Click(Check("chkOutput(0)"));  // the user clears it while the key option is on ...
  EXPECT_FALSE(Check("chkOutput(0)")->isChecked());
  window_->ApplyControlStates(false);  // ... and sees it checked again at the next lock
  EXPECT_TRUE(Check("chkOutput(0)")->isChecked());
  EXPECT_TRUE(Check("chkOutput(0)")->isEnabled());  // stays usable while locked
  EXPECT_FALSE(Check("chkOutput(2)")->isEnabled());
  EXPECT_FALSE(Button("cmdStart")->isEnabled());
  EXPECT_FALSE(window_->mnuFile->menuAction()->isEnabled());
  window_->ApplyControlStates(true);
  Click(Check("chkKey"));
  EXPECT_FALSE(Check("chkOutput(1)")->isChecked());
  EXPECT_FALSE(Check("chkOutput(1)")->isEnabled());
}

TEST_F(MainWindowTest, ProgressDisplayBelongsToTheResultList) {
  Click(Check("chkOutput(5)"));
  EXPECT_FALSE(Check("chkDisplay")->isEnabled());
  EXPECT_FALSE(Label("lblDisplay1")->isEnabled());
  EXPECT_FALSE(Label("lblRecord(2)")->isEnabled());
  EXPECT_FALSE(Label("lblOutputData(5)")->isEnabled());
  window_->ApplyControlStates(false);
  window_->ApplyControlStates(true);
  EXPECT_TRUE(Check("chkDisplay")->isEnabled());
  EXPECT_FALSE(Label("lblRecord(0)")->isEnabled());
}

TEST_F(MainWindowTest, DisplayWarning) {
  Click(Check("chkDisplay"));  // off: the status stays empty
  EXPECT_EQ(Status(), "");
  Click(Check("chkDisplay"));
  EXPECT_EQ(Status(), "☆処理状況を表示すると、速度はそれなりに遅くなります");
  Click(Check("chkDisplay"));
  EXPECT_EQ(Status(), "");
  Click(Check("chkDisplay"));
  Click(Button("cmdStart"));
  EXPECT_EQ(Status(), messages::kNoSource);
  Click(Check("chkDisplay"));  // another message is left alone
  EXPECT_EQ(Status(), messages::kNoSource);
}

TEST_F(MainWindowTest, SelectionSetsPathsAndNames) {
  WriteFile(dir_ / "list.prn", "x");
  WriteFile(dir_ / "other.txt", "y");
  Choose(0, QString::fromStdString(dir_ / "list.prn"));
  ASSERT_EQ(desktop_.choices.size(), 1);
  // First use: the documents folder, the two filter entries, the first preselected.
  EXPECT_EQ(desktop_.choices[0].initial, "/home/user/Documents");
  EXPECT_EQ(
      desktop_.choices[0].filters,
      (QList<FileFilter>{{"テキスト ファイル(*.prn; *.txt; *.csv)", {"*.prn", "*.txt", "*.csv"}},
                         {"すべてのファイル (*.*)", {"*.*"}}}));
  EXPECT_EQ(Label("lblInputData(0)")->text().toStdString(), dir_ / "list.prn");
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(Label(QString("lblOutputData(%1)").arg(k))->text().toStdString(),
              dir_ / ("list_" + std::to_string(k) + ".TXT"));
  }
  Choose(1, QString::fromStdString(dir_ / "other.txt"));  // no new names
  EXPECT_EQ(window_->result_paths()[0], dir_ / "list_0.TXT");
  EXPECT_EQ(store_.InputData[1], dir_ / "other.txt");

  // A stored path is the initial location; cancel keeps it.
  Label("lblFileICount(0)")->setText("12");
  Choose(1, "");
  EXPECT_EQ(desktop_.choices.back().initial.toStdString(), dir_ / "other.txt");
  EXPECT_EQ(store_.InputData[1], dir_ / "other.txt");
  EXPECT_EQ(Label("lblInputData(1)")->text().toStdString(), dir_ / "other.txt");
  EXPECT_EQ(Label("lblFileICount(0)")->text(), "");
}

TEST_F(MainWindowTest, CancelledFirstSelectionLeavesNoPath) {
  bool locked_during_choice = false;
  desktop_.during_choice = [&] { locked_during_choice = !Button("cmdStart")->isEnabled(); };
  Choose(0, "");
  EXPECT_TRUE(locked_during_choice);
  EXPECT_TRUE(Button("cmdStart")->isEnabled());
  EXPECT_EQ(store_.InputData[0], "");
  EXPECT_EQ(Label("lblOutputData(0)")->text(), "");
}

TEST_F(MainWindowTest, PathButtons) {
  WriteFile(dir_ / "s.prn", "x");
  WriteFile(dir_ / "d.prn", "y");
  const std::string s = dir_ / "s.prn", d = dir_ / "d.prn";
  Choose(0, QString::fromStdString(s));
  Choose(1, QString::fromStdString(d));
  Check("chkUtf8(0)")->setChecked(true);
  Click(Button("cmdInputChange(1)"));  // swap
  EXPECT_EQ(store_.InputData[0], d);
  EXPECT_EQ(store_.InputData[1], s);
  EXPECT_EQ(Label("lblInputData(0)")->text().toStdString(), d);
  EXPECT_EQ(window_->result_paths()[2], dir_ / "d_2.TXT");
  EXPECT_TRUE(Check("chkUtf8(0)")->isChecked());  // stays with its row
  EXPECT_EQ(window_->focusWidget(), Button("cmdSelInput(0)"));
  Click(Button("cmdInputChange(3)"));  // destination := source
  EXPECT_EQ(store_.InputData[1], d);
  Click(Button("cmdInputChange(0)"));  // move down
  EXPECT_EQ(store_.InputData[0], "");
  EXPECT_EQ(store_.InputData[1], d);
  EXPECT_EQ(window_->result_paths()[2], dir_ / "d_2.TXT");  // an empty source names nothing
  Click(Button("cmdInputChange(4)"));                       // source := destination
  EXPECT_EQ(store_.InputData[0], d);
  Click(Button("cmdInputChange(2)"));  // move up
  EXPECT_EQ(store_.InputData[0], d);
  EXPECT_EQ(store_.InputData[1], "");
  EXPECT_EQ(Label("lblInputData(1)")->text(), "");
}

TEST_F(MainWindowTest, RefusedStartsShowTheMessageAndMoveTheFocus) {
  Click(Button("cmdStart"));
  EXPECT_EQ(Status(), messages::kNoSource);
  EXPECT_EQ(window_->focusWidget(), Button("cmdSelInput(0)"));
  WriteFile(dir_ / "a.prn", "x");
  Choose(0, QString::fromStdString(dir_ / "a.prn"));
  Click(Button("cmdStart"));
  EXPECT_EQ(Status(), messages::kNoDestination);
  EXPECT_EQ(window_->focusWidget(), Button("cmdSelInput(1)"));
  Choose(1, QString::fromStdString(dir_ / "a.prn"));
  Click(Button("cmdStart"));
  EXPECT_EQ(Status(), messages::kSameFile);

  WriteFile(dir_ / "b.prn", "y");
  Choose(1, QString::fromStdString(dir_ / "b.prn"));
  auto* key = Find<QLineEdit>("txtKeyRange");
  auto* omit = Find<QLineEdit>("txtOmitRange");
  Click(Check("chkKey"));
  key->setText("　 ");
  omit->setText(" ２-3 ");
  Click(Button("cmdStart"));
  EXPECT_EQ(Status(), messages::kNoKeyRange);
  EXPECT_EQ(key->text(), "");
  EXPECT_EQ(omit->text(), " ２-3 ");  // not reached
  EXPECT_EQ(window_->focusWidget(), key);
  key->setText("１－５，５－３");
  Click(Button("cmdStart"));
  EXPECT_EQ(key->text(), "1-5,5-3");
  EXPECT_EQ(omit->text(), "2-3");
  EXPECT_EQ(Status(), messages::kBadKeyRange);
  key->setText("1-10");
  Click(Check("chkOmit"));
  omit->setText("10-12");
  Click(Button("cmdStart"));
  EXPECT_EQ(Status(), messages::kRangesOverlap);
  EXPECT_EQ(window_->focusWidget(), omit);
  omit->setText(",,,,,,,,,,,,,,,,,,,,");
  Click(Button("cmdStart"));
  EXPECT_EQ(Status(), messages::kOmitRangeOverLimit);
}

// Enter presses the focused button as on Windows, Space too; Enter in a text box does nothing.
TEST_F(MainWindowTest, EnterPressesTheFocusedButton) {
  auto press = [this](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = window_->focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, static_cast<Qt::Key>(key), modifiers);
  };
  Button("cmdStart")->setFocus();
  press(Qt::Key_Return);
  EXPECT_EQ(Status(), messages::kNoSource);
  // The refused start moved the focus to the source button: Enter now chooses the source.
  ASSERT_EQ(window_->focusWidget(), Button("cmdSelInput(0)"));
  WriteFile(dir_ / "a.prn", "x");
  desktop_.answers.push_back(QString::fromStdString(dir_ / "a.prn"));
  press(Qt::Key_Enter, Qt::KeypadModifier);
  ASSERT_EQ(desktop_.choices.size(), 1);
  EXPECT_EQ(store_.InputData[0], dir_ / "a.prn");

  Button("cmdStart")->setFocus();
  press(Qt::Key_Space);
  EXPECT_EQ(Status(), messages::kNoDestination);
  EXPECT_EQ(window_->focusWidget(), Button("cmdSelInput(1)"));
  press(Qt::Key_Space);  // Space on the destination button opens its chooser
  EXPECT_EQ(desktop_.choices.size(), 2);

  // A held Enter presses once; Enter with Ctrl or Alt presses nothing.
  window_->SetStatusText("");
  auto* start = Button("cmdStart");
  QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", true);
  QApplication::sendEvent(start, &repeat);
  QTest::keyClick(start, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(Status(), "");

  for (const char* name : {"txtKeyRange", "txtOmitRange"}) {
    auto* text = Find<QLineEdit>(name);
    window_->SetStatusText("");
    text->setFocus();
    text->setText("1-5");
    QTest::keyClick(text, Qt::Key_Return);
    QTest::keyClick(text, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(Status(), "") << name;
    EXPECT_EQ(window_->focusWidget(), text) << name;
  }
  EXPECT_EQ(desktop_.choices.size(), 2);
}

TEST_F(MainWindowTest, CompleteRunShowsCountsAndStatus) {
  Inputs(CrLf({"A1", "B1", "C1"}), CrLf({"A1", "B2", "D1"}));
  Click(Check("chkKey"));
  Find<QLineEdit>("txtKeyRange")->setText("1-1");
  struct Seen {
    bool start = true, output0 = false, menu = true, progress = false;
    QString status;
  } seen;
  // Looked at from inside the run, while it lets the window's events run.
  DuringRun([&] {
    seen.start = Button("cmdStart")->isEnabled();
    seen.output0 = Check("chkOutput(0)")->isEnabled();
    seen.menu = window_->mnuTools->menuAction()->isEnabled();
    seen.progress = window_->prgProgress->isVisible() || !window_->prgProgress->isHidden();
    seen.status = Status();
  });
  window_->show();
  Click(Button("cmdStart"));
  EXPECT_FALSE(seen.start);
  EXPECT_TRUE(seen.output0);
  EXPECT_FALSE(seen.menu);
  EXPECT_TRUE(seen.progress);
  EXPECT_EQ(seen.status, messages::kRunning);
  EXPECT_EQ(Status(), messages::kCompleted);
  EXPECT_TRUE(window_->prgProgress->isHidden());
  EXPECT_EQ(Label("lblFileICount(0)")->text(), "3");
  EXPECT_EQ(Label("lblFileICount(1)")->text(), "3");
  const char* counts[6] = {"1", "1", "1", "1", "1", "1"};
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(Label(QString("lblFileOCount(%1)").arg(k))->text(), counts[k]) << k;
  }
  EXPECT_EQ(Label("lblRecord(0)")->text(), "B1");
  EXPECT_EQ(Label("lblRecord(2)")->text(), " ?");
  EXPECT_EQ(ReadFile(dir_ / "a_1.TXT"), CrLf({"D1"}));
  EXPECT_TRUE(Button("cmdStart")->isEnabled());
  EXPECT_TRUE(desktop_.opened.isEmpty());  // OpenResult is off by default
}

// The display shows the pair being listed, at most every few hundredths of a second, and at
// the end of the run the last listed pair, whose segments fall between two looks at the clock.
TEST_F(MainWindowTest, DisplayEndsWithTheLastListedPair) {
  std::vector<std::string> a, b;
  for (int i = 0; i < 3000; ++i) {
    char number[8];
    std::snprintf(number, sizeof number, "%05d", i);
    a.push_back(std::string("first") + number);
    b.push_back(std::string("other") + number);
  }
  // Two segments: columns 1-100 alike, then a full-width space (shown as a square) among
  // differing bytes.
  a.push_back(std::string(100, 'x') + "tail\x81\x40" + "end");
  b.push_back(std::string(100, 'x') + "TAIL\x81\x40" + "end");
  Inputs(CrLf(a), CrLf(b));
  QString first_shown;  // the first text the source line shows while the run goes on
  QTimer look;
  look.setInterval(0);
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (window_->running() && first_shown.isEmpty()) first_shown = Label("lblRecord(0)")->text();
  });
  look.start();
  Click(Button("cmdStart"));
  look.stop();
  EXPECT_EQ(Status(), messages::kCompleted);
  EXPECT_EQ(first_shown, "first00000");
  EXPECT_EQ(Label("lblRecord(0)")->text(), "tail□end");
  EXPECT_EQ(Label("lblRecord(1)")->text(), "TAIL□end");
  EXPECT_EQ(Label("lblRecord(2)")->text(), "????     ");
  EXPECT_EQ(Label("lblFileOCount(5)")->text(), "3001");

  // With the display off the lines stay empty.
  Click(Check("chkDisplay"));
  Click(Button("cmdStart"));
  EXPECT_EQ(Status(), messages::kCompleted);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Label(QString("lblRecord(%1)").arg(i))->text(), "") << i;
}

// Pairs of two segments that differ only in the second: while the run goes on, the display
// shows second segments too, not always the first one of a pair.
TEST_F(MainWindowTest, DisplayShowsEverySegmentOfAPair) {
  std::vector<std::string> a, b;
  for (int i = 0; i < 100000; ++i) {
    const std::string head = std::to_string(100000 + i) + std::string(114, '.');
    a.push_back(head + "same-a");
    b.push_back(head + "same-b");
  }
  Inputs(CrLf(a), CrLf(b));
  QStringList shown;  // every display the run showed: source line and marker line
  QTimer look;
  look.setInterval(0);
  QObject::connect(&look, &QTimer::timeout, [&] {
    // Until the progress bar goes: after it, the end of the run shows the last pair.
    if (!window_->running() || window_->prgProgress->isHidden()) return;
    const QString now = Label("lblRecord(0)")->text() + "|" + Label("lblRecord(2)")->text();
    if (shown.isEmpty() || shown.back() != now) shown << now;
  });
  look.start();
  const QString second_marker = QString(25, ' ') + "?";
  // A fast machine ends a run after few displays: run again until there are enough to tell.
  for (int run = 0; run < 10 && shown.size() < 20; ++run) {
    Click(Button("cmdStart"));
    ASSERT_EQ(Status(), messages::kCompleted);
    EXPECT_EQ(Label("lblRecord(2)")->text(), second_marker);
  }
  look.stop();
  qsizetype first = 0, second = 0;
  for (const QString& s : shown) {
    first += s.endsWith("|" + QString(100, ' ')) ? 1 : 0;
    second += s.endsWith("|" + second_marker) ? 1 : 0;
  }
  // A new display about every 40 ms, and about one in two lands on a second segment: that
  // none of twenty does is all but impossible unless the display never looks there.
  ASSERT_GE(shown.size(), 10) << "the runs ended too soon to tell";
  EXPECT_GE(second, 1) << first << " first segments shown, no second one";
}

// Every segment lets the window's posted events run; the desktop's input and timers are taken
// again and again while a long run goes on, not only at its first segment.
TEST_F(MainWindowTest, LongRunYieldsAtEverySegment) {
  static const auto kEcho = static_cast<QEvent::Type>(QEvent::registerEventType());
  // Posts itself a new event for each it receives: one delivery per yield.
  struct Echo : QObject {
    int received = 0;
    bool event(QEvent* e) override {
      if (e->type() != kEcho) return QObject::event(e);
      ++received;
      QCoreApplication::postEvent(this, new QEvent(kEcho));
      return true;
    }
  };
  constexpr int kPairs = 20000;  // two segments each
  std::vector<std::string> a, b;
  for (int i = 0; i < kPairs; ++i) {
    a.push_back(std::to_string(i) + std::string(140, 'a'));
    b.push_back(std::to_string(i) + std::string(140, 'b'));
  }
  Inputs(CrLf(a), CrLf(b));
  auto echo = std::make_unique<Echo>();
  QTimer ticker;
  int ticks = 0;
  ticker.setInterval(0);
  QObject::connect(&ticker, &QTimer::timeout, [&] { ticks += window_->running() ? 1 : 0; });
  DuringRun([&] {
    echo->received = 0;
    QCoreApplication::postEvent(echo.get(), new QEvent(kEcho));
    ticker.start();
  });
  QElapsedTimer clock;
  clock.start();
  Click(Button("cmdStart"));
  const qint64 ms = clock.elapsed();
  const int received = echo->received;
  echo.reset();
  ticker.stop();
  ASSERT_EQ(Status(), messages::kCompleted);
  ASSERT_EQ(Label("lblFileOCount(5)")->text(), QString::number(kPairs));
  EXPECT_GE(received, 2 * kPairs - 2);
  // The full loop runs about every 10 ms; far fewer runs mean input waits for the end.
  ASSERT_GE(ms, 40) << "the run ended too soon to tell";
  EXPECT_GE(ticks, static_cast<int>(ms / 40));
}

TEST_F(MainWindowTest, RunOpensTheResultList) {
  Inputs(CrLf({"x"}), CrLf({"y"}));
  store_.OpenResult = "1";
  Click(Button("cmdStart"));
  EXPECT_EQ(desktop_.opened, QStringList{QString::fromStdString(dir_ / "a_5.TXT")});
  store_.Editor = "1";
  store_.EditorName = dir_ / "b.prn";  // any existing file
  Click(Button("cmdStart"));
  EXPECT_EQ(desktop_.started.back(), (QStringList{QString::fromStdString(dir_ / "b.prn"),
                                                  QString::fromStdString(dir_ / "a_5.TXT")}));
}

TEST_F(MainWindowTest, ResultListOpensOnlyWhenADifferenceWasListed) {
  store_.OpenResult = "1";
  Inputs(CrLf({"a"}), CrLf({"a"}));  // identical: the no-difference message stands
  Click(Button("cmdStart"));
  EXPECT_EQ(Status(), messages::kCompletedNoDifferences);
  EXPECT_TRUE(desktop_.opened.isEmpty());
  Inputs(CrLf({"a"}), CrLf({"b"}));
  Click(Check("chkOutput(5)"));  // kind 5 not selected in this run: nothing opens either
  Click(Button("cmdStart"));
  EXPECT_EQ(Status(), messages::kCompleted);
  EXPECT_TRUE(desktop_.opened.isEmpty());
  EXPECT_TRUE(desktop_.started.isEmpty());
}

TEST_F(MainWindowTest, MissingEditorFallsBackToTheDefaultOpener) {
  Inputs(CrLf({"x"}), CrLf({"y"}));
  store_.OpenResult = "1";
  store_.Editor = "1";
  store_.EditorName = dir_ / "no such editor";
  Click(Button("cmdStart"));
  EXPECT_EQ(Status(), messages::kEditorNotFound);
  EXPECT_TRUE(desktop_.started.isEmpty());
  EXPECT_EQ(desktop_.opened, QStringList{QString::fromStdString(dir_ / "a_5.TXT")});
}

// An editor named without a folder ("gedit") is found on PATH, as a shell would find it.
TEST_F(MainWindowTest, EditorNamedWithoutAFolderIsLookedUpOnPath) {
  TempDir bin;
  WriteFile(bin / "mousepad", "#!/bin/sh\n");
  ASSERT_EQ(::chmod((bin / "mousepad").c_str(), 0755), 0);
  const char* old_path = std::getenv("PATH");
  const std::string saved = old_path != nullptr ? old_path : "";
  ::setenv("PATH", ("/nonexistent:" + bin.path()).c_str(), 1);
  Inputs(CrLf({"x"}), CrLf({"y"}));
  store_.OpenResult = "1";
  store_.Editor = "1";
  store_.EditorName = "mousepad";
  Click(Button("cmdStart"));
  ::setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(Status(), messages::kCompleted);
  ASSERT_EQ(desktop_.started.size(), 1);
  EXPECT_EQ(desktop_.started[0], (QStringList{QString::fromStdString(bin / "mousepad"),
                                              QString::fromStdString(dir_ / "a_5.TXT")}));
  EXPECT_TRUE(desktop_.opened.isEmpty());
}

// A bare name that PATH does not know but the current folder holds is started from there,
// not looked up on PATH again; a path is taken as it stands; nothing readable is no editor.
TEST(FindEditorTest, BareNameInTheCurrentFolderKeepsItsFolder) {
  TempDir bin, here;
  WriteFile(bin / "kate", "#!/bin/sh\n");
  ASSERT_EQ(::chmod((bin / "kate").c_str(), 0755), 0);
  WriteFile(here / "myeditor", "#!/bin/sh\n");
  ASSERT_EQ(::chmod((here / "myeditor").c_str(), 0755), 0);
  WriteFile(here / "kate", "#!/bin/sh\n");
  ::mkdir((here / "folder").c_str(), 0755);
  const std::string saved_path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  char saved_cwd[4096];
  ASSERT_NE(::getcwd(saved_cwd, sizeof saved_cwd), nullptr);
  ASSERT_EQ(::chdir(here.path().c_str()), 0);
  ::setenv("PATH", ("/nonexistent:" + bin.path()).c_str(), 1);
  const std::string local = FindEditor("myeditor");
  const std::string on_path = FindEditor("kate");  // PATH comes before the current folder
  const std::string relative = FindEditor("folder/../myeditor");
  const std::string absolute = FindEditor(here / "myeditor");
  const std::string missing = FindEditor("nothing-here");
  const std::string folder = FindEditor("folder");
  const std::string empty = FindEditor("");
  ::setenv("PATH", saved_path.c_str(), 1);
  ASSERT_EQ(::chdir(saved_cwd), 0);

  EXPECT_EQ(local, "./myeditor");
  EXPECT_EQ(on_path, bin / "kate");
  EXPECT_EQ(relative, "folder/../myeditor");
  EXPECT_EQ(absolute, here / "myeditor");
  EXPECT_EQ(missing, "");
  EXPECT_EQ(folder, "");
  EXPECT_EQ(empty, "");
}

TEST_F(MainWindowTest, DoubleClickShowsAnExistingFile) {
  WriteFile(dir_ / "a.prn", "x");
  Choose(0, QString::fromStdString(dir_ / "a.prn"));
  QTest::mouseDClick(Label("lblInputData(0)"), Qt::LeftButton);
  EXPECT_EQ(desktop_.shown, QStringList{QString::fromStdString(dir_ / "a.prn")});
  QTest::mouseDClick(Label("lblInputData(1)"), Qt::LeftButton);  // empty: nothing
  EXPECT_EQ(desktop_.shown.size(), 1);
}

TEST_F(MainWindowTest, ClosingSavesTheSettings) {
  WriteFile(dir_ / "a.prn", "x");
  Choose(0, QString::fromStdString(dir_ / "a.prn"));
  Click(Check("chkKey"));
  Click(Check("chkOutput(3)"));
  Click(Check("chkUtf8(1)"));
  Find<QLineEdit>("txtKeyRange")->setText("1-5");
  Find<QLineEdit>("txtOmitRange")->setText("7-9");
  window_->move(150, 75);
  window_->close();
  SettingsStore saved;
  LoadSettings(saved, SettingsLocationFor(dir_ / "vesmer"));
  EXPECT_EQ(saved.Left, 150 * 15);
  EXPECT_EQ(saved.Top, 75 * 15);
  EXPECT_EQ(saved.InputData[0], dir_ / "a.prn");
  EXPECT_EQ(saved.OutputData, "111011");
  EXPECT_EQ(saved.Utf8[1], "1");
  EXPECT_EQ(saved.Key, "1");
  EXPECT_EQ(saved.KeyRange, "1-5");
  EXPECT_EQ(saved.OmitRange, "7-9");
  EXPECT_EQ(saved.Display, "1");

  Open();  // and the next start applies them
  EXPECT_EQ(window_->pos(), QPoint(150, 75));
  EXPECT_TRUE(Check("chkKey")->isChecked());
  EXPECT_FALSE(Check("chkOutput(3)")->isChecked());
  EXPECT_EQ(Label("lblOutputData(0)")->text().toStdString(), dir_ / "a_0.TXT");
}

TEST_F(MainWindowTest, ClosingDuringARunKeepsWhatWasWritten) {
  std::vector<std::string> a, b;
  for (int i = 0; i < 50; ++i) {
    a.push_back("a" + std::to_string(i));
    b.push_back("b" + std::to_string(i));
  }
  Inputs(CrLf(a), CrLf(b));
  DuringRun([&] { window_->close(); });
  Click(Button("cmdStart"));
  EXPECT_FALSE(window_->running());
  // Stopped after the first entry: its lines reached the files, and the settings were saved.
  EXPECT_EQ(ReadFile(dir_ / "a_2.TXT"), CrLf({"a0"}));
  EXPECT_EQ(ReadFile(dir_ / "a_3.TXT"), CrLf({"b0"}));
  EXPECT_TRUE(testing::Exists(dir_ / "vesmer.ini"));
}

TEST_F(MainWindowTest, MenusOpenTheDialogsWithTheWindowsIcon) {
  window_->show();
  QStringList seen;
  auto look_and_close = [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    seen << modal->objectName() + "|" + modal->windowTitle();
    EXPECT_EQ(modal->windowIcon().cacheKey(), window_->windowIcon().cacheKey());
    QTest::keyClick(modal, Qt::Key_Escape);
  };
  QTimer::singleShot(0, window_.get(), look_and_close);
  window_->mnuSetting->trigger();
  QTimer::singleShot(0, window_.get(), look_and_close);
  window_->mnuAbout->trigger();
  EXPECT_EQ(seen, (QStringList{"frmSetting|設定", "frmAbout|VESMERのﾊﾞｰｼﾞｮﾝ情報"}));
}

}  // namespace
}  // namespace vesmer
