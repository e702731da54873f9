#pragma once

// What tells one file apart from another that took its name, and what a folder's file system keeps.
#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

namespace zr::replace {

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t mtimeSeconds = 0;
  int64_t mtimeNanoseconds = 0;

  static FileIdentity Of(const struct stat& st);
  std::string Text() const;
  static std::optional<FileIdentity> Parse(const std::string& text);
};

// What the file system of an open folder keeps of the usual file attributes.
struct FolderTraits {
  // Inode numbers that survive a remount: FAT, exFAT, NTFS and SMB mounts,
  // and FUSE ones, may number files anew each time.
  bool stableInodes = true;

  static FolderTraits Of(int folderFd);
};

// The same file, as far as the folder's file system can tell.
bool SameFile(const FileIdentity& a, const FileIdentity& b, const FolderTraits& traits);

}  // namespace zr::replace
