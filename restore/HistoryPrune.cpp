// Old entries go, a few of each kind kept.
#include <array>
#include <string>

#include "platform/runtime/FileOps.h"
#include "restore/History.h"
#include "restore/HistoryFolder.h"

namespace zr::restore {
namespace {

using rt::Ops;

// Each kind is kept on its own, so that a recovery's old copies never push
// out the way back of a restore or an undo, and entries whose record cannot
// be read (whatever put them there) push out neither.
enum class Kind { Ordinary, Recovered, Unreadable };

Kind KindOf(const HistoryEntry& entry) {
  if (!entry.problem.empty()) return Kind::Unreadable;
  return entry.recovered ? Kind::Recovered : Kind::Ordinary;
}

// The names of the entries beyond the newest kHistoryKept of their kind.
std::vector<std::string> Beyond(const std::vector<HistoryEntry>& entries) {
  std::array<std::size_t, 3> seen{};
  std::vector<std::string> names;
  for (const HistoryEntry& entry : entries) {
    if (++seen[static_cast<std::size_t>(KindOf(entry))] > kHistoryKept) {
      names.push_back(entry.folder.filename().string());
    }
  }
  return names;
}

}  // namespace

void PruneHistory(const std::filesystem::path& root) noexcept {
  try {
    const std::vector<std::string> old = Beyond(ListHistory(root));
    if (old.empty()) return;
    const rt::UniqueFd rootFd = history::OpenRoot(root, false);
    if (!rootFd.valid()) return;
    // An entry leaves the listing in one rename, on disk before its files
    // go: a crash half-way through the removal must not leave an entry
    // without its record or its templates.
    std::vector<std::string> going;
    for (const std::string& name : old) {
      const std::string pruned = std::string(history::kPrunedPrefix) + name;
      if (Ops().RenameAt(rootFd.get(), name.c_str(), rootFd.get(), pruned.c_str()) == 0) going.push_back(pruned);
    }
    if (going.empty() || Ops().Fsync(rootFd.get()) != 0) return;
    for (const std::string& name : going) history::RemoveTree(rootFd.get(), name);
  } catch (...) {
  }
}

}  // namespace zr::restore
