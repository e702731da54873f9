#include "cli/Commands.h"

#include <istream>
#include <memory>
#include <ostream>

#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/SuiteServices.h"

namespace zr::cli {

std::string Shown(std::string_view text, bool fileName) { return rt::EscapedForOutput(text, fileName); }

int RunStarted(Console& console, const char* what, const std::function<int()>& command) {
  std::unique_ptr<suite::SuiteServices> registered;
  try {
    registered = startup::MayStart();
    if (!registered) {
      console.err << "ZrBunsyoRes: ほかのあおば！ナビのプログラムが実行中のため、" << what << "。\n";
      return kExitFailed;
    }
  } catch (const rt::RuntimeError& e) {
    console.err << "ZrBunsyoRes: 実行時エラー " << e.number() << ": " << Shown(e.description(), false) << "\n";
    return kExitFailed;
  }
  return command();
}

bool Asked(Console& console, bool yes, const std::string& what, const std::string& question,
           const char* withoutAsking) {
  if (yes) return true;
  if (console.terminal) {
    console.out << what << "\n" << question << " [y/N] " << std::flush;
    std::string answer;
    std::getline(console.in, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
  }
  console.err << "ZrBunsyoRes: 確認できないため中止しました。" << withoutAsking << "\n";
  return false;
}

int RunCommand(const Request& request, Console& console) {
  switch (request.command) {
    case Command::Verify:
      return RunVerify(request.paths, console, {request.onlyNew, request.notify});
    case Command::History:
      return RunHistory(console);
    case Command::Undo:
      return RunUndo(request.yes, console, request.undoEntry);
    case Command::Restore:
      return RunRestore(request.archive, request.yes, console);
    case Command::Help:
      console.out << UsageText();
      return kExitOk;
    case Command::Version:
      console.out << "ZrBunsyoRes " << ZR_DISPLAY_VERSION << "\n";
      return kExitOk;
    case Command::UsageError:
      console.err << "ZrBunsyoRes: " << Shown(request.problem, false) << "\n"
                  << "「ZrBunsyoRes --help」で使い方を表示します。\n";
      return kExitUsage;
    case Command::Window:
      break;
  }
  return kExitUsage;
}

}  // namespace zr::cli
