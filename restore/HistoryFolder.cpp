#include "restore/HistoryFolder.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/runtime/FileOps.h"

namespace zr::restore::history {
namespace {

namespace fs = std::filesystem;
using rt::Ops;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<uint64_t> SequenceOf(std::string_view name) {
  if (name.size() != kSequenceDigits || !AllDigits(name)) return std::nullopt;
  uint64_t sequence = 0;
  for (const char c : name) sequence = sequence * 10 + static_cast<uint64_t>(c - '0');
  if (sequence == 0) return std::nullopt;
  return sequence;
}

std::string TokenFor(uint64_t sequence) {
  char text[32];
  std::snprintf(text, sizeof text, "%08llu", static_cast<unsigned long long>(sequence));
  return text;
}

bool EarlierName(std::string_view name) {
  return name.size() >= 15 && name.size() <= 24 && AllDigits(name.substr(0, 8)) && name[8] == '-' &&
         AllDigits(name.substr(9, 6)) && (name.size() == 15 || (name[15] == '-' && AllDigits(name.substr(16))));
}

bool EntryName(std::string_view name) { return SequenceOf(name).has_value() || EarlierName(name); }

std::string PendingName(const std::string& token) { return std::string(kPendingPrefix) + token; }

rt::RuntimeError HistoryError(int errnum, const fs::path& where) {
  return rt::ErrorFromErrno(errnum, "復旧前の雛形を履歴に保存できません: " + where.string());
}

rt::UniqueFd OpenRoot(const fs::path& root, bool create) {
  rt::UniqueFd fd = rt::OwnedFd(Ops().Open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (fd.valid() || !create || errno != ENOENT) return fd;
  rt::MakeFolders(root.parent_path().string());
  rt::UniqueFd parent = rt::OwnedFd(Ops().Open(root.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!parent.valid()) return parent;
  if (Ops().MkdirAt(parent.get(), root.filename().c_str(), 0700) != 0 && errno != EEXIST) return rt::UniqueFd();
  if (Ops().Fsync(parent.get()) != 0) return rt::UniqueFd();
  return rt::OwnedFd(Ops().Open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
}

rt::UniqueFd OpenFolderAt(int dirFd, const std::string& name) {
  return rt::OwnedFd(Ops().OpenAt(dirFd, name.c_str(), kFolderFlags, 0));
}

void RemoveTree(int dirFd, const std::string& name, int depth) {
  if (Ops().UnlinkAt(dirFd, name.c_str(), 0) == 0 || (errno != EISDIR && errno != EPERM)) return;
  if (depth > 4) return;
  rt::UniqueFd folder = OpenFolderAt(dirFd, name);
  if (!folder.valid()) return;
  for (const std::string& inner : rt::FolderNames(folder.get())) RemoveTree(folder.get(), inner, depth + 1);
  folder.Reset();
  Ops().UnlinkAt(dirFd, name.c_str(), AT_REMOVEDIR);
}

void Flush(int fd, const fs::path& where) {
  if (Ops().Fsync(fd) != 0) throw HistoryError(errno, where);
}

}  // namespace zr::restore::history
