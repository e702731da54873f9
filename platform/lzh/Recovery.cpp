// Undoes what an interrupted replacement left in a folder and removes our own stray files there.
#include "platform/lzh/Recovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/lzh/Extract.h"
#include "platform/lzh/FileOps.h"
#include "platform/lzh/IntentRecord.h"
#include "platform/lzh/OurNames.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::lzh {
namespace {

// Real records hold a few lines; anything longer is not one of ours.
constexpr std::size_t kMaxRecordBytes = 64 * 1024;

std::vector<std::string> OurFiles(int folderFd) {
  std::vector<std::string> names;
  const int copy = fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return names;
  DIR* dir = fdopendir(copy);
  if (dir == nullptr) {
    close(copy);
    return names;
  }
  rewinddir(dir);
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (IsOurName(name, kRecordPrefix) || IsOurName(name, kTempPrefix) || IsOurName(name, kBackupPrefix)) {
      names.emplace_back(name);
    }
  }
  closedir(dir);
  return names;
}

bool Exists(int dirFd, const std::string& name) {
  struct stat st {};
  return Ops().FstatAt(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::optional<std::string> ReadRecord(int folderFd, const std::string& name) {
  rt::UniqueFd fd = OwnedFd(Ops().OpenAt(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0));
  if (!fd.valid()) return std::nullopt;
  std::string bytes(kMaxRecordBytes + 1, '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = Ops().Pread(fd.get(), bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

class RollBack {
 public:
  RollBack(int folderFd, const std::string& folder) : folderFd_(folderFd), folder_(folder) {}
  ~RollBack() {
    for (int fd : open_) Ops().Close(fd);
  }
  RollBack(const RollBack&) = delete;
  RollBack& operator=(const RollBack&) = delete;

  // Puts every old file back; false (with `failure` set) when one stays in its backup.
  bool Run(const Intent& intent, std::optional<rt::RuntimeError>& failure) {
    for (auto e = intent.entries.rbegin(); e != intent.entries.rend(); ++e) {
      const int dirFd = OpenFolder(*e);
      const char* file = e->target.back().c_str();
      const bool stagedThere = Exists(folderFd_, e->staged);
      if (!e->backup.empty()) {
        if (Exists(folderFd_, e->backup)) {
          if (dirFd < 0 || Ops().RenameAt(folderFd_, e->backup.c_str(), dirFd, file) != 0) {
            failure = rt::ErrorFromErrno(
                dirFd < 0 ? ENOENT : errno,
                "中断された置き換えを元に戻せません。置き換え前の内容は「" + Path(e->backup) + "」に残っています");
            return false;
          }
          // Renaming one hard link onto another of the same file leaves both.
          Ops().UnlinkAt(folderFd_, e->backup.c_str(), 0);
        }
      } else if (!stagedThere && dirFd >= 0) {
        // There was no old file, and the new one is in place: it goes.
        Ops().UnlinkAt(dirFd, file, 0);
      }
      if (stagedThere) Ops().UnlinkAt(folderFd_, e->staged.c_str(), 0);
      if (dirFd >= 0 && Ops().Fsync(dirFd) != 0) {
        failure = rt::ErrorFromErrno(errno, "中断された置き換えを元に戻した結果をディスクに書き込めません: " + folder_);
        return false;
      }
    }
    for (auto f = intent.createdFolders.rbegin(); f != intent.createdFolders.rend(); ++f) {
      PathParts parent(f->begin(), f->end() - 1);
      const int dirFd = OpenPath(parent);
      if (dirFd >= 0) Ops().UnlinkAt(dirFd, f->back().c_str(), AT_REMOVEDIR);
    }
    return true;
  }

 private:
  std::string Path(const std::string& name) const { return (folder_ == "/" ? "" : folder_) + "/" + name; }

  int OpenFolder(const Intent::Entry& e) { return OpenPath(PathParts(e.target.begin(), e.target.end() - 1)); }

  int OpenPath(const PathParts& parts) {
    int parent = folderFd_;
    for (const std::string& part : parts) {
      const int fd = Ops().OpenAt(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
      if (fd < 0) return -1;
      open_.push_back(fd);
      parent = fd;
    }
    return parent;
  }

  int folderFd_;
  const std::string& folder_;
  std::vector<int> open_;
};

}  // namespace

void LockFolder(int folderFd, const std::string& folder) {
  // Polled rather than waited for: a lock someone else keeps on a shared
  // folder (a temporary folder such as /tmp) must not hang the tool.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Ops().Flock(folderFd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return;
    if (std::chrono::steady_clock::now() > giveUp) {
      throw rt::RuntimeError(rt::err::PathFileAccess,
                             "展開先のフォルダーを別の展開が使用しているため、展開できません。(" + folder + ")");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void RecoverIn(int folderFd, const std::string& folder) {
  const std::vector<std::string> names = OurFiles(folderFd);
  std::set<std::string> keep;
  // A record we could not read or act on may need any backup here.
  bool keepBackups = false;
  std::optional<rt::RuntimeError> failure;
  for (const std::string& name : names) {
    if (!IsOurName(name, kRecordPrefix)) continue;
    const auto bytes = ReadRecord(folderFd, name);
    if (!bytes) {
      keep.insert(name);  // someone else's, or unreadable now: not ours to judge
      keepBackups = true;
      continue;
    }
    const auto intent = DecodeIntent(*bytes);
    // A record cut short was being written when the run stopped: nothing was renamed yet.
    if (intent) {
      RollBack rollBack(folderFd, folder);
      if (!rollBack.Run(*intent, failure)) {
        keep.insert(name);
        keepBackups = true;
        for (const auto& e : intent->entries) {
          keep.insert(e.staged);
          if (!e.backup.empty()) keep.insert(e.backup);
        }
        continue;
      }
      if (Ops().Fsync(folderFd) != 0) {
        failure = rt::ErrorFromErrno(errno, "中断された置き換えを元に戻した結果をディスクに書き込めません: " + folder);
        keep.insert(name);
        keepBackups = true;
        continue;
      }
    }
    Ops().UnlinkAt(folderFd, name.c_str(), 0);
  }
  for (const std::string& name : names) {
    if (IsOurName(name, kRecordPrefix) || keep.count(name) != 0) continue;
    if (keepBackups && IsOurName(name, kBackupPrefix)) continue;
    Ops().UnlinkAt(folderFd, name.c_str(), 0);
  }
  if (failure) throw *failure;
}

void RecoverInterruptedReplacement(const std::string& folder) {
  rt::UniqueFd fd = OwnedFd(Ops().Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!fd.valid()) {
    if (errno == ENOENT || errno == ENOTDIR) return;  // nothing there to recover
    throw rt::ErrorFromErrno(errno, "フォルダーを開けません: " + folder);
  }
  LockFolder(fd.get(), folder);
  RecoverIn(fd.get(), folder);
}

}  // namespace zr::lzh
