#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Text helpers over UTF-8 strings.
namespace zr::rt {

// Removes ordinary blanks (U+0020) and full-width blanks (U+3000) from both ends.
std::string Trim(std::string_view text);

bool EndsWith(std::string_view text, std::string_view suffix);

// Decodes the code point at `pos` and advances past it. Malformed bytes come
// back as themselves, one at a time, so that comparisons stay total.
char32_t NextCodePoint(std::string_view text, std::size_t& pos);

// The text as code points folded for case-blind comparison (see below).
std::u32string FoldedForComparison(std::string_view text, bool foldWidth = false);

// Converts well-formed UTF-8 to UTF-16; false (and `out` unspecified) otherwise.
bool Utf8ToUtf16(std::string_view text, std::u16string& out);

// What becomes of a surrogate without its partner when UTF-16 is decoded.
enum class LoneSurrogate { Replace, Reject };

// UTF-16 code units to UTF-8. A lone surrogate becomes U+FFFD, or with
// Reject makes the whole text undecodable (nothing comes back).
std::optional<std::string> Utf16ToUtf8(std::u16string_view units, LoneSurrogate lone);

// Little-endian byte pairs as UTF-16 code units; an odd last byte is dropped.
std::u16string Utf16LeUnits(std::string_view bytes);

// Appends the UTF-8 form of one code point.
void AppendUtf8(std::string& out, char32_t cp);

// Case-blind equality for ASCII letters and full-width Latin letters; with
// foldWidth, a full-width Latin letter or digit also equals its ASCII form.
bool EqualsIgnoreCase(std::string_view a, std::string_view b, bool foldWidth = false);

// Byte offset of the first case-blind occurrence of `needle`, or npos.
std::size_t FindIgnoreCase(std::string_view haystack, std::string_view needle, bool foldWidth = false);

// The signed decimal form that error reports carry.
std::string DecimalText(int32_t number);

// True when `text` is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// The text as a terminal shows it and a script splits it: control
// characters (C0, DEL, C1) and bytes that are not UTF-8 are written in the
// notation of `ls --quoting-style=escape` (\t, \n, \r, \a, \b, \f, \v, else
// \ooo per byte), so a line stays one line and a tab-separated field one
// field. With `reversible`, a backslash is doubled as well, so the original
// bytes can be recovered; without, it stays as it is (member names use it
// between folders). Spaces are left alone.
std::string EscapedForOutput(std::string_view text, bool reversible = true);

// Writes every byte `keep` refuses (given the byte and its position) as "%XX",
// upper-case hex: names that must survive as a file name or a record field.
std::string PercentEncode(std::string_view text, bool (*keep)(unsigned char c, std::size_t at));

// The bytes behind the "%XX" escapes; nothing when an escape is cut short or
// is not hex.
std::optional<std::string> PercentDecode(std::string_view text);

}  // namespace zr::rt
