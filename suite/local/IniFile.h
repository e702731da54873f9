#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// INI files as the suite writes them on Windows and here: UTF-8 with or
// without a byte order mark, or Shift-JIS (CP932); CRLF, LF or CR line ends.
namespace zr::suite {

// The file's bytes as UTF-8. Bytes that are valid UTF-8 are taken as UTF-8,
// anything else as CP932; text that is neither is run-time error 321 naming
// `fileName`.
std::string DecodeIniText(std::string_view bytes, const std::string& fileName);

// The value of `key` in `section`, both matched without regard to case, or
// empty when either is absent. The first of repeated keys wins, as with the
// Windows profile functions; blanks around the value and one pair of
// enclosing quotes are dropped.
std::string FindIniValue(std::string_view text, std::string_view section, std::string_view key);

// Reads one value from an INI file. A missing file gives an empty value; a
// file that exists but cannot be read or decoded is a run-time error.
std::string ReadIniFileValue(const std::filesystem::path& file, std::string_view section, std::string_view key);

}  // namespace zr::suite
