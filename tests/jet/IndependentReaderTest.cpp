#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>

#include "platform/jet/Dao.h"
#include "platform/jet/MdbRead.h"
#include "tests/jet/JetTestSupport.h"
#include "tests/support/TempDir.h"

// Our writer's files read by another Jet reader: the npm package mdb-reader,
// installed by scripts/bootstrap.sh. Without it these tests fail: a writer
// checked only against libmdb's leniency would prove nothing.
namespace zr::jet {
namespace {

using writer::Cell;

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Json(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Json(const Cell& c) { return c ? Json(*c) : "null"; }

// What dump.mjs prints for `db` (tables in catalog order).
std::string Expected(const writer::Database& db, const std::string& created) {
  std::string out = "{\"password\":" + (db.password.empty() ? std::string("null") : Json(db.password)) +
                    ",\"created\":" + Json(created) + ",\"tables\":{";
  for (std::size_t t = 0; t < db.tables.size(); ++t) {
    const auto& table = db.tables[t];
    out += (t ? "," : "") + Json(table.name) + ":{\"columns\":[";
    for (std::size_t c = 0; c < table.columns.size(); ++c) out += (c ? "," : "") + Json(table.columns[c]);
    out += "],\"rows\":[";
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      out += r ? ",[" : "[";
      for (std::size_t c = 0; c < table.rows[r].size(); ++c) out += (c ? "," : "") + Json(table.rows[r][c]);
      out += "]";
    }
    out += "]}";
  }
  return out + "}}";
}

class JetIndependentReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::filesystem::path tool = std::filesystem::path(ZR_SOURCE_DIR) / "tools" / "mdb-reader";
    script = (tool / "dump.mjs").string();
    ASSERT_TRUE(std::filesystem::exists(tool / "node_modules" / "mdb-reader" / "package.json"))
        << "mdb-reader is not installed: run scripts/bootstrap.sh";
    ASSERT_EQ(std::system("node --version > /dev/null 2>&1"), 0) << "node is not installed: run scripts/bootstrap.sh";
  }

  // mdb-reader's JSON for the file at `path`, read with `password`.
  std::string Dump(const std::filesystem::path& path, const std::string& password) {
    std::string command = "TZ=UTC node " + Quote(script) + " " + Quote(path.string()) + " " + Quote(password);
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return "popen failed";
    std::string out;
    char buffer[65536];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  std::filesystem::path Write(const writer::Database& db, const std::string& name) {
    auto path = dir.path() / name;
    writer::Write(path, db);
    return path;
  }

  zr::test::TempDir dir;
  std::string script;
};

TEST_F(JetIndependentReaderTest, CommonDatabasesReadTheSameInBothReaders) {
  writer::Database db = test::CommonDatabase({{"ZrVer", "9.2.0"},
                                              {"zrver", "lower"},
                                              {"ZrVer", "second"},
                                              {"NullValue", std::nullopt},
                                              {"Empty", ""},
                                              {std::nullopt, "null key"},
                                              {"日本語", "値：テスト"},
                                              {"quote\"back\\slash", "it's"}});
  db.creationDate = 45000.7;
  auto path = Write(db, "common.wf6");
  EXPECT_EQ(Dump(path, test::kSuitePassword), Expected(db, "2023-03-15T16:48:00.000Z"));

  // And libmdb through our layer gives the same column, in the same order.
  int fd = open(path.c_str(), O_RDONLY);
  auto ours = detail::ReadSelect(fd, {"VALUECHAR", "XC_CONTROL", std::nullopt, ""});
  close(fd);
  std::vector<Cell> expected;
  for (const auto& row : db.tables[0].rows) expected.push_back(row[1]);
  EXPECT_EQ(ours.values, expected);
}

TEST_F(JetIndependentReaderTest, PasswordsAndDatesAsTheOtherReaderDecodesThem) {
  for (const auto& [password, date, created] :
       std::vector<std::tuple<std::string, double, std::string>>{{"", 45000.5, "2023-03-15T12:00:00.000Z"},
                                                                 {"ABCDEFGHIJ0123456789", 45000.999, ""},
                                                                 {"合言葉", 45001.0, "2023-03-16T00:00:00.000Z"},
                                                                 {"x", 36526.25, "2000-01-01T06:00:00.000Z"}}) {
    writer::Database db = test::CommonDatabase({{"ZrVer", "9.0.0"}}, password);
    db.creationDate = date;
    const std::string out = Dump(Write(db, "p.wf6"), password);
    const std::string expectedPassword = password.empty() ? "null" : Json(password);
    EXPECT_EQ(out.substr(0, out.find(",\"created\"")), "{\"password\":" + expectedPassword) << password;
    if (!created.empty()) {
      EXPECT_NE(out.find(Json(created)), std::string::npos) << out;
    }
    EXPECT_NE(out.find("[[\"ZrVer\",\"9.0.0\"]]"), std::string::npos) << out;
  }
}

TEST_F(JetIndependentReaderTest, ManyPagesAndTables) {
  writer::Database db;
  writer::Table big{"BIG", {"N", "TEXT", "MAYBE"}, {}};
  for (int i = 0; i < 700; ++i) {
    big.rows.push_back({std::to_string(i), "行" + std::string(i % 40, 'x'), i % 3 ? Cell("y") : Cell()});
  }
  db.tables.push_back(writer::ControlTable({{"ZrVer", "9.1.0"}}));
  db.tables.push_back(big);
  db.tables.push_back({"EMPTY", {"A"}, {}});
  EXPECT_EQ(Dump(Write(db, "big.wf6"), ""), Expected(db, "2023-03-15T12:00:00.000Z"));
}

TEST_F(JetIndependentReaderTest, Jet3PasswordLayoutAgrees) {
  ZR_REQUIRE_REAL_FIXTURE("V1997_no-password.mdb");
  std::string bytes = zr::test::ReadFile(test::RealFixture("V1997_no-password.mdb"));
  const std::string pwd = "Jet3Pw";
  for (std::size_t i = 0; i < pwd.size(); ++i) bytes[0x42 + i] = static_cast<char>(bytes[0x42 + i] ^ pwd[i]);
  zr::test::WriteFile(dir.path() / "jet3.mdb", bytes);
  const std::string out = Dump(dir.path() / "jet3.mdb", pwd);
  EXPECT_EQ(out.substr(0, out.find(",\"created\"")), "{\"password\":\"Jet3Pw\"");
}

}  // namespace
}  // namespace zr::jet
