#include "window/Presenters.h"

#include <memory>

#include "platform/runtime/Interaction.h"
#include "restore/TemplateRestore.h"
#include "restore/VersionCheck.h"
#include "startup/ComErr.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/Components.h"
#include "suite/SuiteName.h"

namespace zr::window {
namespace {

constexpr const char* kNoticeText = "リストアしています．．．";
constexpr const char* kCompleted = "雛形（文書選択編集）の復旧を完了しました。";

std::string ArchivePath(const RestoreWindow& form, const std::string& archiveName) {
  return archiveName.empty() ? std::string() : form.BkupPath() + archiveName;
}

// The suite's wait notice, up from the first Refresh to the second.
class WaitNotice : public restore::RestoreFeedback {
 public:
  void ShowWaitNotice() override {
    notice_ = suite::CreateProgressNotice();
    notice_->SetMessage(kNoticeText);
    notice_->SetVisible(-1);
    notice_->Refresh();
  }
  void LetEventsThrough() override { rt::DoEvents(); }
  void HideWaitNotice() override {
    notice_->SetVisible(0);
    notice_->Refresh();
    notice_.reset();
  }
  // On the error path the notice is released, not switched off.
  void Release() { notice_.reset(); }

 private:
  std::unique_ptr<suite::ProgressNotice> notice_;
};

}  // namespace

bool MBlnZrVerChk(RestoreWindow& form, std::string archiveName) {
  restore::Outcome outcome;
  try {
    auto services = suite::CreateSuiteServices();
    outcome =
        restore::CheckBackupVersion(*services, ArchivePath(form, archiveName), startup::GStrTempPath, form.hWnd());
  } catch (...) {
    suite::DropExtractionAhead();
    outcome = restore::Outcome::Failed(rt::CurrentError());
  }
  switch (outcome.kind) {
    case restore::Outcome::Kind::Done:
      return true;
    case restore::Outcome::Kind::Refused:
      rt::MsgBox(restore::RefusalText(outcome.refusal) + "\r\nデータは復旧しませんでした。\r\n",
                 rt::mb::OkOnly | rt::mb::Exclamation, suite::kSuiteName);
      return false;
    case restore::Outcome::Kind::Failed:
      startup::TrapError(outcome.error, "MBlnZrVerChk");
      return false;
  }
  return false;
}

void MSubRestoreSyori(RestoreWindow& form, std::string archiveName) {
  restore::Outcome outcome;
  WaitNotice notice;
  try {
    form.SetEnabled(false);
    rt::SetMousePointer(rt::pointer::Hourglass);
    auto services = suite::CreateSuiteServices();
    rt::PrepareMsgBox(kCompleted, rt::mb::OkOnly | rt::mb::Information, suite::kSuiteName);
    outcome = restore::RestoreTemplates(*services, ArchivePath(form, archiveName), notice, form.hWnd());
    if (outcome.done()) rt::MsgBox(kCompleted, rt::mb::OkOnly | rt::mb::Information, suite::kSuiteName);
  } catch (...) {
    suite::DropExtractionAhead();
    outcome = restore::Outcome::Failed(rt::CurrentError());
  }
  if (!outcome.done()) {
    notice.Release();
    startup::TrapError(outcome.error, "MSubRestoreSyori");
  }
  try {
    form.SetEnabled(true);
  } catch (...) {
  }
  try {
    rt::SetMousePointer(rt::pointer::Default);
  } catch (...) {
  }
}

}  // namespace zr::window
