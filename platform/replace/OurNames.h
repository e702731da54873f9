#pragma once

// The names of the files the replacement makes beside the user's, and how to recognise them.
#include <string>
#include <string_view>

namespace zr::replace {

inline constexpr std::string_view kTempPrefix = ".zrtmp-";     // a staged copy
inline constexpr std::string_view kBackupPrefix = ".zrold-";   // the replaced file, kept until the end
inline constexpr std::string_view kRecordPrefix = ".zrplan-";  // the intent record of one replacement

// `prefix` followed by twelve random lowercase hexadecimal digits.
std::string NewName(std::string_view prefix);

// Exactly `prefix` and twelve lowercase hexadecimal digits: nothing a user
// or another program is likely to have named that way.
bool IsOurName(std::string_view name, std::string_view prefix);

// Any of the three.
bool IsAnyOurName(std::string_view name);

}  // namespace zr::replace
