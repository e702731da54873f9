#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <ostream>

#include "cli/Commands.h"
#include "cli/DesktopNotification.h"
#include "cli/VerifiedArchives.h"
#include "platform/runtime/FileSystem.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"
#include "restore/BackupCheck.h"
#include "startup/PathSeparator.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/Components.h"

namespace zr::cli {
namespace {

constexpr const char* kBackupFolder = "ZrDataBK";
constexpr const char* kArchivePattern = "*.lzh";

std::string WithSeparator(std::string folder) {
  if (!rt::EndsWith(folder, startup::kSep)) folder += startup::kSep;
  return folder;
}

// The archives a folder offers, as the window lists them: those of its
// backup folder when it has one, else its own.
std::vector<std::string> ArchivesIn(const std::string& folder) {
  std::string listed = WithSeparator(folder);
  if (rt::FolderExists(listed + kBackupFolder + startup::kSep)) listed += std::string(kBackupFolder) + startup::kSep;
  std::vector<std::string> archives;
  for (const std::string& name : rt::ListFiles(listed, kArchivePattern)) archives.push_back(listed + name);
  return archives;
}

// Where the common database is read from: the suite's temporary folder when
// it is usable, else the system's.
std::string ScratchFolder() {
  try {
    auto services = suite::CreateSuiteServices();
    std::string file;
    std::string temp;
    services->ReadIniValue("COM", "TEMP_PATH", file, temp);
    if (!temp.empty() && temp.front() == startup::kSepChar && rt::FolderExists(WithSeparator(temp))) return temp;
  } catch (const rt::RuntimeError&) {
  }
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp == '/' ? tmp : "/tmp";
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
    console.err << "ZrBunsyoRes: パス名が不正です。バックアップ場所が正しいか確認してください。(" << location << ")\n";
    return false;
  }
  return true;
}

}  // namespace

int RunVerify(const std::vector<std::string>& paths, Console& console, VerifyOptions options) {
  std::vector<std::string> given = paths;
  if (given.empty()) {
    std::string location;
    try {
      if (!StoredLocation(location, console)) return kExitFailed;
    } catch (const rt::RuntimeError& e) {
      console.err << "ZrBunsyoRes: " << e.description() << "\n";
      return kExitFailed;
    }
    given.push_back(location);
  }

  const std::string scratch = ScratchFolder();
  std::optional<VerifiedArchives> known;
  if (options.onlyNew) known.emplace(VerifiedArchives::InSuiteHome());
  bool allOk = true;
  for (const std::string& path : given) {
    std::vector<std::string> archives;
    struct stat st {};
    try {
      if (stat(path.c_str(), &st) != 0) throw rt::ErrorFromErrno(errno, "見つかりません: " + path);
      archives = S_ISDIR(st.st_mode) ? ArchivesIn(path) : std::vector<std::string>{path};
    } catch (const rt::RuntimeError& e) {
      if (known) continue;  // a backup drive not plugged in is nothing new
      console.out << "NG\t" << path << '\t' << e.description() << '\n';
      allOk = false;
      continue;
    }
    if (archives.empty() && !known) {
      console.out << "NG\t" << path << "\tバックアップデータが見つかりません。\n";
      allOk = false;
    }
    for (const std::string& archive : archives) {
      if (known && !known->IsNew(archive)) continue;
      const restore::BackupVerdict verdict = restore::CheckBackup(archive, scratch);
      if (known) known->Record(archive, verdict);
      if (verdict.ok) {
        console.out << "OK\t" << archive << '\t' << verdict.version;
        if (!verdict.otherDamage.empty()) console.out << '\t' << verdict.otherDamage;
      } else {
        console.out << "NG\t" << archive << '\t' << verdict.reason;
        allOk = false;
      }
      console.out << '\n' << std::flush;
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
