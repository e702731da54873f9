#include "suite/widgets/FolderPicker.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QWidget>

#include "platform/runtime/RuntimeError.h"

namespace zr::suite {

QWidget* FindTopLevelByHandle(int32_t handle) {
  if (handle == 0) return nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    // internalWinId() never creates a native window as a side effect.
    const WId id = widget->internalWinId();
    if (id != 0 && static_cast<int32_t>(id) == handle) return widget;
  }
  return nullptr;
}

QString StartingFolder(const std::string& folder) {
  QString candidate = QDir::cleanPath(QString::fromStdString(folder));
  while (!candidate.isEmpty()) {
    if (QFileInfo(candidate).isDir()) return candidate;
    const QString parent = QFileInfo(candidate).path();
    if (parent == candidate || parent == QStringLiteral(".")) break;
    candidate = parent;
  }
  return QDir::homePath();
}

std::unique_ptr<QFileDialog> BuildFolderDialog(QWidget* owner, const std::string& text,
                                               const std::string& initialFolder) {
  auto dialog = std::make_unique<QFileDialog>(owner);
  dialog->setObjectName(QStringLiteral("zrFolderPicker"));
  dialog->setWindowTitle(text.empty() ? QStringLiteral("フォルダの参照") : QString::fromStdString(text));
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  dialog->setOption(QFileDialog::ShowDirsOnly, true);
  dialog->setFileMode(QFileDialog::Directory);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setDirectory(StartingFolder(initialFolder));
  dialog->setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
  return dialog;
}

std::string PickFolder(int32_t ownerWindow, const std::string& text, const std::string& initialFolder) {
  if (QApplication::instance() == nullptr) {
    throw rt::RuntimeError(rt::err::CannotCreateComponent, "フォルダの選択画面を表示できません。");
  }
  auto dialog = BuildFolderDialog(FindTopLevelByHandle(ownerWindow), text, initialFolder);
  if (dialog->exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog->selectedFiles();
  if (chosen.isEmpty()) return {};
  return QDir::cleanPath(chosen.front()).toStdString();
}

}  // namespace zr::suite
