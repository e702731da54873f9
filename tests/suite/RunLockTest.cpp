#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/runtime/RuntimeError.h"
#include "suite/local/LocalSuiteServices.h"
#include "suite/local/RunLocks.h"
#include "tests/support/SuiteHomeScope.h"

namespace zr::suite {
namespace {

// Registers and asks, as Main does; returns the start flag.
SuiteBool Start(const std::string& programId) {
  LocalSuiteServices services;
  std::string id = programId;
  SuiteBool flag = kFalse;
  services.RegisterProgram(id, flag);
  services.IsStartAllowed(flag);
  return flag;
}

TEST(RunLockNameTest, IdentifiersBecomeSafeFileNamesAndBack) {
  EXPECT_EQ(RunLockFileName("TOOL(BackUp)"), "TOOL(BackUp).lock");
  EXPECT_EQ(RunLockFileName("a/b"), "a%2Fb.lock");
  EXPECT_EQ(RunLockFileName(".."), "%2E..lock");
  EXPECT_EQ(RunLockFileName("50%"), "50%25.lock");
  for (const std::string id : {"TOOL(BackUp)", "a/b", "..", "/", "50%", "介護 記録", "x\ny", "%2F"}) {
    const std::string name = RunLockFileName(id);
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_NE(name.front(), '.') << name;
    EXPECT_EQ(ProgramIdFromRunLockFileName(name), id) << name;
  }
  EXPECT_EQ(ProgramIdFromRunLockFileName("other.txt"), std::nullopt);
  EXPECT_EQ(ProgramIdFromRunLockFileName(".lock"), std::nullopt);
  EXPECT_EQ(ProgramIdFromRunLockFileName("bad%2.lock"), std::nullopt);
  EXPECT_EQ(ProgramIdFromRunLockFileName("bad%zz.lock"), std::nullopt);
}

class RunLockTest : public ::testing::Test {
 protected:
  test::SuiteHomeScope home;
};

TEST_F(RunLockTest, FirstInstanceIsAllowedAndHoldsItsLock) {
  EXPECT_EQ(Start("TOOL(BackUp)"), kTrue);
  const auto lockFile = home.home() / "run" / "TOOL(BackUp).lock";
  EXPECT_TRUE(std::filesystem::is_regular_file(lockFile));
  EXPECT_TRUE(IsRunLockHeld(lockFile));
  // Registering again in the same process is no second instance.
  EXPECT_EQ(Start("TOOL(BackUp)"), kTrue);
}

TEST_F(RunLockTest, SecondInstanceIsRefused) {
  ASSERT_EQ(Start("TOOL(BackUp)"), kTrue);
  const int status = test::RunInChild([] {
    LocalSuiteServices services;
    std::string id = "TOOL(BackUp)";
    SuiteBool flag = kTrue;
    services.RegisterProgram(id, flag);
    flag = kTrue;  // IsStartAllowed must decide on its own
    services.IsStartAllowed(flag);
    return flag == kFalse ? 0 : 1;
  });
  EXPECT_EQ(status, 0) << "the second instance was allowed";
  // Another identifier is not held back by ours.
  EXPECT_EQ(test::RunInChild([] { return Start("ZrKaigo") == kTrue ? 0 : 1; }), 0);
}

TEST_F(RunLockTest, RunningInstanceElsewhereRefusesUntilItEnds) {
  test::LockHolder other({"TOOL(BackUp)"});
  EXPECT_EQ(Start("TOOL(BackUp)"), kFalse);
  EXPECT_EQ(other.Release(), 0);
  EXPECT_EQ(Start("TOOL(BackUp)"), kTrue);
}

TEST_F(RunLockTest, KilledHolderDoesNotBlock) {
  test::LockHolder crashed({"TOOL(BackUp)"});
  LocalSuiteServices services;
  std::string id = "TOOL(BackUp)";
  SuiteBool flag = kFalse;
  services.RegisterProgram(id, flag);
  services.IsStartAllowed(flag);
  ASSERT_EQ(flag, kFalse);

  crashed.Kill();
  // The lock file is still there, but nobody holds it.
  const auto lockFile = home.home() / "run" / "TOOL(BackUp).lock";
  EXPECT_TRUE(std::filesystem::exists(lockFile));
  EXPECT_FALSE(IsRunLockHeld(lockFile));
  // The same instance asked again, and a new start, both go ahead.
  services.IsStartAllowed(flag);
  EXPECT_EQ(flag, kTrue);
  EXPECT_EQ(Start("TOOL(BackUp)"), kTrue);
}

TEST_F(RunLockTest, IsStartAllowedUsesTheRegistrationOfAnotherInstance) {
  test::LockHolder other({"TOOL(BackUp)"});
  {
    LocalSuiteServices first;
    std::string id = "TOOL(BackUp)";
    SuiteBool flag = kFalse;
    first.RegisterProgram(id, flag);
  }
  LocalSuiteServices second;
  SuiteBool flag = kTrue;
  second.IsStartAllowed(flag);
  EXPECT_EQ(flag, kFalse);
}

// What `flock FILE command` does: a process that holds a flock(2) lock on
// the file until it is released or killed.
class ScriptLock {
 public:
  explicit ScriptLock(const std::filesystem::path& file) {
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    EXPECT_EQ(pipe(release_), 0);
    child_ = fork();
    if (child_ == 0) {
      close(release_[1]);
      const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
      const char answer = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
      if (write(ready[1], &answer, 1) != 1) _exit(1);
      char ignored;
      while (read(release_[0], &ignored, 1) < 0 && errno == EINTR) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release_[0]);
    char answer = 0;
    EXPECT_EQ(read(ready[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'y');
    close(ready[0]);
  }
  ~ScriptLock() { End(SIGTERM); }
  void End(int signal) {
    if (child_ <= 0) return;
    kill(child_, signal);
    waitpid(child_, nullptr, 0);
    close(release_[1]);
    child_ = -1;
  }

 private:
  pid_t child_ = -1;
  int release_[2] = {-1, -1};
};

TEST_F(RunLockTest, ScriptsSeeTheRunningToolThroughFlock) {
  ASSERT_EQ(Start("TOOL(BackUp)"), kTrue);
  const auto lockFile = home.home() / "run" / "TOOL(BackUp).lock";
  const int fd = open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0) << "flock -n would have got the running tool's lock";
  close(fd);
}

TEST_F(RunLockTest, AFlockHeldByAScriptKeepsProgramsAwayUntilItsHolderEnds) {
  const auto run = home.home() / "run";
  std::filesystem::create_directories(run);
  {
    ScriptLock script(run / "TOOL(BackUp).lock");
    EXPECT_EQ(Start("TOOL(BackUp)"), kFalse);
    ScriptLock module(run / "ZrKaigo.lock");
    EXPECT_TRUE(IsRunLockHeld(run / "ZrKaigo.lock")) << "the start gate would not see the module";
    module.End(SIGKILL);
    EXPECT_FALSE(IsRunLockHeld(run / "ZrKaigo.lock"));
  }
  EXPECT_EQ(Start("TOOL(BackUp)"), kTrue);
}

TEST_F(RunLockTest, RunFolderThatCannotBeMadeIsAnError) {
  test::WriteFile(home.home() / "run", "a file where the folder belongs");
  EXPECT_THROW(Start("TOOL(BackUp)"), rt::RuntimeError);
  LocalSuiteServices services;
  std::string empty;
  SuiteBool flag = kFalse;
  try {
    services.RegisterProgram(empty, flag);
    FAIL() << "an empty identifier was accepted";
  } catch (const rt::RuntimeError& e) {
    EXPECT_EQ(e.number(), rt::err::InvalidProcedureCall);
  }
}

}  // namespace
}  // namespace zr::suite
