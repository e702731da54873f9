#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "cli/Commands.h"
#include "platform/replace/Journal.h"
#include "restore/History.h"
#include "restore/TemplateRestore.h"
#include "tests/restore/RealSuite.h"
#include "tests/restore/RestoreFixture.h"
#include "tests/support/CurrentDirectoryScope.h"
#include "tests/support/SuiteHomeScope.h"
#include "tools/demo/DemoBackups.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::cli {
namespace {

namespace fs = std::filesystem;
namespace lw = lzh::writer;

TEST(CommandLineTest, OneCommandWithItsOwnArguments) {
  EXPECT_EQ(ParseCommandLine({}).command, Command::Window);
  const Request verify = ParseCommandLine({"--verify", "a.lzh", "--", "-b.lzh"});
  EXPECT_EQ(verify.command, Command::Verify);
  EXPECT_EQ(verify.paths, (std::vector<std::string>{"a.lzh", "-b.lzh"}));
  const Request undo = ParseCommandLine({"--yes", "--undo"});
  EXPECT_EQ(undo.command, Command::Undo);
  EXPECT_TRUE(undo.yes);
  EXPECT_EQ(undo.undoEntry, "");
  const Request chosen = ParseCommandLine({"--undo", "12", "--yes"});
  EXPECT_EQ(chosen.command, Command::Undo);
  EXPECT_EQ(chosen.undoEntry, "00000012");
  EXPECT_TRUE(chosen.yes);
  EXPECT_EQ(ParseCommandLine({"--undo", "20261208-140211"}).undoEntry, "20261208-140211");
  for (const auto& wrong : std::vector<std::vector<std::string>>{
           {"--undo", "--history"},
           {"--undo", "0"},
           {"--undo", "1x"},
           {"--undo", "123456789"},
           {"--undo", "1", "2"},
           {"--yes"},
           {"--verfy"},
           {"x.lzh"},
           {"--history", "x"},
           {"--"},
           // Qt's options belong to the window; "--" forms and unknown ones stay ours to refuse.
           {"--verify", "-style", "Fusion"},
           {"--style", "Fusion"},
           {"-platform"},
           {"-stile", "x"}}) {
    EXPECT_EQ(ParseCommandLine(wrong).command, Command::UsageError) << wrong[0];
  }
  for (const auto& qt : std::vector<std::vector<std::string>>{{"-platform", "offscreen", "-style=Fusion", "-reverse"},
                                                              {"-display", ":1", "-geometry", "10x10"}}) {
    EXPECT_EQ(ParseCommandLine(qt).command, Command::Window) << qt[0];
  }
}

class CommandsTest : public ::testing::Test {
 protected:
  // A restore of a demo backup as the window runs it; the second template as it then stands.
  std::string RestoreThroughTheWindow() {
    demo::WriteBackupArchive(suite.backups() / "new.lzh", {"9.2.0", true, false, "新しい"});
    test::FakeRestoreWindow form;
    form.bkupPath = suite.backups().string() + "/";
    ui.Answer(rt::mb::AnswerOk);
    restore::MSubRestoreSyori(form, "new.lzh");
    return test::ReadFile(suite.data() / "Work/ZrTuBun.wf6");
  }

  int Run(const Request& request, const std::string& input = "", bool terminal = false, bool display = false) {
    in.str(input);
    out.str("");
    err.str("");
    Console console{in, out, err, terminal, display};
    return RunCommand(request, console);
  }
  Request Verify(std::vector<std::string> paths) {
    Request r;
    r.command = Command::Verify;
    r.paths = std::move(paths);
    return r;
  }
  Request Undo(bool yes) {
    Request r;
    r.command = Command::Undo;
    r.yes = yes;
    return r;
  }

