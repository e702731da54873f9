#pragma once

#include <string>
#include <vector>

namespace zr::replace {

// A path under a folder as its folder and file parts, file name last.
using PathParts = std::vector<std::string>;

// One name inside one folder: not empty, not "." or "..", no "/" or NUL.
bool IsSingleName(const std::string& name);

}  // namespace zr::replace
