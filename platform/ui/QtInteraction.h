#pragma once

namespace zr::ui {

// Installs the Qt forms of the runtime's interaction hooks: message boxes,
// the mouse pointer, one pass over pending events, and a wait that keeps
// painting and timers alive but lets no user input through.
void InstallQtInteraction();

}  // namespace zr::ui
