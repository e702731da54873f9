#pragma once

#include <cstddef>
#include <cstdint>

namespace zr::lzh::fuzz {

// Feeds `data` to the extraction as an archive, asking for two members in
// one of the two modes, and aborts if a promise breaks: only run-time errors
// may come out, and a failed or incomplete call leaves nothing behind.
void ExtractOnce(const uint8_t* data, std::size_t size);

}  // namespace zr::lzh::fuzz
