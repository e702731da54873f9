// Recovery believes only records sealed under the user's key, whatever owner
// and mode they show, acts only on the targets its caller declares, never
// rolls back newer work and never deletes an old copy on a guess; a flush
// error after the swap keeps the way back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <set>

#include "platform/replace/IntentRecord.h"
#include "platform/replace/Journal.h"
#include "platform/replace/RecordKey.h"
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
  RecordKey strangersKey{};
  strangersKey[3] = 3;
  struct Case {
    const char* name;
    PathParts target;
    PathParts declaredExtra;
    std::optional<RecordKey> key;  // none: a seal made without any key
    bool unproven;                 // left as possibly somebody's unfinished change
  };
  const std::vector<Case> cases = {
      {"a target through a linked folder", {"evil", "victim"}, {"evil", "victim"}, SealingKey(), false},
      {"a target that is not declared", {"Work", "other"}, {}, SealingKey(), true},
      {"a record sealed under another user's key", kFirst, {}, strangersKey, true},
      {"a record with a made-up seal", kFirst, {}, std::nullopt, true},
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
    intent.token = "1";
    intent.entries.push_back({c.target, "", ".zrold-0123456789ab", planted, std::nullopt});
    intent.entries.push_back({c.target, ".zrtmp-0123456789ab", "", std::nullopt, FileIdentity::Of(st)});
    const std::string name = ".zrplan-0123456789ab";
    std::string bytes = EncodeIntent(intent, c.key.value_or(strangersKey), name);
    if (!c.key) bytes.replace(bytes.rfind("mac ") + 4, 8, "00000000");
    WriteFile(f.data / name, bytes);
    MemoryJournal journal;
    journal.committed.insert("1");
    RecoveryScope scope{{kFirst, kSecond}, &journal, false};
    if (!c.declaredExtra.empty()) scope.targets.push_back(c.declaredExtra);
    std::vector<std::string> left;
    try {
      left = RecoverFolder(f.data.string(), scope);
    } catch (const rt::RuntimeError&) {
      // Refusing loudly is as good as refusing quietly; acting is not.
    }
    EXPECT_EQ("victim", ReadFile(f.outside / "victim"));
    EXPECT_EQ("old first|old second", f.Pair());
    EXPECT_EQ("planted", ReadFile(f.data / ".zrold-0123456789ab")) << "an old copy is never deleted on a guess";
    EXPECT_TRUE(fs::exists(f.data / name)) << "a record not acted on stays for a person to look at";
    EXPECT_TRUE(journal.Committed("1") && journal.salvaged.empty()) << "the history is not reached";
    EXPECT_EQ(c.unproven ? std::vector<std::string>{(f.data / name).string()} : std::vector<std::string>{}, left);
    if (c.unproven) {
      // Nothing is built on a folder that may hold somebody's half-done change.
      rt::UniqueFd dir = rt::OwnedFd(open(f.data.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      try {
        RecoverBeforeChange(dir.get(), f.data.string(), scope);
        ADD_FAILURE() << "a change over an unproven record was allowed";
      } catch (const rt::RuntimeError& e) {
        EXPECT_NE(std::string::npos, e.description().find((f.data / name).string())) << e.description();
      }
    }
  }
}

TEST(RecoveryTrust, OwnerAndModeDoNotDecideWhoseARecordIs) {
  // As a FAT, exFAT or NTFS mount or a share shows every file: anybody's,
  // writable by all. The sealed record of an interrupted change is still
  // ours and the pair is made whole.
  Folder f;
  f.ReplaceAndDie([](Op op, const char* name) { return op == Op::RenameAt && std::strcmp(name, "ZrTuBun.wf6") == 0; });
  ASSERT_EQ("new first|old second", f.Pair());
  for (const auto& e : fs::directory_iterator(f.data)) {
    if (!e.path().filename().string().starts_with(".zrplan-")) continue;
    ASSERT_EQ(0, chown(e.path().c_str(), geteuid() + 1, static_cast<gid_t>(-1)));
    ASSERT_EQ(0, chmod(e.path().c_str(), 0777));
  }
  MemoryJournal journal;
  EXPECT_TRUE(RecoverFolder(f.data.string(), {{kFirst, kSecond}, &journal, false}).empty());
  EXPECT_EQ("old first|old second", f.Pair());
  EXPECT_TRUE(journal.pending.empty()) << "the entry of a change that did not happen goes";
  EXPECT_EQ(0u, f.Ours());
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

TEST(RecoveryTrust, AnUnreadableRecordDeletesNoOldCopyAndMakesNoHistory) {
  Folder f;
  // As a record of the earlier unsealed form beside a backup that is the only copy of the old file.
  WriteFile(f.data / "Work/ZrBunsyo.wf6", "new first");
  WriteFile(f.data / ".zrold-0123456789ab", "old first");
  WriteFile(f.data / ".zrplan-0123456789ab", "zr-replace 2\nj\t1\n");
  MemoryJournal journal;
  EXPECT_EQ(1u, RecoverFolder(f.data.string(), {{kFirst, kSecond}, &journal, false}).size());
  EXPECT_EQ("old first", ReadFile(f.data / ".zrold-0123456789ab")) << "it stays where it is";
  EXPECT_TRUE(journal.salvaged.empty()) << "an entry of unknown states would push real ones out";
  EXPECT_EQ("new first|old second", f.Pair()) << "the live files stay";
  EXPECT_EQ(1u, f.notes.size());
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

TEST(RecordKey, ALostOrUnusableKeyNeverMakesRecoveryForgetAnUnfinishedChange) {
  Folder f;
  const fs::path key = f.dir.path() / "home/record.key";
  InstallRecordKeyFile([key] { return key; });
  f.ReplaceAndDie([](Op op, const char* name) { return op == Op::RenameAt && std::strcmp(name, "ZrTuBun.wf6") == 0; });
  ASSERT_EQ("new first|old second", f.Pair());
  struct stat st {};
  ASSERT_EQ(0, lstat(key.c_str(), &st));
  EXPECT_EQ(32, st.st_size);
  EXPECT_EQ(0600u, st.st_mode & 0777u);

  // A key that is a link, or longer than a key, is not used, and no key is made in its place.
  const std::string sealed = ReadFile(key);
  fs::remove(key);
  fs::create_symlink(f.dir.path() / "elsewhere", key);
  EXPECT_FALSE(CheckingKey());
  EXPECT_THROW(SealingKey(), rt::RuntimeError);
  fs::remove(key);
  WriteFile(key, sealed + "x");
  EXPECT_THROW(SealingKey(), rt::RuntimeError);

  // Lost, then made anew: the change it sealed stays in sight, and blocks the folder.
  fs::remove(key);
  EXPECT_EQ(1u, RecoverFolder(f.data.string(), {{kFirst, kSecond}, nullptr, false}).size());
  const RecordKey fresh = SealingKey();
  EXPECT_NE(sealed, std::string(fresh.begin(), fresh.end()));
  EXPECT_EQ(1u, RecoverFolder(f.data.string(), {{kFirst, kSecond}, nullptr, false}).size());
  EXPECT_EQ("new first|old second", f.Pair()) << "a person decides; the note says where";

  // Put back, the key proves the record again and the pair is made whole.
  WriteFile(key, sealed);
  EXPECT_TRUE(RecoverFolder(f.data.string(), {{kFirst, kSecond}, nullptr, false}).empty());
  EXPECT_EQ("old first|old second", f.Pair());

  // Cut short while it was made (nothing was ever sealed with it): made anew.
  WriteFile(key, "short");
  (void)SealingKey();
  EXPECT_EQ(32u, fs::file_size(key));
  InstallRecordKeyFile(nullptr);
}

// Records outlive the program that sealed them: the seal is standard
// HMAC-SHA-256, whichever library computes it.
TEST(RecordKey, SealsAreStandardHmacSha256) {
  RecordKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(i);
  const std::string mac = Authenticator(key, "zr-replace 3\nsample line\n");
  EXPECT_EQ("6cb41e3a5e2eea8833e09f763c94e6659ba563a984b11bbbba2a989bb1686ab4", mac);
  EXPECT_TRUE(Authentic(key, "zr-replace 3\nsample line\n", mac));
  EXPECT_FALSE(Authentic(key, "zr-replace 3\nsample line!\n", mac));
}

}  // namespace
}  // namespace zr::replace::test
