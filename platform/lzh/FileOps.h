#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <cstddef>

#include "platform/runtime/UniqueFd.h"

namespace zr::lzh {

// Every file-system call the extractor makes goes through this interface, so
// tests can make any one of them fail (or stop the process) at will. The
// calls keep the system conventions: -1 and errno on failure.
class FileOps {
 public:
  virtual ~FileOps() = default;

  virtual int Open(const char* path, int flags, mode_t mode);
  virtual int OpenAt(int dirFd, const char* name, int flags, mode_t mode);
  virtual int Close(int fd);
  virtual int Fstat(int fd, struct stat* st);
  virtual int FstatAt(int dirFd, const char* name, struct stat* st, int flags);
  virtual ssize_t Pread(int fd, void* buffer, std::size_t count, off_t offset);
  virtual ssize_t Write(int fd, const void* buffer, std::size_t count);
  virtual int Fchmod(int fd, mode_t mode);
  virtual int Fchown(int fd, uid_t uid, gid_t gid);
  virtual int Fsync(int fd);
  virtual int MkdirAt(int dirFd, const char* name, mode_t mode);
  virtual int LinkAt(int fromDir, const char* from, int toDir, const char* to);
  virtual int RenameAt(int fromDir, const char* from, int toDir, const char* to);
  virtual int UnlinkAt(int dirFd, const char* name, int flags);
  virtual int Flock(int fd, int operation);
};

// The operations in force (the plain system calls unless replaced).
FileOps& Ops();

// Replaces the operations for every later extraction, on any thread, and
// returns the previous ones; nullptr puts the system calls back. Meant for
// tests: install before an extraction starts, not during one.
FileOps* InstallFileOps(FileOps* ops);

// Owns a descriptor the operations opened and closes it through them.
rt::UniqueFd OwnedFd(int fd);

}  // namespace zr::lzh
