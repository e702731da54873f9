#pragma once

namespace zr::startup {

// The folder separator of locations, sub-folder names and member paths as
// the tool joins them. The suite on Windows writes "\".
inline constexpr const char* kSep = "/";
inline constexpr char kSepChar = '/';

}  // namespace zr::startup
