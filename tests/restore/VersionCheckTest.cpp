#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>

#include "platform/runtime/FileOps.h"
#include "restore/VersionCheck.h"
#include "startup/modZrBunsyoRes.h"
#include "tests/restore/RealSuite.h"
#include "tests/restore/RestoreFixture.h"
#include "tests/support/ScriptedOps.h"
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

// Another user who may write into the shared temporary folder (mode 1777, or
// a FAT or SMB folder whose modes keep nobody out), acting at the worst
// moments the seam shows. Whenever an extraction opens an archive he puts a
// common database of an accepted version beside the check's folder and into
// every folder there; whenever a copy there takes its name he puts his in its
// place. His file beside the folders is his: every call on it is refused, as
// a sticky folder refuses another user's removal.
class OtherUser : public rt::FileOps {
 public:
  OtherUser(fs::path temp, std::string database) : temp_(std::move(temp)), database_(std::move(database)) {}

  int Open(const char* path, int flags, mode_t mode) override {
    if (std::string_view(path).ends_with(".lzh")) Plant();
    return Theirs(AT_FDCWD, path) ? Refused() : FileOps::Open(path, flags, mode);
  }
  int OpenAt(int dirFd, const char* name, int flags, mode_t mode) override {
    return Theirs(dirFd, name) ? Refused() : FileOps::OpenAt(dirFd, name, flags, mode);
  }
  int FstatAt(int dirFd, const char* name, struct stat* st, int flags) override {
    return Theirs(dirFd, name) ? Refused() : FileOps::FstatAt(dirFd, name, st, flags);
  }
  int UnlinkAt(int dirFd, const char* name, int flags) override {
    if (Theirs(dirFd, name) || (refuseRemovals && Inside(PathOf(dirFd, name)))) return Refused();
    return FileOps::UnlinkAt(dirFd, name, flags);
  }
  int RenameAt(int fromDir, const char* from, int toDir, const char* to) override {
    if (Theirs(fromDir, from) || Theirs(toDir, to)) return Refused();
    const int r = FileOps::RenameAt(fromDir, from, toDir, to);
    if (r == 0 && !database_.empty() && Inside(PathOf(toDir, to))) {
      std::lock_guard lock(mutex_);
      test::WriteFile(temp_ / ".swap", database_);
      if (std::rename((temp_ / ".swap").c_str(), PathOf(toDir, to).c_str()) == 0) ++swapped;
    }
    return r;
  }

  bool refuseRemovals = false;
  std::set<std::string> plantedIn;  // the check's folders he got into
  std::set<mode_t> folderModes;     // as he found them
  int swapped = 0;
  std::atomic<int> touched{0};  // calls on his file

 private:
  static int Refused() {
    errno = EACCES;
    return -1;
  }
  static fs::path PathOf(int dirFd, const char* name) {
    if (name[0] == '/' || dirFd == AT_FDCWD) return fs::absolute(name);
    return fs::read_symlink("/proc/self/fd/" + std::to_string(dirFd)) / name;
  }
  // In a folder inside the temporary folder.
  bool Inside(const fs::path& path) const { return path.parent_path().parent_path() == temp_; }
  bool Theirs(int dirFd, const char* name) {
    const bool theirs = PathOf(dirFd, name) == temp_ / "ZrXXComn.wf6";
    if (theirs) ++touched;
    return theirs;
  }
  void Plant() {
    if (database_.empty()) return;
    std::lock_guard lock(mutex_);
    if (!fs::exists(temp_ / "ZrXXComn.wf6")) test::WriteFile(temp_ / "ZrXXComn.wf6", database_);
    for (const auto& entry : fs::directory_iterator(temp_)) {
      // Once per folder: the extraction ahead may still open the archive while the folder goes.
      if (!entry.is_directory() || plantedIn.count(entry.path().filename().string()) != 0) continue;
      struct stat st {};
      if (::stat(entry.path().c_str(), &st) == 0) folderModes.insert(st.st_mode & 07777);
      test::WriteFile(entry.path() / "ZrXXComn.wf6", database_);
      plantedIn.insert(entry.path().filename().string());
    }
  }

