#include <gtest/gtest.h>

#include "platform/jet/Query.h"

namespace zr::jet::detail {
namespace {

TEST(JetQueryTest, TheVersionQuery) {
  auto q = ParseSelect("SELECT VALUECHAR FROM XC_CONTROL WHERE ITEM = 'ZrVer'");
  ASSERT_TRUE(q);
  EXPECT_EQ(q->column, "VALUECHAR");
  EXPECT_EQ(q->table, "XC_CONTROL");
  EXPECT_EQ(q->whereColumn, "ITEM");
  EXPECT_EQ(q->literal, "ZrVer");
}

TEST(JetQueryTest, SpellingsOfTheSameForm) {
  auto q = ParseSelect("  select [Value Char] from\n[XC CONTROL]\twhere [ITEM]='it''s \"x\"' ; ");
  ASSERT_TRUE(q);
  EXPECT_EQ(q->column, "Value Char");
  EXPECT_EQ(q->table, "XC CONTROL");
  EXPECT_EQ(q->literal, "it's \"x\"");
  auto dq = ParseSelect("SELECT a FROM b WHERE c = \"say \"\"hi\"\"\"");
  ASSERT_TRUE(dq);
  EXPECT_EQ(dq->literal, "say \"hi\"");
  auto all = ParseSelect("SELECT 値 FROM 表");
  ASSERT_TRUE(all);
  EXPECT_EQ(all->table, "表");
  EXPECT_FALSE(all->whereColumn);
  EXPECT_EQ(ParseSelect("SELECT a FROM b WHERE c = ''")->literal, "");
}

TEST(JetQueryTest, AnythingElseIsRefused) {
  for (const char* sql :
       {"", "SELECT", "SELECT * FROM t", "SELECT a, b FROM t", "SELECT a FROM t WHERE c = 'x' AND d = 'y'",
        "SELECT a FROM t WHERE c = 'x", "SELECT a FROM t WHERE c LIKE 'x'", "SELECT a FROM t WHERE c = x",
        "SELECT a FROM t ORDER BY a", "SELECTa FROM t", "SELECT a FROMt", "SELECT a FROM t WHERE",
        "SELECT a FROM t; DROP TABLE t", "SELECT [a FROM t", "SELECT [] FROM t", "UPDATE t SET a = 'x'",
        "SELECT a FROM t WHERE c = 'x' 'y'"}) {
    EXPECT_FALSE(ParseSelect(sql)) << sql;
  }
}

}  // namespace
}  // namespace zr::jet::detail
