// The history as the journal of the data folder's replacements: entries are
// made pending, count once their replacement commits, and go when it does
// not happen.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/replace/LinkOrCopy.h"
#include "platform/replace/LinkedFolder.h"
#include "platform/runtime/FileOps.h"
#include "restore/History.h"
#include "restore/HistoryFolder.h"
#include "restore/HistoryRecord.h"
#include "suite/Templates.h"

namespace zr::restore {
namespace {

namespace fs = std::filesystem;
using namespace history;
using rt::Ops;

// Past the top no number is handed out again: a lower one would sort a new
// entry below older ones, and an undo would take back the wrong change.
rt::RuntimeError TopReached(const fs::path& root) {
  return rt::RuntimeError(rt::err::PathFileAccess, "履歴の番号が上限の " + TokenFor(kMaxSequence) +
                                                       " に達したため、復旧前の雛形を履歴に保存できません。番号の大"
                                                       "きい履歴を「" +
                                                       root.string() + "」の外へ移してください。");
}

uint64_t NextSequence(int rootFd, const fs::path& root) {
  uint64_t newest = 0;
  for (const std::string& name : rt::FolderNames(rootFd)) {
    std::string_view digits = name;
    if (digits.starts_with(kPendingPrefix)) digits.remove_prefix(kPendingPrefix.size());
    newest = std::max(newest, SequenceOf(digits).value_or(0));
  }
  if (newest >= kMaxSequence) throw TopReached(root);
  return newest + 1;
}

struct NewEntry {
  std::string token;
  rt::UniqueFd folder;
  rt::UniqueFd work;
};

// A pending entry folder with its Work folder, under the next free sequence number.
NewEntry MakePendingEntry(int rootFd, const fs::path& root) {
  for (uint64_t sequence = NextSequence(rootFd, root); sequence <= kMaxSequence; ++sequence) {
    NewEntry entry;
    entry.token = TokenFor(sequence);
    const std::string name = PendingName(entry.token);
    if (Ops().MkdirAt(rootFd, name.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      throw HistoryError(errno, root / name);
    }
    entry.folder = OpenFolderAt(rootFd, name);
    if (entry.folder.valid() && Ops().MkdirAt(entry.folder.get(), kWork, 0700) == 0) {
      entry.work = OpenFolderAt(entry.folder.get(), kWork);
    }
    if (!entry.work.valid()) {
      const int e = errno;
      RemoveTree(rootFd, name);
      throw HistoryError(e, root / name);
    }
    return entry;
  }
  throw TopReached(root);
}

// restore.ini and every folder of the entry on disk; the entry is still pending.
void FinishEntry(int rootFd, const fs::path& root, NewEntry& entry, const EntryFacts& facts) {
  const fs::path where = root / PendingName(entry.token);
  WriteRecord(entry.folder.get(), where, SequenceOf(entry.token).value_or(0), facts);
  Flush(entry.work.get(), where / kWork);
  Flush(entry.folder.get(), where);
  Flush(rootFd, root);
}

// Where an old copy goes in the entry: under its template's name when it is one.
std::string KeptName(const replace::OldCopy& copy, EntryFacts& facts) {
  const auto targets = suite::TemplateTargets();
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (copy.target == targets[i]) {
      facts.templates[i] = TemplateState::Present;
      return targets[i].back();
    }
  }
  return copy.name;
}

class FolderHistory : public replace::Journal {
 public:
  explicit FolderHistory(fs::path root) : root_(std::move(root)) {}

  bool Committed(const std::string& token) override {
    if (!SequenceOf(token)) return false;
    const rt::UniqueFd root = OpenRoot(root_, false);
    return root.valid() && OpenFolderAt(root.get(), token).valid();
  }

  void Commit(const std::string& token) override {
    const rt::UniqueFd root = OpenRoot(root_, false);
    if (!SequenceOf(token) || !root.valid()) throw HistoryError(root.valid() ? EINVAL : errno, root_);
    if (OpenFolderAt(root.get(), token).valid()) return;
    if (Ops().RenameAt(root.get(), PendingName(token).c_str(), root.get(), token.c_str()) != 0) {
      throw HistoryError(errno, root_ / token);
    }
    Flush(root.get(), root_);
  }

  // Only the pending entry goes: an entry that counts is a way back already
  // offered, and no record naming it takes that away.
  void Discard(const std::string& token) noexcept override {
    const rt::UniqueFd root = OpenRoot(root_, false);
    if (!SequenceOf(token) || !root.valid()) return;
    RemoveTree(root.get(), PendingName(token));
    Ops().Fsync(root.get());
  }

  void Salvage(int folderFd, const std::vector<replace::OldCopy>& copies) override {
    const rt::UniqueFd root = OpenRoot(root_, true);
    if (!root.valid()) throw HistoryError(errno, root_);
    NewEntry entry = MakePendingEntry(root.get(), root_);
    try {
      EntryFacts facts;
      facts.recovered = true;
      facts.templates.assign(suite::kTemplateMembers.size(), TemplateState::Unknown);
      for (const replace::OldCopy& copy : copies) {
        const std::string name = KeptName(copy, facts);
        if (const int e = replace::LinkOrCopy(folderFd, copy.name, entry.work.get(), name); e != 0) {
          throw HistoryError(e, root_ / PendingName(entry.token) / kWork / name);
        }
      }
      FinishEntry(root.get(), root_, entry, facts);
      Commit(entry.token);
    } catch (...) {
      RemoveTree(root.get(), PendingName(entry.token));
      throw;
    }
    // Only now that the entry holds them do the copies leave the folder.
    for (const replace::OldCopy& copy : copies) Ops().UnlinkAt(folderFd, copy.name.c_str(), 0);
    Ops().Fsync(folderFd);
  }

