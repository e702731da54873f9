#include "tests/support/SuiteHomeScope.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "suite/local/LocalSuiteServices.h"

namespace zr::test {
namespace {

int Reap(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

EnvScope::EnvScope(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) previous_ = old;
  if (value) {
    setenv(name_.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

EnvScope::~EnvScope() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

int RunInChild(const std::function<int()>& work) {
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    int code = 99;
    try {
      code = work();
    } catch (...) {
      code = 98;
    }
    _exit(code);
  }
  return Reap(child);
}

LockHolder::LockHolder(std::vector<std::string> programIds) {
  int ready[2];
  int release[2];
  if (pipe(ready) != 0 || pipe(release) != 0) throw std::runtime_error("pipe failed");
  child_ = fork();
  if (child_ < 0) throw std::runtime_error("fork failed");
  if (child_ == 0) {
    close(ready[0]);
    close(release[1]);
    char answer = 'y';
    try {
      suite::LocalSuiteServices services;
      for (auto& id : programIds) {
        suite::SuiteBool flag = suite::kFalse;
        services.RegisterProgram(id, flag);
        if (flag == suite::kFalse) answer = 'n';
      }
    } catch (...) {
      answer = 'e';
    }
    if (write(ready[1], &answer, 1) != 1) _exit(97);
    // Holds the locks until the parent closes its end of the pipe.
    char ignored;
    while (read(release[0], &ignored, 1) < 0 && errno == EINTR) {
    }
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  release_ = release[1];
  char answer = 0;
  const ssize_t n = read(ready[0], &answer, 1);
  close(ready[0]);
  if (n != 1 || answer != 'y') {
    ADD_FAILURE() << "the lock-holding child could not register (" << answer << ")";
  }
}

LockHolder::~LockHolder() {
  if (child_ > 0) Release();
}

int LockHolder::Release() {
  if (release_ >= 0) close(release_);
  release_ = -1;
  const int status = child_ > 0 ? Reap(child_) : -1;
  child_ = -1;
  return status;
}

void LockHolder::Kill() {
  if (child_ > 0) {
    kill(child_, SIGKILL);
    EXPECT_EQ(Reap(child_), 128 + SIGKILL);
  }
  child_ = -1;
  if (release_ >= 0) close(release_);
  release_ = -1;
}

}  // namespace zr::test
