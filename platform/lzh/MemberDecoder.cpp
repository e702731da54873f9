// Decodes one member into a file, its size and data CRC checked, on whichever thread calls it.
#include "platform/lzh/MemberDecoder.h"

#include <cerrno>

#include "platform/lzh/DataCheck.h"
#include "platform/lzh/ErrorTexts.h"
#include "platform/runtime/FileOps.h"

namespace zr::lzh {
namespace {

// How much is written before it is sent on towards the disk: the final
// flush then waits for the last step only, not for the whole file.
constexpr uint64_t kWritebackStep = 1 << 20;

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
  // libarchive reads every header, and must read it as our walk did.
  MemberReader reader(archiveFd, fileSize, member, archive, label);
  uint64_t written = 0;
  uint64_t sentOn = 0;
  const auto write = [&](const void* data, std::size_t size) {
    WriteAll(out, data, size, label, shown);
    written += size;
    if (flush && written - sentOn >= kWritebackStep) {
      rt::Ops().StartWriteback(out, static_cast<off_t>(sentOn), static_cast<off_t>(written - sentOn));
      sentOn = written;
    }
  };
  if (Stored(header.method)) {
    // libarchive checks a stored member's CRC as it ends (a mismatch is
    // damage from Next): a second CRC over the same bytes would check nothing new.
    for (;;) {
      if (stop.load(std::memory_order_relaxed)) throw DecodeStopped{};
      const void* data = nullptr;
      std::size_t size = 0;
      if (!reader.Next(data, size)) break;
      write(data, size);
    }
    if (reader.produced() != header.originalSize) throw MemberDamaged(archive, label, DataFault::Length);
  } else {
    // The decoder the backup check uses, so that what it passes is what a restore reads.
    LhDecoder decoder;
    DecodeCompressed(archiveFd, member, archive, label, decoder, stop,
                     [&](const uint8_t* data, std::size_t size) { write(data, size); });
  }
  if (flush && rt::Ops().Fsync(out) != 0)
    throw rt::ErrorFromErrno(errno, "「" + label + "」をディスクに書き込めません: " + shown);
}

}  // namespace zr::lzh
