#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>

#include "cli/Commands.h"
#include "platform/runtime/FileOps.h"
#include "tests/restore/RealSuite.h"
#include "tests/support/SuiteHomeScope.h"
#include "tools/demo/DemoBackups.h"

extern char** environ;

namespace zr::cli {
namespace {

namespace fs = std::filesystem;

// Sees which archives are opened and what the record is written through.
class WatchingOps : public rt::FileOps {
 public:
  int Open(const char* path, int flags, mode_t mode) override {
    if (std::string_view(path).ends_with(".lzh")) ++archiveOpens;
    return FileOps::Open(path, flags, mode);
  }
  int RenameAt(int fromDir, const char* from, int toDir, const char* to) override {
    if (std::string_view(to).starts_with("verified")) renamedTo.emplace_back(to);
    return FileOps::RenameAt(fromDir, from, toDir, to);
  }
  int archiveOpens = 0;
  std::vector<std::string> renamedTo;
};

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Replaced as a backup job replaces a file: written beside it, renamed over.
void Rewrite(const fs::path& archive, const demo::BackupContent& content) {
  demo::WriteBackupArchive(archive.string() + ".part", content);
  fs::rename(archive.string() + ".part", archive);
}

class VerifyNewTest : public ::testing::Test {
 protected:
  VerifyNewTest() { previous_ = rt::InstallFileOps(&ops); }
  ~VerifyNewTest() override { rt::InstallFileOps(previous_); }

  int RunNew() {
    out.str("");
    err.str("");
    std::istringstream in;
    Console console{in, out, err};
    ops.archiveOpens = 0;
    return RunVerify({suite.backups().string()}, console, {true, false});
  }

  test::RealSuite suite;
  WatchingOps ops;
  std::ostringstream out;
  std::ostringstream err;

