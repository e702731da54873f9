#pragma once

// Extractions somebody waits on, and work begun ahead that gives way to them.
#include <atomic>

namespace zr::lzh {

// Held while an extraction that a caller waits on decodes (the version
// check's copy): work begun ahead keeps to one core meanwhile.
class ForegroundWork {
 public:
  ForegroundWork();
  ~ForegroundWork();
  ForegroundWork(const ForegroundWork&) = delete;
  ForegroundWork& operator=(const ForegroundWork&) = delete;
};

// Returns once no foreground extraction decodes, or when `stop` is set.
void WaitForForeground(const std::atomic<bool>& stop);

}  // namespace zr::lzh
