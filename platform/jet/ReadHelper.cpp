#include "platform/jet/ReadHelper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/jet/Protocol.h"
#include "platform/runtime/RuntimeError.h"

extern char** environ;

namespace zr::jet::detail {
namespace {

using Clock = std::chrono::steady_clock;
namespace err = rt::err;

std::atomic<long long> deadlineMs{20000};

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  auto program = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : program.parent_path();
}

std::vector<std::filesystem::path> PlacesToLook() {
  if (const char* chosen = std::getenv(kHelperOverride); chosen != nullptr && *chosen != '\0') return {chosen};
  // Without the program's own folder there is nowhere safe to look: never
  // the current folder.
  const auto folder = ProgramFolder();
  if (folder.empty()) return {};
  return HelperCandidates(folder);
}

std::string Listed(const std::vector<std::filesystem::path>& places) {
  std::string text;
  for (const auto& place : places) {
    if (!text.empty()) text += "、";
    text += place.string();
  }
  return text;
}

std::filesystem::path FindHelper() {
  const auto places = PlacesToLook();
  for (const auto& place : places) {
    struct stat info {};
    if (stat(place.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return place;
  }
  const std::string where = places.empty() ? "実行中のプログラムの場所が分かりません" : "探した場所: " + Listed(places);
  throw rt::RuntimeError(err::FileNotFound, std::string("データベースを読み取る補助プログラム ") + kHelperName +
                                                " が見つかりません。(" + where + ")");
}

rt::RuntimeError CannotStart(const std::filesystem::path& helper, int error) {
  const int32_t number = error == ENOENT                     ? err::FileNotFound
                         : error == EACCES || error == EPERM ? err::PermissionDenied
                                                             : err::PathFileAccess;
  return rt::RuntimeError(number, "データベースを読み取る補助プログラム '" + helper.string() + "' を起動できません。(" +
                                      std::strerror(error) + ")");
}

// A copy of `fd` numbered 3 or above, so that moving it onto 0 or 1 in the
// helper never overwrites the other one.
int AboveStandard(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 3); }

class SpawnSetup {
 public:
  SpawnSetup(int database, int channel) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_adddup2(&actions_, database, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions_, channel, STDOUT_FILENO);
    // libmdb describes every damaged page there.
    posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    posix_spawnattr_init(&attributes_);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &all);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  int Spawn(const std::filesystem::path& program, pid_t& pid) {
    char name[] = "zr-jet-read";
    char* argv[] = {name, nullptr};
    return posix_spawn(&pid, program.c_str(), &actions_, &attributes_, argv, environ);
  }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// Waits until `fd` is ready for `events` or the time is up.
bool WaitFor(int fd, short events, Clock::time_point until) {
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0;
  }
}

bool SendAll(int fd, std::string_view bytes, Clock::time_point until) {
  while (!bytes.empty()) {
    if (!WaitFor(fd, POLLOUT, until)) return false;
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

bool ReceiveExactly(int fd, std::size_t size, std::string& out, Clock::time_point until) {
  char buffer[65536];
  while (size > 0) {
    if (!WaitFor(fd, POLLIN, until)) return false;
    const ssize_t got = recv(fd, buffer, std::min(size, sizeof buffer), MSG_DONTWAIT);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return false;
    out.append(buffer, static_cast<std::size_t>(got));
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

void SetHelperDeadline(std::chrono::milliseconds deadline) { deadlineMs = deadline.count(); }

std::chrono::milliseconds HelperDeadline() { return std::chrono::milliseconds(deadlineMs.load()); }

std::vector<std::filesystem::path> HelperCandidates(const std::filesystem::path& programFolder) {
  return {programFolder / kHelperName, programFolder.parent_path() / "libexec" / "zrbunsyores" / kHelperName};
}

ReadHelper::ReadHelper(int database) {
  const auto helper = FindHelper();
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) throw rt::ErrorFromErrno(errno, helper.string());
  const int peer = AboveStandard(ends[1]);
  int started = peer < 0 ? errno : 0;
  close(ends[1]);
  channel_ = ends[0];
  const int file = started == 0 ? AboveStandard(database) : -1;
  if (started == 0 && file < 0) started = errno;
  if (started == 0) started = SpawnSetup(file, peer).Spawn(helper, pid_);
  if (peer >= 0) close(peer);
  if (file >= 0) close(file);
  if (started != 0 || pid_ <= 0) {
    pid_ = -1;
    close(channel_);
    channel_ = -1;
    throw CannotStart(helper, started);
  }
  pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
}

ReadHelper::~ReadHelper() { End(true); }

std::optional<std::string> ReadHelper::Ask(std::string_view question) {
  if (channel_ < 0) return std::nullopt;
  const auto until = Clock::now() + HelperDeadline();
  std::string header, answer;
  if (SendAll(channel_, Frame(question), until) && ReceiveExactly(channel_, 4, header, until)) {
    const uint32_t size = FrameLength(header.data());
    if (size <= kMaxFrame && ReceiveExactly(channel_, size, answer, until)) return answer;
  }
  End(false);
  return std::nullopt;
}

void ReadHelper::End(bool waitForExit) {
  if (channel_ >= 0) close(channel_);
  channel_ = -1;
  if (pid_ <= 0) return;
  const pid_t pid = std::exchange(pid_, -1);
  const int pidfd = std::exchange(pidfd_, -1);
  // An idle helper leaves as soon as its socket closes; one that is still
  // busy, or takes longer than an answer may, is ended.
  auto reap = [pid, pidfd, waitForExit, deadline = HelperDeadline()] {
    bool exited = false;
    if (waitForExit && pidfd >= 0) exited = WaitFor(pidfd, POLLIN, Clock::now() + deadline);
    if (!exited) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pidfd >= 0) close(pidfd);
  };
  // Nobody needs to wait while an idle helper tidies up and leaves.
  if (waitForExit) {
    try {
      std::thread(reap).detach();
      return;
    } catch (const std::system_error&) {
    }
  }
  reap();
}

}  // namespace zr::jet::detail
