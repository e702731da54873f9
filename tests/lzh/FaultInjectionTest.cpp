// Every file operation of a two-member extraction made to fail in turn:
// the error is raised with the right number, each target is untouched or
// complete (and all of them alike), and no temporary file remains.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/lzh/ArchiveIndex.h"
#include "platform/lzh/Extract.h"
#include "platform/runtime/RuntimeError.h"
#include "tests/lzh/LzhTestSupport.h"
#include "tests/support/TempDir.h"

namespace zr::lzh::test {
namespace {

using zr::test::ReadFile;
using zr::test::TempDir;
using zr::test::WriteFile;

const std::vector<std::string> kMembers = {"Work\\ZrBunsyo.wf6", "Work\\ZrTuBun.wf6"};

struct Outcome {
  int number = 0;
  std::string description;
  int oldFiles = 0;
  int newFiles = 0;
  std::vector<std::string> leftovers;
  bool otherFiles = false;
};

Outcome Extract(ScriptedOps& ops) {
  TempDir dir;
  const fs::path out = dir.path() / "data";
  WriteFile(out / "Work/ZrBunsyo.wf6", "old bunsyo");
  WriteFile(out / "Work/ZrTuBun.wf6", "old tubun");
  Outcome o;
  {
    // Every run walks the archive, so each one makes the same calls.
    ForgetIndex();
    ScopedOps scoped(ops);
    try {
      ExtractMembers(FixturePath("lh5_h2.lzh"), out, Mode::KeepFolders, kMembers);
    } catch (const rt::RuntimeError& e) {
      o.number = e.number();
      o.description = e.description();
    }
  }
  for (const auto& [name, old] :
       {std::pair<std::string, std::string>{"ZrBunsyo.wf6", "old bunsyo"}, {"ZrTuBun.wf6", "old tubun"}}) {
    const std::string now = ReadFile(out / "Work" / name);
    if (now == old) {
      ++o.oldFiles;
    } else if (now == FixtureContent("Work/" + name)) {
      ++o.newFiles;
    }
  }
  o.leftovers = Leftovers(out);
  o.otherFiles = Snapshot(out).size() != 3;
  return o;
}

int Expected(int errnum) {
  switch (errnum) {
    case ENOSPC:
      return rt::err::DiskFull;
    case EACCES:
      return rt::err::PermissionDenied;
    default:
      return rt::err::PathFileAccess;
  }
}

TEST(LzhFaults, EveryFailingFileOperationLeavesTargetsWholeAndNoTemporaryFiles) {
  ScriptedOps counting;
  counting.syncForReal = false;
  const Outcome clean = Extract(counting);
  ASSERT_EQ(0, clean.number);
  ASSERT_EQ(2, clean.newFiles);
  ASSERT_GE(counting.counts[Op::Write], 2);
  ASSERT_EQ(3, counting.counts[Op::RenameAt]) << "both copies and their record";
  ASSERT_GE(counting.counts[Op::Fsync], 3) << "both copies and their folder";

  int runs = 0;
  for (const auto& [op, count] : counting.counts) {
    // Clean-up calls and the ownership hand-over are allowed to fail quietly.
    if (op == Op::UnlinkAt || op == Op::Fchown || op == Op::Close) continue;
    for (int index = 0; index < count; ++index) {
      for (int errnum : {ENOSPC, EIO, EACCES}) {
        SCOPED_TRACE(std::string(OpName(op)) + " #" + std::to_string(index) + " errno " + std::to_string(errnum));
        ScriptedOps ops;
        ops.syncForReal = false;
        ops.FailAt(op, index, errnum);
        const Outcome o = Extract(ops);
        ++runs;
        ASSERT_TRUE(ops.failed);
        EXPECT_TRUE(o.leftovers.empty()) << o.leftovers.front();
        EXPECT_FALSE(o.otherFiles);
        EXPECT_EQ(2, o.oldFiles + o.newFiles) << "a target is torn";
        if (o.number == 0) {
          EXPECT_TRUE(op == Op::Flock || op == Op::Fstatfs) << "only the lock and the file system query are optional";
          EXPECT_EQ(2, o.newFiles);
        } else {
          EXPECT_EQ(Expected(errnum), o.number);
          // Past the renames only a flush can fail; then both are new, and the error says so.
          const bool replaced = o.description.find("置き換えましたが") != std::string::npos;
          EXPECT_EQ(replaced ? 2 : 0, o.newFiles) << o.description;
        }
      }
    }
  }
  EXPECT_GT(runs, 60);
}

TEST(LzhFaults, ASecondRenameFailingPutsTheFirstTargetBack) {
  ScriptedOps ops;
  ops.syncForReal = false;
  ops.FailAt(Op::RenameAt, 1, EIO);
  const Outcome o = Extract(ops);
  EXPECT_EQ(rt::err::PathFileAccess, o.number);
  EXPECT_EQ(2, o.oldFiles);
  EXPECT_TRUE(o.leftovers.empty());
}

TEST(LzhFaults, ClosingTheCopyFailingIsAWriteError) {
  ScriptedOps counting;
  counting.syncForReal = false;
  int firstTempClose = -1;
  int closes = 0;
  counting.before = [&](Op op, int index, const char*, int) {
    if (op == Op::Fsync && firstTempClose < 0) firstTempClose = closes;
    if (op == Op::Close) closes = index + 1;
  };
  ASSERT_EQ(0, Extract(counting).number);
  ScriptedOps ops;
  ops.syncForReal = false;
  ops.FailAt(Op::Close, firstTempClose, EIO);
  const Outcome o = Extract(ops);
  EXPECT_EQ(rt::err::PathFileAccess, o.number);
  EXPECT_EQ(2, o.oldFiles);
  EXPECT_TRUE(o.leftovers.empty());
}

}  // namespace
}  // namespace zr::lzh::test
