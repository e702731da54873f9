#pragma once

#include <cstddef>
#include <cstdint>

namespace zr::jet::fuzz {

// The engine's own decoding of an input, without libmdb: page 0, the
// password check, the query form and the child's report format.
void DecodeInProcess(const uint8_t* data, std::size_t size);

// One input, read in this process: page 0 and the password check, then
// libmdb's catalog and the version query. A crash here is a crash the
// engine would suffer if it read in-process.
void ReadInProcess(const uint8_t* data, std::size_t size);

// The same input through the engine as the application uses it; returns
// the run-time error number, or 0 when the query answered.
int32_t ReadThroughEngine(const uint8_t* data, std::size_t size, const char* directory);

}  // namespace zr::jet::fuzz
