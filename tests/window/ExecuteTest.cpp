#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "platform/runtime/Interaction.h"
#include "platform/ui/DisplayPanel.h"
#include "platform/ui/FileListBox.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/widgets/InstallLocalSuite.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/SuiteHomeScope.h"
#include "tests/support/TempDir.h"
#include "tests/support/WithoutFileAccessOverride.h"
#include "tools/demo/DemoBackups.h"
#include "window/frmRecov.h"

namespace zr::window {
namespace {

namespace fs = std::filesystem;
namespace mb = rt::mb;

constexpr const char* kTitle = "あおば！ナビ";
const std::string kConfirmation =
    "アセスメント、サービス計画、通所の「雛形（文書選択編集）データ」を復元します。よろしいですか？\r\n\r\n"
    "（現在の「雛形（文書選択編集）データ」はすべて上書きされます）";
const std::string kCompleted = "雛形（文書選択編集）の復旧を完了しました。";

// The whole program as a user meets it: the real window on the offscreen
// platform, the local suite on a suite home of its own, real archives and
// databases; only the answers to message boxes are scripted.
class ExecuteTest : public ::testing::Test {
 protected:
  ExecuteTest() {
    fs::create_directories(Home() / "temp");
    fs::create_directories(Home() / "install" / "cjs" / "BK" / "ZrDataBK");
    test::WriteFile(Home() / "suite.ini", "[COMMON]\nroot=" + Home().string() +
                                              "/install\nVer=10.0.0\n[Common]\nDataPath=" + Home().string() +
                                              "/data\n[COM]\nTEMP_PATH=" + Home().string() + "/temp/\n");
    StoreLocation(Location());
    demo::WriteLiveTemplates(Home() / "data");
    demo::WriteBackupArchive(Backups() / "good.lzh", {"9.2.0", true, false, "復元"});
    demo::WriteBackupArchive(Backups() / "v930.lzh", {"9.3.0", true, false, "9.3.0"});
    liveBunsyo = test::ReadFile(Bunsyo());
    previous = suite::InstallLocalSuite();
    startup::GStrTempPath = Home().string() + "/temp/";
  }
  ~ExecuteTest() override {
    window.reset();
    suite::InstallComponentFactory(previous);
    startup::GStrTempPath.clear();
  }

  fs::path Home() const { return home.home(); }
  std::string Location() const { return Home().string() + "/BK/"; }
  fs::path Backups() const { return Home() / "BK" / "ZrDataBK"; }
  fs::path Bunsyo() const { return Home() / "data" / "Work" / "ZrBunsyo.wf6"; }
  fs::path TuBun() const { return Home() / "data" / "Work" / "ZrTuBun.wf6"; }

  void StoreLocation(const std::string& location) {
    test::WriteFile(Home() / "ZrX.ini", "[BKUP]\nBKUP_PATH=" + location + "\n");
  }

  frmRecov& Open() {
    window = std::make_unique<frmRecov>();
    window->Show();
    return *window;
  }

  void Select(const std::string& name) {
    auto& list = window->filBack();
    for (int i = 0; i < list.ListCount(); ++i) {
      if (list.List(i) == name) {
        list.SetListIndex(i);
        return;
      }
    }
    FAIL() << name << " is not listed";
  }

  void PressExecute() { QTest::mouseClick(window->findChild<QPushButton*>("cmdOK"), Qt::LeftButton); }

  void ExpectRefusal(const std::string& text) {
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].text, text);
    EXPECT_EQ(ui.boxes()[0].style, mb::OkOnly | mb::Exclamation);
    EXPECT_EQ(ui.boxes()[0].title, kTitle);
  }

  void ExpectNothingRestored() {
    EXPECT_EQ(test::ReadFile(Bunsyo()), liveBunsyo);
    EXPECT_TRUE(fs::is_empty(Home() / "temp"));
  }

  test::SuiteHomeScope home;
  test::ScriptedInteraction ui;
  suite::ComponentFactory previous;
  std::unique_ptr<frmRecov> window;
  std::string liveBunsyo;
};

TEST_F(ExecuteTest, TheFullRoadReplacesBothTemplatesAndLeavesNoCopy) {
  Open();
  EXPECT_EQ(window->sspPath().Caption(), " " + Location());
  Select("good.lzh");
  ui.Answer(mb::AnswerOk);
  ui.Answer(mb::AnswerOk);
  PressExecute();

  ASSERT_EQ(ui.boxes().size(), 2u) << ui.Seen();
  EXPECT_EQ(ui.boxes()[0].text, kConfirmation);
  EXPECT_EQ(ui.boxes()[0].style, mb::OkCancel | mb::Exclamation);
  EXPECT_EQ(ui.boxes()[0].title, kTitle);
  EXPECT_EQ(ui.boxes()[1].text, kCompleted) << ui.Seen();
  EXPECT_EQ(ui.boxes()[1].style, mb::OkOnly | mb::Information);

  EXPECT_EQ(test::ReadFile(Bunsyo()), demo::TemplateDatabase("BUNSYO", "復元")) << ui.Seen();
  EXPECT_EQ(test::ReadFile(TuBun()), demo::TemplateDatabase("TUBUN", "復元"));
  EXPECT_TRUE(fs::is_empty(Home() / "temp"));
  EXPECT_EQ(window->MStrBkupPath, Backups().string() + "/");
  EXPECT_TRUE(window->isEnabled());
  EXPECT_EQ(rt::MousePointer(), rt::pointer::Default);
}

