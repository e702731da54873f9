#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/runtime/RuntimeError.h"

namespace zr::test {

// The number of the run-time error `action` throws (and its description,
// when asked for); 0 when it throws none.
inline int32_t ErrorOf(const std::function<void()>& action, std::string* description = nullptr) {
  try {
    action();
  } catch (const rt::RuntimeError& e) {
    if (description) *description = e.description();
    return e.number();
  }
  return 0;
}

}  // namespace zr::test
