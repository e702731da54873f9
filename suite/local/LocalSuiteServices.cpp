#include "suite/local/LocalSuiteServices.h"

#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <utility>

#include "platform/lzh/Extract.h"
#include "platform/runtime/RuntimeError.h"
#include "suite/local/ErrorLog.h"
#include "suite/local/IniFile.h"
#include "suite/local/RunLocks.h"
#include "suite/local/SuiteHome.h"

namespace zr::suite {
namespace {

constexpr const char* kSettingsFile = "suite.ini";

std::filesystem::path RunLockPath(const std::string& programId) {
  return SuiteHome() / "run" / RunLockFileName(programId);
}

std::string Setting(std::string_view section, std::string_view key) {
  try {
    return ReadIniFileValue(SuiteHome() / kSettingsFile, section, key);
  } catch (...) {
    return {};
  }
}

// Copies in the suite's temporary folder may hold the office's personal
// data, and that folder may be shared with other users (/tmp).
bool IsTemporaryFolder(const std::string& folder) {
  const std::string temporary = Setting("COM", "TEMP_PATH");
  std::error_code ec;
  return !temporary.empty() && std::filesystem::equivalent(temporary, folder, ec);
}

}  // namespace

LocalSuiteServices::LocalSuiteServices(FolderPicker folderPicker) : folderPicker_(std::move(folderPicker)) {}

void LocalSuiteServices::ReadIniValue(std::string section, std::string key, std::string& iniFileName,
                                      std::string& value) {
  // A full path is taken as given, as the profile functions do.
  const std::filesystem::path file = SuiteHome() / (iniFileName.empty() ? kSettingsFile : iniFileName);
  value = ReadIniFileValue(file, section, key);
}

void LocalSuiteServices::ReadSetting(std::string& section, std::string& key, std::string& value) {
  value = ReadIniFileValue(SuiteHome() / kSettingsFile, section, key);
}

void LocalSuiteServices::IsStartAllowed(SuiteBool& startFlag) {
  std::optional<std::filesystem::path> lockFile = registeredLock_ ? registeredLock_ : LastRequestedRunLock();
  if (!lockFile) {
    // Nothing was registered, so nothing can be running in our place.
    startFlag = kTrue;
    return;
  }
  // Asking again lets a start through once the other instance has ended.
  startFlag = AcquireRunLock(*lockFile) ? kTrue : kFalse;
}

void LocalSuiteServices::GetProgramInfo(rt::ApplicationObject application, std::string& name, std::string& text,
                                        int32_t& info) {
  name = application.title.empty() ? application.exeName : application.title;
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    text = exe.string();
  } else if (!application.path.empty()) {
    text = (std::filesystem::path(application.path) / application.exeName).string();
  } else {
    text = application.exeName;
  }
  info = static_cast<int32_t>(getpid());
}

void LocalSuiteServices::RegisterProgram(std::string& programId, SuiteBool& startFlag) {
  if (programId.empty()) {
    throw rt::RuntimeError(rt::err::InvalidProcedureCall, "プログラム識別子が空です。");
  }
  const auto lockFile = RunLockPath(programId);
  registeredLock_ = lockFile;
  startFlag = AcquireRunLock(lockFile) ? kTrue : kFalse;
}

void LocalSuiteServices::WriteErrorLog(std::string name, std::string procedureName, std::string entry, int32_t& info) {
  AppendErrorLog(SuiteHome() / "log" / "error.log", name, procedureName, entry, info);
}

void LocalSuiteServices::BrowseFolder(int32_t ownerWindow, std::string text, std::string initialFolder,
                                      std::string& chosenFolder) {
  if (!folderPicker_) {
    throw rt::RuntimeError(rt::err::CannotCreateComponent, "フォルダの選択画面を表示できません。");
  }
  chosenFolder = folderPicker_(ownerWindow, text, initialFolder);
}

void LocalSuiteServices::ExtractArchive(int32_t /*ownerWindow*/, std::string archivePath, std::string destination,
                                        int16_t mode, std::vector<std::string>& members, int16_t& result) {
  if (mode != 0 && mode != 1) {
    throw rt::RuntimeError(rt::err::InvalidProcedureCall,
                           "書庫の展開方法の指定が正しくありません。(" + std::to_string(mode) + ")");
  }
  lzh::ExtractOptions options;
  options.ownerOnly = IsTemporaryFolder(destination);
  // The version check's copy is read once and deleted.
  options.flush = !(options.ownerOnly && mode == 1);
  const int missing =
      lzh::ExtractMembersWaiting(archivePath, destination, static_cast<lzh::Mode>(mode), members, options);
  result = static_cast<int16_t>(std::clamp(missing, 0, 32767));
}

void LocalSuiteServices::ExtractArchiveToRead(int32_t /*ownerWindow*/, std::string archivePath, int destinationFd,
                                              std::string destination, int16_t mode, std::vector<std::string>& members,
                                              int16_t& result, std::vector<rt::UniqueFd>& files) {
  if (mode != 0 && mode != 1) {
    throw rt::RuntimeError(rt::err::InvalidProcedureCall,
                           "書庫の展開方法の指定が正しくありません。(" + std::to_string(mode) + ")");
  }
  lzh::ExtractOptions options;
  options.ownerOnly = true;
  // Read once and removed: a crash loses nothing there.
  options.flush = false;
  lzh::ExtractedFiles extracted = lzh::ExtractMembersForReadingWaiting(archivePath, destinationFd, destination,
                                                                       static_cast<lzh::Mode>(mode), members, options);
  result = static_cast<int16_t>(std::clamp(extracted.missing, 0, 32767));
  files = std::move(extracted.files);
}

std::string LocalDataFolder() {
  std::string dataFolder = Setting("Common", "DataPath");
  if (dataFolder.empty() || dataFolder.front() != '/') return {};
  if (dataFolder.back() != '/') dataFolder += '/';
  return dataFolder;
}

void BeginLocalExtractionAhead(const std::string& archivePath, int16_t mode, const std::vector<std::string>& members) {
  if (mode != 0 && mode != 1) return;
  // The same folder the restore derives from the setting, or no match later.
  const std::string dataFolder = LocalDataFolder();
  if (dataFolder.empty()) return;
  lzh::ExtractOptions options;
  options.ownerOnly = IsTemporaryFolder(dataFolder);
  lzh::ReadAheadMembers(archivePath, dataFolder, static_cast<lzh::Mode>(mode), members, options);
}

void DropLocalExtractionAhead() { lzh::DropReadAhead(); }

}  // namespace zr::suite