  void DropPendingExcept(const std::set<std::string>& tokens) noexcept override {
    const rt::UniqueFd root = OpenRoot(root_, false);
    if (!root.valid()) return;
    bool removed = false;
    for (const std::string& name : rt::FolderNames(root.get())) {
      if (!Stale(name, tokens)) continue;
      RemoveTree(root.get(), name);
      removed = true;
    }
    if (removed) Ops().Fsync(root.get());
  }

 private:
  // A pending entry no record names, or what a crash left of a pruned one;
  // names of no entry of ours stay.
  static bool Stale(const std::string& name, const std::set<std::string>& tokens) {
    if (name.starts_with(kPrunedPrefix)) return EntryName(std::string_view(name).substr(kPrunedPrefix.size()));
    if (!name.starts_with(kPendingPrefix)) return false;
    const std::string token = name.substr(kPendingPrefix.size());
    return SequenceOf(token).has_value() && tokens.count(token) == 0;
  }

  fs::path root_;
};

// The folder of the template `member` in the data folder open at `data`;
// fd is -1 when one above it is missing. A linked one is refused by name.
struct TemplateFolder {
  rt::UniqueFd owned;
  int fd = -1;
};

TemplateFolder FolderOf(int data, const std::string& dataFolder, const std::string& member) {
  const auto parts = suite::TemplatePathParts(member);
  TemplateFolder folder{rt::UniqueFd(), data};
  fs::path shown = dataFolder;
  for (std::size_t i = 0; i + 1 < parts.size() && folder.fd >= 0; ++i) {
    shown /= parts[i];
    rt::UniqueFd next = OpenFolderAt(folder.fd, parts[i]);
    if (!next.valid()) replace::RefuseLinkedFolder(folder.fd, parts[i], shown.string());
    folder.owned = std::move(next);
    folder.fd = folder.owned.get();
  }
  return folder;
}

// Keeps the template `member` in the new entry and says how it was.
TemplateState KeepTemplate(int data, const std::string& dataFolder, const std::string& member, const NewEntry& entry,
                           const fs::path& root) {
  const std::string file = suite::TemplatePathParts(member).back();
  const TemplateFolder parent = FolderOf(data, dataFolder, member);
  struct stat st {};
  if (parent.fd < 0 || Ops().FstatAt(parent.fd, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) throw HistoryError(errno, fs::path(dataFolder) / member);
    return TemplateState::Absent;
  }
  // Anything but a regular file is not put back by an undo.
  if (!S_ISREG(st.st_mode)) return TemplateState::Unknown;
  if (const int e = replace::LinkOrCopy(parent.fd, file, entry.work.get(), file); e != 0) {
    throw HistoryError(e, root / PendingName(entry.token) / kWork / file);
  }
  return TemplateState::Present;
}

}  // namespace

std::shared_ptr<replace::Journal> HistoryJournal(const fs::path& root) { return std::make_shared<FolderHistory>(root); }

PendingHistoryEntry PendingHistoryEntry::Record(const fs::path& root, const std::string& dataFolder,
                                                const std::string& archive, const std::string& installedVersion,
                                                bool fromUndo) {
  const rt::UniqueFd rootFd = OpenRoot(root, true);
  if (!rootFd.valid()) throw HistoryError(errno, root);
  const rt::UniqueFd data = rt::OwnedFd(Ops().Open(dataFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!data.valid()) throw HistoryError(errno, dataFolder);

  NewEntry entry = MakePendingEntry(rootFd.get(), root);
  try {
    EntryFacts facts{archive, installedVersion, fromUndo, false, {}};
    for (const std::string& member : suite::kTemplateMembers) {
      facts.templates.push_back(KeepTemplate(data.get(), dataFolder, member, entry, root));
    }
    FinishEntry(rootFd.get(), root, entry, facts);
  } catch (...) {
    RemoveTree(rootFd.get(), PendingName(entry.token));
    throw;
  }
  return PendingHistoryEntry(root, entry.token);
}

PendingHistoryEntry::PendingHistoryEntry(fs::path root, std::string token)
    : root_(std::move(root)), token_(std::move(token)), journal_(HistoryJournal(root_)) {}

PendingHistoryEntry::PendingHistoryEntry(PendingHistoryEntry&& other) noexcept
    : root_(std::move(other.root_)), token_(std::exchange(other.token_, {})), journal_(std::move(other.journal_)) {}

void PendingHistoryEntry::Keep() {
  journal_->Commit(token_);
  token_.clear();
}

PendingHistoryEntry::~PendingHistoryEntry() {
  if (token_.empty()) return;
  // Still pending: its replacement did not commit. A committed entry was renamed away from this name.
  const rt::UniqueFd root = OpenRoot(root_, false);
  if (!root.valid()) return;
  RemoveTree(root.get(), PendingName(token_));
  Ops().Fsync(root.get());
}

}  // namespace zr::restore
