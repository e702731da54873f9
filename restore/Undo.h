#pragma once

#include <filesystem>
#include <string>

#include "platform/runtime/RuntimeError.h"
#include "restore/History.h"

namespace zr::restore {

// An entry an undo cannot take back, whatever else is tried: its record or
// what it holds is not what this program keeps there.
class RefusedEntry : public rt::RuntimeError {
 public:
  using rt::RuntimeError::RuntimeError;
};

// Why `entry` cannot be put back, from what its record says alone; empty
// when it may be tried. PutBack still checks what the entry holds.
std::string WhyNotPutBack(const HistoryEntry& entry);

// Puts the pair kept in `entry` back into the data folder, exactly as the
// entry recorded it: a template it kept is put back as a copy (so the suite's
// later writes never reach the history), one that did not exist is removed;
// both together or neither. What it replaces becomes an entry of its own in
// the history at `root`, marked as an undo. The data folder stays locked from
// the recovery before it to the end. An entry that holds anything but what
// this program keeps there is refused (RefusedEntry), and nothing changes.
void PutBack(const std::filesystem::path& root, const HistoryEntry& entry, const std::string& dataFolder);

}  // namespace zr::restore
