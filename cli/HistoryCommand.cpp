#include <ostream>

#include "cli/Commands.h"
#include "restore/History.h"

namespace zr::cli {

int RunHistory(Console& console) {
  const auto root = restore::HistoryRoot();
  const auto entries = root ? restore::ListHistory(*root) : std::vector<restore::HistoryEntry>{};
  if (entries.empty()) {
    console.out << "復旧の履歴はありません。\n";
    return kExitOk;
  }
  for (const auto& entry : entries) {
    console.out << Shown(entry.time) << '\t' << (entry.fromUndo ? "元に戻す" : "復旧") << '\t' << Shown(entry.archive)
                << '\n';
  }
  return kExitOk;
}

}  // namespace zr::cli
