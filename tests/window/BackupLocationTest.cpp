#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QPushButton>
#include <filesystem>

#include "platform/runtime/Interaction.h"
#include "platform/ui/DisplayPanel.h"
#include "platform/ui/FileListBox.h"
#include "tests/support/CurrentDirectoryScope.h"
#include "tests/support/FakeSuite.h"
#include "tests/support/ListEntries.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/WithoutFileAccessOverride.h"
#include "window/frmRecov.h"

namespace zr::window {
namespace {

namespace fs = std::filesystem;
namespace mb = rt::mb;
using Names = std::vector<std::string>;

const std::string kDeviceMessage =
    "デバイスが準備されていないか、またはネットワーク接続が不正です。\r\n"
    "バックアップ場所がＭＯ・ＣＤ－Ｒ等の場合は装置にセットしてください。";
const std::string kStoredKey = "ZrX.ini|BKUP|BKUP_PATH";

using test::ListEntries;

// Each test runs with its own folder as the current directory; the window
// is created there, so its list starts on "start/".
class BackupLocationTest : public ::testing::Test {
 protected:
  BackupLocationTest() {
    for (const char* name : {"a.lzh", "b.txt", "C.LZH", ".hidden.lzh"}) {
      test::WriteFile(dir.path() / "BK" / "ZrDataBK" / name, "x");
    }
    test::WriteFile(dir.path() / "BK" / "direct.lzh", "x");
    test::WriteFile(dir.path() / "Flat" / "flat.lzh", "x");
    test::WriteFile(dir.path() / "Flat" / "flat.txt", "x");
    window = std::make_unique<frmRecov>();
  }

  std::string Start() const { return (dir.path() / "start").string(); }
  std::string Bk() const { return dir.folder() + "BK/"; }

  void Load(const std::string& stored) {
    suite.state().iniValues[kStoredKey] = stored;
    window->Form_Load();
  }
  void ClickButton(const char* name) { window->findChild<QPushButton*>(name)->click(); }

  ui::DisplayPanel& panel() { return window->sspPath(); }
  ui::FileListBox& list() { return window->filBack(); }

  void ExpectDeviceMessage() {
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].text, kDeviceMessage);
    EXPECT_EQ(ui.boxes()[0].style, mb::OkOnly | mb::Exclamation);
    EXPECT_EQ(ui.boxes()[0].title, "あおば！ナビ");
    EXPECT_TRUE(suite.state().log.empty());
  }

  static fs::path StartFolder(const fs::path& root) {
    test::WriteFile(root / "start" / "start.lzh", "x");
    test::WriteFile(root / "start" / "start.txt", "x");
    return root / "start";
  }

  test::TempDir dir;
  test::CurrentDirectoryScope here{StartFolder(dir.path())};
  test::FakeSuiteScope suite;
  test::ScriptedInteraction ui;
  std::unique_ptr<frmRecov> window;
};

