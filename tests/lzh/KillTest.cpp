// A process killed at any point of an extraction never leaves a torn
// target or a mixed pair once the folder is recovered, and nothing of ours
// stays behind. Only safety is asserted: where the kills land is chance.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <random>

#include "platform/lzh/Extract.h"
#include "platform/replace/Recovery.h"
#include "tests/lzh/LzhTestSupport.h"
#include "tests/support/TempDir.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::lzh::test {
namespace {

namespace w = zr::lzh::writer;
using zr::test::TempDir;

const std::vector<std::string> kMembers = {"Work\\ZrBunsyo.wf6", "Work\\ZrTuBun.wf6"};

std::string Content(const char* tag, std::size_t lines) {
  std::string s;
  for (std::size_t i = 0; i < lines; ++i) s += std::string(tag) + " line " + std::to_string(i) + "\r\n";
  return s;
}

// Whole-file read into a buffer that is reused: the check runs after each
// of the thousand trials, and a parent that keeps allocating grows (under
// AddressSanitizer its quarantine does), which makes every fork slower.
void Slurp(const fs::path& path, std::string& out) {
  out.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char buffer[16384];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  close(fd);
}

// Counts the entries of `folder`, or -1 when one of them has our naming.
// Reads the directory with getdents64 into a stack buffer: opendir's heap
// buffer, a thousand times over, is what makes a sanitised parent grow.
int CountUsersFiles(const fs::path& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  int others = 0;
  alignas(8) char buffer[8192];
  long n;
  while ((n = syscall(SYS_getdents64, fd, buffer, sizeof buffer)) > 0) {
    for (long at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      if (std::strncmp(name, ".zrtmp-", 7) == 0 || std::strncmp(name, ".zrold-", 7) == 0 ||
          std::strncmp(name, ".zrplan-", 8) == 0) {
        others = -1;
        break;
      }
      ++others;
    }
  }
  close(fd);
  return others;
}

// Runs extractions in a new child until it is killed, either by itself
// just before file operation number `killAt`, or by a SIGKILL timer after
// `delay`. Returns the child's process id.
pid_t StartChild(const fs::path& a, const fs::path& b, const fs::path& out, int killAt,
                 std::chrono::nanoseconds delay) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  ScriptedOps ops;
  ops.syncForReal = false;
  int seen = 0;
  ops.before = [&](Op, int, const char*, int) {
    if (seen++ == killAt) raise(SIGKILL);
  };
  InstallFileOps(&ops);
  if (killAt < 0) {
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = SIGKILL;
    timer_t timer;
    if (timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) _exit(4);
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(delay.count() / 1000000000);
    when.it_value.tv_nsec = static_cast<long>(delay.count() % 1000000000) + 1;
    if (timer_settime(timer, 0, &when, nullptr) != 0) _exit(4);
  }
  try {
    for (int round = 0; round < 200; ++round) {
      ExtractMembers(round % 2 == 0 ? b : a, out, Mode::KeepFolders, kMembers);
    }
  } catch (...) {
    _exit(3);
  }
  _exit(0);
}

