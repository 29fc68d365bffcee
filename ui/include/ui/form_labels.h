// The main window's light yellow labels: counts of up to ten digits in a label made for seven,
// and paths longer than two lines, drawn so that what matters stays readable.
#pragma once

#include <QFont>
#include <QLabel>
#include <QList>
#include <QRect>
#include <QString>

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

}  // namespace vesmer