TEST_F(BackupLocationTest, LoadListsTheArchivesOfTheStoredLocationsBackupFolder) {
  Load(Bk());
  EXPECT_EQ(window->windowTitle().toStdString(), "あおば！ナビ　雛形（文書選択編集）ファイル復旧ツール");
  EXPECT_EQ(panel().Caption(), " " + Bk());
  EXPECT_EQ(list().Pattern(), "*.lzh");
  EXPECT_EQ(list().Path(), Bk() + "ZrDataBK");
  // Upper-case extensions from Windows media count; hidden files and b.txt do not.
  EXPECT_EQ(ListEntries(list()), (Names{"a.lzh", "C.LZH"}));
  EXPECT_EQ(list().ListIndex(), -1);

  ASSERT_EQ(suite.state().Operations(), Names{"ReadIniValue"});
  EXPECT_EQ(suite.state().calls[0].arguments, (Names{"BKUP", "BKUP_PATH", "ZrX.ini"}));
  EXPECT_EQ(suite.state().liveInstances, 0);
  EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(BackupLocationTest, AnEmptyStoredLocationLeavesOneBlankAndTheStartingFolder) {
  Load("");
  EXPECT_EQ(panel().Caption(), " ");
  EXPECT_EQ(list().Path(), Start());
  EXPECT_EQ(ListEntries(list()), Names{"start.lzh"});
}

TEST_F(BackupLocationTest, ALocationWithoutTheClosingSeparatorIsJoinedAsWritten) {
  Load(dir.folder() + "BK");
  EXPECT_EQ(panel().Caption(), " " + dir.folder() + "BK");
  EXPECT_EQ(list().Path(), Start());
  EXPECT_TRUE(ui.boxes().empty());

  // The joined name is a folder of its own, and is listed when it exists.
  test::WriteFile(dir.path() / "BKZrDataBK" / "joined.lzh", "x");
  Load(dir.folder() + "BK");
  EXPECT_EQ(list().Path(), dir.folder() + "BKZrDataBK");
  EXPECT_EQ(ListEntries(list()), Names{"joined.lzh"});
}

TEST_F(BackupLocationTest, AMissingOrUnreadableBackupFolderIsQuietAtLoad) {
  Load(dir.folder() + "Flat/");
  EXPECT_EQ(panel().Caption(), " " + dir.folder() + "Flat/");
  EXPECT_EQ(list().Path(), Start());

  Load("/nonexistent/media/");
  EXPECT_EQ(list().Path(), Start());

  fs::create_directories(dir.path() / "Locked" / "ZrDataBK");
  ASSERT_EQ(chmod((dir.path() / "Locked" / "ZrDataBK").c_str(), 0), 0);
  test::WithoutFileAccessOverride unprivileged;
  ASSERT_TRUE(unprivileged.Refuses(dir.folder() + "Locked/ZrDataBK")) << "this process reads every folder";
  Load(dir.folder() + "Locked/");
  EXPECT_EQ(list().Path(), Start());
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_TRUE(suite.state().log.empty());
}

TEST_F(BackupLocationTest, AStartingFolderThatIsGoneDoesNotStopTheLoad) {
  fs::remove_all(dir.path() / "start");
  Load(Bk());
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_EQ(panel().Caption(), " " + Bk());
  EXPECT_EQ(ListEntries(list()), (Names{"a.lzh", "C.LZH"}));
}

TEST_F(BackupLocationTest, AFailedReadAtLoadGoesToTheTrapAndLeavesTheDesignText) {
  suite.state().FailWith("ReadIniValue", 75, "ZrX.ini を読めません。");
  ui.Answer(mb::AnswerNo);
  window->Show();

  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].style, mb::YesNo | mb::Critical);
  EXPECT_EQ(ui.boxes()[0].title, "警告メッセージ");
  EXPECT_NE(ui.boxes()[0].text.find("エラートラップ関数 [Form_Load]"), std::string::npos);
  ASSERT_EQ(suite.state().log.size(), 1u);
  EXPECT_EQ(suite.state().log[0].procedure, "Form_Load");
  EXPECT_EQ(suite.state().log[0].entry, "ErrNo75:ZrX.ini を読めません。");

  EXPECT_EQ(panel().Caption(), "SSPanel1");
  EXPECT_EQ(list().Pattern(), "*.lzh");
  EXPECT_EQ(list().Path(), Start());
  EXPECT_EQ(ListEntries(list()), Names{"start.lzh"});
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(ui.endCount(), 0);
}

TEST_F(BackupLocationTest, YesInTheLoadsTrapEndsTheProgram) {
  suite.state().FailWith("ReadIniValue", -2147467259, "失敗しました。");
  ui.Answer(mb::AnswerYes);
  window->Form_Load();
  EXPECT_EQ(ui.endCount(), 1);
  EXPECT_NE(ui.boxes()[0].text.find("エラーコード\u3000\u3000\u3000 ：  -2147467259"), std::string::npos);
}

TEST_F(BackupLocationTest, BrowseShowsTheChosenFolderAndSearchesIt) {
  Load("");
  panel().SetCaption(" \u3000" + dir.folder() + "Flat/ \u3000");
  suite.state().browseResult = dir.folder() + "BK";
  ClickButton("cmdRefer");

  ASSERT_EQ(suite.state().Operations(), (Names{"ReadIniValue", "BrowseFolder"}));
  EXPECT_EQ(suite.state().calls[1].arguments, (Names{std::to_string(window->hWnd()), "", dir.folder() + "Flat/"}));
  EXPECT_EQ(panel().Caption(), " " + Bk());
  EXPECT_EQ(list().Path(), Bk() + "ZrDataBK");
  EXPECT_EQ(ListEntries(list()), (Names{"a.lzh", "C.LZH"}));
  EXPECT_EQ(suite.state().liveInstances, 0);
}

