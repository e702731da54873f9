#pragma once

#include <QLabel>
#include <string>

namespace zr::ui {

// A one-line, sunken, display-only field on pale yellow. Its caption is
// kept byte for byte as written; line breaks in it show as blanks so the
// field stays one line. Takes no focus and reacts to nothing.
class DisplayPanel : public QLabel {
  Q_OBJECT

 public:
  explicit DisplayPanel(QWidget* parent = nullptr);

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);

  static QColor FaceColour() { return QColor(252, 251, 211); }
  static QColor BevelColour() { return QColor(192, 192, 192); }

 private:
  std::string caption_;
};

}  // namespace zr::ui
