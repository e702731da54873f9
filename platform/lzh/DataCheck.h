#pragma once

// One member's data decoded and checked, nothing written, on whichever thread calls it.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/lzh/HeaderWalk.h"

namespace zr::lzh {

// Decodes `member` of the archive open at `archiveFd` (`fileSize` bytes)
// and checks its size and data CRC, as an extraction would, writing nothing.
// Damage is a run-time error naming `label`, in the words an extraction
// uses. `buffer` is the calling thread's, reused from member to member.
// Gives up with DecodeStopped once `stop` is set.
void CheckMemberData(int archiveFd, uint64_t fileSize, const IndexedMember& member, const std::string& archive,
                     const std::string& label, std::vector<uint8_t>& buffer, const std::atomic<bool>& stop);

}  // namespace zr::lzh
