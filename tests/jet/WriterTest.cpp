#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "platform/jet/MdbRead.h"
#include "tests/jet/JetTestSupport.h"
#include "tests/support/TempDir.h"

namespace zr::jet {
namespace {

using writer::Cell;

constexpr std::size_t kPage = 4096;

std::string Row(const std::string& bytes, std::size_t page, int row) {
  const std::size_t base = page * kPage;
  auto u16 = [&](std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8);
  };
  const std::size_t start = u16(base + 14 + 2 * row) & 0x1FFF;
  const std::size_t end = row == 0 ? kPage : (u16(base + 14 + 2 * (row - 1)) & 0x1FFF);
  return bytes.substr(base + start, end - start);
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 3)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// Reads a whole column through libmdb in this process: the writer's own
// output is trusted here.
std::vector<Cell> Column(const std::string& bytes, const std::string& table, const std::string& column,
                         uint64_t* pages = nullptr) {
  zr::test::TempDir dir;
  zr::test::WriteFile(dir.path() / "f.mdb", bytes);
  int fd = open((dir.path() / "f.mdb").c_str(), O_RDONLY);
  auto outcome = detail::ReadSelect(fd, {column, table, std::nullopt, ""});
  close(fd);
  EXPECT_EQ(outcome.status, detail::ReadStatus::Ok);
  if (pages) *pages = outcome.pagesRead;
  return outcome.values;
}

TEST(JetWriterTest, RowsAreLaidOutAsJetStoresThem) {
  const std::string bytes =
      writer::Build(test::CommonDatabase({{"ZrVer", "9.2.0"}, {"ZrVer", std::nullopt}, {"ZrVer", ""}}));
  ASSERT_EQ(bytes.size(), 7 * kPage);
  EXPECT_EQ(Row(bytes, 6, 0),
            Unhex("02 00 5a 00 72 00 56 00 65 00 72 00 39 00 2e 00 32 00 2e 00 30 00 16 00 0c 00 02 00 02 00 03 "));
  EXPECT_EQ(Row(bytes, 6, 1), Unhex("02 00 5a 00 72 00 56 00 65 00 72 00 0c 00 0c 00 02 00 02 00 01 "));
  EXPECT_EQ(Row(bytes, 6, 2), Unhex("02 00 5a 00 72 00 56 00 65 00 72 00 0c 00 0c 00 02 00 02 00 03 "));
  EXPECT_EQ(bytes[5 * kPage], 2) << "table definition";
  EXPECT_EQ(bytes[6 * kPage], 1) << "data page";
  EXPECT_EQ(bytes[6 * kPage + 4], 5) << "owned by the definition on page 5";
}

TEST(JetWriterTest, ValuesComeBackThroughLibmdbInOrderAcrossPages) {
  writer::Table big{"BIG", {"N", "TEXT", "EMPTY"}, {}};
  std::vector<Cell> numbers, texts;
  for (int i = 0; i < 700; ++i) {
    numbers.emplace_back(std::to_string(i));
    texts.push_back(i % 7 == 0 ? Cell() : Cell("値" + std::string(i % 50, 'x')));
    big.rows.push_back({numbers.back(), texts.back(), ""});
  }
  writer::Database db;
  db.tables.push_back(big);
  db.tables.push_back(writer::ControlTable({{"ZrVer", "9.1.0"}}));
  const std::string bytes = writer::Build(db);
  EXPECT_GT(bytes.size(), 12 * kPage);
  EXPECT_EQ(Column(bytes, "BIG", "N"), numbers);
  EXPECT_EQ(Column(bytes, "big", "text"), texts);
  EXPECT_EQ(Column(bytes, "BIG", "EMPTY"), std::vector<Cell>(700, std::string()));
  EXPECT_EQ(Column(bytes, "XC_CONTROL", "VALUECHAR"), std::vector<Cell>{"9.1.0"});
}

TEST(JetWriterTest, TextOutsideTheBasicPlaneAndAtTheLengthLimit) {
  const std::string longest(255, 'z');
  const std::string bytes = writer::Build(test::CommonDatabase({{"a", "𠮷野家"}, {"b", longest}, {"c", "ｶﾅ全角"}}));
  EXPECT_EQ(Column(bytes, "XC_CONTROL", "VALUECHAR"), (std::vector<Cell>{"𠮷野家", longest, "ｶﾅ全角"}));
}

TEST(JetWriterTest, ReadingOneTableCostsItsOwnPagesNotTheOthers) {
  writer::Database db = test::CommonDatabase({{"ZrVer", "9.2.0"}});
  writer::Table bulk{"BULK", {"A", "B"}, {}};
  for (int i = 0; i < 9000; ++i) bulk.rows.push_back({std::string(200, 'q'), std::string(200, 'r')});
  db.tables.push_back(bulk);
  const std::string bytes = writer::Build(db);
  ASSERT_GT(bytes.size(), 1000 * kPage);
  uint64_t pages = 0;
  EXPECT_EQ(Column(bytes, "XC_CONTROL", "VALUECHAR", &pages), std::vector<Cell>{"9.2.0"});
  EXPECT_LE(pages, 4u) << "definition, the page of its two usage maps (read once for each) and the one data page";
}

TEST(JetWriterTest, RefusesWhatItCannotStore) {
  auto build = [](writer::Database db) { return writer::Build(db); };
  writer::Database db = test::CommonDatabase({{"ZrVer", "9.2.0"}});
  auto with = [&](auto change) {
    writer::Database copy = db;
    change(copy);
    return copy;
  };
  EXPECT_THROW(build(with([](auto& d) { d.password = std::string(21, 'p'); })), std::invalid_argument);
  EXPECT_THROW(build(with([](auto& d) { d.password = std::string("a\0b", 3); })), std::invalid_argument);
  EXPECT_THROW(build(with([](auto& d) { d.password = "\xff"; })), std::invalid_argument);
  EXPECT_THROW(build(with([](auto& d) { d.creationDate = 0; })), std::invalid_argument);
  EXPECT_THROW(build(with([](auto& d) { d.tables[0].rows[0][1] = std::string(256, 'x'); })), std::invalid_argument);
  EXPECT_THROW(build(with([](auto& d) {
                 d.tables[0].rows[0][1] =
                     "\xef\xbb\xbf"
                     "BOM";
               })),
               std::invalid_argument);
  EXPECT_THROW(build(with([](auto& d) { d.tables[0].rows[0].pop_back(); })), std::invalid_argument);
  EXPECT_THROW(build(with([](auto& d) { d.tables.push_back(d.tables[0]); })), std::invalid_argument);
  EXPECT_THROW(build(with([](auto& d) { d.tables[0].name = "msysobjects"; })), std::invalid_argument);
  EXPECT_NO_THROW(build(with([](auto& d) { d.password = std::string(20, 'p'); })));
}

}  // namespace
}  // namespace zr::jet
