#include "platform/ui/DesignLabel.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace zr::ui {

DesignLabel::DesignLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setTextFormat(Qt::PlainText);
  setWordWrap(true);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

qreal DesignLabel::LinePitch() const {
  const QFontMetricsF metrics(font());
  return std::max<qreal>(QFontInfo(font()).pixelSize(), std::ceil(metrics.ascent()));
}

void DesignLabel::paintEvent(QPaintEvent* event) {
  if (!wordWrap()) {
    QLabel::paintEvent(event);
    return;
  }
  QPainter painter(this);
  drawFrame(&painter);
  const QRectF area = contentsRect();

  QTextLayout layout(text(), font());
  QTextOption option(alignment());
  option.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(option);
  layout.beginLayout();
  qreal top = 0;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(area.width());
    line.setPosition(QPointF(0, top));
    top += LinePitch();
  }
  layout.endLayout();

  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
  painter.setClipRect(area);
  layout.draw(&painter, area.topLeft());
}

}  // namespace zr::ui
