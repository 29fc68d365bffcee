#include "ui/form_support.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QPointer>
#include <QStyleFactory>
#include <QTranslator>
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

void FormStyle::drawItemText(QPainter* painter, const QRect& rect, int flags,
                             const QPalette& palette, bool enabled, const QString& text,
                             QPalette::ColorRole text_role) const {
  if (enabled || text.isEmpty()) {
    QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, text_role);
    return;
  }
  const QPen saved = painter->pen();
  painter->setPen(QColor(kEmboss));
  painter->drawText(rect.translated(1, 1), flags, text);
  painter->setPen(QColor(kDisabledText));
  painter->drawText(rect, flags, text);
  painter->setPen(saved);
}

void UseFormStyle(QWidget* form) {
  // One style for every window, made over whatever style the application runs with (Fusion
  // here, the desktop's own elsewhere); the application deletes it when it ends.
  static QPointer<FormStyle> style;
  if (style.isNull()) {
    QStyle* base = QStyleFactory::create(QApplication::style()->name());
    style = new FormStyle(base);  // a null base falls back to the default style
    style->setParent(qApp);
  }
  form->setStyle(style);
  for (QWidget* w : form->findChildren<QWidget*>()) w->setStyle(style);
}

void UseJapaneseLocale() { QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan)); }

QTranslator* InstallQtTranslations(const QString& folder) {
  // Loaded by its full name: given a bare name, QTranslator would fall back to "qtbase.qm".
  const QString file = QDir(folder).filePath(QStringLiteral("qtbase_ja.qm"));
  if (folder.isEmpty() || !QFileInfo(file).isFile()) return nullptr;
  auto* translator = new QTranslator(qApp);
  if (!translator->load(file) || !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

QTranslator* InstallQtTranslations() {
  return InstallQtTranslations(QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

}  // namespace vesmer
