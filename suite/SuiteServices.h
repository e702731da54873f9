#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/runtime/Application.h"
#include "platform/runtime/UniqueFd.h"

namespace zr::suite {

// A 16-bit Boolean as the suite passes it: True is -1, False is 0, and any
// non-zero value counts as True.
using SuiteBool = int16_t;
inline constexpr SuiteBool kTrue = -1;
inline constexpr SuiteBool kFalse = 0;

// The suite's shared services, in the suite's own order of operations.
// Arguments keep the suite's passing: by value, by reference (may be read
// and written) and out (written). Failures are thrown as rt::RuntimeError.
class SuiteServices {
 public:
  virtual ~SuiteServices() = default;

  // An empty INI file name reads the suite's own settings.
  virtual void ReadIniValue(std::string section, std::string key, std::string& iniFileName, std::string& value) = 0;
  virtual void ReadSetting(std::string& section, std::string& key, std::string& value) = 0;
  virtual void IsStartAllowed(SuiteBool& startFlag) = 0;
  virtual void GetProgramInfo(rt::ApplicationObject application, std::string& name, std::string& text,
                              int32_t& info) = 0;
  virtual void RegisterProgram(std::string& programId, SuiteBool& startFlag) = 0;
  virtual void WriteErrorLog(std::string name, std::string procedureName, std::string entry, int32_t& info) = 0;
  // An empty chosen folder means the user cancelled.
  virtual void BrowseFolder(int32_t ownerWindow, std::string text, std::string initialFolder,
                            std::string& chosenFolder) = 0;
  // Mode 1 writes each member under its bare file name into the destination;
  // mode 0 keeps the member's relative folders under it. Existing files are
  // replaced. The result counts the requested members the archive lacks.
  virtual void ExtractArchive(int32_t ownerWindow, std::string archivePath, std::string destination, int16_t mode,
                              std::vector<std::string>& members, int16_t& result) = 0;
  // ExtractArchive for copies that are read once and thrown away: into the
  // folder open at `destinationFd` (named `destination` in messages, never
  // looked up by it), readable by their owner alone. `files` gets, for each
  // distinct requested member in the order first requested, a descriptor
  // open for reading on exactly the file written, whatever the folder's
  // names lead to by then. When the result is not 0 nothing is written and
  // `files` is empty.
  virtual void ExtractArchiveToRead(int32_t ownerWindow, std::string archivePath, int destinationFd,
                                    std::string destination, int16_t mode, std::vector<std::string>& members,
                                    int16_t& result, std::vector<rt::UniqueFd>& files) = 0;
};

}  // namespace zr::suite
