#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

// The suite's error log: one tab-separated UTF-8 line per entry.
namespace zr::suite {

// A text made safe for one field of a log line. Backslash, tab, CR and LF
// become \\, \t, \r and \n; other control characters and bytes that are not
// UTF-8 become \xNN. Every escape starts with a backslash, so the original
// can always be recovered.
std::string EscapeLogField(std::string_view text);

// Local time in ISO 8601 with the offset from UTC, e.g. 2024-04-01T09:30:00+09:00.
std::string IsoLocalTime(std::time_t when);

// Appends one entry to `logFile`, creating the file and its folders when
// missing. The line is written in a single write and is on its way to the
// disk when this returns; a failure is a run-time error.
void AppendErrorLog(const std::filesystem::path& logFile, std::string_view name, std::string_view procedureName,
                    std::string_view entry, int32_t info);

}  // namespace zr::suite
