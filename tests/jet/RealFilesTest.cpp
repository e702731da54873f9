#include <gtest/gtest.h>

#include <filesystem>

#include "platform/jet/Dao.h"
#include "tests/jet/JetTestSupport.h"
#include "tests/support/TempDir.h"

// Databases that Access itself wrote (tests/data/jet-real, with their licence).
namespace zr::jet {
namespace {

using test::ErrorOf;
using test::RealFixture;

std::unique_ptr<Database> Open(const std::filesystem::path& path, const std::string& connect) {
  return Engine().Workspaces(0).OpenDatabase(path.string(), true, true, connect);
}

std::vector<Value> All(Database& db, const std::string& query) {
  // Only the first row is reachable through the layer; probe row by row.
  auto rs = db.OpenRecordset(query, dbOpenSnapshot);
  std::vector<Value> out;
  if (!rs->IsEOF()) out.push_back(rs->Fields(0).GetValue());
  return out;
}

TEST(JetRealFilesTest, Jet4WithThePasswordPassword) {
  for (const char* name : {"V2000_with-password.mdb", "V2003_with-password.mdb"}) {
    ZR_REQUIRE_REAL_FIXTURE(name);
    auto db = Open(RealFixture(name), ";PWD=password");
    EXPECT_EQ(All(*db, "SELECT Data FROM Table1 WHERE Data = 'TWO'"), std::vector<Value>{"Two"}) << name;
    EXPECT_EQ(All(*db, "SELECT Data FROM Table1 WHERE ID = '3'"), std::vector<Value>{"Three"}) << name;
    EXPECT_EQ(All(*db, "SELECT Data FROM Table1"), std::vector<Value>{"One"}) << name;
    EXPECT_EQ(ErrorOf([&] { db->OpenRecordset(test::kVersionQuery, dbOpenSnapshot); }), 3078) << name;
    db->Close();
    EXPECT_EQ(ErrorOf([&] { Open(RealFixture(name), ";PWD=Password"); }), rt::err::JetNotValidPassword) << name;
    EXPECT_EQ(ErrorOf([&] { Open(RealFixture(name), test::kConnect); }), rt::err::JetNotValidPassword) << name;
    EXPECT_EQ(ErrorOf([&] { Open(RealFixture(name), ""); }), rt::err::JetNotValidPassword) << name;
  }
}

TEST(JetRealFilesTest, Jet4WithoutPasswordOpensWithTheSuitesConnect) {
  for (const char* name : {"V2000_no-password.mdb", "V2003_no-password.mdb"}) {
    ZR_REQUIRE_REAL_FIXTURE(name);
    auto db = Open(RealFixture(name), test::kConnect);
    EXPECT_EQ(All(*db, "SELECT Data FROM Table1 WHERE ID = '2'"), std::vector<Value>{"Two"}) << name;
    EXPECT_EQ(ErrorOf([&] { db->OpenRecordset(test::kVersionQuery, dbOpenSnapshot); }), 3078) << name;
  }
}

TEST(JetRealFilesTest, AceIsRefused) {
  ZR_REQUIRE_REAL_FIXTURE("V2010_with-password.accdb");
  for (const char* connect : {";PWD=password", "", test::kConnect}) {
    EXPECT_EQ(ErrorOf([&] { Open(RealFixture("V2010_with-password.accdb"), connect); }),
              rt::err::JetUnrecognizedFormat);
  }
}

TEST(JetRealFilesTest, Jet3IsRead) {
  ZR_REQUIRE_REAL_FIXTURE("V1997_no-password.mdb");
  auto db = Open(RealFixture("V1997_no-password.mdb"), test::kConnect);
  EXPECT_EQ(All(*db, "SELECT A FROM Table1"), std::vector<Value>{"a"});
  EXPECT_EQ(All(*db, "SELECT B FROM Table1 WHERE A = 'ABCDEFG'"), std::vector<Value>{"hijklmnop"});
  EXPECT_EQ(ErrorOf([&] { db->OpenRecordset(test::kVersionQuery, dbOpenSnapshot); }), 3078);
}

// A Jet 3 password sits unmasked by any date: 20 bytes at 0x42 under the
// fixed header key stream. A copy of the Access 97 file is given one here.
TEST(JetRealFilesTest, Jet3PasswordIsChecked) {
  ZR_REQUIRE_REAL_FIXTURE("V1997_no-password.mdb");
  zr::test::TempDir dir;
  std::string bytes = zr::test::ReadFile(RealFixture("V1997_no-password.mdb"));
  const std::string pwd = "Jet3Pw";
  for (std::size_t i = 0; i < pwd.size(); ++i) bytes[0x42 + i] = static_cast<char>(bytes[0x42 + i] ^ pwd[i]);
  zr::test::WriteFile(dir.path() / "jet3.mdb", bytes);
  EXPECT_NO_THROW(Open(dir.path() / "jet3.mdb", ";PWD=Jet3Pw"));
  EXPECT_EQ(ErrorOf([&] { Open(dir.path() / "jet3.mdb", ";PWD=jet3pw"); }), rt::err::JetNotValidPassword);
  EXPECT_EQ(ErrorOf([&] { Open(dir.path() / "jet3.mdb", test::kConnect); }), rt::err::JetNotValidPassword);
}

TEST(JetRealFilesTest, LargerAccessFile) {
  ZR_REQUIRE_REAL_FIXTURE("test.mdb");
  auto db = Open(RealFixture("test.mdb"), "");
  EXPECT_EQ(All(*db, "SELECT B FROM Table1 WHERE A = 'a'"), std::vector<Value>{"b"});
  EXPECT_EQ(All(*db, "SELECT A FROM Table1"), std::vector<Value>{"abcdefg"});
}

}  // namespace
}  // namespace zr::jet
