#include "restore/History.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <system_error>
#include <utility>

#include "platform/runtime/RuntimeError.h"

namespace zr::restore {
namespace {

namespace fs = std::filesystem;

constexpr const char* kEntryFile = "restore.ini";
constexpr const char* kPendingPrefix = ".pending-";

std::mutex rootMutex;
std::function<fs::path()> installedRoot;

rt::RuntimeError HistoryError(int errnum, const fs::path& where) {
  return rt::ErrorFromErrno(errnum, "復旧前の雛形を履歴に保存できません: " + where.string());
}

void Flush(const fs::path& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) throw HistoryError(errno, path);
  const int synced = fsync(fd);
  const int e = errno;
  close(fd);
  if (synced != 0) throw HistoryError(e, path);
}

void CopyFlushed(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec)) throw HistoryError(ec.value(), to);
  Flush(to, O_RDONLY);
}

// A link keeps the replaced file byte for byte at no cost: the replacement
// puts a new file in its place and never writes into the old one.
void KeepFile(const fs::path& from, const fs::path& to) {
  if (link(from.c_str(), to.c_str()) == 0) return;
  switch (errno) {
    case EXDEV:
    case EPERM:
    case EOPNOTSUPP:
    case EMLINK:
    case ENOSYS:
      CopyFlushed(from, to);
      return;
    default:
      throw HistoryError(errno, to);
  }
}

std::string Stamp(const timespec& now, const char* format) {
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char text[32];
  strftime(text, sizeof text, format, &local);
  return text;
}

std::string Value(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

// Folder names are the local time to the second ("YYYYMMDD-HHMMSS"), with
// "-N" for the N-th entry of the same second.
std::pair<std::string, int> Order(const fs::path& folder) {
  const std::string name = folder.filename().string();
  const auto dash = name.find('-', 9);
  if (dash == std::string::npos) return {name, 1};
  return {name.substr(0, dash), std::atoi(name.c_str() + dash + 1)};
}

void RemoveQuietly(const fs::path& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

}  // namespace

void InstallHistoryRoot(std::function<fs::path()> root) {
  std::lock_guard lock(rootMutex);
  installedRoot = std::move(root);
}

std::optional<fs::path> HistoryRoot() {
  std::lock_guard lock(rootMutex);
  if (!installedRoot) return std::nullopt;
  return installedRoot();
}

std::vector<HistoryEntry> ListHistory(const fs::path& root) {
  std::vector<HistoryEntry> entries;
  std::error_code ec;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::ifstream in(it->path() / kEntryFile, std::ios::binary);
    if (!in) continue;
    std::ostringstream text;
    text << in.rdbuf();
    entries.push_back({it->path(), Value(text.str(), "time"), Value(text.str(), "archive"),
                       Value(text.str(), "installed"), Value(text.str(), "undo") == "1"});
  }
  std::sort(entries.begin(), entries.end(),
            [](const HistoryEntry& a, const HistoryEntry& b) { return Order(a.folder) > Order(b.folder); });
  return entries;
}

PendingHistoryEntry PendingHistoryEntry::Record(const fs::path& root, const std::string& dataFolder,
                                                const std::string& archive, const std::string& installedVersion,
                                                bool fromUndo) {
  std::error_code ec;
  fs::create_directories(root, ec);
  if (ec) throw HistoryError(ec.value(), root);
  // What a process killed while recording left behind.
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename().string().rfind(kPendingPrefix, 0) == 0) RemoveQuietly(it->path());
  }

  std::string pendingName = std::string(kPendingPrefix) + "XXXXXX";
  std::string pendingPath = (root / pendingName).string();
  if (mkdtemp(pendingPath.data()) == nullptr) throw HistoryError(errno, root);
  const fs::path pending(pendingPath);
  try {
    fs::create_directory(pending / "Work", ec);
    if (ec) throw HistoryError(ec.value(), pending / "Work");
    for (const std::string& file : kTemplateFiles) {
      const fs::path live = fs::path(dataFolder) / file;
      struct stat st {};
      if (lstat(live.c_str(), &st) != 0) {
        if (errno == ENOENT) continue;
        throw HistoryError(errno, live);
      }
      if (!S_ISREG(st.st_mode)) continue;
      KeepFile(live, pending / file);
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    {
      std::ofstream out(pending / kEntryFile, std::ios::binary);
      out << "[RESTORE]\ntime=" << Stamp(now, "%Y-%m-%d %H:%M:%S") << "\narchive=" << archive
          << "\ninstalled=" << installedVersion << "\nundo=" << (fromUndo ? 1 : 0) << "\n";
      if (!out.flush()) throw HistoryError(EIO, pending / kEntryFile);
    }
    Flush(pending / kEntryFile, O_RDONLY);
    Flush(pending / "Work", O_RDONLY | O_DIRECTORY);
    Flush(pending, O_RDONLY | O_DIRECTORY);

    // The entry appears whole under its final name, or not at all.
    const std::string base = Stamp(now, "%Y%m%d-%H%M%S");
    for (int count = 1;; ++count) {
      const fs::path folder = root / (count == 1 ? base : base + "-" + std::to_string(count));
      if (fs::exists(folder, ec)) continue;
      fs::rename(pending, folder, ec);
      if (ec) throw HistoryError(ec.value(), folder);
      Flush(root, O_RDONLY | O_DIRECTORY);
      return PendingHistoryEntry(root, folder);
    }
  } catch (...) {
    RemoveQuietly(pending);
    throw;
  }
}

PendingHistoryEntry::PendingHistoryEntry(fs::path root, fs::path folder)
    : root_(std::move(root)), folder_(std::move(folder)) {}

PendingHistoryEntry::PendingHistoryEntry(PendingHistoryEntry&& other) noexcept
    : root_(std::move(other.root_)), folder_(std::exchange(other.folder_, {})) {}

PendingHistoryEntry::~PendingHistoryEntry() {
  if (!folder_.empty()) RemoveQuietly(folder_);
}

void PruneHistory(const fs::path& root) noexcept {
  try {
    const auto entries = ListHistory(root);
    for (std::size_t i = kHistoryKept; i < entries.size(); ++i) RemoveQuietly(entries[i].folder);
  } catch (...) {
  }
}

fs::path PendingHistoryEntry::KeepWithoutPruning() {
  folder_.clear();
  return root_;
}

void PendingHistoryEntry::Keep() { PruneHistory(KeepWithoutPruning()); }

}  // namespace zr::restore
