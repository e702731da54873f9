#pragma once

#include <string>
#include <vector>

#include "platform/ui/FileListBox.h"

namespace zr::test {

// The names a file list box shows, top to bottom.
std::vector<std::string> ListEntries(const ui::FileListBox& list);

}  // namespace zr::test
