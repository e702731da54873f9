#include "restore/TemplateRestore.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/replace/Journal.h"
#include "platform/runtime/Moments.h"
#include "platform/runtime/RuntimeError.h"
#include "restore/History.h"
#include "restore/MissingMembers.h"
#include "restore/VersionCheck.h"
#include "suite/Components.h"

namespace zr::restore {
namespace {

// Old history entries go while the caller tells of the restore; the
// outcome's last copy waits for them.
class BackgroundPruning {
 public:
  explicit BackgroundPruning(const std::filesystem::path& root) {
    try {
      worker_ = std::thread(PruneHistory, root);
    } catch (const std::system_error&) {
      PruneHistory(root);
    }
  }
  ~BackgroundPruning() {
    if (worker_.joinable()) worker_.join();
  }
  BackgroundPruning(const BackgroundPruning&) = delete;
  BackgroundPruning& operator=(const BackgroundPruning&) = delete;

 private:
  std::thread worker_;
};

// Records the way back, then replaces the pair; returns the history root
// when an entry was made.
std::optional<std::filesystem::path> Replace(suite::SuiteServices& services, const std::string& archivePath,
                                             const std::string& dataFolder, int32_t owner) {
  std::vector<std::string> members = kTemplateMembers;
  // The way back is on disk before anything is replaced; a restore that
  // does not happen takes its entry with it. The version check has just
  // confirmed the installed version.
  std::optional<PendingHistoryEntry> history;
  if (const auto root = HistoryRoot()) {
    history.emplace(PendingHistoryEntry::Record(*root, dataFolder, archivePath, kRequiredSuiteVersion, false));
  }
  rt::Moment("restore-history-recorded");
  int16_t missing = 0;
  {
    // The entry counts from the moment the replacement is on disk.
    std::optional<replace::JournalScope> entryScope;
    if (history) entryScope.emplace(history->journal(), history->token());
    services.ExtractArchive(owner, archivePath, dataFolder, kKeepFoldersMode, members, missing);
  }
  // The archive lacked a template: nothing was written, and saying
  // "completed" would be a lie.
  if (missing != 0) throw MissingMembersError(archivePath, members, missing);
  rt::Moment("restore-extracted");
  if (!history) return std::nullopt;
  return history->root();
}

}  // namespace

Outcome RestoreTemplates(suite::SuiteServices& services, const std::string& archivePath, RestoreFeedback& feedback,
                         int32_t owner) {
  Outcome outcome;
  try {
    feedback.ShowWaitNotice();
    feedback.LetEventsThrough();
    rt::Moment("restore-notice-shown");
    const std::string dataFolder = ReadDataFolder(services);
    if (!archivePath.empty()) {
      if (const auto root = Replace(services, archivePath, dataFolder, owner)) {
        outcome.pruning = std::make_shared<BackgroundPruning>(*root);
      }
    }
    feedback.HideWaitNotice();
    rt::Moment("restore-notice-gone");
  } catch (...) {
    outcome = Outcome::Failed(rt::CurrentError());
  }
  // Whatever the version check began ahead and this restore did not take.
  suite::DropExtractionAhead();
  return outcome;
}

}  // namespace zr::restore
