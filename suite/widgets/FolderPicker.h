#pragma once

#include <QFileDialog>
#include <cstdint>
#include <memory>
#include <string>

class QWidget;

// The folder picker behind BrowseFolder: Qt's own dialog rather than the
// desktop's, so that it follows the program's translation.
namespace zr::suite {

// The shown top-level window whose native handle, narrowed to 32 bits, is
// `handle`; null when there is none.
QWidget* FindTopLevelByHandle(int32_t handle);

// The nearest existing folder at or above `folder`; the home folder when
// none is.
QString StartingFolder(const std::string& folder);

// The dialog the picker shows: folders only, modal to `owner` (or to the
// whole program without one), titled `text` or a title of our own, open at
// `initialFolder`.
std::unique_ptr<QFileDialog> BuildFolderDialog(QWidget* owner, const std::string& text,
                                               const std::string& initialFolder);

// Shows the picker and returns the chosen folder, or empty when cancelled.
std::string PickFolder(int32_t ownerWindow, const std::string& text, const std::string& initialFolder);

}  // namespace zr::suite
