#pragma once

#include <string>
#include <vector>

namespace zr::lzh {

// The requested names that the archive does not hold, matched as the
// extraction matches them. Reads headers only.
std::vector<std::string> MissingMembers(const std::string& archivePath, const std::vector<std::string>& requested);

}  // namespace zr::lzh
