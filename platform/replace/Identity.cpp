// What tells one file apart from another that took its name, and what a folder's file system keeps.
#include "platform/replace/Identity.h"

#include <linux/magic.h>
#include <sys/statfs.h>

#include <cinttypes>
#include <cstdio>

#include "platform/runtime/FileOps.h"

namespace zr::replace {
namespace {

// Not every header of this platform names these.
constexpr int64_t kExfatMagic = 0x2011BAB0;
constexpr int64_t kNtfsMagic = 0x5346544E;
constexpr int64_t kCifsMagic = 0xFF534D42;
constexpr int64_t kSmb2Magic = 0xFE534D42;
constexpr int64_t kFuseMagic = 0x65735546;

}  // namespace

FileIdentity FileIdentity::Of(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<int64_t>(st.st_size),
          static_cast<int64_t>(st.st_mtim.tv_sec), static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

std::string FileIdentity::Text() const {
  char text[128];
  std::snprintf(text, sizeof text, "%" PRIu64 ":%" PRIu64 ":%" PRId64 ":%" PRId64 ".%09" PRId64, device, inode, size,
                mtimeSeconds, mtimeNanoseconds);
  return text;
}

std::optional<FileIdentity> FileIdentity::Parse(const std::string& text) {
  FileIdentity id;
  int used = 0;
  if (std::sscanf(text.c_str(), "%" SCNu64 ":%" SCNu64 ":%" SCNd64 ":%" SCNd64 ".%" SCNd64 "%n", &id.device, &id.inode,
                  &id.size, &id.mtimeSeconds, &id.mtimeNanoseconds, &used) != 5 ||
      static_cast<std::size_t>(used) != text.size() || id.size < 0 || id.mtimeNanoseconds < 0 ||
      id.mtimeNanoseconds > 999999999) {
    return std::nullopt;
  }
  return id;
}

FolderTraits FolderTraits::Of(int folderFd) {
  FolderTraits traits;
  struct statfs fs {};
  if (rt::Ops().Fstatfs(folderFd, &fs) != 0) return traits;
  switch (static_cast<int64_t>(fs.f_type)) {
    case MSDOS_SUPER_MAGIC:
    case kExfatMagic:
    case kNtfsMagic:
    case kCifsMagic:
    case kSmb2Magic:
    case SMB_SUPER_MAGIC:
    case kFuseMagic:
      traits.stableInodes = false;
      break;
    default:
      break;
  }
  return traits;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b, const FolderTraits& traits) {
  if (a.size != b.size || a.mtimeSeconds != b.mtimeSeconds || a.mtimeNanoseconds != b.mtimeNanoseconds) return false;
  return !traits.stableInodes || (a.device == b.device && a.inode == b.inode);
}

}  // namespace zr::replace
