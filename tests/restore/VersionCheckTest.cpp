#include <gtest/gtest.h>

#include <sys/stat.h>

#include "restore/VersionCheck.h"
#include "startup/modZrBunsyoRes.h"
#include "tests/restore/RealSuite.h"
#include "tests/restore/RestoreFixture.h"
#include "tests/support/WithoutFileAccessOverride.h"
#include "tools/demo/DemoBackups.h"
#include "tools/jetwriter/JetWriter.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::restore {
namespace {

namespace fs = std::filesystem;
namespace mb = rt::mb;
namespace jw = jet::writer;
namespace lw = lzh::writer;

const std::string kInstalledMessage =
    std::string("「あおば!ナビ」のバージョンが10.0.0の場合のみ復旧できます。") + test::kTail;
const std::string kUnknownMessage = std::string("バックアップデータのバージョンが不明です。") + test::kTail;
const std::string kDataMessage = std::string("バックアップのバージョンは9.0.0、9.1.0、9.2.0が対象です。") + test::kTail;

class VersionCheckTest : public ::testing::Test {
 protected:
  VersionCheckTest() { form.bkupPath = suite.backups().string() + "/"; }

  fs::path Copy() const { return suite.temp() / "ZrXXComn.wf6"; }

  // An archive whose common database is the given file image.
  std::string ArchiveWithCommon(const std::string& database, const std::string& name = "a.lzh") {
    lw::WriteArchiveFile((suite.backups() / name).string(),
                         {lw::MakeMember("Data\\ソフト設定.wf6", "x", 2, lw::Method::Lh5),
                          lw::MakeMember("Data\\ZrXXComn.wf6", database, 2, lw::Method::Lh5),
                          lw::MakeMember("Work\\ZrBunsyo.wf6", "b", 1)});
    return name;
  }

  std::string ArchiveWithVersion(const std::optional<std::string>& version) {
    jw::Database database;
    database.password = demo::kSuitePassword;
    database.tables.push_back(jw::ControlTable({{"ZrVer", version}}));
    return ArchiveWithCommon(jw::Build(database));
  }

  void ExpectOneMessage(const std::string& text) {
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].text, text);
    EXPECT_EQ(ui.boxes()[0].style, mb::Exclamation | mb::OkOnly);
    EXPECT_EQ(ui.boxes()[0].title, test::kRestoreTitle);
  }

  test::RealSuite suite;
  test::ScriptedInteraction ui;
  test::FakeRestoreWindow form;
};

TEST_F(VersionCheckTest, AcceptedDataVersionsPassSilentlyAndLeaveNoCopy) {
  for (const char* version : {"9.0.0", "9.1.0", "9.2.0"}) {
    SCOPED_TRACE(version);
    const auto name = ArchiveWithVersion(version);
    EXPECT_TRUE(MBlnZrVerChk(form, name));
    EXPECT_FALSE(fs::exists(Copy()));
  }
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_TRUE(form.enabledChanges.empty());
  EXPECT_TRUE(ui.pointerCodes().empty());
}

TEST_F(VersionCheckTest, InstalledVersionMustBeExactlyTenBeforeAnythingIsExtracted) {
  const auto name = ArchiveWithVersion("9.2.0");
  for (const char* installed : {"10.0.0 ", "10.0", "10.0.1", ""}) {
    SCOPED_TRACE(installed);
    suite.Settings(installed, suite.data().string());
    ui.Answer(mb::AnswerOk);
    EXPECT_FALSE(MBlnZrVerChk(form, name));
    EXPECT_FALSE(fs::exists(Copy()));
    ASSERT_FALSE(ui.boxes().empty());
    EXPECT_EQ(ui.boxes().back().text, kInstalledMessage);
  }
}

TEST_F(VersionCheckTest, OtherDataVersionsAreRefusedAndTheCopyDeleted) {
  for (const char* version : {"9.3.0", "9.2", "10.0.0", "9.2.0 ", "9.2.0\u3000", ""}) {
    SCOPED_TRACE(version);
    const auto name = ArchiveWithVersion(version);
    ui.Answer(mb::AnswerOk);
    EXPECT_FALSE(MBlnZrVerChk(form, name));
    EXPECT_EQ(ui.boxes().back().text, kDataMessage);
    EXPECT_FALSE(fs::exists(Copy()));
  }
}

