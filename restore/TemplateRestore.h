#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "restore/RestoreWindow.h"
#include "suite/SuiteServices.h"
#include "suite/Templates.h"

namespace zr::restore {

// What the restore extracts, and how: the templates at their folders under
// the data folder.
using suite::kTemplateMembers;
inline constexpr int16_t kKeepFoldersMode = 0;

// Replaces the two template databases in the suite's data folder with the
// archive's copies, with the window disabled and the wait notice shown.
// The suite's data folder ("Common" / "DataPath") with its closing
// separator; an empty setting is error 76, a relative one error 5, wherever
// the folder is used.
std::string ReadDataFolder(suite::SuiteServices& services);

void MSubRestoreSyori(RestoreWindow& form, std::string archiveName);

}  // namespace zr::restore
