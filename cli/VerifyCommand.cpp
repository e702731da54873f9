#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>

#include "cli/Commands.h"
#include "cli/DesktopNotification.h"
#include "cli/VerifiedArchives.h"
#include "platform/runtime/FileSystem.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"
#include "platform/runtime/UniqueFd.h"
#include "restore/BackupCheck.h"
#include "restore/VersionCheck.h"
#include "startup/PathSeparator.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/BackupLocation.h"
#include "suite/Components.h"

namespace zr::cli {
namespace {

std::string WithSeparator(std::string folder) {
  if (!rt::EndsWith(folder, startup::kSep)) folder += startup::kSep;
  return folder;
}

// The archives a folder offers, as the window lists them: those of its
// backup folder when it has one, else its own.
std::vector<std::string> ArchivesIn(const std::string& folder) {
  std::string listed = WithSeparator(folder);
  if (rt::FolderExists(listed + suite::kBackupFolder + startup::kSep))
    listed += std::string(suite::kBackupFolder) + startup::kSep;
  std::vector<std::string> archives;
  for (const std::string& name : rt::ListFiles(listed, suite::kArchivePattern)) archives.push_back(listed + name);
  return archives;
}

// Where the common database is read from: the suite's temporary folder when
// it is usable, else the system's. One inside the data folder is refused
// (error 76) as the window refuses it, though the check's private subfolder
// could not touch the live files: the setting is wrong either way.
std::string ScratchFolder() {
  std::string temp;
  std::string data;
  try {
    auto services = suite::CreateSuiteServices();
    std::string file;
    services->ReadIniValue("COM", "TEMP_PATH", file, temp);
    data = restore::DataFolderSetting(*services);
  } catch (const rt::RuntimeError&) {
    temp.clear();
  }
  if (!temp.empty() && temp.front() == startup::kSepChar && rt::FolderExists(WithSeparator(temp))) {
    return restore::CheckedTemporaryFolder(temp, data);
  }
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp == '/' ? tmp : "/tmp";
}

// One line on a terminal's stderr, redrawn: archives done of all, the one
// being read, and the rate over the whole run. Cleared before each verdict
// so that verdicts on the same terminal stay whole.
class Progress {
 public:
  Progress(std::ostream& err, bool shown, std::size_t total) : err_(err), shown_(shown), total_(total) {}
  ~Progress() { Clear(); }

  void Begin(const std::string& archive) {
    name_ = Shown(std::filesystem::path(archive).filename().string());
    Draw();
  }
  void Add(uint64_t bytes) {
    bytes_ += bytes;
    if (Clock::now() - drawn_ >= std::chrono::milliseconds(100)) Draw();
  }
  void End() {
    ++done_;
    Clear();
  }

 private:
  using Clock = std::chrono::steady_clock;

