#pragma once

#include <QListWidget>
#include <string>
#include <vector>

namespace zr::ui {

// Lists the names (no folder) of the files in one folder that match one
// pattern, sorted by name, one selection at a time; hidden files and
// folders are not shown. Starts on the process's current directory with the
// pattern "*.*". Pointing it at a folder that cannot be listed raises a
// RuntimeError and leaves folder, pattern, entries and selection as they were.
// A new pattern on a folder that can no longer be read leaves it empty.
class FileListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit FileListBox(QWidget* parent = nullptr);

  // The folder shown: absolute, without a closing "/" (except the root).
  const std::string& Path() const { return path_; }
  void SetPath(const std::string& folder);

  const std::string& Pattern() const { return pattern_; }
  void SetPattern(const std::string& pattern);

  // Reads the shown folder again.
  void Refresh();

  int ListCount() const;
  // The selected entry's index, or -1 when nothing is selected.
  int ListIndex() const;
  // Selects the entry at `index`; -1 clears the selection.
  void SetListIndex(int index);
  // The entry at `index`; an index outside the list is a RuntimeError.
  std::string List(int index) const;

 private:
  void Show(std::string path, std::string pattern, const std::vector<std::string>& names);

  std::string path_;
  std::string pattern_ = "*.*";
};

}  // namespace zr::ui
