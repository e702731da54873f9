#pragma once

#include <cstdint>
#include <string>

#include "restore/Outcome.h"
#include "suite/SuiteServices.h"

// The gate in front of every restore, and the one place that knows the
// versions it lets through.
namespace zr::restore {

inline constexpr const char* kRequiredSuiteVersion = "10.0.0";
inline constexpr const char* kCommonDatabaseMember = "Data\\ZrXXComn.wf6";
inline constexpr const char* kCommonDatabaseName = "ZrXXComn.wf6";

// True for the data versions this tool restores from.
bool IsAcceptedDataVersion(const std::string& version);
// Those versions for a message: "9.0.0、9.1.0、9.2.0".
std::string AcceptedDataVersionsText();

// The suite's data folder setting ("Common" / "DataPath") as the suite holds it.
std::string DataFolderSetting(suite::SuiteServices& services);
// The data folder to write into, with its closing separator; an empty
// setting is error 76, a relative one error 5.
std::string ReadDataFolder(suite::SuiteServices& services);

// The suite's temporary folder setting as the checks use it, ending in "/":
// error 76 when it is empty, relative, or inside (or the same as) the data
// folder `dataFolder` once links are resolved (no test when that is empty).
std::string CheckedTemporaryFolder(std::string folder, const std::string& dataFolder);

// The data version the copy of the common database open at `copyFd` records
// (`shown` names it in messages); empty when it has no version row. Opens
// the copy exclusively and read-only.
std::string ReadDataVersion(int copyFd, const std::string& shown);

// Checks the installed suite and the data version of the backup at
// `archivePath` (empty: no archive was chosen, a backup of unknown version).
// The common database is read from a private folder under the temporary
// folder setting `temporaryFolder`; `owner` owns the suite's extraction.
// While the version is read, the suite may decode the templates ahead;
// every refusal and failure drops them before it returns.
Outcome CheckBackupVersion(suite::SuiteServices& services, const std::string& archivePath,
                           const std::string& temporaryFolder, int32_t owner = 0);

}  // namespace zr::restore
