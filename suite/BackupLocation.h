#pragma once

// How the suite's backup function lays out a backup location: a folder of
// LZH archives under it.
namespace zr::suite {

inline constexpr const char* kBackupFolder = "ZrDataBK";
inline constexpr const char* kArchivePattern = "*.lzh";

}  // namespace zr::suite
