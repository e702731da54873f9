#pragma once

// The one extraction begun ahead of time (ReadAheadMembers), as the extractions that follow meet it.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/lzh/Extract.h"

namespace zr::lzh {

// Puts in place what was begun ahead for exactly this request, when it is
// ready and the archive unchanged: true then. Otherwise false, and what was
// begun ahead is dropped if it is for this request or into this folder, or
// else left pending.
bool CommitReadAhead(const std::string& archivePath, const std::string& destination, Mode mode,
                     const std::vector<std::string>& members, const ExtractOptions& options);

// Drops what was begun ahead into the folder whose fstat is `folder`, if anything.
void DropReadAheadInto(const struct stat& folder);

}  // namespace zr::lzh