 private:
  rt::FileOps* previous_ = nullptr;
};

TEST_F(VerifyNewTest, ChecksAnArchiveOnceInEachForm) {
  const fs::path good = suite.backups() / "good.lzh";
  const fs::path damaged = suite.backups() / "damaged.lzh";
  demo::WriteBackupArchive(good, {});
  demo::WriteBackupArchive(damaged, {"9.2.0", true, true});
  const fs::path record = suite.home() / "verified.tsv";

  EXPECT_EQ(RunNew(), kExitFailed);
  EXPECT_EQ(Lines(out.str()), 2u) << out.str();
  EXPECT_GT(ops.archiveOpens, 0) << "the seam must see the check open archives";
  EXPECT_EQ(ops.renamedTo, std::vector<std::string>{"verified.tsv"});
  struct stat st {};
  ASSERT_EQ(lstat(record.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  // Nothing new: no line, status 0, no archive opened, the record not rewritten.
  EXPECT_EQ(RunNew(), kExitOk);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(ops.archiveOpens, 0);
  EXPECT_EQ(ops.renamedTo.size(), 1u);

  Rewrite(good, {"9.1.0"});
  EXPECT_EQ(RunNew(), kExitOk);
  EXPECT_EQ(out.str(), "OK\t" + good.string() + "\t9.1.0\n");

  // A removed archive is forgotten; the other verdicts stay.
  fs::remove(damaged);
  EXPECT_EQ(RunNew(), kExitOk);
  EXPECT_EQ(out.str(), "");
  const std::string kept = test::ReadFile(record);
  EXPECT_EQ(kept.find("damaged.lzh"), std::string::npos);
  EXPECT_NE(kept.find("good.lzh\t9.1.0\n"), std::string::npos);

  // A record that is a link, or larger than the limit, is not read: everything is checked again.
  fs::rename(record, suite.home() / "elsewhere.tsv");
  fs::create_symlink(suite.home() / "elsewhere.tsv", record);
  EXPECT_EQ(RunNew(), kExitOk);
  EXPECT_EQ(Lines(out.str()), 1u);
  EXPECT_FALSE(fs::is_symlink(record)) << "replaced, not written through";
  test::WriteFile(record, test::ReadFile(record) + std::string(1 << 20, '#'));
  EXPECT_EQ(RunNew(), kExitOk);
  EXPECT_EQ(Lines(out.str()), 1u);
}

TEST(VerifyNewCommandLineTest, NewAndNotifyGoWithVerify) {
  const Request r = ParseCommandLine({"--verify", "--new", "--notify", "x"});
  EXPECT_TRUE(r.onlyNew && r.notify && r.command == Command::Verify);
  EXPECT_EQ(ParseCommandLine({"--history", "--new"}).command, Command::UsageError);
  EXPECT_EQ(ParseCommandLine({"--notify"}).command, Command::UsageError);
}

// The program itself, as the user unit starts it, against a private session
// bus whose notification service is the tests' recorder, started by the bus
// when the first notification is sent.
class DesktopNotifyTest : public ::testing::Test {
 protected:
  DesktopNotifyTest() {
    test::WriteFile(suite.home() / "ZrX.ini", "[BKUP]\r\nBKUP_PATH=" + (suite.home() / "backup").string() + "/\r\n");
    const fs::path services = bus_.path() / "services";
    fs::create_directories(services);
    test::WriteFile(services / "recorder.service", "[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=" +
                                                       std::string(ZR_RECORDER) + " " + received().string() + "\n");
    test::WriteFile(bus_.path() / "bus.conf",
                    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
                    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                    "<busconfig><type>session</type><listen>unix:tmpdir=" +
                        bus_.path().string() + "</listen><auth>EXTERNAL</auth><servicedir>" + services.string() +
                        "</servicedir><policy context=\"default\"><allow send_destination=\"*\"/><allow "
                        "own=\"*\"/><allow receive_sender=\"*\"/>"
                        "</policy></busconfig>\n");
    fs::create_directories(bus_.path() / "runtime");
  }

  // The program's exit status; its standard output and error in out/err.
  int Run(bool withBus) {
    std::vector<std::string> args;
    if (withBus) args = {"dbus-run-session", "--config-file=" + (bus_.path() / "bus.conf").string(), "--"};
    for (const char* a : {ZR_PROGRAM, "--verify", "--new", "--notify"}) args.emplace_back(a);
    // No way to any other bus: no address, an empty runtime folder, no display.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view v(*e);
      if (!v.starts_with("DBUS_SESSION_BUS_ADDRESS=") && !v.starts_with("XDG_RUNTIME_DIR=") &&
          !v.starts_with("DISPLAY=") && !v.starts_with("WAYLAND_DISPLAY=") && !v.starts_with("ASAN_OPTIONS=")) {
        env.emplace_back(v);
      }
    }
    env.push_back("XDG_RUNTIME_DIR=" + (bus_.path() / "runtime").string());
    env.push_back("ASAN_OPTIONS=detect_leaks=0");  // Qt keeps caches until exit
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (auto& a : args) argv.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string outFile = (bus_.path() / "out").string();
    const std::string errFile = (bus_.path() / "err").string();
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0) << argv[0];
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    out = test::ReadFile(outFile);
    err = test::ReadFile(errFile);
    return WEXITSTATUS(status);
  }
  fs::path received() const { return bus_.path() / "received"; }
  std::string Received() const { return fs::exists(received()) ? test::ReadFile(received()) : ""; }

  test::RealSuite suite;
  std::string out;
  std::string err;

 private:
  test::TempDir bus_;
};

TEST_F(DesktopNotifyTest, EachNewBrokenBackupIsNotifiedAndLoggedOnce) {
  demo::WriteBackupArchive(suite.backups() / "good.lzh", {});
  EXPECT_EQ(Run(true), kExitOk) << err;
  EXPECT_EQ(Lines(out), 1u);
  EXPECT_EQ(Received(), "");

  const fs::path damaged = suite.backups() / "a&b.lzh";
  demo::WriteBackupArchive(damaged, {"9.2.0", true, true});
  EXPECT_EQ(Run(true), kExitFailed) << err;
  EXPECT_EQ(out, "NG\t" + damaged.string() + "\t「Work\\ZrTuBun.wf6」が壊れています。\n");
  EXPECT_EQ(Received(),
            "ZrBunsyoRes\tバックアップ「a&amp;b.lzh」は復旧に使えません。\\n「Work\\ZrTuBun.wf6」が壊れています。\t"
            "uchar:2\tZrBunsyoRes\n")
      << err;
  std::string log = suite.ErrorLog();
  EXPECT_EQ(Lines(log), 1u);
  EXPECT_NE(log.find(damaged.string()), std::string::npos) << log;

  EXPECT_EQ(Run(true), kExitOk) << err;
  EXPECT_EQ(out, "");
  EXPECT_EQ(Lines(Received()), 1u);

  Rewrite(damaged, {"9.2.0", true, true, "別の日"});
  EXPECT_EQ(Run(true), kExitFailed) << err;
  EXPECT_EQ(Lines(Received()), 2u);
  EXPECT_EQ(Lines(suite.ErrorLog()), 2u);

  // No bus: the log line and stderr, the same status.
  Rewrite(damaged, {"9.2.0", true, true, "三日目"});
  EXPECT_EQ(Run(false), kExitFailed);
  EXPECT_EQ(Lines(Received()), 2u);
  EXPECT_EQ(Lines(suite.ErrorLog()), 3u);
  EXPECT_NE(err.find("デスクトップに通知できません"), std::string::npos) << err;
}

}  // namespace
}  // namespace zr::cli
