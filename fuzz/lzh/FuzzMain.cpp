#include <cstddef>
#include <cstdint>

#include "fuzz/lzh/ExtractFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zr::lzh::fuzz::ExtractOnce(data, size);
  return 0;
}
