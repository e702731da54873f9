#include "platform/ui/DisplayPanel.h"

#include <QPalette>

namespace zr::ui {

DisplayPanel::DisplayPanel(QWidget* parent) : QLabel(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
  setIndent(3);
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setTextFormat(Qt::PlainText);
  setWordWrap(false);
  setTextInteractionFlags(Qt::NoTextInteraction);
  setFocusPolicy(Qt::NoFocus);
  setAutoFillBackground(true);

  QPalette colours = palette();
  const QColor text = colours.color(QPalette::ButtonText);
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    colours.setColor(group, QPalette::Window, FaceColour());
    colours.setColor(group, QPalette::Light, BevelColour());
  }
  colours.setColor(QPalette::Active, QPalette::WindowText, text);
  colours.setColor(QPalette::Inactive, QPalette::WindowText, text);
  setPalette(colours);
}

void DisplayPanel::SetCaption(const std::string& caption) {
  caption_ = caption;
  QString shown = QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
  shown.replace(QChar('\r'), QChar(' '));
  shown.replace(QChar('\n'), QChar(' '));
  setText(shown);
}

}  // namespace zr::ui
