#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/runtime/RuntimeError.h"
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

}  // namespace
}  // namespace zr::suite
