#pragma once

#include <cstdint>
#include <string>

namespace zr::suite {

// The suite's wait notice, shown while the caller's thread is busy.
class ProgressNotice {
 public:
  virtual ~ProgressNotice() = default;
  virtual void SetVisible(int16_t visible) = 0;
  virtual void SetMessage(std::string message) = 0;
  virtual int32_t Refresh() = 0;
};

}  // namespace zr::suite
