#include <gtest/gtest.h>

#include "restore/TemplateRestore.h"
#include "tests/restore/RestoreFixture.h"

namespace zr::restore {
namespace {

namespace mb = rt::mb;

class TemplateRestoreOrderTest : public ::testing::Test {
 protected:
  TemplateRestoreOrderTest() {
    suite.state().settings["Common|DataPath"] = "/srv/suite/data";
    form.bkupPath = "/mnt/BK/ZrDataBK/";
  }
  test::FakeSuiteScope suite;
  test::ScriptedInteraction ui;
  test::FakeRestoreWindow form;
};

TEST_F(TemplateRestoreOrderTest, CallsInOrderWithTheWindowDisabledThroughout) {
  std::vector<bool> enabledDuringExtract;
  int eventsBeforeExtract = -1;
  suite.state().extract = [&](const std::string&, const std::string&, int16_t, std::vector<std::string>&, int16_t&) {
    enabledDuringExtract.push_back(form.enabled);
    eventsBeforeExtract = ui.doEventsCount();
  };
  ui.Answer(mb::AnswerOk);
  MSubRestoreSyori(form, "a.lzh");

  EXPECT_EQ(suite.state().noticeCalls, (std::vector<std::string>{"Message:リストアしています．．．", "Visible:-1",
                                                                 "Refresh", "Visible:0", "Refresh", "Release"}));
  EXPECT_EQ(enabledDuringExtract, std::vector<bool>{false});
  EXPECT_EQ(eventsBeforeExtract, 1);
  EXPECT_EQ(ui.doEventsCount(), 1);

  const auto& calls = suite.state().calls;
  const auto extract =
      std::find_if(calls.begin(), calls.end(), [](auto& c) { return c.operation == "ExtractArchive"; });
  ASSERT_NE(extract, calls.end());
  EXPECT_EQ(extract->arguments, (std::vector<std::string>{"4660", "/mnt/BK/ZrDataBK/a.lzh", "/srv/suite/data/", "0",
                                                          "Work\\ZrBunsyo.wf6", "Work\\ZrTuBun.wf6"}));

  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].text, "雛形（文書選択編集）の復旧を完了しました。");
  EXPECT_EQ(ui.boxes()[0].style, mb::Information);
  EXPECT_EQ(ui.boxes()[0].title, test::kRestoreTitle);

  EXPECT_TRUE(form.enabled);
  EXPECT_EQ(ui.pointerCodes(), (std::vector<int>{11, 0}));
  EXPECT_EQ(suite.state().liveInstances, 0);
}

TEST_F(TemplateRestoreOrderTest, DataFolderWithClosingSeparatorIsUsedUnchanged) {
  suite.state().settings["Common|DataPath"] = "/srv/suite/data/";
  ui.Answer(mb::AnswerOk);
  MSubRestoreSyori(form, "a.lzh");
  const auto& calls = suite.state().calls;
  const auto extract =
      std::find_if(calls.begin(), calls.end(), [](auto& c) { return c.operation == "ExtractArchive"; });
  ASSERT_NE(extract, calls.end());
  EXPECT_EQ(extract->arguments.at(2), "/srv/suite/data/");
}

TEST_F(TemplateRestoreOrderTest, EmptyArchiveNameExtractsNothingButStillCompletes) {
  ui.Answer(mb::AnswerOk);
  MSubRestoreSyori(form, "");
  EXPECT_EQ(suite.state().Operations(), (std::vector<std::string>{"Notice.Message", "Notice.Visible", "Notice.Refresh",
                                                                  "ReadSetting", "Notice.Visible", "Notice.Refresh"}));
  EXPECT_EQ(ui.boxes().size(), 1u);
}

TEST_F(TemplateRestoreOrderTest, EmptyDataFolderGoesToTheTrapAndExtractsNothing) {
  suite.state().settings["Common|DataPath"] = "";
  ui.Answer(mb::AnswerNo);
  MSubRestoreSyori(form, "a.lzh");
  for (const auto& call : suite.state().calls) EXPECT_NE(call.operation, "ExtractArchive");
  ASSERT_EQ(suite.state().log.size(), 1u);
  EXPECT_EQ(suite.state().log[0].procedure, "MSubRestoreSyori");
  EXPECT_EQ(suite.state().log[0].entry.rfind("ErrNo76:", 0), 0u);
  EXPECT_TRUE(form.enabled);
  EXPECT_EQ(ui.pointerCodes().back(), 0);
}

TEST_F(TemplateRestoreOrderTest, MissingTemplateIsReportedNotCompleted) {
  suite.state().extract = [](const std::string&, const std::string&, int16_t, std::vector<std::string>&,
                             int16_t& result) { result = 1; };
  ui.Answer(mb::AnswerNo);
  MSubRestoreSyori(form, "a.lzh");
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].title, "警告メッセージ");
  ASSERT_EQ(suite.state().log.size(), 1u);
  EXPECT_EQ(suite.state().log[0].entry.rfind("ErrNo53:", 0), 0u);
  EXPECT_NE(suite.state().log[0].entry.find("ZrTuBun.wf6"), std::string::npos);
  EXPECT_TRUE(form.enabled);
}

TEST_F(TemplateRestoreOrderTest, ExtractionErrorTrapsAndCleansUpWithoutCompletion) {
  suite.state().FailWith("ExtractArchive", 321, "壊れています");
  ui.Answer(mb::AnswerNo);
  MSubRestoreSyori(form, "a.lzh");
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].style, 20);
  EXPECT_EQ(suite.state().log.at(0).entry, "ErrNo321:壊れています");
  EXPECT_EQ(suite.state().log.at(0).procedure, "MSubRestoreSyori");
  // The notice is not switched off on this path, only released.
  EXPECT_EQ(std::count(suite.state().noticeCalls.begin(), suite.state().noticeCalls.end(), "Visible:0"), 0);
  EXPECT_EQ(suite.state().noticeCalls.back(), "Release");
  EXPECT_TRUE(form.enabled);
  EXPECT_EQ(ui.pointerCodes(), (std::vector<int>{11, 0}));
}

TEST_F(TemplateRestoreOrderTest, FailureAtEveryEarlyStepStillRestoresPointerAndWindow) {
  for (const char* operation : {"Notice.Message", "Notice.Visible", "Notice.Refresh", "ReadSetting"}) {
    SCOPED_TRACE(operation);
    suite.state().failures.clear();
    suite.state().FailWith(operation, 440, "失敗");
    ui.Answer(mb::AnswerNo);
    form.enabled = true;
    MSubRestoreSyori(form, "a.lzh");
    EXPECT_TRUE(form.enabled);
    EXPECT_EQ(rt::MousePointer(), 0);
    EXPECT_EQ(suite.state().log.back().entry, "ErrNo440:失敗");
  }
}

TEST_F(TemplateRestoreOrderTest, PointerIsDefaultAfterwardsWhateverItWasBefore) {
  rt::SetMousePointer(rt::pointer::Hourglass);
  ui.Answer(mb::AnswerOk);
  MSubRestoreSyori(form, "a.lzh");
  EXPECT_EQ(rt::MousePointer(), rt::pointer::Default);
}

TEST_F(TemplateRestoreOrderTest, WindowThatCannotBeDisabledIsTrappedAndCleanUpErrorsAreIgnored) {
  form.failSetEnabled = true;
  ui.Answer(mb::AnswerNo);
  MSubRestoreSyori(form, "a.lzh");
  EXPECT_EQ(suite.state().log.size(), 1u);
  EXPECT_EQ(ui.boxes().size(), 1u);
}

}  // namespace
}  // namespace zr::restore
