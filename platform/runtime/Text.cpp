#include "Text.h"

namespace zr::rt {
namespace {

constexpr std::string_view kFullWidthBlank = "\u3000";

}  // namespace

char32_t NextCodePoint(std::string_view s, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(s[pos]);
  int length = 1;
  char32_t cp = lead;
  if (lead >= 0xC0 && lead < 0xE0) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    length = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead < 0xF8) {
    length = 4;
    cp = lead & 0x07;
  }
  if (length == 1 || pos + length > s.size()) {
    ++pos;
    return lead;
  }
  for (int i = 1; i < length; ++i) {
    const auto c = static_cast<unsigned char>(s[pos + i]);
    if ((c & 0xC0) != 0x80) {
      ++pos;
      return lead;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  pos += length;
  return cp;
}

namespace {

char32_t Fold(char32_t cp, bool foldWidth) {
  if (foldWidth && cp >= 0xFF01 && cp <= 0xFF5E) cp -= 0xFEE0;  // full-width ASCII block
  if (cp >= 'A' && cp <= 'Z') return cp + ('a' - 'A');
  if (cp >= 0xFF21 && cp <= 0xFF3A) return cp + (0xFF41 - 0xFF21);
  return cp;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool Utf8ToUtf16(std::string_view text, std::u16string& out) {
  out.clear();
  if (!IsValidUtf8(text)) return false;
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t cp = NextCodePoint(text, pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return true;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view units, LoneSurrogate lone) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t cp = units[i];
    const bool high = cp >= 0xD800 && cp <= 0xDBFF;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (lone == LoneSurrogate::Reject) return std::nullopt;
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::u16string Utf16LeUnits(std::string_view bytes) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  }
  return units;
}

std::u32string FoldedForComparison(std::string_view text, bool foldWidth) {
  std::u32string out;
  for (std::size_t pos = 0; pos < text.size();) out.push_back(Fold(NextCodePoint(text, pos), foldWidth));
  return out;
}

std::string Trim(std::string_view text) {
  bool changed = true;
  while (changed && !text.empty()) {
    changed = false;
    if (text.front() == ' ') {
      text.remove_prefix(1);
      changed = true;
    } else if (text.starts_with(kFullWidthBlank)) {
      text.remove_prefix(kFullWidthBlank.size());
      changed = true;
    }
    if (text.empty()) break;
    if (text.back() == ' ') {
      text.remove_suffix(1);
      changed = true;
    } else if (text.ends_with(kFullWidthBlank)) {
      text.remove_suffix(kFullWidthBlank.size());
      changed = true;
    }
  }
  return std::string(text);
}

bool EndsWith(std::string_view text, std::string_view suffix) { return text.ends_with(suffix); }

bool EqualsIgnoreCase(std::string_view a, std::string_view b, bool foldWidth) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (Fold(NextCodePoint(a, i), foldWidth) != Fold(NextCodePoint(b, j), foldWidth)) return false;
  }
  return i == a.size() && j == b.size();
}

std::size_t FindIgnoreCase(std::string_view haystack, std::string_view needle, bool foldWidth) {
  for (std::size_t start = 0; start <= haystack.size(); ++start) {
    // Only start on a code point boundary.
    if (start < haystack.size() && (static_cast<unsigned char>(haystack[start]) & 0xC0) == 0x80) continue;
    std::size_t i = start;
    std::size_t j = 0;
    bool match = true;
    while (j < needle.size()) {
      if (i >= haystack.size()) {
        match = false;
        break;
      }
      if (Fold(NextCodePoint(haystack, i), foldWidth) != Fold(NextCodePoint(needle, j), foldWidth)) {
        match = false;
        break;
      }
    }
    if (match) return start;
  }
  return std::string_view::npos;
}

std::string DecimalText(int32_t number) { return std::to_string(number); }

bool IsValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
      ++pos;
      continue;
    }
    int length = 0;
    char32_t min = 0;
    if (lead >= 0xC2 && lead < 0xE0) {
      length = 2;
      min = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      length = 3;
      min = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF5) {
      length = 4;
      min = 0x10000;
    } else {
      return false;
    }
    if (pos + length > text.size()) return false;
    std::size_t next = pos;
    const char32_t cp = NextCodePoint(text, next);
    if (next != pos + static_cast<std::size_t>(length)) return false;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    pos = next;
  }
  return true;
}

std::string EscapedForOutput(std::string_view text, bool reversible) {
  std::string out;
  out.reserve(text.size());
  auto octal = [&out](unsigned char c) {
    out += '\\';
    out += static_cast<char>('0' + (c >> 6));
    out += static_cast<char>('0' + ((c >> 3) & 7));
    out += static_cast<char>('0' + (c & 7));
  };
  for (std::size_t pos = 0; pos < text.size();) {
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c >= 0x80) {
      std::size_t next = pos;
      const char32_t cp = NextCodePoint(text, next);
      const bool wellFormed = next > pos + 1 && IsValidUtf8(text.substr(pos, next - pos));
      if (wellFormed && cp > 0x9F) {
        out.append(text.substr(pos, next - pos));
        pos = next;
      } else if (wellFormed) {
        for (; pos < next; ++pos) octal(static_cast<unsigned char>(text[pos]));
      } else {
        octal(c);
        ++pos;
      }
      continue;
    }
    ++pos;
    static constexpr std::string_view kNamed = "\\a\\b\\t\\n\\v\\f\\r";
    if (c >= 0x07 && c <= 0x0D) {
      out += kNamed.substr((c - 0x07) * 2, 2);
    } else if (c < 0x20 || c == 0x7F) {
      octal(c);
    } else if (c == '\\' && reversible) {
      out += "\\\\";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string PercentEncode(std::string_view text, bool (*keep)(unsigned char c, std::size_t at)) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (keep(c, i)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 0x0F];
    }
  }
  return out;
}

std::optional<std::string> PercentDecode(std::string_view text) {
  auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hex(text[i + 1]);
    const int low = hex(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

}  // namespace zr::rt
