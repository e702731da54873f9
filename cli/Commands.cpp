#include "cli/Commands.h"

#include <ostream>

namespace zr::cli {

int RunCommand(const Request& request, Console& console) {
  switch (request.command) {
    case Command::Verify:
      return RunVerify(request.paths, console, {request.onlyNew, request.notify});
    case Command::History:
      return RunHistory(console);
    case Command::Undo:
      return RunUndo(request.yes, console);
    case Command::Help:
      console.out << UsageText();
      return kExitOk;
    case Command::Version:
      console.out << "ZrBunsyoRes " << ZR_DISPLAY_VERSION << "\n";
      return kExitOk;
    case Command::UsageError:
      console.err << "ZrBunsyoRes: " << request.problem << "\n"
                  << "「ZrBunsyoRes --help」で使い方を表示します。\n";
      return kExitUsage;
    case Command::Window:
      break;
  }
  return kExitUsage;
}

}  // namespace zr::cli
