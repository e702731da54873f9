// A restore and an undo killed at each of their changes in turn, each followed by the next start's recovery.
#include "tests/restore/KillEverywhere.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "platform/lzh/Extract.h"
#include "platform/replace/Journal.h"
#include "restore/History.h"
#include "restore/Undo.h"
#include "suite/Templates.h"
#include "suite/local/DataFolderRecovery.h"
#include "tests/support/ForeignFileSystem.h"
#include "tests/support/ScriptedOps.h"
#include "tests/support/TempDir.h"
#include "tools/demo/DemoBackups.h"

namespace zr::test {
namespace {

namespace fs = std::filesystem;

std::string DataOf(const RealSuite& suite) { return suite.data().string() + "/"; }

// Kills the child just before its n-th change to the disk; true when it got that far.
bool DiesAt(int n, bool foreign, const std::function<void()>& work) {
  const pid_t child = fork();
  if (child == 0) {
    ScriptedOps ops;
    ForeignFileSystem shown(ops);
    ops.syncForReal = false;
    int changes = 0;
    ops.before = [&](Op op, int, const char*, int) {
      if (op == Op::Pread || op == Op::Read || op == Op::Fstat || op == Op::FstatAt || op == Op::Fstatfs ||
          op == Op::Flock) {
        return;
      }
      if (changes++ == n) raise(SIGKILL);
    };
    rt::InstallFileOps(foreign ? static_cast<rt::FileOps*>(&shown) : &ops);
    try {
      work();
    } catch (...) {
      _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0) << "status " << status;
  return WIFSIGNALED(status);
}

void RecoverAsTheNextStart(bool foreign) {
  rt::FileOps plain;
  ForeignFileSystem remounted(plain);
  ScopedOps ops(foreign ? static_cast<rt::FileOps&>(remounted) : plain);
  suite::RecoverDataFolder();
}

}  // namespace

std::string LivePair(const RealSuite& suite) {
  auto read = [&](const char* f) { return fs::exists(suite.data() / f) ? ReadFile(suite.data() / f) : "-"; };
  return read("Work/ZrBunsyo.wf6") + "|" + read("Work/ZrTuBun.wf6");
}

void RestoreDemo(const RealSuite& suite, const std::string& label) {
  const fs::path archive = suite.backups() / (label + ".lzh");
  if (!fs::exists(archive)) demo::WriteBackupArchive(archive, {"9.2.0", true, false, label});
  auto entry = restore::PendingHistoryEntry::Record(suite.history(), DataOf(suite), archive.string(), "10.0.0", false);
  replace::JournalScope scope(entry.journal(), entry.token());
  ASSERT_EQ(0, lzh::ExtractMembers(archive.string(), DataOf(suite), lzh::Mode::KeepFolders, suite::kTemplateMembers));
}

std::vector<std::string> OursLeft(const RealSuite& suite) {
  std::vector<std::string> found;
  for (const fs::path& root : {suite.data(), suite.history()}) {
    if (!fs::exists(root)) continue;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      const std::string name = e.path().filename().string();
      if (name.starts_with(".zr") || name.starts_with(".pending-") || name.starts_with(".pruned-"))
        found.push_back(e.path().string());
    }
  }
  return found;
}

KillCounts KillAtEveryChange(const RealSuite& suite, bool foreign) {
  using restore::ListHistory;
  KillCounts counts;
  // Starts from the live pair of the demo, with one restore done for an undo.
  auto begin = [&](bool undo) {
    fs::remove_all(suite.history());
    demo::WriteLiveTemplates(suite.data());
    if (undo) RestoreDemo(suite, "first");
  };
  for (const bool undo : {false, true}) {
    begin(undo);
    const std::string start = LivePair(suite);
    undo ? restore::PutBack(suite.history(), ListHistory(suite.history()).front(), DataOf(suite))
         : RestoreDemo(suite, "second");
    const std::string done = LivePair(suite);
    EXPECT_NE(start, done);
    for (int n = 0;; ++n) {
      SCOPED_TRACE((undo ? "undo killed at change " : "restore killed at change ") + std::to_string(n));
      begin(undo);
      const auto entries = ListHistory(suite.history());
      const bool died = DiesAt(n, foreign, [&] {
        undo ? restore::PutBack(suite.history(), entries.front(), DataOf(suite)) : RestoreDemo(suite, "second");
      });
      RecoverAsTheNextStart(foreign);
      const std::string after = LivePair(suite);
      const auto now = ListHistory(suite.history());
      const auto left = OursLeft(suite);
      EXPECT_TRUE(left.empty()) << left.front();
      if (after == start) {
        EXPECT_EQ(entries.size(), now.size()) << "an entry for a change that did not happen";
      } else {
        EXPECT_EQ(done, after) << "a mixed or torn pair";
        EXPECT_EQ(entries.size() + 1, now.size()) << "a change without its way back";
        if (now.size() == entries.size() + 1) {
          EXPECT_EQ(start, ReadFile(now.front().folder / "Work/ZrBunsyo.wf6") + "|" +
                               ReadFile(now.front().folder / "Work/ZrTuBun.wf6"));
        }
      }
      if (!died || ::testing::Test::HasFailure()) break;
      ++(undo ? counts.undos : counts.restores);
    }
  }
  return counts;
}

}  // namespace zr::test