TEST_F(BackupLocationTest, BrowseToTheRootAddsNoSecondSeparator) {
  Load("");
  suite.state().browseResult = "/";
  ClickButton("cmdRefer");
  EXPECT_EQ(panel().Caption(), " /");
  EXPECT_EQ(list().Path(), "/");
  EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(BackupLocationTest, ACancelledBrowseChangesNothing) {
  Load(Bk());
  list().SetPath(dir.folder() + "Flat");
  suite.state().browseResult = "";
  ClickButton("cmdRefer");
  EXPECT_EQ(panel().Caption(), " " + Bk());
  // No Search ran: the list still shows the folder it was left on.
  EXPECT_EQ(list().Path(), dir.folder() + "Flat");
  EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(BackupLocationTest, AFailingBrowseGoesToTheTrap) {
  Load(Bk());
  suite.state().FailWith("BrowseFolder", 429, "フォルダ選択を開けません。");
  ui.Answer(mb::AnswerNo);
  ClickButton("cmdRefer");
  ASSERT_EQ(suite.state().log.size(), 1u);
  EXPECT_EQ(suite.state().log[0].procedure, "cmdRefer_Click");
  EXPECT_EQ(suite.state().log[0].entry, "ErrNo429:フォルダ選択を開けません。");
  EXPECT_EQ(panel().Caption(), " " + Bk());
}

TEST_F(BackupLocationTest, SearchListsTheBackupFolderOrElseTheLocationItself) {
  Load("");
  panel().SetCaption(" " + Bk());
  ClickButton("cmdSearch");
  EXPECT_EQ(list().Path(), Bk() + "ZrDataBK");
  EXPECT_EQ(ListEntries(list()), (Names{"a.lzh", "C.LZH"}));

  panel().SetCaption("\u3000 " + dir.folder() + "Flat/\u3000");
  ClickButton("cmdSearch");
  EXPECT_EQ(list().Path(), dir.folder() + "Flat");
  EXPECT_EQ(ListEntries(list()), Names{"flat.lzh"});
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_TRUE(suite.state().calls.size() == 1u) << "Search asks nothing of the suite";
}

TEST_F(BackupLocationTest, SearchOnAMissingFolderShowsTheDeviceMessageAndKeepsTheList) {
  Load(Bk());
  ui.Answer(mb::AnswerOk);
  panel().SetCaption(" /nonexistent/media/");
  ClickButton("cmdSearch");
  ExpectDeviceMessage();
  EXPECT_EQ(list().Path(), Bk() + "ZrDataBK");
  EXPECT_EQ(ListEntries(list()), (Names{"a.lzh", "C.LZH"}));
}

TEST_F(BackupLocationTest, SearchOnBlanksShowsTheDeviceMessage) {
  Load("");
  ui.Answer(mb::AnswerOk);
  panel().SetCaption(" \u3000 ");
  ClickButton("cmdSearch");
  ExpectDeviceMessage();
  EXPECT_EQ(list().Path(), Start());
}

TEST_F(BackupLocationTest, SearchOnAnUnreadableFolderShowsTheDeviceMessage) {
  Load(Bk());
  fs::create_directory(dir.path() / "Locked");
  ASSERT_EQ(chmod((dir.path() / "Locked").c_str(), 0), 0);
  test::WithoutFileAccessOverride unprivileged;
  ASSERT_TRUE(unprivileged.Refuses(dir.folder() + "Locked")) << "this process reads every folder";
  ui.Answer(mb::AnswerOk);
  panel().SetCaption(" " + dir.folder() + "Locked/");
  ClickButton("cmdSearch");
  ExpectDeviceMessage();
  EXPECT_EQ(list().Path(), Bk() + "ZrDataBK");
}

TEST_F(BackupLocationTest, SearchThatCannotLookForTheBackupFolderKeepsTheLocationListed) {
  Load("");
  // Listable but not searchable: the list can read the names, the folder
  // query cannot look inside.
  test::WriteFile(dir.path() / "NoSearch" / "x.lzh", "x");
  fs::create_directory(dir.path() / "NoSearch" / "ZrDataBK");
  ASSERT_EQ(chmod((dir.path() / "NoSearch").c_str(), 0444), 0);
  test::WithoutFileAccessOverride unprivileged;
  struct stat st {};
  ASSERT_NE(stat((dir.folder() + "NoSearch/ZrDataBK").c_str(), &st), 0) << "this process searches every folder";
  ui.Answer(mb::AnswerOk);
  panel().SetCaption(" " + dir.folder() + "NoSearch/");
  ClickButton("cmdSearch");
  ExpectDeviceMessage();
  EXPECT_EQ(list().Path(), dir.folder() + "NoSearch");
}

}  // namespace
}  // namespace zr::window
