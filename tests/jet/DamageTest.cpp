#include <gtest/gtest.h>

#include "platform/jet/Dao.h"
#include "platform/jet/Header.h"
#include "platform/jet/ReadHelper.h"
#include "tests/jet/JetTestSupport.h"
#include "tests/support/TempDir.h"

// Each kind of damage gives its error and nothing worse; the sanitizer
// build runs these too.
namespace zr::jet {
namespace {

using test::ErrorOf;

constexpr std::size_t kPage = 4096;

class JetDamageTest : public ::testing::Test {
 protected:
  JetDamageTest() : good(writer::Build(test::CommonDatabase({{"ZrVer", "9.2.0"}}))) {}

  // Error number of the version check's open and query on `bytes`.
  int32_t Check(const std::string& bytes) {
    auto path = dir.path() / ("damaged" + std::to_string(++count) + ".wf6");
    zr::test::WriteFile(path, bytes);
    return ErrorOf([&] {
      auto db = Engine().Workspaces(0).OpenDatabase(path.string(), true, true, test::kConnect);
      auto rs = db->OpenRecordset(test::kVersionQuery, dbOpenSnapshot);
      if (!rs->IsEOF()) ToText(rs->Fields(0).GetValue());
    });
  }

  std::string ZeroPage(std::string bytes, std::size_t page) {
    bytes.replace(page * kPage, kPage, std::string(kPage, '\0'));
    return bytes;
  }

  zr::test::TempDir dir;
  std::string good;
  int count = 0;
};

TEST_F(JetDamageTest, TheUndamagedFileReads) { EXPECT_EQ(Check(good), 0); }

TEST_F(JetDamageTest, HeaderMaskNotApplied) {
  std::string bad = good;
  for (int i = 0; i < 128; ++i) bad[0x18 + i] = static_cast<char>(bad[0x18 + i] ^ detail::HeaderKeyStream()[i]);
  EXPECT_EQ(Check(bad), rt::err::JetUnrecognizedFormat);
}

TEST_F(JetDamageTest, WrongVersionByte) {
  for (char version : {'\x00', '\x02', '\x05', '\x07', '\xff'}) {
    std::string bad = good;
    bad[0x14] = version;
    EXPECT_EQ(Check(bad), rt::err::JetUnrecognizedFormat) << int(version);
  }
}

TEST_F(JetDamageTest, TruncatedFiles) {
  for (std::size_t size : {std::size_t{0}, std::size_t{100}, kPage - 1, kPage, 2 * kPage, good.size() - 1,
                           good.size() - kPage, good.size() - kPage / 2}) {
    EXPECT_EQ(Check(good.substr(0, size)), rt::err::JetUnrecognizedFormat) << size;
  }
}

TEST_F(JetDamageTest, CatalogWithoutItsRequiredColumns) {
  // Rename MSysObjects' LvProp and Flags columns in its definition on page 2.
  for (std::u16string column : {u"LvProp", u"Flags"}) {
    std::string name;
    for (char16_t c : column) name += {static_cast<char>(c), '\0'};
    std::string bad = good;
    auto at = bad.find(name, 2 * kPage);
    ASSERT_LT(at, 3 * kPage);
    bad[at] = 'X';
    EXPECT_EQ(Check(bad), rt::err::JetUnrecognizedFormat);
  }
}

TEST_F(JetDamageTest, ZeroFilledPages) {
  // 2 catalog definition, 3 usage maps, 4 catalog rows, 5 table definition, 6 table rows.
  for (std::size_t page : {0, 2, 3, 4, 5, 6}) {
    EXPECT_EQ(Check(ZeroPage(good, page)), rt::err::JetUnrecognizedFormat) << page;
  }
  EXPECT_EQ(Check(ZeroPage(good, 1)), 0) << "the global map is not read";
}

TEST_F(JetDamageTest, RowOffsetsPointingOffThePage) {
  std::string bad = good;
  const std::size_t dataPage = 6 * kPage;
  bad[dataPage + 14] = '\xff';
  bad[dataPage + 15] = '\x1f';
  EXPECT_EQ(Check(bad), rt::err::JetUnrecognizedFormat);
  bad = good;
  bad[dataPage + 12] = '\xff';  // row count far beyond the offset table
  bad[dataPage + 13] = '\xff';
  EXPECT_EQ(Check(bad), rt::err::JetUnrecognizedFormat);
}

TEST_F(JetDamageTest, UsageMapNamingPagesBeyondTheFile) {
  std::string bad = good;
  // Row 2 of page 3 is XC_CONTROL's owned-pages map; set a bit far past the end.
  const std::size_t mapPage = 3 * kPage;
  const int start =
      static_cast<unsigned char>(bad[mapPage + 14 + 4]) | (static_cast<unsigned char>(bad[mapPage + 14 + 5]) << 8);
  bad[mapPage + start + 5 + 60] = '\x01';
  EXPECT_EQ(Check(bad), rt::err::JetUnrecognizedFormat);
}

// The catalog row of XC_CONTROL carries a property value whose long-value
// chain names itself as its next part: libmdb follows it for ever. The read
// is ended at its deadline and the file called unreadable.
TEST_F(JetDamageTest, LongValueChainThatNeverEnds) {
  const auto saved = detail::HelperDeadline();
  detail::SetHelperDeadline(std::chrono::seconds(1));
  const std::string bytes =
      zr::test::ReadFile(std::filesystem::path(ZR_SOURCE_DIR) / "fuzz/jet/corpus/libmdb-hang-long-value-cycle");
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(Check(bytes), rt::err::JetUnrecognizedFormat);
  detail::SetHelperDeadline(saved);
}

}  // namespace
}  // namespace zr::jet
