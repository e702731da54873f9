// Replaces a set of files under one folder together: all of them or none, across failures and crashes.
#include "platform/lzh/Replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/lzh/FileOps.h"
#include "platform/lzh/OurNames.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::lzh {
namespace {

constexpr int kNameAttempts = 100;

// File systems without hard links (exFAT, many SMB shares) say so with one of these.
bool NoHardLinks(int errnum) { return errnum == EPERM || errnum == EOPNOTSUPP || errnum == EMLINK || errnum == ENOSYS; }

void WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = Ops().Write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
  errno = 0;
}

}  // namespace

Replacement::Replacement(int destinationFd, std::string destination, bool ownerOnly, bool flush)
    : destinationFd_(destinationFd), destination_(std::move(destination)), ownerOnly_(ownerOnly), flush_(flush) {
  while (destination_.size() > 1 && destination_.back() == '/') destination_.pop_back();
}

Replacement::~Replacement() {
  if (!committed_ && !keepForRecovery_) Discard();
  for (auto& [path, fd] : folders_) Ops().Close(fd);
}

std::size_t Replacement::Add(const PathParts& target, const std::string& label) {
  Item item;
  item.target = target;
  item.label = label;
  items_.push_back(std::move(item));
  return items_.size() - 1;
}

std::string Replacement::Where(const PathParts& relative) const {
  std::string s = destination_ == "/" ? "" : destination_;
  for (const std::string& part : relative) s += "/" + part;
  return s;
}

std::string Replacement::Shown(std::size_t index) const { return Where(items_[index].target); }

std::string Replacement::InDestination(const std::string& name) const { return Where({name}); }