TEST(LzhKill, KilledAtAnyPointEachTargetIsWholeOldOrWholeNew) {
  TempDir dir;
  const std::string oldBunsyo = Content("old bunsyo", 1500);
  const std::string oldTuBun = Content("old tubun", 1000);
  const std::string newBunsyo = Content("new bunsyo", 2000);
  const std::string newTuBun = Content("new tubun", 800);
  const fs::path a = dir.path() / "a.lzh";
  const fs::path b = dir.path() / "b.lzh";
  w::WriteArchiveFile(a, {w::MakeMember(kMembers[0], oldBunsyo, 2, w::Method::Lh5),
                          w::MakeMember(kMembers[1], oldTuBun, 2, w::Method::Lh5)});
  w::WriteArchiveFile(b, {w::MakeMember(kMembers[0], newBunsyo, 1), w::MakeMember(kMembers[1], newTuBun, 1)});
  const fs::path out = dir.path() / "counted";
  fs::create_directory(out);

  // One extraction, counted, puts the old contents in place; a few more
  // give the time a warm one takes, which the kill timers spread over.
  ScriptedOps counting;
  counting.syncForReal = false;
  int opsPerRun = 0;
  counting.before = [&](Op, int, const char*, int) { ++opsPerRun; };
  {
    ScopedOps scoped(counting);
    ASSERT_EQ(0, ExtractMembers(a, out, Mode::KeepFolders, kMembers));
  }
  ASSERT_GT(opsPerRun, 10);
  ScriptedOps quick;
  quick.syncForReal = false;
  auto runTime = std::chrono::steady_clock::duration::max();
  {
    ScopedOps scoped(quick);
    for (int k = 0; k < 4; ++k) {
      const auto start = std::chrono::steady_clock::now();
      ASSERT_EQ(0, ExtractMembers(k % 2 == 0 ? b : a, out, Mode::KeepFolders, kMembers));
      runTime = std::min(runTime, std::chrono::steady_clock::now() - start);
    }
  }

  std::mt19937 random(20240102);
  std::uniform_int_distribution<int64_t> delays(0, std::chrono::nanoseconds(runTime).count() * 2);
  // A few children at a time, each on its own copy of the data folder.
  constexpr int kSlots = 4;
  std::vector<fs::path> folders;
  for (int slot = 0; slot < kSlots; ++slot) {
    folders.push_back(dir.path() / ("data" + std::to_string(slot)));
    fs::create_directory(folders.back());
    ASSERT_EQ(0, ExtractMembers(a, folders.back(), Mode::KeepFolders, kMembers));
  }
  std::map<pid_t, int> running;  // child -> slot
  struct Reaper {
    std::map<pid_t, int>& children;
    ~Reaper() {
      for (const auto& [pid, slot] : children) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
  } reaper{running};
  constexpr int kTrials = 1000;
  int started = 0;
  std::string bunsyo;
  std::string tubun;
  bunsyo.reserve(newBunsyo.size() + oldBunsyo.size());
  tubun.reserve(newTuBun.size() + oldTuBun.size());
  auto start = [&](int slot) {
    const bool byTimer = started % 2 == 1;
    // Self-kills sweep every operation of two extractions in a row.
    const int killAt = byTimer ? -1 : (started / 2) % (2 * opsPerRun);
    running[StartChild(a, b, folders[slot], killAt, std::chrono::nanoseconds(delays(random)))] = slot;
    ++started;
  };
  for (int slot = 0; slot < kSlots; ++slot) start(slot);
  for (int finished = 0; finished < kTrials; ++finished) {
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    ASSERT_TRUE(running.count(pid)) << "unknown child " << pid;
    const int slot = running[pid];
    running.erase(pid);
    ASSERT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0) << "child failed with " << WEXITSTATUS(status);

    const fs::path& folder = folders[slot];
    replace::RecoverFolder(folder.string(), {{{"Work", "ZrBunsyo.wf6"}, {"Work", "ZrTuBun.wf6"}}});
    Slurp(folder / "Work/ZrBunsyo.wf6", bunsyo);
    Slurp(folder / "Work/ZrTuBun.wf6", tubun);
    ASSERT_TRUE(bunsyo == oldBunsyo || bunsyo == newBunsyo) << "trial " << finished << ": torn, " << bunsyo.size();
    ASSERT_TRUE(tubun == oldTuBun || tubun == newTuBun) << "trial " << finished << ": torn, " << tubun.size();
    ASSERT_EQ(bunsyo == newBunsyo, tubun == newTuBun) << "trial " << finished << ": a mixed pair";
    ASSERT_EQ(1, CountUsersFiles(folder)) << "trial " << finished;
    ASSERT_EQ(2, CountUsersFiles(folder / "Work")) << "trial " << finished;
    if (started < kTrials) start(slot);
  }
}

}  // namespace
}  // namespace zr::lzh::test
