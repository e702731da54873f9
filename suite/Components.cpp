#include "suite/Components.h"

#include <mutex>
#include <string>
#include <utility>

#include "platform/runtime/RuntimeError.h"

namespace zr::suite {
namespace {

std::mutex factoryMutex;
ComponentFactory installed;

template <typename T>
std::unique_ptr<T> Create(std::function<std::unique_ptr<T>()> ComponentFactory::*member, const char* name) {
  std::function<std::unique_ptr<T>()> make;
  {
    std::lock_guard lock(factoryMutex);
    make = installed.*member;
  }
  const std::string failure = std::string("コンポーネントを作成できません。(") + name + ")";
  if (!make) throw rt::RuntimeError(rt::err::CannotCreateComponent, failure);
  std::unique_ptr<T> instance;
  try {
    instance = make();
  } catch (const rt::RuntimeError&) {
    throw;
  } catch (...) {
    throw rt::RuntimeError(rt::err::CannotCreateComponent, failure);
  }
  if (!instance) throw rt::RuntimeError(rt::err::CannotCreateComponent, failure);
  return instance;
}

}  // namespace

ComponentFactory InstallComponentFactory(ComponentFactory factory) {
  std::lock_guard lock(factoryMutex);
  std::swap(installed, factory);
  return factory;
}

std::unique_ptr<SuiteServices> CreateSuiteServices() {
  return Create(&ComponentFactory::suiteServices, "SuiteServices");
}

std::unique_ptr<StartGate> CreateStartGate() { return Create(&ComponentFactory::startGate, "StartGate"); }

std::unique_ptr<ProgressNotice> CreateProgressNotice() {
  return Create(&ComponentFactory::progressNotice, "ProgressNotice");
}

void BeginExtractionAhead(const std::string& archivePath, int16_t mode, const std::vector<std::string>& members) {
  std::function<void(const std::string&, int16_t, const std::vector<std::string>&)> begin;
  {
    std::lock_guard lock(factoryMutex);
    begin = installed.beginExtractionAhead;
  }
  if (!begin) return;
  try {
    begin(archivePath, mode, members);
  } catch (...) {
  }
}

void DropExtractionAhead() {
  std::function<void()> drop;
  {
    std::lock_guard lock(factoryMutex);
    drop = installed.dropExtractionAhead;
  }
  if (!drop) return;
  try {
    drop();
  } catch (...) {
  }
}

}  // namespace zr::suite
