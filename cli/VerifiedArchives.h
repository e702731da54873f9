#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <iosfwd>
#include <map>
#include <string>

#include "restore/BackupCheck.h"

// What `--verify --new` remembers between runs: the verdict on each archive
// in the form it had when it was checked. An archive is that form as long as
// its device, inode, size, modification and change times stay the same; a
// rewrite in place moves the change time, so no content change slips past.
namespace zr::cli {

struct ArchiveForm {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec modified {};
  struct timespec changed {};
  bool operator==(const ArchiveForm& other) const;
};

class VerifiedArchives {
 public:
  // The record is read at once; one that is missing, too large, not a regular
  // file or a link counts as empty, so everything is checked again.
  explicit VerifiedArchives(std::filesystem::path file);

  // <suite home>/verified.tsv
  static std::filesystem::path InSuiteHome();

  // Whether `archive` has no verdict for its present form. Only stats it.
  bool IsNew(const std::string& archive);
  // The verdict on `archive` in the form IsNew saw before the check.
  void Record(const std::string& archive, const restore::BackupVerdict& verdict);
  // Writes the record when anything changed: this run's verdicts, and the
  // earlier ones whose archives still exist unchanged. False, with why on
  // `err`, when it cannot be written.
  bool Save(std::ostream& err);

  static constexpr std::size_t kLimit = 1 << 20;

 private:
  struct Entry {
    ArchiveForm form;
    bool ok = false;
    std::string detail;  // the version (OK) or the reason (NG)
    bool seen = false;   // visited by this run
  };

  std::filesystem::path file_;
  std::map<std::string, Entry> entries_;  // by absolute archive path
  std::map<std::string, ArchiveForm> pending_;
  bool changed_ = false;
};

}  // namespace zr::cli
