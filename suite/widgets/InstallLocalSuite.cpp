#include "suite/widgets/InstallLocalSuite.h"

#include "suite/local/DataFolderRecovery.h"
#include "suite/local/LocalStartGate.h"
#include "suite/local/LocalSuiteServices.h"
#include "suite/widgets/FolderPicker.h"
#include "suite/widgets/QtProgressNotice.h"

namespace zr::suite {

ComponentFactory InstallLocalSuite() {
  ComponentFactory factory;
  factory.suiteServices = [] { return std::make_unique<LocalSuiteServices>(PickFolder); };
  factory.startGate = [] { return std::make_unique<LocalStartGate>(); };
  factory.progressNotice = [] { return std::make_unique<QtProgressNotice>(); };
  factory.beginExtractionAhead = BeginLocalExtractionAhead;
  factory.dropExtractionAhead = DropLocalExtractionAhead;
  InstallRecoveryLog();
  InstallRecordKey();
  PrepareProgressNoticeAfterFirstPaint();
  return InstallComponentFactory(std::move(factory));
}

}  // namespace zr::suite
