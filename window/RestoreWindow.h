#pragma once

#include <cstdint>
#include <string>

namespace zr::window {

// What the presenters of the check and the restore need of the restore window.
class RestoreWindow {
 public:
  virtual ~RestoreWindow() = default;
  // The native handle that owns the suite's dialogs and extractions.
  virtual int32_t hWnd() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  // MStrBkupPath: the folder that holds the chosen archive, with its closing separator.
  virtual std::string BkupPath() const = 0;
};

}  // namespace zr::window
