#include "ui/form_support.h"

#include <QApplication>
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

void LetEventsRun() { QCoreApplication::processEvents(); }

}  // namespace vesmer
