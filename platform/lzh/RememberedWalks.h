#pragma once

// Header walks kept on disk, so that another run looking at the same unchanged archive reads no header twice.
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "platform/lzh/ArchiveIndex.h"

namespace zr::lzh {

// Where walks are kept: a folder of this user's (made when first needed).
// Without one installed, nothing is kept past the process.
void InstallWalkStore(std::function<std::filesystem::path()> folder);

// The walk kept for exactly this file (device, inode, size, modification and
// change times), or nothing. Only a walk sealed under the record key is
// believed, and even that only says where to look: every header it points to
// is read and compared again before anything is decoded.
std::shared_ptr<const MemberIndex> LoadWalk(const ArchiveIdentity& identity) noexcept;

// Keeps `index` as the walk of `identity`, replacing the one kept for that
// file before; the oldest are let go beyond a few archives. Failures are
// ignored: the next run walks again.
void StoreWalk(const ArchiveIdentity& identity, const MemberIndex& index) noexcept;

// Lets go of the walk kept for `identity`, if any.
void DropWalk(const ArchiveIdentity& identity) noexcept;

}  // namespace zr::lzh
