#include "ui/form_labels.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

namespace vesmer {
namespace {

constexpr int kSmallestPixels = 6;

}  // namespace

QFont CountLabel::ShownFont() const {
  QFont shown = font();
  const int width = contentsRect().width();
  // The window's fonts are sized in pixels; a font sized in points is fitted as the same
  // number of pixels it renders at.
  int pixels = shown.pixelSize() > 0 ? shown.pixelSize() : QFontInfo(shown).pixelSize();
  while (pixels > kSmallestPixels && QFontMetrics(shown).horizontalAdvance(text()) > width) {
    shown.setPixelSize(--pixels);
  }
  return shown;
}

void CountLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setFont(ShownFont());
  style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                        isEnabled(), text(), foregroundRole());
}

}  // namespace vesmer
