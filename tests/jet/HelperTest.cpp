#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <set>

#include "platform/jet/Dao.h"
#include "platform/jet/Protocol.h"
#include "platform/jet/ReadHelper.h"
#include "tests/jet/JetTestSupport.h"
#include "tests/support/TempDir.h"

// The helper program zr-jet-read, started for real from the build folder
// beside this test program.
namespace zr::jet::detail {
namespace {

using test::ErrorOf;

TEST(JetHelperMessagesTest, EveryMessageComesBackWhole) {
  ReadOutcome sent;
  sent.status = ReadStatus::Ok;
  sent.values = {std::string("9.2.0"), std::nullopt, std::string(), std::string("日本語"), std::string(100000, 'x')};
  sent.pagesRead = 7;
  auto got = DecodeOutcome(EncodeOutcome(sent));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->status, ReadStatus::Ok);
  EXPECT_EQ(got->values, sent.values);
  EXPECT_EQ(got->pagesRead, 7u);

  for (const SelectQuery& query :
       {SelectQuery{"VALUECHAR", "XC_CONTROL", "ITEM", "ZrVer"}, SelectQuery{"列", "表", std::nullopt, ""}}) {
    auto request = DecodeRequest(EncodeSelect(query));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->kind, Request::Kind::Select);
    EXPECT_EQ(request->query.column, query.column);
    EXPECT_EQ(request->query.table, query.table);
    EXPECT_EQ(request->query.whereColumn, query.whereColumn);
    EXPECT_EQ(request->query.literal, query.literal);
  }
  auto open = DecodeRequest(EncodeOpen(test::kConnect));
  ASSERT_TRUE(open);
  EXPECT_EQ(open->kind, Request::Kind::Open);
  EXPECT_EQ(open->connect, test::kConnect);
  EXPECT_EQ(DecodeVerdict(EncodeVerdict(OpenVerdict::WrongPassword)), OpenVerdict::WrongPassword);
}

TEST(JetHelperMessagesTest, MalformedMessagesAreRefused) {
  ReadOutcome o;
  o.status = ReadStatus::Ok;
  o.values = {std::string("abc"), std::nullopt};
  const std::string good = EncodeOutcome(o);
  for (std::size_t cut = 0; cut < good.size(); ++cut) EXPECT_FALSE(DecodeOutcome(good.substr(0, cut))) << cut;
  EXPECT_FALSE(DecodeOutcome(good + "x"));
  std::string badStatus = good;
  badStatus[0] = 9;
  EXPECT_FALSE(DecodeOutcome(badStatus));
  std::string hugeCount = good;
  hugeCount[9] = '\xff';
  hugeCount[10] = '\xff';
  EXPECT_FALSE(DecodeOutcome(hugeCount));

  const std::string select = EncodeSelect({"VALUECHAR", "XC_CONTROL", "ITEM", "ZrVer"});
  for (std::size_t cut = 0; cut < select.size(); ++cut) EXPECT_FALSE(DecodeRequest(select.substr(0, cut))) << cut;
  EXPECT_FALSE(DecodeRequest(select + "x"));
  EXPECT_FALSE(DecodeRequest("X"));
  EXPECT_FALSE(DecodeVerdict("\x03"));
  EXPECT_FALSE(DecodeVerdict(""));
}

