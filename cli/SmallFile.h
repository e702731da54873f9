#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The small files the command line keeps for itself in the suite home. Every
// call goes through the file-operation seam, so tests and crash recorders see
// them.
namespace zr::cli {

// The whole of `file` when it is a regular file (not a link) of at most
// `limit` bytes; nullopt when it is missing, of another kind, larger, or
// cannot be read: such a file is input the program did not just write.
std::optional<std::string> ReadSmallFile(const std::filesystem::path& file, std::size_t limit);

// Replaces `file` with `content`, whole or not at all, also across a crash or
// power loss, through the replacement engine; the file is readable by its
// owner only. A failure is a run-time error; nothing of ours is left.
void WriteWholeFile(const std::filesystem::path& file, std::string_view content);

}  // namespace zr::cli
