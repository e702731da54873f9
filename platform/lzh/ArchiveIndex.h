#pragma once

// The header walk of the last archive read, remembered so a second extraction from it goes straight to its members.
#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/lzh/HeaderWalk.h"

namespace zr::lzh {

// What the walk keeps of an ordinary member: where its header is and enough
// of it to tell whether that header still reads the same. Names are kept as
// keys, not as text (a walk of 10,000 members takes a third of a megabyte):
// whoever finds a member by its key decodes the name from the header there.
struct IndexEntry {
  uint64_t position = 0;
  uint64_t fingerprint = 0;  // of the header's sizes, data CRC and stored name; the same in every run
  uint64_t nameKey = 0;      // PathKey of the stored name
  bool named = false;        // false when the stored name cannot be decoded
};
// Small per member, so that tens of thousands of members cost little memory.
using MemberIndex = std::vector<IndexEntry>;

// A file as far as a walk is trusted to describe it: the same device, inode,
// size, modification and change times.
struct ArchiveIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedSeconds = 0;
  int64_t modifiedNanoseconds = 0;
  int64_t changedSeconds = 0;
  int64_t changedNanoseconds = 0;

  static ArchiveIdentity Of(const struct stat& st);
  bool operator==(const ArchiveIdentity&) const = default;
};

// What the index keeps of `member`, an ordinary member.
IndexEntry EntryFor(const IndexedMember& member);

// True when `header` is the one `entry` was made from, as far as one can tell.
bool Describes(const IndexEntry& entry, const MemberHeader& header);

// The members of the archive open at `fd` whose fstat is `st`: remembered
// when the same file (device, inode, size, modification and change times)
// was walked before, walked now otherwise. `fresh` says which.
// With `walkAfresh`, nothing remembered or kept is looked at.
std::shared_ptr<const MemberIndex> IndexOf(int fd, const struct stat& st, const std::string& archive, bool& fresh,
                                           bool walkAfresh = false);

// Remembers `index` as the walk of the archive whose fstat is `st`, made
// by a reader that walked it for reasons of its own, and keeps it on disk
// (StoreWalk) for the next run.
void RememberIndex(const struct stat& st, MemberIndex index);

// Drops what is remembered (the file proved different from its walk).
void ForgetIndex();

}  // namespace zr::lzh
