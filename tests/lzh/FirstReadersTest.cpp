// The first readers of a process, made on several threads at once, read a
// sound archive as sound: nothing they share is still being set up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/lzh/HeaderWalk.h"
#include "platform/lzh/MemberReader.h"
#include "platform/runtime/RuntimeError.h"
#include "tests/lzh/LzhTestSupport.h"

namespace zr::lzh::test {
namespace {

constexpr int kThreads = 4;

struct Shared {
  int fd = -1;
  uint64_t size = 0;
  const IndexedMember* member = nullptr;
  std::string archive;
  pthread_barrier_t start{};
};

void* ReadWhole(void* arg) {
  auto* shared = static_cast<Shared*>(arg);
  pthread_barrier_wait(&shared->start);
  try {
    MemberReader reader(shared->fd, shared->size, *shared->member, shared->archive, "member");
    const void* data = nullptr;
    std::size_t size = 0;
    while (reader.Next(data, size)) {
    }
    return nullptr;
  } catch (const rt::RuntimeError&) {
    return arg;
  }
}

// Each child is a fresh process whose readers start together; a half-set-up
// table shows as a header or data CRC error in one or two children of a hundred.
TEST(LzhFirstReaders, ReadersStartedTogetherInAFreshProcessAgree) {
  Shared shared;
  shared.archive = FixturePath("lh5_h2.lzh").string();
  shared.fd = open(shared.archive.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(shared.fd, 0);
  struct stat st {};
  ASSERT_EQ(0, fstat(shared.fd, &st));
  shared.size = static_cast<uint64_t>(st.st_size);
  const std::vector<IndexedMember> members = WalkHeaders(shared.fd, shared.size, shared.archive);
  ASSERT_FALSE(members.empty());
  shared.member = &members.back();

  int failed = 0;
  for (int child = 0; child < 500; ++child) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      pthread_barrier_init(&shared.start, nullptr, kThreads);
      pthread_t threads[kThreads];
      for (pthread_t& t : threads) pthread_create(&t, nullptr, ReadWhole, &shared);
      bool any = false;
      for (pthread_t& t : threads) {
        void* result = nullptr;
        pthread_join(t, &result);
        any = any || result != nullptr;
      }
      _exit(any ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
  }
  close(shared.fd);
  EXPECT_EQ(0, failed);
}

}  // namespace
}  // namespace zr::lzh::test
