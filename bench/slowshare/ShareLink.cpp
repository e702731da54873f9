#include "ShareLink.h"

#include <algorithm>

namespace slowshare {

ShareLink::ShareLink(std::chrono::nanoseconds roundTrip, double bytesPerSecond)
    : roundTrip_(roundTrip), bytesPerSecond_(bytesPerSecond) {}

ShareLink::Clock::time_point ShareLink::Deliver(Clock::time_point arrival, std::size_t bytes) {
  const auto streaming = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(bytes) / bytesPerSecond_));
  std::lock_guard lock(mutex_);
  const Clock::time_point start = std::max(arrival + roundTrip_, pipeFree_);
  pipeFree_ = start + streaming;
  return pipeFree_;
}

}  // namespace slowshare
