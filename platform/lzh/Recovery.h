#pragma once

// Undoes what an interrupted replacement left in a folder and removes our own stray files there.
#include <string>

namespace zr::lzh {

// Waits until no other extraction of ours works in the folder open at
// `folderFd`, and keeps others out while the descriptor stays open. Gives up
// with a run-time error after half a minute; a file system without locks
// leaves the order to the suite's run lock.
void LockFolder(int folderFd, const std::string& folder);

// For a folder already open (and locked) at `folderFd`: rolls back every
// replacement whose intent record is there, then removes the staged copies,
// backups and unfinished records of our naming that no record still needs.
// Throws rt::RuntimeError when an old file cannot be put back; its backup
// and record then stay, and the description names the backup.
void RecoverIn(int folderFd, const std::string& folder);

}  // namespace zr::lzh
