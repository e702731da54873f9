#pragma once

#include <string>

#include "restore/History.h"

namespace zr::restore {

// Puts the pair kept in `entry` back into the data folder, replacing both
// templates together or neither. The files put back are copies: the entry
// stays as it was, whatever the suite later writes into the data folder.
void PutBack(const HistoryEntry& entry, const std::string& dataFolder);

}  // namespace zr::restore
