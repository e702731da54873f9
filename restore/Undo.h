#pragma once

#include <filesystem>
#include <string>

#include "restore/History.h"

namespace zr::restore {

// Puts the pair kept in `entry` back into the data folder, exactly as the
// entry recorded it: a template it kept is put back as a copy (so the suite's
// later writes never reach the history), one that did not exist is removed;
// both together or neither. What it replaces becomes an entry of its own in
// the history at `root`, marked as an undo. The data folder stays locked from
// the recovery before it to the end. An entry that holds anything but what
// this program keeps there is refused, and nothing changes.
void PutBack(const std::filesystem::path& root, const HistoryEntry& entry, const std::string& dataFolder);

}  // namespace zr::restore
