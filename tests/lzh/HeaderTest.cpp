// Our own header reading: the checks it makes before libarchive sees a
// byte, and the rewriting that keeps libarchive away from names.
#include <gtest/gtest.h>

#include "platform/lzh/Crc16.h"
#include "platform/lzh/Header.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::lzh {
namespace {

namespace w = zr::lzh::writer;

std::span<const uint8_t> Bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

TEST(LzhCrc16, MatchesTheArcCheckValuesAndContinuesAcrossPieces) {
  const std::string digits = "123456789";
  EXPECT_EQ(0xBB3D, Crc16(0, digits.data(), digits.size()));
  const std::string hello = "hello world\n";
  EXPECT_EQ(0x9778, Crc16(0, hello.data(), hello.size()));
  std::string big;
  for (int i = 0; i < 100000; ++i) big += static_cast<char>((i * 31) ^ (i >> 3));
  uint16_t pieces = 0;
  for (std::size_t at = 0; at < big.size(); at += 777) {
    pieces = Crc16(pieces, big.data() + at, std::min<std::size_t>(777, big.size() - at));
  }
  uint16_t bytewise = 0;
  for (char c : big) bytewise = Crc16(bytewise, &c, 1);
  EXPECT_EQ(bytewise, pieces);
  EXPECT_EQ(bytewise, Crc16(0, big.data(), big.size()));
}

TEST(LzhHeader, ReadsWhatTheWriterWroteAtEveryLevel) {
  for (int level = 0; level <= 3; ++level) {
    SCOPED_TRACE(level);
    w::Member m = w::MakeMember("Work\\ZrBunsyo.wf6", "some data", level);
    const std::string bytes = w::EncodeMember(m);
    MemberHeader h;
    const HeaderParse r = ParseHeader(Bytes(bytes), true, h);
    ASSERT_EQ(HeaderParse::Complete, r.status);
    EXPECT_EQ(bytes.size() - m.data.size(), h.span);
    EXPECT_EQ("-lh0-", h.method);
    EXPECT_EQ(9, h.packedSize);
    EXPECT_EQ(9, h.originalSize);
    EXPECT_EQ(Crc16(0, "some data", 9), h.dataCrc);
    if (level == 0) {
      EXPECT_EQ("Work\\ZrBunsyo.wf6", h.nameBytes);
    } else {
      EXPECT_EQ("ZrBunsyo.wf6", h.nameBytes);
      EXPECT_EQ("Work\xFF", h.dirBytes);
    }
  }
}

TEST(LzhHeader, AsksForMoreOnlyWhileTheFileGoesOn) {
  const std::string bytes = w::EncodeMember(w::MakeMember("Work\\ZrBunsyo.wf6", "x", 2));
  MemberHeader h;
  const HeaderParse more = ParseHeader(Bytes(bytes.substr(0, 30)), false, h);
  ASSERT_EQ(HeaderParse::NeedMore, more.status);
  EXPECT_GT(more.needed, 30u);
  EXPECT_LE(more.needed, bytes.size() - 1);
  const HeaderParse cut = ParseHeader(Bytes(bytes.substr(0, 30)), true, h);
  EXPECT_EQ(HeaderParse::Fault, cut.status);
  EXPECT_EQ(HeaderFault::Truncated, cut.fault);
  EXPECT_EQ(HeaderParse::EndOfArchive, ParseHeader(Bytes(std::string(1, '\0')), true, h).status);
  EXPECT_EQ(HeaderParse::EndOfArchive, ParseHeader({}, true, h).status);
}

TEST(LzhHeader, ALevel3HeaderClaimingMoreThan64KiBIsRefusedFromItsFixedPart) {
  w::Member m = w::MakeMember("Work\\x", "x", 3);
  m.faults.headerSize = 1u << 30;
  const std::string bytes = w::EncodeMember(m);
  MemberHeader h;
  const HeaderParse r = ParseHeader(Bytes(bytes.substr(0, 28)), false, h);
  EXPECT_EQ(HeaderParse::Fault, r.status) << "never a request to read a gigabyte";
  EXPECT_EQ(HeaderFault::TooLarge, r.fault);
}

TEST(LzhHeader, ALevel1ExtensionChainPast64KiBIsRefusedBeforeItIsRead) {
  w::Member m = w::MakeMember("Work\\x", "x", 1);
  for (int i = 0; i < 3; ++i) m.faults.extensions.push_back("\x3F" + std::string(30000, 'c'));
  const std::string bytes = w::EncodeMember(m);
  MemberHeader h;
  HeaderParse r = ParseHeader(Bytes(bytes.substr(0, 100)), false, h);
  std::size_t asked = 100;
  while (r.status == HeaderParse::NeedMore) {
    ASSERT_LE(r.needed, kMaxHeaderBytes);
    asked = r.needed;
    r = ParseHeader(Bytes(bytes.substr(0, asked)), false, h);
  }
  EXPECT_EQ(HeaderParse::Fault, r.status);
  EXPECT_EQ(HeaderFault::TooLarge, r.fault);
}

TEST(LzhHeader, NegativeSizesAreRefused) {
  for (int level : {1, 2, 3}) {
    w::Member m = w::MakeMember("Work\\x", "x", level);
    m.faults.size64 = true;
    m.faults.originalSize = -1;
    MemberHeader h;
    const HeaderParse r = ParseHeader(Bytes(w::EncodeMember(m)), true, h);
    EXPECT_EQ(HeaderFault::BadSize, r.fault) << level;
  }
}

TEST(LzhHeader, NeutralisingNameExtensionsKeepsTheHeaderCrcValid) {
  for (int level : {1, 2, 3}) {
    SCOPED_TRACE(level);
    w::Member m = w::MakeMember("Work\\ZrBunsyo.wf6", "x", level);
    m.codePage = 932;
    m.faults.extensions.push_back(std::string("\x44Z\0r\0", 5));
    std::string bytes = w::EncodeMember(m);
    MemberHeader h;
    ASSERT_EQ(HeaderParse::Complete, ParseHeader(Bytes(bytes), true, h).status);
    EXPECT_EQ(932u, h.codePage.value_or(0));
    ASSERT_TRUE(h.utf16Name.has_value());
    std::span<uint8_t> header(reinterpret_cast<uint8_t*>(bytes.data()), h.span);
    NeutraliseNameExtensions(header, h);
    MemberHeader after;
    ASSERT_EQ(HeaderParse::Complete, ParseHeader(Bytes(bytes), true, after).status)
        << "the rewritten header still passes every check";
    EXPECT_FALSE(after.codePage.has_value());
    EXPECT_FALSE(after.utf16Name.has_value());
    EXPECT_EQ(h.span, after.span);
  }
}

TEST(LzhHeader, Level2PaddingByteBelongsToTheHeader) {
  w::Member m = w::MakeMember("Work\\x", "data", 2);
  for (std::size_t n = 1; n < 300; ++n) {
    m.path = "Work\\" + std::string(n, 'n');
    if (w::EncodeMember(m).size() - 4 == 0x101) break;
  }
  const std::string bytes = w::EncodeMember(m);
  ASSERT_EQ(0x101u, bytes.size() - 4);
  MemberHeader h;
  ASSERT_EQ(HeaderParse::Complete, ParseHeader(Bytes(bytes), true, h).status);
  EXPECT_EQ(0x101u, h.span);
}

}  // namespace
}  // namespace zr::lzh
