#include <gtest/gtest.h>

#include "suite/local/LocalStartGate.h"
#include "suite/local/LocalSuiteServices.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/SuiteHomeScope.h"

namespace zr::suite {
namespace {

class StartGateTest : public ::testing::Test {
 protected:
  int32_t Check() {
    LocalStartGate gate;
    int32_t answer = -7;
    gate.Check(answer);
    return answer;
  }
  void RegisterHere(const std::string& programId) {
    LocalSuiteServices services;
    std::string id = programId;
    SuiteBool flag = kFalse;
    services.RegisterProgram(id, flag);
  }

  test::SuiteHomeScope home;
  test::ScriptedInteraction ui;  // an unexpected box fails the test
};

TEST_F(StartGateTest, NothingRunningAnswersZero) {
  EXPECT_EQ(Check(), 0) << "no run folder yet";
  RegisterHere("TOOL(BackUp)");
  EXPECT_EQ(Check(), 0) << "our own registration";
  EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(StartGateTest, AnotherRunningProgramIsNamedAndRefuses) {
  RegisterHere("TOOL(BackUp)");
  test::LockHolder other({"ZrKaigo"});
  ui.Answer(rt::mb::AnswerOk);
  EXPECT_EQ(Check(), 1);
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].icon(), rt::mb::Exclamation);
  EXPECT_EQ(ui.boxes()[0].buttons(), rt::mb::OkOnly);
  EXPECT_EQ(ui.boxes()[0].title, "あおば！ナビ");
  EXPECT_EQ(ui.boxes()[0].text,
            "「ZrKaigo」が実行中のため、雛形復旧ツールを起動できません。\r\n"
            "実行中のプログラムを終了してから、もう一度起動してください。");

  EXPECT_EQ(other.Release(), 0);
  EXPECT_EQ(Check(), 0) << "the program has ended";
  EXPECT_EQ(ui.boxes().size(), 1u);
}

TEST_F(StartGateTest, EveryRunningProgramIsNamed) {
  test::LockHolder others({"ZrTusho", "TOOL(Kanri)"});
  ui.Answer(rt::mb::AnswerOk);
  EXPECT_EQ(Check(), 1);
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].text.rfind("「TOOL(Kanri)」、「ZrTusho」が実行中のため、", 0), 0u) << ui.boxes()[0].text;
}

TEST_F(StartGateTest, KilledProgramAndStrayFilesDoNotCount) {
  {
    test::LockHolder crashed({"ZrKaigo"});
    crashed.Kill();
  }
  test::WriteFile(home.home() / "run" / "notes.txt", "");
  test::WriteFile(home.home() / "run" / "bad%zz.lock", "");
  std::filesystem::create_directories(home.home() / "run" / "folder.lock");
  EXPECT_EQ(Check(), 0);
}

TEST_F(StartGateTest, AnotherInstanceOfOurOwnIdentifierIsLeftToIsStartAllowed) {
  test::LockHolder sameTool({"TOOL(BackUp)"});
  RegisterHere("TOOL(BackUp)");
  EXPECT_EQ(Check(), 0);
}

}  // namespace
}  // namespace zr::suite
