#pragma once

#include <string>
#include <vector>

#include "platform/runtime/UniqueFd.h"

namespace zr::lzh {

// How member paths map to files under the destination.
enum class Mode : int {
  KeepFolders = 0,  // the requested relative path under the destination
  BareName = 1,     // the file name alone, straight into the destination
};

struct ExtractOptions {
  // Files that replace nothing are readable by their owner alone (copies in
  // a temporary folder other users may share); otherwise they get the usual
  // mode, and replaced files keep theirs.
  bool ownerOnly = false;
  // Each copy reaches the disk before it replaces anything, and the
  // replacement before the call returns. Copies read once and deleted (the
  // version check's) need neither: a crash loses nothing there.
  bool flush = true;
};

// Extracts the requested members of an LZH archive into `destination` (an
// absolute, existing folder), replacing existing files. All or nothing: when
// it returns, either every found member is in place complete or, after a
// thrown rt::RuntimeError, no target has changed — also when the process
// dies midway, once the destination has been recovered (which every call
// does first). Requested names may use "\" or "/" and match stored names
// without regard to ASCII case. Returns the number of requested members the
// archive does not hold; when that is not zero nothing has been written.
// The walk over the archive's headers is remembered for the next call on the
// same, unchanged file.
int ExtractMembers(const std::string& archivePath, const std::string& destination, Mode mode,
                   const std::vector<std::string>& members, const ExtractOptions& options = {});

// The same, decoded on worker threads while the calling thread waits through
// rt::WaitUntil, so a wait notice keeps painting.
int ExtractMembersWaiting(const std::string& archivePath, const std::string& destination, Mode mode,
                          const std::vector<std::string>& members, const ExtractOptions& options = {});

// What an extraction for reading hands back: the number of requested
// members the archive lacks (nothing is written unless it is 0) and, for
// each distinct requested member in the order first requested, a descriptor
// open for reading on exactly the file the extraction wrote — whatever the
// name in the folder leads to by the time it is read.
struct ExtractedFiles {
  int missing = 0;
  std::vector<rt::UniqueFd> files;
};

// ExtractMembers into the folder open at `destinationFd`, which is used as
// it is, never looked up by a name again; `destination` names it in
// messages. For copies that are read and thrown away: a name in a folder
// other users can write to (a shared or FAT folder) proves nothing about
// what it holds, the descriptors do.
ExtractedFiles ExtractMembersForReading(const std::string& archivePath, int destinationFd,
                                        const std::string& destination, Mode mode,
                                        const std::vector<std::string>& members, const ExtractOptions& options = {});

// The same, waiting as ExtractMembersWaiting does.
ExtractedFiles ExtractMembersForReadingWaiting(const std::string& archivePath, int destinationFd,
                                               const std::string& destination, Mode mode,
                                               const std::vector<std::string>& members,
                                               const ExtractOptions& options = {});

// Begins the extraction that ExtractMembers with the same arguments will ask
// for, on a thread of its own: the members are decoded and verified into
// staged copies in the destination, and nothing is replaced. That call then
// puts the copies in place, provided the archive's path still names the file
// they came from; otherwise, and after any failure ahead, it extracts afresh.
// Any other extraction into the same folder drops it first. One at a time:
// a new one drops the last. A folder another extraction holds is left alone
// (nothing is begun). Throws only for arguments no extraction would take.
void ReadAheadMembers(const std::string& archivePath, const std::string& destination, Mode mode,
                      const std::vector<std::string>& members, const ExtractOptions& options = {});

// Ends the extraction begun ahead, if one is pending, and removes its copies.
void DropReadAhead();

}  // namespace zr::lzh
