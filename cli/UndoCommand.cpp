#include <istream>
#include <ostream>

#include "cli/Commands.h"
#include "platform/runtime/Interaction.h"
#include "platform/runtime/RuntimeError.h"
#include "restore/History.h"
#include "restore/TemplateRestore.h"
#include "restore/Undo.h"
#include "restore/VersionCheck.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/Components.h"
#include "suite/SuiteName.h"

namespace zr::cli {
namespace {

// The undo itself, run by the start sequence in place of the window, so it
// obeys the same rules: one instance, no other suite program running.
class UndoRun : public startup::RestoreWindowProvider {
 public:
  UndoRun(bool yes, Console& console) : yes_(yes), console_(console) {}

  void ShowModeless() override {
    started = true;
    try {
      status = Run();
    } catch (const rt::RuntimeError& e) {
      Tell("実行時エラー " + std::to_string(e.number()) + ": " + Shown(e.description(), false), rt::mb::Critical);
      status = kExitFailed;
    }
  }

  bool started = false;
  int status = kExitFailed;

 private:
  // On a terminal the answer is y or n; without one, a message box.
  bool Confirmed(const std::string& what, const std::string& question) {
    if (yes_) return true;
    if (console_.terminal) {
      console_.out << what << "\n" << question << " [y/N] " << std::flush;
      std::string answer;
      std::getline(console_.in, answer);
      return answer == "y" || answer == "Y" || answer == "yes";
    }
    if (console_.display) {
      return rt::MsgBox(what + "\r\n" + question, rt::mb::OkCancel | rt::mb::Exclamation, suite::kSuiteName) ==
             rt::mb::AnswerOk;
    }
    console_.err << "ZrBunsyoRes: 確認できないため中止しました。確認なしで戻すには --yes を指定してください。\n";
    return false;
  }

  // The outcome on the terminal; without one, also in a box, unless the
  // caller said --yes and so expects to wait for nobody.
  void Tell(const std::string& text, int icon) {
    if (icon == rt::mb::Information) {
      console_.out << text << "\n";
    } else {
      console_.err << "ZrBunsyoRes: " << text << "\n";
    }
    if (!console_.terminal && console_.display && !yes_) rt::MsgBox(text, rt::mb::OkOnly | icon, suite::kSuiteName);
  }

  int Run() {
    auto services = suite::CreateSuiteServices();
    std::string section = "COMMON";
    std::string key = "Ver";
    std::string installed;
    services->ReadSetting(section, key, installed);
    if (installed != restore::kRequiredSuiteVersion) {
      Tell("「あおば!ナビ」のバージョンが10.0.0の場合のみ元に戻せます。", rt::mb::Exclamation);
      return kExitFailed;
    }
    const auto root = restore::HistoryRoot();
    const auto entries = root ? restore::ListHistory(*root) : std::vector<restore::HistoryEntry>{};
    if (entries.empty()) {
      Tell("元に戻せる復旧の履歴がありません。", rt::mb::Exclamation);
      return kExitFailed;
    }
    const restore::HistoryEntry& newest = entries.front();
    const std::string dataFolder = restore::ReadDataFolder(*services);
    if (!newest.problem.empty()) {
      Tell("この履歴からは戻せません。" + newest.problem + "(" + Shown(newest.folder.string()) + ")",
           rt::mb::Exclamation);
      return kExitFailed;
    }
    const std::string what = Shown(newest.time) + " の" + (newest.fromUndo ? "「元に戻す」" : "復旧") +
                             "の前の雛形（文書選択編集）に戻します。";
    if (!Confirmed(what, "現在の雛形は履歴に残ります。よろしいですか？")) {
      console_.out << "中止しました。\n";
      return kExitFailed;
    }
    restore::PutBack(*root, newest, dataFolder);
    restore::PruneHistory(*root);
    Tell("雛形（文書選択編集）を " + Shown(newest.time) + " の前の状態に戻しました。", rt::mb::Information);
    return kExitOk;
  }

  bool yes_;
  Console& console_;
};

}  // namespace

int RunUndo(bool yes, Console& console) {
  UndoRun run(yes, console);
  try {
    startup::Main(run);
  } catch (const rt::RuntimeError& e) {
    console.err << "ZrBunsyoRes: 実行時エラー " << e.number() << ": " << Shown(e.description(), false) << "\n";
    return kExitFailed;
  }
  if (!run.started) {
    console.err << "ZrBunsyoRes: ほかのあおば！ナビのプログラムが実行中のため、元に戻せません。\n";
    return kExitFailed;
  }
  return run.status;
}

}  // namespace zr::cli
