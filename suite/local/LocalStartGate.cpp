#include "suite/local/LocalStartGate.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>

#include "platform/runtime/Interaction.h"
#include "platform/runtime/RuntimeError.h"
#include "suite/SuiteName.h"
#include "suite/local/DataFolderRecovery.h"
#include "suite/local/RunLocks.h"
#include "suite/local/SuiteHome.h"

namespace zr::suite {
namespace {

std::vector<std::string> RunningOtherPrograms() {
  const std::filesystem::path runFolder = SuiteHome() / "run";
  std::vector<std::string> running;
  std::error_code ec;
  std::filesystem::directory_iterator it(runFolder, ec);
  if (ec) {
    // No program has ever registered in this suite home.
    if (ec == std::errc::no_such_file_or_directory) return running;
    throw rt::ErrorFromErrno(ec.value(), runFolder.string());
  }
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::filesystem::path lockFile = it->path();
    const auto programId = ProgramIdFromRunLockFileName(lockFile.filename().string());
    if (!programId) continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    if (IsOwnRunLock(lockFile)) continue;
    if (IsRunLockHeld(lockFile)) running.push_back(*programId);
  }
  if (ec) throw rt::ErrorFromErrno(ec.value(), runFolder.string());
  std::sort(running.begin(), running.end());
  return running;
}

std::string RunningMessage(const std::vector<std::string>& programs) {
  std::string names;
  for (const auto& program : programs) {
    if (!names.empty()) names += "、";
    names += "「" + program + "」";
  }
  return names + "が実行中のため、雛形復旧ツールを起動できません。\r\n" +
         "実行中のプログラムを終了してから、もう一度起動してください。";
}

}  // namespace

void LocalStartGate::Check(int32_t& answer) {
  const auto running = RunningOtherPrograms();
  if (running.empty()) {
    answer = 0;
    RecoverDataFolder();
    return;
  }
  rt::MsgBox(RunningMessage(running), rt::mb::Exclamation | rt::mb::OkOnly, kSuiteName);
  answer = 1;
}

}  // namespace zr::suite
