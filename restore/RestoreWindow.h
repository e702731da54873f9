#pragma once

#include <cstdint>
#include <string>

namespace zr::restore {

// What the version check and the template restore need of the restore window.
class RestoreWindow {
 public:
  virtual ~RestoreWindow() = default;
  // The native handle that owns the suite's dialogs and extractions.
  virtual int32_t hWnd() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  // MStrBkupPath: the folder that holds the chosen archive, with its closing separator.
  virtual std::string BkupPath() const = 0;
};

}  // namespace zr::restore
