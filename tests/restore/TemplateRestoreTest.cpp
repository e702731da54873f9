#include <gtest/gtest.h>

#include "restore/History.h"
#include "restore/TemplateRestore.h"
#include "restore/VersionCheck.h"
#include "tests/restore/RealSuite.h"
#include "tests/restore/RestoreFixture.h"
#include "tools/demo/DemoBackups.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::restore {
namespace {

namespace fs = std::filesystem;
namespace mb = rt::mb;
namespace lw = lzh::writer;

class TemplateRestoreTest : public ::testing::Test {
 protected:
  TemplateRestoreTest() {
    demo::WriteLiveTemplates(suite.data());
    liveBunsyo = test::ReadFile(Bunsyo());
    liveTuBun = test::ReadFile(TuBun());
    form.bkupPath = suite.backups().string() + "/";
  }

  fs::path Bunsyo() const { return suite.data() / "Work" / "ZrBunsyo.wf6"; }
  fs::path TuBun() const { return suite.data() / "Work" / "ZrTuBun.wf6"; }

  void ExpectLiveFilesUntouched() {
    EXPECT_EQ(test::ReadFile(Bunsyo()), liveBunsyo);
    EXPECT_EQ(test::ReadFile(TuBun()), liveTuBun);
    for (const auto& entry : fs::directory_iterator(suite.data() / "Work")) {
      const auto name = entry.path().filename().string();
      EXPECT_TRUE(name == "ZrBunsyo.wf6" || name == "ZrTuBun.wf6") << "left behind: " << name;
    }
  }

  void ExpectTrapped(const std::string& entryPrefix) {
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].title, "警告メッセージ");
    EXPECT_NE(ui.boxes()[0].text.find("[MSubRestoreSyori]"), std::string::npos);
    EXPECT_NE(suite.ErrorLog().find("\tMSubRestoreSyori\t" + entryPrefix), std::string::npos) << suite.ErrorLog();
    EXPECT_TRUE(form.enabled);
    EXPECT_EQ(rt::MousePointer(), rt::pointer::Default);
  }

  test::RealSuite suite;
  test::ScriptedInteraction ui;
  test::FakeRestoreWindow form;
  std::string liveBunsyo;
  std::string liveTuBun;
};

TEST_F(TemplateRestoreTest, ReplacesBothLiveTemplatesWithTheArchivesCopies) {
  demo::WriteBackupArchive(suite.backups() / "good.lzh", {"9.2.0", true, false, "復元後"});
  ui.Answer(mb::AnswerOk);
  MSubRestoreSyori(form, "good.lzh");
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].text, "雛形（文書選択編集）の復旧を完了しました。");
  EXPECT_EQ(test::ReadFile(Bunsyo()), demo::TemplateDatabase("BUNSYO", "復元後"));
  EXPECT_EQ(test::ReadFile(TuBun()), demo::TemplateDatabase("TUBUN", "復元後"));
  EXPECT_FALSE(fs::exists(suite.data() / "Data"));
  EXPECT_EQ(form.enabledChanges, (std::vector<bool>{false, true}));
}

// As the Execute command runs them: the check begins the templates ahead, the
// restore takes them, a refusal drops them.
TEST_F(TemplateRestoreTest, CheckThenRestoreTakesTheTemplatesDecodedAheadAndARefusalDropsThem) {
  const auto dataFolderEntries = [this] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(suite.data())) names.push_back(entry.path().filename());
    return names;
  };
  demo::WriteBackupArchive(suite.backups() / "v930.lzh", {"9.3.0", true, false, "対象外"});
  ui.Answer(mb::AnswerOk);
  EXPECT_FALSE(MBlnZrVerChk(form, "v930.lzh"));
  ExpectLiveFilesUntouched();
  EXPECT_EQ(dataFolderEntries(), std::vector<std::string>{"Work"});

  demo::WriteBackupArchive(suite.backups() / "good.lzh", {"9.2.0", true, false, "先読み"});
  ui.Answer(mb::AnswerOk);
  ASSERT_TRUE(MBlnZrVerChk(form, "good.lzh"));
  MSubRestoreSyori(form, "good.lzh");
  ASSERT_EQ(ui.boxes().size(), 2u);
  EXPECT_EQ(ui.boxes()[1].text, "雛形（文書選択編集）の復旧を完了しました。");
  EXPECT_EQ(test::ReadFile(Bunsyo()), demo::TemplateDatabase("BUNSYO", "先読み"));
  EXPECT_EQ(test::ReadFile(TuBun()), demo::TemplateDatabase("TUBUN", "先読み"));
  EXPECT_EQ(dataFolderEntries(), std::vector<std::string>{"Work"});
}

TEST_F(TemplateRestoreTest, DataFolderWithOrWithoutClosingSeparatorAndMissingWorkFolder) {
  demo::WriteBackupArchive(suite.backups() / "good.lzh", {"9.2.0", true, false, "新"});
  fs::remove_all(suite.data() / "Work");
  suite.Settings("10.0.0", suite.data().string() + "/");
  ui.Answer(mb::AnswerOk);
  MSubRestoreSyori(form, "good.lzh");
  EXPECT_EQ(test::ReadFile(TuBun()), demo::TemplateDatabase("TUBUN", "新"));
}

