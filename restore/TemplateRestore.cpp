#include "restore/TemplateRestore.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/replace/Journal.h"
#include "platform/runtime/Interaction.h"
#include "platform/runtime/Moments.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"
#include "restore/History.h"
#include "restore/MissingMembers.h"
#include "restore/VersionCheck.h"
#include "startup/ComErr.h"
#include "startup/PathSeparator.h"
#include "suite/Components.h"
#include "suite/SuiteName.h"

namespace zr::restore {
namespace {

constexpr const char* kNoticeText = "リストアしています．．．";
constexpr const char* kCompleted = "雛形（文書選択編集）の復旧を完了しました。";

}  // namespace

std::string ReadDataFolder(suite::SuiteServices& services) {
  std::string section = "Common";
  std::string key = "DataPath";
  std::string folder;
  services.ReadSetting(section, key, folder);
  // Without a data folder the templates would land in the file system's root.
  if (folder.empty()) {
    throw rt::RuntimeError(rt::err::PathNotFound, "データフォルダ（Common の DataPath）が設定されていません。");
  }
  if (!rt::EndsWith(folder, startup::kSep)) folder += startup::kSep;
  // A relative folder would be taken from wherever the program was started.
  if (folder.front() != '/') {
    throw rt::RuntimeError(rt::err::InvalidProcedureCall, "展開先のフォルダーが正しくありません。(" + folder + ")");
  }
  return folder;
}

namespace {

// Old history entries go while the completion message is up; the restore
// returns only once they have.
class BackgroundPruning {
 public:
  ~BackgroundPruning() {
    if (worker_.joinable()) worker_.join();
  }
  void Start(const std::filesystem::path& root) {
    try {
      worker_ = std::thread(PruneHistory, root);
    } catch (const std::system_error&) {
      PruneHistory(root);
    }
  }

 private:
  std::thread worker_;
};

}  // namespace

void MSubRestoreSyori(RestoreWindow& form, std::string archiveName) {
  BackgroundPruning pruning;
  try {
    form.SetEnabled(false);
    rt::SetMousePointer(rt::pointer::Hourglass);

    auto notice = suite::CreateProgressNotice();
    notice->SetMessage(kNoticeText);
    notice->SetVisible(-1);
    notice->Refresh();
    rt::DoEvents();
    rt::Moment("restore-notice-shown");

    auto services = suite::CreateSuiteServices();
    const std::string dataFolder = ReadDataFolder(*services);

    if (!archiveName.empty()) {
      std::vector<std::string> members = kTemplateMembers;
      const std::string archivePath = form.BkupPath() + archiveName;
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
        services->ExtractArchive(form.hWnd(), archivePath, dataFolder, kKeepFoldersMode, members, missing);
      }
      // The archive lacked a template: nothing was written, and saying
      // "completed" would be a lie.
      if (missing != 0) throw MissingMembersError(archivePath, members, missing);
      rt::Moment("restore-extracted");
      if (history) pruning.Start(history->root());
    }

    notice->SetVisible(0);
    notice->Refresh();
    notice.reset();
    rt::Moment("restore-notice-gone");

    rt::MsgBox(kCompleted, rt::mb::OkOnly | rt::mb::Information, suite::kSuiteName);
  } catch (...) {
    // What the version check began ahead goes before the error is shown.
    suite::DropExtractionAhead();
    startup::TrapCurrentError("MSubRestoreSyori");
  }

  // Whatever the version check began ahead and this restore did not take.
  suite::DropExtractionAhead();
  try {
    form.SetEnabled(true);
  } catch (...) {
  }
  try {
    rt::SetMousePointer(rt::pointer::Default);
  } catch (...) {
  }
}

}  // namespace zr::restore
