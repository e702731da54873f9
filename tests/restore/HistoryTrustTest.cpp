// The history trusts only what it wrote: entries count once their change has
// committed, in the order they happened whatever the clock and the zone say,
// an undo puts back exactly the recorded state, and an entry holding
// anything else is refused. A kill at any step leaves no phantom entry and no
// mixed pair after the next start.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>

#include "platform/lzh/Extract.h"
#include "platform/replace/Journal.h"
#include "platform/runtime/RuntimeError.h"
#include "restore/History.h"
#include "restore/Undo.h"
#include "suite/Templates.h"
#include "suite/local/DataFolderRecovery.h"
#include "tests/restore/KillEverywhere.h"
#include "tests/restore/RealSuite.h"
#include "tests/support/ScriptedOps.h"
#include "tests/support/TempDir.h"
#include "tools/demo/DemoBackups.h"

namespace zr::restore {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

class HistoryTrustTest : public ::testing::Test {
 protected:
  HistoryTrustTest() { demo::WriteLiveTemplates(suite.data()); }

  std::string Data() const { return suite.data().string() + "/"; }
  std::string Pair() const { return test::LivePair(suite); }
  void Restore(const std::string& label) { test::RestoreDemo(suite, label); }
  std::vector<std::string> Ours() const { return test::OursLeft(suite); }

