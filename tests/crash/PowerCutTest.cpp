// Power cuts, not kills: a kill leaves the page cache to finish the work, a
// power cut does not. The restore, the undo and the recovery at the next
// start are recorded through the file operations seam; from each recording
// every state a cut may leave under the model in tests/crash/CrashStates.h is
// built in the suite home, recovered as the next start recovers it, and
// checked: both templates whole and from the same side, none of our
// temporary names left, a history entry exactly when the change happened and
// holding the pair it replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>

#include "platform/replace/OurNames.h"
#include "restore/History.h"
#include "restore/TemplateRestore.h"
#include "restore/Undo.h"
#include "restore/VersionCheck.h"
#include "suite/local/DataFolderRecovery.h"
#include "tests/crash/CrashStates.h"
#include "tests/crash/Recorder.h"
#include "tests/restore/RealSuite.h"
#include "tests/restore/RestoreFixture.h"
#include "tests/support/ForeignFileSystem.h"
#include "tests/support/ScriptedOps.h"
#include "tools/demo/DemoBackups.h"

namespace zr::crash {
namespace {

namespace fs = std::filesystem;
using Pair = std::pair<std::optional<std::string>, std::optional<std::string>>;

// Every point with up to this many allowed states is enumerated in full.
constexpr std::size_t kEnumerateUpTo = 256;
// Drawn states per point beyond that (plus every single loss and survival).
constexpr int kSample = 16;

uint32_t DrawStart() {
  const char* text = std::getenv("ZR_POWERCUT_DRAWS");
  return text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : 20141006u;
}

std::optional<std::string> ReadIfThere(const fs::path& path) {
  if (!fs::is_regular_file(path)) return std::nullopt;
  return test::ReadFile(path);
}

// The recovery's own flushes are what its recording is for; here they only cost time.
class WithoutFlushes : public rt::FileOps {
 public:
  int Fsync(int) override { return 0; }
};

struct Tally {
  std::size_t built = 0;
  std::size_t checked = 0;
  std::size_t failures = 0;
};

class PowerCutTest : public ::testing::Test {
 protected:
  PowerCutTest() {
    demo::WriteLiveTemplates(suite.data());
    form.bkupPath = suite.backups().string() + "/";
  }

  Pair Live() const {
    return {ReadIfThere(suite.data() / "Work/ZrBunsyo.wf6"), ReadIfThere(suite.data() / "Work/ZrTuBun.wf6")};
  }

  std::set<std::string> EntryNames() const {
    std::set<std::string> names;
    for (const auto& e : restore::ListHistory(suite.history())) names.insert(e.folder.filename().string());
    return names;
  }

  void CheckAndRestore(const std::string& label) {
    demo::WriteBackupArchive(suite.backups() / (label + ".lzh"), {"9.2.0", true, false, label});
    ui.Answer(rt::mb::AnswerOk);
    ASSERT_TRUE(restore::MBlnZrVerChk(form, label + ".lzh"));
    restore::MSubRestoreSyori(form, label + ".lzh");
    ASSERT_EQ(ui.boxes().back().text, "雛形（文書選択編集）の復旧を完了しました。") << ui.Seen();
  }

  void Undo() {
    const auto entries = restore::ListHistory(suite.history());
    ASSERT_FALSE(entries.empty());
    restore::PutBack(suite.history(), entries.front(), suite.data().string() + "/");
  }

  Recording Record(const std::function<void()>& work, bool foreign) {
    Recorder recorder(suite.home(), {"data", "history"}, Pool());
    recorder.syncForReal = false;
    {
      test::ForeignFileSystem shown(recorder);
      test::ScopedOps ops(foreign ? static_cast<rt::FileOps&>(shown) : recorder);
      work();
    }
    Recording rec = recorder.Take();
    for (const std::string& u : rec.unexpected) ADD_FAILURE() << u;
    return rec;
  }

  fs::path Pool() const { return suite.home() / "pool"; }

