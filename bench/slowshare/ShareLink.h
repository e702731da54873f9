// The link between the share and its client: each read waits one round trip
// before its data starts, and the data of all reads goes through one pipe of
// a fixed rate, so concurrent reads overlap their round trips and share the
// bandwidth.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>

namespace slowshare {

class ShareLink {
 public:
  using Clock = std::chrono::steady_clock;

  ShareLink(std::chrono::nanoseconds roundTrip, double bytesPerSecond);

  // When a read that arrived at `arrival` and carries `bytes` has its last
  // byte at the client: its data starts after the round trip, or when the
  // pipe is done with the data before it, whichever is later.
  Clock::time_point Deliver(Clock::time_point arrival, std::size_t bytes);

 private:
  std::chrono::nanoseconds roundTrip_;
  double bytesPerSecond_;
  std::mutex mutex_;
  Clock::time_point pipeFree_{};
};

}  // namespace slowshare
