#pragma once

#include <string>

// A backup checked before the day it is needed: everything the restore would
// judge, and every member's data, without touching the data folder.
namespace zr::restore {

struct BackupVerdict {
  bool ok = false;
  std::string version;      // the data version, when it could be read
  std::string reason;       // why it cannot be restored from (not ok)
  std::string otherDamage;  // damaged members the restore does not use (ok)
};

// Checks `archivePath`. The common database is read from a private copy under
// `scratchFolder`, removed before this returns.
BackupVerdict CheckBackup(const std::string& archivePath, const std::string& scratchFolder);

}  // namespace zr::restore
