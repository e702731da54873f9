#include "cli/Commands.h"

#include <ostream>

#include "platform/runtime/Text.h"

namespace zr::cli {

std::string Shown(std::string_view text, bool fileName) { return rt::EscapedForOutput(text, fileName); }

int RunCommand(const Request& request, Console& console) {
  switch (request.command) {
    case Command::Verify:
      return RunVerify(request.paths, console, {request.onlyNew, request.notify});
    case Command::History:
      return RunHistory(console);
    case Command::Undo:
      return RunUndo(request.yes, console, request.undoEntry);
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