TEST_F(VersionCheckTest, MissingVersionRowIsARefusedVersion) {
  jw::Database database;
  database.password = demo::kSuitePassword;
  database.tables.push_back(jw::ControlTable({{"zrver2", "9.2.0"}, {"Other", "9.2.0"}}));
  const auto name = ArchiveWithCommon(jw::Build(database));
  ui.Answer(mb::AnswerOk);
  EXPECT_FALSE(MBlnZrVerChk(form, name));
  ExpectOneMessage(kDataMessage);
  EXPECT_FALSE(fs::exists(Copy()));
}

TEST_F(VersionCheckTest, FirstOfTwoVersionRowsCountsAndTheKeyIgnoresCase) {
  jw::Database database;
  database.password = demo::kSuitePassword;
  database.tables.push_back(jw::ControlTable({{"zrver", "9.1.0"}, {"ZrVer", "9.3.0"}}));
  EXPECT_TRUE(MBlnZrVerChk(form, ArchiveWithCommon(jw::Build(database))));

  database.tables[0] = jw::ControlTable({{"ZrVer", "9.3.0"}, {"ZrVer", "9.1.0"}});
  ui.Answer(mb::AnswerOk);
  EXPECT_FALSE(MBlnZrVerChk(form, ArchiveWithCommon(jw::Build(database), "b.lzh")));
  ExpectOneMessage(kDataMessage);
}

TEST_F(VersionCheckTest, NullVersionGoesToTheTrapAndLeavesTheCopy) {
  const auto name = ArchiveWithVersion(std::nullopt);
  ui.Answer(mb::AnswerNo);
  EXPECT_FALSE(MBlnZrVerChk(form, name));
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].style, 20);
  EXPECT_NE(ui.boxes()[0].text.find("エラートラップ関数 [MBlnZrVerChk]"), std::string::npos);
  EXPECT_NE(ui.boxes()[0].text.find("：  94\r\r"), std::string::npos);
  EXPECT_NE(suite.ErrorLog().find("\tMBlnZrVerChk\tErrNo94:"), std::string::npos);
  EXPECT_TRUE(fs::exists(Copy()));
}

TEST_F(VersionCheckTest, WrongPasswordGoesToTheTrap) {
  jw::Database database;
  database.password = "R$KQTM3VXEJW8FNUPc";
  database.tables.push_back(jw::ControlTable({{"ZrVer", "9.2.0"}}));
  const auto name = ArchiveWithCommon(jw::Build(database));
  ui.Answer(mb::AnswerNo);
  EXPECT_FALSE(MBlnZrVerChk(form, name));
  EXPECT_NE(suite.ErrorLog().find("ErrNo3031:"), std::string::npos);
  EXPECT_TRUE(fs::exists(Copy()));
}

TEST_F(VersionCheckTest, ArchiveWithoutCommonDatabaseIsUndeterminedEvenWithALeftoverCopy) {
  demo::WriteBackupArchive(suite.backups() / "nocomn.lzh", {"", false, false, "x"});
  ui.Answer(mb::AnswerOk);
  EXPECT_FALSE(MBlnZrVerChk(form, "nocomn.lzh"));
  ExpectOneMessage(kUnknownMessage);

  // A copy an earlier failed check left behind must not speak for this archive.
  test::WriteFile(Copy(), demo::CommonDatabase("9.2.0"));
  ui.Answer(mb::AnswerOk);
  EXPECT_FALSE(MBlnZrVerChk(form, "nocomn.lzh"));
  EXPECT_EQ(ui.boxes().back().text, kUnknownMessage);
  EXPECT_FALSE(fs::exists(Copy()));
}

TEST_F(VersionCheckTest, EmptyArchiveNameIsUndeterminedAndTouchesNothing) {
  test::WriteFile(Copy(), demo::CommonDatabase("9.2.0"));
  ui.Answer(mb::AnswerOk);
  EXPECT_FALSE(MBlnZrVerChk(form, ""));
  ExpectOneMessage(kUnknownMessage);
  EXPECT_TRUE(fs::exists(Copy()));
}

