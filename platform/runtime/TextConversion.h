#pragma once

#include <iconv.h>

#include <optional>
#include <string>
#include <string_view>

// Conversion between character sets, for the places where text arrives in
// or must leave in a code page other than UTF-8 (settings files, archive
// member names, Jet 3 passwords).
namespace zr::rt {

// Japanese Windows text. Always this name, never "SJIS": glibc's Shift_JIS
// turns 0x5C into a yen sign, and Windows paths are full of 0x5C.
inline constexpr const char* kCp932 = "CP932";
inline constexpr const char* kUtf8 = "UTF-8";

// One reusable converter between two character sets (iconv names). Each
// Convert starts from the initial shift state. Not thread-safe.
class TextConverter {
 public:
  TextConverter(const std::string& from, const std::string& to);
  ~TextConverter();
  TextConverter(const TextConverter&) = delete;
  TextConverter& operator=(const TextConverter&) = delete;

  // False when the system knows no such conversion.
  bool Usable() const;

  // All of `bytes` in the target character set; nothing when any part of it
  // is malformed in the source or has no form in the target, or when the
  // converter is not usable.
  std::optional<std::string> Convert(std::string_view bytes);

 private:
  iconv_t cd_;
};

// One conversion with a converter of its own.
std::optional<std::string> ConvertText(std::string_view bytes, const std::string& from, const std::string& to);

}  // namespace zr::rt
