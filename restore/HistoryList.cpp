// Where the history is and which entries it holds.
#include <algorithm>
#include <mutex>
#include <utility>

#include "platform/replace/Journal.h"
#include "platform/runtime/FileOps.h"
#include "restore/History.h"
#include "restore/HistoryFolder.h"
#include "restore/HistoryRecord.h"

namespace zr::restore {
namespace {

namespace fs = std::filesystem;

std::mutex rootMutex;
std::function<fs::path()> installedRoot;

}  // namespace

void InstallHistoryRoot(std::function<fs::path()> root) {
  std::lock_guard lock(rootMutex);
  installedRoot = std::move(root);
  replace::InstallJournal(installedRoot ? HistoryJournal(installedRoot()) : nullptr);
}

std::optional<fs::path> HistoryRoot() {
  std::lock_guard lock(rootMutex);
  if (!installedRoot) return std::nullopt;
  return installedRoot();
}

std::vector<HistoryEntry> ListHistory(const fs::path& root) {
  std::vector<HistoryEntry> entries;
  const rt::UniqueFd rootFd = history::OpenRoot(root, false);
  if (!rootFd.valid()) return entries;
  for (const std::string& name : rt::FolderNames(rootFd.get())) {
    if (history::EntryName(name)) entries.push_back(history::ReadEntry(rootFd.get(), root, name));
  }
  // The sequence orders entries, whatever the clock said when they were
  // made; the earlier versions' entries all come before the first of them.
  std::sort(entries.begin(), entries.end(), [](const HistoryEntry& a, const HistoryEntry& b) {
    if (a.sequence != b.sequence) return a.sequence > b.sequence;
    return a.folder.filename().string() > b.folder.filename().string();
  });
  return entries;
}

std::string EntryLabel(const HistoryEntry& entry) {
  return entry.sequence != 0 ? std::to_string(entry.sequence) : entry.folder.filename().string();
}

std::optional<std::string> EntryFolderFor(std::string_view label) {
  if (history::EarlierName(label)) return std::string(label);
  if (label.empty() || label.size() > history::kSequenceDigits) return std::nullopt;
  // A person writes the number with or without its leading zeros.
  const std::string padded = std::string(history::kSequenceDigits - label.size(), '0') + std::string(label);
  if (!history::SequenceOf(padded)) return std::nullopt;
  return padded;
}

}  // namespace zr::restore
