// Recovery believes only records this program wrote, acts only on the targets
// its caller declares, never rolls back newer work and never deletes an old
// copy on a guess; a flush error after the swap keeps the way back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "platform/replace/IntentRecord.h"
#include "platform/replace/Journal.h"
#include "platform/replace/Recovery.h"
#include "platform/replace/Replacement.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"
#include "tests/replace/ReplaceTestSupport.h"
#include "tests/support/ScriptedOps.h"
#include "tests/support/TempDir.h"

namespace zr::replace::test {
namespace {

namespace fs = std::filesystem;
using zr::test::Op;
using zr::test::ReadFile;
using zr::test::ScopedOps;
using zr::test::ScriptedOps;
using zr::test::TempDir;
using zr::test::WriteFile;

// A journal that keeps its entries in memory and the salvaged copies' bytes.
struct MemoryJournal : Journal {
  std::set<std::string> pending{"1"};
  std::set<std::string> committed;
  std::vector<std::string> salvaged;
  bool Committed(const std::string& token) override { return committed.count(token) != 0; }
  void Commit(const std::string& token) override {
    if (pending.erase(token) != 0) committed.insert(token);
  }
  void Discard(const std::string& token) noexcept override {
    pending.erase(token);
    committed.erase(token);
  }
  void Salvage(int folderFd, const std::vector<OldCopy>& copies) override {
    for (const OldCopy& copy : copies) {
      const int fd = openat(folderFd, copy.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      char buffer[256] = {};
      const ssize_t n = read(fd, buffer, sizeof buffer);
      close(fd);
      salvaged.emplace_back(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
      unlinkat(folderFd, copy.name.c_str(), 0);
    }
  }
  void DropPendingExcept(const std::set<std::string>& keep) noexcept override {
    std::erase_if(pending, [&](const std::string& t) { return keep.count(t) == 0; });
  }
};

struct Folder {
  TempDir dir;
  fs::path data = dir.path() / "data";
  fs::path outside = dir.path() / "outside";
  std::vector<std::string> notes;

  Folder() {
    fs::create_directories(data / "Work");
    fs::create_directories(outside);
    WriteFile(data / "Work/ZrBunsyo.wf6", "old first");
    WriteFile(data / "Work/ZrTuBun.wf6", "old second");
    WriteFile(outside / "victim", "victim");
    InstallRecoveryNotes([this](const std::string& text) { notes.push_back(text); });
  }
  ~Folder() { InstallRecoveryNotes(nullptr); }

  std::string Pair() const { return ReadFile(data / "Work/ZrBunsyo.wf6") + "|" + ReadFile(data / "Work/ZrTuBun.wf6"); }
  std::size_t Ours() const {
    std::size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(data)) n += e.path().filename().string()[0] == '.';
    return n;
  }

  void Replace(ScriptedOps& ops, Journal* journal) {
    ScopedOps scoped(ops);
    ReplacePair(data, journal);
  }

  // The same in a child that kills itself just before the first operation `when` accepts.
  void ReplaceAndDie(const std::function<bool(Op, const char*)>& when, bool noHardLinks = false) {
    const pid_t child = fork();
    if (child == 0) {
      ScriptedOps ops;
      ops.syncForReal = false;
      ops.noHardLinks = noHardLinks;
      ops.before = [&](Op op, int, const char* name, int) {
        if (when(op, name)) raise(SIGKILL);
      };
      MemoryJournal journal;
      try {
        Replace(ops, &journal);
      } catch (...) {
      }
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child was to die midway";
  }
};

bool IsRecord(const char* name) { return name != nullptr && std::strncmp(name, ".zrplan-", 8) == 0; }

std::string Backup(const Folder& f) {
  for (const auto& e : fs::directory_iterator(f.data)) {
    if (e.path().filename().string().starts_with(".zrold-")) return e.path().filename().string();
  }
  return {};
}

TEST(RecoveryTrust, PlantedRecordsChangeNothingOutsideTheDeclaredTargets) {
  struct Case {
    const char* name;
    PathParts target;
    PathParts declaredExtra;
    uid_t owner;
    mode_t mode;
  };
  const uid_t me = geteuid();
  const std::vector<Case> cases = {
      {"a target through a linked folder", {"evil", "victim"}, {"evil", "victim"}, me, 0600},
      {"a target that is not declared", {"Work", "other"}, {}, me, 0600},
      {"a record of another user", kFirst, {}, me + 1, 0600},
      {"a record others may write", kFirst, {}, me, 0622},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Folder f;
    fs::create_directory_symlink(f.outside, f.data / "evil");
    WriteFile(f.data / ".zrold-0123456789ab", "planted");
    struct stat st {};
    ASSERT_EQ(0, stat((f.data / ".zrold-0123456789ab").c_str(), &st));
    const FileIdentity planted = FileIdentity::Of(st);
    ASSERT_EQ(0, stat((f.outside / "victim").c_str(), &st));
    Intent intent;
    intent.entries.push_back({c.target, "", ".zrold-0123456789ab", planted, std::nullopt});
    intent.entries.push_back({c.target, ".zrtmp-0123456789ab", "", std::nullopt, FileIdentity::Of(st)});
    const fs::path record = f.data / ".zrplan-0123456789ab";
    WriteFile(record, EncodeIntent(intent));
    ASSERT_EQ(0, chown(record.c_str(), c.owner, static_cast<gid_t>(-1)));
    ASSERT_EQ(0, chmod(record.c_str(), c.mode));
    RecoveryScope scope{{kFirst, kSecond}, nullptr, false};
    if (!c.declaredExtra.empty()) scope.targets.push_back(c.declaredExtra);
    try {
      RecoverFolder(f.data.string(), scope);
    } catch (const rt::RuntimeError&) {
      // Refusing loudly is as good as refusing quietly; acting is not.
    }
    EXPECT_EQ("victim", ReadFile(f.outside / "victim"));
    EXPECT_EQ("old first|old second", f.Pair());
    EXPECT_EQ("planted", ReadFile(f.data / ".zrold-0123456789ab")) << "an old copy is never deleted on a guess";
    EXPECT_TRUE(fs::exists(record)) << "a record not acted on stays for a person to look at";
  }
}

TEST(RecoveryTrust, AStaleRecordNeverRollsBackAPairEditedSince) {
  for (bool noHardLinks : {false, true}) {
    SCOPED_TRACE(noHardLinks ? "no hard links" : "hard links");
    Folder f;
    // Both renames done, the record not yet removed.
    f.ReplaceAndDie([](Op op, const char* name) { return op == Op::UnlinkAt && IsRecord(name); }, noHardLinks);
    ASSERT_EQ("new first|new second", f.Pair());
    WriteFile(f.data / "Work/ZrBunsyo.wf6", "new first, edited by the suite");
    MemoryJournal journal;
    RecoverFolder(f.data.string(), {{kFirst, kSecond}, &journal, false});
    EXPECT_EQ("new first, edited by the suite|new second", f.Pair());
    std::sort(journal.salvaged.begin(), journal.salvaged.end());
    EXPECT_EQ((std::vector<std::string>{"old first", "old second"}), journal.salvaged) << "the way back is kept";
    EXPECT_EQ(0u, f.Ours());
  }
}

TEST(RecoveryTrust, AnUnreadableRecordDeletesNoOldCopy) {
  Folder f;
  // As a record cut short beside a backup that is the only copy of the old file.
  WriteFile(f.data / "Work/ZrBunsyo.wf6", "new first");
  WriteFile(f.data / ".zrold-0123456789ab", "old first");
  WriteFile(f.data / ".zrplan-0123456789ab", "zr-replace 2\nj\t1\n");
  ASSERT_EQ(0, chmod((f.data / ".zrplan-0123456789ab").c_str(), 0600));
  RecoverFolder(f.data.string(), {{kFirst, kSecond}, nullptr, false});
  EXPECT_EQ("old first", ReadFile(f.data / ".zrold-0123456789ab")) << "no journal: it stays where it is";
  EXPECT_FALSE(f.notes.empty());

  MemoryJournal journal;
  RecoverFolder(f.data.string(), {{kFirst, kSecond}, &journal, false});
  EXPECT_EQ(std::vector<std::string>{"old first"}, journal.salvaged);
  EXPECT_EQ("new first|old second", f.Pair()) << "the live files stay";
  EXPECT_EQ(0u, f.Ours());
}

TEST(RecoveryTrust, AFlushErrorAfterTheSwapKeepsTheWayBackUntilRecoveryFinishesIt) {
  Folder f;
  MemoryJournal journal;
  ScriptedOps ops;
  ops.syncForReal = false;
  bool renamed = false;
  int failAt = -1;
  ops.before = [&](Op op, int, const char* name, int) {
    if (op == Op::RenameAt && std::strcmp(name, "ZrTuBun.wf6") == 0) renamed = true;
    if (renamed && op == Op::Fsync && failAt < 0) failAt = ops.total - 1;
  };
  f.Replace(ops, &journal);
  ASSERT_GT(failAt, 0);

  Folder g;
  ScriptedOps failing;
  failing.syncForReal = false;
  failing.FailAtEach({failAt}, EIO);
  std::string message;
  try {
    g.Replace(failing, &journal);
  } catch (const rt::RuntimeError& e) {
    message = e.description();
  }
  EXPECT_NE(std::string::npos, message.find("置き換えましたが")) << message;
  EXPECT_TRUE(journal.Committed("1")) << "the entry counts: the change stands";
  EXPECT_FALSE(Backup(g).empty()) << "the backups stay until the flushes succeed";
  RecoverFolder(g.data.string(), {{kFirst, kSecond}, &journal, false});
  EXPECT_EQ("new first|new second", g.Pair());
  EXPECT_TRUE(journal.Committed("1"));
  EXPECT_EQ(0u, g.Ours());
}

}  // namespace
}  // namespace zr::replace::test
