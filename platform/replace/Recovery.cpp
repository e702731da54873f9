// Finishes or undoes what an interrupted replacement left in a folder, trusting only what it wrote itself.
#include "platform/replace/Recovery.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "platform/replace/Identity.h"
#include "platform/replace/IntentRecord.h"
#include "platform/replace/OurNames.h"
#include "platform/replace/RecordKey.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::replace {
namespace {

using rt::Ops;

// Real records hold a few lines; anything longer is not one of ours.
constexpr std::size_t kMaxRecordBytes = 64 * 1024;

std::vector<std::string> OurFiles(int folderFd) {
  std::vector<std::string> names = rt::FolderNames(folderFd);
  std::erase_if(names, [](const std::string& name) { return !IsAnyOurName(name); });
  std::sort(names.begin(), names.end());
  return names;
}

// The identity of a regular file, nothing when it is missing; `other` when
// something that is not a regular file has the name.
std::optional<FileIdentity> RegularAt(int dirFd, const std::string& name, bool& other) {
  other = false;
  struct stat st {};
  if (dirFd < 0 || Ops().FstatAt(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  if (!S_ISREG(st.st_mode)) {
    other = true;
    return std::nullopt;
  }
  return FileIdentity::Of(st);
}

struct RecordBytes {
  std::string bytes;
  std::string refusal;  // why it is not taken as ours; empty when it is
};

// Owner and mode are not looked at: FAT, exFAT, NTFS and shares show made-up
// ones, so only the seal under the user's key tells a record of ours.
RecordBytes ReadRecord(int folderFd, const std::string& name) {
  RecordBytes out;
  rt::UniqueFd fd =
      rt::OwnedFd(Ops().OpenAt(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  struct stat st {};
  if (!fd.valid() || Ops().Fstat(fd.get(), &st) != 0) {
    out.refusal = "開けません";
  } else if (!S_ISREG(st.st_mode)) {
    out.refusal = "通常のファイルではありません";
  } else if (static_cast<std::size_t>(st.st_size) > kMaxRecordBytes) {
    out.refusal = "大きすぎます";
  } else {
    out.bytes.resize(kMaxRecordBytes + 1);
    const ssize_t n = rt::ReadUpTo(fd.get(), out.bytes.data(), out.bytes.size());
    if (n < 0 || static_cast<std::size_t>(n) > kMaxRecordBytes) {
      out.refusal = "読み込めません";
    } else {
      out.bytes.resize(static_cast<std::size_t>(n));
    }
  }
  return out;
}

class Resolver {
 public:
  Resolver(int folderFd, const std::string& folder, const RecoveryScope& scope)
      : folderFd_(folderFd), folder_(folder), scope_(scope), traits_(FolderTraits::Of(folderFd)) {}
  ~Resolver() {
    for (int fd : open_) Ops().Close(fd);
  }
  Resolver(const Resolver&) = delete;
  Resolver& operator=(const Resolver&) = delete;

  std::vector<std::string> Run() {
    const std::vector<std::string> names = OurFiles(folderFd_);
    const std::optional<RecordKey> key = CheckingKey();
    for (const std::string& name : names) {
      if (!IsOurName(name, kRecordPrefix)) continue;
      handled_.insert(name);
      const RecordBytes record = ReadRecord(folderFd_, name);
      if (!record.refusal.empty()) {
        Refuse(name, record.refusal);
        continue;
      }
      const auto intent = key ? DecodeIntent(record.bytes, *key, name) : std::nullopt;
      if (!intent) {
        Refuse(name, key ? "このプログラムが書いたものと確かめられません" : "鍵を読み込めないため確かめられません");
        continue;
      }
      if (!Declared(*intent)) {
        Refuse(name, "対象外のファイルを指しています");
        continue;
      }
      Resolve(name, *intent);
    }
    // Strays: staged copies were never live; backups without a record
    // belong to a replacement that completed.
    for (const std::string& name : names) {
      if (handled_.count(name) != 0) continue;
      if (IsOurName(name, kBackupPrefix) && keepBackups_) continue;
      Ops().UnlinkAt(folderFd_, name.c_str(), 0);
    }
    if (scope_.dropStalePending && scope_.journal != nullptr) scope_.journal->DropPendingExcept(tokensLeft_);
    if (failure_) throw *failure_;
    return unproven_;
  }

 private:
  struct State {
    int dirFd = -1;
    std::optional<FileIdentity> live;
    bool liveOther = false;
    bool backupThere = false;
    bool stagedThere = false;
    bool placed = false;    // the change stands at this target
    bool original = false;  // the target is as it was before
  };

  std::string Path(const std::string& name) const { return (folder_ == "/" ? "" : folder_) + "/" + name; }

  // A record not provably ours reaches nothing: it stays, with every backup
  // it may need, and nothing is built on the folder while it is there.
  void Refuse(const std::string& name, const std::string& why) {
    keepBackups_ = true;
    unproven_.push_back(Path(name));
    RecoveryNote("置き換えの記録「" + Path(name) + "」は" + why + "。そのままにしました。");
  }

  bool Declared(const Intent& intent) const {
    auto declared = [&](const PathParts& target) {
      return std::find(scope_.targets.begin(), scope_.targets.end(), target) != scope_.targets.end();
    };
    for (const auto& e : intent.entries) {
      if (!declared(e.target)) return false;
    }
    // Folders it made can only be those of its targets.
    for (const auto& folder : intent.createdFolders) {
      const bool ofATarget = std::any_of(intent.entries.begin(), intent.entries.end(), [&](const auto& e) {
        return folder.size() < e.target.size() && std::equal(folder.begin(), folder.end(), e.target.begin());
      });
      if (!ofATarget) return false;
    }
    return true;
  }

  int OpenPath(const PathParts& parts) {
    int parent = folderFd_;
    for (const std::string& part : parts) {
      const int fd = Ops().OpenAt(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
      if (fd < 0) return -1;
      open_.push_back(fd);
      parent = fd;
    }
    return parent;
  }

  State Look(const Intent::Entry& e) {
    State s;
    s.dirFd = OpenPath(PathParts(e.target.begin(), e.target.end() - 1));
    s.live = RegularAt(s.dirFd, e.target.back(), s.liveOther);
    bool other = false;
    if (!e.backup.empty()) {
      const auto backup = RegularAt(folderFd_, e.backup, other);
      s.backupThere = backup && e.old && SameFile(*backup, *e.old, traits_);
    }
    s.stagedThere = !e.staged.empty() && RegularAt(folderFd_, e.staged, other).has_value();
    const bool absent = !s.live && !s.liveOther;
    if (e.staged.empty()) {
      s.placed = absent;
    } else {
      s.placed = s.live && SameFile(*s.live, *e.placed, traits_);
    }
    if (e.old) {
      s.original = (s.live && SameFile(*s.live, *e.old, traits_)) || (absent && s.backupThere);
    } else {
      s.original = absent;
    }
    // Without inode numbers to go by, a copy of the same size written in the
    // same tick of the file system's clock (a second on exFAT through FUSE,
    // two on FAT) looks like the file it replaces: where the old file stands
    // tells them apart when it is moved aside.
    if (e.movedAside && e.old && e.placed && SameFile(*e.old, *e.placed, traits_) && s.placed && s.original) {
      s.placed = s.backupThere;
      s.original = !s.backupThere;
    }
    return s;
  }

  void Resolve(const std::string& record, const Intent& intent) {
    std::vector<State> states;
    for (const auto& e : intent.entries) states.push_back(Look(e));
    Journal* journal = intent.token.empty() ? nullptr : scope_.journal;
    const bool allPlaced = std::all_of(states.begin(), states.end(), [](const State& s) { return s.placed; });
    bool canRollBack = true;
    for (std::size_t i = 0; i < states.size(); ++i) {
      const State& s = states[i];
      const bool backupNeeded = s.placed && intent.entries[i].old.has_value();
      if (!s.original && !(s.placed && (!backupNeeded || s.backupThere))) canRollBack = false;
    }
    bool done = false;
    if (journal != nullptr && allPlaced && journal->Committed(intent.token)) {
      done = Finish(record, intent);
    } else if (canRollBack) {
      done = RollBack(record, intent, states, journal);
    } else {
      done = KeepChanged(record, intent, states, journal);
    }
    for (const auto& e : intent.entries) {
      if (!done) {
        handled_.insert(e.staged);
        handled_.insert(e.backup);
      }
    }
    if (!done) {
      keepBackups_ = true;
      if (!intent.token.empty()) tokensLeft_.insert(intent.token);
    }
  }

  bool Flushed(int fd) {
    if (Ops().Fsync(fd) == 0) return true;
    failure_ = rt::ErrorFromErrno(errno, "中断された置き換えの結果をディスクに書き込めません: " + folder_);
    return false;
  }

  bool DropRecord(const std::string& record) {
    Ops().UnlinkAt(folderFd_, record.c_str(), 0);
    return Flushed(folderFd_);
  }

  // Every file is in place and the journal entry counts: only our files go.
  bool Finish(const std::string& record, const Intent& intent) {
    for (const auto& e : intent.entries) {
      if (!e.backup.empty()) Ops().UnlinkAt(folderFd_, e.backup.c_str(), 0);
    }
    return DropRecord(record);
  }

  bool RollBack(const std::string& record, const Intent& intent, const std::vector<State>& states, Journal* journal) {
    for (std::size_t i = intent.entries.size(); i-- > 0;) {
      const Intent::Entry& e = intent.entries[i];
      const State& s = states[i];
      const char* file = e.target.back().c_str();
      const bool putBack = (s.placed && e.old) || (s.original && !s.live && e.old);
      if (putBack) {
        if (s.dirFd < 0 || Ops().RenameAt(folderFd_, e.backup.c_str(), s.dirFd, file) != 0) {
          failure_ = rt::ErrorFromErrno(
              s.dirFd < 0 ? ENOENT : errno,
              "中断された置き換えを元に戻せません。置き換え前の内容は「" + Path(e.backup) + "」に残っています");
          return false;
        }
      } else if (s.placed && !e.old && !e.staged.empty()) {
        // There was no old file, and the new one is in place: it goes.
        Ops().UnlinkAt(s.dirFd, file, 0);
      } else if (s.backupThere) {
        // Another name of the file still in place.
        Ops().UnlinkAt(folderFd_, e.backup.c_str(), 0);
      }
      if (s.stagedThere) Ops().UnlinkAt(folderFd_, e.staged.c_str(), 0);
      if (s.dirFd >= 0 && !Flushed(s.dirFd)) return false;
    }
    for (auto f = intent.createdFolders.rbegin(); f != intent.createdFolders.rend(); ++f) {
      const int parent = OpenPath(PathParts(f->begin(), f->end() - 1));
      if (parent >= 0) Ops().UnlinkAt(parent, f->back().c_str(), AT_REMOVEDIR);
    }
    if (!Flushed(folderFd_)) return false;
    // The entry goes before the record that names it, so a crash between
    // the two leaves nothing that claims a change.
    if (journal != nullptr) journal->Discard(intent.token);
    return DropRecord(record);
  }

  // Someone has worked on the files since: they stay as they are, and the
  // old copies go where the way back is kept.
  bool KeepChanged(const std::string& record, const Intent& intent, const std::vector<State>& states,
                   Journal* journal) {
    std::vector<OldCopy> copies;
    for (std::size_t i = 0; i < intent.entries.size(); ++i) {
      if (states[i].backupThere) copies.push_back({intent.entries[i].backup, intent.entries[i].target});
    }
    if (!copies.empty()) {
      if (scope_.journal == nullptr) {
        RecoveryNote("置き換えの後で変更されたファイルがあるため、置き換え前の内容を「" + folder_ + "」に残しました。");
        return false;
      }
      try {
        scope_.journal->Salvage(folderFd_, copies);
      } catch (const rt::RuntimeError& e) {
        RecoveryNote("置き換え前の内容を履歴に移せません: " + e.description());
        return false;
      }
    }
    try {
      if (journal != nullptr) journal->Commit(intent.token);
    } catch (const rt::RuntimeError&) {
      // The old copies are safe already; the entry stays pending and goes
      // with the next start.
    }
    for (std::size_t i = 0; i < intent.entries.size(); ++i) {
      if (states[i].stagedThere) Ops().UnlinkAt(folderFd_, intent.entries[i].staged.c_str(), 0);
    }
    RecoveryNote(
        "置き換えの後で変更された雛形があるため、中断された置き換えは元に戻さず、置き換え前の内容を履歴に移しました: " +
        folder_);
    return DropRecord(record);
  }

  int folderFd_;
  const std::string& folder_;
  const RecoveryScope& scope_;
  FolderTraits traits_;
  std::vector<int> open_;
  std::set<std::string> handled_;
  std::set<std::string> tokensLeft_;
  bool keepBackups_ = false;
  std::vector<std::string> unproven_;
  std::optional<rt::RuntimeError> failure_;
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

std::vector<std::string> RecoverIn(int folderFd, const std::string& folder, const RecoveryScope& scope) {
  return Resolver(folderFd, folder, scope).Run();
}

void RecoverBeforeChange(int folderFd, const std::string& folder, const RecoveryScope& scope) {
  const std::vector<std::string> unproven = RecoverIn(folderFd, folder, scope);
  if (unproven.empty()) return;
  throw rt::RuntimeError(rt::err::PathFileAccess,
                         "このプログラムのものと確かめられない置き換えの記録「" + unproven.front() +
                             "」が残っているため、中断された変更の上に書き込まないよう中止しました。");
}

std::vector<std::string> RecoverFolder(const std::string& folder, const RecoveryScope& scope) {
  rt::UniqueFd fd = rt::OwnedFd(Ops().Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!fd.valid()) {
    if (errno == ENOENT || errno == ENOTDIR) return {};  // nothing there to recover
    throw rt::ErrorFromErrno(errno, "フォルダーを開けません: " + folder);
  }
  LockFolder(fd.get(), folder);
  return RecoverIn(fd.get(), folder, scope);
}

}  // namespace zr::replace
