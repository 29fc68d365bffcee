// The main window read as a user reads it, with the fonts this machine has: counts of any size
// whole, long paths with their file names, and no text under another control or a frame line.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/registry.h"
#include "tests/support/test_util.h"
#include "tests/ui/fake_desktop.h"
#include "ui/form_labels.h"
#include "ui/main_window.h"

namespace vesmer {
namespace {

using testing::FakeDesktop;
using testing::TempDir;

// The pixels of `image` inside `area` darker than a label's light yellow or grey background.
QRect InkBounds(const QImage& image, const QRect& area) {
  QRect ink;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (qGray(image.pixel(x, y)) < 160) ink |= QRect(x, y, 1, 1);
    }
  }
  return ink;
}

class MainWindowLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<frmVESMER>(store_, SettingsLocationFor(dir_ / "vesmer"), desktop_,
                                          registry_);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  QList<CountLabel*> CountLabels() {
    QList<CountLabel*> labels;
    for (int i = 0; i < 2; ++i) labels << Find<CountLabel>(QString("lblFileICount(%1)").arg(i));
    for (int k = 0; k < 6; ++k) labels << Find<CountLabel>(QString("lblFileOCount(%1)").arg(k));
    return labels;
  }
  template <typename T>
  T* Find(const QString& name) {
    T* w = window_->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name.toStdString();
    return w;
  }

  TempDir dir_;
  SettingsStore store_;
  FakeDesktop desktop_;
  MemoryRegistry registry_;
  std::unique_ptr<frmVESMER> window_;
};

TEST_F(MainWindowLayoutTest, CountsUpToTheLargestFitTheirLabels) {
  for (const QString count : {"2000000", "1999992", "4294967295", "0"}) {
    for (CountLabel* label : CountLabels()) {
      label->setText(count);
      const QFont shown = label->ShownFont();
      EXPECT_EQ(shown.family(), label->font().family());
      EXPECT_GE(shown.pixelSize(), 8) << "still legible";
      EXPECT_LE(QFontMetrics(shown).horizontalAdvance(count), label->contentsRect().width())
          << label->objectName().toStdString() << " " << count.toStdString();
      EXPECT_EQ(label->text(), count);
    }
  }
  // Seven digits, the common case, keep the window's own size.
  CountLabel* label = CountLabels().first();
  label->setText("2000000");
  EXPECT_EQ(label->ShownFont().pixelSize(), label->font().pixelSize());
}

TEST_F(MainWindowLayoutTest, CountsAreDrawnWithRoomToSpare) {
  for (const QString count : {"2000000", "4294967295"}) {
    for (QLabel* label : CountLabels()) {
      label->setText(count);
      const QImage image = label->grab().toImage();
      const QRect ink = InkBounds(image, label->contentsRect());
      // A digit cut by the label's edge leaves its ink on the last column.
      ASSERT_FALSE(ink.isEmpty()) << label->objectName().toStdString();
      EXPECT_LT(ink.right(), label->contentsRect().right())
          << label->objectName().toStdString() << " " << count.toStdString();
      EXPECT_GT(ink.top(), label->contentsRect().top());
      EXPECT_LT(ink.bottom(), label->contentsRect().bottom());
    }
  }
}

constexpr const char* kRealisticPath =
    "/home/yamada/ドキュメント/現新比較/2026年度/給与システム/移行テスト/第3回/出力/"
    "SHAIN_MASTER_20261208.TXT";
constexpr const char* kLongPath =
    "/home/yamada/ドキュメント/現新比較/2026年度/給与システム/移行テスト/第3回/出力/"
    "再実行/部門別/営業本部/関東支社/横浜営業所/SHAIN_MASTER_20261208.TXT";

// What a path label must show of `path`: lines inside its contents, the start of the path
// first, and the file name whole at the end, after "…" when the middle is left out.
void ExpectShowsPath(PathLabel* label, const QString& path) {
  SCOPED_TRACE(label->objectName().toStdString());
  EXPECT_EQ(label->text(), path);
  EXPECT_EQ(label->toolTip(), path);
  EXPECT_EQ(label->accessibleDescription(), path);
  const QList<PathLabel::Line> lines = label->Lines();
  ASSERT_FALSE(lines.isEmpty());
  const QFontMetrics metrics(label->font());
  for (const PathLabel::Line& line : lines) {
    EXPECT_TRUE(label->contentsRect().contains(line.rect)) << line.text.toStdString();
    EXPECT_LE(metrics.horizontalAdvance(line.text), line.rect.width()) << line.text.toStdString();
  }
  QString shown;
  for (const PathLabel::Line& line : lines) shown += line.text;
  const QString file_name = path.mid(path.lastIndexOf('/') + 1);
  EXPECT_TRUE(lines.last().text.endsWith(file_name)) << lines.last().text.toStdString();
  if (shown == path) return;
  ASSERT_GE(lines.size(), 2);
  EXPECT_TRUE(path.startsWith(lines.first().text));
  EXPECT_TRUE(lines.last().text.startsWith(QStringLiteral("\u2026")));
  EXPECT_TRUE(path.endsWith(lines.last().text.mid(1)));
}

