// One member's data decoded and checked, nothing written, on whichever thread calls it.
#include "platform/lzh/DataCheck.h"

#include <algorithm>
#include <cerrno>

#include "platform/lzh/Crc16.h"
#include "platform/lzh/ErrorTexts.h"
#include "platform/lzh/MemberReader.h"
#include "platform/runtime/FileOps.h"

namespace zr::lzh {
namespace {

constexpr std::size_t kStoredBlock = 256 * 1024;

// A stored member's packed bytes are its data. libarchive would hand them
// over unchanged, but its CRC, one table step after another, takes several
// times as long as ours; so they are read and checked here, each fault
// found where libarchive's reading would find it: an overlong member as its
// bytes pass the declared size, the CRC before the length at the end.
void CheckStored(int fd, const IndexedMember& member, const std::string& archive, const std::string& label,
                 std::vector<uint8_t>& buffer, const std::atomic<bool>& stop, const DataBlocks& blocks) {
  const MemberHeader& header = member.header;
  buffer.resize(std::max(buffer.size(), kStoredBlock));
  uint64_t offset = member.position + header.span;
  uint64_t left = header.packedSize;
  uint64_t produced = 0;
  uint16_t crc = 0;
  while (left > 0) {
    if (stop.load(std::memory_order_relaxed)) throw DecodeStopped{};
    const auto count = static_cast<std::size_t>(std::min<uint64_t>(buffer.size(), left));
    const ssize_t n = rt::Ops().Pread(fd, buffer.data(), count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw ArchiveReadError(errno, archive);
    if (n == 0) throw MemberDamaged(archive, label, DataFault::Truncated);
    const auto got = static_cast<uint64_t>(n);
    if (got > header.originalSize - produced) throw MemberDamaged(archive, label, DataFault::TooLong);
    crc = Crc16(crc, buffer.data(), static_cast<std::size_t>(n));
    if (blocks) blocks(buffer.data(), static_cast<std::size_t>(n));
    produced += got;
    offset += got;
    left -= got;
  }
  if (crc != header.dataCrc) throw MemberDamaged(archive, label, DataFault::Crc);
  if (produced != header.originalSize) throw MemberDamaged(archive, label, DataFault::Length);
}

}  // namespace

// Our own decoder is faster than libarchive's and finds each fault where
// libarchive's reading would: it reads the packed bytes in the blocks
// MemberSource hands libarchive, and hands out its output in libarchive's
// blocks, each checked against the declared size as MemberReader checks
// it; the CRC comes before the length.
void DecodeCompressed(int fd, const IndexedMember& member, const std::string& archive, const std::string& label,
                      LhDecoder& decoder, const std::atomic<bool>& stop, const DataBlocks& blocks) {
  const MemberHeader& header = member.header;
  uint64_t offset = member.position + header.span;
  uint64_t produced = 0;
  uint16_t crc = 0;
  const LhDecoder::Source read = [&](uint8_t* into, std::size_t size) {
    if (stop.load(std::memory_order_relaxed)) throw DecodeStopped{};
    std::size_t got = 0;
    while (got < size) {
      const ssize_t n = rt::Ops().Pread(fd, into + got, size - got, static_cast<off_t>(offset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw ArchiveReadError(errno, archive);
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    offset += got;
    return got;
  };
  const LhDecoder::Sink check = [&](const uint8_t* data, std::size_t size) {
    if (stop.load(std::memory_order_relaxed)) throw DecodeStopped{};
    if (size > header.originalSize - produced) throw MemberDamaged(archive, label, DataFault::TooLong);
    crc = Crc16(crc, data, size);
    if (blocks) blocks(data, size);
    produced += size;
  };
  try {
    decoder.Decode(LhDecoder::WindowBits(header.method), header.packedSize, read, check);
  } catch (const LhDecoder::Damaged& damaged) {
    throw MemberDamaged(archive, label, damaged.fault);
  }
  if (crc != header.dataCrc) throw MemberDamaged(archive, label, DataFault::Crc);
  if (produced != header.originalSize) throw MemberDamaged(archive, label, DataFault::Length);
}

void CheckMemberData(int archiveFd, uint64_t fileSize, const IndexedMember& member, const std::string& archive,
                     const std::string& label, CheckSpace& space, const std::atomic<bool>& stop,
                     const DataBlocks& blocks) {
  const MemberHeader& header = member.header;
  RefuseUndecodable(header, archive, label);
  // libarchive reads every header, a stored member's too, and must read it as we did.
  MemberReader reader(archiveFd, fileSize, member, archive, label);
  if (Stored(header.method)) {
    CheckStored(archiveFd, member, archive, label, space.buffer, stop, blocks);
  } else {
    DecodeCompressed(archiveFd, member, archive, label, space.decoder, stop, blocks);
  }
}

}  // namespace zr::lzh
