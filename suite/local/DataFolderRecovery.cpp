#include "suite/local/DataFolderRecovery.h"

#include "platform/lzh/RememberedWalks.h"
#include "platform/replace/Journal.h"
#include "platform/replace/RecordKey.h"
#include "platform/replace/Recovery.h"
#include "platform/runtime/RuntimeError.h"
#include "suite/Templates.h"
#include "suite/local/ErrorLog.h"
#include "suite/local/LocalSuiteServices.h"
#include "suite/local/SuiteHome.h"

namespace zr::suite {
namespace {

constexpr const char* kLogName = "ZrBunsyoRes";
constexpr const char* kLogProcedure = "RecoverDataFolder";

void Note(const std::string& text) {
  AppendErrorLog(SuiteHome() / "log" / "error.log", kLogName, kLogProcedure, text, 0);
}

}  // namespace

void RecoverDataFolder() noexcept {
  try {
    const std::string dataFolder = LocalDataFolder();
    if (dataFolder.empty()) return;
    const std::shared_ptr<replace::Journal> journal = replace::InstalledJournal();
    replace::RecoveryScope scope;
    scope.targets = TemplateTargets();
    scope.journal = journal.get();
    scope.dropStalePending = true;
    replace::RecoverFolder(dataFolder, scope);
  } catch (const rt::RuntimeError& e) {
    replace::RecoveryNote(e.description());
  } catch (...) {
  }
}

void InstallRecoveryLog() { replace::InstallRecoveryNotes(Note); }

void InstallRecordKey() {
  replace::InstallRecordKeyFile([] { return SuiteHome() / "record.key"; });
  // Sealed with that key, so only this user's runs can say where a member lies.
  lzh::InstallWalkStore([] { return SuiteHome() / "walks"; });
}

}  // namespace zr::suite