// The controls a path button could hide text of: every named control but the buttons.
bool TextUnderButton(frmVESMER& window, PathLabel* label) {
  for (QPushButton* b : window.cmdInputChange) {
    for (const PathLabel::Line& line : label->Lines()) {
      if (line.rect.translated(label->pos()).intersects(b->geometry())) return true;
    }
  }
  return false;
}

TEST_F(MainWindowLayoutTest, LongPathsKeepTheirFileNamesWhole) {
  for (const QString path : {kRealisticPath, kLongPath}) {
    desktop_.answers = {path, path};
    window_->cmdSelInput[0]->click();
    window_->cmdSelInput[1]->click();
    for (PathLabel* label : window_->lblInputData) ExpectShowsPath(label, path);
    const QString base = path.left(path.size() - 4);  // the results are named after the source
    for (int k = 0; k < 6; ++k) {
      ExpectShowsPath(window_->lblOutputData[k], base + QString("_%1.TXT").arg(k));
    }
  }
  // The long one does not fit the two lines.
  EXPECT_TRUE(window_->lblOutputData[0]->Lines().last().text.startsWith(QStringLiteral("\u2026")));
}

TEST_F(MainWindowLayoutTest, PathButtonsHideNoPathAndShowWhole) {
  desktop_.answers = {kLongPath, kLongPath};
  window_->cmdSelInput[0]->click();
  window_->cmdSelInput[1]->click();
  for (PathLabel* label : window_->lblInputData) {
    EXPECT_FALSE(TextUnderButton(*window_, label)) << label->objectName().toStdString();
  }
  QWidget* client = window_->centralWidget();
  for (QPushButton* b : window_->cmdInputChange) {
    // The buttons' sides touch; their middles from top to bottom edge are their own.
    const QRect g = b->geometry();
    const int x = g.center().x();
    for (const QPoint p : {QPoint(x, g.top()), g.center(), QPoint(x, g.bottom())}) {
      EXPECT_EQ(client->childAt(p), b) << b->objectName().toStdString();
    }
  }
}

// Where a control puts its text, in the client area: a button's caption, a check box's whole
// grey band, a text box's whole box, the lines of a path, a count as its font sets it, the ink
// of any other label.
QList<QRect> TextRects(QWidget* w) {
  const QRect g = w->geometry();
  if (auto* path = qobject_cast<PathLabel*>(w)) {
    QList<QRect> rects;
    for (const PathLabel::Line& line : path->Lines()) rects << line.rect.translated(g.topLeft());
    return rects;
  }
  if (qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QLineEdit*>(w) != nullptr) {
    return {g};
  }
  if (auto* b = qobject_cast<QPushButton*>(w)) {
    const QString caption = QString(b->text()).remove('&');
    return {
        b->fontMetrics().boundingRect(b->rect(), Qt::AlignCenter, caption).translated(g.topLeft())};
  }
  if (auto* count = qobject_cast<CountLabel*>(w); count != nullptr && !count->text().isEmpty()) {
    const QFontMetrics metrics(count->ShownFont());
    return {metrics
                .boundingRect(count->contentsRect(), static_cast<int>(count->alignment()),
                              count->text())
                .translated(g.topLeft())};
  }
  if (auto* l = qobject_cast<QLabel*>(w); l != nullptr && !l->text().isEmpty()) {
    // As drawn: the ink of the glyphs and of an access key's underline.
    const QRect ink = InkBounds(l->grab().toImage(), l->rect());
    if (!ink.isEmpty()) return {ink.translated(g.topLeft())};
  }
  return {};
}

// The four one-pixel lines of every box drawn behind the controls.
QList<QRect> FrameLines(QWidget* client) {
  QList<QRect> lines;
  for (QFrame* f : client->findChildren<QFrame*>(Qt::FindDirectChildrenOnly)) {
    if (!f->objectName().isEmpty()) continue;
    const QRect g = f->geometry();
    lines << QRect(g.left(), g.top(), g.width(), 1) << QRect(g.left(), g.bottom(), g.width(), 1)
          << QRect(g.left(), g.top(), 1, g.height()) << QRect(g.right(), g.top(), 1, g.height());
  }
  return lines;
}

