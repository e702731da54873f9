#include "suite/local/RunLocks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <mutex>
#include <sstream>
#include <system_error>

#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"

namespace zr::suite {
namespace {

struct HeldLock {
  std::filesystem::path file;
  int fd;
  pid_t owner;
  dev_t device;
  ino_t inode;
};

std::mutex locksMutex;
std::vector<HeldLock> heldLocks;
// Every lock this process asked for, in order; the last one is what
// IsStartAllowed asks about when its caller registered elsewhere.
std::vector<std::filesystem::path> requested;
pid_t requestedBy = 0;

// Letters, digits and a few signs stand for themselves; a leading "." would
// hide the file.
bool KeptInFileName(unsigned char c, std::size_t at) {
  const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || c == '.' || c == '(' || c == ')';
  return safe && !(at == 0 && c == '.');
}

struct flock WholeFile(short type) {
  struct flock region {};
  region.l_type = type;
  region.l_whence = SEEK_SET;
  region.l_start = 0;
  region.l_len = 0;
  return region;
}

// After fork() the child sees the parent's table: those locks belong to the
// parent, and the child's copies of the descriptors must not keep them alive.
void ForgetInheritedLocks() {
  const pid_t self = getpid();
  std::erase_if(heldLocks, [self](const HeldLock& held) {
    if (held.owner == self) return false;
    close(held.fd);
    return true;
  });
}

bool SameFile(const struct stat& info, dev_t device, ino_t inode) {
  return info.st_dev == device && info.st_ino == inode;
}

// Whether the kernel's lock table lists a flock(2) lock on a file with this
// inode number (or cannot be read). The device is not compared: the table
// names it as the file system sees it, which is not always what stat says.
bool FlockListed(ino_t inode) {
  std::ifstream table("/proc/locks");
  if (!table) return true;
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string id, kind, advisory, mode, pid, place;
    if (!(fields >> id >> kind) || kind != "FLOCK") continue;  // "->" marks a waiter, not a holder
    if (!(fields >> advisory >> mode >> pid >> place)) continue;
    const auto colon = place.rfind(':');
    if (colon != std::string::npos && place.substr(colon + 1) == std::to_string(inode)) return true;
  }
  return false;
}

// A flock(2) lock cannot be tested for without taking one, and taking even
// a shared one for a moment could make a program that starts at that instant
// fail; so the probe is made only when the lock table names the file.
bool FlockHeld(int fd, const std::filesystem::path& lockFile) {
  struct stat info {};
  if (fstat(fd, &info) != 0) throw rt::ErrorFromErrno(errno, lockFile.string());
  if (!FlockListed(info.st_ino)) return false;
  if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
    flock(fd, LOCK_UN);
    return false;
  }
  if (errno == EWOULDBLOCK) return true;
  throw rt::ErrorFromErrno(errno, lockFile.string());
}

}  // namespace

std::string RunLockFileName(std::string_view programId) {
  return rt::PercentEncode(programId, KeptInFileName) + ".lock";
}

std::optional<std::string> ProgramIdFromRunLockFileName(std::string_view fileName) {
  constexpr std::string_view kSuffix = ".lock";
  if (!fileName.ends_with(kSuffix) || fileName.size() == kSuffix.size()) return std::nullopt;
  fileName.remove_suffix(kSuffix.size());
  return rt::PercentDecode(fileName);
}

bool AcquireRunLock(const std::filesystem::path& lockFile) {
  std::lock_guard lock(locksMutex);
  ForgetInheritedLocks();
  if (requestedBy != getpid()) {
    requested.clear();
    requestedBy = getpid();
  }
  std::erase(requested, lockFile);
  requested.push_back(lockFile);

  for (auto it = heldLocks.begin(); it != heldLocks.end(); ++it) {
    if (it->file != lockFile) continue;
    struct stat now {};
    if (stat(lockFile.c_str(), &now) == 0 && SameFile(now, it->device, it->inode)) return true;
    // The file was removed or replaced under us: the lock guards nothing now.
    close(it->fd);
    heldLocks.erase(it);
    break;
  }

  if (const int e = rt::MakeFolders(lockFile.parent_path().string()); e != 0) {
    throw rt::ErrorFromErrno(e, lockFile.parent_path().string());
  }

  // Another program may remove and re-create the file between our open and
  // our lock; only a lock on the file that is at the path counts.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = rt::Ops().Open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw rt::ErrorFromErrno(errno, lockFile.string());
    struct flock region = WholeFile(F_WRLCK);
    if (fcntl(fd, F_OFD_SETLK, &region) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      rt::Ops().Close(fd);
      if (e == EAGAIN || e == EACCES || e == EWOULDBLOCK) return false;
      throw rt::ErrorFromErrno(e, lockFile.string());
    }
    struct stat opened {};
    struct stat atPath {};
    if (fstat(fd, &opened) != 0) {
      const int e = errno;
      rt::Ops().Close(fd);
      throw rt::ErrorFromErrno(e, lockFile.string());
    }
    if (stat(lockFile.c_str(), &atPath) == 0 && SameFile(atPath, opened.st_dev, opened.st_ino)) {
      heldLocks.push_back({lockFile, fd, getpid(), opened.st_dev, opened.st_ino});
      return true;
    }
    rt::Ops().Close(fd);
  }
  throw rt::RuntimeError(rt::err::PathFileAccess, "起動状態のファイルを確保できません。(" + lockFile.string() + ")");
}

bool IsRunLockHeld(const std::filesystem::path& lockFile) {
  const int fd = open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return false;
    throw rt::ErrorFromErrno(errno, lockFile.string());
  }
  // A test for a write lock reports any lock without taking one, so probing
  // never makes a program that starts at this moment fail.
  struct flock region = WholeFile(F_WRLCK);
  const int result = fcntl(fd, F_OFD_GETLK, &region);
  const int e = errno;
  if (result != 0) {
    close(fd);
    throw rt::ErrorFromErrno(e, lockFile.string());
  }
  try {
    const bool held = region.l_type != F_UNLCK || FlockHeld(fd, lockFile);
    close(fd);
    return held;
  } catch (...) {
    close(fd);
    throw;
  }
}

bool IsOwnRunLock(const std::filesystem::path& lockFile) {
  struct stat folder {};
  if (stat(lockFile.parent_path().c_str(), &folder) != 0) return false;
  std::lock_guard lock(locksMutex);
  if (requestedBy != getpid()) return false;
  for (const auto& own : requested) {
    if (own.filename() != lockFile.filename()) continue;
    struct stat ownFolder {};
    if (stat(own.parent_path().c_str(), &ownFolder) == 0 && SameFile(folder, ownFolder.st_dev, ownFolder.st_ino)) {
      return true;
    }
  }
  return false;
}

std::optional<std::filesystem::path> LastRequestedRunLock() {
  std::lock_guard lock(locksMutex);
  if (requestedBy != getpid() || requested.empty()) return std::nullopt;
  return requested.back();
}

}  // namespace zr::suite