  test::RealSuite suite;
  test::ScriptedInteraction ui;
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
};

TEST_F(CommandsTest, VerifyGivesEveryArchiveItsVerdict) {
  const fs::path folder = suite.backups();
  demo::WriteBackupArchive(folder / "a_good.lzh", {});
  demo::WriteBackupArchive(folder / "b_v930.lzh", {"9.3.0"});
  demo::WriteBackupArchive(folder / "c_nocomn.lzh", {"", false});
  demo::WriteBackupArchive(folder / "d_damaged.lzh", {"9.2.0", true, true});
  lw::WriteArchiveFile(
      folder / "e_notemplate.lzh",
      {lw::MakeMember("Data\\ZrXXComn.wf6", demo::CommonDatabase("9.1.0")), lw::MakeMember("Work\\ZrBunsyo.wf6", "b")});
  auto other = lw::MakeMember("Data\\その他.wf6", "other", 2, lw::Method::Lh5);
  other.faults.dataCrc = true;
  lw::WriteArchiveFile(folder / "f_otherdamage.lzh",
                       {other, lw::MakeMember("Data\\ZrXXComn.wf6", demo::CommonDatabase("9.0.0")),
                        lw::MakeMember("Work\\ZrBunsyo.wf6", "b"), lw::MakeMember("Work\\ZrTuBun.wf6", "t")});
  test::WriteFile(folder / "g_text.lzh", "not an archive");
  test::WriteFile(folder / "h_zeros.lzh", std::string(4096, '\0'));
  const auto good = [](const char* version) {
    return std::vector<lw::Member>{lw::MakeMember("Data\\ZrXXComn.wf6", demo::CommonDatabase(version)),
                                   lw::MakeMember("Work\\ZrBunsyo.wf6", "b"), lw::MakeMember("Work\\ZrTuBun.wf6", "t")};
  };
  auto lh1 = good("9.2.0");
  lh1[2].faults.methodId = "-lh1-";
  lw::WriteArchiveFile(folder / "i_lh1.lzh", lh1);
  auto twice = good("9.2.0");
  auto earlier = lw::MakeMember("Work\\ZrTuBun.wf6", "old", 2, lw::Method::Lh5);
  earlier.faults.dataCrc = true;
  auto lzs = lw::MakeMember("Data\\古い.wf6", "packed", 0);
  lzs.faults.methodId = "-lzs-";
  twice.insert(twice.begin(), {earlier, lzs});
  lw::WriteArchiveFile(folder / "j_twice.lzh", twice);
  auto badHeader = good("9.2.0");
  badHeader[1].faults.headerCrc = true;
  lw::WriteArchiveFile(folder / "k_header.lzh", badHeader);

  EXPECT_EQ(Run(Verify({folder.parent_path().string()})), kExitFailed);
  const std::string f = folder.string() + "/";
  EXPECT_EQ(
      out.str(),
      "OK\t" + f +
          "a_good.lzh\t9.2.0\n"  //
          "NG\t" +
          f +
          "b_v930.lzh\tデータのバージョン9.3.0は復旧の対象外です（9.0.0、9.1.0、9.2.0が対象）。\n"  //
          "NG\t" +
          f +
          "c_nocomn.lzh\tバックアップデータのバージョンが不明です。\n"  //
          "NG\t" +
          f +
          "d_damaged.lzh\t「Work\\ZrTuBun.wf6」が壊れています。\n"  //
          "NG\t" +
          f +
          "e_notemplate.lzh\t「Work\\ZrTuBun.wf6」がありません。\n"  //
          "OK\t" +
          f +
          "f_otherdamage.lzh\t9.0.0\t「Data\\その他.wf6」が壊れています。\n"  //
          "NG\t" +
          f + "g_text.lzh\tLZH形式のファイルではありません。\n" +            //
          "NG\t" + f + "h_zeros.lzh\tLZH形式のファイルではありません。\n" +  //
          "NG\t" + f +
          "i_lh1.lzh\t「Work\\ZrTuBun.wf6」は圧縮方式 -lh1- で格納されていて、このツールでは展開できません。\n" +
          "OK\t" + f +
          "j_twice.lzh\t9.2.0\t使われない前の「Work\\ZrTuBun.wf6」が壊れています（復旧には最後のものを使います）、"
          "「Data\\古い.wf6」は圧縮方式 -lzs- で格納されていて、このツールでは展開できません。\n" +
          "NG\t" + f + "k_header.lzh\tバックアップファイルが壊れています（ヘッダーのCRCが一致しません）。\n");
  EXPECT_EQ(err.str(), "") << "no progress where stderr is no terminal";
  EXPECT_TRUE(fs::is_empty(suite.temp()));

  EXPECT_EQ(Run(Verify({f + "a_good.lzh"})), kExitOk);
  EXPECT_EQ(Run(Verify({f + "missing.lzh"})), kExitFailed);
  EXPECT_EQ(out.str().substr(0, 3), "NG\t");
  Request wrong;
  wrong.command = Command::UsageError;
  EXPECT_EQ(Run(wrong), kExitUsage);
}

// Whatever a path is, the verdict comes at once, on one line of three fields,
// with the name escaped as `ls --quoting-style=escape` would.
TEST_F(CommandsTest, VerifyGivesOddPathsOneEscapedLineEach) {
  const fs::path dir = suite.home() / "odd";
  fs::create_directories(dir);
  ASSERT_EQ(mkfifo((dir / "fifo.lzh").c_str(), 0600), 0);
  fs::create_symlink(dir / "fifo.lzh", dir / "link.lzh");
  const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{AF_UNIX, {}};
  const std::string socketPath = (dir / "socket.lzh").string();
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const std::string d = dir.string() + "/";
  const std::pair<std::string, std::string> cases[] = {
      {d + "fifo.lzh", d + "fifo.lzh\tバックアップファイルではありません（名前付きパイプ（FIFO）です）。("},
      {d + "link.lzh", d + "link.lzh\tバックアップファイルではありません（名前付きパイプ（FIFO）です）。("},
      {"/dev/null", "/dev/null\tバックアップファイルではありません（キャラクタデバイスです）。("},
      {d + "socket.lzh", d + "socket.lzh\tバックアップファイルではありません（ソケットです）。("},
      {d + "tab\tname.lzh", d + "tab\\tname.lzh\t9.2.0"},
      {d + "new\nline\r.lzh", d + "new\\nline\\r.lzh\t9.2.0"},
      {d + "\x1b[31mred\xff\\.lzh", d + "\\033[31mred\\377\\\\.lzh\t9.2.0"},
  };
  for (const auto& [path, line] : cases) {
    if (line.find("9.2.0") != std::string::npos) demo::WriteBackupArchive(path, {});
    SCOPED_TRACE(line);
    Run(Verify({path}));
    const std::string shown = out.str();
    EXPECT_EQ(shown.substr(3, line.size()), line);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 1);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\t'), 2);
  }
  close(socket);
  // A folder lists regular files only, so its FIFO is not even looked at.
  EXPECT_EQ(Run(Verify({dir.string()})), kExitOk);
  const std::string listed = out.str();
  EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 3);
}

