// How the windows draw and answer like Windows forms: disabled captions embossed, the whole
// band of a check box clickable, and Qt's own dialogs in Japanese.
#include "ui/form_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QTest>
#include <QTranslator>
#include <cmath>
#include <memory>

#include "platform/registry.h"
#include "tests/support/test_util.h"
#include "tests/ui/fake_desktop.h"
#include "ui/about_box.h"
#include "ui/main_window.h"
#include "ui/settings_dialog.h"

namespace vesmer {
namespace {

using testing::FakeDesktop;
using testing::TempDir;

// WCAG relative luminance and contrast ratio.
double Luminance(QRgb c) {
  auto channel = [](int v) {
    const double s = v / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}
double Contrast(QRgb a, QRgb b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The rectangle a control draws its caption in.
QRect CaptionRect(QWidget* w) {
  QStyleOptionButton option;
  option.initFrom(w);
  if (qobject_cast<QCheckBox*>(w) != nullptr) {
    return w->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, w);
  }
  if (qobject_cast<QRadioButton*>(w) != nullptr) {
    return w->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, w);
  }
  if (qobject_cast<QPushButton*>(w) != nullptr) {
    return w->style()->subElementRect(QStyle::SE_PushButtonContents, &option, w);
  }
  return w->contentsRect();
}

// What the caption area of a control shows, as rendered.
struct Ink {
  QRgb background = 0;  // the most common colour: the band or face behind the caption
  int darkest = 255;    // the lowest channel value of any pixel
  int legible = 0;      // darker pixels of at least the wanted contrast against the background
  int emboss = 0;       // pixels lighter than the background, below and right of darker ones
};

Ink Look(QWidget* w, double wanted) {
  const QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QRect area = CaptionRect(w).intersected(image.rect());
  QHash<QRgb, int> histogram;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) ++histogram[image.pixel(x, y)];
  }
  Ink ink;
  int most = 0;
  for (auto it = histogram.begin(); it != histogram.end(); ++it) {
    if (it.value() > most) {
      most = it.value();
      ink.background = it.key();
    }
  }
  const double background = Luminance(ink.background);
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const QRgb p = image.pixel(x, y);
      ink.darkest = std::min({ink.darkest, qRed(p), qGreen(p), qBlue(p)});
      if (Luminance(p) < background && Contrast(p, ink.background) >= wanted) ++ink.legible;
      if (Luminance(p) > background && x > 0 && y > 0 &&
          Luminance(image.pixel(x - 1, y - 1)) < background) {
        ++ink.emboss;
      }
    }
  }
  return ink;
}

// Grey 128 on the grey 192 band reaches 2.17:1, the contrast Windows gives disabled captions;
// Qt's own disabled grey there (190 on 192) stays near 1:1, which nobody can read.
constexpr double kDisabledContrast = 2.0;

void ExpectEmbossed(QWidget* w) {
  ASSERT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  const Ink ink = Look(w, kDisabledContrast);
  SCOPED_TRACE(w->objectName().toStdString());
  EXPECT_GE(ink.legible, 10);
  EXPECT_GE(ink.emboss, 3);
  // The text is the Windows grey where the glyph covers a whole pixel, never darker.
  EXPECT_GE(ink.darkest, qRed(FormStyle::kDisabledText));
  EXPECT_LE(ink.darkest, qRed(FormStyle::kDisabledText) + 16);
}

class FormStyleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<frmVESMER>(store_, SettingsLocationFor(dir_ / "vesmer"), desktop_,
                                          registry_);
  }
  template <typename T>
  T* Find(QWidget* parent, const char* name) {
    T* w = parent->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  TempDir dir_;
  SettingsStore store_;
  FakeDesktop desktop_;
  MemoryRegistry registry_;
  std::unique_ptr<frmVESMER> window_;
};

TEST_F(FormStyleTest, DisabledCheckBoxCaptionStandsOutOnTheGreyBand) {
  // The key option is off: the first two outputs are disabled, on the grey 192 band.
  auto* output0 = Find<QCheckBox>(window_.get(), "chkOutput(0)");
  const Ink ink = Look(output0, kDisabledContrast);
  EXPECT_EQ(ink.background, qRgb(192, 192, 192));
  ExpectEmbossed(output0);
}

TEST_F(FormStyleTest, LockedWindowEmbossesEveryKindOfCaption) {
  window_->ApplyControlStates(false);  // as during a run
  for (const char* name : {"chkOutput(3)", "chkDisplay", "chkUtf8(1)", "chkKey"}) {
    ExpectEmbossed(Find<QCheckBox>(window_.get(), name));
  }
  ExpectEmbossed(Find<QPushButton>(window_.get(), "cmdStart"));
  ExpectEmbossed(Find<QPushButton>(window_.get(), "cmdSelInput(0)"));
  ExpectEmbossed(Find<QLabel>(window_.get(), "Label8"));
  ExpectEmbossed(Find<QLabel>(window_.get(), "lblDisplay2"));
}

TEST_F(FormStyleTest, EnabledControlsDrawAsTheBaseStyleDraws) {
  std::unique_ptr<QStyle> base(QStyleFactory::create(QApplication::style()->name()));
  ASSERT_NE(base, nullptr);
  for (const char* name : {"chkOutput(2)", "cmdStart", "Label7"}) {
    auto* w = Find<QWidget>(window_.get(), name);
    ASSERT_TRUE(w->isEnabled()) << name;
    QStyle* form_style = w->style();
    EXPECT_NE(dynamic_cast<FormStyle*>(form_style), nullptr) << name;
    const QImage drawn = w->grab().toImage();
    w->setStyle(base.get());
    const QImage plain = w->grab().toImage();
    w->setStyle(form_style);
    EXPECT_EQ(drawn, plain) << name;
  }
}

