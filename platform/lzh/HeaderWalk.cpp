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

// A read costs a round trip on a share (about as long as 11 KB take to
// stream): after a member smaller than that, one larger read is likely to
// bring the next few headers at once.
constexpr uint64_t kSmallMember = 11 * 1024;
constexpr std::size_t kBlockRead = 64 * 1024;

// The headers of a walk, read through one buffer that keeps what the last
// read brought beyond the header it was for.
class HeaderWindow {
 public:
  HeaderWindow(int fd, uint64_t size, const std::string& archive) : fd_(fd), size_(size), archive_(archive) {}

  // As ReadHeaderAt, asking for at least `firstRead` bytes when the header
  // is not already at hand; `raw` receives the header's bytes.
  bool Header(uint64_t position, std::size_t firstRead, MemberHeader& out, std::vector<uint8_t>& raw) {
    if (position >= size_) throw ArchiveDamaged(archive_, FaultText(HeaderFault::Truncated));
    const uint64_t available = size_ - position;
    std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(kFirstHeaderRead, available));
    for (;;) {
      if (!Holds(position, want)) Fill(position, std::max(want, std::min<std::size_t>(firstRead, available)));
      const std::size_t got = static_cast<std::size_t>(std::min<uint64_t>(start_ + filled_ - position, available));
      const bool toEnd = got == available || (shortRead_ && got < want);
      const uint8_t* at = buffer_.data() + (position - start_);
      const HeaderParse parse = ParseHeader({at, got}, toEnd, out);
      switch (parse.status) {
        case HeaderParse::NeedMore:
          if (toEnd) throw ArchiveDamaged(archive_, FaultText(HeaderFault::Truncated));
          want = static_cast<std::size_t>(std::min<uint64_t>(std::max(parse.needed, got + 1), available));
          continue;
        case HeaderParse::EndOfArchive:
          return false;
        case HeaderParse::Fault:
          throw ArchiveDamaged(archive_, FaultText(parse.fault));
        case HeaderParse::Complete:
          break;
      }
      // Both bounds in unsigned arithmetic that cannot wrap: span <= got <= available.
      if (out.span > available || out.packedSize > available - out.span) {
        throw ArchiveDamaged(archive_, FaultText(HeaderFault::Truncated));
      }
      raw.assign(at, at + out.span);
      return true;
    }
  }

 private:
  bool Holds(uint64_t position, std::size_t count) const {
    return position >= start_ && position - start_ + count <= filled_;
  }
  void Fill(uint64_t position, std::size_t count) {
    filled_ = 0;
    start_ = position;
    filled_ = ReadAt(fd_, buffer_, count, position, archive_);
    shortRead_ = filled_ < count;
  }

  int fd_;
  uint64_t size_;
  const std::string& archive_;
  std::vector<uint8_t> buffer_;
  uint64_t start_ = 0;
  std::size_t filled_ = 0;
  bool shortRead_ = false;
};

bool Regular(const MemberHeader& h) {
  if (h.directory) return false;
  // Without a Unix mode a member is a file; with one, the mode says.
  return !h.unixMode || S_ISREG(*h.unixMode);
}

}  // namespace

bool ReadHeaderAt(int fd, uint64_t size, uint64_t position, std::vector<uint8_t>& buffer, MemberHeader& out,
                  const std::string& archive) {
  HeaderWindow window(fd, size, archive);
  return window.Header(position, kFirstHeaderRead, out, buffer);
}

std::vector<IndexedMember> WalkHeaders(int fd, uint64_t size, const std::string& archive) {
  std::vector<IndexedMember> members;
  VisitHeaders(fd, size, archive, [&](IndexedMember&& m) { members.push_back(std::move(m)); });
  return members;
}

void VisitHeaders(int fd, uint64_t size, const std::string& archive, const std::function<void(IndexedMember&&)>& each) {
  // A lone end mark is an archive without members; nothing at all is not an archive.
  if (size == 0) throw ArchiveDamaged(archive, FaultText(HeaderFault::NotLzh));
  HeaderWindow window(fd, size, archive);
  NameDecoder names;
  uint64_t position = 0;
  uint64_t previous = kSmallMember;  // bytes the last member took
  while (position < size) {
    IndexedMember m;
    if (!window.Header(position, previous < kSmallMember ? kBlockRead : kFirstHeaderRead, m.header, m.raw)) break;
    m.position = position;
    m.regular = Regular(m.header);
    if (m.regular) m.name = names.Decode(m.header);
    previous = m.header.span + m.header.packedSize;
    position += previous;
    each(std::move(m));
  }
}

}  // namespace zr::lzh
