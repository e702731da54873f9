// The built program where only a real process shows the fault: Qt's abort
// without a display, and what a terminal on stderr gets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <optional>

#include "restore/History.h"
#include "tests/restore/RealSuite.h"
#include "tests/support/TempDir.h"
#include "tools/demo/DemoBackups.h"

extern char** environ;

namespace zr::cli {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program with stdin from /dev/null, no display server anywhere
// (X display :987 has none, Wayland's runtime folder is empty) and stderr on
// a pseudo-terminal when `errTerminal`.
Outcome RunBuilt(const std::vector<std::string>& args, const fs::path& scratch, bool errTerminal = false,
                 const std::map<std::string, std::optional<std::string>>& changes = {}) {
  std::map<std::string, std::optional<std::string>> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    env[entry.substr(0, entry.find('='))] = entry.substr(entry.find('=') + 1);
  }
  fs::create_directories(scratch / "runtime");
  env["DISPLAY"] = ":987";
  env["XDG_RUNTIME_DIR"] = (scratch / "runtime").string();
  for (const char* name : {"WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM"}) env[name] = std::nullopt;
  for (const auto& [name, value] : changes) env[name] = value;
  std::vector<std::string> entries;
  for (const auto& [name, value] : env) {
    if (value) entries.push_back(name + "=" + *value);
  }
  std::vector<char*> envp;
  for (auto& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings{ZR_PROGRAM};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  const std::string outFile = (scratch / "stdout").string();
  const std::string errFile = (scratch / "stderr").string();
  int master = -1;
  int slave = -1;
  if (errTerminal && openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (errTerminal) {
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    posix_spawn_file_actions_addclose(&actions, master);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, ZR_PROGRAM, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("posix_spawn");
  Outcome outcome;
  if (errTerminal) {
    close(slave);
    // Read while it runs, so that it never waits on a full terminal; EIO once it has gone.
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      outcome.err.append(buffer, static_cast<std::size_t>(n));
    }
    close(master);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  outcome.out = test::ReadFile(outFile);
  if (!errTerminal) outcome.err = test::ReadFile(errFile);
  return outcome;
}

TEST(ProgramTest, WithoutADisplayServerTheWindowEndsPlainlyAndAnUndoKeepsToTheTerminalRules) {
  test::RealSuite suite;
  const fs::path scratch = suite.home() / "run";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{}, {"-platform", "xcb"}}) {
    const Outcome window = RunBuilt(args, scratch);
    EXPECT_EQ(window.status, 1);
    EXPECT_EQ(window.err.rfind("ZrBunsyoRes: 画面に接続できないため、ウィンドウを開けません。", 0), 0u) << window.err;
  }

  demo::WriteLiveTemplates(suite.data());
  const std::string live = test::ReadFile(suite.data() / "Work/ZrTuBun.wf6");
  restore::PendingHistoryEntry::Record(suite.history(), suite.data().string() + "/", "/m/a.lzh", "10.0.0", false)
      .Keep();
  fs::remove(suite.data() / "Work/ZrTuBun.wf6");  // the entry may hold the same file through a hard link
  test::WriteFile(suite.data() / "Work/ZrTuBun.wf6", "changed");
  const Outcome undo = RunBuilt({"--undo"}, scratch);
  EXPECT_EQ(undo.status, 1);
  EXPECT_NE(undo.err.find("--yes を指定してください"), std::string::npos) << undo.err;
  EXPECT_EQ(test::ReadFile(suite.data() / "Work/ZrTuBun.wf6"), "changed");
  EXPECT_NE(live, "changed");
}

TEST(ProgramTest, VerifyShowsProgressOnlyOnATerminal) {
  test::RealSuite suite;
  demo::WriteBackupArchive(suite.backups() / "a.lzh", {});
  const Outcome shown = RunBuilt({"--verify", suite.backups().string()}, suite.home() / "run", true);
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(shown.out.rfind("OK\t", 0), 0u);
  EXPECT_NE(shown.err.find("\r\x1b[K検査中 0/1 a.lzh "), std::string::npos) << shown.err;
  EXPECT_NE(shown.err.find(" MB/s"), std::string::npos);
  EXPECT_EQ(shown.err.substr(shown.err.size() - 4), "\r\x1b[K") << "the line is cleared at the end";
}

// --restore as an administrator runs it: the window's start rules and checks,
// and a restore that --undo takes back.
TEST(ProgramTest, RestoreFromTheCommandLineKeepsTheWindowsRulesAndUndoTakesItBack) {
  test::RealSuite suite;
  const fs::path scratch = suite.home() / "out";
  const fs::path tuBun = suite.data() / "Work/ZrTuBun.wf6";
  demo::WriteLiveTemplates(suite.data());
  const std::string live = test::ReadFile(tuBun);
  const std::string good = (suite.backups() / "good.lzh").string();
  const std::string v930 = (suite.backups() / "v930.lzh").string();
  demo::WriteBackupArchive(good, {"9.2.0", true, false, "復元後"});
  demo::WriteBackupArchive(v930, {"9.3.0"});

  const Outcome refused = RunBuilt({"--restore", v930, "--yes"}, scratch);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "ZrBunsyoRes: 「" + v930 +
                             "」から復旧しませんでした。バックアップのバージョンは9.0.0、9.1.0、9.2.0が対象です。\n");
  const Outcome unasked = RunBuilt({"--restore", good}, scratch);
  EXPECT_EQ(unasked.status, 1);
  EXPECT_NE(unasked.err.find("確認なしで復旧するには --yes を指定してください。"), std::string::npos) << unasked.err;
  // Another instance of the tool, or a suite module, holds its run lock, as flock(1) would.
  for (const char* program : {"TOOL(BackUp)", "ZrKaigo"}) {
    fs::create_directories(suite.home() / "run");
    const fs::path lockFile = suite.home() / "run" / (std::string(program) + ".lock");
    const int lock = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    const Outcome busy = RunBuilt({"--restore", good, "--yes"}, scratch);
    close(lock);
    EXPECT_EQ(busy.status, 1) << program;
    EXPECT_NE(busy.err.find("ほかのあおば！ナビのプログラムが実行中のため、復旧できません。"), std::string::npos)
        << busy.err;
  }
  EXPECT_EQ(test::ReadFile(tuBun), live);
  EXPECT_FALSE(fs::exists(suite.history()) && !fs::is_empty(suite.history()));

  const Outcome done = RunBuilt({"--restore", good, "--yes"}, scratch);
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.out, "雛形（文書選択編集）を「" + good + "」から復旧しました。\n");
  EXPECT_EQ(test::ReadFile(tuBun), demo::TemplateDatabase("TUBUN", "復元後"));
  const Outcome undo = RunBuilt({"--undo", "--yes"}, scratch);
  EXPECT_EQ(undo.status, 0) << undo.err;
  EXPECT_EQ(test::ReadFile(tuBun), live);
}

}  // namespace
}  // namespace zr::cli
