#include <gtest/gtest.h>

#include "platform/runtime/Text.h"
#include "platform/runtime/TextConversion.h"

namespace zr::rt {
namespace {

TEST(TextTest, TrimRemovesOrdinaryAndFullWidthBlanksAtBothEndsOnly) {
  EXPECT_EQ(Trim(" /mnt/BK/"), "/mnt/BK/");
  EXPECT_EQ(Trim("\u3000 \u3000/mnt/a b/\u3000 "), "/mnt/a b/");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\u3000"), "");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("\t/x\t"), "\t/x\t");
}

TEST(TextTest, CaseBlindComparisonFoldsAsciiAndFullWidthLetters) {
  EXPECT_TRUE(EqualsIgnoreCase("/Opt/Suite", "/opt/SUITE"));
  EXPECT_TRUE(EqualsIgnoreCase("ＡＢＣ", "ａｂｃ"));
  EXPECT_FALSE(EqualsIgnoreCase("ＡＢＣ", "abc"));
  EXPECT_TRUE(EqualsIgnoreCase("ＡＢＣ", "abc", true));
  EXPECT_FALSE(EqualsIgnoreCase("abc", "abcd", true));
  EXPECT_FALSE(EqualsIgnoreCase("表", "衣"));
}

TEST(TextTest, FindIgnoreCaseReturnsByteOffsetOfFirstMatch) {
  EXPECT_EQ(FindIgnoreCase("/a/CJS/b/cjs/", "/cjs/"), 2u);
  EXPECT_EQ(FindIgnoreCase("/日本/ｃｊｓ/", "/cjs/", true), 7u);
  EXPECT_EQ(FindIgnoreCase("/日本/ｃｊｓ/", "/cjs/"), std::string::npos);
  EXPECT_EQ(FindIgnoreCase("/cj", "/cjs/"), std::string::npos);
  EXPECT_EQ(FindIgnoreCase("", "/cjs/"), std::string::npos);
}

TEST(TextTest, DecimalTextKeepsTheSign) {
  EXPECT_EQ(DecimalText(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(DecimalText(53), "53");
}

TEST(TextTest, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8("あおば！ナビ"));
  EXPECT_FALSE(IsValidUtf8("\x95\x5c"));      // CP932 bytes
  EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));  // surrogate
  EXPECT_FALSE(IsValidUtf8("\xe3\x81"));      // cut short
}

TEST(TextTest, Utf16ConversionRoundTripsOutsideTheBasicPlaneAndRefusesBadInput) {
  std::u16string units;
  ASSERT_TRUE(Utf8ToUtf16("表𠮷a", units));
  EXPECT_EQ(units, (std::u16string{u'表', 0xD842, 0xDFB7, u'a'}));
  EXPECT_EQ(Utf16ToUtf8(units, LoneSurrogate::Reject), "表𠮷a");
  EXPECT_EQ(Utf16ToUtf8(Utf16LeUnits(std::string("\x68\x88\x3D\xD8", 4)), LoneSurrogate::Replace), "表\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDFB7, u'a'}, LoneSurrogate::Reject), std::nullopt);
  EXPECT_FALSE(Utf8ToUtf16("\x95\x5c", units));
  EXPECT_FALSE(Utf8ToUtf16("\xed\xa0\x80", units));
}

TEST(TextTest, CodePageConversionGrowsItsBufferAndRefusesWhatHasNoForm) {
  // Half-width katakana: one CP932 byte, three UTF-8 bytes each.
  const std::string kana(4000, '\xB1');
  const std::optional<std::string> utf8 = ConvertText(kana, kCp932, kUtf8);
  ASSERT_TRUE(utf8);
  EXPECT_EQ(utf8->size(), 12000u);
  EXPECT_EQ(utf8->substr(0, 3), "ｱ");
  EXPECT_EQ(ConvertText("\\表", kUtf8, kCp932), std::string("\\\x95\x5C"));
  EXPECT_EQ(ConvertText("\x95", kCp932, kUtf8), std::nullopt);  // cut short
  EXPECT_EQ(ConvertText("𠮷", kUtf8, kCp932), std::nullopt);
  EXPECT_FALSE(TextConverter("NO-SUCH-CHARSET", kUtf8).Usable());
}

TEST(TextTest, OutputEscapingFollowsLsEscapeStyleForControlsAndBadBytes) {
  // As `ls --quoting-style=escape` prints these names, spaces apart (left alone here).
  const std::pair<std::string, std::string> cases[] = {
      {"a\tb", "a\\tb"},
      {"c\nd\re", "c\\nd\\re"},
      {"\a\b\f\v", "\\a\\b\\f\\v"},
      {"i\x01\x1b[31m\x7f", "i\\001\\033[31m\\177"},
      {"c1\xc2\x9b", "c1\\302\\233"},         // C1 control, well-formed UTF-8
      {"x\xff\xe3\x81", "x\\377\\343\\201"},  // not UTF-8, also cut short
      {"\xed\xa0\x80", "\\355\\240\\200"},    // a surrogate
      {"g\\h e", "g\\\\h e"},
      {"データ\u00e9\U00020BB7", "データ\u00e9\U00020BB7"},
  };
  for (const auto& [raw, shown] : cases) EXPECT_EQ(EscapedForOutput(raw), shown) << shown;
  EXPECT_EQ(EscapedForOutput("「Work\\Zr\tTuBun.wf6」", false), "「Work\\Zr\\tTuBun.wf6」");
}

}  // namespace
}  // namespace zr::rt
