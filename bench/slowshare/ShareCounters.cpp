#include "ShareCounters.h"

namespace slowshare {
namespace {

void RaiseTo(std::atomic<uint64_t>& high, uint64_t value) {
  uint64_t seen = high.load(std::memory_order_relaxed);
  while (value > seen && !high.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
  }
}

}  // namespace

void ShareCounters::ReadBegun() { RaiseTo(mostInFlight_, inFlight_.fetch_add(1, std::memory_order_relaxed) + 1); }

void ShareCounters::ReadDone(std::size_t bytes) {
  reads_.fetch_add(1, std::memory_order_relaxed);
  bytes_.fetch_add(bytes, std::memory_order_relaxed);
  RaiseTo(largest_, bytes);
  inFlight_.fetch_sub(1, std::memory_order_relaxed);
}

std::string ShareCounters::TakeReport() {
  auto line = [](const char* name, uint64_t value) { return std::string(name) + " " + std::to_string(value) + "\n"; };
  std::string report;
  report += line("reads", reads_.exchange(0));
  report += line("bytes", bytes_.exchange(0));
  report += line("largest_read", largest_.exchange(0));
  report += line("most_in_flight", mostInFlight_.exchange(inFlight_.load()));
  report += line("opens", opens_.exchange(0));
  report += line("lookups", lookups_.exchange(0));
  report += line("listings", listings_.exchange(0));
  return report;
}

}  // namespace slowshare
