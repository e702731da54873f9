#include <gtest/gtest.h>

#include "platform/runtime/Interaction.h"
#include "platform/runtime/RuntimeError.h"
#include "startup/ComErr.h"
#include "tests/support/FakeSuite.h"
#include "tests/support/ScriptedInteraction.h"

namespace zr::startup {
namespace {

namespace mb = rt::mb;

const std::string kExpectedDialog =
    "システムエラーを検出しました！\r\r"
    "アプリケーション\u3000 [ZrBunsyoRes]\r\r"
    "エラートラップ関数 [cmdOK_Click]\r\r"
    "エラーコード\u3000\u3000\u3000 ：  53\r\r"
    "エラー内容\u3000\u3000\u3000\u3000 ：\u3000ファイルが見つかりません。\r\r"
    "処理を中断し、プログラム終了しますか？";

int16_t Trap(std::string number, std::string description, std::string procedure) {
  return PIntErrTrap(number, description, procedure);
}

class ErrTrapTest : public ::testing::Test {
 protected:
  test::FakeSuiteScope suite;
  test::ScriptedInteraction ui;
};

TEST_F(ErrTrapTest, LogsFirstThenAsksAndNoGoesOn) {
  suite.state().isStartAllowed = nullptr;
  ui.Answer(mb::AnswerNo);
  EXPECT_EQ(Trap("53", "ファイルが見つかりません。", "cmdOK_Click"), 1);

  EXPECT_EQ(suite.state().Operations(), (std::vector<std::string>{"GetProgramInfo", "WriteErrorLog"}));
  ASSERT_EQ(suite.state().log.size(), 1u);
  const auto& entry = suite.state().log[0];
  EXPECT_EQ(entry.name, "ZrBunsyoRes");
  EXPECT_EQ(entry.procedure, "cmdOK_Click");
  EXPECT_EQ(entry.entry, "ErrNo53:ファイルが見つかりません。");
  EXPECT_EQ(entry.info, 4242);

  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].text, kExpectedDialog);
  EXPECT_EQ(ui.boxes()[0].style, 20);
  EXPECT_EQ(ui.boxes()[0].title, "警告メッセージ");
  EXPECT_EQ(ui.endCount(), 0);
  EXPECT_EQ(suite.state().createdInstances, 2);
  EXPECT_EQ(suite.state().liveInstances, 0);
}

TEST_F(ErrTrapTest, YesEndsTheProgramAfterLogging) {
  ui.Answer(mb::AnswerYes);
  Trap("75", "アクセスできません。", "Form_Load");
  EXPECT_EQ(ui.endCount(), 1);
  EXPECT_EQ(suite.state().log.size(), 1u);
}

TEST_F(ErrTrapTest, NegativeNumbersKeepTheirSignAndEmptyPartsKeepTheirLabels) {
  ui.Answer(mb::AnswerNo);
  Trap("-2147467259", "", "");
  EXPECT_EQ(suite.state().log.at(0).entry, "ErrNo-2147467259:");
  const std::string& text = ui.boxes().at(0).text;
  EXPECT_NE(text.find("エラーコード\u3000\u3000\u3000 ：  -2147467259\r\r"), std::string::npos);
  EXPECT_NE(text.find("エラートラップ関数 []\r\r"), std::string::npos);
  EXPECT_NE(text.find("エラー内容\u3000\u3000\u3000\u3000 ：\u3000\r\r"), std::string::npos);
}

TEST_F(ErrTrapTest, DescriptionWithLineBreaksIsShownUnchanged) {
  ui.Answer(mb::AnswerNo);
  Trap("5", "一行目\r\n二行目", "MBlnZrVerChk");
  EXPECT_NE(ui.boxes().at(0).text.find("：\u3000一行目\r\n二行目\r\r処理を中断"), std::string::npos);
}

TEST_F(ErrTrapTest, TheCallersTextsAreLeftAsTheyWere) {
  ui.Answer(mb::AnswerNo);
  std::string number = "53";
  std::string description = "説明";
  std::string procedure = "cmdRefer_Click";
  PIntErrTrap(number, description, procedure);
  EXPECT_EQ(number, "53");
  EXPECT_EQ(description, "説明");
  EXPECT_EQ(procedure, "cmdRefer_Click");
}

TEST_F(ErrTrapTest, UnavailableSuiteShowsOnlyTheSecondLevelWithItsOwnNumber) {
  suite.state().instancesLeft = 0;
  ui.Answer(mb::AnswerOk);
  Trap("53", "ファイルが見つかりません。", "cmdOK_Click");
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].text, "予期せぬエラーが発生しました。: 429\r\r強制終了します。");
  EXPECT_EQ(ui.boxes()[0].style, 16);
  EXPECT_EQ(ui.boxes()[0].title, "警告メッセージ");
  EXPECT_EQ(ui.endCount(), 1);
  EXPECT_TRUE(suite.state().log.empty());
}

TEST_F(ErrTrapTest, FailingProgramInfoLogsNothing) {
  suite.state().FailWith("GetProgramInfo", 440, "x");
  ui.Answer(mb::AnswerOk);
  Trap("53", "d", "Form_Load");
  EXPECT_EQ(ui.boxes().at(0).text, "予期せぬエラーが発生しました。: 440\r\r強制終了します。");
  EXPECT_EQ(suite.state().Operations(), std::vector<std::string>{"GetProgramInfo"});
  EXPECT_EQ(ui.endCount(), 1);
}

TEST_F(ErrTrapTest, FailingLogWriteNeverShowsTheFirstDialog) {
  suite.state().FailWith("WriteErrorLog", 70, "書けません");
  ui.Answer(mb::AnswerOk);
  Trap("53", "d", "Form_Load");
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].style, 16);
  EXPECT_NE(ui.boxes()[0].text.find(": 70\r\r"), std::string::npos);
  EXPECT_EQ(ui.endCount(), 1);
}

TEST_F(ErrTrapTest, FailingFirstDialogFallsToTheSecondLevel) {
  int shown = 0;
  rt::InteractionHooks hooks;
  hooks.messageBox = [&](const std::string& text, int style, const std::string&) {
    if (++shown == 1) throw rt::RuntimeError(7, "no memory");
    EXPECT_EQ(text, "予期せぬエラーが発生しました。: 7\r\r強制終了します。");
    EXPECT_EQ(style, 16);
    return mb::AnswerOk;
  };
  int ended = 0;
  hooks.endProgram = [&](int) { ++ended; };
  auto previous = rt::InstallInteraction(hooks);
  Trap("53", "d", "Form_Load");
  rt::InstallInteraction(previous);
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(suite.state().log.size(), 1u);
}

TEST_F(ErrTrapTest, TrapCurrentErrorPassesNumberDescriptionAndName) {
  ui.Answer(mb::AnswerNo);
  try {
    throw rt::RuntimeError(-5, "負の番号");
  } catch (...) {
    TrapCurrentError("MSubRestoreSyori");
  }
  ASSERT_EQ(suite.state().log.size(), 1u);
  EXPECT_EQ(suite.state().log[0].procedure, "MSubRestoreSyori");
  EXPECT_EQ(suite.state().log[0].entry, "ErrNo-5:負の番号");
}

TEST_F(ErrTrapTest, ForeignExceptionsBecomeRunTimeErrors) {
  ui.Answer(mb::AnswerNo);
  try {
    throw std::bad_alloc();
  } catch (...) {
    TrapCurrentError("Form_Load");
  }
  EXPECT_EQ(suite.state().log.at(0).entry.rfind("ErrNo7:", 0), 0u);
}

}  // namespace
}  // namespace zr::startup
