// Requested and stored member names.
#include <gtest/gtest.h>

#include "platform/lzh/MemberName.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::lzh {
namespace {

TEST(LzhRequestedName, SplitsOnEitherSeparatorAndRefusesEscapes) {
  EXPECT_EQ(PathParts({"Work", "ZrBunsyo.wf6"}), SplitRequestedName("Work\\ZrBunsyo.wf6"));
  EXPECT_EQ(PathParts({"Work", "Sub", "a.wf6"}), SplitRequestedName("Work/Sub\\\\a.wf6"));
  EXPECT_EQ(PathParts({"a.wf6"}), SplitRequestedName("./a.wf6"));
  for (const char* bad : {"", "\\a", "/a", "a\\", "..", "a\\..\\b", "D:\\a", "d:"}) {
    EXPECT_THROW(SplitRequestedName(bad), rt::RuntimeError) << bad;
  }
}

TEST(LzhStoredName, LeadingSeparatorsGoDotDotStaysAndCaseIsBlind) {
  EXPECT_EQ(PathParts({"subdir", "hello.txt"}), SplitStoredPath("/subdir//./hello.txt"));
  const PathParts escaping = SplitStoredPath("..\\Work\\ZrBunsyo.wf6");
  EXPECT_EQ("..", escaping.front());
  EXPECT_FALSE(SamePath(escaping, {"Work", "ZrBunsyo.wf6"}));
  EXPECT_TRUE(SamePath({"WORK", "zrbunsyo.WF6"}, {"Work", "ZrBunsyo.wf6"}));
  EXPECT_FALSE(SamePath({"Work", "ZrBunsyo.wf"}, {"Work", "ZrBunsyo.wf6"}));
  // Only ASCII letters fold: full-width Ａ is not a.
  EXPECT_FALSE(SamePath({"Ａ"}, {"ａ"}));
}

TEST(LzhStoredName, Cp932KeepsBackslashTrailBytesInsideTheirCharacters) {
  NameDecoder decoder;
  // 表 = 95 5C, ソ = 83 5C; 0x5C between them is a real separator.
  EXPECT_EQ("Data\\表示.txt", decoder.Convert("Data\\\x95\x5C\x8E\xA6.txt", std::nullopt).value_or("?"));
  MemberHeader h;
  h.nameBytes = "Data\\\x95\x5C\x8E\xA6\\\x83\x5C\x83t\x83g.txt";
  EXPECT_EQ(PathParts({"Data", "表示", "ソフト.txt"}), decoder.Decode(h).value_or(PathParts{}));
  // Microsoft's table, not Shift_JIS: 0x8160 is the full-width tilde, 0x8740 a circled one, 0x5C a backslash.
  EXPECT_EQ("～①\\", decoder.Convert("\x81\x60\x87\x40\\", 932).value_or("?"));
  EXPECT_EQ("ｱｲ", decoder.Convert("\xB1\xB2", 932).value_or("?"));
  EXPECT_FALSE(decoder.Convert("\x81\x20", std::nullopt).has_value());
  EXPECT_FALSE(decoder.Convert("\xA0", std::nullopt).has_value());
}

TEST(LzhStoredName, OtherCodePagesAndUtf16Extensions) {
  NameDecoder decoder;
  EXPECT_EQ("é", decoder.Convert("\xE9", 1252).value_or("?"));
  EXPECT_EQ("日本", decoder.Convert("日本", 65001).value_or("?"));
  EXPECT_FALSE(decoder.Convert("\xE6\x97", 65001).has_value());
  EXPECT_FALSE(decoder.Convert("\xE9", 99999).has_value()) << "an unknown code page decodes nothing";

  MemberHeader h;
  h.nameBytes = "____.txt";
  h.dirBytes = "Work\xFF";
  h.utf16Name = std::string("\x3D\xD8\x00\xDE.\0t\0", 8);  // U+1F600 then ".t"
  EXPECT_EQ(PathParts({"Work", "😀.t"}), decoder.Decode(h).value_or(PathParts{}));
  h.utf16Dir = std::string(
      "A\0\xFF\xFF"
      "B\0\xFF\xFF",
      8);
  EXPECT_EQ(PathParts({"A", "B", "😀.t"}), decoder.Decode(h).value_or(PathParts{}));
  h.utf16Name = std::string("\x00\xDC", 2);  // a lone low surrogate
  EXPECT_FALSE(decoder.Decode(h).has_value());
  h.utf16Name = std::string("abc", 3);  // odd length
  EXPECT_FALSE(decoder.Decode(h).has_value());
}

}  // namespace
}  // namespace zr::lzh
