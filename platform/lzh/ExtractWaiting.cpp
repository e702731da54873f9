// The extraction on a worker thread, while the calling thread waits and keeps its window painting.
#include <atomic>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/lzh/Extract.h"
#include "platform/replace/Journal.h"
#include "platform/runtime/Interaction.h"

namespace zr::lzh {
namespace {

// Runs `extract` on a worker and returns what it returned.
template <typename Result, typename Extract>
Result Waiting(Extract extract) {
  struct Shared {
    std::atomic<bool> done{false};
    Result result{};
    std::exception_ptr error;
  };
  auto shared = std::make_shared<Shared>();
  // The journal entry the caller's replacement commits goes along; the
  // caller waits here, so it outlives the worker.
  replace::JournalScope* scope = replace::JournalScope::Current();
  std::thread worker;
  try {
    worker = std::thread([shared, &extract, scope] {
      std::optional<replace::JournalScope> inherited;
      if (scope != nullptr) inherited.emplace(scope->journal(), scope->token());
      try {
        shared->result = extract();
      } catch (...) {
        shared->error = std::current_exception();
      }
      shared->done.store(true, std::memory_order_release);
      rt::WakeWaiting();
    });
  } catch (const std::system_error&) {
    // No thread to be had on a machine at its limits: the extraction runs
    // here, and the window waits without painting rather than failing.
    return extract();
  }
  try {
    rt::WaitUntil([shared] { return shared->done.load(std::memory_order_acquire); });
  } catch (...) {
    worker.join();
    throw;
  }
  worker.join();
  if (shared->error) std::rethrow_exception(shared->error);
  return std::move(shared->result);
}

}  // namespace

int ExtractMembersWaiting(const std::string& archivePath, const std::string& destination, Mode mode,
                          const std::vector<std::string>& members, const ExtractOptions& options) {
  return Waiting<int>([archivePath, destination, mode, members, options] {
    return ExtractMembers(archivePath, destination, mode, members, options);
  });
}

ExtractedFiles ExtractMembersForReadingWaiting(const std::string& archivePath, int destinationFd,
                                               const std::string& destination, Mode mode,
                                               const std::vector<std::string>& members, const ExtractOptions& options) {
  return Waiting<ExtractedFiles>([archivePath, destinationFd, destination, mode, members, options] {
    return ExtractMembersForReading(archivePath, destinationFd, destination, mode, members, options);
  });
}

}  // namespace zr::lzh