class MainWindowFilledTest : public MainWindowLayoutTest {
 protected:
  void SetUp() override {
    MainWindowLayoutTest::SetUp();
    desktop_.answers = {kLongPath, kLongPath};
    window_->cmdSelInput[0]->click();
    window_->cmdSelInput[1]->click();
    for (CountLabel* label : CountLabels()) label->setText("4294967295");
    for (QLabel* r : window_->lblRecord) r->setText(QString(100, 'X'));
    client_ = window_->centralWidget();
    for (QWidget* w : client_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (w->objectName().isEmpty() || w == static_cast<QWidget*>(window_->sbrStatus)) continue;
      for (const QRect& r : TextRects(w)) texts_ << std::pair{w->objectName(), r};
    }
  }
  QWidget* client_ = nullptr;
  QList<std::pair<QString, QRect>> texts_;
};

TEST_F(MainWindowFilledTest, NoTextTouchesAFrameLine) {
  ASSERT_GT(texts_.size(), 48);
  for (const auto& [name, rect] : texts_) {
    for (const QRect& line : FrameLines(client_)) {
      // At least one pixel of room: a glyph against a line reads as cut by it.
      EXPECT_FALSE(rect.adjusted(-1, -1, 1, 1).intersects(line))
          << name.toStdString() << " crosses a line at y " << line.top() << ", x " << line.left();
    }
  }
}

TEST_F(MainWindowFilledTest, NoTwoTextsOverlap) {
  for (qsizetype i = 0; i < texts_.size(); ++i) {
    for (qsizetype j = i + 1; j < texts_.size(); ++j) {
      if (texts_[i].first == texts_[j].first) continue;
      EXPECT_FALSE(texts_[i].second.intersects(texts_[j].second))
          << texts_[i].first.toStdString() << " and " << texts_[j].first.toStdString();
    }
  }
}

TEST_F(MainWindowFilledTest, TheOutputHeadingStandsInTheMiddleOfItsBox) {
  const QRect text = TextRects(window_->Label7).first();
  QRect box;
  for (QFrame* f : client_->findChildren<QFrame*>(Qt::FindDirectChildrenOnly)) {
    if (f->objectName().isEmpty() && f->geometry().contains(window_->Label7->geometry()) &&
        (box.isNull() || box.contains(f->geometry()))) {
      box = f->geometry();
    }
  }
  ASSERT_FALSE(box.isNull());
  const int above = text.top() - (box.top() + 1);
  const int below = (box.bottom() - 1) - text.bottom();
  EXPECT_LE(std::abs(above - below), 2) << above << " pixels above, " << below << " below";
}

TEST(BreakPathTest, ShortPathsStayWholeAndBreakAfterAFolder) {
  const QFontMetrics metrics(QFont("IPAPGothic"));
  const int wide = metrics.horizontalAdvance("/home/user/data/");
  EXPECT_EQ(BreakPath("/home/user/data/a.txt", metrics, {1000, 1000}),
            QStringList{"/home/user/data/a.txt"});
  EXPECT_EQ(BreakPath("/home/user/data/a.txt", metrics, {wide + 2, 1000}),
            (QStringList{"/home/user/data/", "a.txt"}));
  EXPECT_TRUE(BreakPath("", metrics, {100}).isEmpty());
}

TEST(BreakPathTest, TooLongLosesItsMiddleNotItsFileName) {
  const QFontMetrics metrics(QFont("IPAPGothic"));
  const QString path = "/srv/a/very/long/folder/chain/that/goes/on/and/on/REPORT_2026.TXT";
  const int width = metrics.horizontalAdvance("/srv/a/very/long/folder/c");
  const QStringList lines = BreakPath(path, metrics, {width, width});
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(path.startsWith(lines[0]));
  EXPECT_TRUE(lines[1].startsWith(QStringLiteral("\u2026")));
  EXPECT_TRUE(lines[1].endsWith("/REPORT_2026.TXT"));
  EXPECT_TRUE(path.endsWith(lines[1].mid(1)));
  for (const QString& line : lines) EXPECT_LE(metrics.horizontalAdvance(line), width);
  // One line: the path's start, "…", the file name.
  const QStringList one = BreakPath(path, metrics, {width * 2});
  ASSERT_EQ(one.size(), 1);
  EXPECT_TRUE(one[0].startsWith("/srv/"));
  EXPECT_TRUE(one[0].endsWith(QStringLiteral("\u2026REPORT_2026.TXT")));
  EXPECT_LE(metrics.horizontalAdvance(one[0]), width * 2);
}

}  // namespace
}  // namespace vesmer
