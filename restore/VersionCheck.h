#pragma once

#include <string>

#include "restore/RestoreWindow.h"

namespace zr::restore {

inline constexpr const char* kRequiredSuiteVersion = "10.0.0";
inline constexpr const char* kCommonDatabaseMember = "Data\\ZrXXComn.wf6";

// True for the data versions this tool restores from: 9.0.0, 9.1.0, 9.2.0.
bool IsAcceptedDataVersion(const std::string& version);

// The suite's temporary folder setting as the checks use it, ending in "/":
// error 76 when it is empty, relative, or inside (or the same as) the data
// folder `dataFolder` once links are resolved (no test when that is empty).
std::string CheckedTemporaryFolder(std::string folder, const std::string& dataFolder);

// The data version the copy of the common database open at `copyFd` records
// (`shown` names it in messages); empty when it has no version row. Opens
// the copy exclusively and read-only.
std::string ReadDataVersion(int copyFd, const std::string& shown);

// The gate in front of every restore: true only when the installed suite is
// 10.0.0 and the archive's common database records an accepted data
// version. Every refusal is explained to the user; errors go to the trap.
bool MBlnZrVerChk(RestoreWindow& form, std::string archiveName);

}  // namespace zr::restore
