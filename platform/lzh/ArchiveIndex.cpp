// The header walk of the last archive read, remembered so a second extraction from it goes straight to its members.
#include "platform/lzh/ArchiveIndex.h"

#include <functional>
#include <mutex>

namespace zr::lzh {
namespace {

struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  static Identity Of(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim}; }
  bool operator==(const Identity& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

std::mutex mutex;
// Held through a walk, so that an extraction begun ahead and the check's
// own, started together, walk the archive once between them.
std::mutex walking;
Identity rememberedFor;
std::shared_ptr<const MemberIndex> remembered;

uint64_t Fingerprint(const MemberHeader& header) {
  uint64_t h = std::hash<std::string>{}(header.nameBytes);
  for (const uint64_t v : {uint64_t{std::hash<std::string>{}(header.dirBytes)}, uint64_t{header.span},
                           uint64_t{header.packedSize}, uint64_t{header.dataCrc}}) {
    h = (h ^ v) * 0x100000001B3ULL;
  }
  return h;
}

MemberIndex Walk(int fd, uint64_t size, const std::string& archive) {
  MemberIndex index;
  VisitHeaders(fd, size, archive, [&](IndexedMember&& m) {
    if (m.regular && m.name) index.push_back(EntryFor(m));
  });
  return index;
}

}  // namespace

IndexEntry EntryFor(const IndexedMember& member) {
  return {member.position, Fingerprint(member.header), member.name.value_or(PathParts{})};
}

bool Describes(const IndexEntry& entry, const MemberHeader& header) { return Fingerprint(header) == entry.fingerprint; }

std::shared_ptr<const MemberIndex> IndexOf(int fd, const struct stat& st, const std::string& archive, bool& fresh) {
  const Identity identity = Identity::Of(st);
  std::lock_guard oneWalk(walking);
  {
    std::lock_guard lock(mutex);
    if (remembered && rememberedFor == identity) {
      fresh = false;
      return remembered;
    }
  }
  auto index = std::make_shared<const MemberIndex>(Walk(fd, static_cast<uint64_t>(st.st_size), archive));
  fresh = true;
  std::lock_guard lock(mutex);
  rememberedFor = identity;
  remembered = index;
  return index;
}

void RememberIndex(const struct stat& st, MemberIndex index) {
  auto remembering = std::make_shared<const MemberIndex>(std::move(index));
  std::lock_guard lock(mutex);
  rememberedFor = Identity::Of(st);
  remembered = std::move(remembering);
}

void ForgetIndex() {
  std::lock_guard lock(mutex);
  remembered.reset();
}

}  // namespace zr::lzh
