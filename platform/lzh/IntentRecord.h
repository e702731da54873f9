#pragma once

// The intent record a replacement flushes before its first rename, so an interrupted one can be undone.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/lzh/MemberName.h"

namespace zr::lzh {

struct Intent {
  struct Entry {
    PathParts target;    // under the destination folder, file name last
    std::string staged;  // the new copy's name in the destination folder
    std::string backup;  // the old file's name there while it is replaced; empty when there was none
  };
  std::vector<Entry> entries;
  std::vector<PathParts> createdFolders;  // in the order they were made
};

// The record's bytes; the last line seals it, so a record cut short by a
// crash is never mistaken for a whole one.
std::string EncodeIntent(const Intent& intent);

// The intent of a whole, sealed record; nothing for anything else.
std::optional<Intent> DecodeIntent(std::string_view bytes);

}  // namespace zr::lzh
