#pragma once

#include <string>

#include "restore/RestoreWindow.h"

namespace zr::restore {

// Replaces the two template databases in the suite's data folder with the
// archive's copies, with the window disabled and the wait notice shown.
void MSubRestoreSyori(RestoreWindow& form, std::string archiveName);

}  // namespace zr::restore
