#pragma once

// One member's data decoded and checked, nothing written, on whichever thread calls it.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/lzh/HeaderWalk.h"
#include "platform/lzh/LhDecoder.h"

namespace zr::lzh {

// What one checking thread reuses from member to member.
struct CheckSpace {
  std::vector<uint8_t> buffer;  // a stored member's read block
  LhDecoder decoder;
};

// Takes each block of a member's data as the check decodes it.
using DataBlocks = std::function<void(const uint8_t* data, std::size_t size)>;

// Decodes the -lh5-, -lh6- or -lh7- data of `member` with `decoder`, handing
// each block to `blocks` once it is within the declared size, then checks
// the data CRC and the length. Damage is a run-time error naming `label`, in
// the words and at the point of libarchive's reading of the same bytes.
// Gives up with DecodeStopped once `stop` is set.
void DecodeCompressed(int fd, const IndexedMember& member, const std::string& archive, const std::string& label,
                      LhDecoder& decoder, const std::atomic<bool>& stop, const DataBlocks& blocks);

// Decodes `member` of the archive open at `archiveFd` (`fileSize` bytes)
// and checks its size and data CRC, as an extraction would, writing nothing.
// Damage is a run-time error naming `label`, in the words an extraction
// uses, found where the extraction finds it. `space` is the calling
// thread's. Gives up with DecodeStopped once `stop` is set. `blocks`, when
// set, is handed the data checked so far.
void CheckMemberData(int archiveFd, uint64_t fileSize, const IndexedMember& member, const std::string& archive,
                     const std::string& label, CheckSpace& space, const std::atomic<bool>& stop,
                     const DataBlocks& blocks = {});

}  // namespace zr::lzh
