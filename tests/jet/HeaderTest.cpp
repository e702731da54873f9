#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "platform/jet/Header.h"
#include "tools/jetwriter/JetWriter.h"

namespace zr::jet::detail {
namespace {

std::vector<unsigned char> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Hex(const std::string& bytes, std::size_t at, std::size_t n) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02x" : "%02x", static_cast<unsigned char>(bytes[at + i]));
    out += buf;
  }
  return out;
}

std::string HeaderOf(const std::string& password, double date) {
  writer::Database db;
  db.password = password;
  db.creationDate = date;
  return writer::Build(db).substr(0, 4096);
}

Header Decoded(const std::string& page) {
  Header h{};
  EXPECT_EQ(DecodeHeader(Bytes(page), h), HeaderProblem::None);
  return h;
}

std::string Utf16(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

TEST(JetHeaderTest, KeyStreamAndWrittenBytesMatchTheKnownVectors) {
  EXPECT_EQ(Hex(std::string(reinterpret_cast<const char*>(HeaderKeyStream()), 8), 0, 8), "b5 6f 03 62 61 08 c2 55");
  const std::string abc = HeaderOf("abc", 45000.5);
  EXPECT_EQ(Hex(abc, 0x3C, 6), "9f 46 fb 8a bc 4e");
  EXPECT_EQ(Hex(abc, 0x42, 16), "2f 54 8e 37 f6 eb 9c fa 0e f1 28 e6 db 19 8a 60");
  EXPECT_EQ(Hex(HeaderOf("", 45000.5), 0x42, 16), "4e 54 ec 37 95 eb 9c fa 0e f1 28 e6 db 19 8a 60");
  EXPECT_EQ(Hex(abc, 0x14, 1), "01");
}

TEST(JetHeaderTest, RoundTripsPasswordsUpToTwentyUnits) {
  for (const std::string& pwd : {std::string("a"), std::string("R$KQTM3VXEJW8FNUPC"),
                                 std::string("ABCDEFGHIJKLMNOPQRST"), std::string("パスワード")}) {
    Header h = Decoded(HeaderOf(pwd, 45000.5));
    EXPECT_EQ(h.format, Format::Jet4);
    EXPECT_TRUE(PasswordOpens(h, pwd)) << pwd;
    EXPECT_FALSE(PasswordOpens(h, pwd + "X")) << pwd;
    EXPECT_FALSE(PasswordOpens(h, pwd.substr(0, pwd.size() - 1))) << pwd;
    EXPECT_FALSE(PasswordOpens(h, "")) << pwd;
  }
  EXPECT_EQ(Decoded(HeaderOf("ABCDEFGHIJKLMNOPQRST", 1.0)).password.size(), 40u);
  EXPECT_THROW(HeaderOf("ABCDEFGHIJKLMNOPQRSTU", 45000.5), std::invalid_argument);
}

TEST(JetHeaderTest, ComparisonIsCaseSensitiveAndNoPasswordOpensWithAny) {
  Header h = Decoded(HeaderOf("Secret", 45000.5));
  EXPECT_FALSE(PasswordOpens(h, "secret"));
  EXPECT_FALSE(PasswordOpens(h, "SECRET"));
  EXPECT_FALSE(PasswordOpens(h, "Ｓecret"));
  EXPECT_FALSE(PasswordOpens(h, "Secret\xff"));
  Header none = Decoded(HeaderOf("", 45000.5));
  EXPECT_TRUE(none.password.empty());
  EXPECT_TRUE(PasswordOpens(none, "anything"));
  EXPECT_TRUE(PasswordOpens(none, ""));
}

// The stored password is masked with the day number: the date truncated,
// never rounded. Built here by hand so a decoder that rounds fails.
TEST(JetHeaderTest, DateMaskUsesTheTruncatedDay) {
  for (double date : {45000.7, 45000.999, 45001.0, 0.25}) {
    std::string page(4096, '\0');
    page[0x14] = 1;
    std::memcpy(&page[0x72], &date, 8);
    const auto day = static_cast<uint32_t>(static_cast<int32_t>(date));
    std::string pwd = Utf16(u"Key9");
    pwd.resize(40, '\0');
    for (int i = 0; i < 40; ++i) page[0x42 + i] = static_cast<char>(pwd[i] ^ ((day >> (8 * (i % 4))) & 0xFF));
    for (int i = 0; i < 128; ++i) page[0x18 + i] = static_cast<char>(page[0x18 + i] ^ HeaderKeyStream()[i]);
    Header h = Decoded(page);
    EXPECT_TRUE(PasswordOpens(h, "Key9")) << date;
    EXPECT_EQ(h.password, Utf16(u"Key9")) << date;
  }
}

TEST(JetHeaderTest, WriterMasksWithTheTruncatedDay) {
  // 45000.7 rounds to 45001 but is stored under day 45000 (mask c8 af).
  const std::string page = HeaderOf("", 45000.7);
  EXPECT_EQ(Hex(page, 0x42, 4), Hex(HeaderOf("", 45000.5), 0x42, 4));
  EXPECT_NE(Hex(page, 0x42, 4), Hex(HeaderOf("", 45001.0), 0x42, 4));
}

TEST(JetHeaderTest, RefusesWhatIsNotAJetHeader) {
  Header h{};
  std::string page = HeaderOf("", 45000.5);
  EXPECT_EQ(DecodeHeader({}, h), HeaderProblem::TooShort);
  EXPECT_EQ(DecodeHeader(Bytes(page.substr(0, 4000)), h), HeaderProblem::TooShort);
  std::string bad = page;
  bad[0] = 1;
  EXPECT_EQ(DecodeHeader(Bytes(bad), h), HeaderProblem::NotJet);
  for (int version : {2, 3, 6}) {
    bad = page;
    bad[0x14] = static_cast<char>(version);
    EXPECT_EQ(DecodeHeader(Bytes(bad), h), HeaderProblem::Ace) << version;
  }
  bad = page;
  bad[0x14] = 7;
  EXPECT_EQ(DecodeHeader(Bytes(bad), h), HeaderProblem::NotJet);
  bad = page;
  double nan = std::numeric_limits<double>::quiet_NaN();
  std::string raw(8, '\0');
  std::memcpy(raw.data(), &nan, 8);
  for (int i = 0; i < 8; ++i) bad[0x72 + i] = static_cast<char>(raw[i] ^ HeaderKeyStream()[0x72 - 0x18 + i]);
  EXPECT_EQ(DecodeHeader(Bytes(bad), h), HeaderProblem::Damaged);
}

TEST(JetHeaderTest, Jet3PasswordIsPlainBytesWithoutDateMask) {
  std::string page(2048, '\0');
  page[0x3C] = static_cast<char>(0xE4);
  page[0x3D] = 0x04;
  const std::string pwd = "Jet3Pass";
  std::memcpy(&page[0x42], pwd.data(), pwd.size());
  for (int i = 0; i < 126; ++i) page[0x18 + i] = static_cast<char>(page[0x18 + i] ^ HeaderKeyStream()[i]);
  Header h{};
  ASSERT_EQ(DecodeHeader(Bytes(page), h), HeaderProblem::None);
  EXPECT_EQ(h.format, Format::Jet3);
  EXPECT_EQ(h.pageSize, 2048u);
  EXPECT_EQ(h.codePage, 1252);
  EXPECT_EQ(h.password, pwd);
  EXPECT_TRUE(PasswordOpens(h, pwd));
  EXPECT_FALSE(PasswordOpens(h, "jet3pass"));
}

TEST(JetConnectTest, TakesThePwdArgument) {
  EXPECT_EQ(PasswordFromConnect(";PWD=R$KQTM3VXEJW8FNUPC"), "R$KQTM3VXEJW8FNUPC");
  EXPECT_EQ(PasswordFromConnect("MS Access;pwd=abc;UID=x"), "abc");
  EXPECT_EQ(PasswordFromConnect(";Pwd=a=b"), "a=b");
  EXPECT_EQ(PasswordFromConnect(";PWD="), "");
  EXPECT_EQ(PasswordFromConnect(";PWD= spaced "), " spaced ");
  EXPECT_EQ(PasswordFromConnect(""), "");
  EXPECT_EQ(PasswordFromConnect(";DATABASE=x"), "");
}

}  // namespace
}  // namespace zr::jet::detail