  void Draw() {
    if (!shown_) return;
    drawn_ = Clock::now();
    const double seconds = std::chrono::duration<double>(drawn_ - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(bytes_) / seconds / 1e6 : 0;
    char figures[32];
    std::snprintf(figures, sizeof figures, "%.1f MB/s", rate);
    err_ << "\r\x1b[K検査中 " << done_ << "/" << total_ << " " << name_ << " " << figures << std::flush;
    dirty_ = true;
  }
  void Clear() {
    if (!dirty_) return;
    err_ << "\r\x1b[K" << std::flush;
    dirty_ = false;
  }

  std::ostream& err_;
  bool shown_;
  std::size_t total_;
  std::size_t done_ = 0;
  uint64_t bytes_ = 0;
  std::string name_;
  bool dirty_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point drawn_{};
};

// What a given path stands for: archives to check, or the reason it is none.
struct Target {
  std::string path;
  std::vector<std::string> archives;
  std::string problem;
};

// Only a folder is looked into; anything else goes to the check, which reads
// regular files only and names any other kind. Neither open waits: a FIFO or
// a device never holds the run up, wherever links lead.
Target Resolve(const std::string& path) {
  Target t{path, {}, {}};
  try {
    rt::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (fd.valid() && fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) {
      t.archives = ArchivesIn(path);
      if (t.archives.empty()) t.problem = "バックアップデータが見つかりません。";
    } else {
      t.archives.push_back(path);
    }
  } catch (const rt::RuntimeError& e) {
    t.problem = e.description();
  }
  return t;
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool StoredLocation(std::string& location, Console& console) {
  auto services = suite::CreateSuiteServices();
  std::string iniFile = "ZrX.ini";
  services->ReadIniValue("BKUP", "BKUP_PATH", iniFile, location);
  location = rt::Trim(location);
  if (location.empty()) {
    console.err << "ZrBunsyoRes: バックアップ場所が設定されていません。検査するバックアップを指定してください。\n";
    return false;
  }
  if (!startup::PBlnPathChk(location)) {
    console.err << "ZrBunsyoRes: パス名が不正です。バックアップ場所が正しいか確認してください。(" << Shown(location)
                << ")\n";
    return false;
  }
  return true;
}

// One line on standard output: OK or NG, the backup, and its version or what is wrong with it.
void PrintVerdict(const std::string& archive, const restore::BackupVerdict& verdict, Console& console) {
  if (verdict.ok) {
    console.out << "OK\t" << Shown(archive) << '\t' << Shown(verdict.version);
    if (!verdict.otherDamage.empty()) console.out << '\t' << Shown(verdict.otherDamage, false);
  } else {
    console.out << "NG\t" << Shown(archive) << '\t' << Shown(verdict.reason, false);
  }
  console.out << '\n' << std::flush;
}

}  // namespace

int RunVerify(const std::vector<std::string>& paths, Console& console, VerifyOptions options) {
  std::vector<std::string> given = paths;
  if (given.empty()) {
    std::string location;
    try {
      if (!StoredLocation(location, console)) return kExitFailed;
    } catch (const rt::RuntimeError& e) {
      console.err << "ZrBunsyoRes: " << Shown(e.description(), false) << "\n";
      return kExitFailed;
    }
    given.push_back(location);
  }

  std::string scratch;
  try {
    scratch = ScratchFolder();
  } catch (const rt::RuntimeError& e) {
    console.err << "ZrBunsyoRes: 実行時エラー " << e.number() << ": " << Shown(e.description(), false) << "\n";
    return kExitFailed;
  }
  std::optional<VerifiedArchives> known;
  if (options.onlyNew) known.emplace(VerifiedArchives::InSuiteHome());
  std::vector<Target> targets;
  std::size_t total = 0;
  for (const std::string& path : given) {
    targets.push_back(Resolve(path));
    total += targets.back().archives.size();
  }

  bool allOk = true;
  Progress progress(console.err, console.errTerminal, total);
  for (const Target& target : targets) {
    // A backup drive not plugged in, or a folder without backups, is nothing new.
    if (known && !target.problem.empty()) continue;
    if (!target.problem.empty()) {
      console.out << "NG\t" << Shown(target.path) << '\t' << Shown(target.problem, false) << '\n' << std::flush;
      allOk = false;
    }
    for (const std::string& archive : target.archives) {
      if (known && (!PathExists(archive) || !known->IsNew(archive))) continue;
      progress.Begin(archive);
      const restore::BackupVerdict verdict =
          restore::CheckBackup(archive, scratch, [&progress](uint64_t bytes) { progress.Add(bytes); });
      progress.End();
      if (known) known->Record(archive, verdict);
      PrintVerdict(archive, verdict, console);
      if (!verdict.ok) allOk = false;
      if (options.notify && !verdict.ok) {
        ReportBrokenBackup(archive, verdict.reason, console);
        if (known) known->Save(console.err);  // told once, even when this run is stopped before its end
      }
    }
  }
  if (known && !known->Save(console.err)) return kExitFailed;
  return allOk ? kExitOk : kExitFailed;
}

}  // namespace zr::cli
