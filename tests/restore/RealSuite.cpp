#include "tests/restore/RealSuite.h"

#include <fstream>

#include "platform/replace/RecordKey.h"
#include "restore/History.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/local/LocalStartGate.h"
#include "suite/local/LocalSuiteServices.h"
#include "tests/support/TempDir.h"

namespace zr::test {
namespace {

class QuietNotice : public suite::ProgressNotice {
 public:
  void SetVisible(int16_t) override {}
  void SetMessage(std::string) override {}
  int32_t Refresh() override { return 0; }
};

}  // namespace

RealSuite::RealSuite() {
  std::filesystem::create_directories(temp());
  std::filesystem::create_directories(backups());
  Settings("10.0.0", data().string());
  startup::GStrTempPath = temp().string() + "/";
  suite::ComponentFactory factory;
  factory.suiteServices = [] { return std::make_unique<suite::LocalSuiteServices>(); };
  factory.startGate = [] { return std::make_unique<suite::LocalStartGate>(); };
  factory.progressNotice = [] { return std::make_unique<QuietNotice>(); };
  factory.beginExtractionAhead = suite::BeginLocalExtractionAhead;
  factory.dropExtractionAhead = suite::DropLocalExtractionAhead;
  previous_ = suite::InstallComponentFactory(factory);
  restore::InstallHistoryRoot([history = history()] { return history; });
  replace::InstallRecordKeyFile([key = home() / "record.key"] { return key; });
}

RealSuite::~RealSuite() {
  // A check that passed without a restore after it leaves its work ahead.
  suite::DropExtractionAhead();
  restore::InstallHistoryRoot(nullptr);
  replace::InstallRecordKeyFile(nullptr);
  suite::InstallComponentFactory(previous_);
  startup::GStrTempPath.clear();
}

void RealSuite::Settings(const std::string& version, const std::string& dataPath) {
  WriteFile(home() / "suite.ini", "[COMMON]\r\nVer=\"" + version + "\"\r\nroot=" + home().string() +
                                      "/install\r\n[Common]\r\nDataPath=" + dataPath +
                                      "\r\n[COM]\r\nTEMP_PATH=" + temp().string() + "/\r\n");
}

std::string RealSuite::ErrorLog() const {
  const auto path = home() / "log" / "error.log";
  return std::filesystem::exists(path) ? ReadFile(path) : std::string();
}

}  // namespace zr::test
