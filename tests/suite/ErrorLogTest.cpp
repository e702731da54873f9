#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "platform/runtime/RuntimeError.h"
#include "suite/local/ErrorLog.h"
#include "suite/local/LocalSuiteServices.h"
#include "tests/support/SuiteHomeScope.h"

namespace zr::suite {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the log must end with a complete line";
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t end; (end = line.find('\t', start)) != std::string::npos; start = end + 1) {
    fields.push_back(line.substr(start, end - start));
  }
  fields.push_back(line.substr(start));
  return fields;
}

class ErrorLogTest : public ::testing::Test {
 protected:
  void Write(std::string name, std::string procedure, std::string entry, int32_t info) {
    services.WriteErrorLog(name, procedure, entry, info);
  }
  std::string Log() { return test::ReadFile(home.home() / "log" / "error.log"); }

  test::SuiteHomeScope home;
  test::EnvScope zone{"TZ", "JST-9"};
  LocalSuiteServices services;
};

TEST_F(ErrorLogTest, OneTabSeparatedLinePerEntryWithLocalTime) {
  const std::time_t before = std::time(nullptr);
  int32_t info = 4242;
  services.WriteErrorLog("ZrBunsyoRes", "MBlnZrVerChk", "ErrNo53:ファイルが見つかりません。", info);
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(info, 4242) << "the info value is only read";

  const auto lines = Lines(Log());
  ASSERT_EQ(lines.size(), 1u);
  const auto fields = Fields(lines[0]);
  ASSERT_EQ(fields.size(), 5u) << lines[0];
  EXPECT_TRUE(std::regex_match(fields[0], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\+09:00)"))) << fields[0];
  EXPECT_GE(fields[0], IsoLocalTime(before));
  EXPECT_LE(fields[0], IsoLocalTime(after));
  EXPECT_EQ(fields[1], "ZrBunsyoRes");
  EXPECT_EQ(fields[2], "MBlnZrVerChk");
  EXPECT_EQ(fields[3], "ErrNo53:ファイルが見つかりません。");
  EXPECT_EQ(fields[4], "4242");
}

TEST_F(ErrorLogTest, TimeCarriesTheOffsetOfTheLocalZone) {
  // 2024-01-01 00:00:00 UTC.
  const std::time_t newYear = 1704067200;
  EXPECT_EQ(IsoLocalTime(newYear), "2024-01-01T09:00:00+09:00");
  test::EnvScope west("TZ", "EST5");
  EXPECT_EQ(IsoLocalTime(newYear), "2023-12-31T19:00:00-05:00");
}

TEST_F(ErrorLogTest, LineBreaksAndTabsCannotForgeOrSplitEntries) {
  Write("Zr\tBunsyo", "Form_Load", "ErrNo75:a\r\nfake\tline\\n\rend", -2147483647 - 1);
  const auto lines = Lines(Log());
  ASSERT_EQ(lines.size(), 1u);
  const auto fields = Fields(lines[0]);
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[1], "Zr\\tBunsyo");
  EXPECT_EQ(fields[3], "ErrNo75:a\\r\\nfake\\tline\\\\n\\rend");
  EXPECT_EQ(fields[4], "-2147483648");
}

TEST_F(ErrorLogTest, EscapesAreUnambiguous) {
  EXPECT_EQ(EscapeLogField("C:\\Work\\"), "C:\\\\Work\\\\");
  // Text that already looks like an escape stays distinguishable from one.
  EXPECT_NE(EscapeLogField("\\t"), EscapeLogField("\t"));
  EXPECT_NE(EscapeLogField("\\x01"), EscapeLogField("\x01"));
  // Control bytes and bytes that are not UTF-8 keep the line readable text.
  EXPECT_EQ(EscapeLogField(std::string("a\0b\x1B", 4)), "a\\x00b\\x1B");
  EXPECT_EQ(EscapeLogField("\x95\x5C\xFF"), "\\x95\\\\\\xFF");
  EXPECT_EQ(EscapeLogField("\xE3\x81"), "\\xE3\\x81") << "a cut-off character";
  EXPECT_EQ(EscapeLogField("リストア"), "リストア");
}

TEST_F(ErrorLogTest, FoldersAreCreatedAndEntriesAppended) {
  test::EnvScope deeper("AOBANAVI_HOME", (home.home() / "new" / "home").string());
  Write("ZrBunsyoRes", "cmdOK_Click", "ErrNo5:first", 1);
  Write("ZrBunsyoRes", "MSubRestoreSyori", "ErrNo61:second", 2);
  const auto lines = Lines(test::ReadFile(home.home() / "new" / "home" / "log" / "error.log"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Fields(lines[0])[2], "cmdOK_Click");
  EXPECT_EQ(Fields(lines[1])[2], "MSubRestoreSyori");
  EXPECT_EQ(Fields(lines[1])[3], "ErrNo61:second");
}

TEST_F(ErrorLogTest, ExistingEntriesAreKept) {
  test::WriteFile(home.home() / "log" / "error.log", "earlier entry\n");
  Write("ZrBunsyoRes", "Form_Load", "ErrNo76:x", 7);
  const auto lines = Lines(Log());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "earlier entry");
  EXPECT_EQ(Fields(lines[1])[2], "Form_Load");
}

TEST_F(ErrorLogTest, ALogThatCannotBeWrittenIsAnError) {
  std::filesystem::create_directories(home.home() / "log" / "error.log");
  try {
    Write("ZrBunsyoRes", "Form_Load", "ErrNo76:x", 7);
    FAIL() << "no error";
  } catch (const rt::RuntimeError& e) {
    EXPECT_NE(e.description().find("error.log"), std::string::npos) << e.description();
  }
}

}  // namespace
}  // namespace zr::suite
