// The header gate: hands libarchive one member, its header checked by our own reading first.
#include "platform/lzh/HeaderGate.h"

#include <algorithm>
#include <cerrno>

#include "platform/lzh/ErrorTexts.h"
#include "platform/lzh/LhDecoder.h"
#include "platform/runtime/FileOps.h"

namespace zr::lzh {
namespace {

// Our decoder reads in the same blocks: where libarchive's reads stop decides where it finds a stream's end.
constexpr std::size_t kReadBlock = LhDecoder::kInputBlock;

bool SameMember(const MemberHeader& a, const MemberHeader& b) {
  return a.span == b.span && a.packedSize == b.packedSize && a.originalSize == b.originalSize &&
         a.dataCrc == b.dataCrc && a.method == b.method && a.nameBytes == b.nameBytes && a.dirBytes == b.dirBytes;
}

}  // namespace

la_ssize_t MemberSource::Read(struct archive* a, void* self, const void** buffer) {
  return static_cast<MemberSource*>(self)->DoRead(a, buffer);
}

la_int64_t MemberSource::Skip(struct archive*, void* self, la_int64_t request) {
  return static_cast<MemberSource*>(self)->DoSkip(request);
}

la_ssize_t MemberSource::Fail(struct archive* a, rt::RuntimeError error) {
  archive_set_error(a, EINVAL, "%s", error.description().c_str());
  failure_ = std::move(error);
  return -1;
}

la_ssize_t MemberSource::DoRead(struct archive* a, const void** buffer) {
  if (failure_) return Fail(a, *failure_);
  if (!headerGiven_) {
    headerGiven_ = true;
    MemberHeader h;
    if (!member_.raw.empty()) {
      // Read and checked by whoever found the member, moments ago.
      header_ = member_.raw;
      h = member_.header;
    } else {
      try {
        if (!ReadHeaderAt(fd_, fileSize_, member_.position, header_, h, archive_)) {
          return Fail(a, ArchiveDamaged(archive_, FaultText(HeaderFault::NotLzh)));
        }
      } catch (const rt::RuntimeError& e) {
        return Fail(a, e);
      }
    }
    // The file changed since the walk: what we checked is not what we would decode.
    if (!SameMember(h, member_.header)) return Fail(a, ArchiveDamaged(archive_, FaultText(HeaderFault::BadLayout)));
    NeutraliseNameExtensions({header_.data(), h.span}, h);
    offset_ = member_.position + h.span;
    end_ = offset_ + h.packedSize;
    *buffer = header_.data();
    return static_cast<la_ssize_t>(h.span);
  }
  const std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(kReadBlock, end_ - offset_));
  if (count == 0) {
    // The decoders look one byte past a member's data before they finish
    // its last block; an end mark there is what a whole archive would show.
    static const uint8_t kEndMark = 0;
    if (endMarkGiven_) return 0;
    endMarkGiven_ = true;
    *buffer = &kEndMark;
    return 1;
  }
  // Never more than the member holds: thousands of small members each get a reader of their own.
  if (block_.empty()) block_.resize(static_cast<std::size_t>(std::min<uint64_t>(kReadBlock, end_ - offset_)));
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = rt::Ops().Pread(fd_, block_.data() + got, count - got, static_cast<off_t>(offset_ + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(a, ArchiveReadError(errno, archive_));
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  offset_ += got;
  *buffer = block_.data();
  return static_cast<la_ssize_t>(got);
}

la_int64_t MemberSource::DoSkip(la_int64_t request) {
  if (failure_ || request <= 0 || !headerGiven_) return 0;
  const uint64_t step = std::min<uint64_t>(static_cast<uint64_t>(request), end_ - offset_);
  offset_ += step;
  return static_cast<la_int64_t>(step);
}

}  // namespace zr::lzh
