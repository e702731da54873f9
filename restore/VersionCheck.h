#pragma once

#include <string>

#include "restore/RestoreWindow.h"

namespace zr::restore {

// The gate in front of every restore: true only when the installed suite is
// 10.0.0 and the archive's common database records an accepted data
// version. Every refusal is explained to the user; errors go to the trap.
bool MBlnZrVerChk(RestoreWindow& form, std::string archiveName);

}  // namespace zr::restore
