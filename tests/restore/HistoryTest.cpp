#include <gtest/gtest.h>

#include "restore/History.h"
#include "restore/TemplateRestore.h"
#include "tests/restore/RealSuite.h"
#include "tests/restore/RestoreFixture.h"
#include "tools/demo/DemoBackups.h"

namespace zr::restore {
namespace {

namespace fs = std::filesystem;
namespace mb = rt::mb;

class HistoryTest : public ::testing::Test {
 protected:
  HistoryTest() {
    demo::WriteLiveTemplates(suite.data());
    form.bkupPath = suite.backups().string() + "/";
  }

  std::string Live(const std::string& file) const { return test::ReadFile(suite.data() / file); }

  void Restore(const std::string& label, bool damaged = false) {
    demo::WriteBackupArchive(suite.backups() / (label + ".lzh"), {"9.2.0", true, damaged, label});
    ui.Answer(damaged ? mb::AnswerNo : mb::AnswerOk);
    MSubRestoreSyori(form, label + ".lzh");
  }

  test::RealSuite suite;
  test::ScriptedInteraction ui;
  test::FakeRestoreWindow form;
};

TEST_F(HistoryTest, EachRestoreKeepsThePairItReplacedAndOnlyTheNewestFiveStay) {
  std::vector<std::pair<std::string, std::string>> replaced;
  for (int i = 1; i <= 6; ++i) {
    replaced.push_back({Live("Work/ZrBunsyo.wf6"), Live("Work/ZrTuBun.wf6")});
    Restore("r" + std::to_string(i));
  }
  const auto entries = ListHistory(suite.history());
  ASSERT_EQ(entries.size(), kHistoryKept);
  for (std::size_t k = 0; k < entries.size(); ++k) {
    // Newest first: entry k holds what restore 6-k replaced.
    const auto& [bunsyo, tubun] = replaced[5 - k];
    EXPECT_EQ(test::ReadFile(entries[k].folder / "Work/ZrBunsyo.wf6"), bunsyo) << k;
    EXPECT_EQ(test::ReadFile(entries[k].folder / "Work/ZrTuBun.wf6"), tubun) << k;
    EXPECT_EQ(entries[k].archive, (suite.backups() / ("r" + std::to_string(6 - k) + ".lzh")).string());
    EXPECT_EQ(entries[k].installedVersion, "10.0.0");
    EXPECT_FALSE(entries[k].fromUndo);
    EXPECT_EQ(entries[k].time.size(), 19u) << entries[k].time;
  }
}

TEST_F(HistoryTest, NoEntryWithoutARestoreAndNoRestoreWithoutAnEntry) {
  const std::string bunsyo = Live("Work/ZrBunsyo.wf6");
  Restore("damaged", true);
  EXPECT_TRUE(ListHistory(suite.history()).empty());
  EXPECT_EQ(Live("Work/ZrBunsyo.wf6"), bunsyo);

  // A history that cannot be written: the way back comes first.
  fs::remove_all(suite.history());
  test::WriteFile(suite.history(), "not a folder");
  Restore("good");
  EXPECT_EQ(ui.boxes().back().title, "警告メッセージ");
  EXPECT_NE(suite.ErrorLog().find("履歴"), std::string::npos) << suite.ErrorLog();
  EXPECT_EQ(Live("Work/ZrBunsyo.wf6"), bunsyo);
}

}  // namespace
}  // namespace zr::restore
