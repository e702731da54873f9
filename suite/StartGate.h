#pragma once

#include <cstdint>

namespace zr::suite {

// The suite's start-up gate: an answer of exactly 1 forbids opening the window.
class StartGate {
 public:
  virtual ~StartGate() = default;
  virtual void Check(int32_t& answer) = 0;
};

}  // namespace zr::suite
