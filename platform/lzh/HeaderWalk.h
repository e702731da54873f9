#pragma once

// The one pass over an archive's member headers that every reader of member lists uses.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/lzh/Header.h"
#include "platform/lzh/MemberName.h"

namespace zr::lzh {

// One member as the walk found it.
struct IndexedMember {
  uint64_t position = 0;  // of its header in the file
  MemberHeader header;
  std::optional<PathParts> name;  // nothing when the stored name cannot be decoded
  bool regular = false;           // an ordinary file: not a folder, link or device
  // The header's bytes as read and checked, when the reader kept them: a
  // decoder then starts from these instead of reading the header again.
  std::vector<uint8_t> raw;
};

// Reads and checks the header at `position` of the archive open at `fd`
// (`size` bytes) into `out`, leaving its bytes at the start of `buffer`.
// Header and data must lie inside the file. False at the end mark; damage
// and read failures are run-time errors naming `archive`.
bool ReadHeaderAt(int fd, uint64_t size, uint64_t position, std::vector<uint8_t>& buffer, MemberHeader& out,
                  const std::string& archive);

// Every member of the archive, in file order; the first damaged header
// fails the whole walk.
std::vector<IndexedMember> WalkHeaders(int fd, uint64_t size, const std::string& archive);

// The same walk, handing each member over in turn instead of keeping them.
void VisitHeaders(int fd, uint64_t size, const std::string& archive, const std::function<void(IndexedMember&&)>& each);

}  // namespace zr::lzh
