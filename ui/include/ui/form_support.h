// What every window of the program shares: the two fonts by their Windows names with the
// substitutes that stand in for them here, positions given in twips, the drawing and clicking
// habits of Windows controls, and the Japanese texts of Qt's own dialogs.
#pragma once

#include <QCheckBox>
#include <QFont>
#include <QProxyStyle>
#include <QRadioButton>
#include <QRect>
#include <QString>

class QDialog;
class QTranslator;
class QWidget;

namespace vesmer {

inline const QString kProportionalFontName = QStringLiteral("ＭＳ Ｐゴシック");
inline const QString kFixedFontName = QStringLiteral("ＭＳ ゴシック");

// Registers IPAPGothic and IPAGothic (made to the same metrics), then Noto Sans CJK JP, as
// substitutes for the two Windows font names. Safe to call more than once.
void RegisterFontSubstitutes();

// A font by its Windows name at `points` of the 96 dots per inch the layout is drawn for.
[[nodiscard]] QFont MakeFont(const QString& family, int points);

// 15 twips make one pixel at 96 dots per inch.
[[nodiscard]] constexpr int Twips(int twips) { return (twips + 7) / 15; }
[[nodiscard]] inline QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(Twips(left), Twips(top), Twips(width), Twips(height));
}
void PlaceTwips(QWidget* widget, int left, int top, int width, int height);

// A modal dialog of fixed client size, with a close box and no minimise or maximise boxes.
void SetUpFixedDialog(QDialog* dialog, int width_twips, int height_twips);

// Lets pending window events run once.
void LetEventsRun();

// Disabled captions as Windows draws them: dark grey (128, 128, 128) over a white copy one
// pixel down and to the right. Qt's own disabled grey (190) vanishes on the grey 192 band of
// the check boxes; everything enabled is drawn by the base style unchanged.
class FormStyle : public QProxyStyle {
 public:
  static constexpr QRgb kDisabledText = qRgb(128, 128, 128);
  static constexpr QRgb kEmboss = qRgb(255, 255, 255);

  using QProxyStyle::QProxyStyle;
  void drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette,
                    bool enabled, const QString& text,
                    QPalette::ColorRole text_role = QPalette::NoRole) const override;
};

// Gives `form` and every widget inside it (menus included) the one FormStyle of the program,
// built over the application's style. Call once the form's controls exist.
void UseFormStyle(QWidget* form);

// A check box or option button that answers a click anywhere on its control, as on Windows,
// not only on its box and caption: the whole grey band of a check box toggles it.
template <typename Button>
class WholeAreaButton : public Button {
 public:
  using Button::Button;

 protected:
  bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }
};
using FormCheckBox = WholeAreaButton<QCheckBox>;
using FormRadioButton = WholeAreaButton<QRadioButton>;

// Makes Japanese the locale of everything Qt formats for the program, whatever the desktop's:
// the file chooser's type names come from the MIME database in that language. Call once, before
// any window opens (Qt reads it from other threads).
void UseJapaneseLocale();

// Installs Qt's Japanese translation (qtbase_ja.qm from `folder`, whatever the locale) so the
// file chooser, message boxes and standard buttons speak Japanese like the program's own
// windows. Returns the installed translator, owned by the application, or nullptr (and changes
// nothing) when the file is missing or unreadable: the program then runs with Qt's English.
QTranslator* InstallQtTranslations(const QString& folder);
// The same from the folder where this Qt keeps its translations.
QTranslator* InstallQtTranslations();

}  // namespace vesmer
