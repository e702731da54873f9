#include "Application.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace zr::rt {
namespace {

std::mutex appMutex;
ApplicationObject app;
bool located = false;

void LocateExecutable() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return;
  app.exeName = exe.stem().string();
  app.path = exe.parent_path().string();
}

}  // namespace

const ApplicationObject& App() {
  std::lock_guard lock(appMutex);
  if (!located) {
    LocateExecutable();
    if (app.title.empty()) app.title = app.exeName;
    located = true;
  }
  return app;
}

void SetApplicationIdentity(const std::string& title, const std::string& version) {
  std::lock_guard lock(appMutex);
  app.title = title;
  app.version = version;
}

}  // namespace zr::rt
