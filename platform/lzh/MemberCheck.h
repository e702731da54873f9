#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zr::lzh {

struct MemberCheck {
  std::string name;                   // as stored, folders joined with "\"
  std::optional<std::string> damage;  // why its data is not what the header promises
};

// Decodes every member of the archive and checks its size and data CRC,
// writing nothing anywhere. A damaged header fails the whole check with
// error 321, as it fails an extraction.
std::vector<MemberCheck> CheckEveryMember(const std::string& archivePath);

}  // namespace zr::lzh
