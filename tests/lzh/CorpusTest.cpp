// The fuzzing corpus replayed in every build: the committed fixtures plus
// whatever inputs fuzzing kept (fuzz/lzh/corpus). Each must leave the
// extraction's promises intact; a breach aborts the test program.
#include <gtest/gtest.h>

#include "fuzz/lzh/ExtractFuzz.h"
#include "tests/lzh/LzhTestSupport.h"
#include "tests/support/TempDir.h"

namespace zr::lzh::test {
namespace {

TEST(LzhCorpus, EveryInputKeepsTheExtractionPromises) {
  int inputs = 0;
  for (const char* folder : {"tests/lzh/fixtures", "fuzz/lzh/corpus"}) {
    const fs::path dir = fs::path(ZR_SOURCE_DIR) / folder;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (!entry.is_regular_file()) continue;
      SCOPED_TRACE(entry.path().string());
      const std::string bytes = zr::test::ReadFile(entry.path());
      fuzz::ExtractOnce(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      // Odd and even lengths take the two modes; a copy one byte longer
      // (a trailing end mark) takes the other.
      const std::string longer = bytes + std::string(1, '\0');
      fuzz::ExtractOnce(reinterpret_cast<const uint8_t*>(longer.data()), longer.size());
      ++inputs;
    }
  }
  EXPECT_GE(inputs, 14);
}

}  // namespace
}  // namespace zr::lzh::test
