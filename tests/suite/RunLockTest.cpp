#include <gtest/gtest.h>

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
