#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zr::lzh {

struct MemberCheck {
  std::string name;                              // as stored, folders joined with "\"
  std::optional<std::string> damage;             // why its data is not what the header promises
  std::optional<std::string> unsupportedMethod;  // its packing method, when this program cannot decode it
};

struct ArchiveCheck {
  bool lzh = true;  // false: the file does not begin as an LZH archive (no members then)
  std::vector<MemberCheck> members;
};

// Told, one call at a time and from any thread, how many bytes of the
// archive file (header and packed data) a member just finished took.
using CheckProgress = std::function<void(uint64_t bytes)>;

// Decodes every member of the archive and checks its size and data CRC,
// writing nothing anywhere. Only a regular file is read: anything else is
// error 75 naming its kind, found without waiting on it. A damaged header
// fails the whole check with error 321, as it fails an extraction.
ArchiveCheck CheckEveryMember(const std::string& archivePath, const CheckProgress& progress = {});

}  // namespace zr::lzh
