// The extraction on a worker thread, while the calling thread waits and keeps its window painting.
#include <atomic>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/lzh/Extract.h"
#include "platform/replace/Journal.h"
#include "platform/runtime/Interaction.h"

namespace zr::lzh {

int ExtractMembersWaiting(const std::string& archivePath, const std::string& destination, Mode mode,
                          const std::vector<std::string>& members, const ExtractOptions& options) {
  struct Shared {
    std::atomic<bool> done{false};
    int result = 0;
    std::exception_ptr error;
  };
  auto shared = std::make_shared<Shared>();
  // The journal entry the caller's replacement commits goes along; the
  // caller waits here, so it outlives the worker.
  replace::JournalScope* scope = replace::JournalScope::Current();
  std::thread worker;
  try {
    worker = std::thread([shared, archivePath, destination, mode, members, options, scope] {
      std::optional<replace::JournalScope> inherited;
      if (scope != nullptr) inherited.emplace(scope->journal(), scope->token());
      try {
        shared->result = ExtractMembers(archivePath, destination, mode, members, options);
      } catch (...) {
        shared->error = std::current_exception();
      }
      shared->done.store(true, std::memory_order_release);
      rt::WakeWaiting();
    });
  } catch (const std::system_error&) {
    // No thread to be had on a machine at its limits: the extraction runs
    // here, and the window waits without painting rather than failing.
    return ExtractMembers(archivePath, destination, mode, members, options);
  }
  try {
    rt::WaitUntil([shared] { return shared->done.load(std::memory_order_acquire); });
  } catch (...) {
    worker.join();
    throw;
  }
  worker.join();
  if (shared->error) std::rethrow_exception(shared->error);
  return shared->result;
}

}  // namespace zr::lzh
