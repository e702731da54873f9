#pragma once

#include <QLabel>

namespace zr::ui {

// A label of fixed size whose text wraps within its width, lines stepping by
// the font's em height as the window's design was measured with; Qt's
// usual line spacing (ascent + descent) would push the second line of a
// two-line label out of the height it was designed for.
class DesignLabel : public QLabel {
  Q_OBJECT

 public:
  explicit DesignLabel(const QString& text, QWidget* parent = nullptr);

  // The distance between the tops of two lines, in pixels.
  qreal LinePitch() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace zr::ui
