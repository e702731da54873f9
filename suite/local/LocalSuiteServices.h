#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "suite/SuiteServices.h"

namespace zr::suite {

// The suite's services on this platform, kept in the suite home (SuiteHome):
// settings in suite.ini and other INI files beside it, the error log in
// log/error.log, run locks in run/.
class LocalSuiteServices : public SuiteServices {
 public:
  // Shows the folder picker modal to the window with the given handle and
  // returns the chosen folder, or empty when the user cancelled. It lives in
  // the widget layer so that this library needs no widgets.
  using FolderPicker =
      std::function<std::string(int32_t ownerWindow, const std::string& text, const std::string& initialFolder)>;

  explicit LocalSuiteServices(FolderPicker folderPicker = {});

  void ReadIniValue(std::string section, std::string key, std::string& iniFileName, std::string& value) override;
  void ReadSetting(std::string& section, std::string& key, std::string& value) override;
  void IsStartAllowed(SuiteBool& startFlag) override;
  void GetProgramInfo(rt::ApplicationObject application, std::string& name, std::string& text, int32_t& info) override;
  void RegisterProgram(std::string& programId, SuiteBool& startFlag) override;
  void WriteErrorLog(std::string name, std::string procedureName, std::string entry, int32_t& info) override;
  void BrowseFolder(int32_t ownerWindow, std::string text, std::string initialFolder,
                    std::string& chosenFolder) override;
  void ExtractArchive(int32_t ownerWindow, std::string archivePath, std::string destination, int16_t mode,
                      std::vector<std::string>& members, int16_t& result) override;
  void ExtractArchiveToRead(int32_t ownerWindow, std::string archivePath, int destinationFd, std::string destination,
                            int16_t mode, std::vector<std::string>& members, int16_t& result,
                            std::vector<rt::UniqueFd>& files) override;

 private:
  FolderPicker folderPicker_;
  std::optional<std::filesystem::path> registeredLock_;
};

// The data folder setting ("Common" / "DataPath") as the local suite keeps
// it, with its closing "/"; empty when it is not set or not absolute (the
// restore refuses both).
std::string LocalDataFolder();

// The extraction ahead of a restore on this platform: into the data folder
// ("Common" / "DataPath"), as ExtractArchive will ask for it.
void BeginLocalExtractionAhead(const std::string& archivePath, int16_t mode, const std::vector<std::string>& members);
void DropLocalExtractionAhead();

}  // namespace zr::suite
