#include <gtest/gtest.h>

#include "startup/modZrBunsyoRes.h"
#include "tests/support/FakeSuite.h"
#include "tests/support/ScriptedInteraction.h"

namespace zr::startup {
namespace {

class RecordingWindow : public RestoreWindowProvider {
 public:
  explicit RecordingWindow(test::FakeSuiteState& s) : s_(s) {}
  void ShowModeless() override {
    ++shown;
    tempPathSeenAtLoad = GStrTempPath;
    liveInstancesAtShow = s_.liveInstances;
  }
  int shown = 0;
  std::string tempPathSeenAtLoad;
  int liveInstancesAtShow = -1;

 private:
  test::FakeSuiteState& s_;
};

class MainTest : public ::testing::Test {
 protected:
  MainTest() : window(suite.state()) {
    GStrTempPath.clear();
    suite.state().iniValues["|COM|TEMP_PATH"] = "/var/tmp/suite/";
  }
  test::FakeSuiteScope suite;
  test::ScriptedInteraction ui;  // any message box fails the test
  RecordingWindow window;
};

TEST_F(MainTest, AllowedStartReadsTheTempFolderAndShowsTheWindow) {
  Main(window);
  EXPECT_EQ(suite.state().Operations(),
            (std::vector<std::string>{"RegisterProgram", "IsStartAllowed", "Check", "ReadIniValue"}));
  EXPECT_EQ(suite.state().calls[0].arguments, (std::vector<std::string>{"TOOL(BackUp)", "0"}));
  EXPECT_EQ(suite.state().calls[3].arguments, (std::vector<std::string>{"COM", "TEMP_PATH", ""}));
  EXPECT_EQ(window.shown, 1);
  EXPECT_EQ(window.tempPathSeenAtLoad, "/var/tmp/suite/");
  // The first instance is held across the window's load; the others are gone.
  EXPECT_EQ(window.liveInstancesAtShow, 1);
  EXPECT_EQ(suite.state().liveInstances, 0);
}

TEST_F(MainTest, FlagLeftFalseEndsBeforeTheGate) {
  suite.state().isStartAllowed = [](suite::SuiteBool&) {};
  Main(window);
  EXPECT_EQ(suite.state().Operations(), (std::vector<std::string>{"RegisterProgram", "IsStartAllowed"}));
  EXPECT_EQ(window.shown, 0);
  EXPECT_EQ(GStrTempPath, "");
  EXPECT_EQ(suite.state().liveInstances, 0);
}

TEST_F(MainTest, TheFlagIsJudgedOnlyAfterIsStartAllowed) {
  suite.state().registerProgram = [](suite::SuiteBool& flag) { flag = suite::kTrue; };
  suite.state().isStartAllowed = [](suite::SuiteBool&) {};
  Main(window);
  EXPECT_EQ(window.shown, 1);
  EXPECT_EQ(suite.state().calls[1].arguments, std::vector<std::string>{"-1"});

  // A True from RegisterProgram that IsStartAllowed turns to False ends the start.
  window.shown = 0;
  suite.state().isStartAllowed = [](suite::SuiteBool& flag) { flag = suite::kFalse; };
  Main(window);
  EXPECT_EQ(window.shown, 0);
}

TEST_F(MainTest, AnyNonZeroFlagCountsAsAllowed) {
  for (suite::SuiteBool value : {suite::SuiteBool{1}, suite::SuiteBool{2}, suite::SuiteBool{-32768}}) {
    window.shown = 0;
    suite.state().isStartAllowed = [value](suite::SuiteBool& flag) { flag = value; };
    Main(window);
    EXPECT_EQ(window.shown, 1) << value;
  }
}

TEST_F(MainTest, GateAnswerOneEndsQuietlyOthersGoOn) {
  suite.state().gateAnswer = 1;
  Main(window);
  EXPECT_EQ(window.shown, 0);
  EXPECT_EQ(GStrTempPath, "");
  EXPECT_EQ(suite.state().Operations(), (std::vector<std::string>{"RegisterProgram", "IsStartAllowed", "Check"}));

  for (int32_t answer : {0, 2, -1}) {
    window.shown = 0;
    suite.state().gateAnswer = answer;
    Main(window);
    EXPECT_EQ(window.shown, 1) << answer;
  }
}

TEST_F(MainTest, EmptyTempFolderStillOpensTheWindow) {
  suite.state().iniValues.clear();
  GStrTempPath = "stale";
  Main(window);
  EXPECT_EQ(window.shown, 1);
  EXPECT_EQ(GStrTempPath, "");
}

TEST_F(MainTest, TempFolderIsStoredExactlyAsReturned) {
  suite.state().iniValues["|COM|TEMP_PATH"] = " /tmp/no separator ";
  Main(window);
  EXPECT_EQ(GStrTempPath, " /tmp/no separator ");
}

TEST_F(MainTest, ComponentFailuresLeaveMainAsRunTimeErrors) {
  suite.state().instancesLeft = 0;
  try {
    Main(window);
    FAIL() << "expected a run-time error";
  } catch (const rt::RuntimeError& e) {
    EXPECT_EQ(e.number(), 429);
  }
  EXPECT_EQ(window.shown, 0);
  EXPECT_TRUE(suite.state().log.empty());

  suite.state().instancesLeft.reset();
  suite.state().FailWith("ReadIniValue", 75, "読めません");
  EXPECT_THROW(Main(window), rt::RuntimeError);
  EXPECT_EQ(window.shown, 0);
  EXPECT_EQ(suite.state().liveInstances, 0);
}

TEST_F(MainTest, GateThatCannotBeCreatedIsARunTimeError) {
  suite.state().instancesLeft = 1;  // instance A only
  EXPECT_THROW(Main(window), rt::RuntimeError);
  EXPECT_EQ(window.shown, 0);
}

}  // namespace
}  // namespace zr::startup
