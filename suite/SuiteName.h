#pragma once

namespace zr::suite {

// The suite's name as its users know it: the title of the tool's message
// boxes and the start of its window caption.
inline constexpr const char* kSuiteName = "あおば！ナビ";

}  // namespace zr::suite
