#include "suite/local/SuiteHome.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/runtime/RuntimeError.h"
#include "suite/SuiteName.h"

namespace zr::suite {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string AccountHome() {
  std::string home = Environment("HOME");
  if (!home.empty()) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
    home = found->pw_dir;
  }
  return home;
}

}  // namespace

std::filesystem::path SuiteHome() {
  if (std::string own = Environment("AOBANAVI_HOME"); !own.empty()) return own;
  // The XDG rules ignore a relative value.
  if (std::string config = Environment("XDG_CONFIG_HOME"); !config.empty() && config.front() == '/') {
    return std::filesystem::path(config) / "aobanavi";
  }
  const std::string home = AccountHome();
  if (home.empty()) {
    throw rt::RuntimeError(rt::err::PathNotFound,
                           std::string(kSuiteName) + "の設定フォルダが見つかりません。(HOME が設定されていません)");
  }
  return std::filesystem::path(home) / ".config" / "aobanavi";
}

}  // namespace zr::suite
