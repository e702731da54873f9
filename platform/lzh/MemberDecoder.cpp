// Decodes one member into a file, its size and data CRC checked, on whichever thread calls it.
#include "platform/lzh/MemberDecoder.h"

#include <cerrno>

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
  MemberReader reader(archiveFd, fileSize, member, archive, label);
  // libarchive checks the data CRC as the member ends (a mismatch is damage
  // from Next): a second CRC over the same bytes would check nothing new.
  uint64_t sentOn = 0;
  for (;;) {
    if (stop.load(std::memory_order_relaxed)) throw DecodeStopped{};
    const void* data = nullptr;
    std::size_t size = 0;
    if (!reader.Next(data, size)) break;
    WriteAll(out, data, size, label, shown);
    if (flush && reader.produced() - sentOn >= kWritebackStep) {
      rt::Ops().StartWriteback(out, static_cast<off_t>(sentOn), static_cast<off_t>(reader.produced() - sentOn));
      sentOn = reader.produced();
    }
  }
  if (reader.produced() != header.originalSize) throw MemberDamaged(archive, label, DataFault::Length);
  if (flush && rt::Ops().Fsync(out) != 0)
    throw rt::ErrorFromErrno(errno, "「" + label + "」をディスクに書き込めません: " + shown);
}

}  // namespace zr::lzh
