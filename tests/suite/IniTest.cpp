#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/runtime/RuntimeError.h"
#include "suite/local/LocalSuiteServices.h"
#include "tests/support/ErrorOf.h"
#include "tests/support/SuiteHomeScope.h"
#include "tests/support/WithoutFileAccessOverride.h"

namespace zr::suite {
namespace {

class IniTest : public ::testing::Test {
 protected:
  std::string Setting(std::string section, std::string key) {
    std::string value = "left over";
    services.ReadSetting(section, key, value);
    return value;
  }
  std::string IniValue(const std::string& section, const std::string& key, std::string file) {
    std::string value = "left over";
    services.ReadIniValue(section, key, file, value);
    return value;
  }
  void WriteSettings(const std::string& bytes) { test::WriteFile(home.home() / "suite.ini", bytes); }

  test::SuiteHomeScope home;
  LocalSuiteServices services;
};

TEST_F(IniTest, SectionsAndKeysMatchWithoutRegardToCase) {
  WriteSettings(
      "[COMMON]\n"
      "root=/opt/aobanavi/\n"
      "Ver=10.0.0\n"
      "DataPath=/srv/aobanavi/data/\n"
      "[COM]\n"
      "TEMP_PATH=/var/tmp/aobanavi/\n");
  EXPECT_EQ(Setting("COMMON", "root"), "/opt/aobanavi/");
  EXPECT_EQ(Setting("Common", "DataPath"), "/srv/aobanavi/data/");
  EXPECT_EQ(Setting("common", "VER"), "10.0.0");
  // ReadIniValue with no file name reads the same settings.
  EXPECT_EQ(IniValue("COM", "TEMP_PATH", ""), "/var/tmp/aobanavi/");
  EXPECT_EQ(IniValue("com", "temp_path", ""), "/var/tmp/aobanavi/");
  // A key of another section is not found through this one.
  EXPECT_EQ(Setting("COM", "root"), "");
}

TEST_F(IniTest, NamedFileIsReadFromTheSuiteHome) {
  WriteSettings("[BKUP]\nBKUP_PATH=/wrong/\n");
  test::WriteFile(home.home() / "ZrX.ini", "[BKUP]\r\nBKUP_PATH=/media/backup/\r\n");
  EXPECT_EQ(IniValue("BKUP", "BKUP_PATH", "ZrX.ini"), "/media/backup/");
  EXPECT_EQ(IniValue("bkup", "bkup_path", "zrx.ini"), "") << "file names keep their case on this platform";
}

TEST_F(IniTest, BlanksCommentsQuotesAndRepeatedKeys) {
  WriteSettings(
      "; written by hand\n"
      "orphan=before any section\n"
      "  [ COMMON ]  \n"
      "  root  =  /opt/a b/  \n"
      "root=/second/\n"
      ";Ver=commented\n"
      "Ver=\"10.0.0\"\n"
      "Quoted='only left\n"
      "Empty=\n"
      "no equals sign here\n"
      "[COMMON]\n"
      "root=/third/\n"
      "Extra=from the repeated section\n");
  EXPECT_EQ(Setting("COMMON", "root"), "/opt/a b/") << "the first of repeated keys wins";
  EXPECT_EQ(Setting("COMMON", "Ver"), "10.0.0");
  EXPECT_EQ(Setting("COMMON", "Quoted"), "'only left");
  EXPECT_EQ(Setting("COMMON", "Empty"), "");
  EXPECT_EQ(Setting("COMMON", "Extra"), "from the repeated section");
  EXPECT_EQ(Setting("COMMON", "orphan"), "");
  EXPECT_EQ(Setting("COMMON", "no equals sign here"), "");
}

TEST_F(IniTest, Utf8WithAndWithoutBomAndEveryLineEnd) {
  WriteSettings("\xEF\xBB\xBF[COMMON]\r\nroot=/opt/あおば/\r\nVer=10.0.0\r\n");
  EXPECT_EQ(Setting("COMMON", "root"), "/opt/あおば/");
  EXPECT_EQ(Setting("COMMON", "Ver"), "10.0.0");

  WriteSettings("[COMMON]\nroot=/opt/介護/\nVer=10.0.0");
  EXPECT_EQ(Setting("COMMON", "root"), "/opt/介護/");
  EXPECT_EQ(Setting("COMMON", "Ver"), "10.0.0") << "last line without a line end";

  WriteSettings("[COMMON]\rroot=/old/mac/\rVer=9\r");
  EXPECT_EQ(Setting("COMMON", "root"), "/old/mac/");
  EXPECT_EQ(Setting("COMMON", "Ver"), "9");
}

TEST_F(IniTest, ShiftJisFilesFromWindowsAreDecoded) {
  // "表" and "ソ" end in 0x5C, the byte of "\": it must not be read as one.
  WriteSettings(
      "[BKUP]\r\n"
      "BKUP_PATH=C:\\\x95\x5C\\\x83\x5C\x83\x74\x83\x67\\\r\n"
      "NOTE=\x83\x6F\x83\x62\x83\x4E\x83\x41\x83\x62\x83\x76\r\n"
      "[\x95\x5C]\r\n"
      "\x97\x5C=\x8D\xEC\r\n");
  EXPECT_EQ(IniValue("BKUP", "BKUP_PATH", ""), "C:\\表\\ソフト\\");
  EXPECT_EQ(IniValue("BKUP", "NOTE", ""), "バックアップ");
  EXPECT_EQ(IniValue("表", "予", ""), "作");
}

TEST_F(IniTest, TextInNeitherEncodingIsAnError) {
  // A lone lead byte at the end is neither UTF-8 nor complete Shift-JIS.
  WriteSettings("[COMMON]\nroot=/opt/\x95");
  try {
    Setting("COMMON", "root");
    FAIL() << "no error";
  } catch (const rt::RuntimeError& e) {
    EXPECT_EQ(e.number(), rt::err::BadFileFormat);
    EXPECT_NE(e.description().find("suite.ini"), std::string::npos) << e.description();
  }
  // After a byte order mark the file must be UTF-8 through and through.
  WriteSettings("\xEF\xBB\xBF[COMMON]\nroot=\x95\x5C\n");
  EXPECT_THROW(Setting("COMMON", "root"), rt::RuntimeError);
}

TEST_F(IniTest, MissingFileSectionOrKeyGivesEmpty) {
  EXPECT_EQ(Setting("COMMON", "root"), "") << "no suite.ini";
  EXPECT_EQ(IniValue("BKUP", "BKUP_PATH", "ZrX.ini"), "") << "no ZrX.ini";
  WriteSettings("[COMMON]\nroot=/opt/\n");
  EXPECT_EQ(Setting("Other", "root"), "");
  EXPECT_EQ(Setting("COMMON", "missing"), "");
  EXPECT_EQ(Setting("", ""), "");
}

TEST_F(IniTest, MissingSuiteHomeGivesEmpty) {
  test::EnvScope gone("AOBANAVI_HOME", (home.home() / "not" / "there").string());
  EXPECT_EQ(Setting("COMMON", "root"), "");
}

TEST_F(IniTest, FileThatCannotBeReadIsAnError) {
  WriteSettings("[COMMON]\nroot=/opt/\n");
  chmod((home.home() / "suite.ini").c_str(), 0);
  {
    test::WithoutFileAccessOverride unprivileged;
    LocalSuiteServices services;
    std::string section = "COMMON";
    std::string key = "root";
    std::string value;
    EXPECT_EQ(test::ErrorOf([&] { services.ReadSetting(section, key, value); }), rt::err::PermissionDenied);
  }
  chmod((home.home() / "suite.ini").c_str(), 0644);

  // A folder in the file's place exists but cannot be read as a file either.
  test::WriteFile(home.home() / "ZrX.ini" / "inside", "");
  EXPECT_THROW(IniValue("BKUP", "BKUP_PATH", "ZrX.ini"), rt::RuntimeError);
}

TEST(SuiteHomeTest, FallsBackToXdgConfigHomeThenHome) {
  test::TempDir dir;
  test::WriteFile(dir.path() / "xdg" / "aobanavi" / "suite.ini", "[COMMON]\nroot=from xdg\n");
  test::WriteFile(dir.path() / "user" / ".config" / "aobanavi" / "suite.ini", "[COMMON]\nroot=from home\n");
  LocalSuiteServices services;
  std::string section = "COMMON";
  std::string key = "root";
  std::string value;

  test::EnvScope own("AOBANAVI_HOME", std::nullopt);
  test::EnvScope user("HOME", (dir.path() / "user").string());
  {
    test::EnvScope xdg("XDG_CONFIG_HOME", (dir.path() / "xdg").string());
    services.ReadSetting(section, key, value);
    EXPECT_EQ(value, "from xdg");
  }
  {
    test::EnvScope xdg("XDG_CONFIG_HOME", std::nullopt);
    services.ReadSetting(section, key, value);
    EXPECT_EQ(value, "from home");
  }
  {
    test::EnvScope xdg("XDG_CONFIG_HOME", "relative/ignored");
    services.ReadSetting(section, key, value);
    EXPECT_EQ(value, "from home");
  }
  {
    test::EnvScope xdg("XDG_CONFIG_HOME", (dir.path() / "xdg").string());
    test::EnvScope emptyOwn("AOBANAVI_HOME", "");
    services.ReadSetting(section, key, value);
    EXPECT_EQ(value, "from xdg") << "an empty AOBANAVI_HOME counts as unset";
  }
}

}  // namespace
}  // namespace zr::suite
