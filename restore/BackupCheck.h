#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A backup checked before the day it is needed: everything the restore would
// judge, and every member's data, without touching the data folder.
namespace zr::restore {

struct BackupVerdict {
  bool ok = false;
  std::string version;      // the data version, when it could be read
  std::string reason;       // why it cannot be restored from (not ok)
  std::string otherDamage;  // members the restore does not use that are damaged or cannot be decoded (ok)
};

// Checks `archivePath`. The common database is read from a private copy under
// `scratchFolder`, removed before this returns. `progress`, when given, hears
// of the archive's bytes as each member is done with (one call at a time).
BackupVerdict CheckBackup(const std::string& archivePath, const std::string& scratchFolder,
                          const std::function<void(uint64_t bytes)>& progress = {});

}  // namespace zr::restore
