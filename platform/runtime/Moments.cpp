#include "platform/runtime/Moments.h"

#include <atomic>

namespace zr::rt {
namespace {

std::atomic<MomentListener> listening{nullptr};

}  // namespace

MomentListener InstallMomentListener(MomentListener listener) { return listening.exchange(listener); }

void Moment(const char* moment) {
  if (const MomentListener listener = listening.load(std::memory_order_acquire)) listener(moment);
}

}  // namespace zr::rt
