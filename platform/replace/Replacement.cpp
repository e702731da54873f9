// Replaces a set of files under one folder together: all of them or none, across failures and crashes.
#include "platform/replace/Replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/replace/IntentRecord.h"
#include "platform/replace/Journal.h"
#include "platform/replace/LinkOrCopy.h"
#include "platform/replace/LinkedFolder.h"
#include "platform/replace/OurNames.h"
#include "platform/replace/RecordKey.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::replace {
namespace {

using rt::Ops;

constexpr int kNameAttempts = 100;

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

std::size_t Replacement::AddRemoval(const PathParts& target, const std::string& label) {
  const std::size_t index = Add(target, label);
  items_[index].removal = true;
  return index;
}

std::string Replacement::Where(const PathParts& relative) const {
  std::string s = destination_ == "/" ? "" : destination_;
  for (const std::string& part : relative) s += "/" + part;
  return s;
}

std::string Replacement::Shown(std::size_t index) const { return Where(items_[index].target); }

std::string Replacement::InDestination(const std::string& name) const { return Where({name}); }

std::string Replacement::Labels() const {
  std::string names;
  for (const Item& item : items_) {
    if (item.active) names += "「" + item.label + "」";
  }
  return names;
}

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
    // A link in place of a folder would carry the files somewhere else.
    constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = Ops().OpenAt(parent, part.c_str(), kFolderFlags, 0);
    if (fd < 0 && errno == ENOENT && !item.removal) {
      if (Ops().MkdirAt(parent, part.c_str(), 0777) == 0) {
        created_.emplace_back(parent, part);
        createdPaths_.push_back(path);
      } else if (errno != EEXIST) {
        throw rt::ErrorFromErrno(errno, "「" + item.label + "」の展開先のフォルダーを作成できません: " + Where(path));
      }
      fd = Ops().OpenAt(parent, part.c_str(), kFolderFlags, 0);
    }
    if (fd < 0) {
      if (errno == ENOENT && item.removal) return -1;
      const int e = errno;
      RefuseLinkedFolder(parent, part, Where(path));
      throw rt::ErrorFromErrno(e, "「" + item.label + "」の展開先のフォルダーを開けません: " + Where(path));
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
  rt::UniqueFd copy = CreateStaged("「" + item.label + "」の一時ファイル", mode, item.staged);
  if (keepMode) {
    if (Ops().Fchmod(copy.get(), st.st_mode & 07777) != 0) {
      throw rt::ErrorFromErrno(errno,
                               "「" + item.label + "」の一時ファイルを作成できません: " + InDestination(item.staged));
    }
    // Keeps a restore run by an administrator from handing the user's
    // database to root; not possible otherwise, and not needed.
    if (st.st_uid != geteuid() || st.st_gid != getegid()) Ops().Fchown(copy.get(), st.st_uid, st.st_gid);
  }
  return copy;
}

rt::UniqueFd Replacement::CreateStaged(const std::string& what, mode_t mode, std::string& name) {
  for (int attempt = 0;; ++attempt) {
    name = NewName(kTempPrefix);
    const int fd =
        Ops().OpenAt(destinationFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) return rt::OwnedFd(fd);
    if (errno != EEXIST || attempt >= kNameAttempts) {
      const int e = errno;
      const std::string shown = InDestination(name);
      name.clear();
      throw rt::ErrorFromErrno(e, what + "を作成できません: " + shown);
    }
  }
}

void Replacement::Finish(std::size_t index, rt::UniqueFd copy) {
  Item& item = items_[index];
  // What recovery later recognises the copy by, wherever it then stands.
  struct stat st {};
  if (Ops().Fstat(copy.get(), &st) != 0) {
    throw rt::ErrorFromErrno(errno, "「" + item.label + "」を書き込めません: " + InDestination(item.staged));
  }
  item.placed = FileIdentity::Of(st);
  if (Ops().Close(copy.Release()) != 0) {
    throw rt::ErrorFromErrno(errno, "「" + item.label + "」を書き込めません: " + InDestination(item.staged));
  }
  item.finished = true;
}

void Replacement::Commit() {
  // Copies that were never finished are not part of the replacement.
  for (Item& item : items_) {
    if (!item.removal && !item.finished && !item.staged.empty()) {
      Ops().UnlinkAt(destinationFd_, item.staged.c_str(), 0);
      item.staged.clear();
    }
  }
  for (Item& item : items_) {
    if (item.removal) {
      item.folderFd = Folder(item);
      struct stat st {};
      item.active =
          item.folderFd >= 0 && Ops().FstatAt(item.folderFd, item.target.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    } else {
      item.active = item.finished;
    }
  }
  // One rename replaces one file atomically; backups and a record are what
  // make several of them one change, and what lets a journal entry follow it.
  JournalScope* journal = JournalScope::Current();
  const auto active = std::count_if(items_.begin(), items_.end(), [](const Item& i) { return i.active; });
  if (active > 1 || (journal != nullptr && active > 0)) {
    // No key, no change: a record nobody can check would block the folder.
    const RecordKey key = SealingKey();
    MakeBackups();
    WriteRecord(key, journal != nullptr ? journal->token() : std::string());
  }
  PutInPlace();
}

void Replacement::MakeBackups() {
  for (Item& item : items_) {
    if (!item.active) continue;
    const std::string& file = item.target.back();
    struct stat st {};
    if (Ops().FstatAt(item.folderFd, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) {
        throw rt::ErrorFromErrno(errno, "「" + item.label + "」の展開先を調べられません: " + Where(item.target));
      }
      continue;
    }
    item.old = FileIdentity::Of(st);
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

void Replacement::WriteRecord(const RecordKey& key, const std::string& token) {
  Intent intent;
  intent.token = token;
  for (const Item& item : items_) {
    if (item.active) {
      intent.entries.push_back({item.target, item.staged, item.backup, item.old, item.placed, item.renameBackup});
    }
  }
  intent.createdFolders = createdPaths_;
  // Written whole under a staged name and then renamed, so a crash never
  // leaves a record's name on fewer bytes than were sealed: one cut short
  // could not be told from a stranger's, and would block the folder.
  std::string passing;
  rt::UniqueFd file = CreateStaged("置き換えの記録", 0600, passing);
  const std::string name = NewName(kRecordPrefix);
  const std::string bytes = EncodeIntent(intent, key, name);
  if (!rt::WriteAll(file.get(), bytes) || (flush_ && Ops().Fsync(file.get()) != 0) ||
      Ops().Close(file.Release()) != 0) {
    const int writeError = errno;
    Ops().UnlinkAt(destinationFd_, passing.c_str(), 0);
    throw rt::ErrorFromErrno(writeError, "置き換えの記録を書き込めません: " + InDestination(passing));
  }
  // Twelve random digits: a record already of that name is a stranger's,
  // and must not be renamed over.
  struct stat st {};
  int e = 0;
  if (Ops().FstatAt(destinationFd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    e = EEXIST;
  } else if (errno != ENOENT || Ops().RenameAt(destinationFd_, passing.c_str(), destinationFd_, name.c_str()) != 0) {
    e = errno;
  }
  if (e != 0) {
    Ops().UnlinkAt(destinationFd_, passing.c_str(), 0);
    throw rt::ErrorFromErrno(e, "置き換えの記録を作成できません: " + InDestination(name));
  }
  record_ = name;
  // The record, the staged copies and the backups are all on disk before anything is renamed.
  if (flush_ && Ops().Fsync(destinationFd_) != 0) {
    throw rt::ErrorFromErrno(errno, "置き換えの記録をディスクに書き込めません: " + destination_);
  }
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

}  // namespace zr::replace
