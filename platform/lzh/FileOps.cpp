#include "platform/lzh/FileOps.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <atomic>
#include <cstdio>

namespace zr::lzh {
namespace {

FileOps systemOps;
std::atomic<FileOps*> current{&systemOps};

}  // namespace

int FileOps::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int FileOps::OpenAt(int dirFd, const char* name, int flags, mode_t mode) { return ::openat(dirFd, name, flags, mode); }
int FileOps::Close(int fd) { return ::close(fd); }
int FileOps::Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int FileOps::FstatAt(int dirFd, const char* name, struct stat* st, int flags) {
  return ::fstatat(dirFd, name, st, flags);
}
ssize_t FileOps::Pread(int fd, void* buffer, std::size_t count, off_t offset) {
  return ::pread(fd, buffer, count, offset);
}
ssize_t FileOps::Write(int fd, const void* buffer, std::size_t count) { return ::write(fd, buffer, count); }
int FileOps::Fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int FileOps::Fchown(int fd, uid_t uid, gid_t gid) { return ::fchown(fd, uid, gid); }
int FileOps::Fsync(int fd) { return ::fsync(fd); }
int FileOps::MkdirAt(int dirFd, const char* name, mode_t mode) { return ::mkdirat(dirFd, name, mode); }
int FileOps::LinkAt(int fromDir, const char* from, int toDir, const char* to) {
  return ::linkat(fromDir, from, toDir, to, 0);
}
int FileOps::RenameAt(int fromDir, const char* from, int toDir, const char* to) {
  return ::renameat(fromDir, from, toDir, to);
}
int FileOps::UnlinkAt(int dirFd, const char* name, int flags) { return ::unlinkat(dirFd, name, flags); }
int FileOps::Flock(int fd, int operation) { return ::flock(fd, operation); }

FileOps& Ops() { return *current.load(std::memory_order_acquire); }

FileOps* InstallFileOps(FileOps* ops) {
  FileOps* previous = current.exchange(ops != nullptr ? ops : &systemOps, std::memory_order_acq_rel);
  return previous == &systemOps ? nullptr : previous;
}

rt::UniqueFd OwnedFd(int fd) {
  return rt::UniqueFd(fd, [](int f) { return Ops().Close(f); });
}

}  // namespace zr::lzh
