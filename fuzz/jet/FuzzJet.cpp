#include <cstddef>
#include <cstdint>

#include "fuzz/jet/JetFuzzBody.h"

// libmdb explains every damaged page on stderr: run with -close_fd_mask=2.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zr::jet::fuzz::ReadInProcess(data, size);
  return 0;
}
