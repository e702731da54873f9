#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/RuntimeError.h"

// Folder queries and listings with the answers the tool's commands expect:
// a plain No only where the file system says that nothing is there, a
// run-time error wherever the answer cannot be known.
namespace zr::rt {

// True when a folder (or a link to one) exists at `path`; a closing "/" is
// allowed. False when nothing, or something other than a folder, is there.
// Throws a RuntimeError when the answer cannot be known: 70 when a parent
// refuses access, 68 when the device does not answer, 75 otherwise.
bool FolderExists(const std::string& path);

// True when `name` matches one of the ";"-separated wildcard patterns, with
// "*" for any run of characters and "?" for one character. Letters match
// without regard to case, and "*.*" matches every name, dot or not, as the
// patterns written for Windows media expect.
bool MatchesFilePattern(std::string_view name, std::string_view pattern);

// The names of the files directly in `folder` that match `pattern`, sorted
// by name without regard to case. Hidden files (names starting with ".")
// and anything that is not an ordinary file are left out; links count as
// what they point to. Throws a RuntimeError when the folder cannot be read:
// 76 when it does not exist (an empty path included), 70 when access is
// refused, 68 when its device does not answer.
std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern);

// The run-time error for a failed operation on a folder, named in the
// description. Where it differs from ErrorFromErrno, and why, is said at the
// one errno table (ErrnoTable.cpp).
RuntimeError FolderError(int errnum, const std::string& folder);

}  // namespace zr::rt