TEST_F(VersionCheckTest, DamagedCommonDatabaseMemberIsTrappedWithNothingLeft) {
  auto member = lw::MakeMember("Data\\ZrXXComn.wf6", demo::CommonDatabase("9.2.0"), 2, lw::Method::Lh5);
  member.faults.dataCrc = true;
  lw::WriteArchiveFile((suite.backups() / "bad.lzh").string(), {member});
  ui.Answer(mb::AnswerNo);
  EXPECT_FALSE(MBlnZrVerChk(form, "bad.lzh"));
  EXPECT_NE(suite.ErrorLog().find("ErrNo321:"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(suite.temp()));
}

TEST_F(VersionCheckTest, LeftoverCopyThatCannotBeRemovedGoesToTheTrap) {
  const auto name = ArchiveWithVersion("9.2.0");
  test::WriteFile(Copy(), "stale");
  chmod(suite.temp().c_str(), 0555);
  {
    test::WithoutFileAccessOverride limited;
    ui.Answer(mb::AnswerNo);
    EXPECT_FALSE(MBlnZrVerChk(form, name));
  }
  chmod(suite.temp().c_str(), 0755);
  EXPECT_EQ(test::ReadFile(Copy()), "stale");
  EXPECT_NE(suite.ErrorLog().find("ErrNo70:"), std::string::npos);
}

TEST_F(VersionCheckTest, CopyThatCannotBeDeletedChangesNothing) {
  // The extraction succeeds; then the folder refuses the deletion.
  for (const char* version : {"9.2.0", "9.3.0"}) {
    SCOPED_TRACE(version);
    std::filesystem::remove(Copy());
    const auto name = ArchiveWithVersion(version);
    test::FakeSuiteScope fake;
    fake.state().settings["COMMON|Ver"] = "10.0.0";
    fake.state().extract = [&](const std::string&, const std::string&, int16_t, std::vector<std::string>&, int16_t&) {
      test::WriteFile(Copy(), demo::CommonDatabase(version));
      chmod(suite.temp().c_str(), 0555);
    };
    const bool accepted = std::string(version) == "9.2.0";
    if (!accepted) ui.Answer(mb::AnswerOk);
    {
      test::WithoutFileAccessOverride limited;
      EXPECT_EQ(MBlnZrVerChk(form, name), accepted);
    }
    chmod(suite.temp().c_str(), 0755);
    EXPECT_TRUE(fs::exists(Copy()));
  }
  EXPECT_EQ(ui.boxes().size(), 1u);
}

TEST_F(VersionCheckTest, TemporaryFolderMustBeAbsoluteApartFromTheDataFolderAndGainsItsSeparator) {
  const auto name = ArchiveWithVersion("9.2.0");
  // What an empty or relative setting would have reached: the folder the program runs in.
  const fs::path started = fs::current_path();
  fs::current_path(suite.home());
  test::WriteFile(suite.home() / "ZrXXComn.wf6", "not ours");
  // What one inside the data folder would have reached: the live common database.
  test::WriteFile(suite.data() / "Data/ZrXXComn.wf6", "live");
  fs::create_directory_symlink(suite.data() / "Data", suite.home() / "link");
  const std::string data = suite.data().string();
  const std::vector<std::string> refused = {"",
                                            "temp/",
                                            "temp",
                                            data,
                                            data + "/Data",
                                            data + "/Data/",
                                            data + "/../data/new/",
                                            (suite.home() / "link/").string()};
  for (const std::string& setting : refused) {
    SCOPED_TRACE(setting);
    startup::GStrTempPath = setting;
    ui.Answer(mb::AnswerNo);
    EXPECT_FALSE(MBlnZrVerChk(form, name));
    EXPECT_NE(ui.boxes().back().text.find("：  76\r\r"), std::string::npos);
    EXPECT_NE(ui.boxes().back().text.find("TEMP_PATH"), std::string::npos);
  }
  fs::current_path(started);
  EXPECT_EQ(test::ReadFile(suite.home() / "ZrXXComn.wf6"), "not ours");
  EXPECT_EQ(test::ReadFile(suite.data() / "Data/ZrXXComn.wf6"), "live");
  EXPECT_TRUE(fs::is_empty(suite.temp()));

  startup::GStrTempPath = suite.temp().string();
  EXPECT_TRUE(MBlnZrVerChk(form, name));
  EXPECT_EQ(ui.boxes().size(), refused.size());
  EXPECT_FALSE(fs::exists(suite.home() / "tempZrXXComn.wf6"));
}

TEST_F(VersionCheckTest, ExtractionGoesToTheSuiteWithTheWindowAndTheTemporaryFolder) {
  const auto name = ArchiveWithVersion("9.2.0");
  test::FakeSuiteScope fake;
  fake.state().settings["COMMON|Ver"] = "10.0.0";
  ui.Answer(mb::AnswerOk);
  EXPECT_FALSE(MBlnZrVerChk(form, name));
  EXPECT_EQ(fake.state().Operations(), (std::vector<std::string>{"ReadSetting", "ReadSetting", "ExtractArchive"}));
  EXPECT_EQ(fake.state().calls[2].arguments,
            (std::vector<std::string>{"4660", form.bkupPath + name, startup::GStrTempPath, "1", "Data\\ZrXXComn.wf6"}));
  EXPECT_EQ(fake.state().liveInstances, 0);
}

}  // namespace
}  // namespace zr::restore
