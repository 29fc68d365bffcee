// What every window of the program shares: the two fonts by their Windows names with the
// substitutes that stand in for them here, and positions given in twips.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

class QDialog;
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

}  // namespace vesmer
