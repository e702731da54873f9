#pragma once

// Replaces a set of files under one folder together: all of them or none, across failures and crashes.
#include <sys/stat.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/replace/Identity.h"
#include "platform/replace/PathParts.h"
#include "platform/replace/RecordKey.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/UniqueFd.h"

namespace zr::replace {

// Staged copies, backups and the intent record all live in the destination
// folder itself, so that one look there finds everything an interrupted run
// left. Every file-system call goes through rt::Ops(). Not thread-safe: stage
// and commit on one thread; the staged descriptors may be written anywhere.
// A replacement committed inside a JournalScope makes that journal entry
// count once its renames are on disk, before its record goes.
class Replacement {
 public:
  // `destinationFd` stays open while the object lives; `destination` names it in messages.
  // `ownerOnly`: files that replace nothing are readable by their owner alone.
  // Without `flush` nothing is flushed: the files are throwaway copies.
  Replacement(int destinationFd, std::string destination, bool ownerOnly, bool flush = true);
  // Unless Commit() completed (or left what recovery needs), removes every
  // copy, backup and folder it made.
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // A file to replace: `target` under the destination, file name last;
  // `label` names it in messages. Returns its index.
  std::size_t Add(const PathParts& target, const std::string& label);

  // A file that goes, together with the replaced ones (nothing when it is
  // not there). Returns its index.
  std::size_t AddRemoval(const PathParts& target, const std::string& label);

  // Creates the file's folders and its empty staged copy, with the mode and
  // owner of the file it replaces (or the usual ones for a new file).
  rt::UniqueFd Stage(std::size_t index);

  // Takes back a staged copy written and flushed by the caller; closing it
  // is the last write check.
  void Finish(std::size_t index, rt::UniqueFd copy);

  // Puts every finished copy in place and removes the files to remove, all or none.
  void Commit();

  // The full path of a target, for messages.
  std::string Shown(std::size_t index) const;

 private:
  struct Item {
    PathParts target;
    std::string label;
    bool removal = false;
    int folderFd = -1;
    std::string staged;
    std::optional<FileIdentity> placed;
    bool finished = false;
    bool active = false;  // takes part in the commit
    std::optional<FileIdentity> old;
    std::string backup;
    bool renameBackup = false;  // no hard links here: the old file is moved aside instead
    bool backupMade = false;
    bool inPlace = false;
  };

  int Folder(const Item& item);
  void MakeBackups();
  rt::UniqueFd CreateStaged(const std::string& what, mode_t mode, std::string& name);
  void WriteRecord(const RecordKey& key, const std::string& token);
  void PutInPlace();
  void RenameIntoPlace();
  void FlushRenames(int& flushError, std::string& flushWhere);
  bool CommitJournal();
  void RemoveRecord(bool journaled, int& flushError, std::string& flushWhere);
  void RemoveBackups();
  rt::RuntimeError Unflushed(int errnum, const std::string& where) const;
  void Flush(int fd, const std::string& shown, int& flushError, std::string& flushWhere);
  [[noreturn]] void Roll(std::size_t upTo, const rt::RuntimeError& cause);
  void Discard();
  std::string InDestination(const std::string& name) const;
  std::string Where(const PathParts& relative) const;
  std::string Labels() const;

  int destinationFd_;
  std::string destination_;
  bool ownerOnly_;
  bool flush_;
  std::vector<Item> items_;
  std::map<std::string, int> folders_;
  std::vector<std::pair<int, std::string>> created_;  // parent descriptor, name
  std::vector<PathParts> createdPaths_;
  std::string record_;
  bool committed_ = false;
  bool keepForRecovery_ = false;
};

}  // namespace zr::replace
