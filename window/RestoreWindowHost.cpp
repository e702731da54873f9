#include "window/RestoreWindowHost.h"

namespace zr::window {

RestoreWindowHost::RestoreWindowHost() = default;

RestoreWindowHost::~RestoreWindowHost() = default;

void RestoreWindowHost::ShowModeless() {
  if (!window_) window_ = std::make_unique<frmRecov>();
  window_->Show();
  shown_ = true;
}

}  // namespace zr::window
