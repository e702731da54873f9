#include <gtest/gtest.h>

#include "startup/modZrBunsyoRes.h"
#include "tests/support/FakeSuite.h"

namespace zr::startup {
namespace {

class PathRuleTest : public ::testing::Test {
 protected:
  PathRuleTest() { suite.state().settings["COMMON|root"] = "/opt/Suite"; }
  test::FakeSuiteScope suite;
};

TEST_F(PathRuleTest, RefusesOnlyTheCjsFolderDirectlyUnderTheRoot) {
  EXPECT_TRUE(PBlnPathChk("/mnt/BK/"));
  EXPECT_FALSE(PBlnPathChk("/opt/Suite/cjs/BK/"));
  EXPECT_FALSE(PBlnPathChk("/opt/suite/CJS/BK/"));
  EXPECT_TRUE(PBlnPathChk("/opt/Suite/data/cjs/BK/"));
  EXPECT_TRUE(PBlnPathChk("/mnt/cjs/BK/"));
}

TEST_F(PathRuleTest, FullWidthLettersCompareAsTheirAsciiForms) {
  EXPECT_FALSE(PBlnPathChk("/opt/Ｓｕｉｔｅ/ｃｊｓ/BK/"));
}

TEST_F(PathRuleTest, OnlyTheFirstCjsSegmentCounts) { EXPECT_TRUE(PBlnPathChk("/mnt/cjs/opt/Suite/cjs/")); }

TEST_F(PathRuleTest, ReadsTheRootOnlyWhenACjsSegmentIsPresent) {
  EXPECT_TRUE(PBlnPathChk("/mnt/BK/"));
  EXPECT_TRUE(suite.state().calls.empty());
  EXPECT_FALSE(PBlnPathChk("/opt/Suite/cjs/"));
  ASSERT_EQ(suite.state().Operations(), std::vector<std::string>{"ReadSetting"});
  EXPECT_EQ(suite.state().calls[0].arguments, (std::vector<std::string>{"COMMON", "root"}));
  EXPECT_EQ(suite.state().liveInstances, 0);
}

TEST_F(PathRuleTest, LocationStartingWithCjsComparesAnEmptyPrefix) {
  EXPECT_TRUE(PBlnPathChk("/cjs/BK/"));
  suite.state().settings["COMMON|root"] = "";
  EXPECT_FALSE(PBlnPathChk("/cjs/BK/"));
}

TEST_F(PathRuleTest, AnyFailureRefusesQuietly) {
  suite.state().FailWith("ReadSetting", 75, "読めません");
  EXPECT_FALSE(PBlnPathChk("/opt/Suite/cjs/BK/"));
  EXPECT_TRUE(suite.state().log.empty());

  suite.state().failures.clear();
  suite.state().instancesLeft = 0;
  EXPECT_FALSE(PBlnPathChk("/opt/Suite/cjs/BK/"));
  EXPECT_TRUE(PBlnPathChk("/mnt/BK/"));
}

}  // namespace
}  // namespace zr::startup
