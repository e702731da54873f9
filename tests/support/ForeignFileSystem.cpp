// Folders shown as FAT, exFAT or NTFS through FUSE, or a share, show them to the program.
#include "tests/support/ForeignFileSystem.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

namespace zr::test {
namespace {

constexpr long kFuseMagic = 0x65735546;

uint64_t NewMount() {
  uint64_t mount = 0;
  while (mount == 0) {
    if (getrandom(&mount, sizeof mount, 0) != static_cast<ssize_t>(sizeof mount)) mount = 0x9e3779b97f4a7c15ull;
  }
  return mount;
}

}  // namespace

ForeignFileSystem::ForeignFileSystem(rt::FileOps& inner) : inner_(inner), mount_(NewMount()) {}

void ForeignFileSystem::Show(struct stat* st) const {
  st->st_mode = (st->st_mode & S_IFMT) | 0777;
  st->st_uid = geteuid() + 1;
  st->st_gid = getegid() + 1;
  st->st_ino ^= mount_;
  st->st_dev ^= mount_ >> 32;
}

int ForeignFileSystem::Fstat(int fd, struct stat* st) {
  const int r = inner_.Fstat(fd, st);
  if (r == 0) Show(st);
  return r;
}
int ForeignFileSystem::FstatAt(int dirFd, const char* name, struct stat* st, int flags) {
  const int r = inner_.FstatAt(dirFd, name, st, flags);
  if (r == 0) Show(st);
  return r;
}
int ForeignFileSystem::Fstatfs(int fd, struct statfs* st) {
  const int r = inner_.Fstatfs(fd, st);
  if (r == 0) st->f_type = kFuseMagic;
  return r;
}
int ForeignFileSystem::LinkAt(int, const char*, int, const char*) {
  errno = EPERM;
  return -1;
}

int ForeignFileSystem::Open(const char* path, int flags, mode_t mode) { return inner_.Open(path, flags, mode); }
int ForeignFileSystem::OpenAt(int dirFd, const char* name, int flags, mode_t mode) {
  return inner_.OpenAt(dirFd, name, flags, mode);
}
int ForeignFileSystem::Close(int fd) { return inner_.Close(fd); }
ssize_t ForeignFileSystem::Read(int fd, void* buffer, std::size_t count) { return inner_.Read(fd, buffer, count); }
ssize_t ForeignFileSystem::Pread(int fd, void* buffer, std::size_t count, off_t offset) {
  return inner_.Pread(fd, buffer, count, offset);
}
ssize_t ForeignFileSystem::Write(int fd, const void* buffer, std::size_t count) {
  return inner_.Write(fd, buffer, count);
}
int ForeignFileSystem::Fchmod(int fd, mode_t mode) { return inner_.Fchmod(fd, mode); }
int ForeignFileSystem::Fchown(int fd, uid_t uid, gid_t gid) { return inner_.Fchown(fd, uid, gid); }
int ForeignFileSystem::Fsync(int fd) { return inner_.Fsync(fd); }
int ForeignFileSystem::MkdirAt(int dirFd, const char* name, mode_t mode) { return inner_.MkdirAt(dirFd, name, mode); }
int ForeignFileSystem::RenameAt(int fromDir, const char* from, int toDir, const char* to) {
  return inner_.RenameAt(fromDir, from, toDir, to);
}
int ForeignFileSystem::UnlinkAt(int dirFd, const char* name, int flags) { return inner_.UnlinkAt(dirFd, name, flags); }
int ForeignFileSystem::Flock(int fd, int operation) { return inner_.Flock(fd, operation); }

}  // namespace zr::test
