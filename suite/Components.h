#pragma once

#include <functional>
#include <memory>

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
};

// Installs the factory and returns the previous one.
ComponentFactory InstallComponentFactory(ComponentFactory factory);

// Each creates a new instance; a component that cannot be created is run-time
// error 429.
std::unique_ptr<SuiteServices> CreateSuiteServices();
std::unique_ptr<StartGate> CreateStartGate();
std::unique_ptr<ProgressNotice> CreateProgressNotice();

}  // namespace zr::suite
