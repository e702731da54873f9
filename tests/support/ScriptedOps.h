#pragma once

// File operations for tests: counted, failed or stopped at chosen calls.
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include "platform/runtime/FileOps.h"

namespace zr::test {

enum class Op {
  Open,
  OpenAt,
  Close,
  Fstat,
  FstatAt,
  Read,
  Pread,
  Fstatfs,
  Write,
  Fchmod,
  Fchown,
  Fsync,
  MkdirAt,
  LinkAt,
  RenameAt,
  UnlinkAt,
  Flock,
};
const char* OpName(Op op);

// File operations that count their calls, can run a hook before each one,
// and can fail chosen calls with a chosen errno. Calls may come from several
// threads; they are counted one at a time.
class ScriptedOps : public rt::FileOps {
 public:
  void FailAt(Op op, int index, int errnum) {
    failOp_ = op;
    failIndex_ = index;
    failErrno_ = errnum;
  }
  // Fails the calls at these positions among all calls, whatever their kind.
  void FailAtEach(std::set<int> positions, int errnum) {
    failPositions_ = std::move(positions);
    failErrno_ = errnum;
  }
  std::map<Op, int> counts;
  int total = 0;
  // Hard links refused as on exFAT or an SMB share.
  bool noHardLinks = false;
  // Called before each operation with its kind, its index among calls of
  // that kind, and the name it works on (empty when none).
  std::function<void(Op, int, const char*, int dirFd)> before;
  bool failed = false;
  // Crash and fault tests are not about durability; skipping the real
  // fsync keeps them fast.
  bool syncForReal = true;

  int Open(const char* path, int flags, mode_t mode) override;
  int OpenAt(int dirFd, const char* name, int flags, mode_t mode) override;
  int Close(int fd) override;
  int Fstat(int fd, struct stat* st) override;
  int FstatAt(int dirFd, const char* name, struct stat* st, int flags) override;
  ssize_t Read(int fd, void* buffer, std::size_t count) override;
  ssize_t Pread(int fd, void* buffer, std::size_t count, off_t offset) override;
  int Fstatfs(int fd, struct statfs* st) override;
  ssize_t Write(int fd, const void* buffer, std::size_t count) override;
  int Fchmod(int fd, mode_t mode) override;
  void StartWriteback(int fd, off_t offset, off_t count) override;
  int Fchown(int fd, uid_t uid, gid_t gid) override;
  int Fsync(int fd) override;
  int MkdirAt(int dirFd, const char* name, mode_t mode) override;
  int LinkAt(int fromDir, const char* from, int toDir, const char* to) override;
  int RenameAt(int fromDir, const char* from, int toDir, const char* to) override;
  int UnlinkAt(int dirFd, const char* name, int flags) override;
  int Flock(int fd, int operation) override;

 private:
  bool Hit(Op op, const char* name = "", int dirFd = -1);
  std::mutex mutex_;
  Op failOp_ = Op::Open;
  int failIndex_ = -1;
  std::set<int> failPositions_;
  int failErrno_ = 0;
};

// Installs file operations for the lifetime of the object.
class ScopedOps {
 public:
  explicit ScopedOps(rt::FileOps& ops) : previous_(rt::InstallFileOps(&ops)) {}
  ~ScopedOps() { rt::InstallFileOps(previous_); }
  ScopedOps(const ScopedOps&) = delete;
  ScopedOps& operator=(const ScopedOps&) = delete;

 private:
  rt::FileOps* previous_;
};

}  // namespace zr::test
