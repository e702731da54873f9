#pragma once

// Decodes one member into a file, checking its size and data CRC, on whichever thread calls it.
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/lzh/HeaderWalk.h"
#include "platform/lzh/MemberReader.h"

namespace zr::lzh {

// Decodes `member` of the archive open at `archiveFd` (`fileSize` bytes)
// (libarchive reads its header and a stored member's data, our decoder the
// compressed data, as the backup check does), writes the bytes to `out` and
// flushes it (unless not `flush`). A damaged member is a
// run-time error naming `label`; `shown` names the copy in write errors.
// Gives up with DecodeStopped once `stop` is set.
void DecodeMember(int archiveFd, uint64_t fileSize, const IndexedMember& member, const std::string& archive,
                  const std::string& label, int out, const std::string& shown, const std::atomic<bool>& stop,
                  bool flush = true);

}  // namespace zr::lzh
