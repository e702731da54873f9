#include <filesystem>
#include <ostream>
#include <string>

#include "cli/Commands.h"
#include "platform/runtime/RuntimeError.h"
#include "restore/TemplateRestore.h"
#include "restore/VersionCheck.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/Components.h"

namespace zr::cli {
namespace {

std::string FailedLine(const rt::RuntimeError& e) {
  return "実行時エラー " + std::to_string(e.number()) + ": " + Shown(e.description(), false);
}

// The restore itself, once the start rules have let it run: the window's
// checks, the question, then the same core the window runs.
int Restore(const std::string& archive, bool yes, Console& console) {
  const std::string shown = "「" + Shown(archive) + "」";
  auto services = suite::CreateSuiteServices();
  // A data folder the restore would refuse is refused before anybody is asked.
  try {
    restore::ReadDataFolder(*services);
  } catch (const rt::RuntimeError& e) {
    console.err << "ZrBunsyoRes: " << FailedLine(e) << "\n";
    return kExitFailed;
  }
  const restore::Outcome check = restore::CheckBackupVersion(*services, archive, startup::GStrTempPath);
  if (check.kind == restore::Outcome::Kind::Refused) {
    console.err << "ZrBunsyoRes: " << shown << "から復旧しませんでした。" << restore::RefusalText(check.refusal)
                << "\n";
    return kExitFailed;
  }
  if (!check.done()) {
    console.err << "ZrBunsyoRes: " << FailedLine(check.error) << "\n";
    return kExitFailed;
  }
  if (!Asked(console, yes,
             shown + "（データのバージョン " + Shown(check.dataVersion, false) +
                 "）から雛形（文書選択編集）を復旧します。",
             "現在の雛形は履歴に残ります。よろしいですか？", "確認なしで復旧するには --yes を指定してください。")) {
    suite::DropExtractionAhead();
    console.out << "中止しました。\n";
    return kExitFailed;
  }
  restore::NoFeedback nobody;
  const restore::Outcome restored = restore::RestoreTemplates(*services, archive, nobody);
  if (!restored.done()) {
    console.err << "ZrBunsyoRes: " << FailedLine(restored.error) << "\n";
    return kExitFailed;
  }
  console.out << "雛形（文書選択編集）を" << shown << "から復旧しました。\n";
  return kExitOk;
}

}  // namespace

int RunRestore(const std::string& archive, bool yes, Console& console) {
  // The history names the archive; a relative name would mean nothing later.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(archive, ec);
  const std::string path = ec ? archive : absolute.lexically_normal().string();
  return RunStarted(console, "復旧できません", [&] { return Restore(path, yes, console); });
}

}  // namespace zr::cli
