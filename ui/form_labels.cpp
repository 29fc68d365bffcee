#include "ui/form_labels.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace vesmer {
namespace {

constexpr int kSmallestPixels = 6;
const QString kEllipsis = QStringLiteral("\u2026");

// Index positions inside a path never split a surrogate pair.
qsizetype Forward(const QString& s, qsizetype i) {
  ++i;
  if (i < s.size() && s[i].isLowSurrogate()) ++i;
  return i;
}
qsizetype Backward(const QString& s, qsizetype i) {
  --i;
  if (i > 0 && s[i].isLowSurrogate()) --i;
  return i;
}

// The end of the longest piece of `s` from `start` that fits `width`; at least one character.
qsizetype FitFrom(const QString& s, qsizetype start, const QFontMetrics& metrics, int width) {
  qsizetype end = Forward(s, start);
  while (end < s.size()) {
    const qsizetype next = Forward(s, end);
    if (metrics.horizontalAdvance(s.mid(start, next - start)) > width) break;
    end = next;
  }
  return end;
}

}  // namespace

QStringList BreakPath(const QString& path, const QFontMetrics& metrics, const QList<int>& widths) {
  QStringList lines;
  if (path.isEmpty() || widths.isEmpty()) return lines;
  auto line_end = [&](qsizetype start, int width) {
    qsizetype end = FitFrom(path, start, metrics, width);
    if (end < path.size()) {
      // A break after a folder's "/" reads better, unless it leaves the line half empty.
      const qsizetype slash = path.lastIndexOf('/', end - 1);
      if (slash >= start && slash + 1 > start + (end - start) / 2) end = slash + 1;
    }
    return end;
  };
  qsizetype start = 0;
  for (int i = 0; i < widths.size() && start < path.size(); ++i) {
    const qsizetype end = line_end(start, widths[i]);
    lines << path.mid(start, end - start);
    start = end;
  }
  if (start >= path.size()) return lines;

  // Too long: the last line gives way to the path's end.
  const qsizetype head_end = start - lines.last().size();
  lines.removeLast();
  const int last_width = widths[lines.size()];
  const qsizetype name_start = path.lastIndexOf('/') + 1;
  if (lines.isEmpty()) {
    // One line: the start of the path, "…", and the file name.
    const QString tail = kEllipsis + path.mid(name_start);
    const int room = last_width - metrics.horizontalAdvance(tail);
    if (room > 0 && name_start > 0) {
      const qsizetype end = FitFrom(path, 0, metrics, room);
      if (metrics.horizontalAdvance(path.left(end) + tail) <= last_width) {
        return {path.left(end) + tail};
      }
    }
    return {metrics.elidedText(path, Qt::ElideMiddle, last_width)};
  }
  // The last line: "…" and as much of the path's end as fits, the file name at least.
  qsizetype tail_start = path.size();
  while (tail_start > head_end) {
    const qsizetype before = Backward(path, tail_start);
    if (metrics.horizontalAdvance(kEllipsis + path.mid(before)) > last_width) break;
    tail_start = before;
  }
  if (tail_start == path.size()) tail_start = Backward(path, tail_start);
  lines << kEllipsis + path.mid(tail_start);
  return lines;
}

PathLabel::PathLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void PathLabel::SetPath(const QString& path) {
  setText(path);
  setToolTip(path);
  setAccessibleDescription(path);
}

void PathLabel::KeepClearOf(const QList<QWidget*>& controls) {
  keep_clear_of_ = controls;
  update();
}

QList<PathLabel::Line> PathLabel::Lines() const {
  const QFontMetrics metrics(font());
  QRect area = contentsRect();
  QList<QRect> obstacles;
  for (QWidget* w : keep_clear_of_) {
    const QRect r = w->geometry().translated(-pos()) & rect();
    if (r.isEmpty()) continue;
    if (r.top() <= area.top()) {
      area.setTop(r.bottom() + 2);
    } else {
      obstacles << r;
    }
  }
  QList<QRect> rects;
  for (int top = area.top(); top + metrics.height() <= area.bottom() + 1;
       top += metrics.lineSpacing()) {
    QRect line(area.left(), top, area.width(), metrics.height());
    for (const QRect& o : obstacles) {
      if (o.intersects(line))
        line.setRight(std::max(line.left(), std::min(line.right(), o.left() - 2)));
    }
    rects << line;
  }
  if (rects.isEmpty()) rects << QRect(area.left(), area.top(), area.width(), metrics.height());
  QList<int> widths;
  for (const QRect& r : rects) widths << r.width();
  const QStringList texts = BreakPath(text(), metrics, widths);
  QList<Line> lines;
  for (int i = 0; i < texts.size(); ++i) {
    lines << Line{
        QRect(rects[i].topLeft(), QSize(metrics.horizontalAdvance(texts[i]), rects[i].height())),
        texts[i]};
  }
  return lines;
}

void PathLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  for (const Line& line : Lines()) {
    style()->drawItemText(&painter, line.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                          palette(), isEnabled(), line.text, foregroundRole());
  }
}

void PathLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  QLabel::mouseDoubleClickEvent(event);
  emit doubleClicked();
}

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
