// The one header walk: 64-bit sizes near their limits and spans that would
// wrap a position are refused with the fault they are, never followed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/lzh/ArchiveIndex.h"
#include "platform/lzh/Extract.h"
#include "platform/lzh/Members.h"
#include "platform/runtime/RuntimeError.h"
#include "tests/lzh/LzhTestSupport.h"
#include "tests/support/TempDir.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::lzh::test {
namespace {

std::string Outcome(const std::string& corpusFile) {
  const std::string archive = std::string(ZR_SOURCE_DIR) + "/fuzz/lzh/corpus/" + corpusFile;
  zr::test::TempDir dir;
  try {
    const int missing = ExtractMembers(archive, dir.path().string(), Mode::BareName, {"Work\\ZrBunsyo.wf6"});
    return missing == 0 ? "extracted" : "missing";
  } catch (const rt::RuntimeError& e) {
    return e.description();
  }
}

TEST(LzhHeaderWalk, SizesNearTheLimitsAreBoundedAndNeverWrap) {
  const std::string truncated = "ファイルが途中で切れています";
  const std::string badSize = "格納サイズが正しくありません";
  const std::pair<const char*, std::string> cases[] = {
      {"size64-exact-then-member.lzh", "extracted"},
      {"size64-packed-max-signed.lzh", truncated},
      {"size64-packed-one-past-file.lzh", truncated},
      {"size64-level1-max-signed.lzh", truncated},
      {"size64-packed-beyond-signed.lzh", badSize},
      {"size64-packed-all-ones.lzh", badSize},
      {"size64-original-all-ones.lzh", badSize},
      {"size64-span-wraps-position.lzh", badSize},
      {"size64-level1-smaller-than-extensions.lzh", badSize},
      {"size64-original-over-32bit.lzh", "格納サイズが大きすぎます"},
  };
  for (const auto& [file, expected] : cases) {
    const std::string outcome = Outcome(file);
    EXPECT_NE(std::string::npos, outcome.find(expected)) << file << ": " << outcome;
  }
}

TEST(LzhHeaderWalk, AChangedArchiveIsWalkedAgain) {
  zr::test::TempDir dir;
  const fs::path archive = dir.path() / "backup.lzh";
  const std::string whole = zr::test::ReadFile(FixturePath("lh5_h2.lzh"));
  zr::test::WriteFile(archive, whole);
  const std::vector<std::string> members = {"Work\\ZrTuBun.wf6"};
  EXPECT_EQ(0, ExtractMembers(archive, dir.path(), Mode::BareName, members));
  // Rewritten in place, the same size, the wanted member untouched; only a
  // header in front of it is damaged (its time field, under the header CRC).
  std::string damaged = whole;
  damaged[15] ^= 0x55;
  zr::test::WriteFile(archive, damaged);
  const timespec times[2] = {{1, 0}, {1, 0}};
  utimensat(AT_FDCWD, archive.c_str(), times, 0);
  EXPECT_THROW(ExtractMembers(archive, dir.path(), Mode::BareName, members), rt::RuntimeError);
  EXPECT_THROW(MissingMembers(archive, members), rt::RuntimeError);
}

// On a share every read is a round trip: behind small members one read
// brings several headers, and each header's bytes reach the decoder without
// being read again.
TEST(LzhHeaderWalk, SmallMembersShareReadsAndEachHeaderIsReadOnce) {
  zr::test::TempDir dir;
  const fs::path archive = dir.path() / "backup.lzh";
  std::vector<writer::Member> members;
  for (int i = 0; i < 200; ++i) members.push_back(writer::MakeMember("Data/r" + std::to_string(i), "small record"));
  members.push_back(writer::MakeMember("Work/ZrBunsyo.wf6", "the template"));
  writer::WriteArchiveFile(archive, members);
  ScriptedOps ops;
  {
    ScopedOps scoped(ops);
    ASSERT_EQ(0, ExtractMembers(archive, dir.path(), Mode::BareName, {"Work\\ZrBunsyo.wf6"}));
  }
  EXPECT_EQ("the template", zr::test::ReadFile(dir.path() / "ZrBunsyo.wf6"));
  // The walk (its first header, then one 64 KiB read), the found header once, its data once.
  EXPECT_LE(ops.counts[Op::Pread], 4);
}

}  // namespace
}  // namespace zr::lzh::test
