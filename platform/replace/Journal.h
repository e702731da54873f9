#pragma once

// Where the way back of a replacement is kept, outside the folder it replaces in.
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/replace/PathParts.h"

namespace zr::replace {

// An old copy recovery found and could neither put back nor drop.
struct OldCopy {
  std::string name;  // its name in the folder being recovered
  PathParts target;  // what it was the old content of; empty when unknown
};

// A replacement can carry a journal entry's token: the entry is made ahead
// (pending), counts once the replacement has committed, and is dropped when
// the replacement is rolled back — at once, or by the recovery after a crash.
class Journal {
 public:
  virtual ~Journal() = default;

  // Whether the entry `token` counts.
  virtual bool Committed(const std::string& token) = 0;
  // Makes the entry count, durably; a run-time error when it cannot.
  virtual void Commit(const std::string& token) = 0;
  // The change the entry recorded did not happen: it goes, durably. Quiet.
  virtual void Discard(const std::string& token) noexcept = 0;
  // Moves old copies out of the folder open at `folderFd` into an entry of
  // their own, so nothing is lost and they can be reached. Throws when it
  // cannot; the copies then stay where they are.
  virtual void Salvage(int folderFd, const std::vector<OldCopy>& copies) = 0;
  // Drops pending entries whose replacement never began (a crash came
  // before its record), except those still named by a record left in place.
  virtual void DropPendingExcept(const std::set<std::string>& tokens) noexcept = 0;
};

// The journal recovery of the data folder reports to, for the whole program.
void InstallJournal(std::shared_ptr<Journal> journal);
std::shared_ptr<Journal> InstalledJournal();

// While it lives, replacements committed on this thread carry `token` of
// `journal`: the entry counts from the moment their renames are on disk.
class JournalScope {
 public:
  JournalScope(Journal& journal, std::string token);
  ~JournalScope();
  JournalScope(const JournalScope&) = delete;
  JournalScope& operator=(const JournalScope&) = delete;

  static JournalScope* Current();
  Journal& journal() const { return journal_; }
  const std::string& token() const { return token_; }

 private:
  Journal& journal_;
  std::string token_;
  JournalScope* previous_;
};

// Where recovery says what it left alone and why (the program's error log).
void InstallRecoveryNotes(std::function<void(const std::string&)> sink);
void RecoveryNote(const std::string& text) noexcept;

}  // namespace zr::replace