TEST_F(TemplateRestoreTest, MissingTemplateMemberIsNamedAndNothingIsWritten) {
  lw::WriteArchiveFile((suite.backups() / "half.lzh").string(),
                       {lw::MakeMember("Data\\ZrXXComn.wf6", demo::CommonDatabase("9.2.0")),
                        lw::MakeMember("Work\\ZrBunsyo.wf6", "new template")});
  ui.Answer(mb::AnswerNo);
  MSubRestoreSyori(form, "half.lzh");
  ExpectTrapped("ErrNo53:");
  EXPECT_NE(suite.ErrorLog().find("Work\\\\ZrTuBun.wf6"), std::string::npos) << suite.ErrorLog();
  EXPECT_EQ(suite.ErrorLog().find("Work\\\\ZrBunsyo.wf6、"), std::string::npos);
  ExpectLiveFilesUntouched();
}

TEST_F(TemplateRestoreTest, DamagedTemplateMemberLeavesTheLiveFilesAsTheyWere) {
  demo::WriteBackupArchive(suite.backups() / "damaged.lzh", {"9.2.0", true, true, "破損"});
  ui.Answer(mb::AnswerNo);
  MSubRestoreSyori(form, "damaged.lzh");
  ExpectTrapped("ErrNo321:");
  ExpectLiveFilesUntouched();
}

TEST_F(TemplateRestoreTest, EmptyDataPathSettingNeverWritesToTheRoot) {
  demo::WriteBackupArchive(suite.backups() / "good.lzh", {"9.2.0", true, false, "新"});
  suite.Settings("10.0.0", "");
  ui.Answer(mb::AnswerNo);
  MSubRestoreSyori(form, "good.lzh");
  ExpectTrapped("ErrNo76:");
  EXPECT_FALSE(fs::exists("/Work/ZrBunsyo.wf6"));
  ExpectLiveFilesUntouched();
}

// Somebody else's unfinished change (a record whose seal is not ours) is
// never built on; the message names it, and no history entry stays.
TEST_F(TemplateRestoreTest, AFolderHoldingAChangeNotProvablyOursIsNotWrittenInto) {
  demo::WriteBackupArchive(suite.backups() / "good.lzh", {"9.2.0", true, false, "新"});
  test::WriteFile(suite.data() / ".zrplan-0123456789ab", "zr-replace 3\nj\t00000001\nmac 00\n");
  ui.Answer(mb::AnswerNo);
  MSubRestoreSyori(form, "good.lzh");
  ExpectTrapped("ErrNo75:");
  EXPECT_NE(ui.boxes()[0].text.find(".zrplan-0123456789ab"), std::string::npos) << ui.Seen();
  EXPECT_TRUE(ListHistory(suite.history()).empty());
  EXPECT_TRUE(fs::exists(suite.data() / ".zrplan-0123456789ab"));
  ExpectLiveFilesUntouched();
}

// Through a linked Work folder the templates would land wherever it points.
TEST_F(TemplateRestoreTest, ALinkedWorkFolderIsNamedAndNothingIsWrittenThroughIt) {
  demo::WriteBackupArchive(suite.backups() / "good.lzh", {"9.2.0", true, false, "新"});
  fs::rename(suite.data() / "Work", suite.home() / "elsewhere");
  fs::create_directory_symlink(suite.home() / "elsewhere", suite.data() / "Work");
  ui.Answer(mb::AnswerNo);
  MSubRestoreSyori(form, "good.lzh");
  ExpectTrapped("ErrNo75:");
  EXPECT_NE(ui.boxes()[0].text.find((suite.data() / "Work").string() + "」はシンボリックリンク"), std::string::npos)
      << ui.Seen();
  EXPECT_EQ(test::ReadFile(suite.home() / "elsewhere/ZrBunsyo.wf6"), liveBunsyo);
  EXPECT_EQ(test::ReadFile(suite.home() / "elsewhere/ZrTuBun.wf6"), liveTuBun);
}

}  // namespace
}  // namespace zr::restore

namespace zr::restore {
namespace {

// The core alone: what came of a check and a restore, with nobody to show it to.
TEST_F(TemplateRestoreTest, CoreReturnsWhatHappenedWithoutAWindow) {
  auto services = suite::CreateSuiteServices();
  const std::string temp = suite.temp().string() + "/";
  const auto backup = [&](const std::string& name, demo::BackupContent content) {
    demo::WriteBackupArchive(suite.backups() / name, content);
    return (suite.backups() / name).string();
  };
  const Outcome refused = CheckBackupVersion(*services, backup("v930.lzh", {"9.3.0"}), temp);
  EXPECT_EQ(refused.kind, Outcome::Kind::Refused);
  EXPECT_EQ(refused.refusal, Refusal::DataVersion);
  EXPECT_EQ(refused.dataVersion, "9.3.0");
  EXPECT_EQ(CheckBackupVersion(*services, backup("nocomn.lzh", {"", false}), temp).refusal,
            Refusal::UnknownDataVersion);

  NoFeedback nobody;
  const std::string damaged = backup("damaged.lzh", {"9.2.0", true, true});
  ASSERT_TRUE(CheckBackupVersion(*services, damaged, temp).done());
  const Outcome failed = RestoreTemplates(*services, damaged, nobody);
  EXPECT_EQ(failed.kind, Outcome::Kind::Failed);
  EXPECT_NE(failed.error.description().find("ZrTuBun.wf6"), std::string::npos) << failed.error.description();
  ExpectLiveFilesUntouched();

  const std::string good = backup("good.lzh", {"9.2.0", true, false, "復元後"});
  const Outcome checked = CheckBackupVersion(*services, good, temp);
  EXPECT_TRUE(checked.done());
  EXPECT_EQ(checked.dataVersion, "9.2.0");
  EXPECT_TRUE(RestoreTemplates(*services, good, nobody).done());
  EXPECT_EQ(test::ReadFile(TuBun()), demo::TemplateDatabase("TUBUN", "復元後"));
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_EQ(ui.pointerCodes(), std::vector<int>{});
}

}  // namespace
}  // namespace zr::restore
