#pragma once

// Finishes or undoes what an interrupted replacement left in a folder, trusting only what it wrote itself.
#include <set>
#include <string>
#include <vector>

#include "platform/replace/Journal.h"
#include "platform/replace/PathParts.h"

namespace zr::replace {

// What a caller lets recovery touch in one folder.
struct RecoveryScope {
  // The only files a record may name, under the folder, file name last.
  std::vector<PathParts> targets;
  // Where the way back of the replacements there is kept; none: nothing is
  // salvaged, and records that carry a journal entry are rolled back.
  Journal* journal = nullptr;
  // Also drop the journal's pending entries no record names any more (at a
  // start, under the run lock, when no replacement of ours can be under way).
  bool dropStalePending = false;
};

// Waits until no other extraction of ours works in the folder open at
// `folderFd`, and keeps others out while the descriptor stays open. Gives up
// with a run-time error after half a minute; a file system without locks
// leaves the order to the suite's run lock.
void LockFolder(int folderFd, const std::string& folder);

// For a folder already open (and locked) at `folderFd`: resolves every
// intent record of ours there and removes the stray staged copies and
// backups of our naming. A record is ours only when its seal checks under
// the user's key (RecordKey.h), whatever owner and mode the file system
// shows, and it names declared targets with names of our own form; anything
// else is left where it is, with its backups and a note, and returned. A
// replacement whose files stand as it left them is rolled back (or, when
// its journal entry already counts and every file is in place, finished);
// one whose files have changed since keeps them, and its old copies go to
// the journal. Old copies are never deleted on a guess. Throws
// rt::RuntimeError when an old file cannot be put back; its backup and
// record then stay, and the description names the backup.
std::vector<std::string> RecoverIn(int folderFd, const std::string& folder, const RecoveryScope& scope);

// The same before a change of the folder: a record left there that is not
// provably ours may be somebody's unfinished change, so nothing is built on
// it; a run-time error names the record.
void RecoverBeforeChange(int folderFd, const std::string& folder, const RecoveryScope& scope);

// Opens and locks `folder`, then RecoverIn. A missing folder is nothing to do.
std::vector<std::string> RecoverFolder(const std::string& folder, const RecoveryScope& scope);

}  // namespace zr::replace