  test::RealSuite suite;
};

TEST_F(HistoryTrustTest, OrderFollowsWhatHappenedNotTheClockOrTheZone) {
  // An entry of an earlier version that claims a time far ahead.
  WriteFile(suite.history() / "20991231-235959/restore.ini", "[RESTORE]\ntime=2099-12-31 23:59:59\narchive=old\n");
  std::vector<std::string> before;
  const char* zones[] = {"Asia/Tokyo", "America/Los_Angeles", "UTC"};
  const char* saved = std::getenv("TZ");
  for (int i = 1; i <= 6; ++i) {
    setenv("TZ", zones[i % 3], 1);
    tzset();
    before.push_back(Pair());
    Restore("r" + std::to_string(i));
    // As if the clock had been a year ahead when this entry was made and set back since.
    const auto newest = ListHistory(suite.history()).front();
    std::string text = ReadFile(newest.folder / "restore.ini");
    text.replace(text.find("time=") + 5, 4, "2027");
    WriteFile(newest.folder / "restore.ini", text);
    PruneHistory(suite.history());
  }
  saved != nullptr ? setenv("TZ", saved, 1) : unsetenv("TZ");
  tzset();
  const auto entries = ListHistory(suite.history());
  ASSERT_EQ(kHistoryKept, entries.size());
  for (std::size_t k = 0; k < entries.size(); ++k) {
    EXPECT_EQ((suite.backups() / ("r" + std::to_string(6 - k) + ".lzh")).string(), entries[k].archive) << k;
  }
  PutBack(suite.history(), entries.front(), Data());
  EXPECT_TRUE(before.back() == Pair()) << "the undo takes back the last restore";
}

TEST_F(HistoryTrustTest, UndoPutsBackExactlyTheRecordedPairAndKeepsNoLinkToALiveFile) {
  fs::remove(suite.data() / "Work/ZrTuBun.wf6");
  const std::string before = Pair();
  Restore("one");
  const std::string restored = Pair();
  ASSERT_EQ(std::string::npos, restored.find("|-"));
  PutBack(suite.history(), ListHistory(suite.history()).front(), Data());
  EXPECT_TRUE(before == Pair()) << "the template that was not there goes again";
  auto entries = ListHistory(suite.history());
  ASSERT_EQ(2u, entries.size());
  EXPECT_TRUE(entries.front().fromUndo);
  PutBack(suite.history(), entries.front(), Data());
  EXPECT_TRUE(restored == Pair()) << "the undo's own entry undoes it";
  struct stat live {};
  ASSERT_EQ(0, stat((suite.data() / "Work/ZrBunsyo.wf6").c_str(), &live));
  for (const auto& e : fs::recursive_directory_iterator(suite.history())) {
    struct stat kept {};
    ASSERT_EQ(0, lstat(e.path().c_str(), &kept));
    EXPECT_FALSE(kept.st_ino == live.st_ino && kept.st_dev == live.st_dev) << e.path() << " is the live file";
  }
  EXPECT_TRUE(Ours().empty());
}

TEST_F(HistoryTrustTest, AnEntryHoldingAnythingElseIsRefusedAndNothingChanges) {
  const fs::path outside = suite.home() / "other-user-file";
  WriteFile(outside, "someone else's");
  const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> plants = {
      {"a template that is a link",
       [&](const fs::path& e) {
         fs::remove(e / "Work/ZrBunsyo.wf6");
         fs::create_symlink(outside, e / "Work/ZrBunsyo.wf6");
       }},
      {"a template that is a FIFO",
       [](const fs::path& e) {
         fs::remove(e / "Work/ZrTuBun.wf6");
         ASSERT_EQ(0, mkfifo((e / "Work/ZrTuBun.wf6").c_str(), 0600));
       }},
      {"a Work folder that is a link",
       [&](const fs::path& e) {
         fs::rename(e / "Work", suite.home() / "elsewhere");
         fs::create_directory_symlink(suite.home() / "elsewhere", e / "Work");
       }},
      {"a record far too large",
       [](const fs::path& e) {
         WriteFile(e / "restore.ini", ReadFile(e / "restore.ini") + std::string(100 * 1024, '#'));
       }},
      {"a record that is a link",
       [&](const fs::path& e) {
         fs::rename(e / "restore.ini", suite.home() / "ini");
         fs::create_symlink(suite.home() / "ini", e / "restore.ini");
       }},
  };
  for (const auto& [what, plant] : plants) {
    SCOPED_TRACE(what);
    fs::remove_all(suite.history());
    fs::remove_all(suite.home() / "elsewhere");
    Restore("plain");
    plant(ListHistory(suite.history()).front().folder);
    const std::string live = Pair();
    const auto newest = ListHistory(suite.history()).front();
    try {
      PutBack(suite.history(), newest, Data());
      ADD_FAILURE() << "put back from " << what;
    } catch (const rt::RuntimeError& e) {
      EXPECT_NE(std::string::npos, e.description().find("戻せません")) << e.description();
    }
    EXPECT_TRUE(live == Pair());
    EXPECT_EQ(1u, ListHistory(suite.history()).size()) << "no entry for an undo that did not happen";
    EXPECT_EQ("someone else's", ReadFile(outside));
    EXPECT_TRUE(Ours().empty());
  }
}

TEST_F(HistoryTrustTest, AFlushErrorAfterTheSwapKeepsTheWayBackOfARestoreAndOfAnUndo) {
  for (const bool undo : {false, true}) {
    SCOPED_TRACE(undo ? "undo" : "restore");
    fs::remove_all(suite.history());
    demo::WriteLiveTemplates(suite.data());
    if (undo) Restore("first");
    const std::string start = Pair();
    const auto entries = ListHistory(suite.history());
    test::ScriptedOps ops;
    ops.syncForReal = false;
    // The first flush of the data folder after both renames fails.
    bool swapped = false;
    ops.before = [&](test::Op op, int index, const char* name, int) {
      if (op == test::Op::RenameAt && std::string(name) == "ZrTuBun.wf6") swapped = true;
      if (op == test::Op::Fsync && swapped) {
        ops.FailAt(op, index, EIO);
        swapped = false;
      }
    };
    std::string message;
    {
      test::ScopedOps scoped(ops);
      try {
        undo ? PutBack(suite.history(), entries.front(), Data()) : Restore("second");
      } catch (const rt::RuntimeError& e) {
        message = e.description();
      }
    }
    EXPECT_NE(std::string::npos, message.find("置き換えましたが")) << message;
    ASSERT_EQ(entries.size() + 1, ListHistory(suite.history()).size()) << "the way back stays";
    suite::RecoverDataFolder();
    EXPECT_TRUE(Ours().empty());
    EXPECT_TRUE(start != Pair());
    PutBack(suite.history(), ListHistory(suite.history()).front(), Data());
    EXPECT_TRUE(start == Pair()) << "the undo takes back exactly that change";
  }
}

TEST_F(HistoryTrustTest, ValuesStayOnTheirLine) {
  const std::string archive = "/m/a\nundo=1\r\x1b]0;x\x07%41.lzh";
  PendingHistoryEntry::Record(suite.history(), Data(), archive, "10.0.0", false).Keep();
  const auto entry = ListHistory(suite.history()).front();
  EXPECT_EQ(archive, entry.archive);
  EXPECT_FALSE(entry.fromUndo);
}

TEST_F(HistoryTrustTest, NumbersStayInTheirRangeWhateverElseTheHistoryHolds) {
  Restore("first");
  const fs::path first = ListHistory(suite.history()).front().folder;
  // Names no entry of ours has, some holding a whole entry.
  const std::vector<std::string> strays = {"123456789012345678", "999999999", "1234567",
                                           "00000000",           "0000001x",  ".pending-999999999999"};
  for (const std::string& name : strays) fs::copy(first, suite.history() / name, fs::copy_options::recursive);
  Restore("second");
  auto entries = ListHistory(suite.history());
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(2u, entries[0].sequence);
  EXPECT_EQ(1u, entries[1].sequence);
  suite::RecoverDataFolder();
  for (const std::string& name : strays) EXPECT_TRUE(fs::exists(suite.history() / name)) << name;
  fs::remove_all(suite.history() / strays.back());

  // The last number is handed out; after it none is, rather than one that sorts wrongly.
  fs::copy(first, suite.history() / "99999998", fs::copy_options::recursive);
  Restore("third");
  entries = ListHistory(suite.history());
  ASSERT_EQ(4u, entries.size());
  EXPECT_EQ(99999999u, entries[0].sequence);
  EXPECT_EQ((suite.backups() / "third.lzh").string(), entries[0].archive);
  const std::string live = Pair();
  try {
    PendingHistoryEntry::Record(suite.history(), Data(), "/m/a.lzh", "10.0.0", false).Keep();
    ADD_FAILURE() << "an entry past the top";
  } catch (const rt::RuntimeError& e) {
    EXPECT_NE(std::string::npos, e.description().find("上限")) << e.description();
  }
  EXPECT_EQ(4u, ListHistory(suite.history()).size());
  EXPECT_TRUE(live == Pair());
  EXPECT_TRUE(Ours().empty());
}

TEST_F(HistoryTrustTest, PruningKeepsEachKindOnItsOwnAndDiscardTakesOnlyAPendingEntry) {
  // A stray whose record cannot be read, older than everything.
  fs::create_directories(suite.history() / "00000001/Work");
  const fs::path copies = suite.home() / "copies";
  fs::create_directories(copies);
  const auto journal = HistoryJournal(suite.history());
  for (int i = 1; i <= 7; ++i) {
    Restore("r" + std::to_string(i));
    WriteFile(copies / "old", "copy " + std::to_string(i));
    const int fd = open(copies.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    journal->Salvage(fd, {{"old", {}}});
    close(fd);
  }
  PruneHistory(suite.history());
  std::vector<std::string> ordinary;
  std::vector<fs::path> recovered;
  int unreadable = 0;
  for (const HistoryEntry& e : ListHistory(suite.history())) {
    if (!e.problem.empty()) {
      ++unreadable;
    } else if (e.recovered) {
      recovered.push_back(e.folder);
    } else {
      ordinary.push_back(fs::path(e.archive).stem().string());
    }
  }
  EXPECT_EQ((std::vector<std::string>{"r7", "r6", "r5", "r4", "r3"}), ordinary);
  ASSERT_EQ(kHistoryKept, recovered.size());
  EXPECT_EQ("copy 7", ReadFile(recovered.front() / "Work/old"));
  EXPECT_EQ("copy 3", ReadFile(recovered.back() / "Work/old"));
  EXPECT_EQ(1, unreadable);
  EXPECT_TRUE(Ours().empty());

  // A record naming an entry that counts cannot take it away; a pending one goes.
  const auto before = ListHistory(suite.history());
  journal->Discard(before.front().folder.filename().string());
  EXPECT_EQ(before.size(), ListHistory(suite.history()).size());
  auto pending = PendingHistoryEntry::Record(suite.history(), Data(), "/m/a.lzh", "10.0.0", false);
  ASSERT_TRUE(fs::exists(suite.history() / (".pending-" + pending.token())));
  journal->Discard(pending.token());
  EXPECT_FALSE(fs::exists(suite.history() / (".pending-" + pending.token())));
  EXPECT_EQ(before.size(), ListHistory(suite.history()).size());
}

// Also where the data folder is on a file system that shows every file as
// anybody's and writable by all, numbers files anew at every mount and has
// no hard links (FAT, exFAT, NTFS through FUSE, shares).
TEST_F(HistoryTrustTest, KilledAtEveryStepOfARestoreOrAnUndoTheNextStartLeavesNoPhantomAndNoMixedPair) {
  for (const bool foreign : {false, true}) {
    SCOPED_TRACE(foreign ? "shown as a foreign file system" : "as it is");
    const test::KillCounts counts = test::KillAtEveryChange(suite, foreign);
    EXPECT_GT(counts.restores, 10);
    EXPECT_GT(counts.undos, 10);
  }
}

}  // namespace
}  // namespace zr::restore
