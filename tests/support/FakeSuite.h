#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/runtime/RuntimeError.h"
#include "suite/Components.h"

namespace zr::test {

// One call to a fake component, with its arguments as the callee saw them.
struct SuiteCall {
  std::string operation;
  std::vector<std::string> arguments;
};

struct LogEntry {
  std::string name;
  std::string procedure;
  std::string entry;
  int32_t info = 0;
};

// What the fake components answer and what they were asked. Every instance
// the factory creates shares one state, as the real suite's instances share
// the suite's files.
struct FakeSuiteState {
  // Keyed "SECTION|key"; sections and keys compare as written.
  std::map<std::string, std::string> settings;
  // Keyed "file|SECTION|key"; an empty file name is the suite's own settings.
  std::map<std::string, std::string> iniValues;

  std::function<void(suite::SuiteBool&)> registerProgram;
  std::function<void(suite::SuiteBool&)> isStartAllowed = [](suite::SuiteBool& flag) { flag = suite::kTrue; };
  int32_t gateAnswer = 0;
  std::string programName = "ZrBunsyoRes";
  int32_t programInfo = 4242;
  std::string browseResult;
  std::function<void(const std::string& archive, const std::string& destination, int16_t mode,
                     std::vector<std::string>& members, int16_t& result)>
      extract;
  // ExtractArchiveToRead: the folder by descriptor, and the files handed back.
  std::function<void(const std::string& archive, int destinationFd, int16_t mode, std::vector<std::string>& members,
                     int16_t& result, std::vector<rt::UniqueFd>& files)>
      extractToRead;

  // Operation name -> error to raise instead of answering.
  std::map<std::string, rt::RuntimeError> failures;
  // How many more instances may be created; nullopt for no limit.
  std::optional<int> instancesLeft;

  std::vector<SuiteCall> calls;
  std::vector<LogEntry> log;
  int liveInstances = 0;
  int createdInstances = 0;

  // Noticeboard calls, in order ("Message:…", "Visible:-1", "Refresh").
  std::vector<std::string> noticeCalls;

  std::vector<std::string> Operations() const;
  void FailWith(const std::string& operation, int32_t number, const std::string& description);
};

// Installs fake components for the life of the object and restores the
// previous factory afterwards.
class FakeSuiteScope {
 public:
  FakeSuiteScope();
  ~FakeSuiteScope();
  FakeSuiteScope(const FakeSuiteScope&) = delete;
  FakeSuiteScope& operator=(const FakeSuiteScope&) = delete;

  FakeSuiteState& state() { return *state_; }

 private:
  std::shared_ptr<FakeSuiteState> state_;
  suite::ComponentFactory previous_;
};

}  // namespace zr::test
