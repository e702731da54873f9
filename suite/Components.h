#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "suite/ProgressNotice.h"
#include "suite/StartGate.h"
#include "suite/SuiteServices.h"

// The one place where every procedure gets its own instance of a suite
// component. The program installs the local suite; tests install their own.
namespace zr::suite {

struct ComponentFactory {
  std::function<std::unique_ptr<SuiteServices>()> suiteServices;
  std::function<std::unique_ptr<StartGate>()> startGate;
  std::function<std::unique_ptr<ProgressNotice>()> progressNotice;
  // Optional: what BeginExtractionAhead and DropExtractionAhead do.
  std::function<void(const std::string& archivePath, int16_t mode, const std::vector<std::string>& members)>
      beginExtractionAhead;
  std::function<void()> dropExtractionAhead;
};

// Installs the factory and returns the previous one.
ComponentFactory InstallComponentFactory(ComponentFactory factory);

// Each creates a new instance; a component that cannot be created is run-time
// error 429.
std::unique_ptr<SuiteServices> CreateSuiteServices();
std::unique_ptr<StartGate> CreateStartGate();
std::unique_ptr<ProgressNotice> CreateProgressNotice();

// A hint, not an operation of the suite: an ExtractArchive call of `members`
// from `archivePath` into the suite's data folder is likely to follow, and
// the suite may begin it now, decoding without replacing anything. Where the
// suite cannot, or fails to, nothing happens.
void BeginExtractionAhead(const std::string& archivePath, int16_t mode, const std::vector<std::string>& members);
// Drops whatever BeginExtractionAhead began that no ExtractArchive took.
void DropExtractionAhead();

}  // namespace zr::suite