TEST_F(CommandsTest, VerifyRefusesATemporaryFolderInsideTheDataFolder) {
  const std::string data = suite.data().string();
  demo::WriteBackupArchive(suite.backups() / "a.lzh", {});
  for (const std::string& temp : {data, data + "/Data/"}) {
    fs::create_directories(temp);
    test::WriteFile(suite.home() / "suite.ini", "[Common]\nDataPath=" + data + "/\n[COM]\nTEMP_PATH=" + temp + "\n");
    EXPECT_EQ(Run(Verify({suite.backups().string()})), kExitFailed);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("実行時エラー 76: 一時フォルダ（COM の TEMP_PATH）がデータフォルダ"), std::string::npos);
  }
}

TEST_F(CommandsTest, HistoryPrintsRecordedValuesEscaped) {
  test::WriteFile(suite.history() / "20261208-140211/restore.ini",
                  "[RESTORE]\ntime=2026-12-08\t14:02:11\narchive=/m/\x1b]0;title\x07\xff.lzh\n");
  Request history;
  history.command = Command::History;
  EXPECT_EQ(Run(history), kExitOk);
  EXPECT_EQ(out.str(), "20261208-140211\t2026-12-08\\t14:02:11\t復旧\t/m/\\033]0;title\\a\\377.lzh\n");
}

