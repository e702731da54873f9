#pragma once

#include <string>
#include <vector>

namespace zr::lzh {

// How member paths map to files under the destination.
enum class Mode : int {
  KeepFolders = 0,  // the requested relative path under the destination
  BareName = 1,     // the file name alone, straight into the destination
};

// Extracts the requested members of an LZH archive into `destination` (an
// absolute, existing folder), replacing existing files. All or nothing: when
// it returns, either every found member is in place complete or, after a
// thrown rt::RuntimeError, no target has changed. Requested names may use "\"
// or "/" and match stored names without regard to ASCII case. Returns the
// number of requested members the archive does not hold; when that is not
// zero nothing has been written.
int ExtractMembers(const std::string& archivePath, const std::string& destination, Mode mode,
                   const std::vector<std::string>& members);

// The same, decoded on a worker thread while the calling thread waits through
// rt::WaitUntil, so a wait notice keeps painting.
int ExtractMembersWaiting(const std::string& archivePath, const std::string& destination, Mode mode,
                          const std::vector<std::string>& members);

}  // namespace zr::lzh
