// The one pass over an archive's member headers that every reader of member lists uses.
#include "platform/lzh/HeaderWalk.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "platform/lzh/ErrorTexts.h"
#include "platform/runtime/FileOps.h"

namespace zr::lzh {
namespace {

// Enough for every ordinary header in one read; longer ones ask for more.
// Kept small: on a share every byte of a walk's 2,000 reads crosses the wire.
constexpr std::size_t kFirstHeaderRead = 512;

// Reads up to `count` bytes at `offset` (fewer only at the end of the file).
std::size_t ReadAt(int fd, std::vector<uint8_t>& into, std::size_t count, uint64_t offset, const std::string& archive) {
  into.resize(std::max(into.size(), count));
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = rt::Ops().Pread(fd, into.data() + got, count - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ArchiveReadError(errno, archive);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

bool Regular(const MemberHeader& h) {
  if (h.directory) return false;
  // Without a Unix mode a member is a file; with one, the mode says.
  return !h.unixMode || S_ISREG(*h.unixMode);
}

}  // namespace

bool ReadHeaderAt(int fd, uint64_t size, uint64_t position, std::vector<uint8_t>& buffer, MemberHeader& out,
                  const std::string& archive) {
  if (position >= size) throw ArchiveDamaged(archive, FaultText(HeaderFault::Truncated));
  const uint64_t available = size - position;
  std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(kFirstHeaderRead, available));
  for (;;) {
    const std::size_t got = ReadAt(fd, buffer, want, position, archive);
    const bool toEnd = got == available || got < want;
    const HeaderParse parse = ParseHeader({buffer.data(), got}, toEnd, out);
    switch (parse.status) {
      case HeaderParse::NeedMore:
        want = static_cast<std::size_t>(std::min<uint64_t>(std::max(parse.needed, got + 1), available));
        continue;
      case HeaderParse::EndOfArchive:
        return false;
      case HeaderParse::Fault:
        throw ArchiveDamaged(archive, FaultText(parse.fault));
      case HeaderParse::Complete:
        break;
    }
    // Both bounds in unsigned arithmetic that cannot wrap: span <= got <= available.
    if (out.span > available || out.packedSize > available - out.span) {
      throw ArchiveDamaged(archive, FaultText(HeaderFault::Truncated));
    }
    return true;
  }
}

std::vector<IndexedMember> WalkHeaders(int fd, uint64_t size, const std::string& archive) {
  std::vector<IndexedMember> members;
  VisitHeaders(fd, size, archive, [&](IndexedMember&& m) { members.push_back(std::move(m)); });
  return members;
}

void VisitHeaders(int fd, uint64_t size, const std::string& archive, const std::function<void(IndexedMember&&)>& each) {
  // A lone end mark is an archive without members; nothing at all is not an archive.
  if (size == 0) throw ArchiveDamaged(archive, FaultText(HeaderFault::NotLzh));
  std::vector<uint8_t> buffer;
  NameDecoder names;
  uint64_t position = 0;
  while (position < size) {
    IndexedMember m;
    if (!ReadHeaderAt(fd, size, position, buffer, m.header, archive)) break;
    m.position = position;
    m.regular = Regular(m.header);
    if (m.regular) m.name = names.Decode(m.header);
    position += m.header.span + m.header.packedSize;
    each(std::move(m));
  }
}

}  // namespace zr::lzh
