#include "platform/ui/FileListBox.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/runtime/FileSystem.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::ui {
namespace {

// Relative folders are taken from the current directory, and "." / ".."
// and doubled or closing separators are resolved by name, so the folder the
// list reports is the one it read.
std::string Normalised(const std::string& folder) {
  std::filesystem::path p(folder);
  if (p.is_relative()) {
    std::error_code ec;
    const auto here = std::filesystem::current_path(ec);
    if (!ec) p = here / p;
  }
  std::string text = p.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string CurrentDirectory() {
  std::error_code ec;
  const auto here = std::filesystem::current_path(ec);
  return ec ? std::string() : here.string();
}

}  // namespace

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);
  path_ = CurrentDirectory();
  try {
    Refresh();
  } catch (const rt::RuntimeError&) {
    // A current directory that cannot be read starts the list empty.
  }
}

void FileListBox::SetPath(const std::string& folder) {
  // The empty path names no folder: it is not the current directory.
  const std::string path = folder.empty() ? folder : Normalised(folder);
  Show(path, pattern_, rt::ListFiles(path, pattern_));
}

void FileListBox::SetPattern(const std::string& pattern) {
  std::vector<std::string> names;
  try {
    names = rt::ListFiles(path_, pattern);
  } catch (const rt::RuntimeError&) {
    // The folder shown can no longer be read. Entries read under the old
    // pattern must not stay on offer under the new one, and a pattern is no
    // reason to fail: the list is simply empty.
  }
  Show(path_, pattern, names);
}

void FileListBox::Refresh() { Show(path_, pattern_, rt::ListFiles(path_, pattern_)); }

void FileListBox::Show(std::string path, std::string pattern, const std::vector<std::string>& names) {
  path_ = std::move(path);
  pattern_ = std::move(pattern);
  clear();
  for (const auto& name : names) {
    auto* item = new QListWidgetItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())), this);
    item->setData(Qt::UserRole, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
  }
}

int FileListBox::ListCount() const { return count(); }

int FileListBox::ListIndex() const {
  const auto selected = selectedItems();
  return selected.isEmpty() ? -1 : row(selected.front());
}

void FileListBox::SetListIndex(int index) {
  if (index < 0) {
    clearSelection();
    return;
  }
  if (index >= count()) {
    throw rt::RuntimeError(rt::err::InvalidProcedureCall,
                           "一覧にない項目を選択しようとしました。(" + std::to_string(index) + ")");
  }
  setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

std::string FileListBox::List(int index) const {
  const auto* entry = index >= 0 ? item(index) : nullptr;
  if (entry == nullptr) {
    throw rt::RuntimeError(rt::err::InvalidProcedureCall,
                           "一覧にない項目を読もうとしました。(" + std::to_string(index) + ")");
  }
  // The bytes as read from the folder, even where they are not valid UTF-8.
  return entry->data(Qt::UserRole).toByteArray().toStdString();
}

}  // namespace zr::ui
