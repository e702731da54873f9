// Decodes one member into a file, checking its size and data CRC, on whichever thread calls it.
#include "platform/lzh/MemberDecoder.h"

#include <cerrno>

#include "platform/lzh/Crc16.h"
#include "platform/lzh/ErrorTexts.h"
#include "platform/runtime/FileOps.h"

namespace zr::lzh {
namespace {

void WriteAll(int fd, const void* data, std::size_t size, const std::string& label, const std::string& shown) {
  if (!rt::WriteAll(fd, std::string_view(static_cast<const char*>(data), size))) {
    throw rt::ErrorFromErrno(errno, "「" + label + "」を書き込めません: " + shown);
  }
}

}  // namespace

void DecodeMember(int archiveFd, uint64_t fileSize, const IndexedMember& member, const std::string& archive,
                  const std::string& label, int out, const std::string& shown, const std::atomic<bool>& stop,
                  bool flush) {
  const MemberHeader& header = member.header;
  RefuseUndecodable(header, archive, label);
  MemberReader reader(archiveFd, fileSize, member, archive, label);
  // What is written is checked again here, whatever libarchive found: these
  // bytes are about to replace live data.
  uint16_t crc = 0;
  for (;;) {
    if (stop.load(std::memory_order_relaxed)) throw DecodeStopped{};
    const void* data = nullptr;
    std::size_t size = 0;
    if (!reader.Next(data, size)) break;
    crc = Crc16(crc, data, size);
    WriteAll(out, data, size, label, shown);
  }
  if (reader.produced() != header.originalSize) throw MemberDamaged(archive, label, DataFault::Length);
  if (crc != header.dataCrc) throw MemberDamaged(archive, label, DataFault::Crc);
  if (flush && rt::Ops().Fsync(out) != 0)
    throw rt::ErrorFromErrno(errno, "「" + label + "」をディスクに書き込めません: " + shown);
}

}  // namespace zr::lzh
