#pragma once

#include <QString>
#include <memory>
#include <string>

class QMessageBox;
class QWidget;

namespace zr::ui {

// Line breaks as the suite writes them (CR LF, or a lone CR) in the form Qt
// draws: "a\r\rb" keeps its empty line.
QString ToDisplayLines(const std::string& text);

// The box for a suite style number, ready to show: icon, buttons, the
// default button the style names (Enter answers it) and the escape button
// (Esc answers Cancel or No where the box has one, OK in a box with only OK).
std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const std::string& text, int style,
                                             const std::string& title);

// The suite's answer number for how a box built for `style` was closed.
int AnswerOf(const QMessageBox& box, int style);

// Asks for this box to be built at the next wait (BuildPreparedMessageBox),
// so that showing it costs only the showing. One at a time.
void PrepareMessageBox(const std::string& text, int style, const std::string& title);
// Builds the box asked for, if any; called while the program waits.
void BuildPreparedMessageBox();

// Shows a modal message box for a suite style number and returns the suite's
// answer number; the prepared box when it is the very same one.
int ShowMessageBox(QWidget* parent, const std::string& text, int style, const std::string& title);

}  // namespace zr::ui