  // What is wrong with the recovered data folder and history; empty when nothing.
  std::string Verdict() const {
    const Pair live = Live();
    const bool old = live == before;
    const bool changed = live == after;
    if (!old && !changed) return "the templates are torn or from different sides";
    for (const auto& e : fs::recursive_directory_iterator(suite.data())) {
      const std::string name = e.path().filename().string();
      if (name.starts_with(replace::kTempPrefix) || name.starts_with(replace::kBackupPrefix) ||
          name.starts_with(replace::kRecordPrefix)) {
        return "left behind: " + e.path().string();
      }
    }
    if (fs::exists(suite.history())) {
      for (const auto& e : fs::directory_iterator(suite.history())) {
        const std::string name = e.path().filename().string();
        if (name.starts_with(".pending-") || name.starts_with(".pruned-")) return "left behind: " + e.path().string();
      }
    }
    const auto entries = restore::ListHistory(suite.history());
    std::set<std::string> names;
    for (const auto& e : entries) {
      if (!e.problem.empty()) return "unusable history entry " + e.folder.string() + ": " + e.problem;
      names.insert(e.folder.filename().string());
    }
    if (old) return names == entriesBefore ? "" : "a history entry for a change that did not happen";
    if (entries.empty() || entriesBefore.count(entries.front().folder.filename()) != 0) {
      return "no way back for the change that happened";
    }
    // The entries kept are those from before, but for any old one pruning may take.
    for (const std::string& name : entriesBefore) {
      if (names.count(name) == 0 && mayGo.count(name) == 0) return "history entry " + name + " lost";
    }
    if (names.size() > entriesBefore.size() + 1) return "a history entry for a change that did not happen";
    const auto& newest = entries.front();
    const Pair kept{ReadIfThere(newest.folder / "Work/ZrBunsyo.wf6"), ReadIfThere(newest.folder / "Work/ZrTuBun.wf6")};
    const auto state = [](const std::optional<std::string>& file) {
      return file ? restore::TemplateState::Present : restore::TemplateState::Absent;
    };
    if (kept != before || newest.templates != std::vector{state(before.first), state(before.second)}) {
      return "the way back does not hold the pair that was replaced";
    }
    return "";
  }

  // Builds `state`, recovers it as the next start does and checks it; a
  // state seen before is not checked again.
  void Check(const CrashState& state, const Recording& rec, std::set<std::string>& seen, Tally& tally,
             const std::string& what) {
    ++tally.built;
    if (!seen.insert(Signature(state, rec)).second) return;
    ++tally.checked;
    Materialize(state, rec, suite.home(), Pool());
    {
      // After the cut comes a new mount: a foreign file system numbers its files anew.
      WithoutFlushes quick;
      test::ForeignFileSystem shown(quick);
      test::ScopedOps ops(foreign ? static_cast<rt::FileOps&>(shown) : quick);
      suite::RecoverDataFolder();
    }
    const std::string verdict = Verdict();
    if (!verdict.empty() && ++tally.failures <= 5) {
      ADD_FAILURE() << what << ", " << state.how << ": " << verdict << "\n" << Listing(rec);
    }
  }

  // Every cut of `rec`; then the recovery of the states where a cut leaves
  // most, least, and all but one operation, recorded and cut in turn.
  void CutEverywhere(const Recording& rec, const std::string& what) {
    Tally first;
    Tally second;
    std::set<std::string> seen;
    std::set<std::string> seenInRecovery;
    std::set<std::string> recovered;
    if (std::getenv("ZR_POWERCUT_LIST") != nullptr) std::printf("%s:\n%s", what.c_str(), Listing(rec).c_str());
    const CrashModel model(rec);
    model.ForEach(kEnumerateUpTo, kSample, DrawStart(), [&](const CrashState& s) { Check(s, rec, seen, first, what); });
    std::size_t recordings = 0;
    for (std::size_t point = 0; point < model.Points(); ++point) {
      const std::vector<std::size_t> pending = model.Pending(point);
      std::vector<std::map<std::size_t, int>> starts{{}, {}};
      for (std::size_t i : pending) {
        starts[1][i] = 0;
        starts.push_back({{i, 0}});
      }
      for (const auto& outcome : starts) {
        const CrashState start = model.Build(point, outcome);
        if (!recovered.insert(Signature(start, rec)).second) continue;
        Materialize(start, rec, suite.home(), Pool());
        const Recording recovery = Record([] { suite::RecoverDataFolder(); }, foreign);
        const CrashModel cut(recovery);
        if (recovery.steps.empty()) continue;
        ++recordings;
        cut.ForEach(kEnumerateUpTo, kSample, DrawStart(), [&](const CrashState& s) {
          Check(s, recovery, seenInRecovery, second, what + ", its recovery cut");
        });
      }
    }
    std::printf(
        "power cuts, %s (draws from %u): %zu steps, %zu states built, %zu distinct checked, %zu failures; "
        "recovery: %zu recordings, %zu states built, %zu distinct checked, %zu failures\n",
        what.c_str(), DrawStart(), rec.steps.size(), first.built, first.checked, first.failures, recordings,
        second.built, second.checked, second.failures);
    EXPECT_EQ(first.failures + second.failures, 0u);
  }

