#include <gtest/gtest.h>

#include "platform/jet/Dao.h"
#include "tests/jet/JetTestSupport.h"
#include "tests/support/TempDir.h"

namespace zr::jet {
namespace {

using test::CommonDatabase;
using test::ErrorOf;

class JetPasswordTest : public ::testing::Test {
 protected:
  // The error number of opening a database with `password` under `connect`.
  int32_t OpenWith(const std::string& password, const std::string& connect, double date = 45000.5) {
    auto db = CommonDatabase({{"ZrVer", "9.2.0"}}, password);
    db.creationDate = date;
    auto path = dir.path() / ("db" + std::to_string(++count) + ".wf6");
    writer::Write(path, db);
    return ErrorOf([&] { Engine().Workspaces(0).OpenDatabase(path.string(), true, true, connect); });
  }

  zr::test::TempDir dir;
  int count = 0;
};

TEST_F(JetPasswordTest, OnlyTheExactPasswordOpens) {
  EXPECT_EQ(OpenWith(test::kSuitePassword, test::kConnect), 0);
  EXPECT_EQ(OpenWith(test::kSuitePassword, ";pwd=R$KQTM3VXEJW8FNUPC"), 0);
  EXPECT_EQ(OpenWith(test::kSuitePassword, ";PWD=r$kqtm3vxejw8fnupc"), rt::err::JetNotValidPassword);
  EXPECT_EQ(OpenWith(test::kSuitePassword, ";PWD=R$KQTM3VXEJW8FNUP"), rt::err::JetNotValidPassword);
  EXPECT_EQ(OpenWith(test::kSuitePassword, ";PWD=R$KQTM3VXEJW8FNUPCX"), rt::err::JetNotValidPassword);
  EXPECT_EQ(OpenWith(test::kSuitePassword, ""), rt::err::JetNotValidPassword);
  EXPECT_EQ(OpenWith(test::kSuitePassword, ";PWD= R$KQTM3VXEJW8FNUPC"), rt::err::JetNotValidPassword);
}

TEST_F(JetPasswordTest, ADatabaseWithoutPasswordOpensWithAny) {
  EXPECT_EQ(OpenWith("", test::kConnect), 0);
  EXPECT_EQ(OpenWith("", ""), 0);
}

TEST_F(JetPasswordTest, TwentyCharactersAndNonAscii) {
  EXPECT_EQ(OpenWith("ABCDEFGHIJ0123456789", ";PWD=ABCDEFGHIJ0123456789"), 0);
  EXPECT_EQ(OpenWith("ABCDEFGHIJ0123456789", ";PWD=ABCDEFGHIJ012345678"), rt::err::JetNotValidPassword);
  EXPECT_EQ(OpenWith("ABCDEFGHIJ0123456789", ";PWD=ABCDEFGHIJ0123456789X"), rt::err::JetNotValidPassword);
  EXPECT_EQ(OpenWith("合言葉", ";PWD=合言葉"), 0);
  EXPECT_EQ(OpenWith("合言葉", ";PWD=合言"), rt::err::JetNotValidPassword);
}

TEST_F(JetPasswordTest, DatesAcrossADayBoundary) {
  for (double date : {45000.0, 45000.7, 45000.999, 45001.0, 1.5, 2958465.5}) {
    EXPECT_EQ(OpenWith("Pw", ";PWD=Pw", date), 0) << date;
    EXPECT_EQ(OpenWith("Pw", ";PWD=pw", date), rt::err::JetNotValidPassword) << date;
  }
}

TEST_F(JetPasswordTest, TheDescriptionNamesTheFile) {
  writer::Write(dir.path() / "named.wf6", CommonDatabase({}));
  std::string text;
  EXPECT_EQ(
      ErrorOf([&] { Engine().Workspaces(0).OpenDatabase((dir.path() / "named.wf6").string(), true, true, ";PWD=x"); },
              &text),
      rt::err::JetNotValidPassword);
  EXPECT_NE(text.find("named.wf6"), std::string::npos);
  EXPECT_NE(text.find("パスワード"), std::string::npos);
}

}  // namespace
}  // namespace zr::jet
