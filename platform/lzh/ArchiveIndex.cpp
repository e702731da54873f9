// The header walk of the last archive read, remembered so a second extraction from it goes straight to its members.
#include "platform/lzh/ArchiveIndex.h"

#include <mutex>
#include <string_view>

#include "platform/lzh/RememberedWalks.h"

namespace zr::lzh {
namespace {

std::mutex mutex;
// Held through a walk, so that an extraction begun ahead and the check's
// own, started together, walk the archive once between them.
std::mutex walking;
ArchiveIdentity rememberedFor;
std::shared_ptr<const MemberIndex> remembered;

// FNV-1a: walks kept on disk are compared by later runs, so the value must
// not depend on the build.
constexpr uint64_t kFnvPrime = 0x100000001B3ULL;

uint64_t Mix(uint64_t h, std::string_view bytes) {
  for (const char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * kFnvPrime;
  return (h ^ 0xFF) * kFnvPrime;  // ends the field, so moving bytes between fields changes the value
}

uint64_t Fingerprint(const MemberHeader& header) {
  uint64_t h = Mix(0xCBF29CE484222325ULL, header.nameBytes);
  h = Mix(h, header.dirBytes);
  for (const uint64_t v : {uint64_t{header.span}, uint64_t{header.packedSize}, uint64_t{header.dataCrc}}) {
    for (int shift = 0; shift < 64; shift += 8) h = (h ^ ((v >> shift) & 0xFF)) * kFnvPrime;
  }
  return h;
}

MemberIndex Walk(int fd, uint64_t size, const std::string& archive) {
  MemberIndex index;
  VisitHeaders(fd, size, archive, [&](IndexedMember&& m) {
    if (m.regular) index.push_back(EntryFor(m));
  });
  return index;
}

}  // namespace

ArchiveIdentity ArchiveIdentity::Of(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev),
          static_cast<uint64_t>(st.st_ino),
          static_cast<uint64_t>(st.st_size),
          st.st_mtim.tv_sec,
          st.st_mtim.tv_nsec,
          st.st_ctim.tv_sec,
          st.st_ctim.tv_nsec};
}

IndexEntry EntryFor(const IndexedMember& member) {
  return {member.position, Fingerprint(member.header), member.name ? PathKey(*member.name) : 0,
          member.name.has_value()};
}

bool Describes(const IndexEntry& entry, const MemberHeader& header) { return Fingerprint(header) == entry.fingerprint; }

std::shared_ptr<const MemberIndex> IndexOf(int fd, const struct stat& st, const std::string& archive, bool& fresh,
                                           bool walkAfresh) {
  const ArchiveIdentity identity = ArchiveIdentity::Of(st);
  std::lock_guard oneWalk(walking);
  if (!walkAfresh) {
    std::lock_guard lock(mutex);
    if (remembered && rememberedFor == identity) {
      fresh = false;
      return remembered;
    }
  }
  std::shared_ptr<const MemberIndex> index = walkAfresh ? nullptr : LoadWalk(identity);
  fresh = index == nullptr;
  if (fresh) {
    index = std::make_shared<const MemberIndex>(Walk(fd, static_cast<uint64_t>(st.st_size), archive));
    StoreWalk(identity, *index);
  }
  std::lock_guard lock(mutex);
  rememberedFor = identity;
  remembered = index;
  return index;
}

void RememberIndex(const struct stat& st, MemberIndex index) {
  const ArchiveIdentity identity = ArchiveIdentity::Of(st);
  StoreWalk(identity, index);
  auto remembering = std::make_shared<const MemberIndex>(std::move(index));
  std::lock_guard lock(mutex);
  rememberedFor = identity;
  remembered = std::move(remembering);
}

void ForgetIndex() {
  std::lock_guard lock(mutex);
  // Whether it was walked here or kept from an earlier run, it is wrong
  // now; the next look walks afresh and keeps that.
  if (remembered) DropWalk(rememberedFor);
  remembered.reset();
}

}  // namespace zr::lzh