TEST_F(ExecuteTest, CancelRunsNeitherTheCheckNorTheRestore) {
  Open();
  Select("good.lzh");
  ui.Answer(mb::AnswerCancel);
  PressExecute();
  EXPECT_EQ(ui.boxes().size(), 1u);
  ExpectNothingRestored();
}

TEST_F(ExecuteTest, RefusedDataVersionRestoresNothing) {
  Open();
  Select("v930.lzh");
  ui.Answer(mb::AnswerOk);
  ui.Answer(mb::AnswerOk);
  PressExecute();
  ASSERT_EQ(ui.boxes().size(), 2u);
  EXPECT_EQ(ui.boxes()[1].text,
            "バックアップのバージョンは9.0.0、9.1.0、9.2.0が対象です。\r\nデータは復旧しませんでした。\r\n");
  ExpectNothingRestored();
}

TEST_F(ExecuteTest, BlankPanelIsRefusedFirst) {
  StoreLocation("");
  Open();
  ASSERT_EQ(window->sspPath().Caption(), " ");
  ui.Answer(mb::AnswerOk);
  PressExecute();
  ExpectRefusal("バックアップ場所を指定してください。");
}

TEST_F(ExecuteTest, LocationInsideTheSuitesCjsFolderIsRefused) {
  StoreLocation(Home().string() + "/install/CJS/BK/");
  Open();
  ui.Answer(mb::AnswerOk);
  PressExecute();
  ExpectRefusal("パス名が不正です。バックアップ場所が正しいか確認してください。");
}

TEST_F(ExecuteTest, LocationWithoutBackupDataIsRefused) {
  fs::create_directories(Home() / "Empty" / "ZrDataBK");
  StoreLocation(Home().string() + "/Empty/");
  Open();
  ui.Answer(mb::AnswerOk);
  PressExecute();
  ExpectRefusal("バックアップデータが見つかりません。バックアップ場所を確認してください。");
}

TEST_F(ExecuteTest, ListWithoutSelectionIsRefusedEvenWithADataLocationFolder) {
  fs::create_directories(Home() / "BK" / "DataLocation");
  Open();
  ASSERT_EQ(window->filBack().ListIndex(), -1);
  ui.Answer(mb::AnswerOk);
  PressExecute();
  ExpectRefusal("リストアするファイルを選択してください。");
}

TEST_F(ExecuteTest, DataLocationWithAnEmptyListChecksAnEmptyArchiveName) {
  fs::create_directories(Home() / "Other" / "ZrDataBK");
  fs::create_directories(Home() / "Other" / "DataLocation");
  // A leftover copy must not be read for an archive that was never named.
  test::WriteFile(Home() / "temp" / "ZrXXComn.wf6", demo::CommonDatabase("9.2.0"));
  StoreLocation(Home().string() + "/Other/");
  Open();
  ASSERT_EQ(window->filBack().ListCount(), 0);
  ui.Answer(mb::AnswerOk);
  ui.Answer(mb::AnswerOk);
  PressExecute();
  ASSERT_EQ(ui.boxes().size(), 2u);
  EXPECT_EQ(ui.boxes()[0].text, kConfirmation);
  EXPECT_EQ(ui.boxes()[1].text, "バックアップデータのバージョンが不明です。\r\nデータは復旧しませんでした。\r\n");
  EXPECT_EQ(window->MStrBkupPath, Home().string() + "/Other/");
  EXPECT_EQ(test::ReadFile(Bunsyo()), liveBunsyo);
}

TEST_F(ExecuteTest, TheArchiveComesFromTheFolderTheListShows) {
  // The panel names a location whose own backup folder is empty; the list
  // still shows the stored location's archives.
  fs::create_directories(Home() / "Elsewhere" / "DataLocation");
  Open();
  window->sspPath().SetCaption(" " + Home().string() + "/Elsewhere/");
  Select("good.lzh");
  ui.Answer(mb::AnswerOk);
  ui.Answer(mb::AnswerOk);
  PressExecute();
  ASSERT_EQ(ui.boxes().size(), 2u);
  EXPECT_EQ(ui.boxes()[1].text, kCompleted);
  EXPECT_EQ(test::ReadFile(TuBun()), demo::TemplateDatabase("TUBUN", "復元"));
}

TEST_F(ExecuteTest, LocationThatCannotBeReadGoesToTheTrap) {
  fs::create_directories(Home() / "Locked" / "BK");
  Open();
  Select("good.lzh");
  window->sspPath().SetCaption(" " + Home().string() + "/Locked/BK/");
  chmod((Home() / "Locked").c_str(), 0);
  {
    test::WithoutFileAccessOverride limited;
    ASSERT_TRUE(test::WithoutFileAccessOverride::Refuses((Home() / "Locked").string()))
        << "this process reads every folder whatever its permissions";
    ui.Answer(mb::AnswerNo);
    PressExecute();
  }
  chmod((Home() / "Locked").c_str(), 0755);
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].style, 20);
  EXPECT_NE(ui.boxes()[0].text.find("エラートラップ関数 [cmdOK_Click]"), std::string::npos);
  EXPECT_NE(ui.boxes()[0].text.find("：  70\r\r"), std::string::npos);
  EXPECT_NE(test::ReadFile(Home() / "log" / "error.log").find("\tcmdOK_Click\tErrNo70:"), std::string::npos);
  ExpectNothingRestored();
}

TEST_F(ExecuteTest, ExitClosesTheWindowWithoutAQuestion) {
  Open();
  ASSERT_TRUE(window->isVisible());
  QTest::mouseClick(window->findChild<QPushButton*>("cmdSyuryou"), Qt::LeftButton);
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(ui.boxes().empty());
}

}  // namespace
}  // namespace zr::window
