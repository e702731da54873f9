#pragma once

// Folders shown as FAT, exFAT or NTFS through FUSE, or a share, show them to the program.
#include <cstdint>

#include "platform/runtime/FileOps.h"

namespace zr::test {

// Passes every call on to `inner` and shows what those file systems show:
// every file and folder mode 0777 and owned by whoever mounted it (here
// somebody else), device and inode numbers that change with every mount
// (every instance is a new mount), no hard links, a FUSE file system type.
class ForeignFileSystem : public rt::FileOps {
 public:
  explicit ForeignFileSystem(rt::FileOps& inner);

  int Open(const char* path, int flags, mode_t mode) override;
  int OpenAt(int dirFd, const char* name, int flags, mode_t mode) override;
  int Close(int fd) override;
  int Fstat(int fd, struct stat* st) override;
  int FstatAt(int dirFd, const char* name, struct stat* st, int flags) override;
  int Fstatfs(int fd, struct statfs* st) override;
  ssize_t Read(int fd, void* buffer, std::size_t count) override;
  ssize_t Pread(int fd, void* buffer, std::size_t count, off_t offset) override;
  ssize_t Write(int fd, const void* buffer, std::size_t count) override;
  int Fchmod(int fd, mode_t mode) override;
  int Fchown(int fd, uid_t uid, gid_t gid) override;
  int Fsync(int fd) override;
  int MkdirAt(int dirFd, const char* name, mode_t mode) override;
  int LinkAt(int fromDir, const char* from, int toDir, const char* to) override;
  int RenameAt(int fromDir, const char* from, int toDir, const char* to) override;
  int UnlinkAt(int dirFd, const char* name, int flags) override;
  int Flock(int fd, int operation) override;

 private:
  void Show(struct stat* st) const;
  rt::FileOps& inner_;
  uint64_t mount_;
};

}  // namespace zr::test
