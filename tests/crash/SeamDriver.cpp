// A start, a check, a restore, a failed restore, an undo and a backup check
// on a fresh suite home (under $TMPDIR), with the recorder in force on the
// folders they write (data folder, history, temporary folder, log, run
// locks); writes the suite home and what the recorder saw to the file named
// first, for a comparison with what strace sees. The start and end of the
// work are marked by look-ups of names that cannot exist.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "restore/BackupCheck.h"
#include "restore/History.h"
#include "restore/TemplateRestore.h"
#include "restore/Undo.h"
#include "restore/VersionCheck.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/Components.h"
#include "tests/crash/Recorder.h"
#include "tests/restore/RealSuite.h"
#include "tests/restore/RestoreFixture.h"
#include "tests/support/ScriptedOps.h"
#include "tools/demo/DemoBackups.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  using namespace zr;
  test::RealSuite suite;
  test::ScriptedInteraction ui;
  test::FakeRestoreWindow form;
  demo::WriteLiveTemplates(suite.data());
  demo::WriteBackupArchive(suite.backups() / "new.lzh", {"9.2.0", true, false, "new"});
  demo::WriteBackupArchive(suite.backups() / "damaged.lzh", {"9.2.0", true, true, "damaged"});
  form.bkupPath = suite.backups().string() + "/";
  crash::Recorder recorder(suite.home(), {"data", "history", "temp", "log", "run"}, suite.home() / "pool");
  int status = 0;
  ::faccessat(AT_FDCWD, "/zr-powercut-begin", F_OK, 0);
  {
    test::ScopedOps ops(recorder);
    std::string programId = startup::kProgramId;
    suite::SuiteBool started = suite::kFalse;
    suite::CreateSuiteServices()->RegisterProgram(programId, started);
    ui.Answer(rt::mb::AnswerOk);
    if (!restore::MBlnZrVerChk(form, "new.lzh")) status = 1;
    restore::MSubRestoreSyori(form, "new.lzh");
    // Its error goes to the log.
    ui.Answer(rt::mb::AnswerNo);
    restore::MSubRestoreSyori(form, "damaged.lzh");
    const auto entries = restore::ListHistory(suite.history());
    if (entries.empty()) status = 1;
    if (!entries.empty()) restore::PutBack(suite.history(), entries.front(), suite.data().string() + "/");
    if (!restore::CheckBackup((suite.backups() / "new.lzh").string(), suite.temp().string()).ok) status = 1;
  }
  ::faccessat(AT_FDCWD, "/zr-powercut-end", F_OK, 0);
  std::ofstream out(argv[1]);
  out << suite.home().string() << "\n";
  const crash::Recording rec = recorder.Take();
  for (const crash::Step& step : rec.steps) {
    if (step.kind != crash::Kind::Close) out << crash::KindName(step.kind) << "\t" << step.shown << "\n";
  }
  for (const std::string& path : rec.openedExisting) out << "create\t" << path << "\n";
  out.close();
  // The suite home stays for the caller, who made $TMPDIR and removes it.
  std::fflush(nullptr);
  _exit(out ? status : 1);
}