TEST_F(CommandsTest, UndoPutsTheNewestEntryBackAndCanItselfBeUndone) {
  demo::WriteLiveTemplates(suite.data());
  const std::string before = test::ReadFile(suite.data() / "Work/ZrTuBun.wf6");
  EXPECT_EQ(Run(Undo(true)), kExitFailed) << "no history yet";
  EXPECT_NE(err.str().find("履歴がありません"), std::string::npos);

  const std::string restored = RestoreThroughTheWindow();
  ASSERT_NE(restored, before) << ui.Seen();

  EXPECT_EQ(Run(Undo(false), "n\n", true), kExitFailed);
  EXPECT_EQ(test::ReadFile(suite.data() / "Work/ZrTuBun.wf6"), restored);

  EXPECT_EQ(Run(Undo(false), "y\n", true), kExitOk) << err.str();
  EXPECT_EQ(test::ReadFile(suite.data() / "Work/ZrTuBun.wf6"), before);
  auto entries = restore::ListHistory(suite.history());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].fromUndo);

  EXPECT_EQ(Run(Undo(true)), kExitOk);
  EXPECT_EQ(test::ReadFile(suite.data() / "Work/ZrTuBun.wf6"), restored);

  Request history;
  history.command = Command::History;
  EXPECT_EQ(Run(history), kExitOk);
  const std::string listed = out.str();
  EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 3);
  EXPECT_NE(listed.find("\t元に戻す\t"), std::string::npos);

  // From the desktop: the confirmation box, then the result box.
  ui.Answer(rt::mb::AnswerCancel);
  EXPECT_EQ(Run(Undo(false), "", false, true), kExitFailed);
  ui.Answer(rt::mb::AnswerOk);
  ui.Answer(rt::mb::AnswerOk);
  EXPECT_EQ(Run(Undo(false), "", false, true), kExitOk);
  ASSERT_GE(ui.boxes().size(), 2u);
  EXPECT_EQ(ui.boxes().back().style, rt::mb::Information | rt::mb::OkOnly);
  EXPECT_EQ(ui.boxes()[ui.boxes().size() - 2].style, rt::mb::Exclamation | rt::mb::OkCancel);
  EXPECT_EQ(test::ReadFile(suite.data() / "Work/ZrTuBun.wf6"), before);

  {
    // Another suite program running keeps the undo away, as it keeps the window away.
    test::LockHolder other({"ZrAssessment"});
    ui.Answer(rt::mb::AnswerOk);
    EXPECT_EQ(Run(Undo(true)), kExitFailed);
    EXPECT_EQ(test::ReadFile(suite.data() / "Work/ZrTuBun.wf6"), before);
  }

  suite.Settings("10.0.1", suite.data().string());
  EXPECT_EQ(Run(Undo(true)), kExitFailed);
  EXPECT_EQ(test::ReadFile(suite.data() / "Work/ZrTuBun.wf6"), before);

  // A data folder relative to wherever the command was started is refused, as the window refuses it.
  suite.Settings("10.0.0", "data");
  test::CurrentDirectoryScope cwd(suite.home() / "temp");
  EXPECT_EQ(Run(Undo(true)), kExitFailed);
  EXPECT_NE(err.str().find("展開先のフォルダーが正しくありません"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(suite.home() / "temp/data"));
}

TEST_F(CommandsTest, AnEntryUndoCannotTakeBackIsNamedAndAnyOtherCanBeChosen) {
  demo::WriteLiveTemplates(suite.data());
  const std::string before = test::ReadFile(suite.data() / "Work/ZrTuBun.wf6");
  // A stray that once made every undo fail.
  fs::create_directories(suite.history() / "999999999999999999/Work");
  const std::string restored = RestoreThroughTheWindow();
  ASSERT_NE(restored, before) << ui.Seen();
  // Newest: a recovery's old copies, with nothing known of the templates.
  test::WriteFile(suite.home() / "copies/old", "x");
  const int fd = open((suite.home() / "copies").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  restore::HistoryJournal(suite.history())->Salvage(fd, {{"old", {}}});
  close(fd);

  Request history;
  history.command = Command::History;
  EXPECT_EQ(Run(history), kExitOk);
  EXPECT_EQ(out.str().substr(0, 2), "2\t");
  EXPECT_NE(out.str().find("\t回収\t"), std::string::npos);
  EXPECT_NE(out.str().find("\n1\t"), std::string::npos) << out.str();

  EXPECT_EQ(Run(Undo(true)), kExitFailed);
  EXPECT_NE(err.str().find("この履歴からは戻せません。"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("番号 2"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("--undo 番号"), std::string::npos) << err.str();
  EXPECT_EQ(Run(ParseCommandLine({"--undo", "9", "--yes"})), kExitFailed);
  EXPECT_NE(err.str().find("番号 9 の履歴はありません"), std::string::npos) << err.str();
  EXPECT_EQ(test::ReadFile(suite.data() / "Work/ZrTuBun.wf6"), restored);
  EXPECT_EQ(Run(ParseCommandLine({"--undo", "1", "--yes"})), kExitOk) << err.str();
  EXPECT_EQ(test::ReadFile(suite.data() / "Work/ZrTuBun.wf6"), before);

  // Refused for what it holds, found only once the undo has begun.
  const fs::path newest = restore::ListHistory(suite.history()).front().folder;
  fs::remove(newest / "Work/ZrTuBun.wf6");
  fs::create_symlink(suite.home() / "elsewhere", newest / "Work/ZrTuBun.wf6");
  EXPECT_EQ(Run(Undo(true)), kExitFailed);
  EXPECT_NE(err.str().find("実行時エラー 75: この履歴からは戻せません。"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("番号 3"), std::string::npos) << err.str();
  EXPECT_EQ(test::ReadFile(suite.data() / "Work/ZrTuBun.wf6"), before);
}

}  // namespace
}  // namespace zr::cli
