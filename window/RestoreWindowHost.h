#pragma once

#include <memory>

#include "startup/modZrBunsyoRes.h"
#include "window/frmRecov.h"

namespace zr::window {

// Holds the program's one restore window: created on first use, shown
// modeless and without an owner.
class RestoreWindowHost : public startup::RestoreWindowProvider {
 public:
  RestoreWindowHost();
  ~RestoreWindowHost() override;

  void ShowModeless() override;

  // True once the window has been shown.
  bool WasShown() const { return shown_; }

  // The window, or nullptr before its first use.
  frmRecov* Window() const { return window_.get(); }

 private:
  std::unique_ptr<frmRecov> window_;
  bool shown_ = false;
};

}  // namespace zr::window
