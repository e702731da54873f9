// Prints the texts Qt draws itself on the tool's message boxes and on the
// folder picker, after the tool's translation set-up, one line per box.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

#include "platform/runtime/Locale.h"
#include "platform/ui/JapaneseUi.h"
#include "platform/ui/QtMessageBox.h"

int main(int argc, char** argv) {
  zr::rt::EnsureUtf8Locale();
  QApplication app(argc, argv);
  std::printf("translations=%d\n", zr::ui::InstallQtTranslations() ? 1 : 0);

  for (int style : {0, 1, 4, 20, 1 | 48}) {
    auto box = zr::ui::BuildMessageBox(nullptr, "x", style, "t");
    QString line = QString::number(style) + ":";
    for (QAbstractButton* button : box->buttons()) {
      line += ' ' + button->text();
      if (button == box->defaultButton()) line += '*';
    }
    line += " | esc=" + (box->escapeButton() ? box->escapeButton()->text() : QString());
    std::printf("%s\n", line.toUtf8().constData());
  }

  QFileDialog picker;
  picker.setOption(QFileDialog::DontUseNativeDialog);
  picker.setFileMode(QFileDialog::Directory);
  picker.setOption(QFileDialog::ShowDirsOnly);
  QString line = "picker: " + picker.windowTitle() + " |";
  for (auto* buttons : picker.findChildren<QDialogButtonBox*>()) {
    for (QAbstractButton* button : buttons->buttons()) line += ' ' + button->text();
  }
  std::printf("%s\n", line.toUtf8().constData());
  return 0;
}
