#include "tests/support/FakeSuite.h"

#include <utility>

namespace zr::test {
namespace {

void Record(FakeSuiteState& s, std::string operation, std::vector<std::string> arguments) {
  s.calls.push_back({operation, std::move(arguments)});
  auto failure = s.failures.find(operation);
  if (failure != s.failures.end()) throw failure->second;
}

bool TakeInstance(FakeSuiteState& s) {
  if (s.instancesLeft) {
    if (*s.instancesLeft <= 0) return false;
    --*s.instancesLeft;
  }
  ++s.createdInstances;
  return true;
}

class FakeServices : public suite::SuiteServices {
 public:
  explicit FakeServices(std::shared_ptr<FakeSuiteState> s) : s_(std::move(s)) { ++s_->liveInstances; }
  ~FakeServices() override { --s_->liveInstances; }

  void ReadIniValue(std::string section, std::string key, std::string& iniFileName, std::string& value) override {
    Record(*s_, "ReadIniValue", {section, key, iniFileName});
    auto it = s_->iniValues.find(iniFileName + "|" + section + "|" + key);
    value = it == s_->iniValues.end() ? std::string() : it->second;
  }
  void ReadSetting(std::string& section, std::string& key, std::string& value) override {
    Record(*s_, "ReadSetting", {section, key});
    auto it = s_->settings.find(section + "|" + key);
    value = it == s_->settings.end() ? std::string() : it->second;
  }
  void IsStartAllowed(suite::SuiteBool& startFlag) override {
    Record(*s_, "IsStartAllowed", {std::to_string(startFlag)});
    if (s_->isStartAllowed) s_->isStartAllowed(startFlag);
  }
  void GetProgramInfo(rt::ApplicationObject application, std::string& name, std::string& text, int32_t& info) override {
    Record(*s_, "GetProgramInfo", {application.title});
    name = s_->programName;
    text = application.path;
    info = s_->programInfo;
  }
  void RegisterProgram(std::string& programId, suite::SuiteBool& startFlag) override {
    Record(*s_, "RegisterProgram", {programId, std::to_string(startFlag)});
    if (s_->registerProgram) s_->registerProgram(startFlag);
  }
  void WriteErrorLog(std::string name, std::string procedureName, std::string entry, int32_t& info) override {
    Record(*s_, "WriteErrorLog", {name, procedureName, entry, std::to_string(info)});
    s_->log.push_back({name, procedureName, entry, info});
  }
  void BrowseFolder(int32_t ownerWindow, std::string text, std::string initialFolder,
                    std::string& chosenFolder) override {
    Record(*s_, "BrowseFolder", {std::to_string(ownerWindow), text, initialFolder});
    chosenFolder = s_->browseResult;
  }
  void ExtractArchive(int32_t ownerWindow, std::string archivePath, std::string destination, int16_t mode,
                      std::vector<std::string>& members, int16_t& result) override {
    std::vector<std::string> arguments{std::to_string(ownerWindow), archivePath, destination, std::to_string(mode)};
    arguments.insert(arguments.end(), members.begin(), members.end());
    Record(*s_, "ExtractArchive", arguments);
    result = 0;
    if (s_->extract) s_->extract(archivePath, destination, mode, members, result);
  }
  void ExtractArchiveToRead(int32_t ownerWindow, std::string archivePath, int destinationFd, std::string destination,
                            int16_t mode, std::vector<std::string>& members, int16_t& result,
                            std::vector<rt::UniqueFd>& files) override {
    std::vector<std::string> arguments{std::to_string(ownerWindow), archivePath, destination, std::to_string(mode)};
    arguments.insert(arguments.end(), members.begin(), members.end());
    Record(*s_, "ExtractArchiveToRead", arguments);
    result = 0;
    if (s_->extractToRead) s_->extractToRead(archivePath, destinationFd, mode, members, result, files);
  }

 private:
  std::shared_ptr<FakeSuiteState> s_;
};

class FakeGate : public suite::StartGate {
 public:
  explicit FakeGate(std::shared_ptr<FakeSuiteState> s) : s_(std::move(s)) {}
  void Check(int32_t& answer) override {
    Record(*s_, "Check", {});
    answer = s_->gateAnswer;
  }

 private:
  std::shared_ptr<FakeSuiteState> s_;
};

class FakeNotice : public suite::ProgressNotice {
 public:
  explicit FakeNotice(std::shared_ptr<FakeSuiteState> s) : s_(std::move(s)) {}
  ~FakeNotice() override { s_->noticeCalls.push_back("Release"); }
  void SetVisible(int16_t visible) override {
    Record(*s_, "Notice.Visible", {std::to_string(visible)});
    s_->noticeCalls.push_back("Visible:" + std::to_string(visible));
  }
  void SetMessage(std::string message) override {
    Record(*s_, "Notice.Message", {message});
    s_->noticeCalls.push_back("Message:" + message);
  }
  int32_t Refresh() override {
    Record(*s_, "Notice.Refresh", {});
    s_->noticeCalls.push_back("Refresh");
    return 0;
  }

 private:
  std::shared_ptr<FakeSuiteState> s_;
};

}  // namespace

std::vector<std::string> FakeSuiteState::Operations() const {
  std::vector<std::string> names;
  for (const auto& call : calls) names.push_back(call.operation);
  return names;
}

void FakeSuiteState::FailWith(const std::string& operation, int32_t number, const std::string& description) {
  failures.insert_or_assign(operation, rt::RuntimeError(number, description));
}

FakeSuiteScope::FakeSuiteScope() : state_(std::make_shared<FakeSuiteState>()) {
  suite::ComponentFactory factory;
  auto s = state_;
  factory.suiteServices = [s]() -> std::unique_ptr<suite::SuiteServices> {
    if (!TakeInstance(*s)) return nullptr;
    return std::make_unique<FakeServices>(s);
  };
  factory.startGate = [s]() -> std::unique_ptr<suite::StartGate> {
    if (!TakeInstance(*s)) return nullptr;
    return std::make_unique<FakeGate>(s);
  };
  factory.progressNotice = [s]() -> std::unique_ptr<suite::ProgressNotice> {
    if (!TakeInstance(*s)) return nullptr;
    return std::make_unique<FakeNotice>(s);
  };
  previous_ = suite::InstallComponentFactory(std::move(factory));
}

FakeSuiteScope::~FakeSuiteScope() { suite::InstallComponentFactory(std::move(previous_)); }

}  // namespace zr::test
