#include "tests/support/ScriptedOps.h"

#include <cerrno>

namespace zr::test {

const char* OpName(Op op) {
  switch (op) {
    case Op::Open:
      return "open";
    case Op::OpenAt:
      return "openat";
    case Op::Close:
      return "close";
    case Op::Fstat:
      return "fstat";
    case Op::FstatAt:
      return "fstatat";
    case Op::Read:
      return "read";
    case Op::Pread:
      return "pread";
    case Op::Fstatfs:
      return "fstatfs";
    case Op::Write:
      return "write";
    case Op::Fchmod:
      return "fchmod";
    case Op::Fchown:
      return "fchown";
    case Op::Fsync:
      return "fsync";
    case Op::MkdirAt:
      return "mkdirat";
    case Op::LinkAt:
      return "linkat";
    case Op::RenameAt:
      return "renameat";
    case Op::UnlinkAt:
      return "unlinkat";
    case Op::Flock:
      return "flock";
  }
  return "?";
}

bool ScriptedOps::Hit(Op op, const char* name, int dirFd) {
  std::lock_guard lock(mutex_);
  const int index = counts[op]++;
  const int position = total++;
  if (before) before(op, index, name, dirFd);
  if ((op == failOp_ && index == failIndex_) || failPositions_.count(position) != 0) {
    failed = true;
    errno = failErrno_;
    return true;
  }
  return false;
}

int ScriptedOps::Open(const char* path, int flags, mode_t mode) {
  return Hit(Op::Open, path) ? -1 : FileOps::Open(path, flags, mode);
}
int ScriptedOps::OpenAt(int dirFd, const char* name, int flags, mode_t mode) {
  return Hit(Op::OpenAt, name, dirFd) ? -1 : FileOps::OpenAt(dirFd, name, flags, mode);
}
int ScriptedOps::Close(int fd) {
  // The descriptor is released either way, as close(2) does.
  const bool fail = Hit(Op::Close);
  const int saved = errno;
  const int r = FileOps::Close(fd);
  if (fail) {
    errno = saved;
    return -1;
  }
  return r;
}
int ScriptedOps::Fstat(int fd, struct stat* st) { return Hit(Op::Fstat) ? -1 : FileOps::Fstat(fd, st); }
int ScriptedOps::FstatAt(int dirFd, const char* name, struct stat* st, int flags) {
  return Hit(Op::FstatAt, name, dirFd) ? -1 : FileOps::FstatAt(dirFd, name, st, flags);
}
ssize_t ScriptedOps::Read(int fd, void* buffer, std::size_t count) {
  return Hit(Op::Read) ? -1 : FileOps::Read(fd, buffer, count);
}
int ScriptedOps::Fstatfs(int fd, struct statfs* st) { return Hit(Op::Fstatfs) ? -1 : FileOps::Fstatfs(fd, st); }
ssize_t ScriptedOps::Pread(int fd, void* buffer, std::size_t count, off_t offset) {
  return Hit(Op::Pread) ? -1 : FileOps::Pread(fd, buffer, count, offset);
}
ssize_t ScriptedOps::Write(int fd, const void* buffer, std::size_t count) {
  return Hit(Op::Write) ? -1 : FileOps::Write(fd, buffer, count);
}
int ScriptedOps::Fchmod(int fd, mode_t mode) { return Hit(Op::Fchmod) ? -1 : FileOps::Fchmod(fd, mode); }
int ScriptedOps::Fchown(int fd, uid_t uid, gid_t gid) { return Hit(Op::Fchown) ? -1 : FileOps::Fchown(fd, uid, gid); }
int ScriptedOps::Fsync(int fd) {
  if (Hit(Op::Fsync)) return -1;
  return syncForReal ? FileOps::Fsync(fd) : 0;
}
void ScriptedOps::StartWriteback(int fd, off_t offset, off_t count) {
  if (syncForReal) FileOps::StartWriteback(fd, offset, count);
}
int ScriptedOps::MkdirAt(int dirFd, const char* name, mode_t mode) {
  return Hit(Op::MkdirAt, name, dirFd) ? -1 : FileOps::MkdirAt(dirFd, name, mode);
}
int ScriptedOps::LinkAt(int fromDir, const char* from, int toDir, const char* to) {
  if (Hit(Op::LinkAt, to, toDir)) return -1;
  if (noHardLinks) {
    errno = EPERM;
    return -1;
  }
  return FileOps::LinkAt(fromDir, from, toDir, to);
}
int ScriptedOps::RenameAt(int fromDir, const char* from, int toDir, const char* to) {
  return Hit(Op::RenameAt, to, toDir) ? -1 : FileOps::RenameAt(fromDir, from, toDir, to);
}
int ScriptedOps::UnlinkAt(int dirFd, const char* name, int flags) {
  return Hit(Op::UnlinkAt, name, dirFd) ? -1 : FileOps::UnlinkAt(dirFd, name, flags);
}

int ScriptedOps::Flock(int fd, int operation) { return Hit(Op::Flock) ? -1 : FileOps::Flock(fd, operation); }

}  // namespace zr::test