  fs::path temp_;
  std::string database_;
  std::mutex mutex_;
};

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

  std::string ArchiveWithVersion(const std::optional<std::string>& version, const std::string& name = "a.lzh") {
    jw::Database database;
    database.password = demo::kSuitePassword;
    database.tables.push_back(jw::ControlTable({{"ZrVer", version}}));
    return ArchiveWithCommon(jw::Build(database), name);
  }

  bool NothingLeft() const { return fs::is_empty(suite.temp()); }

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

TEST_F(VersionCheckTest, AcceptedDataVersionsPassSilentlyAndLeaveNothing) {
  for (const char* version : {"9.0.0", "9.1.0", "9.2.0"}) {
    SCOPED_TRACE(version);
    const auto name = ArchiveWithVersion(version);
    EXPECT_TRUE(MBlnZrVerChk(form, name));
    EXPECT_TRUE(NothingLeft());
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

TEST_F(VersionCheckTest, OtherDataVersionsAreRefusedAndLeaveNothing) {
  for (const char* version : {"9.3.0", "9.2", "10.0.0", "9.2.0 ", "9.2.0\u3000", ""}) {
    SCOPED_TRACE(version);
    const auto name = ArchiveWithVersion(version);
    ui.Answer(mb::AnswerOk);
    EXPECT_FALSE(MBlnZrVerChk(form, name));
    EXPECT_EQ(ui.boxes().back().text, kDataMessage);
    EXPECT_TRUE(NothingLeft());
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
  EXPECT_TRUE(NothingLeft());
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

TEST_F(VersionCheckTest, NullVersionGoesToTheTrapAndLeavesNothing) {
  const auto name = ArchiveWithVersion(std::nullopt);
  ui.Answer(mb::AnswerNo);
  EXPECT_FALSE(MBlnZrVerChk(form, name));
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].style, 20);
  EXPECT_NE(ui.boxes()[0].text.find("エラートラップ関数 [MBlnZrVerChk]"), std::string::npos);
  EXPECT_NE(ui.boxes()[0].text.find("：  94\r\r"), std::string::npos);
  EXPECT_NE(suite.ErrorLog().find("\tMBlnZrVerChk\tErrNo94:"), std::string::npos);
  EXPECT_TRUE(NothingLeft());
}

TEST_F(VersionCheckTest, WrongPasswordGoesToTheTrap) {
  jw::Database database;
  database.password = "R$KQTM3VXEJW8FNUPc";
  database.tables.push_back(jw::ControlTable({{"ZrVer", "9.2.0"}}));
  const auto name = ArchiveWithCommon(jw::Build(database));
  ui.Answer(mb::AnswerNo);
  EXPECT_FALSE(MBlnZrVerChk(form, name));
  EXPECT_NE(suite.ErrorLog().find("ErrNo3031:"), std::string::npos);
  EXPECT_TRUE(NothingLeft());
}

// Before, the check read whatever file had the copy's name once the
// extraction returned, and first removed a file of that name as its own
// leftover: his file made a backup without a common database pass, and then
// every later check failed on the removal.
TEST_F(VersionCheckTest, WhatOtherUsersPutInTheTemporaryFolderIsNeitherReadNorRemoved) {
  const std::string his = demo::CommonDatabase("9.2.0");
  demo::WriteBackupArchive(suite.backups() / "nocomn.lzh", {"", false, false, "x"});
  const auto refused = ArchiveWithVersion("9.3.0");
  const auto accepted = ArchiveWithVersion("9.1.0", "b.lzh");
  OtherUser other(suite.temp(), his);
  {
    test::ScopedOps ops(other);
    ui.Answer(mb::AnswerOk);
    EXPECT_FALSE(MBlnZrVerChk(form, "nocomn.lzh"));
    ui.Answer(mb::AnswerOk);
    EXPECT_FALSE(MBlnZrVerChk(form, refused));
    EXPECT_TRUE(MBlnZrVerChk(form, accepted));
    // The extraction ahead still calls his operations: it ends before they go.
    suite::DropExtractionAhead();
  }
  ASSERT_EQ(ui.boxes().size(), 2u);
  EXPECT_EQ(ui.boxes()[0].text, kUnknownMessage);
  EXPECT_EQ(ui.boxes()[1].text, kDataMessage);
  // He got into each check's folder, and once a copy had its name, replaced it.
  EXPECT_EQ(other.plantedIn.size(), 3u);
  EXPECT_EQ(other.folderModes, std::set<mode_t>{0700});
  EXPECT_EQ(other.swapped, 2);
  EXPECT_EQ(other.touched, 0);
  EXPECT_EQ(test::ReadFile(Copy()), his);
  EXPECT_EQ(std::distance(fs::directory_iterator(suite.temp()), fs::directory_iterator()), 1);
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

TEST_F(VersionCheckTest, AFolderThatCannotBeRemovedChangesNothing) {
  OtherUser share(suite.temp(), "");
  share.refuseRemovals = true;
  for (const char* version : {"9.2.0", "9.3.0"}) {
    SCOPED_TRACE(version);
    const auto name = ArchiveWithVersion(version);
    const bool accepted = std::string(version) == "9.2.0";
    if (!accepted) ui.Answer(mb::AnswerOk);
    test::ScopedOps ops(share);
    EXPECT_EQ(MBlnZrVerChk(form, name), accepted);
  }
  EXPECT_EQ(ui.boxes().size(), 1u);
  EXPECT_FALSE(NothingLeft());
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

// The suite's count of missing members decides, not a file of the copy's
// name, and the version is read from the descriptor it hands back.
TEST_F(VersionCheckTest, TheSuiteExtractsIntoAFolderOfTheChecksOwnAndItsAnswerDecides) {
  const auto name = ArchiveWithVersion("9.2.0");
  test::FakeSuiteScope fake;
  fake.state().settings["COMMON|Ver"] = "10.0.0";
  struct Case {
    int16_t missing;
    bool handedBack;
    bool passes;
  };
  Case now{};
  struct stat folder {};
  fake.state().extractToRead = [&](const std::string&, int fd, int16_t, std::vector<std::string>&, int16_t& result,
                                   std::vector<rt::UniqueFd>& files) {
    ASSERT_EQ(::fstat(fd, &folder), 0);
    rt::UniqueFd copy(::openat(fd, "ZrXXComn.wf6", O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    ASSERT_TRUE(rt::WriteAll(copy.get(), demo::CommonDatabase("9.2.0")));
    result = now.missing;
    if (now.handedBack) files.push_back(std::move(copy));
  };
  for (const Case c : {Case{0, true, true}, Case{1, true, false}, Case{0, false, false}}) {
    SCOPED_TRACE(c.missing);
    now = c;
    if (!c.passes) ui.Answer(mb::AnswerOk);
    EXPECT_EQ(MBlnZrVerChk(form, name), c.passes);
    EXPECT_TRUE(S_ISDIR(folder.st_mode));
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_TRUE(NothingLeft());
  }
  ASSERT_EQ(ui.boxes().size(), 2u);
  EXPECT_EQ(ui.boxes()[0].text, kUnknownMessage);
  EXPECT_EQ(ui.boxes()[1].text, kUnknownMessage);

  ASSERT_EQ(fake.state().calls.size(), 9u);
  EXPECT_EQ(fake.state().calls[2].operation, "ExtractArchiveToRead");
  const auto& arguments = fake.state().calls[2].arguments;
  ASSERT_EQ(arguments.size(), 5u);
  EXPECT_EQ(arguments[0], "4660");
  EXPECT_EQ(arguments[1], form.bkupPath + name);
  EXPECT_TRUE(arguments[2].starts_with(startup::GStrTempPath + "zr-check-")) << arguments[2];
  EXPECT_EQ(fs::path(arguments[2]).parent_path().parent_path(), suite.temp());
  EXPECT_EQ(arguments[3], "1");
  EXPECT_EQ(arguments[4], "Data\\ZrXXComn.wf6");
  EXPECT_EQ(fake.state().liveInstances, 0);
}

}  // namespace
}  // namespace zr::restore
