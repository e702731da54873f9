#include "platform/ui/QtMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "platform/runtime/Interaction.h"

namespace zr::ui {

namespace mb = rt::mb;

QString ToDisplayLines(const std::string& text) {
  QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QChar('\r'), QChar('\n'));
  return shown;
}

int ShowMessageBox(QWidget* parent, const std::string& text, int style, const std::string& title) {
  QMessageBox box(parent);
  box.setWindowTitle(QString::fromStdString(title));
  // Descriptions come from file names and archives: never read them as markup.
  box.setTextFormat(Qt::PlainText);
  box.setText(ToDisplayLines(text));

  switch (style & mb::IconMask) {
    case mb::Critical:
      box.setIcon(QMessageBox::Critical);
      break;
    case mb::Exclamation:
      box.setIcon(QMessageBox::Warning);
      break;
    case mb::Information:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }

  QPushButton* first = nullptr;
  QPushButton* second = nullptr;
  switch (style & mb::ButtonMask) {
    case mb::OkCancel:
      first = box.addButton(QMessageBox::Ok);
      second = box.addButton(QMessageBox::Cancel);
      box.setEscapeButton(second);
      break;
    case mb::YesNo:
      first = box.addButton(QMessageBox::Yes);
      second = box.addButton(QMessageBox::No);
      box.setEscapeButton(second);
      break;
    default:
      first = box.addButton(QMessageBox::Ok);
      box.setEscapeButton(first);
      break;
  }
  box.setDefaultButton((style & mb::DefaultButton2) && second ? second : first);

  box.exec();
  const auto* clicked = box.clickedButton();
  switch (box.standardButton(const_cast<QAbstractButton*>(clicked))) {
    case QMessageBox::Ok:
      return mb::AnswerOk;
    case QMessageBox::Cancel:
      return mb::AnswerCancel;
    case QMessageBox::Yes:
      return mb::AnswerYes;
    case QMessageBox::No:
      return mb::AnswerNo;
    default:
      // Closed without a button (window manager): the escape answer.
      return second ? ((style & mb::ButtonMask) == mb::YesNo ? mb::AnswerNo : mb::AnswerCancel) : mb::AnswerOk;
  }
}

}  // namespace zr::ui