class JetHelperTest : public ::testing::Test {
 protected:
  JetHelperTest() {
    path = dir.path() / "ZrXXComn.wf6";
    zr::test::WriteFile(path, writer::Build(test::CommonDatabase({{"ZrVer", "9.2.0"}})));
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  ~JetHelperTest() override {
    close(fd);
    unsetenv(kHelperOverride);
  }

  int32_t ReadVersionError(std::string* description = nullptr) {
    return ErrorOf(
        [&] {
          auto db = Engine().Workspaces(0).OpenDatabase(path.string(), true, true, test::kConnect);
          db->OpenRecordset(test::kVersionQuery, dbOpenSnapshot);
        },
        description);
  }

  zr::test::TempDir dir;
  std::filesystem::path path;
  int fd;
};

TEST_F(JetHelperTest, GetsNothingButTheDatabaseAndItsSocket) {
  ReadHelper helper(fd);
  ASSERT_EQ(helper.Ask(EncodeOpen(test::kConnect)), EncodeVerdict(OpenVerdict::Ok));
  const auto fds = std::filesystem::path("/proc") / std::to_string(helper.pid()) / "fd";
  std::set<std::string> open;
  for (const auto& entry : std::filesystem::directory_iterator(fds)) open.insert(entry.path().filename());
  EXPECT_EQ(open, (std::set<std::string>{"0", "1", "2"}));
  EXPECT_EQ(std::filesystem::read_symlink(fds / "0"), std::filesystem::canonical(path));
  EXPECT_EQ(std::filesystem::read_symlink(fds / "1").string().rfind("socket:", 0), 0u);
  EXPECT_EQ(std::filesystem::read_symlink(fds / "2"), "/dev/null");
}

TEST_F(JetHelperTest, AHelperThatDiesOrTalksNonsenseIsAnUnreadableFile) {
  {
    ReadHelper helper(fd);
    ASSERT_EQ(kill(helper.pid(), SIGKILL), 0);
    EXPECT_EQ(helper.Ask(EncodeOpen(test::kConnect)), std::nullopt);
    EXPECT_EQ(helper.Ask(EncodeOpen(test::kConnect)), std::nullopt) << "a helper that failed once is done";
  }
  {
    // A question out of form, or out of turn, ends the helper without an answer.
    ReadHelper helper(fd);
    EXPECT_EQ(helper.Ask("nonsense"), std::nullopt);
    ReadHelper early(fd);
    EXPECT_EQ(early.Ask(EncodeSelect({"VALUECHAR", "XC_CONTROL", std::nullopt, ""})), std::nullopt);
  }
  // A "helper" that answers with the database's own bytes.
  setenv(kHelperOverride, "/bin/cat", 1);
  EXPECT_EQ(ReadVersionError(), rt::err::JetUnrecognizedFormat);
}

TEST_F(JetHelperTest, AHelperPastItsDeadlineIsEnded) {
  const std::string hangs =
      zr::test::ReadFile(std::filesystem::path(ZR_SOURCE_DIR) / "fuzz/jet/corpus/libmdb-hang-long-value-cycle");
  ASSERT_FALSE(hangs.empty());
  zr::test::WriteFile(path, hangs);
  const auto saved = HelperDeadline();
  SetHelperDeadline(std::chrono::milliseconds(300));
  ReadHelper helper(fd);
  const pid_t pid = helper.pid();
  EXPECT_EQ(helper.Ask(EncodeOpen(test::kConnect)), std::nullopt);
  SetHelperDeadline(saved);
  EXPECT_NE(kill(pid, 0), 0) << "the helper still runs";
}

TEST_F(JetHelperTest, AMissingOrUnstartableHelperIsToldWithWhereItWasLookedFor) {
  EXPECT_EQ(HelperCandidates("/opt/zr/bin"),
            (std::vector<std::filesystem::path>{"/opt/zr/bin/zr-jet-read", "/opt/zr/libexec/zrbunsyores/zr-jet-read"}));
  std::string text;
  const std::string missing = (dir.path() / "none" / "zr-jet-read").string();
  setenv(kHelperOverride, missing.c_str(), 1);
  EXPECT_EQ(ReadVersionError(&text), rt::err::FileNotFound);
  EXPECT_NE(text.find(missing), std::string::npos) << text;

  const auto notRunnable = dir.path() / "zr-jet-read";
  zr::test::WriteFile(notRunnable, "not a program");
  chmod(notRunnable.c_str(), 0644);
  setenv(kHelperOverride, notRunnable.c_str(), 1);
  EXPECT_EQ(ErrorOf([&] { ReadHelper helper(fd); }, &text), rt::err::PermissionDenied);
  EXPECT_NE(text.find(notRunnable.string()), std::string::npos) << text;
}

// The program dies while something else still holds the far end of the
// helper's socket, so only the death signal can end the helper.
TEST_F(JetHelperTest, TheHelperEndsWithTheProgram) {
  int report[2], hold[2];
  ASSERT_EQ(pipe(report), 0);
  ASSERT_EQ(pipe(hold), 0);
  const pid_t program = fork();
  ASSERT_GE(program, 0);
  if (program == 0) {
    ReadHelper helper(fd);
    if (!helper.Ask(EncodeOpen(test::kConnect))) _exit(1);
    if (fork() == 0) {
      close(hold[1]);
      char c;
      (void)read(hold[0], &c, 1);
      _exit(0);
    }
    const pid_t pid = helper.pid();
    (void)write(report[1], &pid, sizeof pid);
    raise(SIGKILL);
  }
  close(report[1]);
  close(hold[0]);
  pid_t helper = -1;
  ASSERT_EQ(read(report[0], &helper, sizeof helper), static_cast<ssize_t>(sizeof helper));
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, helper, 0));
  int status = 0;
  waitpid(program, &status, 0);
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 60000), 1) << "the helper outlived its program";
    close(pidfd);
  } else {
    EXPECT_EQ(errno, ESRCH);
  }
  close(hold[1]);
  close(report[0]);
}

}  // namespace
}  // namespace zr::jet::detail