  Recording RecordRestore() {
    before = Live();
    entriesBefore = EntryNames();
    Recording rec = Record([this] { CheckAndRestore("new"); }, foreign);
    after = Live();
    EXPECT_NE(before, after);
    return rec;
  }

  void RestoreCut(bool onForeignFileSystem, const std::string& what) {
    foreign = onForeignFileSystem;
    const Recording rec = RecordRestore();
    CutEverywhere(rec, what);
  }

  void FillHistory() {
    for (std::size_t i = 0; i < restore::kHistoryKept; ++i) CheckAndRestore("earlier" + std::to_string(i));
    mayGo = {restore::ListHistory(suite.history()).back().folder.filename().string()};
  }

  void UndoCut(bool onForeignFileSystem, const std::string& what) {
    foreign = onForeignFileSystem;
    after = Live();
    CheckAndRestore("restored");
    before = Live();
    entriesBefore = EntryNames();
    const Recording rec = Record([this] { Undo(); }, foreign);
    ASSERT_EQ(Live(), after);
    CutEverywhere(rec, what);
  }

  test::RealSuite suite;
  test::ScriptedInteraction ui;
  test::FakeRestoreWindow form;
  // Shown as FAT, exFAT, NTFS or a share show it: no hard links, modes,
  // owners or inode numbers that outlive a mount.
  bool foreign = false;
  Pair before;
  Pair after;
  std::set<std::string> entriesBefore;
  std::set<std::string> mayGo;  // old entries a restore prunes
};

TEST_F(PowerCutTest, Restore) { RestoreCut(false, "restore"); }
// The restore also prunes the oldest entry beyond those kept.
TEST_F(PowerCutTest, RestoreWithAFullHistory) {
  FillHistory();
  RestoreCut(false, "restore with a full history");
}

// Found by the cuts above: pruning removed the oldest entry's files one by
// one and never flushed, so a cut could keep the entry's folder and lose its
// restore.ini, and the history listed an entry nobody can use. The state:
// cut right after the first file of the entry went, every other pending
// operation lost.
TEST_F(PowerCutTest, PruningNeverLeavesAHalfRemovedEntry) {
  FillHistory();
  const Recording rec = RecordRestore();
  const CrashModel model(rec);
  const auto first = std::find_if(rec.steps.begin(), rec.steps.end(),
                                  [](const Step& s) { return s.kind == Kind::Unlink && s.slot.name == "restore.ini"; });
  ASSERT_NE(first, rec.steps.end()) << Listing(rec);
  const std::size_t at = static_cast<std::size_t>(first - rec.steps.begin());
  std::map<std::size_t, int> outcome;
  for (std::size_t i : model.Pending(at + 1)) outcome[i] = i == at ? 1 : 0;
  Materialize(model.Build(at + 1, outcome), rec, suite.home(), Pool());
  suite::RecoverDataFolder();
  EXPECT_EQ(Verdict(), "");
}
TEST_F(PowerCutTest, RestoreOnAFileSystemWithoutLinksModesOrStableInodes) {
  RestoreCut(true, "restore without hard links, modes, owners or stable inodes");
}
// The folders the templates go into are made by the replacement, and go again with it.
TEST_F(PowerCutTest, RestoreIntoADataFolderWithoutTemplates) {
  fs::remove_all(suite.data() / "Work");
  RestoreCut(false, "restore into an empty data folder");
}
TEST_F(PowerCutTest, Undo) { UndoCut(false, "undo"); }
// The entry put back kept no ZrTuBun.wf6: the undo removes the live one.
TEST_F(PowerCutTest, UndoThatRemovesATemplate) {
  fs::remove(suite.data() / "Work/ZrTuBun.wf6");
  UndoCut(false, "undo that removes a template");
}
TEST_F(PowerCutTest, UndoOnAFileSystemWithoutLinksModesOrStableInodes) {
  UndoCut(true, "undo without hard links, modes, owners or stable inodes");
}

}  // namespace
}  // namespace zr::crash
