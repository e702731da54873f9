#include "platform/runtime/FileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace zr::rt {
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
int FileOps::Fstatfs(int fd, struct statfs* st) { return ::fstatfs(fd, st); }
ssize_t FileOps::Read(int fd, void* buffer, std::size_t count) { return ::read(fd, buffer, count); }
ssize_t FileOps::Pread(int fd, void* buffer, std::size_t count, off_t offset) {
  return ::pread(fd, buffer, count, offset);
}
ssize_t FileOps::Write(int fd, const void* buffer, std::size_t count) { return ::write(fd, buffer, count); }
int FileOps::Fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int FileOps::Fchown(int fd, uid_t uid, gid_t gid) { return ::fchown(fd, uid, gid); }
int FileOps::Fsync(int fd) { return ::fsync(fd); }
void FileOps::StartWriteback(int fd, off_t offset, off_t count) {
  (void)::sync_file_range(fd, offset, count, SYNC_FILE_RANGE_WRITE);
}
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

UniqueFd OwnedFd(int fd) {
  return UniqueFd(fd, [](int f) { return Ops().Close(f); });
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = Ops().Write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A write that neither fails nor progresses would spin forever.
      if (n == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::vector<std::string> FolderNames(int dirFd) {
  std::vector<std::string> names;
  // A reader of its own, so the caller's descriptor keeps its offset and stays open.
  const int copy = fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return names;
  DIR* dir = fdopendir(copy);
  if (dir == nullptr) {
    close(copy);
    return names;
  }
  rewinddir(dir);
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  closedir(dir);
  return names;
}

int MakeFolders(const std::string& path) {
  struct stat st {};
  if (path.empty() || Ops().FstatAt(AT_FDCWD, path.c_str(), &st, 0) == 0) {
    return path.empty() || S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  }
  if (errno != ENOENT) return errno;
  std::string parent = path;
  while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
  const auto slash = parent.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    if (const int e = MakeFolders(parent.substr(0, slash)); e != 0) return e;
  }
  if (Ops().MkdirAt(AT_FDCWD, path.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  return 0;
}

ssize_t ReadUpTo(int fd, void* buffer, std::size_t count) {
  std::size_t got = 0;
  auto* bytes = static_cast<char*>(buffer);
  while (got < count) {
    const ssize_t n = Ops().Read(fd, bytes + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

}  // namespace zr::rt
