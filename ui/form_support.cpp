#include "ui/form_support.h"

#include <QApplication>
#include <QDialog>
#include <QWidget>

namespace vesmer {

void RegisterFontSubstitutes() {
  QFont::insertSubstitutions(kProportionalFontName,
                             {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
  QFont::insertSubstitutions(
      kFixedFontName, {QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP")});
}

QFont MakeFont(const QString& family, int points) {
  QFont font(family);
  font.setPixelSize(points * 96 / 72);  // the layout's 96 dots per inch, whatever the screen
  font.setWeight(QFont::Normal);
  font.setStyleHint(family == kFixedFontName ? QFont::TypeWriter : QFont::SansSerif);
  return font;
}

void PlaceTwips(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(TwipsRect(left, top, width, height));
}

void SetUpFixedDialog(QDialog* dialog, int width_twips, int height_twips) {
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  dialog->setModal(true);
  dialog->setFixedSize(Twips(width_twips), Twips(height_twips));
}

void LetEventsRun() { QCoreApplication::processEvents(); }

}  // namespace vesmer
