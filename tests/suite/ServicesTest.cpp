#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/runtime/RuntimeError.h"
#include "suite/local/LocalStartGate.h"
#include "suite/local/LocalSuiteServices.h"
#include "tests/support/SuiteHomeScope.h"

namespace zr::suite {
namespace {

TEST(ProgramInfoTest, NameIsTheTitleTextTheExecutableInfoTheProcess) {
  LocalSuiteServices services;
  rt::ApplicationObject app{"ZrBunsyoRes", "zr_suite_local_tests", "/somewhere", "10.00.0001"};
  std::string name;
  std::string text;
  int32_t info = 0;
  services.GetProgramInfo(app, name, text, info);
  EXPECT_EQ(name, "ZrBunsyoRes");
  EXPECT_EQ(text, std::filesystem::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(info, static_cast<int32_t>(getpid()));

  app.title.clear();
  services.GetProgramInfo(app, name, text, info);
  EXPECT_EQ(name, "zr_suite_local_tests") << "without a title the executable's name stands in";
}

TEST(BrowseFolderTest, HandsEverythingToThePickerAndReturnsItsAnswer) {
  std::vector<std::string> asked;
  LocalSuiteServices services([&](int32_t owner, const std::string& text, const std::string& initial) {
    asked = {std::to_string(owner), text, initial};
    return initial == "/cancel/" ? std::string() : std::string("/media/usb");
  });
  std::string chosen = "left over";
  services.BrowseFolder(-123456, "", "/srv/backup/", chosen);
  EXPECT_EQ(asked, (std::vector<std::string>{"-123456", "", "/srv/backup/"}));
  EXPECT_EQ(chosen, "/media/usb");
  services.BrowseFolder(7, "", "/cancel/", chosen);
  EXPECT_EQ(chosen, "");
}

TEST(BrowseFolderTest, WithoutAPickerItIsAnErrorNotACancel) {
  LocalSuiteServices services;
  std::string chosen = "left over";
  EXPECT_THROW(services.BrowseFolder(1, "", "/", chosen), rt::RuntimeError);
  EXPECT_EQ(chosen, "left over");
}

TEST(ExtractArchiveTest, OnlyModesZeroAndOneExist) {
  test::SuiteHomeScope home;
  LocalSuiteServices services;
  std::vector<std::string> members{"Work\\ZrBunsyo.wf6"};
  for (int16_t mode : {int16_t{2}, int16_t{-1}, int16_t{256}}) {
    int16_t result = 77;
    try {
      services.ExtractArchive(1, (home.home() / "a.lzh").string(), home.home().string() + "/", mode, members, result);
      ADD_FAILURE() << "mode " << mode << " was accepted";
    } catch (const rt::RuntimeError& e) {
      EXPECT_EQ(e.number(), rt::err::InvalidProcedureCall) << mode;
    }
    EXPECT_EQ(result, 77);
  }
}

TEST(ExtractArchiveTest, NeverPretendsToExtract) {
  test::SuiteHomeScope home;
  LocalSuiteServices services;
  std::vector<std::string> members{"Work\\ZrBunsyo.wf6", "Work\\ZrTuBun.wf6"};
  int16_t result = 77;
  // There is no archive: whatever the build holds, this cannot succeed.
  EXPECT_THROW(services.ExtractArchive(1, (home.home() / "missing.lzh").string(), home.home().string() + "/", 0,
                                       members, result),
               rt::RuntimeError);
  EXPECT_EQ(result, 77);
  EXPECT_FALSE(std::filesystem::exists(home.home() / "Work"));
}

mode_t ModeOf(const std::filesystem::path& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(ExtractArchiveTest, CopiesInTheTemporaryFolderAreTheOwnersAloneOthersGetTheUsualMode) {
  test::SuiteHomeScope home;
  const auto temporary = home.home() / "tmp";
  const auto data = home.home() / "data";
  std::filesystem::create_directories(temporary);
  std::filesystem::create_directories(data);
  test::WriteFile(home.home() / "suite.ini", "[COM]\nTEMP_PATH=" + temporary.string() + "/\n");
  const std::string archive = std::string(ZR_SOURCE_DIR) + "/tests/lzh/fixtures/lh5_h2.lzh";
  LocalSuiteServices services;
  std::vector<std::string> common{"Data\\ZrXXComn.wf6"};
  std::vector<std::string> templates{"Work\\ZrBunsyo.wf6"};
  int16_t result = 77;
  const mode_t mask = umask(022);
  services.ExtractArchive(1, archive, temporary.string() + "/", 1, common, result);
  services.ExtractArchive(1, archive, data.string() + "/", 0, templates, result);
  umask(mask);
  EXPECT_EQ(0600u, ModeOf(temporary / "ZrXXComn.wf6"));
  EXPECT_EQ(0644u, ModeOf(data / "Work/ZrBunsyo.wf6"));
}

TEST(StartTest, AnInterruptedRestoreIsTidiedWhenTheToolMayStart) {
  test::SuiteHomeScope home;
  const auto data = home.home() / "data";
  std::filesystem::create_directories(data);
  test::WriteFile(home.home() / "suite.ini", "[Common]\nDataPath=" + data.string() + "\n");
  test::WriteFile(data / ".zrtmp-0123456789ab", "a half-written copy");
  test::WriteFile(data / "ZrBunsyo.wf6", "the user's");
  LocalSuiteServices services;
  std::string id = "TOOL(BackUp)";
  SuiteBool flag = kFalse;
  services.RegisterProgram(id, flag);
  services.IsStartAllowed(flag);
  ASSERT_EQ(kTrue, flag);
  EXPECT_TRUE(std::filesystem::exists(data / ".zrtmp-0123456789ab")) << "not before the start gate has decided";
  int32_t answer = -1;
  LocalStartGate().Check(answer);
  ASSERT_EQ(0, answer);
  EXPECT_FALSE(std::filesystem::exists(data / ".zrtmp-0123456789ab"));
  EXPECT_TRUE(std::filesystem::exists(data / "ZrBunsyo.wf6"));
}

}  // namespace
}  // namespace zr::suite
