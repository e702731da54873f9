// An extraction begun ahead: taken only by the same request on the same
// file, dropped without a trace otherwise, and never replacing anything itself.
// And the version check's throwaway copy, which nothing flushes.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "platform/lzh/Extract.h"
#include "platform/runtime/RuntimeError.h"
#include "tests/lzh/LzhTestSupport.h"
#include "tests/support/TempDir.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::lzh::test {
namespace {

namespace w = zr::lzh::writer;
using zr::test::ReadFile;
using zr::test::TempDir;
using zr::test::WriteFile;

const std::vector<std::string> kTemplates = {"Work\\ZrBunsyo.wf6", "Work\\ZrTuBun.wf6"};

// Calls through to the system; tells when both copies ahead are flushed, the
// last thing the decoding does before they are closed.
class WatchedOps : public ScriptedOps {
 public:
  WatchedOps() {
    before = [this](Op op, int index, const char*, int) {
      if (op == Op::Fsync && index == 1) flushed_.set_value();
    };
  }
  void WaitForBothFlushed() {
    ASSERT_EQ(flushed_.get_future().wait_for(std::chrono::minutes(2)), std::future_status::ready);
  }

 private:
  std::promise<void> flushed_;
};

struct ReadAheadTest : ::testing::Test {
  ReadAheadTest() {
    fs::create_directories(data / "Work");
    WriteFile(data / "Work/ZrBunsyo.wf6", "old first");
    WriteFile(data / "Work/ZrTuBun.wf6", "old second");
    WriteArchive(archive, "new");
  }
  ~ReadAheadTest() override { DropReadAhead(); }

  // -lh0- keeps the bytes as written, so one flipped byte is a CRC error.
  static void WriteArchive(const fs::path& path, const std::string& tag) {
    w::WriteArchiveFile(path.string(), {w::MakeMember("Data\\ZrXXComn.wf6", "common " + tag),
                                        w::MakeMember(kTemplates[0], tag + " first " + std::string(5000, 'b')),
                                        w::MakeMember(kTemplates[1], tag + " second " + std::string(3000, 't'))});
  }
  int Extract() { return ExtractMembers(archive, data.string(), Mode::KeepFolders, kTemplates); }
  std::string First() const { return ReadFile(data / "Work/ZrBunsyo.wf6").substr(0, 9); }
  std::string Second() const { return ReadFile(data / "Work/ZrTuBun.wf6").substr(0, 10); }

  TempDir dir;
  fs::path data = dir.path() / "data";
  fs::path archive = dir.path() / "a.lzh";
};

TEST_F(ReadAheadTest, TheSameRequestTakesTheCopiesDecodedAhead) {
  WatchedOps ops;
  ScopedOps scope(ops);
  ReadAheadMembers(archive, data.string(), Mode::KeepFolders, kTemplates);
  ops.WaitForBothFlushed();
  EXPECT_EQ(First(), "old first") << "nothing is replaced ahead";

  EXPECT_EQ(0, Extract());
  EXPECT_EQ(First(), "new first");
  EXPECT_EQ(Second(), "new second");
  EXPECT_TRUE(Leftovers(data).empty());
  EXPECT_EQ(ops.counts[Op::Open], 2) << "the archive and the folder, opened once, ahead";
}

TEST_F(ReadAheadTest, DroppedItLeavesTheFolderAsItWas) {
  const Tree before = Snapshot(data);
  WatchedOps ops;
  ScopedOps scope(ops);
  ReadAheadMembers(archive, data.string(), Mode::KeepFolders, kTemplates);
  ops.WaitForBothFlushed();
  DropReadAhead();
  EXPECT_EQ(Snapshot(data), before);
}

TEST_F(ReadAheadTest, AnotherExtractionIntoTheFolderDropsItRatherThanWaitOnIt) {
  WatchedOps ops;
  ScopedOps scope(ops);
  ReadAheadMembers(archive, data.string(), Mode::KeepFolders, kTemplates);
  ops.WaitForBothFlushed();
  EXPECT_EQ(0, ExtractMembers(archive, data.string(), Mode::BareName, {"Data\\ZrXXComn.wf6"}));
  EXPECT_EQ(ReadFile(data / "ZrXXComn.wf6"), "common new");
  EXPECT_EQ(First(), "old first");
  EXPECT_TRUE(Leftovers(data).empty());
}

TEST_F(ReadAheadTest, AnArchiveReplacedMeanwhileIsExtractedAfresh) {
  WatchedOps ops;
  ScopedOps scope(ops);
  ReadAheadMembers(archive, data.string(), Mode::KeepFolders, kTemplates);
  ops.WaitForBothFlushed();
  WriteArchive(dir.path() / "b.lzh", "NEW");
  fs::rename(dir.path() / "b.lzh", archive);
  EXPECT_EQ(0, Extract());
  EXPECT_EQ(First(), "NEW first");
  EXPECT_EQ(Second(), "NEW second");
  EXPECT_TRUE(Leftovers(data).empty());
}

TEST_F(ReadAheadTest, ADamagedMemberAheadIsReportedByTheRequestAndReplacesNothing) {
  std::string bytes = ReadFile(archive);
  bytes[bytes.size() - 100] ^= 0x20;  // inside the second template's data
  WriteFile(archive, bytes);
  const Tree before = Snapshot(data);
  ReadAheadMembers(archive, data.string(), Mode::KeepFolders, kTemplates);
  EXPECT_THROW(Extract(), rt::RuntimeError);
  EXPECT_EQ(Snapshot(data), before);
}

TEST_F(ReadAheadTest, AThrowawayCopyIsNeverFlushed) {
  ScriptedOps ops;
  ScopedOps scope(ops);
  ExtractOptions throwaway;
  throwaway.flush = false;
  EXPECT_EQ(0, ExtractMembers(archive, dir.folder(), Mode::BareName, {"Data\\ZrXXComn.wf6"}, throwaway));
  EXPECT_EQ(ReadFile(dir.path() / "ZrXXComn.wf6"), "common new");
  EXPECT_EQ(ops.counts[Op::Fsync], 0);
  EXPECT_EQ(0, Extract());
  EXPECT_GE(ops.counts[Op::Fsync], 3) << "both templates and the folders they are renamed in";
}

}  // namespace
}  // namespace zr::lzh::test
