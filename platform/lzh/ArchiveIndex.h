#pragma once

// The header walk of the last archive read, remembered so a second extraction from it goes straight to its members.
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/lzh/HeaderWalk.h"

namespace zr::lzh {

using MemberIndex = std::vector<IndexedMember>;

// The members of the archive open at `fd` whose fstat is `st`: remembered
// when the same file (device, inode, size, modification and change times)
// was walked before, walked now otherwise. `fresh` says which.
std::shared_ptr<const MemberIndex> IndexOf(int fd, const struct stat& st, const std::string& archive, bool& fresh);

// Drops what is remembered (the file proved different from its walk).
void ForgetIndex();

}  // namespace zr::lzh
