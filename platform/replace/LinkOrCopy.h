#pragma once

// Keeping a second name for a file, or a copy where the file system has no second names.
#include <string>

namespace zr::replace {

// File systems without hard links (exFAT, many SMB shares) say so with one of these.
bool NoHardLinks(int errnum);

// Copies what `in` holds from its current offset to the end into `out`,
// going on after interruptions. 0, or the errno of the first failure;
// `readFailed` tells which side it came from.
int CopyContents(int in, int out, bool& readFailed);

// Gives the file `from` (in the folder open at `fromDir`) the name `to` in
// the folder open at `toDir` as well: a hard link where the two share a file
// system that has them, else a copy readable by its owner only and flushed.
// 0, or the errno of the failure (nothing is left at `to` then).
int LinkOrCopy(int fromDir, const std::string& from, int toDir, const std::string& to);

}  // namespace zr::replace
