#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "restore/RestoreWindow.h"
#include "suite/SuiteServices.h"

namespace zr::restore {

// What the restore extracts, and how: the templates at their folders under
// the data folder.
inline const std::vector<std::string> kTemplateMembers = {"Work\\ZrBunsyo.wf6", "Work\\ZrTuBun.wf6"};
inline constexpr int16_t kKeepFoldersMode = 0;

// Replaces the two template databases in the suite's data folder with the
// archive's copies, with the window disabled and the wait notice shown.
// The suite's data folder ("Common" / "DataPath") with its closing
// separator; an empty setting is error 76.
std::string ReadDataFolder(suite::SuiteServices& services);

void MSubRestoreSyori(RestoreWindow& form, std::string archiveName);

}  // namespace zr::restore
