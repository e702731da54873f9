#pragma once

// The one seam every file-system call of the program goes through.
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/UniqueFd.h"

namespace zr::rt {

// Every call that reads or changes the files the program keeps goes through
// this interface, so tests can make any one of them fail, stop the process
// there, or record the whole sequence. The calls keep the system
// conventions: -1 and errno on failure.
class FileOps {
 public:
  virtual ~FileOps() = default;

  virtual int Open(const char* path, int flags, mode_t mode);
  virtual int OpenAt(int dirFd, const char* name, int flags, mode_t mode);
  virtual int Close(int fd);
  virtual int Fstat(int fd, struct stat* st);
  virtual int FstatAt(int dirFd, const char* name, struct stat* st, int flags);
  virtual int Fstatfs(int fd, struct statfs* st);
  virtual ssize_t Read(int fd, void* buffer, std::size_t count);
  virtual ssize_t Pread(int fd, void* buffer, std::size_t count, off_t offset);
  virtual ssize_t Write(int fd, const void* buffer, std::size_t count);
  virtual int Fchmod(int fd, mode_t mode);
  virtual int Fchown(int fd, uid_t uid, gid_t gid);
  virtual int Fsync(int fd);
  // Lets written bytes start on their way to the disk, so that the Fsync
  // that follows has less to wait for. Makes nothing durable; may do nothing.
  virtual void StartWriteback(int fd, off_t offset, off_t count);
  virtual int MkdirAt(int dirFd, const char* name, mode_t mode);
  virtual int LinkAt(int fromDir, const char* from, int toDir, const char* to);
  virtual int RenameAt(int fromDir, const char* from, int toDir, const char* to);
  virtual int UnlinkAt(int dirFd, const char* name, int flags);
  virtual int Flock(int fd, int operation);
};

// The operations in force (the plain system calls unless replaced).
FileOps& Ops();

// Replaces the operations for every later call, on any thread, and returns
// the previous ones; nullptr puts the system calls back. Meant for tests:
// install before the work starts, not during it.
FileOps* InstallFileOps(FileOps* ops);

// Owns a descriptor the operations opened and closes it through them.
UniqueFd OwnedFd(int fd);

// Writes all of `bytes`, going on after interruptions and short writes.
// False with errno set when it cannot (EIO for a write that wrote nothing).
bool WriteAll(int fd, std::string_view bytes);

// The names in the folder open at `dirFd`, without "." and "..", in no
// particular order; empty when it cannot be read.
std::vector<std::string> FolderNames(int dirFd);

// Creates `path` and the folders above it that are missing (mode 0777, the
// umask decides). 0, or the errno of the first that could not be made.
int MakeFolders(const std::string& path);

// Reads from the current offset until `count` bytes or the end, going on
// after interruptions. The number read, or -1 with errno set.
ssize_t ReadUpTo(int fd, void* buffer, std::size_t count);

}  // namespace zr::rt
