#include "restore/History.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <utility>

#include "platform/replace/LinkOrCopy.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"
#include "suite/Templates.h"

namespace zr::restore {
namespace {

namespace fs = std::filesystem;
using rt::Ops;

constexpr const char* kEntryFile = "restore.ini";
constexpr const char* kWork = "Work";
constexpr std::string_view kPendingPrefix = ".pending-";
// An entry on its way out: no longer listed, removed by the next start when
// a crash stops its removal half-way.
constexpr std::string_view kPrunedPrefix = ".pruned-";
constexpr std::size_t kMaxEntryFileBytes = 64 * 1024;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::mutex rootMutex;
std::function<fs::path()> installedRoot;

rt::RuntimeError HistoryError(int errnum, const fs::path& where) {
  return rt::ErrorFromErrno(errnum, "復旧前の雛形を履歴に保存できません: " + where.string());
}

bool AllDigits(std::string_view s) {
  return !s.empty() && s.size() <= 18 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string TokenFor(uint64_t sequence) {
  char text[32];
  std::snprintf(text, sizeof text, "%08llu", static_cast<unsigned long long>(sequence));
  return text;
}

std::string PendingName(const std::string& token) { return std::string(kPendingPrefix) + token; }

rt::UniqueFd OpenFolderAt(int dirFd, const std::string& name) {
  return rt::OwnedFd(Ops().OpenAt(dirFd, name.c_str(), kFolderFlags, 0));
}

// Removes a file or a folder with what it holds, never through a link.
void RemoveTree(int dirFd, const std::string& name, int depth = 0) {
  if (Ops().UnlinkAt(dirFd, name.c_str(), 0) == 0 || (errno != EISDIR && errno != EPERM)) return;
  if (depth > 4) return;
  rt::UniqueFd folder = OpenFolderAt(dirFd, name);
  if (!folder.valid()) return;
  for (const std::string& inner : rt::FolderNames(folder.get())) RemoveTree(folder.get(), inner, depth + 1);
  folder.Reset();
  Ops().UnlinkAt(dirFd, name.c_str(), AT_REMOVEDIR);
}

// Values stay on one line and within what the file may hold.
bool KeptInValue(unsigned char c, std::size_t /*at*/) { return c >= 0x20 && c != 0x7F && c != '%'; }

std::string TemplateKey(const std::string& member) { return suite::TemplatePathParts(member).back(); }

const char* StateText(TemplateState s) {
  switch (s) {
    case TemplateState::Present:
      return "present";
    case TemplateState::Absent:
      return "absent";
    case TemplateState::Unknown:
      break;
  }
  return "unknown";
}

std::string UtcText(time_t when) {
  tm utc{};
  gmtime_r(&when, &utc);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string LocalFromUtc(const std::string& stored) {
  tm utc{};
  const char* end = strptime(stored.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc);
  if (end == nullptr || *end != '\0') return stored;
  const time_t when = timegm(&utc);
  tm local{};
  localtime_r(&when, &local);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

struct EntryText {
  std::string format;
  std::vector<std::pair<std::string, std::string>> values;
  std::string Value(const std::string& key) const {
    for (const auto& [k, v] : values) {
      if (k == key) return v;
    }
    return {};
  }
};

// The entry's restore.ini: a regular file of bounded size, never through a link.
std::optional<std::string> ReadEntryFile(int entryFd, std::string& problem) {
  rt::UniqueFd fd = rt::OwnedFd(Ops().OpenAt(entryFd, kEntryFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  struct stat st {};
  if (!fd.valid() || Ops().Fstat(fd.get(), &st) != 0) {
    problem = "履歴の記録（restore.ini）を開けません。";
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    problem = "履歴の記録（restore.ini）が通常のファイルではありません。";
    return std::nullopt;
  }
  if (static_cast<std::size_t>(st.st_size) > kMaxEntryFileBytes) {
    problem = "履歴の記録（restore.ini）が大きすぎます。";
    return std::nullopt;
  }
  std::string bytes(kMaxEntryFileBytes + 1, '\0');
  const ssize_t n = rt::ReadUpTo(fd.get(), bytes.data(), bytes.size());
  if (n < 0 || static_cast<std::size_t>(n) > kMaxEntryFileBytes) {
    problem = "履歴の記録（restore.ini）を読み込めません。";
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(n));
  return bytes;
}

EntryText ParseEntryText(const std::string& text) {
  EntryText parsed;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    parsed.values.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  parsed.format = parsed.Value("format");
  if (parsed.format == "2") {
    for (auto& [key, value] : parsed.values) {
      auto decoded = rt::PercentDecode(value);
      value = decoded ? *decoded : std::string();
    }
  }
  return parsed;
}

// Earlier versions named entries by the local time: "YYYYMMDD-HHMMSS", and
// "-N" for the N-th of the same second.
bool EarlierName(const std::string& name) {
  return name.size() >= 15 && AllDigits(std::string_view(name).substr(0, 8)) && name[8] == '-' &&
         AllDigits(std::string_view(name).substr(9, 6)) &&
         (name.size() == 15 || (name[15] == '-' && AllDigits(std::string_view(name).substr(16))));
}

HistoryEntry ReadEntry(int rootFd, const fs::path& root, const std::string& name) {
  HistoryEntry entry;
  entry.folder = root / name;
  entry.sequence = AllDigits(name) ? std::strtoull(name.c_str(), nullptr, 10) : 0;
  entry.templates.assign(suite::kTemplateMembers.size(), TemplateState::Unknown);
  rt::UniqueFd folder = OpenFolderAt(rootFd, name);
  if (!folder.valid()) {
    entry.problem = "履歴のフォルダーを開けません。";
    return entry;
  }
  const auto bytes = ReadEntryFile(folder.get(), entry.problem);
  if (!bytes) return entry;
  const EntryText text = ParseEntryText(*bytes);
  entry.archive = text.Value("archive");
  entry.installedVersion = text.Value("installed");
  entry.fromUndo = text.Value("undo") == "1";
  entry.recovered = text.Value("recovered") == "1";
  if (text.format == "2") {
    entry.time = LocalFromUtc(text.Value("time"));
    for (std::size_t i = 0; i < suite::kTemplateMembers.size(); ++i) {
      const std::string state = text.Value(TemplateKey(suite::kTemplateMembers[i]));
      entry.templates[i] = state == "present"  ? TemplateState::Present
                           : state == "absent" ? TemplateState::Absent
                                               : TemplateState::Unknown;
    }
  } else {
    // Earlier entries kept the templates there were and wrote local time.
    entry.time = text.Value("time");
    rt::UniqueFd work = OpenFolderAt(folder.get(), kWork);
    for (std::size_t i = 0; i < suite::kTemplateMembers.size(); ++i) {
      struct stat st {};
      const std::string file = TemplateKey(suite::kTemplateMembers[i]);
      const bool there = work.valid() && Ops().FstatAt(work.get(), file.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
      entry.templates[i] = there ? TemplateState::Present : TemplateState::Absent;
    }
  }
  return entry;
}

void Flush(int fd, const fs::path& where) {
  if (Ops().Fsync(fd) != 0) throw HistoryError(errno, where);
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

uint64_t NextSequence(int rootFd) {
  uint64_t newest = 0;
  for (const std::string& name : rt::FolderNames(rootFd)) {
    std::string_view digits = name;
    if (digits.starts_with(kPendingPrefix)) digits.remove_prefix(kPendingPrefix.size());
    if (AllDigits(digits)) newest = std::max<uint64_t>(newest, std::strtoull(std::string(digits).c_str(), nullptr, 10));
  }
  return newest + 1;
}

struct NewEntry {
  std::string token;
  rt::UniqueFd folder;
  rt::UniqueFd work;
};

// A pending entry folder with its Work folder, under the next free sequence number.
NewEntry MakePendingEntry(int rootFd, const fs::path& root) {
  for (uint64_t sequence = NextSequence(rootFd);; ++sequence) {
    NewEntry entry;
    entry.token = TokenFor(sequence);
    const std::string name = PendingName(entry.token);
    if (Ops().MkdirAt(rootFd, name.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      throw HistoryError(errno, root / name);
    }
    entry.folder = OpenFolderAt(rootFd, name);
    if (!entry.folder.valid() || Ops().MkdirAt(entry.folder.get(), kWork, 0700) != 0) {
      const int e = errno;
      RemoveTree(rootFd, name);
      throw HistoryError(e, root / name);
    }
    entry.work = OpenFolderAt(entry.folder.get(), kWork);
    if (!entry.work.valid()) {
      const int e = errno;
      RemoveTree(rootFd, name);
      throw HistoryError(e, root / name);
    }
    return entry;
  }
}

struct EntryFacts {
  std::string archive;
  std::string installed;
  bool fromUndo = false;
  bool recovered = false;
  std::vector<TemplateState> templates;
};

// restore.ini and every folder of the entry on disk; the entry is still pending.
void FinishEntry(int rootFd, const fs::path& root, NewEntry& entry, const EntryFacts& facts) {
  const fs::path where = root / PendingName(entry.token);
  std::string text =
      "[RESTORE]\nformat=2\nsequence=" + std::to_string(std::strtoull(entry.token.c_str(), nullptr, 10)) +
      "\ntime=" + UtcText(time(nullptr)) + "\narchive=" + rt::PercentEncode(facts.archive, KeptInValue) +
      "\ninstalled=" + rt::PercentEncode(facts.installed, KeptInValue) + "\nundo=" + (facts.fromUndo ? "1" : "0") +
      "\nrecovered=" + (facts.recovered ? "1" : "0") + "\n";
  for (std::size_t i = 0; i < suite::kTemplateMembers.size(); ++i) {
    text += TemplateKey(suite::kTemplateMembers[i]) + "=" + StateText(facts.templates[i]) + "\n";
  }
  rt::UniqueFd file = rt::OwnedFd(
      Ops().OpenAt(entry.folder.get(), kEntryFile, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file.valid() || !rt::WriteAll(file.get(), text) || Ops().Fsync(file.get()) != 0 ||
      Ops().Close(file.Release()) != 0) {
    throw HistoryError(errno, where / kEntryFile);
  }
  Flush(entry.work.get(), where / kWork);
  Flush(entry.folder.get(), where);
  Flush(rootFd, root);
}

class FolderHistory : public replace::Journal {
 public:
  explicit FolderHistory(fs::path root) : root_(std::move(root)) {}

  bool Committed(const std::string& token) override {
    if (!AllDigits(token)) return false;
    const rt::UniqueFd root = OpenRoot(root_, false);
    if (!root.valid()) return false;
    return OpenFolderAt(root.get(), token).valid();
  }

  void Commit(const std::string& token) override {
    const rt::UniqueFd root = OpenRoot(root_, false);
    if (!AllDigits(token) || !root.valid()) throw HistoryError(root.valid() ? EINVAL : errno, root_);
    if (OpenFolderAt(root.get(), token).valid()) return;
    if (Ops().RenameAt(root.get(), PendingName(token).c_str(), root.get(), token.c_str()) != 0) {
      throw HistoryError(errno, root_ / token);
    }
    Flush(root.get(), root_);
  }

  void Discard(const std::string& token) noexcept override {
    const rt::UniqueFd root = OpenRoot(root_, false);
    if (!AllDigits(token) || !root.valid()) return;
    RemoveTree(root.get(), PendingName(token));
    RemoveTree(root.get(), token);
    Ops().Fsync(root.get());
  }

  void Salvage(int folderFd, const std::vector<replace::OldCopy>& copies) override {
    const rt::UniqueFd root = OpenRoot(root_, true);
    if (!root.valid()) throw HistoryError(errno, root_);
    NewEntry entry = MakePendingEntry(root.get(), root_);
    try {
      EntryFacts facts;
      facts.recovered = true;
      facts.templates.assign(suite::kTemplateMembers.size(), TemplateState::Unknown);
      const auto targets = suite::TemplateTargets();
      for (const replace::OldCopy& copy : copies) {
        std::string name = copy.name;
        for (std::size_t i = 0; i < targets.size(); ++i) {
          if (copy.target == targets[i]) {
            name = targets[i].back();
            facts.templates[i] = TemplateState::Present;
          }
        }
        if (const int e = replace::LinkOrCopy(folderFd, copy.name, entry.work.get(), name); e != 0) {
          throw HistoryError(e, root_ / PendingName(entry.token) / kWork / name);
        }
      }
      FinishEntry(root.get(), root_, entry, facts);
      Commit(entry.token);
    } catch (...) {
      RemoveTree(root.get(), PendingName(entry.token));
      throw;
    }
    // Only now that the entry holds them do the copies leave the folder.
    for (const replace::OldCopy& copy : copies) Ops().UnlinkAt(folderFd, copy.name.c_str(), 0);
    Ops().Fsync(folderFd);
  }

  void DropPendingExcept(const std::set<std::string>& tokens) noexcept override {
    const rt::UniqueFd root = OpenRoot(root_, false);
    if (!root.valid()) return;
    bool removed = false;
    for (const std::string& name : rt::FolderNames(root.get())) {
      const bool pending = name.starts_with(kPendingPrefix);
      if (!pending && !name.starts_with(kPrunedPrefix)) continue;
      if (pending && tokens.count(name.substr(kPendingPrefix.size())) != 0) continue;
      RemoveTree(root.get(), name);
      removed = true;
    }
    if (removed) Ops().Fsync(root.get());
  }

 private:
  fs::path root_;
};

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

std::shared_ptr<replace::Journal> HistoryJournal(const fs::path& root) { return std::make_shared<FolderHistory>(root); }

std::vector<HistoryEntry> ListHistory(const fs::path& root) {
  std::vector<HistoryEntry> entries;
  const rt::UniqueFd rootFd = OpenRoot(root, false);
  if (!rootFd.valid()) return entries;
  for (const std::string& name : rt::FolderNames(rootFd.get())) {
    if (AllDigits(name) || EarlierName(name)) entries.push_back(ReadEntry(rootFd.get(), root, name));
  }
  // The sequence orders entries, whatever the clock said when they were
  // made; the earlier versions' entries all come before the first of them.
  std::sort(entries.begin(), entries.end(), [](const HistoryEntry& a, const HistoryEntry& b) {
    if (a.sequence != b.sequence) return a.sequence > b.sequence;
    return a.folder.filename().string() > b.folder.filename().string();
  });
  return entries;
}

void PruneHistory(const fs::path& root) noexcept {
  try {
    const auto entries = ListHistory(root);
    if (entries.size() <= kHistoryKept) return;
    const rt::UniqueFd rootFd = OpenRoot(root, false);
    if (!rootFd.valid()) return;
    // An entry leaves the listing in one rename, on disk before its files
    // go: a crash half-way through the removal must not leave an entry
    // without its record or its templates.
    std::vector<std::string> going;
    for (std::size_t i = kHistoryKept; i < entries.size(); ++i) {
      const std::string name = entries[i].folder.filename().string();
      const std::string pruned = std::string(kPrunedPrefix) + name;
      if (Ops().RenameAt(rootFd.get(), name.c_str(), rootFd.get(), pruned.c_str()) == 0) going.push_back(pruned);
    }
    if (going.empty() || Ops().Fsync(rootFd.get()) != 0) return;
    for (const std::string& name : going) RemoveTree(rootFd.get(), name);
  } catch (...) {
  }
}

PendingHistoryEntry PendingHistoryEntry::Record(const fs::path& root, const std::string& dataFolder,
                                                const std::string& archive, const std::string& installedVersion,
                                                bool fromUndo) {
  const rt::UniqueFd rootFd = OpenRoot(root, true);
  if (!rootFd.valid()) throw HistoryError(errno, root);
  const rt::UniqueFd data = rt::OwnedFd(Ops().Open(dataFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!data.valid()) throw HistoryError(errno, dataFolder);

  NewEntry entry = MakePendingEntry(rootFd.get(), root);
  try {
    EntryFacts facts{archive, installedVersion, fromUndo, false, {}};
    for (const std::string& member : suite::kTemplateMembers) {
      const auto parts = suite::TemplatePathParts(member);
      rt::UniqueFd folder;
      int parent = data.get();
      for (std::size_t i = 0; i + 1 < parts.size() && parent >= 0; ++i) {
        folder = OpenFolderAt(parent, parts[i]);
        parent = folder.get();
      }
      struct stat st {};
      const std::string& file = parts.back();
      if (parent < 0 || Ops().FstatAt(parent, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) throw HistoryError(errno, fs::path(dataFolder) / member);
        facts.templates.push_back(TemplateState::Absent);
        continue;
      }
      // Anything but a regular file is not put back by an undo.
      if (!S_ISREG(st.st_mode)) {
        facts.templates.push_back(TemplateState::Unknown);
        continue;
      }
      if (const int e = replace::LinkOrCopy(parent, file, entry.work.get(), file); e != 0) {
        throw HistoryError(e, root / PendingName(entry.token) / kWork / file);
      }
      facts.templates.push_back(TemplateState::Present);
    }
    FinishEntry(rootFd.get(), root, entry, facts);
  } catch (...) {
    RemoveTree(rootFd.get(), PendingName(entry.token));
    throw;
  }
  return PendingHistoryEntry(root, entry.token);
}

PendingHistoryEntry::PendingHistoryEntry(fs::path root, std::string token)
    : root_(std::move(root)), token_(std::move(token)), journal_(HistoryJournal(root_)) {}

PendingHistoryEntry::PendingHistoryEntry(PendingHistoryEntry&& other) noexcept
    : root_(std::move(other.root_)), token_(std::exchange(other.token_, {})), journal_(std::move(other.journal_)) {}

void PendingHistoryEntry::Keep() {
  journal_->Commit(token_);
  token_.clear();
}

PendingHistoryEntry::~PendingHistoryEntry() {
  if (token_.empty()) return;
  // Still pending: its replacement did not commit. A committed entry was renamed away from this name.
  const rt::UniqueFd root = OpenRoot(root_, false);
  if (!root.valid()) return;
  RemoveTree(root.get(), PendingName(token_));
  Ops().Fsync(root.get());
}

}  // namespace zr::restore
