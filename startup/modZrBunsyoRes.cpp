#include "startup/modZrBunsyoRes.h"

#include "platform/runtime/Text.h"
#include "startup/PathSeparator.h"
#include "suite/Components.h"

namespace zr::startup {

std::string GStrTempPath;

std::unique_ptr<suite::SuiteServices> MayStart() {
  auto services = suite::CreateSuiteServices();

  std::string programId = kProgramId;
  suite::SuiteBool startFlag = suite::kFalse;
  services->RegisterProgram(programId, startFlag);
  services->IsStartAllowed(startFlag);
  if (startFlag == suite::kFalse) return nullptr;

  int32_t gateAnswer = 0;
  {
    auto gate = suite::CreateStartGate();
    gate->Check(gateAnswer);
  }
  if (gateAnswer == 1) return nullptr;

  {
    auto settings = suite::CreateSuiteServices();
    std::string tempPath;
    std::string settingsFile;
    settings->ReadIniValue("COM", "TEMP_PATH", settingsFile, tempPath);
    GStrTempPath = tempPath;
  }
  return services;
}

void Main(RestoreWindowProvider& window) {
  // The instance the tool registered through is held across the window's load.
  if (const auto registered = MayStart()) window.ShowModeless();
}

bool PBlnPathChk(std::string location) {
  try {
    const std::string refused = std::string(kSep) + "cjs" + kSep;
    const auto at = rt::FindIgnoreCase(location, refused, true);
    if (at == std::string::npos) return true;

    std::string root;
    {
      auto services = suite::CreateSuiteServices();
      std::string section = "COMMON";
      std::string key = "root";
      services->ReadSetting(section, key, root);
    }
    return !rt::EqualsIgnoreCase(location.substr(0, at), root, true);
  } catch (...) {
    return false;
  }
}

}  // namespace zr::startup
