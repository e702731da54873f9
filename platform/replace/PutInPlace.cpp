// Putting a replacement's copies in place: the renames, their flushes, the journal entry, then the record and
// backups go; or, on a failure midway, the renames undone.
#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/replace/Journal.h"
#include "platform/replace/Replacement.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::replace {

using rt::Ops;

void Replacement::Flush(int fd, const std::string& shown, int& flushError, std::string& flushWhere) {
  if (!flush_) return;
  if (Ops().Fsync(fd) != 0 && flushError == 0) {
    flushError = errno;
    flushWhere = shown;
  }
}

void Replacement::PutInPlace() {
  RenameIntoPlace();
  // The renames reach the disk before the journal entry counts and before
  // the record that could undo them goes.
  int flushError = 0;
  std::string flushWhere;
  FlushRenames(flushError, flushWhere);
  const bool journaled = CommitJournal();
  committed_ = true;
  if (flushError != 0 && journaled) {
    // The renames may not be on disk: the record and the backups stay for
    // the next recovery, which finishes the change or, where the renames
    // were lost, undoes it (an entry that already counts stays).
    keepForRecovery_ = true;
    throw Unflushed(flushError, flushWhere);
  }
  RemoveRecord(journaled, flushError, flushWhere);
  RemoveBackups();
  if (flushError != 0) throw Unflushed(flushError, flushWhere);
}

void Replacement::RenameIntoPlace() {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    Item& item = items_[i];
    if (!item.active) continue;
    const char* file = item.target.back().c_str();
    if (item.renameBackup) {
      if (Ops().RenameAt(item.folderFd, file, destinationFd_, item.backup.c_str()) != 0) {
        Roll(i, rt::ErrorFromErrno(errno, "「" + item.label + "」を置き換えられません: " + Where(item.target)));
      }
      item.backupMade = true;
      if (item.removal) {
        item.inPlace = true;
        continue;
      }
      // The old file is out of the way on disk before a new one can take
      // its name: otherwise a power cut could keep the second rename and lose
      // the first, and with it the old file.
      if (flush_ && (Ops().Fsync(item.folderFd) != 0 || Ops().Fsync(destinationFd_) != 0)) {
        Roll(i, rt::ErrorFromErrno(errno, "「" + item.label + "」を置き換えられません: " + Where(item.target)));
      }
    }
    if (item.removal) {
      if (Ops().UnlinkAt(item.folderFd, file, 0) != 0) {
        Roll(i, rt::ErrorFromErrno(errno, "「" + item.label + "」を削除できません: " + Where(item.target)));
      }
    } else if (Ops().RenameAt(destinationFd_, item.staged.c_str(), item.folderFd, file) != 0) {
      Roll(i, rt::ErrorFromErrno(errno, "「" + item.label + "」を置き換えられません: " + Where(item.target)));
    }
    item.inPlace = true;
  }
}

// Each folder a rename touched once: the created ones' parents, the
// targets' folders, the destination last. The first failure is kept.
void Replacement::FlushRenames(int& flushError, std::string& flushWhere) {
  std::vector<int> flushed;
  auto flushOnce = [&](int fd, const std::string& shown) {
    if (std::find(flushed.begin(), flushed.end(), fd) != flushed.end()) return;
    flushed.push_back(fd);
    Flush(fd, shown, flushError, flushWhere);
  };
  for (const auto& [parent, name] : created_) flushOnce(parent, destination_);
  for (const Item& item : items_) {
    if (item.active) flushOnce(item.folderFd, Where(item.target));
  }
  flushOnce(destinationFd_, destination_);
}

// True when a journal entry now counts for this change.
bool Replacement::CommitJournal() {
  JournalScope* journal = JournalScope::Current();
  if (journal == nullptr || record_.empty()) return false;
  try {
    journal->journal().Commit(journal->token());
  } catch (const rt::RuntimeError& e) {
    // Without its way back the change does not happen.
    Roll(items_.size() - 1, e);
  }
  return true;
}

void Replacement::RemoveRecord(bool journaled, int& flushError, std::string& flushWhere) {
  if (record_.empty()) return;
  if (Ops().UnlinkAt(destinationFd_, record_.c_str(), 0) != 0) {
    if (!journaled) {
      Roll(items_.size() - 1, rt::ErrorFromErrno(errno, "置き換えの記録を削除できないため、置き換えを取り消しました: " +
                                                            InDestination(record_)));
    }
    // The change counts already; the next recovery finishes it.
    keepForRecovery_ = true;
    throw Unflushed(errno, InDestination(record_));
  }
  record_.clear();
  Flush(destinationFd_, destination_, flushError, flushWhere);
}

void Replacement::RemoveBackups() {
  for (Item& item : items_) {
    if (item.backupMade) Ops().UnlinkAt(destinationFd_, item.backup.c_str(), 0);
    item.backupMade = false;
  }
}

rt::RuntimeError Replacement::Unflushed(int errnum, const std::string& where) const {
  const rt::RuntimeError cause = rt::ErrorFromErrno(errnum, where);
  return rt::RuntimeError(
      cause.number(),
      Labels() + "は置き換えましたが、ディスクに書き込まれていない可能性があります。(" + cause.description() + ")");
}

void Replacement::Roll(std::size_t upTo, const rt::RuntimeError& cause) {
  std::vector<std::string> kept;
  for (std::size_t j = upTo + 1; j-- > 0;) {
    Item& item = items_[j];
    if (!item.active) continue;
    const char* file = item.target.back().c_str();
    if (item.backupMade && (item.inPlace || item.renameBackup)) {
      if (Ops().RenameAt(destinationFd_, item.backup.c_str(), item.folderFd, file) == 0) {
        item.backupMade = false;
        item.inPlace = false;
      } else {
        kept.push_back(InDestination(item.backup));
      }
    } else if (item.inPlace && !item.removal) {
      // Nothing was there before: the new file goes again.
      Ops().UnlinkAt(item.folderFd, file, 0);
      item.inPlace = false;
    }
  }
  if (kept.empty()) throw cause;
  // The record stays with the backups, so the next run puts them back; until
  // then a person can do it by hand.
  keepForRecovery_ = true;
  std::string paths;
  for (const std::string& path : kept) paths += "「" + path + "」";
  throw rt::RuntimeError(cause.number(), cause.description() + "。元に戻せなかったファイルの置き換え前の内容は" +
                                             paths + "に残っています。");
}

}  // namespace zr::replace
