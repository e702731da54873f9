// What the share served: counted by the file system's threads, handed over
// (and started afresh) as a few lines of text.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace slowshare {

class ShareCounters {
 public:
  void Opened() { opens_.fetch_add(1, std::memory_order_relaxed); }
  void Looked() { lookups_.fetch_add(1, std::memory_order_relaxed); }
  void Listed() { listings_.fetch_add(1, std::memory_order_relaxed); }

  // A read from the time it reaches the share to the time its data has gone.
  void ReadBegun();
  void ReadDone(std::size_t bytes);

  // "name value" lines of everything counted since the last hand-over, and
  // a fresh start.
  std::string TakeReport();

 private:
  std::atomic<uint64_t> reads_{0};
  std::atomic<uint64_t> bytes_{0};
  std::atomic<uint64_t> largest_{0};
  std::atomic<uint64_t> opens_{0};
  std::atomic<uint64_t> lookups_{0};
  std::atomic<uint64_t> listings_{0};
  std::atomic<uint64_t> inFlight_{0};
  std::atomic<uint64_t> mostInFlight_{0};
};

}  // namespace slowshare
