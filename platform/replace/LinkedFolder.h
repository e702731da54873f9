#pragma once

// A folder the program writes into is a folder, never a link to one.
#include <string>

namespace zr::replace {

// Through a link the templates, or the way back, would land wherever it
// points. Throws rt::RuntimeError naming `shown` when `name` in the folder
// open at `parentFd` is a symbolic link; does nothing otherwise.
void RefuseLinkedFolder(int parentFd, const std::string& name, const std::string& shown);

}  // namespace zr::replace
