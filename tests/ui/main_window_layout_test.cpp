// The main window read as a user reads it, with the fonts this machine has: counts of any size
// whole, long paths with their file names, and no text under another control or a frame line.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QTest>
#include <memory>

#include "platform/registry.h"
#include "tests/test_util.h"
#include "tests/ui/fake_desktop.h"
#include "ui/form_labels.h"
#include "ui/main_window.h"

namespace vesmer {
namespace {

using testing::FakeDesktop;
using testing::TempDir;

// The columns of `image` inside `area` that hold a pixel darker than the label's light yellow.
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

}  // namespace
}  // namespace vesmer