int Replacement::Folder(const Item& item) {
  int parent = destinationFd_;
  std::string key;
  PathParts path;
  for (std::size_t i = 0; i + 1 < item.target.size(); ++i) {
    const std::string& part = item.target[i];
    path.push_back(part);
    key += "/" + part;
    if (auto cached = folders_.find(key); cached != folders_.end()) {
      parent = cached->second;
      continue;
    }
    int fd = Ops().OpenAt(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0 && errno == ENOENT) {
      if (Ops().MkdirAt(parent, part.c_str(), 0777) == 0) {
        created_.emplace_back(parent, part);
        createdPaths_.push_back(path);
      } else if (errno != EEXIST) {
        throw rt::ErrorFromErrno(errno, "「" + item.label + "」の展開先のフォルダーを作成できません: " + Where(path));
      }
      fd = Ops().OpenAt(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    }
    if (fd < 0) {
      throw rt::ErrorFromErrno(errno, "「" + item.label + "」の展開先のフォルダーを開けません: " + Where(path));
    }
    folders_.emplace(key, fd);
    parent = fd;
  }
  return parent;
}

rt::UniqueFd Replacement::Stage(std::size_t index) {
  Item& item = items_[index];
  item.folderFd = Folder(item);
  const std::string& file = item.target.back();
  struct stat st {};
  bool keepMode = false;
  if (Ops().FstatAt(item.folderFd, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) {
      throw rt::RuntimeError(rt::err::PathFileAccess, "同じ名前のフォルダーがあるため「" + item.label +
                                                          "」を展開できません。(" + Shown(index) + ")");
    }
    keepMode = S_ISREG(st.st_mode) && !ownerOnly_;
  } else if (errno != ENOENT) {
    throw rt::ErrorFromErrno(errno, "「" + item.label + "」の展開先を調べられません: " + Shown(index));
  }
  // A new file gets the usual mode (the umask decides) unless only its owner may read it.
  const mode_t mode = keepMode || ownerOnly_ ? 0600 : 0666;
  for (int attempt = 0;; ++attempt) {
    const std::string name = NewName(kTempPrefix);
    const int fd =
        Ops().OpenAt(destinationFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
      if (errno != EEXIST || attempt >= kNameAttempts) {
        throw rt::ErrorFromErrno(errno, "「" + item.label + "」の一時ファイルを作成できません: " + InDestination(name));
      }
      continue;
    }
    item.staged = name;
    rt::UniqueFd copy = OwnedFd(fd);
    if (keepMode) {
      if (Ops().Fchmod(fd, st.st_mode & 07777) != 0) {
        throw rt::ErrorFromErrno(errno, "「" + item.label + "」の一時ファイルを作成できません: " + InDestination(name));
      }
      // Keeps a restore run by an administrator from handing the user's
      // database to root; not possible otherwise, and not needed.
      if (st.st_uid != geteuid() || st.st_gid != getegid()) Ops().Fchown(fd, st.st_uid, st.st_gid);
    }
    return copy;
  }
}

void Replacement::Finish(std::size_t index, rt::UniqueFd copy) {
  Item& item = items_[index];
  if (Ops().Close(copy.Release()) != 0) {
    throw rt::ErrorFromErrno(errno, "「" + item.label + "」を書き込めません: " + InDestination(item.staged));
  }
  item.finished = true;
}

void Replacement::Commit() {
  // Copies that were never finished are not part of the replacement.
  for (Item& item : items_) {
    if (!item.finished && !item.staged.empty()) {
      Ops().UnlinkAt(destinationFd_, item.staged.c_str(), 0);
      item.staged.clear();
    }
  }
  // One rename replaces one file atomically; backups and a record are what
  // make several of them one change.
  const auto finished = std::count_if(items_.begin(), items_.end(), [](const Item& i) { return i.finished; });
  if (finished > 1) {
    MakeBackups();
    WriteRecord();
  }
  PutInPlace();
}

void Replacement::MakeBackups() {
  for (Item& item : items_) {
    if (!item.finished) continue;
    const std::string& file = item.target.back();
    struct stat st {};
    if (Ops().FstatAt(item.folderFd, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) {
        throw rt::ErrorFromErrno(errno, "「" + item.label + "」の展開先を調べられません: " + Where(item.target));
      }
      continue;
    }
    for (int attempt = 0;; ++attempt) {
      item.backup = NewName(kBackupPrefix);
      if (Ops().LinkAt(item.folderFd, file.c_str(), destinationFd_, item.backup.c_str()) == 0) {
        item.backupMade = true;
        break;
      }
      if (errno == EEXIST && attempt < kNameAttempts) continue;
      if (NoHardLinks(errno)) {
        item.renameBackup = true;
        break;
      }
      const int e = errno;
      item.backup.clear();
      throw rt::ErrorFromErrno(e, "「" + item.label + "」の控えを作成できません: " + Where(item.target));
    }
  }
}

void Replacement::WriteRecord() {
  Intent intent;
  for (const Item& item : items_) {
    if (item.finished) intent.entries.push_back({item.target, item.staged, item.backup});
  }
  intent.createdFolders = createdPaths_;
  const std::string bytes = EncodeIntent(intent);
  for (int attempt = 0;; ++attempt) {
    const std::string name = NewName(kRecordPrefix);
    const int fd =
        Ops().OpenAt(destinationFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST && attempt < kNameAttempts) continue;
      throw rt::ErrorFromErrno(errno, "置き換えの記録を作成できません: " + InDestination(name));
    }
    record_ = name;
    rt::UniqueFd file = OwnedFd(fd);
    WriteAll(fd, bytes);
    if (errno != 0 || (flush_ && Ops().Fsync(fd) != 0) || Ops().Close(file.Release()) != 0) {
      throw rt::ErrorFromErrno(errno, "置き換えの記録を書き込めません: " + InDestination(name));
    }
    break;
  }
  // The record, the staged copies and the backups are all on disk before anything is renamed.
  if (flush_ && Ops().Fsync(destinationFd_) != 0) {
    throw rt::ErrorFromErrno(errno, "置き換えの記録をディスクに書き込めません: " + destination_);
  }
}

