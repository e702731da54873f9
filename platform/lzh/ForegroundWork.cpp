// Extractions somebody waits on, and work begun ahead that gives way to them.
#include "platform/lzh/ForegroundWork.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zr::lzh {
namespace {

std::mutex mutex;
std::condition_variable ended;
int running = 0;

}  // namespace

ForegroundWork::ForegroundWork() {
  std::lock_guard lock(mutex);
  ++running;
}

ForegroundWork::~ForegroundWork() {
  {
    std::lock_guard lock(mutex);
    --running;
  }
  ended.notify_all();
}

void WaitForForeground(const std::atomic<bool>& stop) {
  std::unique_lock lock(mutex);
  // A cancel does not notify; it is seen at the next look.
  while (running > 0 && !stop.load(std::memory_order_relaxed)) ended.wait_for(lock, std::chrono::milliseconds(10));
}

}  // namespace zr::lzh
