#include <ostream>

#include "cli/Commands.h"
#include "restore/History.h"

namespace zr::cli {

const char* EntryKind(const restore::HistoryEntry& entry) {
  return entry.recovered ? "回収" : entry.fromUndo ? "元に戻す" : "復旧";
}

int RunHistory(Console& console) {
  const auto root = restore::HistoryRoot();
  const auto entries = root ? restore::ListHistory(*root) : std::vector<restore::HistoryEntry>{};
  if (entries.empty()) {
    console.out << "復旧の履歴はありません。\n";
    return kExitOk;
  }
  for (const auto& entry : entries) {
    // An entry that cannot be used still shows, with why, where its archive would be.
    const std::string what = !entry.problem.empty() ? entry.problem
                             : entry.recovered      ? "中断された置き換えの前の内容"
                                                    : entry.archive;
    // The number first: it is what --undo N takes.
    console.out << Shown(restore::EntryLabel(entry)) << '\t' << Shown(entry.time) << '\t' << EntryKind(entry) << '\t'
                << Shown(what) << '\n';
  }
  return kExitOk;
}

}  // namespace zr::cli
