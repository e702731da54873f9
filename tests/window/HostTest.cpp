#include <gtest/gtest.h>

#include <QPushButton>

#include "platform/runtime/Interaction.h"
#include "platform/ui/DisplayPanel.h"
#include "startup/modZrBunsyoRes.h"
#include "tests/support/FakeSuite.h"
#include "tests/support/ScriptedInteraction.h"
#include "window/RestoreWindowHost.h"
#include "window/UnhandledError.h"

namespace zr::window {
namespace {

class HostTest : public ::testing::Test {
 protected:
  HostTest() {
    startup::GStrTempPath.clear();
    suite.state().iniValues["|COM|TEMP_PATH"] = "/var/tmp/suite/";
    suite.state().iniValues["ZrX.ini|BKUP|BKUP_PATH"] = "/nonexistent/BK/";
  }
  test::FakeSuiteScope suite;
  test::ScriptedInteraction ui;
};

TEST_F(HostTest, CreatesTheWindowOnceLoadsItOnceAndShowsItWithoutOwner) {
  RestoreWindowHost host;
  EXPECT_EQ(host.Window(), nullptr);
  EXPECT_FALSE(host.WasShown());

  host.ShowModeless();
  frmRecov* first = host.Window();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(host.WasShown());
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(first->parentWidget(), nullptr);
  EXPECT_FALSE(first->isModal());
  EXPECT_EQ(first->sspPath().Caption(), " /nonexistent/BK/");

  first->close();
  host.ShowModeless();
  EXPECT_EQ(host.Window(), first);
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(suite.state().Operations(), std::vector<std::string>{"ReadIniValue"});
}

TEST_F(HostTest, StartUpOpensTheRealWindowAfterTheTemporaryFolderIsKnown) {
  RestoreWindowHost host;
  startup::Main(host);
  ASSERT_TRUE(host.WasShown());
  EXPECT_TRUE(host.Window()->isVisible());
  EXPECT_EQ(startup::GStrTempPath, "/var/tmp/suite/");
  EXPECT_EQ(suite.state().Operations(),
            (std::vector<std::string>{"RegisterProgram", "IsStartAllowed", "Check", "ReadIniValue", "ReadIniValue"}));
}

TEST_F(HostTest, AGateAnswerOfOneOpensNoWindow) {
  suite.state().gateAnswer = 1;
  RestoreWindowHost host;
  startup::Main(host);
  EXPECT_FALSE(host.WasShown());
  EXPECT_EQ(host.Window(), nullptr);
}

TEST_F(HostTest, ExitClosesTheWindowWithoutAQuestion) {
  RestoreWindowHost host;
  host.ShowModeless();
  host.Window()->findChild<QPushButton*>("cmdSyuryou")->click();
  EXPECT_FALSE(host.Window()->isVisible());
  EXPECT_TRUE(ui.boxes().empty());
}

TEST(UnhandledErrorTest, AnErrorEscapingAHandlerEndsTheProgramWithAPlainReportAndABox) {
  EXPECT_EQ(UnhandledErrorReport(rt::RuntimeError(-5, "説明")), "ZrBunsyoRes: 実行時エラー -5: 説明");

  test::FakeSuiteScope suite;
  std::vector<test::MessageBoxCall> boxes;
  int endStatus = -1;
  // The device message cannot be shown: the Search's own handler fails, and
  // nothing may unwind into Qt.
  rt::InteractionHooks hooks;
  hooks.messageBox = [&boxes](const std::string& text, int style, const std::string& title) {
    boxes.push_back({text, style, title});
    if (boxes.size() == 1) throw rt::RuntimeError(51, "表示できません。");
    return rt::mb::AnswerOk;
  };
  hooks.endProgram = [&endStatus](int status) { endStatus = status; };
  const auto previous = rt::InstallInteraction(hooks);
  {
    frmRecov window;
    window.sspPath().SetCaption(" /nonexistent/");
    testing::internal::CaptureStderr();
    window.findChild<QPushButton*>("cmdSearch")->click();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ZrBunsyoRes: 実行時エラー 51: 表示できません。\n");
  }
  rt::InstallInteraction(previous);
  EXPECT_EQ(endStatus, 1);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, "実行時エラー '51':\r\n\r\n表示できません。");
  EXPECT_EQ(boxes[1].style, rt::mb::Critical | rt::mb::OkOnly);
  EXPECT_EQ(boxes[1].title, "ZrBunsyoRes");
}

}  // namespace
}  // namespace zr::window
