#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The small files the command line keeps for itself in the suite home. Every
// call goes through the extractor's file-operation seam, so tests and crash
// recorders see them; this file is the only place in the command line that
// touches that seam.
namespace zr::cli {

// The whole of `file` when it is a regular file (not a link) of at most
// `limit` bytes; nullopt when it is missing, of another kind, larger, or
// cannot be read: such a file is input the program did not just write.
std::optional<std::string> ReadSmallFile(const std::filesystem::path& file, std::size_t limit);

// Replaces `file` with `content`, whole or not at all, also across a crash or
// power loss: a fresh temporary file beside it (O_EXCL, O_NOFOLLOW, `mode`)
// is written and flushed, renamed over the file, and the folder is flushed.
// A failure is a run-time error naming the file; the temporary file is gone.
void WriteWholeFile(const std::filesystem::path& file, std::string_view content, mode_t mode);

}  // namespace zr::cli
