// The pair replacement alone, over scripted file operations: every single
// and double fault and a kill at every operation leave each pair whole and
// alike, and the next recovery leaves only the user's files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/replace/IntentRecord.h"
#include "platform/replace/Recovery.h"
#include "platform/replace/Replacement.h"
#include "platform/runtime/RuntimeError.h"
#include "tests/replace/ReplaceTestSupport.h"
#include "tests/support/ScriptedOps.h"
#include "tests/support/TempDir.h"

namespace zr::replace::test {
namespace {

namespace fs = std::filesystem;
using rt::Ops;
using zr::test::Op;
using zr::test::ReadFile;
using zr::test::ScopedOps;
using zr::test::ScriptedOps;
using zr::test::TempDir;
using zr::test::WriteFile;

const std::string kReplacedButUnflushed = "置き換えましたが";

void Replace(const fs::path& folder) { ReplacePair(folder, nullptr); }

struct Trial {
  TempDir dir;
  fs::path data = dir.path() / "data";
  std::optional<rt::RuntimeError> error;

  explicit Trial(bool withOldFiles = true) {
    fs::create_directories(data / "Work");
    if (withOldFiles) {
      WriteFile(data / "Work/ZrBunsyo.wf6", "old first");
      WriteFile(data / "Work/ZrTuBun.wf6", "old second");
    }
  }
  void Run(ScriptedOps& ops) {
    ScopedOps scoped(ops);
    try {
      Replace(data);
    } catch (const rt::RuntimeError& e) {
      error = e;
    }
  }
  // "old", "new" or what is wrong with the pair.
  std::string Pair() const {
    const std::string first = fs::exists(data / "Work/ZrBunsyo.wf6") ? ReadFile(data / "Work/ZrBunsyo.wf6") : "";
    const std::string second = fs::exists(data / "Work/ZrTuBun.wf6") ? ReadFile(data / "Work/ZrTuBun.wf6") : "";
    if (first == "old first" && second == "old second") return "old";
    if (first == "new first" && second == "new second") return "new";
    return "mixed: [" + first + "] [" + second + "]";
  }
  std::string Description() const { return error ? error->description() : ""; }
  void RecoverAndCheck(const std::string& expected) {
    Recover(data);
    EXPECT_EQ(expected, Pair());
    EXPECT_EQ(3u, CountFiles(data)) << "only the user's files remain";
  }
};

// The number of operations of a clean run, and where its commit starts (at
// the look for the file the first backup is made of).
int CountOperations(bool noHardLinks, int* commitStart = nullptr) {
  Trial t;
  ScriptedOps counting;
  counting.syncForReal = false;
  counting.noHardLinks = noHardLinks;
  int firstLink = -1;
  counting.before = [&](Op op, int, const char*, int) {
    if (op == Op::LinkAt && firstLink < 0) firstLink = counting.total - 1;
  };
  t.Run(counting);
  if (commitStart != nullptr) *commitStart = firstLink - 1;
  EXPECT_FALSE(t.error) << t.Description();
  EXPECT_EQ("new", t.Pair());
  return counting.total;
}

// What a finished call must have left: the old pair after an error, the new
// pair after success or after an error that says the files were replaced.
std::string ExpectedAfter(const Trial& t) {
  if (!t.error) return "new";
  return t.Description().find(kReplacedButUnflushed) != std::string::npos ? "new" : "old";
}

TEST(Replacement, EverySingleFaultLeavesOneWholePairAndSaysWhich) {
  for (bool noHardLinks : {false, true}) {
    const int total = CountOperations(noHardLinks);
    ASSERT_GT(total, 15);
    for (int at = 0; at < total; ++at) {
      SCOPED_TRACE((noHardLinks ? "no hard links, operation " : "operation ") + std::to_string(at));
      Trial t;
      ScriptedOps ops;
      ops.syncForReal = false;
      ops.noHardLinks = noHardLinks;
      ops.FailAtEach({at}, EIO);
      t.Run(ops);
      const std::string expected = ExpectedAfter(t);
      EXPECT_EQ(expected, t.Pair()) << t.Description();
      if (t.error) {
        EXPECT_EQ(rt::err::PathFileAccess, t.error->number());
      }
      t.RecoverAndCheck(expected);
    }
  }
}

TEST(Replacement, EveryDoubleFaultKeepsTheOldFileAndNamesWhereItIs) {
  int kept = 0;
  for (bool noHardLinks : {false, true}) {
    // Before the commit a first fault ends the call at once; the single-fault sweep covers that.
    int commitStart = 0;
    const int total = CountOperations(noHardLinks, &commitStart);
    ASSERT_GT(commitStart, 5);
    for (int first = commitStart; first < total; ++first) {
      for (int second = first + 1; second < total; ++second) {
        SCOPED_TRACE((noHardLinks ? "no hard links, operations " : "operations ") + std::to_string(first) + ", " +
                     std::to_string(second));
        Trial t;
        ScriptedOps ops;
        ops.syncForReal = false;
        ops.noHardLinks = noHardLinks;
        ops.FailAtEach({first, second}, EIO);
        t.Run(ops);
        const std::string text = t.Description();
        const auto at = text.find("/.zrold-");
        if (at == std::string::npos) {
          EXPECT_EQ(ExpectedAfter(t), t.Pair()) << text;
          t.RecoverAndCheck(ExpectedAfter(t));
          continue;
        }
        // The old file could not be put back: its backup is named, whole.
        ++kept;
        const std::size_t start = text.rfind("「", at) + std::strlen("「");
        const std::string backup = text.substr(start, text.find("」", at) - start);
        const std::string old = ReadFile(backup);
        EXPECT_TRUE(old == "old first" || old == "old second") << backup;
        t.RecoverAndCheck("old");
      }
    }
  }
  EXPECT_GT(kept, 0) << "some double faults hit the way back";
}

TEST(Replacement, KilledAtEveryOperationTheNextRecoveryRestoresOneWholePair) {
  for (bool withOldFiles : {true, false}) {
    for (bool noHardLinks : {false, true}) {
      const int total = CountOperations(noHardLinks);
      for (int at = 0; at <= total; ++at) {
        SCOPED_TRACE(std::string(withOldFiles ? "" : "no old files, ") + (noHardLinks ? "no hard links, " : "") +
                     "killed at " + std::to_string(at));
        Trial t(withOldFiles);
        const pid_t child = fork();
        if (child == 0) {
          ScriptedOps ops;
          ops.syncForReal = false;
          ops.noHardLinks = noHardLinks;
          ops.before = [&](Op, int, const char*, int) {
            if (ops.total == at + 1) raise(SIGKILL);
          };
          rt::InstallFileOps(&ops);
          try {
            Replace(t.data);
          } catch (...) {
            _exit(3);
          }
          _exit(0);
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        const bool finished = WIFEXITED(status);
        if (finished) {
          ASSERT_EQ(0, WEXITSTATUS(status));
        }
        // A kill after the renames may still count as not done: then the old pair is back.
        Recover(t.data);
        const std::string pair = t.Pair();
        if (withOldFiles) {
          EXPECT_TRUE(pair == "old" || pair == "new") << pair;
          if (finished) {
            EXPECT_EQ("new", pair);
          }
          EXPECT_EQ(3u, CountFiles(t.data)) << "only the user's files remain";
        } else {
          const std::size_t files = CountFiles(t.data);
          EXPECT_TRUE((pair == "new" && files == 3) || files == 1) << pair << ", " << files << " entries";
        }
      }
    }
  }
}

TEST(Replacement, RecoveryRemovesOnlyNamesOfOurExactPattern) {
  Trial t;
  const std::vector<std::string> ours = {".zrtmp-0123456789ab", ".zrold-a1b2c3d4e5f6"};
  const std::vector<std::string> others = {".zrtmp-0123456789AB",     ".zrold-a1b2c3d4e5f",
                                           ".zrtmp-0123456789ab.bak", ".zrplan-",
                                           "zrtmp-0123456789ab",      ".zrplan-0123456789AB"};
  for (const auto& name : ours) WriteFile(t.data / name, "x");
  for (const auto& name : others) WriteFile(t.data / name, "x");
  WriteFile(t.data / "Work/.zrtmp-0123456789ab", "not in the folder we look after");
  Recover(t.data);
  for (const auto& name : ours) EXPECT_FALSE(fs::exists(t.data / name)) << name;
  for (const auto& name : others) EXPECT_TRUE(fs::exists(t.data / name)) << name;
  EXPECT_TRUE(fs::exists(t.data / "Work/.zrtmp-0123456789ab"));
  EXPECT_EQ("old", t.Pair());
}

TEST(IntentRecord, OnlyAWholeRecordSealedUnderTheKeyWithOurNamesIsBelieved) {
  const FileIdentity id{1, 2, 3, 4, 5};
  RecordKey key{};
  key[0] = 7;
  RecordKey otherKey = key;
  otherKey[31] = 1;
  const std::string name = ".zrplan-0123456789ab";
  Intent intent;
  intent.token = "00000007";
  intent.entries.push_back({{"Work", "Zr Bunsyo%.wf6"}, ".zrtmp-0123456789ab", ".zrold-0123456789ab", id, id});
  intent.entries.push_back({{"ZrTuBun.wf6"}, ".zrtmp-a0a0a0a0a0a0", "", std::nullopt, id});
  intent.entries.push_back({{"-"}, "", ".zrold-a0a0a0a0a0a0", id, std::nullopt});
  intent.createdFolders.push_back({"Work"});
  const std::string bytes = EncodeIntent(intent, key, name);
  const auto back = DecodeIntent(bytes, key, name);
  ASSERT_TRUE(back);
  EXPECT_EQ(intent.token, back->token);
  EXPECT_EQ(intent.entries[0].target, back->entries[0].target);
  EXPECT_EQ(id.Text(), back->entries[0].placed->Text());
  EXPECT_EQ("", back->entries[1].backup);
  EXPECT_EQ(PathParts{"-"}, back->entries[2].target);
  EXPECT_EQ(intent.createdFolders, back->createdFolders);
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) EXPECT_FALSE(DecodeIntent(bytes.substr(0, cut), key, name));
  EXPECT_FALSE(DecodeIntent(bytes, otherKey, name)) << "another user's key";
  EXPECT_FALSE(DecodeIntent(bytes, key, ".zrplan-a0a0a0a0a0a0")) << "a record moved to another name";
  std::string altered = bytes;
  altered[altered.find("00000007")] = '9';
  EXPECT_FALSE(DecodeIntent(altered, key, name)) << "a changed line";

  // An encoded "/" or a climbing part is refused after decoding, as is a name not of our form.
  for (const auto& [target, staged] : {std::pair<PathParts, std::string>{{"..", "x"}, ".zrtmp-0123456789ab"},
                                       {{"a/b"}, ".zrtmp-0123456789ab"},
                                       {{"Work", "x"}, "ZrBunsyo.wf6"}}) {
    Intent bad;
    bad.token = "1";
    bad.entries.push_back({target, staged, "", std::nullopt, id});
    EXPECT_FALSE(DecodeIntent(EncodeIntent(bad, key, name), key, name)) << staged;
  }
}

}  // namespace
}  // namespace zr::replace::test
