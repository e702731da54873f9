#pragma once

#include <cstdint>
#include <string>

#include "restore/Outcome.h"
#include "suite/SuiteServices.h"
#include "suite/Templates.h"

namespace zr::restore {

// What the restore extracts, and how: the templates at their folders under
// the data folder.
using suite::kTemplateMembers;
inline constexpr int16_t kKeepFoldersMode = 0;

// Replaces the two template databases in the suite's data folder with the
// copies in the archive at `archivePath` (empty: nothing is extracted), once
// the wait notice is up; the data folder is read from `services` then. The
// pair it replaces is kept in the history first, and a restore that does not
// happen takes that entry with it. Meant to follow a passed
// CheckBackupVersion of the same archive.
Outcome RestoreTemplates(suite::SuiteServices& services, const std::string& archivePath, RestoreFeedback& feedback,
                         int32_t owner = 0);

}  // namespace zr::restore
