#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/jet/Dao.h"
#include "tests/jet/JetTestSupport.h"
#include "tests/support/TempDir.h"

namespace zr::jet {
namespace {

using test::ErrorOf;

// Another program holding the file: a child process that locks it and
// keeps the lock until the holder is destroyed.
class OtherProgram {
 public:
  enum Kind { Flock, PosixWrite, PosixRead };

  OtherProgram(const std::string& path, Kind kind) {
    int ready[2];
    if (pipe(ready) != 0 || pipe(release_) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release_[1]);
      int fd = open(path.c_str(), kind == PosixRead ? O_RDONLY : O_RDWR);
      bool locked = false;
      if (fd >= 0 && kind == Flock) {
        locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
      } else if (fd >= 0) {
        struct flock lk {};
        lk.l_type = kind == PosixRead ? F_RDLCK : F_WRLCK;
        lk.l_whence = SEEK_SET;
        locked = fcntl(fd, F_SETLK, &lk) == 0;
      }
      char c = locked ? 'y' : 'n';
      if (write(ready[1], &c, 1) != 1) _exit(1);
      (void)read(release_[0], &c, 1);
      _exit(0);
    }
    close(ready[1]);
    close(release_[0]);
    char c = 0;
    locked_ = read(ready[0], &c, 1) == 1 && c == 'y';
    close(ready[0]);
  }

  ~OtherProgram() {
    close(release_[1]);
    int status;
    waitpid(pid_, &status, 0);
  }

  bool locked() const { return locked_; }

 private:
  pid_t pid_ = -1;
  int release_[2] = {-1, -1};
  bool locked_ = false;
};

class JetLockTest : public ::testing::Test {
 protected:
  JetLockTest() : path((dir.path() / "ZrXXComn.wf6").string()) {
    writer::Write(path, test::CommonDatabase({{"ZrVer", "9.2.0"}}));
  }

  std::unique_ptr<Database> Open(bool exclusive) {
    return Engine().Workspaces(0).OpenDatabase(path, exclusive, true, test::kConnect);
  }

  zr::test::TempDir dir;
  std::string path;
};

TEST_F(JetLockTest, ASecondOpenIsRefusedWhileTheFirstHoldsTheFile) {
  auto first = Open(true);
  std::string text;
  EXPECT_EQ(ErrorOf([&] { Open(true); }, &text), rt::err::JetFileInUse);
  EXPECT_NE(text.find("ZrXXComn.wf6"), std::string::npos);
  EXPECT_EQ(ErrorOf([&] { Open(false); }), rt::err::JetFileInUse);
  first->Close();
  EXPECT_NO_THROW(Open(true));
}

TEST_F(JetLockTest, SharedOpensCoexistButKeepExclusiveOnesOut) {
  auto a = Open(false);
  auto b = Open(false);
  EXPECT_EQ(ErrorOf([&] { Open(true); }), rt::err::JetFileInUse);
  a.reset();
  b.reset();
  EXPECT_NO_THROW(Open(true));
}

TEST_F(JetLockTest, ALockHeldByAnotherProgramRefusesTheOpen) {
  for (auto kind : {OtherProgram::Flock, OtherProgram::PosixWrite, OtherProgram::PosixRead}) {
    {
      OtherProgram other(path, kind);
      ASSERT_TRUE(other.locked()) << kind;
      EXPECT_EQ(ErrorOf([&] { Open(true); }), rt::err::JetFileInUse) << kind;
    }
    EXPECT_NO_THROW(Open(true)) << kind;
  }
}

TEST_F(JetLockTest, AnotherProgramCannotLockWhileWeHoldTheFile) {
  auto held = Open(true);
  EXPECT_FALSE(OtherProgram(path, OtherProgram::Flock).locked());
  EXPECT_FALSE(OtherProgram(path, OtherProgram::PosixWrite).locked());
}

}  // namespace
}  // namespace zr::jet