TEST_F(FormStyleTest, SettingsDialogAndAboutBoxEmbossToo) {
  store_.OpenResult = "0";  // the editor options start disabled
  store_.Editor = "1";
  frmSetting dialog(store_, desktop_);
  ExpectEmbossed(Find<QRadioButton>(&dialog, "optEditor(0)"));
  ExpectEmbossed(Find<QRadioButton>(&dialog, "optEditor(1)"));
  ExpectEmbossed(Find<QPushButton>(&dialog, "cmdFindEditor"));
  auto* space = Find<QCheckBox>(&dialog, "chkSpaceCompare");
  space->setEnabled(false);
  ExpectEmbossed(space);

  frmAbout about(desktop_, registry_);
  about.Fill(VesmerIcon());
  auto* sysinfo = Find<QPushButton>(&about, "cmdSysInfo");
  sysinfo->setEnabled(false);
  ExpectEmbossed(sysinfo);
  auto* title = Find<QLabel>(&about, "lblTitle");
  title->setEnabled(false);
  ExpectEmbossed(title);
}

// A click near the right end of a check box's band, past its caption, toggles it.
void ExpectBandToggles(QAbstractButton* box) {
  SCOPED_TRACE(box->objectName().toStdString());
  const QPoint right_end(box->width() - 3, box->height() / 2);
  const bool before = box->isChecked();
  QTest::mouseClick(box, Qt::LeftButton, {}, right_end);
  EXPECT_NE(box->isChecked(), before);
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 1, box->height() - 1));
  EXPECT_EQ(box->isChecked(), before);
}

TEST_F(FormStyleTest, TheWholeBandOfACheckBoxToggles) {
  auto* list = Find<QCheckBox>(window_.get(), "chkOutput(5)");
  // The band is 3495 twips wide and the caption ends well before its right end.
  ASSERT_EQ(list->width(), 233);
  ASSERT_LT(CaptionRect(list).left() + list->fontMetrics().horizontalAdvance(list->text()),
            list->width() - 20);
  ExpectBandToggles(list);
  for (const char* name : {"chkOutput(2)", "chkKey", "chkOmit", "chkDisplay", "chkUtf8(0)"}) {
    ExpectBandToggles(Find<QCheckBox>(window_.get(), name));
  }
  // The key rule runs for a click on the band as for one on the box.
  auto* key = Find<QCheckBox>(window_.get(), "chkKey");
  QTest::mouseClick(key, Qt::LeftButton, {}, QPoint(key->width() - 3, key->height() / 2));
  EXPECT_TRUE(Find<QCheckBox>(window_.get(), "chkOutput(0)")->isEnabled());
  // Outside the band nothing happens.
  const bool output5 = list->isChecked();
  QTest::mouseClick(list, Qt::LeftButton, {}, QPoint(list->width() + 2, list->height() / 2));
  EXPECT_EQ(list->isChecked(), output5);
}

TEST_F(FormStyleTest, SettingsDialogCheckBoxesToggleOnTheirWholeWidth) {
  store_.OpenResult = "1";
  frmSetting dialog(store_, desktop_);
  for (const char* name : {"chkSpaceCompare", "chkArrangeLength", "chkOpenResult"}) {
    ExpectBandToggles(Find<QCheckBox>(&dialog, name));
  }
  auto* option0 = Find<QRadioButton>(&dialog, "optEditor(0)");
  QTest::mouseClick(option0, Qt::LeftButton, {},
                    QPoint(option0->width() - 3, option0->height() / 2));
  EXPECT_TRUE(option0->isChecked());
}

TEST(QtTranslationsTest, QtsOwnTextsSpeakJapanese) {
  QDialogButtonBox english(QDialogButtonBox::Cancel);
  ASSERT_EQ(english.button(QDialogButtonBox::Cancel)->text(), "Cancel");
  QTranslator* translator = InstallQtTranslations();
  ASSERT_NE(translator, nullptr);
  QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Open);
  const QString cancel = box.button(QDialogButtonBox::Cancel)->text();
  const QString open = box.button(QDialogButtonBox::Open)->text();
  QFileDialog chooser;
  chooser.setOption(QFileDialog::DontUseNativeDialog);
  auto* look_in = chooser.findChild<QLabel*>("lookInLabel");
  ASSERT_NE(look_in, nullptr);
  const QString look_in_text = look_in->text();
  QMessageBox message(QMessageBox::Information, "Vesmer", "x", QMessageBox::Ok | QMessageBox::No);
  const QString no = message.button(QMessageBox::No)->text();
  QCoreApplication::removeTranslator(translator);
  delete translator;

  EXPECT_EQ(cancel, "キャンセル");
  EXPECT_EQ(open, "開く");
  EXPECT_EQ(look_in_text, "アドレス:");
  EXPECT_EQ(no, "いいえ(&N)");
}

TEST(QtTranslationsTest, WithoutTheFileTheProgramStaysEnglish) {
  TempDir empty;
  EXPECT_EQ(InstallQtTranslations(QString::fromStdString(empty.path())), nullptr);
  EXPECT_EQ(InstallQtTranslations(QString()), nullptr);
  QDialogButtonBox box(QDialogButtonBox::Cancel);
  EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), "Cancel");
}

}  // namespace
}  // namespace vesmer
