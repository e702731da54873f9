// One check, restore and undo on a fresh suite home (under $TMPDIR), with
// the recorder in force; writes the suite home and what the recorder saw to
// the file named first, for a comparison with what strace sees. The start
// and end of the work are marked by look-ups of names that cannot exist.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "restore/History.h"
#include "restore/TemplateRestore.h"
#include "restore/Undo.h"
#include "restore/VersionCheck.h"
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
  form.bkupPath = suite.backups().string() + "/";
  crash::Recorder recorder(suite.home(), {"data", "history"}, suite.home() / "pool");
  int status = 0;
  ::faccessat(AT_FDCWD, "/zr-powercut-begin", F_OK, 0);
  {
    test::ScopedOps ops(recorder);
    ui.Answer(rt::mb::AnswerOk);
    if (!restore::MBlnZrVerChk(form, "new.lzh")) status = 1;
    restore::MSubRestoreSyori(form, "new.lzh");
    const auto entries = restore::ListHistory(suite.history());
    if (entries.empty()) status = 1;
    if (!entries.empty()) restore::PutBack(suite.history(), entries.front(), suite.data().string() + "/");
  }
  ::faccessat(AT_FDCWD, "/zr-powercut-end", F_OK, 0);
  std::ofstream out(argv[1]);
  out << suite.home().string() << "\n";
  for (const crash::Step& step : recorder.Take().steps) {
    if (step.kind != crash::Kind::Close) out << crash::KindName(step.kind) << "\t" << step.shown << "\n";
  }
  out.close();
  // The suite home stays for the caller, who made $TMPDIR and removes it.
  std::fflush(nullptr);
  _exit(out ? status : 1);
}
