#include "platform/ui/DisplayProbe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QLibraryInfo>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace zr::ui {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The value of Qt's option `name` ("-platform X", "-platform=X", also with "--").
std::string OptionValue(int argc, char** argv, std::string_view name) {
  std::string value;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.substr(0, 2) == "--") arg.remove_prefix(1);
    if (arg == name && i + 1 < argc) {
      value = argv[++i];
    } else if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
      value = std::string(arg.substr(name.size() + 1));
    }
  }
  return value;
}

bool XServerAnswers(const std::string& display) {
  xcb_connection_t* connection = xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr);
  const bool answers = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return answers;
}

bool WaylandAnswers() {
  if (!Environment("WAYLAND_SOCKET").empty()) return true;
  std::string name = Environment("WAYLAND_DISPLAY");
  if (name.empty()) name = "wayland-0";
  if (name.front() != '/') {
    const std::string runtime = Environment("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    name = runtime + "/" + name;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (name.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answers = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return answers;
}

bool HasWaylandPlugin() {
  const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
  return !platforms.entryList({QStringLiteral("libqwayland*")}, QDir::Files).isEmpty();
}

}  // namespace

bool DisplayAnswers(int argc, char** argv) {
  std::string platforms = OptionValue(argc, argv, "-platform");
  if (platforms.empty()) platforms = Environment("QT_QPA_PLATFORM");
  const std::string display = OptionValue(argc, argv, "-display");
  if (platforms.empty()) {
    if (XServerAnswers(display)) return true;
    if (!HasWaylandPlugin() || !WaylandAnswers()) return false;
    setenv("QT_QPA_PLATFORM", "wayland", 1);
    return true;
  }
  // Qt tries a ";"-separated list in order; each may carry ":options".
  for (std::size_t start = 0; start <= platforms.size();) {
    const std::size_t end = std::min(platforms.find(';', start), platforms.size());
    const std::string entry = platforms.substr(start, end - start);
    const std::string platform = entry.substr(0, entry.find(':'));
    const bool answers = platform == "xcb"                   ? XServerAnswers(display)
                         : platform.rfind("wayland", 0) == 0 ? WaylandAnswers()
                                                             : !platform.empty();
    if (answers) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace zr::ui
