#pragma once

#include <QString>
#include <string>

class QWidget;

namespace zr::ui {

// Line breaks as the suite writes them (CR LF, or a lone CR) in the form Qt
// draws: "a\r\rb" keeps its empty line.
QString ToDisplayLines(const std::string& text);

// Shows a modal message box for a suite style number and returns the suite's
// answer number.
int ShowMessageBox(QWidget* parent, const std::string& text, int style, const std::string& title);

}  // namespace zr::ui
