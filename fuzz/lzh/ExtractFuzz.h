#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zr::lzh::fuzz {

// Feeds `data` to the extraction as an archive, asking for two members in
// one of the two modes, and aborts if a promise breaks: only run-time errors
// may come out, and a failed or incomplete call leaves nothing behind.
void ExtractOnce(const uint8_t* data, std::size_t size);

// One member decoded by the backup check and by an extraction's reader:
// the data each handed out, and the damage each found, in its words (empty for none).
struct TwoDecodings {
  bool stored = false;
  std::string ours, oursDamage;
  std::string theirs, theirsDamage;

  // The same damage, and the same data before it. The check reads a stored
  // member in larger blocks than libarchive hands out, so the data before
  // damage to one of those may differ.
  bool Agree() const { return oursDamage == theirsDamage && (ours == theirs || (stored && !oursDamage.empty())); }
};

// Every member of the archive at `path` that the check decodes, both ways;
// none when its headers are damaged.
std::vector<TwoDecodings> DecodeBothWays(const std::string& path);

}  // namespace zr::lzh::fuzz
