#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace zr::test {

// Sets an environment variable (or removes it, for nullopt) and puts the old
// value back afterwards.
class EnvScope {
 public:
  EnvScope(std::string name, std::optional<std::string> value);
  ~EnvScope();
  EnvScope(const EnvScope&) = delete;
  EnvScope& operator=(const EnvScope&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// A suite home of its own in a fresh folder, through $AOBANAVI_HOME.
class SuiteHomeScope {
 public:
  SuiteHomeScope() : env_("AOBANAVI_HOME", dir_.path().string()) {}
  const std::filesystem::path& home() const { return dir_.path(); }

 private:
  TempDir dir_;
  EnvScope env_;
};

// Runs `work` in a forked child and returns its exit status (or 128 + the
// signal that ended it). The child ends with _exit, so none of the parent's
// clean-up runs twice.
int RunInChild(const std::function<int()>& work);

// A forked child that registers the given program identifiers with the local
// suite and holds them until it is released or killed.
class LockHolder {
 public:
  explicit LockHolder(std::vector<std::string> programIds);
  ~LockHolder();
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  // Lets the child end normally; returns its exit status.
  int Release();
  // Ends the child with SIGKILL, as a crash would.
  void Kill();

 private:
  pid_t child_ = -1;
  int release_ = -1;
};

}  // namespace zr::test
