#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "fuzz/jet/JetFuzzBody.h"
#include "platform/jet/ReadHelper.h"
#include "tests/support/TempDir.h"

// The fuzzing corpus, replayed in every build: each input goes through the
// engine as the application uses it (libmdb in its helper program) and
// through our own decoding in this process. Inputs that once crashed libmdb
// in-process are among them.
namespace zr::jet {
namespace {

TEST(JetCorpusTest, EveryInputEndsInAnAnswerOrAnEngineError) {
  const std::filesystem::path corpus = std::filesystem::path(ZR_SOURCE_DIR) / "fuzz" / "jet" / "corpus";
  const std::set<int32_t> allowed = {0, 94, 3031, 3061, 3078, 3343};
  zr::test::TempDir dir;
  // Some inputs send libmdb into an endless loop; they need not cost the
  // full deadline each.
  const auto saved = detail::HelperDeadline();
  detail::SetHelperDeadline(std::chrono::seconds(2));
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    const std::string bytes = zr::test::ReadFile(entry.path());
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    fuzz::DecodeInProcess(data, bytes.size());
    const int32_t error = fuzz::ReadThroughEngine(data, bytes.size(), dir.path().c_str());
    EXPECT_TRUE(allowed.count(error)) << entry.path().filename() << " gave " << error;
    ++inputs;
  }
  detail::SetHelperDeadline(saved);
  EXPECT_GE(inputs, 5);
}

}  // namespace
}  // namespace zr::jet
