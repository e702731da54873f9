#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/UniqueFd.h"

// The history folder as its own files see it: which names are entries, how
// they are numbered, and the few file operations every part of it shares.
// Only the history's files include this.
namespace zr::restore::history {

inline constexpr const char* kEntryFile = "restore.ini";
inline constexpr const char* kWork = "Work";
inline constexpr std::string_view kPendingPrefix = ".pending-";
// An entry on its way out: no longer listed, removed by the next start when
// a crash stops its removal half-way.
inline constexpr std::string_view kPrunedPrefix = ".pruned-";

// Entries are numbered 1 to kMaxSequence, named by exactly eight digits. A
// name outside that is nobody's entry: it is not listed, not counted and
// never removed.
inline constexpr std::size_t kSequenceDigits = 8;
inline constexpr uint64_t kMaxSequence = 99'999'999;

std::optional<uint64_t> SequenceOf(std::string_view name);
std::string TokenFor(uint64_t sequence);
// Earlier versions named entries by the local time: "YYYYMMDD-HHMMSS", and
// "-N" for the N-th of the same second.
bool EarlierName(std::string_view name);
// A numbered entry's name or an earlier version's.
bool EntryName(std::string_view name);
std::string PendingName(const std::string& token);

rt::RuntimeError HistoryError(int errnum, const std::filesystem::path& where);
// The history folder; with `create`, made (and its making flushed) when it is missing.
rt::UniqueFd OpenRoot(const std::filesystem::path& root, bool create);
// A folder in the one open at `dirFd`, never through a link.
rt::UniqueFd OpenFolderAt(int dirFd, const std::string& name);
// Removes a file or a folder with what it holds, never through a link.
void RemoveTree(int dirFd, const std::string& name, int depth = 0);
void Flush(int fd, const std::filesystem::path& where);

}  // namespace zr::restore::history
