#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The way back from a restore: before the templates are replaced, the pair in
// the data folder is kept as an entry of the restore history, so that a
// restore from the wrong backup can be undone.
namespace zr::restore {

// The templates as the data folder holds them, relative to it.
inline const std::vector<std::string> kTemplateFiles = {"Work/ZrBunsyo.wf6", "Work/ZrTuBun.wf6"};
inline constexpr std::size_t kHistoryKept = 5;

struct HistoryEntry {
  std::filesystem::path folder;  // <root>/<YYYYMMDD-HHMMSS>[-N]
  std::string time;              // YYYY-MM-DD HH:MM:SS, local time
  std::string archive;           // the backup restored from, or the entry put back by an undo
  std::string installedVersion;
  bool fromUndo = false;
};

// Where the history lives. The program points it at the suite home; while
// nothing is installed no history is kept.
void InstallHistoryRoot(std::function<std::filesystem::path()> root);
std::optional<std::filesystem::path> HistoryRoot();

// Entries, newest first. A missing root is an empty history.
std::vector<HistoryEntry> ListHistory(const std::filesystem::path& root);

// Removes the oldest entries beyond kHistoryKept, quietly: a leftover old
// entry harms nobody. Removing an entry frees the files it alone still
// holds, which takes a while for large templates.
void PruneHistory(const std::filesystem::path& root) noexcept;

// An entry recorded ahead of a replacement. It is complete and on disk when
// Record returns; unless Keep() is called, the destructor removes it again
// (the replacement it was made for did not happen).
class PendingHistoryEntry {
 public:
  // Hard links where the history and the data folder share a file system,
  // flushed copies otherwise. A template missing from the data folder is
  // simply absent from the entry. Failure is a run-time error and leaves
  // nothing behind.
  static PendingHistoryEntry Record(const std::filesystem::path& root, const std::string& dataFolder,
                                    const std::string& archive, const std::string& installedVersion, bool fromUndo);

  PendingHistoryEntry(PendingHistoryEntry&& other) noexcept;
  PendingHistoryEntry& operator=(PendingHistoryEntry&&) = delete;
  ~PendingHistoryEntry();

  const std::filesystem::path& folder() const { return folder_; }
  // The replacement happened: the entry stays, and the oldest beyond
  // kHistoryKept go (PruneHistory).
  void Keep();
  // The same without the pruning, left to the caller; returns the root.
  std::filesystem::path KeepWithoutPruning();

 private:
  PendingHistoryEntry(std::filesystem::path root, std::filesystem::path folder);
  std::filesystem::path root_;
  std::filesystem::path folder_;
};

}  // namespace zr::restore
