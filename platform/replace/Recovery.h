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
// backups of our naming. A record is ours only as a regular file of the
// effective user that others cannot write, naming declared targets with
// names of our own form; anything else is left where it is, with a note.
// A replacement whose files stand as it left them is rolled back (or, when
// its journal entry already counts and every file is in place, finished);
// one whose files have changed since keeps them, and its old copies go to
// the journal. Old copies are never deleted on a guess. Throws
// rt::RuntimeError when an old file cannot be put back; its backup and
// record then stay, and the description names the backup.
void RecoverIn(int folderFd, const std::string& folder, const RecoveryScope& scope);

// Opens and locks `folder`, then RecoverIn. A missing folder is nothing to do.
void RecoverFolder(const std::string& folder, const RecoveryScope& scope);

}  // namespace zr::replace
