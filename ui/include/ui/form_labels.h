// The main window's light yellow labels: counts of up to ten digits in a label made for seven,
// and paths longer than two lines, drawn so that what matters stays readable.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

namespace vesmer {

// A one-line label for a count. Its text is drawn in a smaller size of its own font when the
// label's font would run past the label; text() and font() stay as they were set.
class CountLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

  // The font the text is drawn in: font(), or the largest smaller size of it whose text fits
  // the contents rectangle (never below 6 pixels).
  [[nodiscard]] QFont ShownFont() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A label for a path, over as many lines as its height holds. text() is always the whole
// path. A path too long for the lines is drawn cut in its middle: the first lines show its
// start, the last line "…" and its end with the whole file name. The whole path is also the
// label's tooltip and accessible description. Reports double clicks.
class PathLabel : public QLabel {
  Q_OBJECT
 public:
  explicit PathLabel(QWidget* parent = nullptr);

  // Shows `path` (text, tooltip and accessible description).
  void SetPath(const QString& path);
  // Sibling controls that lie over the label: a control over its top edge moves the text below
  // it, any other shortens the lines it crosses, so that no text is hidden under one.
  void KeepClearOf(const QList<QWidget*>& controls);

  struct Line {
    QRect rect;  // where the line is drawn, in the label's coordinates
    QString text;
  };
  // The lines as they are drawn.
  [[nodiscard]] QList<Line> Lines() const;

 signals:
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QList<QWidget*> keep_clear_of_;
};

// Breaks `path` into at most widths.size() lines, line i no wider than widths[i] as `metrics`
// measure it, preferring to break after a "/". A path that does not fit loses its middle: the
// last line becomes "…" followed by the path's end, the file name whole where it fits there.
// No line is empty unless the path is; widths must not be empty.
[[nodiscard]] QStringList BreakPath(const QString& path, const QFontMetrics& metrics,
                                    const QList<int>& widths);

}  // namespace vesmer
