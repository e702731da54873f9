#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/replace/Journal.h"

// The way back from a restore: before the templates are replaced, the pair in
// the data folder is kept as an entry of the restore history, so that a
// restore from the wrong backup can be undone. An entry counts only once the
// replacement it was made for has committed.
namespace zr::restore {

inline constexpr std::size_t kHistoryKept = 5;

enum class TemplateState { Present, Absent, Unknown };

struct HistoryEntry {
  std::filesystem::path folder;  // <root>/<sequence>, or <root>/<YYYYMMDD-HHMMSS>[-N] from earlier versions
  uint64_t sequence = 0;         // 1 to 99999999; 0 for entries of earlier versions, which all count as older
  std::string time;              // YYYY-MM-DD HH:MM:SS, local time
  std::string archive;           // the backup restored from, or the entry put back by an undo
  std::string installedVersion;
  bool fromUndo = false;
  bool recovered = false;                // old copies a recovery found, not a restore's
  std::vector<TemplateState> templates;  // in the order of suite::kTemplateMembers
  std::string problem;                   // why the entry cannot be used; empty when it can
};

// Where the history lives. The program points it at the suite home (which
// also makes it the journal of the data folder's recovery); while nothing is
// installed no history is kept.
void InstallHistoryRoot(std::function<std::filesystem::path()> root);
std::optional<std::filesystem::path> HistoryRoot();

// Entries that count, newest first. A missing root is an empty history.
std::vector<HistoryEntry> ListHistory(const std::filesystem::path& root);

// Removes the oldest entries beyond the newest kHistoryKept of their kind,
// quietly: a leftover old entry harms nobody. A restore's or an undo's
// entries, a recovery's (recovered) and those whose record cannot be read
// are each kept on their own, so one kind never pushes out another. Each
// leaves the listing whole, in one rename; what a crash leaves of its files
// goes at the next start, with the stale pending entries (the journal's
// DropPendingExcept).
void PruneHistory(const std::filesystem::path& root) noexcept;

// The history as the journal of the data folder's replacements.
std::shared_ptr<replace::Journal> HistoryJournal(const std::filesystem::path& root);

// How a person names an entry, as --history shows it and --undo N takes it:
// its sequence number without the leading zeros, or an earlier version's
// folder name.
std::string EntryLabel(const HistoryEntry& entry);
// The folder name of the entry `label` names, with or without leading
// zeros; nothing when it cannot name one.
std::optional<std::string> EntryFolderFor(std::string_view label);

// An entry recorded ahead of a replacement: complete and on disk, but
// pending. A replacement committed while a replace::JournalScope carries
// its token() makes it count; otherwise the destructor removes it again.
class PendingHistoryEntry {
 public:
  // Hard links where the history and the data folder share a file system,
  // flushed copies otherwise. Failure is a run-time error and leaves nothing
  // behind.
  static PendingHistoryEntry Record(const std::filesystem::path& root, const std::string& dataFolder,
                                    const std::string& archive, const std::string& installedVersion, bool fromUndo);

  PendingHistoryEntry(PendingHistoryEntry&& other) noexcept;
  PendingHistoryEntry& operator=(PendingHistoryEntry&&) = delete;
  ~PendingHistoryEntry();

  // Makes the entry count now, for a change made without a replacement
  // that would commit it.
  void Keep();

  const std::filesystem::path& root() const { return root_; }
  const std::string& token() const { return token_; }
  replace::Journal& journal() const { return *journal_; }

 private:
  PendingHistoryEntry(std::filesystem::path root, std::string token);
  std::filesystem::path root_;
  std::string token_;
  std::shared_ptr<replace::Journal> journal_;
};

}  // namespace zr::restore
