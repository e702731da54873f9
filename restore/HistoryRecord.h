#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "restore/History.h"

// An entry's restore.ini: what it says and how it is read back. Only the
// history's files include this.
namespace zr::restore::history {

struct EntryFacts {
  std::string archive;
  std::string installed;
  bool fromUndo = false;
  bool recovered = false;
  std::vector<TemplateState> templates;  // in the order of suite::kTemplateMembers
};

// Writes and flushes the record of the entry folder open at `entryFd` (shown
// as `where`), numbered `sequence`. Throws a run-time error when it cannot.
void WriteRecord(int entryFd, const std::filesystem::path& where, uint64_t sequence, const EntryFacts& facts);

// The entry `name` in the history open at `rootFd`: what its record says, or
// why it cannot be used.
HistoryEntry ReadEntry(int rootFd, const std::filesystem::path& root, const std::string& name);

}  // namespace zr::restore::history