void Replacement::PutInPlace() {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    Item& item = items_[i];
    if (!item.finished) continue;
    const char* file = item.target.back().c_str();
    if (item.renameBackup) {
      if (Ops().RenameAt(item.folderFd, file, destinationFd_, item.backup.c_str()) != 0) {
        Roll(i, errno, "「" + item.label + "」を置き換えられません: " + Where(item.target));
      }
      item.backupMade = true;
    }
    if (Ops().RenameAt(destinationFd_, item.staged.c_str(), item.folderFd, file) != 0) {
      Roll(i, errno, "「" + item.label + "」を置き換えられません: " + Where(item.target));
    }
    item.inPlace = true;
  }

  // The renames reach the disk before the record that could undo them goes.
  int flushError = 0;
  std::string flushWhere;
  std::vector<int> flushed;
  auto flush = [&](int fd, const std::string& shown) {
    if (!flush_ || std::find(flushed.begin(), flushed.end(), fd) != flushed.end()) return;
    flushed.push_back(fd);
    if (Ops().Fsync(fd) != 0 && flushError == 0) {
      flushError = errno;
      flushWhere = shown;
    }
  };
  for (const auto& [parent, name] : created_) flush(parent, destination_);
  for (const Item& item : items_) {
    if (item.finished) flush(item.folderFd, Where(item.target));
  }
  if (!record_.empty()) {
    if (Ops().UnlinkAt(destinationFd_, record_.c_str(), 0) != 0) {
      Roll(items_.size() - 1, errno,
           "置き換えの記録を削除できないため、置き換えを取り消しました: " + InDestination(record_));
    }
    record_.clear();
    if (flush_ && Ops().Fsync(destinationFd_) != 0 && flushError == 0) {
      flushError = errno;
      flushWhere = destination_;
    }
  }
  committed_ = true;
  for (Item& item : items_) {
    if (item.backupMade) Ops().UnlinkAt(destinationFd_, item.backup.c_str(), 0);
    item.backupMade = false;
  }
  if (flushError != 0) {
    std::string names;
    for (const Item& item : items_) {
      if (item.finished) names += "「" + item.label + "」";
    }
    const rt::RuntimeError cause = rt::ErrorFromErrno(flushError, flushWhere);
    throw rt::RuntimeError(
        cause.number(),
        names + "は置き換えましたが、ディスクに書き込まれていない可能性があります。(" + cause.description() + ")");
  }
}

void Replacement::Roll(std::size_t upTo, int errnum, const std::string& what) {
  std::vector<std::string> kept;
  for (std::size_t j = upTo + 1; j-- > 0;) {
    Item& item = items_[j];
    if (!item.finished) continue;
    const char* file = item.target.back().c_str();
    if (item.backupMade && (item.inPlace || item.renameBackup)) {
      if (Ops().RenameAt(destinationFd_, item.backup.c_str(), item.folderFd, file) == 0) {
        item.backupMade = false;
        item.inPlace = false;
      } else {
        kept.push_back(InDestination(item.backup));
      }
    } else if (item.inPlace) {
      // Nothing was there before: the new file goes again.
      Ops().UnlinkAt(item.folderFd, file, 0);
      item.inPlace = false;
    }
  }
  const rt::RuntimeError cause = rt::ErrorFromErrno(errnum, what);
  if (kept.empty()) throw cause;
  // The record stays with the backups, so the next run puts them back; until
  // then a person can do it by hand.
  keepForRecovery_ = true;
  std::string paths;
  for (const std::string& path : kept) paths += "「" + path + "」";
  throw rt::RuntimeError(cause.number(), cause.description() + "。元に戻せなかったファイルの置き換え前の内容は" +
                                             paths + "に残っています。");
}

void Replacement::Discard() {
  for (Item& item : items_) {
    if (!item.staged.empty() && !item.inPlace) Ops().UnlinkAt(destinationFd_, item.staged.c_str(), 0);
    if (item.backupMade) Ops().UnlinkAt(destinationFd_, item.backup.c_str(), 0);
  }
  if (!record_.empty()) Ops().UnlinkAt(destinationFd_, record_.c_str(), 0);
  for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
    Ops().UnlinkAt(it->first, it->second.c_str(), AT_REMOVEDIR);
  }
}

}  // namespace zr::lzh
