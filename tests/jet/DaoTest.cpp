#include <gtest/gtest.h>

#include "platform/jet/Dao.h"
#include "tests/jet/JetTestSupport.h"
#include "tests/support/TempDir.h"

namespace zr::jet {
namespace {

using test::CommonDatabase;
using test::ErrorOf;
using test::kConnect;
using test::kVersionQuery;

class JetDaoTest : public ::testing::Test {
 protected:
  std::string Make(const writer::Database& db, const std::string& name = "ZrXXComn.wf6") {
    auto path = dir.path() / name;
    writer::Write(path, db);
    return path.string();
  }

  // The version check's own sequence of calls.
  std::string ReadVersion(const std::string& path, const std::string& connect = kConnect) {
    auto& ws = Engine().Workspaces(0);
    auto db = ws.OpenDatabase(path, true, true, connect);
    auto rs = db->OpenRecordset(kVersionQuery, dbOpenSnapshot);
    std::string version;
    if (!rs->IsEOF()) version = ToText(rs->Fields(0).GetValue());
    rs->Close();
    db->Close();
    return version;
  }

  zr::test::TempDir dir;
};

TEST_F(JetDaoTest, ReadsTheVersionRowOfACommonDatabase) {
  auto path = Make(CommonDatabase({{"Other", "x"}, {"ZrVer", "9.2.0"}, {"Tail", "y"}}));
  EXPECT_EQ(ReadVersion(path), "9.2.0");
}

TEST_F(JetDaoTest, NullEmptyAndMissingRowsAreTold) {
  EXPECT_EQ(ReadVersion(Make(CommonDatabase({{"ZrVer", ""}}), "empty.wf6")), "");
  EXPECT_EQ(ReadVersion(Make(CommonDatabase({{"Other", "9.2.0"}}), "missing.wf6")), "");

  auto nullPath = Make(CommonDatabase({{"ZrVer", std::nullopt}}), "null.wf6");
  EXPECT_EQ(ErrorOf([&] { ReadVersion(nullPath); }), rt::err::InvalidUseOfNull);

  auto& ws = Engine().Workspaces(0);
  auto db = ws.OpenDatabase(nullPath, true, true, kConnect);
  auto rs = db->OpenRecordset(kVersionQuery, dbOpenSnapshot);
  ASSERT_FALSE(rs->IsEOF());
  EXPECT_EQ(rs->Fields(0).GetValue(), std::nullopt);

  auto missing = db->OpenRecordset("SELECT VALUECHAR FROM XC_CONTROL WHERE ITEM = 'nothing'", dbOpenSnapshot);
  EXPECT_TRUE(missing->IsEOF());
  EXPECT_EQ(ErrorOf([&] { missing->Fields(0).GetValue(); }), 3021);
}

TEST_F(JetDaoTest, FirstOfTwoMatchingRowsInStoredOrder) {
  EXPECT_EQ(ReadVersion(Make(CommonDatabase({{"ZrVer", "9.0.0"}, {"ZrVer", "9.2.0"}}))), "9.0.0");
}

// Row-offset flags as Access sets them: 0x8000 deleted, 0x4000 moved (the
// row holds a pointer to where it now lives). libmdb 1.0.0 has them the
// other way round and would hand back a deleted row.
TEST_F(JetDaoTest, DeletedRowsAreSkippedAndMovedRowsFollowed) {
  constexpr std::size_t kData = 6 * 4096;
  std::string bytes = writer::Build(CommonDatabase({{"ZrVer", "9.0.0"}, {"ZrVer", "9.1.0"}, {"Moved", "9.2.0"}}));
  std::string deleted = bytes;
  deleted[kData + 15] = static_cast<char>(deleted[kData + 15] | 0x80);
  zr::test::WriteFile(dir.path() / "deleted.wf6", deleted);
  EXPECT_EQ(ReadVersion((dir.path() / "deleted.wf6").string()), "9.1.0");

  // Row 0 becomes a pointer to row 2 of the same page; row 2's key no longer matches.
  std::string moved = bytes;
  const std::size_t row0 =
      kData + ((static_cast<unsigned char>(moved[kData + 14]) | (moved[kData + 15] << 8)) & 0x1FFF);
  moved[row0] = 2;
  moved[row0 + 1] = 6;
  moved[row0 + 2] = 0;
  moved[row0 + 3] = 0;
  moved[kData + 15] = static_cast<char>(moved[kData + 15] | 0x40);
  zr::test::WriteFile(dir.path() / "moved.wf6", moved);
  auto db = Engine().Workspaces(0).OpenDatabase((dir.path() / "moved.wf6").string(), true, true, kConnect);
  auto rs = db->OpenRecordset("SELECT VALUECHAR FROM XC_CONTROL WHERE ITEM = 'moved'", dbOpenSnapshot);
  EXPECT_EQ(rs->Fields(0).GetValue(), "9.2.0");
  EXPECT_EQ(ToText(db->OpenRecordset(kVersionQuery, dbOpenSnapshot)->Fields(0).GetValue()), "9.1.0");
}

TEST_F(JetDaoTest, KeyComparesWithoutRegardToCase) {
  EXPECT_EQ(ReadVersion(Make(CommonDatabase({{"zrver", "9.1.0"}}))), "9.1.0");
  EXPECT_EQ(ReadVersion(Make(CommonDatabase({{"ZRVER ", "9.1.0"}}), "blank.wf6")), "");
}

TEST_F(JetDaoTest, NullKeysNeverMatch) {
  auto path = Make(CommonDatabase({{std::nullopt, "bad"}, {"ZrVer", "9.0.0"}}));
  auto db = Engine().Workspaces(0).OpenDatabase(path, true, true, kConnect);
  auto rs = db->OpenRecordset("SELECT VALUECHAR FROM XC_CONTROL WHERE ITEM = ''", dbOpenSnapshot);
  EXPECT_TRUE(rs->IsEOF());
}

TEST_F(JetDaoTest, JapaneseTextAndQuotesInTheLiteral) {
  auto path = Make(CommonDatabase({{"日本語キー", "値：テスト"}, {"it's", "quoted"}}));
  auto db = Engine().Workspaces(0).OpenDatabase(path, true, true, kConnect);
  auto rs = db->OpenRecordset("SELECT VALUECHAR FROM XC_CONTROL WHERE ITEM = '日本語キー'", dbOpenSnapshot);
  EXPECT_EQ(ToText(rs->Fields(0).GetValue()), "値：テスト");
  auto quoted = db->OpenRecordset("select [VALUECHAR] from [xc_control] where [Item]='it''s';", dbOpenSnapshot);
  EXPECT_EQ(ToText(quoted->Fields(0).GetValue()), "quoted");
}

TEST_F(JetDaoTest, MissingFileTableAndColumn) {
  auto& ws = Engine().Workspaces(0);
  std::string text;
  EXPECT_EQ(ErrorOf([&] { ws.OpenDatabase((dir.path() / "none.wf6").string(), true, true, kConnect); }, &text),
            rt::err::JetFileNotFound);
  EXPECT_NE(text.find("none.wf6"), std::string::npos);
  EXPECT_EQ(ErrorOf([&] { ws.OpenDatabase(dir.folder(), true, true, kConnect); }), rt::err::JetFileNotFound);
  EXPECT_EQ(ErrorOf([&] { ws.OpenDatabase("", true, true, kConnect); }), rt::err::JetFileNotFound);

  writer::Database other;
  other.password = test::kSuitePassword;
  other.tables.push_back({"SOMETHING", {"ITEM"}, {{"ZrVer"}}});
  auto db = ws.OpenDatabase(Make(other), true, true, kConnect);
  EXPECT_EQ(ErrorOf([&] { db->OpenRecordset(kVersionQuery, dbOpenSnapshot); }, &text), 3078);
  EXPECT_NE(text.find("XC_CONTROL"), std::string::npos);
  EXPECT_EQ(ErrorOf([&] { db->OpenRecordset("SELECT VALUECHAR FROM SOMETHING WHERE ITEM = 'ZrVer'", 4); }, &text),
            3061);
  EXPECT_NE(text.find("VALUECHAR"), std::string::npos);
  EXPECT_EQ(ErrorOf([&] { db->OpenRecordset("SELECT ITEM FROM SOMETHING WHERE NAME = 'ZrVer'", 4); }), 3061);
}

TEST_F(JetDaoTest, QueriesOutsideTheSupportedFormAreSyntaxErrors) {
  auto db = Engine().Workspaces(0).OpenDatabase(Make(CommonDatabase({{"ZrVer", "9.2.0"}})), true, true, kConnect);
  for (const char* q : {"SELECT * FROM XC_CONTROL", "SELECT VALUECHAR FROM XC_CONTROL WHERE ITEM = 'ZrVer",
                        "SELECT VALUECHAR FROM XC_CONTROL WHERE ITEM LIKE 'Zr*'", "DELETE FROM XC_CONTROL", ""}) {
    EXPECT_EQ(ErrorOf([&] { db->OpenRecordset(q, dbOpenSnapshot); }), rt::err::JetSyntaxError) << q;
  }
  EXPECT_EQ(ErrorOf([&] { db->OpenRecordset(kVersionQuery, 2); }), 3001);
}

TEST_F(JetDaoTest, ClosedObjectsRefuseUseAndReleaseCloses) {
  auto path = Make(CommonDatabase({{"ZrVer", "9.2.0"}}));
  auto& ws = Engine().Workspaces(0);
  auto db = ws.OpenDatabase(path, true, true, kConnect);
  auto rs = db->OpenRecordset(kVersionQuery, dbOpenSnapshot);
  rs->Close();
  EXPECT_EQ(ErrorOf([&] { rs->IsEOF(); }), 3420);
  auto second = db->OpenRecordset(kVersionQuery, dbOpenSnapshot);
  db->Close();
  EXPECT_EQ(ErrorOf([&] { second->Fields(0); }), 3420);
  EXPECT_EQ(ErrorOf([&] { db->OpenRecordset(kVersionQuery, dbOpenSnapshot); }), 3420);

  // Released without Close: the file is free for the next exclusive open.
  { auto held = ws.OpenDatabase(path, true, true, kConnect); }
  EXPECT_NO_THROW(ws.OpenDatabase(path, true, true, kConnect));
  EXPECT_EQ(ErrorOf([&] { Engine().Workspaces(1); }), 3265);
  EXPECT_EQ(&Engine(), &Engine());
}

TEST(JetToTextTest, NullIsInvalidUse) {
  EXPECT_EQ(ToText(std::string("9.2.0")), "9.2.0");
  EXPECT_EQ(ToText(std::string()), "");
  std::string text;
  EXPECT_EQ(ErrorOf([] { ToText(std::nullopt); }, &text), rt::err::InvalidUseOfNull);
  EXPECT_FALSE(text.empty());
}

}  // namespace
}  // namespace zr::jet
